// Vornix: radix-4 FFT and signal processing on caller-owned arrays of double.
#ifndef VORNIX_CVORNIX_H
#define VORNIX_CVORNIX_H

#define VORNIX_API __attribute__((visibility("default")))

// Filter kind of the FIR design. Any other value designs a low-pass filter
// whose cut-off is f2; the fixed 32-bit type makes every int a valid value.
enum filter_type : int { low_pass = 0, high_pass = 1, band_pass = 2, band_stop = 3 };

// A processing object owns the work areas of its FFT engine (about 1.3 MB,
// obtained zero-filled at construction) and a dB limit. Every member works
// in place on the caller's arrays. One object serves one thread at a time;
// separate objects share nothing.
class VORNIX_API CVornix {
public:
    // Throws std::bad_alloc if an area cannot be obtained.
    CVornix();
    // A copy gets zero-filled areas of its own and the source's dB limit.
    CVornix(const CVornix& other);
    CVornix& operator=(const CVornix& other);
    virtual ~CVornix();

    // In-place DFT of the first N values, N the largest power of two not
    // above min(n, 65536); values N .. n-1 are untouched; n < 1 does nothing.
    // forward: X[k] = sum x[j] e^{-2 pi i jk/N}, unscaled; inverse: e^{+...},
    // scaled by 1/N.
    void Fft(double* re, double* im, int n, bool forward);
    void Ifft(double* re, double* im, int n);
    // re[i] = re[i]^2 + im[i]^2 for all n values, then 10 log10 unless linear.
    void CalcSpectrum(double* re, double* im, int n, bool linear);
    // Stores -|limit|; returns the previous limit (-80 on a new object).
    int SetDbLim(int limit);

    // Periodic windows: x[i] *= 0.54 - 0.46 cos(2 pi i / n) (Hamming) or
    // 0.5 - 0.5 cos(2 pi i / n) (Hann). Ham and Han are the same operations.
    void Hamming(double* x, int n);
    void Ham(double* x, int n);
    void Hanning(double* x, int n);
    void Han(double* x, int n);
    // y[0] = 0, y[i] = x[i] - coef x[i-1]. Throws std::bad_alloc for n < 0.
    void Preemphasis(double* x, int n, double coef);
    // Maps x into 0 .. 1 and returns the divisor used; with a divisor of 0
    // (all values equal and not above 0) or n < 1, x is unchanged and 0 is
    // returned.
    double Normalize(double* x, int n);

    // Kaiser-windowed FIR design: writes 2*(taps/2) + 1 coefficients into h
    // (nothing for taps < 0). The low-pass prototype is scaled to unit gain
    // at 0 Hz unless it sums to 0 (cut-off 0), when it stays all zero.
    void GetFirCoef(double* h, int taps, double f1, double f2, double fs, double att, filter_type type);
    // Designs as GetFirCoef and filters x in place with the first `taps`
    // coefficients: y[i] = sum_k h[k] x[i-k], x = 0 before index 0, output
    // delayed by taps/2. For n a power of two up to 32768 and taps <= 2n the
    // product of two 2n-point spectra is used (for taps > n + 1 the tail wraps
    // onto the first outputs); any other n >= 1, taps >= 0 is filtered
    // block-wise. n < 1 or taps < 0 changes nothing.
    void FirFilter(double* x, int n, int taps, double f1, double f2, double fs, double att, filter_type type);

    // Analytic signal: re keeps the signal without its Nyquist component, im
    // receives the Hilbert transform. n a power of two up to 65536.
    void Hilbert(double* re, double* im, int n);
    // power[i] = re[i]^2 + im[i]^2 for i < n - 1, power[n-1] = 0; n < 1
    // writes nothing.
    void CalcHilbertPower(double* re, double* im, int n, double* power);
    // dphase[i] = phase advance from sample i to i + 1 in [-pi, pi),
    // dphase[n-1] = 0; n < 1 writes nothing.
    void CalcHilbertSpectrum(double* re, double* im, int n, double* dphase);

private:
    friend class CVornixProbe;  // test access to the engine; defined by the tests only

    int Log2(int n);
    double I0(double x, int terms);
    double Factorial(double x);
    void FirFilterBlocks(double* x, int n, int taps, const double* h);

    // FFT engine. n is the data length in doubles; ip is the index area
    // (ip[0] twiddle entries, ip[1] cosine entries, ip[2..] bit-reversal
    // offsets), w the table area (twiddles, then the cosine table at w + ip[0]).
    void cdft(int n, int isgn, double* a, int* ip, double* w);
    void rdft(int n, int isgn, double* a, int* ip, double* w);
    void ddct(int n, int isgn, double* a, int* ip, double* w);
    void ddst(int n, int isgn, double* a, int* ip, double* w);
    void dfct(int n, double* a, double* t, int* ip, double* w);
    void dfst(int n, double* a, double* t, int* ip, double* w);
    void makewt(int nw, int* ip, double* w);
    void makect(int nc, int* ip, double* c);
    void bitrv2(int n, int* ip, double* a);
    void bitrv2conj(int n, int* ip, double* a);
    void cftfsub(int n, double* a, double* w);
    void cftbsub(int n, double* a, double* w);
    void cft1st(int n, double* a, double* w);
    void cftmdl(int n, int l, double* a, double* w);
    void rftfsub(int n, double* a, int nc, double* c);
    void rftbsub(int n, double* a, int nc, double* c);
    void dctsub(int n, double* a, int nc, double* c);
    void dstsub(int n, double* a, int nc, double* c);

    int m_nDbLim;
    int* m_pIp;
    double* m_pW;
    double* m_pBuf;
};

#endif
