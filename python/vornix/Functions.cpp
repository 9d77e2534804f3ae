// The functions beside CVornix, for numpy users: array-likes in, new arrays
// out, ValueError/TypeError for what they cannot take. Each runs on the
// calling thread's own processing object, with the GIL released.
#include <climits>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "VornixPy.h"

namespace vornixpy {

namespace {

using Complex = py::array_t<std::complex<double>>;
using Doubles = py::array_t<double>;

enum class Window { kNone, kHann, kHamming };

Window WindowKind(const py::handle& w) {
    if (w.is_none()) return Window::kNone;
    if (!py::isinstance<py::str>(w))
        throw py::type_error("window must be 'hann', 'hamming' or None, not " + kitpy::TypeName(w));
    const std::string name = w.cast<std::string>();
    if (name == "hann" || name == "hanning") return Window::kHann;
    if (name == "hamming") return Window::kHamming;
    throw py::value_error("window must be 'hann', 'hamming' or None, not '" + name + "'");
}

double Number(const py::handle& obj, const char* name) {
    const double value = PyFloat_AsDouble(obj.ptr());
    if (value == -1.0 && PyErr_Occurred()) {
        PyErr_Clear();
        throw py::type_error(std::string(name) + " must be a number, not " + kitpy::TypeName(obj));
    }
    return value;
}

// The design arguments the functions check before the C++ takes them.
int Taps(const py::handle& taps) {
    const int t = Count(taps, "taps");
    if (t < 0) throw py::value_error("taps must be 0 or more, not " + std::to_string(t));
    return t;
}

void CheckRate(double fs) {
    if (!(fs > 0) || std::isinf(fs))
        throw py::value_error("fs must be a sampling rate above 0, not " + std::string(py::str(py::float_(fs))));
}

// The signal's n values into the split work area: re, and im (0 for real).
void Split(const Signal& s, int n, double* re, double* im) {
    if (s.complex) {
        for (int k = 0; k < n; k++) {
            re[k] = s.values[2 * k];
            im[k] = s.values[2 * k + 1];
        }
    } else {
        std::memcpy(re, s.values, static_cast<size_t>(n) * sizeof(double));
        std::memset(im, 0, static_cast<size_t>(n) * sizeof(double));
    }
}

// fft and ifft: one pass from the numpy layout into the engine's split
// arrays, the transform, one pass back into a new complex array.
Complex Fourier(const py::handle& x, bool forward) {
    const Signal s = ReadSignal(x, "x", true);
    const int n = TransformLength(s, forward ? "fft" : "ifft");
    Complex out(n);
    double* o = reinterpret_cast<double*>(out.mutable_data());
    double* re = ThreadScratch(n);
    double* im = re + n;
    {
        py::gil_scoped_release unlocked;
        Split(s, n, re, im);
        ThreadEngine().Fft(re, im, n, forward);
        for (int k = 0; k < n; k++) {
            o[2 * k] = re[k];
            o[2 * k + 1] = im[k];
        }
    }
    return out;
}

Doubles Spectrum(const py::handle& x, const py::handle& window, bool linear, const py::handle& db_limit) {
    const Signal s = ReadSignal(x, "x", true);
    const int n = TransformLength(s, "spectrum");
    const Window kind = WindowKind(window);
    const bool floored = !db_limit.is_none();
    const double limit = floored ? Number(db_limit, "db_limit") : 0;
    if (floored && linear) throw py::value_error("db_limit is a floor in dB; with linear=True leave it None");
    if (floored && std::isnan(limit)) throw py::value_error("db_limit must be a number of dB, not nan");
    // A real signal's spectrum is symmetric: bins 0 .. n/2 say it all.
    const int bins = s.complex ? n : n / 2 + 1;
    Doubles out(bins);
    double* o = out.mutable_data();
    double* re = ThreadScratch(n);
    double* im = re + n;
    {
        py::gil_scoped_release unlocked;
        CVornix& v = ThreadEngine();
        Split(s, n, re, im);
        if (kind != Window::kNone) {
            auto apply = kind == Window::kHann ? &CVornix::Hanning : &CVornix::Hamming;
            (v.*apply)(re, n);
            if (s.complex) (v.*apply)(im, n);
        }
        v.Fft(re, im, n, true);
        v.CalcSpectrum(re, im, bins, linear);
        std::memcpy(o, re, static_cast<size_t>(bins) * sizeof(double));
        if (floored)
            for (int k = 0; k < bins; k++)
                if (o[k] < limit) o[k] = limit;
    }
    return out;
}

// hilbert and envelope: Hilbert on a copy of x; the analytic signal is x
// itself plus i times the Hilbert transform.
py::array Analytic(const py::handle& x, bool envelope) {
    const Signal s = ReadSignal(x, "x", false);
    const int n = TransformLength(s, envelope ? "envelope" : "hilbert");
    py::array out = envelope ? py::array(Doubles(n)) : py::array(Complex(n));
    double* o = static_cast<double*>(out.mutable_data());
    double* re = ThreadScratch(n);
    double* im = re + n;
    {
        py::gil_scoped_release unlocked;
        std::memcpy(re, s.values, static_cast<size_t>(n) * sizeof(double));
        ThreadEngine().Hilbert(re, im, n);
        const double* v = s.values;
        if (envelope) {
            for (int k = 0; k < n; k++) o[k] = std::sqrt(v[k] * v[k] + im[k] * im[k]);
        } else {
            for (int k = 0; k < n; k++) {
                o[2 * k] = v[k];
                o[2 * k + 1] = im[k];
            }
        }
    }
    return out;
}

Doubles FirCoef(const py::handle& taps, double f1, double f2, double fs, double att, const py::handle& type) {
    const int t = Taps(taps);
    CheckRate(fs);
    const filter_type kind = FilterType(type);
    Doubles h(2 * static_cast<py::ssize_t>(t / 2) + 1);
    double* p = h.mutable_data();
    {
        py::gil_scoped_release unlocked;
        ThreadEngine().GetFirCoef(p, t, f1, f2, fs, att, kind);
    }
    return h;
}

// Each channel is filtered in a work array of its own; a filter longer than
// the signal gets a zero-padded one, so that no tail wraps onto the output.
Doubles FirFilter(const py::handle& x, const py::handle& taps, double f1, double f2, double fs, double att,
                  const py::handle& type) {
    const Signal s = ReadSignal(x, "x", false, true);
    const int t = Taps(taps);
    CheckRate(fs);
    const filter_type kind = FilterType(type);
    const py::ssize_t frames = s.keep.shape(0);
    const py::ssize_t channels = s.keep.ndim() == 2 ? s.keep.shape(1) : 1;
    if (frames > INT_MAX)
        throw py::value_error("x holds " + std::to_string(frames) + " frames; one call takes at most " +
                              std::to_string(INT_MAX));
    const int n = static_cast<int>(frames);
    const int work = t > n + 1 ? t : n;
    Doubles out(std::vector<py::ssize_t>(s.keep.shape(), s.keep.shape() + s.keep.ndim()));
    double* o = out.mutable_data();
    std::vector<double> column(channels == 1 && work == n ? 0 : static_cast<size_t>(work));
    {
        py::gil_scoped_release unlocked;
        CVornix& v = ThreadEngine();
        for (py::ssize_t c = 0; c < channels; c++) {
            double* w = column.empty() ? o : column.data();
            for (int i = 0; i < n; i++) w[i] = s.values[i * channels + c];
            for (int i = n; i < work; i++) w[i] = 0;
            v.FirFilter(w, work, t, f1, f2, fs, att, kind);
            if (w != o)
                for (int i = 0; i < n; i++) o[i * channels + c] = w[i];
        }
    }
    return out;
}

}  // namespace

void BindFunctions(py::module_& m) {
    m.def(
        "fft", [](const py::handle& x) { return Fourier(x, true); }, py::arg("x"),
        R"(fft(x) -> numpy.ndarray[complex128]

Discrete Fourier transform of x, as numpy.fft.fft(x): X[k] = sum x[j]
exp(-2 pi i jk/N), unscaled.

x: 1-D real or complex array-like of N values, N a power of two from 1 to
65536 (ValueError otherwise; TypeError for what is not numbers).
Returns a new complex128 array of N values.)");
    m.def(
        "ifft", [](const py::handle& x) { return Fourier(x, false); }, py::arg("x"),
        R"(ifft(x) -> numpy.ndarray[complex128]

Inverse discrete Fourier transform of x, as numpy.fft.ifft(x): x[j] = (1/N)
sum X[k] exp(+2 pi i jk/N).

x: 1-D real or complex array-like of N values, N a power of two from 1 to
65536 (ValueError otherwise). Returns a new complex128 array of N values.)");
    m.def("spectrum", &Spectrum, py::arg("x"), py::arg("window") = "hann", py::arg("linear") = false,
          py::arg("db_limit") = py::none(),
          R"(spectrum(x, window='hann', linear=False, db_limit=None) -> numpy.ndarray[float64]

Power spectrum of x as CVornix.CalcSpectrum gives it after a window and Fft:
|X[k]|**2 of the windowed, unscaled transform, in dB (10*log10, referred to a
power of 1.0) unless linear.

x: 1-D real or complex array-like of N values, N a power of two from 1 to
65536 (ValueError otherwise). window: 'hann' (or 'hanning'), 'hamming' (the
periodic windows of scipy.signal.get_window(..., fftbins=True), but 0 and 0.08
for N = 1 where scipy gives 1) or None.
db_limit: None (a bin of zero power is -inf dB) or a floor in dB for the
values; decibels only.
Returns a new float64 array: for real x the N//2 + 1 bins 0 .. N/2 (as
numpy.fft.rfft and scipy.signal.periodogram's one-sided spectrum; bin k is at
k * fs / N Hz), for complex x all N bins in numpy.fft.fft's order. Bins are
not doubled nor scaled by N or by the window's power.)");
    m.def(
        "hilbert", [](const py::handle& x) { return Analytic(x, false); }, py::arg("x"),
        R"(hilbert(x) -> numpy.ndarray[complex128]

Analytic signal of real x, as scipy.signal.hilbert(x): x + i H(x), where
H(x) is the Hilbert transform that CVornix.Hilbert computes. (The real part is
x itself; CVornix.Hilbert's real part lacks the component at half the
sampling rate.)

x: 1-D real array-like of N values, N a power of two from 1 to 65536
(ValueError otherwise; TypeError for complex values).
Returns a new complex128 array of N values.)");
    m.def(
        "envelope", [](const py::handle& x) { return Analytic(x, true); }, py::arg("x"),
        R"(envelope(x) -> numpy.ndarray[float64]

Amplitude envelope of real x: abs(hilbert(x)), the magnitude of the analytic
signal at every sample (the square root of CVornix.CalcHilbertPower's values,
but for all N samples).

x: as for hilbert. Returns a new float64 array of N values.)");
    m.def("fir_coef", &FirCoef, py::arg("taps"), py::arg("f1"), py::arg("f2") = 0.0, py::kw_only(), py::arg("fs"),
          py::arg("att"), py::arg("type") = low_pass,
          R"(fir_coef(taps, f1, f2=0.0, *, fs, att, type=low_pass) -> numpy.ndarray[float64]

Kaiser-windowed FIR design, as CVornix.GetFirCoef.

taps: 0 or more (ValueError otherwise). f1, f2: cut-off or band edges in the
unit of fs (see filter_type; f2 is not used by low_pass and high_pass).
fs: the sampling rate, above 0. att: stop-band attenuation in dB (beta =
0.1102 (att - 8.7) above 50 dB, 0 at 21 dB or less). type: a filter_type or
any int.
Returns a new float64 array of 2*(taps//2) + 1 coefficients (taps + 1 for
even taps), symmetric about the centre. For even taps and low_pass or
high_pass this is scipy.signal.firwin(taps + 1, f1, window=('kaiser', beta),
pass_zero=..., fs=fs).)");
    m.def("fir_filter", &FirFilter, py::arg("x"), py::arg("taps"), py::arg("f1"), py::arg("f2") = 0.0, py::kw_only(),
          py::arg("fs"), py::arg("att"), py::arg("type") = low_pass,
          R"(fir_filter(x, taps, f1, f2=0.0, *, fs, att, type=low_pass) -> numpy.ndarray[float64]

FIR filter of x, as CVornix.FirFilter on a copy: the design of fir_coef, of
which the first `taps` coefficients are applied causally, as
scipy.signal.lfilter(fir_coef(...)[:taps], 1, x). The output is delayed by
taps//2 frames and has the length of x (the tail is dropped); a filter
longer than x does not wrap around.

x: real array-like, one channel (frames,) or several (frames, channels),
any number of frames. Other arguments as for fir_coef.
Returns a new float64 array of the shape of x.)");
}

}  // namespace vornixpy
