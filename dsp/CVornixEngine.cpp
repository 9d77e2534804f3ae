// The FFT engine: radix-4 complex transform on interleaved (re, im) data with
// a final radix-2 pass where the length needs it, driven by a twiddle table
// stored in bit-reversed pair order, plus the real, cosine and sine
// transforms built on it.
//
// The complex transform bit-reverses its input first and then runs
// butterflies of growing span whose twiddle factor is constant over a block:
// block s of a radix-4 pass uses wk1 = w-pair[s], wk2 = wk1^2, wk3 = wk1^3.
// Because the table is bit-reversed, w-pair[2j] squared is w-pair[j], so wk2
// is read from the table as well and only wk3 is derived; a table built for a
// larger transform begins with the table of every smaller one.

#include <vornix/CVornix.h>

#include <algorithm>
#include <cmath>

namespace {

// Radix-4 butterfly on the four complex values at a + j, + l, + 2l, + 3l.
// x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, x3 = a2 - a3;
// out0 = x0 + x2, out1 = wk1 (x1 + i x3), out2 = wk2 (x0 - x2),
// out3 = wk3 (x1 - i x3).
inline void Bfly4(double* a, int j, int l, double wk1r, double wk1i, double wk2r, double wk2i,
                  double wk3r, double wk3i) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const double x0r = a[j] + a[j1], x0i = a[j + 1] + a[j1 + 1];
    const double x1r = a[j] - a[j1], x1i = a[j + 1] - a[j1 + 1];
    const double x2r = a[j2] + a[j3], x2i = a[j2 + 1] + a[j3 + 1];
    const double x3r = a[j2] - a[j3], x3i = a[j2 + 1] - a[j3 + 1];
    a[j] = x0r + x2r;
    a[j + 1] = x0i + x2i;
    double yr = x0r - x2r, yi = x0i - x2i;
    a[j2] = wk2r * yr - wk2i * yi;
    a[j2 + 1] = wk2r * yi + wk2i * yr;
    yr = x1r - x3i;
    yi = x1i + x3r;
    a[j1] = wk1r * yr - wk1i * yi;
    a[j1 + 1] = wk1r * yi + wk1i * yr;
    yr = x1r + x3i;
    yi = x1i - x3r;
    a[j3] = wk3r * yr - wk3i * yi;
    a[j3 + 1] = wk3r * yi + wk3i * yr;
}

// Unit-twiddle radix-4 butterfly (first block of a pass, and the last pass).
inline void Bfly4Unit(double* a, int j, int l) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const double x0r = a[j] + a[j1], x0i = a[j + 1] + a[j1 + 1];
    const double x1r = a[j] - a[j1], x1i = a[j + 1] - a[j1 + 1];
    const double x2r = a[j2] + a[j3], x2i = a[j2 + 1] + a[j3 + 1];
    const double x3r = a[j2] - a[j3], x3i = a[j2 + 1] - a[j3 + 1];
    a[j] = x0r + x2r;
    a[j + 1] = x0i + x2i;
    a[j2] = x0r - x2r;
    a[j2 + 1] = x0i - x2i;
    a[j1] = x1r - x3i;
    a[j1 + 1] = x1i + x3r;
    a[j3] = x1r + x3i;
    a[j3 + 1] = x1i - x3r;
}

// Second block of a pass: wk1 = e^{i pi/4}, wk2 = i, wk3 = e^{3i pi/4}.
inline void Bfly4Eighth(double* a, int j, int l, double c45) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const double x0r = a[j] + a[j1], x0i = a[j + 1] + a[j1 + 1];
    const double x1r = a[j] - a[j1], x1i = a[j + 1] - a[j1 + 1];
    const double x2r = a[j2] + a[j3], x2i = a[j2 + 1] + a[j3 + 1];
    const double x3r = a[j2] - a[j3], x3i = a[j2 + 1] - a[j3 + 1];
    a[j] = x0r + x2r;
    a[j + 1] = x0i + x2i;
    a[j2] = x2i - x0i;
    a[j2 + 1] = x0r - x2r;
    double yr = x1r - x3i, yi = x1i + x3r;
    a[j1] = c45 * (yr - yi);
    a[j1 + 1] = c45 * (yr + yi);
    yr = x1r + x3i;
    yi = x1i - x3r;
    a[j3] = -c45 * (yr + yi);
    a[j3 + 1] = c45 * (yr - yi);
}

// Radix-4 pass over the pairs of blocks that follow the first two: the pair
// starting at k uses wk2 = (w[k1], w[k1+1]) for its first block and i times
// that for its second; wk1 is (w[k2], w[k2+1]) and (w[k2+2], w[k2+3]).
inline void PassTail(int n, int l, double* a, const double* w) {
    const int m = l << 2, m2 = m << 1;
    int k1 = 0;
    for (int k = m2; k < n; k += m2) {
        k1 += 2;
        const int k2 = k1 << 1;
        const double wk2r = w[k1], wk2i = w[k1 + 1];
        double wk1r = w[k2], wk1i = w[k2 + 1];
        double wk3r = wk1r - 2 * wk2i * wk1i;
        double wk3i = 2 * wk2i * wk1r - wk1i;
        for (int j = k; j < l + k; j += 2) Bfly4(a, j, l, wk1r, wk1i, wk2r, wk2i, wk3r, wk3i);
        wk1r = w[k2 + 2];
        wk1i = w[k2 + 3];
        wk3r = wk1r - 2 * wk2r * wk1i;
        wk3i = 2 * wk2r * wk1r - wk1i;
        for (int j = k + m; j < l + (k + m); j += 2)
            Bfly4(a, j, l, wk1r, wk1i, -wk2i, wk2r, wk3r, wk3i);
    }
}

inline void SwapPair(double* a, int j, int k) {
    std::swap(a[j], a[k]);
    std::swap(a[j + 1], a[k + 1]);
}

inline void SwapPairConj(double* a, int j, int k) {
    const double xr = a[j], xi = a[j + 1];
    a[j] = a[k];
    a[j + 1] = -a[k + 1];
    a[k] = xr;
    a[k + 1] = -xi;
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
        const double delta = std::atan(1.0) / nwh;
        w[0] = 1;
        w[1] = 0;
        w[nwh] = std::cos(delta * nwh);
        w[nwh + 1] = w[nwh];
        if (nwh > 2) {
            for (int j = 2; j < nwh; j += 2) {
                const double x = std::cos(delta * j), y = std::sin(delta * j);
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
        const double delta = std::atan(1.0) / nch;
        c[0] = std::cos(delta * nch);
        c[nch] = 0.5 * c[0];
        for (int j = 1; j < nch; j++) {
            c[j] = 0.5 * std::cos(delta * j);
            c[nc - j] = 0.5 * std::sin(delta * j);
        }
    }
}

// The offset table holds ip[j] = 2 * reverse(j) for j < m, in doubles. With
// b index bits split into c high bits, the middle bits and c low bits
// (m = 2^c), index j + reverse(k) maps to k + reverse(j); the middle bits are
// two when 8m = l and one otherwise.
void CVornix::bitrv2(int n, int* ip, double* a) {
    ip[0] = 0;
    int l = n, m = 1;
    while ((m << 3) < l) {
        l >>= 1;
        for (int j = 0; j < m; j++) ip[m + j] = ip[j] + l;
        m <<= 1;
    }
    const int m2 = 2 * m;
    if ((m << 3) == l) {
        for (int k = 0; k < m; k++) {
            for (int j = 0; j < k; j++) {
                int j1 = 2 * j + ip[k], k1 = 2 * k + ip[j];
                SwapPair(a, j1, k1);
                j1 += m2;
                k1 += 2 * m2;
                SwapPair(a, j1, k1);
                j1 += m2;
                k1 -= m2;
                SwapPair(a, j1, k1);
                j1 += m2;
                k1 += 2 * m2;
                SwapPair(a, j1, k1);
            }
            const int j1 = 2 * k + m2 + ip[k];
            SwapPair(a, j1, j1 + m2);
        }
    } else {
        for (int k = 1; k < m; k++) {
            for (int j = 0; j < k; j++) {
                const int j1 = 2 * j + ip[k], k1 = 2 * k + ip[j];
                SwapPair(a, j1, k1);
                SwapPair(a, j1 + m2, k1 + m2);
            }
        }
    }
}

void CVornix::bitrv2conj(int n, int* ip, double* a) {
    ip[0] = 0;
    int l = n, m = 1;
    while ((m << 3) < l) {
        l >>= 1;
        for (int j = 0; j < m; j++) ip[m + j] = ip[j] + l;
        m <<= 1;
    }
    const int m2 = 2 * m;
    if ((m << 3) == l) {
        for (int k = 0; k < m; k++) {
            for (int j = 0; j < k; j++) {
                int j1 = 2 * j + ip[k], k1 = 2 * k + ip[j];
                SwapPairConj(a, j1, k1);
                j1 += m2;
                k1 += 2 * m2;
                SwapPairConj(a, j1, k1);
                j1 += m2;
                k1 -= m2;
                SwapPairConj(a, j1, k1);
                j1 += m2;
                k1 += 2 * m2;
                SwapPairConj(a, j1, k1);
            }
            const int k1 = 2 * k + ip[k];
            a[k1 + 1] = -a[k1 + 1];
            SwapPairConj(a, k1 + m2, k1 + 2 * m2);
            a[k1 + 3 * m2 + 1] = -a[k1 + 3 * m2 + 1];
        }
    } else {
        for (int k = 0; k < m; k++) {
            for (int j = 0; j < k; j++) {
                const int j1 = 2 * j + ip[k], k1 = 2 * k + ip[j];
                SwapPairConj(a, j1, k1);
                SwapPairConj(a, j1 + m2, k1 + m2);
            }
            const int k1 = 2 * k + ip[k];
            a[k1 + 1] = -a[k1 + 1];
            a[k1 + m2 + 1] = -a[k1 + m2 + 1];
        }
    }
}

void CVornix::cftfsub(int n, double* a, double* w) {
    int l = 2;
    if (n > 8) {
        cft1st(n, a, w);
        l = 8;
        while ((l << 2) < n) {
            cftmdl(n, l, a, w);
            l <<= 2;
        }
    }
    if ((l << 2) == n) {
        for (int j = 0; j < l; j += 2) Bfly4Unit(a, j, l);
    } else {
        for (int j = 0; j < l; j += 2) {
            const int j1 = j + l;
            const double x0r = a[j] - a[j1], x0i = a[j + 1] - a[j1 + 1];
            a[j] += a[j1];
            a[j + 1] += a[j1 + 1];
            a[j1] = x0r;
            a[j1 + 1] = x0i;
        }
    }
}

void CVornix::cftbsub(int n, double* a, double* w) {
    int l = 2;
    if (n > 8) {
        cft1st(n, a, w);
        l = 8;
        while ((l << 2) < n) {
            cftmdl(n, l, a, w);
            l <<= 2;
        }
    }
    if ((l << 2) == n) {
        for (int j = 0; j < l; j += 2) {
            Bfly4Unit(a, j, l);
            a[j + 1] = -a[j + 1];
            a[j + l + 1] = -a[j + l + 1];
            a[j + 2 * l + 1] = -a[j + 2 * l + 1];
            a[j + 3 * l + 1] = -a[j + 3 * l + 1];
        }
    } else {
        for (int j = 0; j < l; j += 2) {
            const int j1 = j + l;
            const double x0r = a[j] - a[j1], x0i = -a[j + 1] + a[j1 + 1];
            a[j] += a[j1];
            a[j + 1] = -a[j + 1] - a[j1 + 1];
            a[j1] = x0r;
            a[j1 + 1] = x0i;
        }
    }
}

// First radix-4 pass: span of one complex value, blocks of four.
void CVornix::cft1st(int n, double* a, double* w) {
    Bfly4Unit(a, 0, 2);
    Bfly4Eighth(a, 8, 2, w[2]);
    PassTail(n, 2, a, w);
}

void CVornix::cftmdl(int n, int l, double* a, double* w) {
    const int m = l << 2;
    for (int j = 0; j < l; j += 2) Bfly4Unit(a, j, l);
    const double c45 = w[2];
    for (int j = m; j < l + m; j += 2) Bfly4Eighth(a, j, l, c45);
    PassTail(n, l, a, w);
}

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
