// The FFT engine: radix-4 complex transform on interleaved (re, im) data with
// a final radix-2 pass where the length needs it, driven by a twiddle table
// stored in bit-reversed pair order, plus the real, cosine and sine
// transforms built on it.
//
// The butterfly passes and the bit reversal are built once for each
// instruction set and chosen at run time (kernels/); the members here keep the
// package's routines and arguments and hand the loops to the chosen kernels.

#include "CVornixEngine.h"

#include <vornix/CVornix.h>

#include <algorithm>
#include <cmath>

#include "kernels/Kernels.h"

namespace {

// cos and sin of the angle (pi/4) j / nh for the tables, the angle formed in
// extended precision from an extended-precision pi: a double pi/4 (or a
// double step) is off by up to half a unit in its last place, an error that
// grows with j and reaches every transform through its twiddles. Rounded once
// from long double, the entries are the doubles nearest the true values but
// for rare ties.
void CosSin(int j, int nh, double& c, double& s) {
    constexpr long double kQuarterPi = 0.785398163397448309615660845819875721L;
    const long double t = kQuarterPi * j / nh;
    c = static_cast<double>(std::cos(t));
    s = static_cast<double>(std::sin(t));
}

// Perfect unshuffle of n (a power of two) values: evens first, then odds.
void Unshuffle(double* a, int n) {
    if (n <= 2) return;
    const int h = n >> 1, q = h >> 1;
    Unshuffle(a, h);
    Unshuffle(a + h, h);
    std::swap_ranges(a + q, a + h, a + h);
}

// Inverse of Unshuffle.
void Shuffle(double* a, int n) {
    if (n <= 2) return;
    const int h = n >> 1, q = h >> 1;
    std::swap_ranges(a + q, a + h, a + h);
    Shuffle(a, h);
    Shuffle(a + h, h);
}

// Even-indexed values in order, then the odd ones in reverse: the order in
// which a real DFT of n values yields the cosine transform of half-sample
// shifted data.
void ToEvenOddReversed(double* a, int n) {
    Unshuffle(a, n);
    std::reverse(a + n / 2, a + n);
}

void FromEvenOddReversed(double* a, int n) {
    std::reverse(a + n / 2, a + n);
    Shuffle(a, n);
}

// Real DFT layout (a[0] = R0, a[1] = R[n/2], then (R[k], I[k]) pairs) to
// a[k] = R[k] for k <= n/2 and a[n-k] = I[k] for 0 < k < n/2, and back.
void PairsToHalves(double* a, int n) {
    Unshuffle(a, n);
    std::reverse(a + n / 2 + 1, a + n);
}

void HalvesToPairs(double* a, int n) {
    std::reverse(a + n / 2 + 1, a + n);
    Shuffle(a, n);
}

}  // namespace

int vornix::BitReversalOffsets(int n, int* ip) {
    ip[0] = 0;
    int l = n, m = 1;
    while ((m << 3) < l) {
        l >>= 1;
        for (int j = 0; j < m; j++) ip[m + j] = ip[j] + l;
        m <<= 1;
    }
    return m;
}

void CVornix::cdft(int n, int isgn, double* a, int* ip, double* w) {
    if (n > (ip[0] << 2)) makewt(n >> 2, ip, w);
    if (n > 4) {
        if (isgn >= 0) {
            bitrv2(n, ip + 2, a);
            cftfsub(n, a, w);
        } else {
            bitrv2conj(n, ip + 2, a);
            cftbsub(n, a, w);
        }
    } else if (n == 4) {
        cftfsub(n, a, w);
    }
}

void CVornix::makewt(int nw, int* ip, double* w) {
    ip[0] = nw;
    ip[1] = 1;
    if (nw > 2) {
        const int nwh = nw >> 1;
        w[0] = 1;
        w[1] = 0;
        w[nwh] = std::sqrt(0.5);
        w[nwh + 1] = w[nwh];
        if (nwh > 2) {
            for (int j = 2; j < nwh; j += 2) {
                double x, y;
                CosSin(j, nwh, x, y);
                w[j] = x;
                w[j + 1] = y;
                w[nw - j] = y;
                w[nw - j + 1] = x;
            }
            bitrv2(nw, ip + 2, w);
        }
    }
}

void CVornix::makect(int nc, int* ip, double* c) {
    ip[1] = nc;
    if (nc > 1) {
        const int nch = nc >> 1;
        c[0] = std::sqrt(0.5);
        c[nch] = 0.5 * c[0];
        for (int j = 1; j < nch; j++) {
            double x, y;
            CosSin(j, nch, x, y);
            c[j] = 0.5 * x;
            c[nc - j] = 0.5 * y;
        }
    }
}

void CVornix::bitrv2(int n, int* ip, double* a) { vornix::ActiveKernels().bitrv[0](n, ip, a); }

void CVornix::bitrv2conj(int n, int* ip, double* a) { vornix::ActiveKernels().bitrv[1](n, ip, a); }

// Radix-4 passes of growing span (cft1st, then cftmdl), then a last radix-4
// or radix-2 pass with unit twiddles; cftbsub also negates every imaginary
// part of the result. One driver serves both (kernels/Passes.h).
void CVornix::cftfsub(int n, double* a, double* w) { vornix::ActiveKernels().passes[0](n, a, w); }

void CVornix::cftbsub(int n, double* a, double* w) { vornix::ActiveKernels().passes[1](n, a, w); }

// First radix-4 pass: span of one complex value, blocks of four.
void CVornix::cft1st(int n, double* a, double* w) { vornix::ActiveKernels().pass(2, a, w, 0, n); }

void CVornix::cftmdl(int n, int l, double* a, double* w) { vornix::ActiveKernels().pass(l, a, w, 0, n); }

void CVornix::rdft(int n, int isgn, double* a, int* ip, double* w) {
    int nw = ip[0];
    if (n > (nw << 2)) {
        nw = n >> 2;
        makewt(nw, ip, w);
    }
    int nc = ip[1];
    if (n > (nc << 2)) {
        nc = n >> 2;
        makect(nc, ip, w + nw);
    }
    if (isgn >= 0) {
        if (n > 4) {
            bitrv2(n, ip + 2, a);
            cftfsub(n, a, w);
            rftfsub(n, a, nc, w + nw);
        } else if (n == 4) {
            cftfsub(n, a, w);
        }
        const double xi = a[0] - a[1];
        a[0] += a[1];
        a[1] = xi;
    } else {
        a[1] = 0.5 * (a[0] - a[1]);
        a[0] -= a[1];
        if (n > 4) {
            rftbsub(n, a, nc, w + nw);
            bitrv2conj(n, ip + 2, a);
            cftbsub(n, a, w);
        } else if (n == 4) {
            cftfsub(n, a, w);
        }
    }
}

// Cosine transforms from a real DFT of n values: with v the even-indexed
// values followed by the odd ones reversed and V its DFT (positive exponent),
// C[k] = Re(e^{i pi k/2n} V[k]) and C[n-k] = Im(e^{i pi k/2n} V[k]). The
// inverse runs the transposed steps.
void CVornix::ddct(int n, int isgn, double* a, int* ip, double* w) {
    int nw = ip[0];
    if (n > (nw << 2)) {
        nw = n >> 2;
        makewt(nw, ip, w);
    }
    int nc = ip[1];
    if (n > nc) {
        nc = n;
        makect(nc, ip, w + nw);
    }
    if (isgn < 0) {
        ToEvenOddReversed(a, n);
        rdft(n, 1, a, ip, w);
        PairsToHalves(a, n);
        dctsub(n, a, nc, w + nw);
    } else {
        // The transposed rotation is the rotation of the mirrored pairs.
        std::reverse(a + 1, a + n);
        dctsub(n, a, nc, w + nw);
        std::reverse(a + 1, a + n);
        HalvesToPairs(a, n);
        a[0] += a[0];
        a[1] += a[1];
        rdft(n, -1, a, ip, w);
        FromEvenOddReversed(a, n);
    }
}

// Sine transforms: S[n-k] is the cosine transform of the data with every
// odd-indexed value negated, so the same steps serve with the mirrored
// rotation of dstsub.
void CVornix::ddst(int n, int isgn, double* a, int* ip, double* w) {
    int nw = ip[0];
    if (n > (nw << 2)) {
        nw = n >> 2;
        makewt(nw, ip, w);
    }
    int nc = ip[1];
    if (n > nc) {
        nc = n;
        makect(nc, ip, w + nw);
    }
    if (isgn < 0) {
        for (int j = 1; j < n; j += 2) a[j] = -a[j];
        ToEvenOddReversed(a, n);
        rdft(n, 1, a, ip, w);
        PairsToHalves(a, n);
        dstsub(n, a, nc, w + nw);
    } else {
        dstsub(n, a, nc, w + nw);
        HalvesToPairs(a, n);
        a[0] += a[0];
        a[1] += a[1];
        rdft(n, -1, a, ip, w);
        FromEvenOddReversed(a, n);
        for (int j = 1; j < n; j += 2) a[j] = -a[j];
    }
}

// Cosine transform of n + 1 values: the even outputs are the same transform
// of a[j] + a[n-j] at half the length, the odd outputs the inverse cosine
// transform (ddct, isgn >= 0) of a[j] - a[n-j].
void CVornix::dfct(int n, double* a, double* t, int* ip, double* w) {
    if (n <= 2) {
        if (n == 2) {
            const double s = a[0] + a[2], mid = a[1];
            a[1] = a[0] - a[2];
            a[0] = s + mid;
            a[2] = s - mid;
        } else if (n == 1) {
            const double x0 = a[0];
            a[0] = x0 + a[1];
            a[1] = x0 - a[1];
        }
        return;
    }
    const int m = n >> 1;
    for (int j = 0; j < m; j++) {
        t[j] = a[j] + a[n - j];
        a[j] -= a[n - j];
    }
    t[m] = a[m];
    ddct(m, 1, a, ip, w);
    dfct(m, t, a + m, ip, w);
    for (int p = m - 1; p >= 0; p--) {
        a[2 * p + 1] = a[p];
        a[2 * p] = t[p];
    }
    a[n] = t[m];
}

// Sine transform of n values: the even outputs are the same transform of
// a[j] - a[n-j] at half the length, the odd outputs the inverse sine
// transform (ddst, isgn >= 0) of a[j] + a[n-j].
void CVornix::dfst(int n, double* a, double* t, int* ip, double* w) {
    if (n <= 2) {
        a[0] = 0;
        return;
    }
    const int m = n >> 1;
    for (int j = 1; j < m; j++) {
        t[j] = a[j] - a[n - j];
        a[j] += a[n - j];
    }
    a[0] = a[m];
    ddst(m, 1, a, ip, w);
    dfst(m, t, a + m, ip, w);
    for (int p = m - 1; p >= 1; p--) {
        a[2 * p + 1] = a[p];
        a[2 * p] = t[p];
    }
    a[1] = a[0];
    a[0] = 0;
}

// Forward real DFT from the complex transform Z of z[m] = a[2m] + i a[2m+1]:
// with A = Z[k], B = Z[n/2-k], t = e^{2 pi i k/n} and
// Y = (1 + i t)/2 (A - conj B): X[k] = A - Y, X[n/2-k] = B + conj Y.
// c[kk] = cos/2 and c[nc-kk] = sin/2 of the angle 2 pi k/n.
void CVornix::rftfsub(int n, double* a, int nc, double* c) {
    const int m = n >> 1, ks = 2 * nc / m;
    int kk = 0;
    for (int j = 2; j < m; j += 2) {
        const int k = n - j;
        kk += ks;
        const double wkr = 0.5 - c[nc - kk], wki = c[kk];
        const double dr = a[j] - a[k], di = a[j + 1] + a[k + 1];
        const double yr = wkr * dr - wki * di, yi = wkr * di + wki * dr;
        a[j] -= yr;
        a[j + 1] -= yi;
        a[k] += yr;
        a[k + 1] -= yi;
    }
}

// Inverse of rftfsub: the same step with the conjugate factor.
void CVornix::rftbsub(int n, double* a, int nc, double* c) {
    const int m = n >> 1, ks = 2 * nc / m;
    int kk = 0;
    for (int j = 2; j < m; j += 2) {
        const int k = n - j;
        kk += ks;
        const double wkr = 0.5 - c[nc - kk], wki = c[kk];
        const double dr = a[j] - a[k], di = a[j + 1] + a[k + 1];
        const double yr = wkr * dr + wki * di, yi = wkr * di - wki * dr;
        a[j] -= yr;
        a[j + 1] -= yi;
        a[k] += yr;
        a[k + 1] -= yi;
    }
}

// Rotates each pair (a[k], a[n-k]), taken as a[k] + i a[n-k], by
// e^{i pi k/2n}; a[n/2] is scaled by cos(pi/4).
void CVornix::dctsub(int n, double* a, int nc, double* c) {
    const int m = n >> 1, ks = nc / n;
    int kk = 0;
    for (int j = 1; j < m; j++) {
        const int k = n - j;
        kk += ks;
        const double wr = c[kk] + c[kk], wi = c[nc - kk] + c[nc - kk];
        const double xr = a[j], xi = a[k];
        a[j] = wr * xr - wi * xi;
        a[k] = wi * xr + wr * xi;
    }
    a[m] *= c[0];
}

// As dctsub, with the two results of each pair exchanged (a reflection, its
// own transpose, so both directions of ddst use it).
void CVornix::dstsub(int n, double* a, int nc, double* c) {
    const int m = n >> 1, ks = nc / n;
    int kk = 0;
    for (int j = 1; j < m; j++) {
        const int k = n - j;
        kk += ks;
        const double wr = c[kk] + c[kk], wi = c[nc - kk] + c[nc - kk];
        const double xr = a[j], xi = a[k];
        a[j] = wi * xr + wr * xi;
        a[k] = wr * xr - wi * xi;
    }
    a[m] *= c[0];
}
