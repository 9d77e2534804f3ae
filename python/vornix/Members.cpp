// vornix.CVornix: the C++ members one for one, in place on numpy arrays. Every
// count is checked against the arrays before the call, so that nothing is read
// or written outside them; within that, each member does what the C++ does.
#include <memory>

#include "VornixPy.h"

namespace vornixpy {

namespace {

using Doubles = py::array_t<double>;
using Read = py::array_t<double, py::array::c_style | py::array::forcecast>;

// Values a transform of n touches: the largest power of two not above
// min(n, 65536); none for n < 1.
py::ssize_t FftPoints(int n) {
    if (n < 1) return 0;
    py::ssize_t points = 1;
    while (points < kMaxPoints && 2 * points <= n) points *= 2;
    return points;
}

py::ssize_t AtLeast0(long long n) { return n > 0 ? static_cast<py::ssize_t>(n) : 0; }

// An array a member writes into, with its count: n as given, or the array's
// length for None; the array must hold need(n) values.
struct Written {
    Doubles a;
    int n;
};
template <typename NeedFn>
Written InPlaceCounted(const py::handle& obj, const char* name, const py::handle& n, NeedFn need) {
    if (n.is_none()) {
        Doubles a = kitpy::InPlace(obj, name);
        return {a, CountOr(n, "n", a.size())};
    }
    const int count = Count(n, "n");
    return {kitpy::InPlace(obj, name, need(count)), count};
}

// An array a member only reads, holding at least `need` values.
Read ReadOnly(const py::handle& obj, const char* name, py::ssize_t need) {
    Read a = kitpy::Input(obj, name);
    Need(a, name, need);
    return a;
}

// A member of the form f(x, n) on one array in place, n counting its values.
template <typename Result>
Result OneArray(Result (CVornix::*member)(double*, int), Engine& self, const py::handle& x, const py::handle& n) {
    Written w = InPlaceCounted(x, "x", n, AtLeast0);
    double* p = w.a.mutable_data();
    py::gil_scoped_release unlocked;
    return (self.*member)(p, w.n);
}

// A member on re and im in place, both holding need(n) values, run on the
// object's work areas in turn: call(re, im, n).
template <typename NeedFn, typename Call>
void OnPair(Engine& self, const py::handle& re, const py::handle& im, const py::handle& n, NeedFn need, Call call) {
    Written r = InPlaceCounted(re, "re", n, need);
    Doubles i = kitpy::InPlace(im, "im", need(r.n));
    double* rp = r.a.mutable_data();
    double* ip = i.mutable_data();
    py::gil_scoped_release unlocked;
    std::lock_guard<std::mutex> lock(self.busy);
    call(rp, ip, r.n);
}

// Fft or Ifft: both arrays hold the values the transform touches.
void Transform(Engine& self, const py::handle& re, const py::handle& im, const py::handle& n, bool forward) {
    OnPair(self, re, im, n, FftPoints, [&](double* r, double* i, int count) { self.Fft(r, i, count, forward); });
}

// CalcHilbertPower or CalcHilbertSpectrum: reads n - 1 values of re and im,
// writes n values of `out`.
void Evaluate(void (CVornix::*member)(double*, double*, int, double*), Engine& self, const py::handle& re,
              const py::handle& im, const py::handle& n, const py::handle& out, const char* out_name) {
    Read r = kitpy::Input(re, "re");
    const int count = CountOr(n, "n", r.size());
    Need(r, "re", AtLeast0(count - 1LL));
    Read i = ReadOnly(im, "im", AtLeast0(count - 1LL));
    Doubles o = kitpy::InPlace(out, out_name, AtLeast0(count));
    // The C++ takes non-const pointers but only reads re and im.
    double* rp = const_cast<double*>(r.data());
    double* ip = const_cast<double*>(i.data());
    double* op = o.mutable_data();
    py::gil_scoped_release unlocked;
    (self.*member)(rp, ip, count, op);
}

struct WindowMember {
    const char* name;
    void (CVornix::*member)(double*, int);
    const char* doc;
};

const WindowMember kWindows[] = {
    {"Hamming", &CVornix::Hamming, R"(Hamming(x, n=None) -> None

Multiplies the first n values of x by the periodic Hamming window,
0.54 - 0.46 cos(2 pi i / n) (scipy.signal.get_window('hamming', n,
fftbins=True), but 0.08 for n = 1 where scipy gives 1). n < 1 does nothing.
Returns None.)"},
    {"Ham", &CVornix::Ham, "Ham(x, n=None) -> None\n\nThe same operation as Hamming."},
    {"Hanning", &CVornix::Hanning, R"(Hanning(x, n=None) -> None

Multiplies the first n values of x by the periodic Hann window,
0.5 - 0.5 cos(2 pi i / n) (scipy.signal.get_window('hann', n, fftbins=True),
but 0 for n = 1 where scipy gives 1). n < 1 does nothing. Returns None.)"},
    {"Han", &CVornix::Han, "Han(x, n=None) -> None\n\nThe same operation as Hanning."},
};

const char* const kClassDoc = R"(A processing object: the work areas of a radix-4 FFT engine (about 1.3 MB)
and a dB limit, with the C++ members of the same names.

Every member works in place on writeable, C-contiguous, 1-D numpy arrays of
float64, with the C++'s argument order and results. Counts (n, taps) are
signed 32-bit ints; where n counts an array's values it may be None (at the
end it may be left out), meaning the length of the first array. Arrays are
checked before the call so that nothing is read or written outside them:
TypeError for what is not a float64 ndarray, ValueError for another shape, a
strided view, a read-only array or one too short for the count. Arrays a member
only reads (im of CalcSpectrum; re, im of CalcHilbertPower and
CalcHilbertSpectrum) may be anything numpy turns into a 1-D float64 array.

The GIL is released while a member runs. One object may be shared between
threads: the members that use the engine (Fft, Ifft, FirFilter, Hilbert) take
turns on it; separate objects run at once.

CVornix(other) and copy.copy()/copy.deepcopy() make an object with areas of
its own and other's dB limit.)";

}  // namespace

void BindMembers(py::module_& m) {
    py::enum_<filter_type>(m, "filter_type", py::arithmetic(),
                           "Filter kind of the FIR design (an int, as in C++). Any other int designs a\n"
                           "low-pass filter whose cut-off is f2.")
        .value("low_pass", low_pass, "f1 is the cut-off; f2 is not used")
        .value("high_pass", high_pass, "f1 is the cut-off; f2 is not used")
        .value("band_pass", band_pass, "f1 and f2 are the lower and upper band edges")
        .value("band_stop", band_stop, "f1 and f2 are the lower and upper band edges")
        .export_values();

    py::class_<Engine> cls(m, "CVornix", kClassDoc);
    cls.def(py::init<>(), "CVornix()\n\nA new object: no transform tables built yet, a dB limit of -80.")
        .def(py::init<const Engine&>(), py::arg("other"),
             "CVornix(other)\n\nA copy of other: work areas of its own (tables rebuilt on first use) and other's dB "
             "limit.")
        .def("__copy__", [](const Engine& self) { return std::make_unique<Engine>(self); })
        .def(
            "__deepcopy__", [](const Engine& self, const py::handle&) { return std::make_unique<Engine>(self); },
            py::arg("memo"))
        .def(
            "Fft",
            [](Engine& self, const py::handle& re, const py::handle& im, const py::handle& n, bool forward) {
                Transform(self, re, im, n, forward);
            },
            py::arg("re"), py::arg("im"), py::arg("n") = py::none(), py::arg("forward") = true,
            R"(Fft(re, im, n=None, forward=True) -> None

In-place discrete Fourier transform of re + i*im.

Only the first N values take part, N the largest power of two not above
min(n, 65536); values N .. n-1 are untouched, and n < 1 does nothing. Both
arrays must hold N values. forward=True: X[k] = sum x[j] exp(-2 pi i jk/N),
unscaled (as numpy.fft.fft); False: the exp(+...) sum scaled by 1/N (as
numpy.fft.ifft). Returns None.)")
        .def(
            "Ifft",
            [](Engine& self, const py::handle& re, const py::handle& im, const py::handle& n) {
                Transform(self, re, im, n, false);
            },
            py::arg("re"), py::arg("im"), py::arg("n") = py::none(),
            "Ifft(re, im, n=None) -> None\n\nIn-place inverse transform, scaled by 1/N: exactly Fft(re, im, n, False).")
        .def(
            "CalcSpectrum",
            [](Engine& self, const py::handle& re, const py::handle& im, const py::handle& n, bool linear) {
                Written r = InPlaceCounted(re, "re", n, AtLeast0);
                Read i = ReadOnly(im, "im", AtLeast0(r.n));
                double* rp = r.a.mutable_data();
                double* ip = const_cast<double*>(i.data());  // only read
                py::gil_scoped_release unlocked;
                self.CalcSpectrum(rp, ip, r.n, linear);
            },
            py::arg("re"), py::arg("im"), py::arg("n") = py::none(), py::arg("linear") = false,
            R"(CalcSpectrum(re, im, n=None, linear=False) -> None

Power of the first n bins, into re: re[i] = re[i]**2 + im[i]**2, then
10*log10 of it (dB referred to a power of 1.0) unless linear. No window, no
scaling, no floor: a bin of zero power gives -inf dB. im is only read; n < 1
does nothing. Returns None.)")
        .def(
            "SetDbLim", [](Engine& self, const py::handle& limit) { return self.SetDbLim(Count(limit, "limit")); },
            py::arg("limit"),
            R"(SetDbLim(limit) -> int

Stores -abs(limit) as the dB limit (the most negative int as it is) and
returns the previous limit (-80 on a new object). No member applies the limit
to data.)")
        .def(
            "Preemphasis",
            [](Engine& self, const py::handle& x, const py::handle& n, double coef) {
                Written w = InPlaceCounted(x, "x", n, AtLeast0);
                double* p = w.a.mutable_data();
                py::gil_scoped_release unlocked;
                self.Preemphasis(p, w.n, coef);
            },
            py::arg("x"), py::arg("n").none(true), py::arg("coef"),
            R"(Preemphasis(x, n, coef) -> None

First-order pre-emphasis of the first n values (None: all of x), in place:
y[0] = 0, y[i] = x[i] - coef * x[i-1] from the incoming values. n = 0 does
nothing; a negative n raises MemoryError, as the C++ throws std::bad_alloc for
it. Returns None.)")
        .def(
            "Normalize",
            [](Engine& self, const py::handle& x, const py::handle& n) {
                return OneArray(&CVornix::Normalize, self, x, n);
            },
            py::arg("x"), py::arg("n") = py::none(),
            R"(Normalize(x, n=None) -> float

Maps the first n values of x into 0 .. 1 and returns the divisor used: with
a value below 0, (x - min) / (max - min), returning max - min; otherwise
x / max, returning max. With a divisor of 0 (all values equal and not above 0)
or n < 1, x is unchanged and 0.0 is returned.)")
        .def(
            "GetFirCoef",
            [](Engine& self, const py::handle& h, const py::handle& taps, double f1, double f2, double fs, double att,
               const py::handle& type) {
                const int t = Count(taps, "taps");
                const filter_type kind = FilterType(type);
                Doubles a = kitpy::InPlace(h, "h", t < 0 ? 0 : 2 * static_cast<py::ssize_t>(t / 2) + 1);
                double* p = a.mutable_data();
                py::gil_scoped_release unlocked;
                self.GetFirCoef(p, t, f1, f2, fs, att, kind);
            },
            py::arg("h"), py::arg("taps"), py::arg("f1"), py::arg("f2"), py::arg("fs"), py::arg("att"), py::arg("type"),
            R"(GetFirCoef(h, taps, f1, f2, fs, att, type) -> None

Kaiser-windowed FIR design into h: 2*(taps//2) + 1 coefficients (taps + 1
for even taps), symmetric about index taps//2; nothing for taps < 0. f1, f2
and fs share one unit (Hz); att is the stop-band attenuation in dB (beta =
0 at 21 dB or less). The low-pass prototype is scaled to unit gain at 0 Hz.
type: a filter_type or any int (see filter_type for f1, f2). h must hold
2*(taps//2) + 1 values. Returns None.)")
        .def(
            "FirFilter",
            [](Engine& self, const py::handle& x, const py::handle& n, const py::handle& taps, double f1, double f2,
               double fs, double att, const py::handle& type) {
                const int t = Count(taps, "taps");
                const filter_type kind = FilterType(type);
                Written w = InPlaceCounted(x, "x", n, [t](int c) { return t < 0 ? 0 : AtLeast0(c); });
                double* p = w.a.mutable_data();
                py::gil_scoped_release unlocked;
                std::lock_guard<std::mutex> lock(self.busy);
                self.FirFilter(p, w.n, t, f1, f2, fs, att, kind);
            },
            py::arg("x"), py::arg("n").none(true), py::arg("taps"), py::arg("f1"), py::arg("f2"), py::arg("fs"),
            py::arg("att"), py::arg("type"),
            R"(FirFilter(x, n, taps, f1, f2, fs, att, type) -> None

Designs as GetFirCoef and filters the first n values of x (None: all) in
place with the first `taps` coefficients: y[i] = sum_k h[k] x[i-k], x = 0
before index 0, output delayed by taps//2 and its tail dropped. For n a power
of two up to 32768 and n + 2 <= taps <= 2n the convolution is circular over
2n values (the tail wraps onto the first outputs), as in C++; otherwise it is
scipy.signal.lfilter(h[:taps], 1, x). n < 1 or taps < 0 does nothing.
Returns None.)")
        .def(
            "Hilbert",
            [](Engine& self, const py::handle& re, const py::handle& im, const py::handle& n) {
                OnPair(self, re, im, n, AtLeast0, [&](double* r, double* i, int count) { self.Hilbert(r, i, count); });
            },
            py::arg("re"), py::arg("im"), py::arg("n") = py::none(),
            R"(Hilbert(re, im, n=None) -> None

Analytic signal of re, in place: re keeps the signal without its component
at half the sampling rate, im receives its Hilbert transform (what im held is
ignored). n is meant to be a power of two up to 65536; for other n the result
has no defined meaning. n < 1 does nothing. Returns None.)")
        .def(
            "CalcHilbertPower",
            [](Engine& self, const py::handle& re, const py::handle& im, const py::handle& n, const py::handle& power) {
                Evaluate(&CVornix::CalcHilbertPower, self, re, im, n, power, "power");
            },
            py::arg("re"), py::arg("im"), py::arg("n").none(true), py::arg("power"),
            R"(CalcHilbertPower(re, im, n, power) -> None

Squared envelope of an analytic signal: power[i] = re[i]**2 + im[i]**2 for
i < n - 1, and power[n-1] = 0. re and im are read (n - 1 values); power may
be re or im itself. n < 1 writes nothing. Returns None.)")
        .def(
            "CalcHilbertSpectrum",
            [](Engine& self, const py::handle& re, const py::handle& im, const py::handle& n,
               const py::handle& dphase) {
                Evaluate(&CVornix::CalcHilbertSpectrum, self, re, im, n, dphase, "dphase");
            },
            py::arg("re"), py::arg("im"), py::arg("n").none(true), py::arg("dphase"),
            R"(CalcHilbertSpectrum(re, im, n, dphase) -> None

Phase advance of an analytic signal from sample i to i + 1, in radians per
sample wrapped into [-pi, pi), for i < n - 1; dphase[n-1] = 0. re and im are
read (n - 1 values); dphase may be re or im itself. n < 1 writes nothing.
Returns None.)");

    for (const WindowMember& w : kWindows) {
        auto member = w.member;
        cls.def(
            w.name, [member](Engine& self, const py::handle& x, const py::handle& n) { OneArray(member, self, x, n); },
            py::arg("x"), py::arg("n") = py::none(), w.doc);
    }
}

}  // namespace vornixpy
