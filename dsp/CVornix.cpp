#include <vornix/CVornix.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "CVornixEngine.h"
#include "kernels/Kernels.h"
#include "platform/ZeroAlloc.h"

using vornix::kBufDoubles;
using vornix::kIpInts;
using vornix::kNMax;
using vornix::kWDoubles;

namespace {

constexpr double kPi = 3.14159265358979323846;

// Owns one zero-filled area until released into the object.
template <typename T>
struct Area {
    explicit Area(std::size_t count) : p(static_cast<T*>(vornix::ZeroAlloc(count * sizeof(T)))) {}
    ~Area() { vornix::ZeroFree(p); }
    T* release() {
        T* r = p;
        p = nullptr;
        return r;
    }
    T* p;
};

std::unique_ptr<double[]> Doubles(std::size_t count) { return std::unique_ptr<double[]>(new double[count]); }

}  // namespace

CVornix::CVornix() : m_nDbLim(-80), m_pIp(nullptr), m_pW(nullptr), m_pBuf(nullptr) {
    // Obtained in the order interleaving, index, table area; if one fails the
    // ones already held are released and std::bad_alloc reaches the caller.
    Area<double> buf(kBufDoubles);
    Area<int> ip(kIpInts);
    Area<double> w(kWDoubles);
    m_pBuf = buf.release();
    m_pIp = ip.release();
    m_pW = w.release();
    m_pIp[0] = 0;
}

CVornix::CVornix(const CVornix& other) : CVornix() { m_nDbLim = other.m_nDbLim; }

CVornix& CVornix::operator=(const CVornix& other) {
    if (this != &other) {
        // The target keeps its own areas, cleared as on a new object.
        std::memset(m_pBuf, 0, kBufDoubles * sizeof(double));
        std::memset(m_pIp, 0, kIpInts * sizeof(int));
        std::memset(m_pW, 0, kWDoubles * sizeof(double));
        m_nDbLim = other.m_nDbLim;
    }
    return *this;
}

CVornix::~CVornix() {
    vornix::ZeroFree(m_pBuf);
    vornix::ZeroFree(m_pIp);
    vornix::ZeroFree(m_pW);
}

int CVornix::Log2(int n) {
    if (n < 1) return -1;
    int p = 0;
    while (n > 1) {
        n >>= 1;
        p++;
    }
    return p;
}

void CVornix::Fft(double* re, double* im, int n, bool forward) {
    const int p = Log2(n <= kNMax ? n : kNMax);
    if (p < 0) return;
    const int N = 1 << p;
    const vornix::Kernels& k = vornix::ActiveKernels();
    double* b = m_pBuf;
    if (N >= 4) {
        // cdft(2N, -1 or +1, b, ...) with the copy into b and its bit reversal
        // done in one pass: the same values, one sweep over the data fewer.
        if (2 * N > (m_pIp[0] << 2)) makewt(N / 2, m_pIp, m_pW);
        k.gather(2 * N, m_pIp + 2, re, im, b, forward);
        k.passes[forward](2 * N, b, m_pW);
    } else {
        for (int i = 0; i < N; i++) {
            b[2 * i] = re[i];
            b[2 * i + 1] = im[i];
        }
        cdft(2 * N, forward ? -1 : 1, b, m_pIp, m_pW);
    }
    k.scatter(N, b, forward ? 1.0 : 1.0 / N, re, im);  // the inverse's 1/N on the way out
}

void CVornix::Ifft(double* re, double* im, int n) { Fft(re, im, n, false); }

void CVornix::CalcSpectrum(double* re, double* im, int n, bool linear) {
    if (n < 1) return;
    const vornix::Kernels& k = vornix::ActiveKernels();
    k.power(re, im, n);
    if (!linear) k.decibels(re, n);
}

int CVornix::SetDbLim(int limit) {
    const int previous = m_nDbLim;
    m_nDbLim = limit > 0 ? -limit : limit;  // the most negative int stays as it is
    return previous;
}

void CVornix::Hamming(double* x, int n) {
    for (int i = 0; i < n; i++) x[i] *= 0.54 - 0.46 * std::cos((i * (2 * kPi)) / n);
}

void CVornix::Ham(double* x, int n) { Hamming(x, n); }

void CVornix::Hanning(double* x, int n) {
    for (int i = 0; i < n; i++) x[i] *= 0.5 - 0.5 * std::cos((i * (2 * kPi)) / n);
}

void CVornix::Han(double* x, int n) { Hanning(x, n); }

void CVornix::Preemphasis(double* x, int n, double coef) {
    if (n < 0) throw std::bad_alloc();
    if (n == 0) return;
    std::vector<double> y(static_cast<std::size_t>(n));
    y[0] = 0;
    for (int i = 1; i < n; i++) y[i] = x[i] - coef * x[i - 1];
    std::memcpy(x, y.data(), static_cast<std::size_t>(n) * sizeof(double));
}

double CVornix::Normalize(double* x, int n) {
    if (n < 1) return 0;
    double mx = x[0], mn = x[0];
    for (int i = 1; i < n; i++) {
        if (x[i] > mx) mx = x[i];
        if (x[i] < mn) mn = x[i];
    }
    if (mn < 0) {
        const double r = mx - mn;
        if (r == 0) return 0;
        for (int i = 0; i < n; i++) x[i] = (x[i] - mn) / r;
        return r;
    }
    if (mx == 0) return 0;
    for (int i = 0; i < n; i++) x[i] = x[i] / mx;
    return mx;
}

double CVornix::Factorial(double x) {
    const int k = static_cast<int>(x);
    if (k < 0) return 0;
    double f = 1;
    for (int i = k; i > 1; i--) f *= i;
    return f;
}

double CVornix::I0(double x, int terms) {
    double sum = 0;
    for (int i = 1; i <= terms; i++) {
        const double t = std::pow(x * 0.5, i) / Factorial(i);
        sum += t * t;
    }
    return sum + 1;
}

void CVornix::GetFirCoef(double* h, int taps, double f1, double f2, double fs, double att, filter_type type) {
    if (taps < 0) return;
    const int M = taps / 2;
    std::vector<double> a(static_cast<std::size_t>(M) + 1);

    double beta = 0;
    if (att > 50)
        beta = 0.1102 * (att - 8.7);
    else if (att > 21)
        beta = 0.5842 * std::pow(att - 21, 0.4) + 0.07886 * (att - 21);

    double fc;
    switch (type) {
        case low_pass:
            fc = f1;
            break;
        case high_pass:
            fc = fs * 0.5 - f1;
            break;
        case band_pass:
        case band_stop:
            fc = (f2 - f1) * 0.5;
            break;
        default:
            fc = f2;
            break;
    }

    a[0] = (fc + fc) / fs;
    const double i0beta = I0(beta, 20);
    for (int k = 1; k <= M; k++) {
        const double r = 2.0 * k / taps;
        const double wk = I0(beta * std::sqrt(1 - r * r), 20) / i0beta;
        a[k] = std::sin(2 * kPi * k * fc / fs) * (1 / (kPi * k)) * wk;
    }

    // Unit gain at 0 Hz. A prototype that sums to 0 (a cut-off of 0) passes
    // nothing and is left as it is rather than turned into NaNs.
    double s = a[0];
    for (int k = 1; k <= M; k++) s += 2 * a[k];
    if (s != 0)
        for (int k = 0; k <= M; k++) a[k] /= s;

    const double w0 = (f1 + f2) * kPi / fs;
    switch (type) {
        case high_pass:
            for (int k = 0; k <= M; k++) a[k] *= std::cos(k * kPi);
            break;
        case band_pass:
            for (int k = 0; k <= M; k++) a[k] *= 2 * std::cos(k * w0);
            break;
        case band_stop:
            a[0] = 1 - 2 * a[0];
            for (int k = 1; k <= M; k++) a[k] *= -2 * std::cos(k * w0);
            break;
        default:
            break;
    }

    for (int i = 0; i < M; i++) h[i] = a[M - i];
    for (int k = 0; k <= M; k++) h[M + k] = a[k];
}

void CVornix::FirFilter(double* x, int n, int taps, double f1, double f2, double fs, double att, filter_type type) {
    if (n < 1 || taps < 0) return;
    const bool pow2 = (n & (n - 1)) == 0;
    if (!pow2 || n > kNMax / 2 || taps > 2 * n) {
        auto h = Doubles(static_cast<std::size_t>(taps) + 1);
        GetFirCoef(h.get(), taps, f1, f2, fs, att, type);
        FirFilterBlocks(x, n, taps, h.get());
        return;
    }

    // One product of two 2n-point spectra. The spectra stay interleaved and
    // the product is formed in place of the signal's spectrum: the same
    // arithmetic as with separate real and imaginary arrays, half the memory.
    const int K = 2 * n;
    auto xs = Doubles(2 * static_cast<std::size_t>(K));
    auto hs = Doubles(2 * static_cast<std::size_t>(K));
    auto h = Doubles(static_cast<std::size_t>(taps) + 1);
    double* X = xs.get();
    double* H = hs.get();

    for (int i = 0; i < n; i++) {
        X[2 * i] = x[i];
        X[2 * i + 1] = 0;
    }
    std::memset(X + 2 * n, 0, 2 * static_cast<std::size_t>(K - n) * sizeof(double));
    cdft(2 * K, -1, X, m_pIp, m_pW);

    GetFirCoef(h.get(), taps, f1, f2, fs, att, type);
    for (int i = 0; i < taps; i++) {
        H[2 * i] = h[i];
        H[2 * i + 1] = 0;
    }
    std::memset(H + 2 * taps, 0, 2 * static_cast<std::size_t>(K - taps) * sizeof(double));
    cdft(2 * K, -1, H, m_pIp, m_pW);

    vornix::ActiveKernels().mulSpectra(K, X, H);
    cdft(2 * K, 1, X, m_pIp, m_pW);
    const double s = 1.0 / K;
    for (int i = 0; i < n; i++) x[i] = X[2 * i] * s;
}

// Causal convolution y[i] = sum_{k < taps} h[k] x[i-k] for any n by
// overlap-add: h is cut into segments of P values and x into blocks of P, each
// product taken through 2P-point spectra with no wrap-around. Two blocks
// travel together as the real and imaginary parts of one transform, which
// works because h is real.
void CVornix::FirFilterBlocks(double* x, int n, int taps, const double* h) {
    const int used = taps < n ? taps : n;  // later coefficients meet no input
    int p2n = 1;
    while (p2n < n && p2n < kNMax / 2) p2n <<= 1;
    int P = 1;
    while (P < used && P < kNMax / 2) P <<= 1;
    if (P < 1024) P = p2n < 1024 ? p2n : 1024;  // short filters: fewer, longer blocks
    const int K = 2 * P;

    auto y = Doubles(static_cast<std::size_t>(n));
    auto hSpectrum = Doubles(2 * static_cast<std::size_t>(K));
    auto buf = Doubles(2 * static_cast<std::size_t>(K));
    double* H = hSpectrum.get();
    double* b = buf.get();
    for (int i = 0; i < n; i++) y[i] = 0;
    const double s = 1.0 / K;
    const long long blocks = (static_cast<long long>(n) + P - 1) / P;

    for (long long seg = 0; seg * P < used; seg++) {
        const long long h0 = seg * P;
        const int len = static_cast<int>(used - h0 < P ? used - h0 : P);
        for (int i = 0; i < len; i++) {
            H[2 * i] = h[h0 + i];
            H[2 * i + 1] = 0;
        }
        for (int i = 2 * len; i < 2 * K; i++) H[i] = 0;
        cdft(2 * K, -1, H, m_pIp, m_pW);

        for (long long blk = 0; blk < blocks && (blk + seg) * P < n; blk += 2) {
            for (int i = 0; i < 2 * K; i++) b[i] = 0;
            for (int part = 0; part < 2; part++) {
                const long long x0 = (blk + part) * P;
                for (long long i = 0; i < P && x0 + i < n; i++) b[2 * i + part] = x[x0 + i];
            }
            cdft(2 * K, -1, b, m_pIp, m_pW);
            vornix::ActiveKernels().mulSpectra(K, b, H);
            cdft(2 * K, 1, b, m_pIp, m_pW);
            for (int part = 0; part < 2; part++) {
                const long long y0 = (blk + part + seg) * P;
                for (long long i = 0; i < K && y0 + i < n; i++) y[y0 + i] += b[2 * i + part] * s;
            }
        }
    }
    std::memcpy(x, y.get(), static_cast<std::size_t>(n) * sizeof(double));
}

void CVornix::Hilbert(double* re, double* im, int n) {
    if (n < 1) return;
    for (int i = 0; i < n; i++) im[i] = 0;
    Fft(re, im, n, true);
    const int half = n / 2;
    for (int k = 1; k < half; k++) {
        re[k] = 2 * re[k];
        im[k] = 2 * im[k];
    }
    for (int k = half; k < n; k++) {
        re[k] = 0;
        im[k] = 0;
    }
    Ifft(re, im, n);
}

void CVornix::CalcHilbertPower(double* re, double* im, int n, double* power) {
    if (n < 1) return;
    for (int i = 0; i < n - 1; i++) power[i] = re[i] * re[i] + im[i] * im[i];
    power[n - 1] = 0;
}

void CVornix::CalcHilbertSpectrum(double* re, double* im, int n, double* dphase) {
    if (n < 1) return;
    for (int i = 0; i < n - 1; i++) {
        double d = std::atan2(im[i + 1], re[i + 1]) - std::atan2(im[i], re[i]);
        while (d <= -kPi) d += 2 * kPi;
        while (d >= kPi) d -= 2 * kPi;
        dphase[i] = d;
    }
    dphase[n - 1] = 0;
}
