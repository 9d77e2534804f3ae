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

#include "CVornixEngine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// One complex value as a pair of doubles (GCC/Clang vector extension; plain
// SSE2 on x86-64, and whatever the target offers elsewhere). Every product
// and sum is the one the scalar formulas make, in the same order.
typedef double v2d __attribute__((vector_size(16)));

inline v2d Ld(const double* p) {
    v2d v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void St(double* p, v2d v) { std::memcpy(p, &v, sizeof v); }
inline v2d Swap(v2d x) { return __builtin_shufflevector(x, x, 1, 0); }
inline v2d Dup0(v2d x) { return __builtin_shufflevector(x, x, 0, 0); }
inline v2d Dup1(v2d x) { return __builtin_shufflevector(x, x, 1, 1); }
constexpr v2d kMinusPlus = {-1.0, 1.0};

// A twiddle factor (wr, wi) prepared for CMul.
struct Tw {
    v2d r, i;  // (wr, wr) and (-wi, wi)
    Tw(double wr, double wi) : r{wr, wr}, i{-wi, wi} {}
};
// (wr xr - wi xi, wr xi + wi xr)
inline v2d CMul(const Tw& t, v2d x) { return t.r * x + t.i * Swap(x); }

// Radix-4 butterfly on the four complex values at a + j, + l, + 2l, + 3l.
// x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, x3 = a2 - a3;
// out0 = x0 + x2, out1 = wk1 (x1 + i x3), out2 = wk2 (x0 - x2),
// out3 = wk3 (x1 - i x3).
inline void Bfly4(double* a, int j, int l, const Tw& wk1, const Tw& wk2, const Tw& wk3) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const v2d a0 = Ld(a + j), a1 = Ld(a + j1), a2 = Ld(a + j2), a3 = Ld(a + j3);
    const v2d x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, ix3 = Swap(a2 - a3) * kMinusPlus;
    St(a + j, x0 + x2);
    St(a + j2, CMul(wk2, x0 - x2));
    St(a + j1, CMul(wk1, x1 + ix3));
    St(a + j3, CMul(wk3, x1 - ix3));
}

// Unit-twiddle radix-4 butterfly (first block of a pass, and the last pass);
// `conj` negates the imaginary part of every result.
inline void Bfly4Unit(double* a, int j, int l, v2d conj = v2d{1.0, 1.0}) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const v2d a0 = Ld(a + j), a1 = Ld(a + j1), a2 = Ld(a + j2), a3 = Ld(a + j3);
    const v2d x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, ix3 = Swap(a2 - a3) * kMinusPlus;
    St(a + j, (x0 + x2) * conj);
    St(a + j2, (x0 - x2) * conj);
    St(a + j1, (x1 + ix3) * conj);
    St(a + j3, (x1 - ix3) * conj);
}

// Second block of a pass: wk1 = e^{i pi/4}, wk2 = i, wk3 = e^{3i pi/4}.
inline void Bfly4Eighth(double* a, int j, int l, double c45) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const v2d a0 = Ld(a + j), a1 = Ld(a + j1), a2 = Ld(a + j2), a3 = Ld(a + j3);
    const v2d x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, ix3 = Swap(a2 - a3) * kMinusPlus;
    St(a + j, x0 + x2);
    St(a + j2, Swap(x0 - x2) * kMinusPlus);
    const v2d y = x1 + ix3, z = x1 - ix3;
    St(a + j1, c45 * (Dup0(y) + Dup1(y) * kMinusPlus));  // c45 (yr - yi, yr + yi)
    St(a + j3, c45 * (Dup0(z) * kMinusPlus - Dup1(z)));  // c45 (-zr - zi, zr - zi)
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
        const Tw t2(wk2r, wk2i);
        const Tw t1(wk1r, wk1i), t3(wk1r - 2 * wk2i * wk1i, 2 * wk2i * wk1r - wk1i);
        for (int j = k; j < l + k; j += 2) Bfly4(a, j, l, t1, t2, t3);
        wk1r = w[k2 + 2];
        wk1i = w[k2 + 3];
        const Tw u2(-wk2i, wk2r);
        const Tw u1(wk1r, wk1i), u3(wk1r - 2 * wk2r * wk1i, 2 * wk2r * wk1r - wk1i);
        for (int j = k + m; j < l + (k + m); j += 2) Bfly4(a, j, l, u1, u2, u3);
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

// Last pass with unit twiddles: radix 4 when 4l = n, otherwise radix 2.
void LastPass(int n, int l, double* a, v2d conj) {
    if ((l << 2) == n) {
        for (int j = 0; j < l; j += 2) Bfly4Unit(a, j, l, conj);
    } else {
        for (int j = 0; j < l; j += 2) {
            const v2d a0 = Ld(a + j), a1 = Ld(a + j + l);
            St(a + j, (a0 + a1) * conj);
            St(a + j + l, (a0 - a1) * conj);
        }
    }
}

// When 8l = n, the radix-4 pass of span l has two blocks and only the final
// radix-2 pass of span 4l follows: both in one sweep over the data.
void LastTwoPasses(int l, double* a, double c45, v2d conj) {
    const int m = l << 2;
    for (int j = 0; j < l; j += 2) {
        Bfly4Unit(a, j, l);
        Bfly4Eighth(a, j + m, l, c45);
        for (int q = 0; q < 4; q++) {
            const int j0 = j + q * l, j1 = j0 + m;
            const v2d a0 = Ld(a + j0), a1 = Ld(a + j1);
            St(a + j0, (a0 + a1) * conj);
            St(a + j1, (a0 - a1) * conj);
        }
    }
}

// Bit-reversal permutation of n/2 complex values, conjugating each value on
// the way if kConj. The offset table holds ip[j] = 2 * reverse(j) for j < m,
// in doubles. With the b index bits split into c high bits, the middle bits
// and c low bits (m = 2^c), index j + reverse(k) maps to k + reverse(j); the
// middle bits are two when 8m = l and one otherwise. The (j, k) pairs are
// visited in tiles of 8 x 8 so that both sides of the swaps use whole cache
// lines instead of power-of-two strides.
template <bool kConj>
void BitReverse(int n, int* ip, double* a) {
    ip[0] = 0;
    int l = n, m = 1;
    while ((m << 3) < l) {
        l >>= 1;
        for (int j = 0; j < m; j++) ip[m + j] = ip[j] + l;
        m <<= 1;
    }
    const int m2 = 2 * m;
    const bool twoMiddleBits = (m << 3) == l;
    auto swap = [a](int j1, int k1) {
        if (kConj)
            SwapPairConj(a, j1, k1);
        else
            SwapPair(a, j1, k1);
    };
    auto negate = [a](int j1) {
        if (kConj) a[j1 + 1] = -a[j1 + 1];
    };
    const int T = m < 8 ? m : 8;
    for (int kb = 0; kb < m; kb += T) {
        for (int jb = 0; jb <= kb; jb += T) {
            for (int k = kb; k < kb + T; k++) {
                for (int j = jb; j < jb + T && j < k; j++) {
                    const int j1 = 2 * j + ip[k], k1 = 2 * k + ip[j];
                    swap(j1, k1);
                    if (twoMiddleBits) {
                        swap(j1 + m2, k1 + 2 * m2);
                        swap(j1 + 2 * m2, k1 + m2);
                        swap(j1 + 3 * m2, k1 + 3 * m2);
                    } else {
                        swap(j1 + m2, k1 + m2);
                    }
                }
            }
        }
    }
    for (int k = 0; k < m; k++) {
        const int k1 = 2 * k + ip[k];
        negate(k1);
        if (twoMiddleBits) {
            swap(k1 + m2, k1 + 2 * m2);
            negate(k1 + 3 * m2);
        } else {
            negate(k1 + m2);
        }
    }
}

}  // namespace

// With the index bits split as in BitReverse, t = p + q m + reverse(r') maps
// to r' + reverse(q) m + reverse(p), where ip[j] / 2 = reverse(j) for j < m.
// Tiles of 8 values of r' read whole cache lines from re and im (m >= 8).
void vornix::GatherBitReversed(int n, int* ip, const double* re, const double* im, double* a, bool conj) {
    ip[0] = 0;
    int l = n, m = 1;
    while ((m << 3) < l) {
        l >>= 1;
        for (int j = 0; j < m; j++) ip[m + j] = ip[j] + l;
        m <<= 1;
    }
    const int middle = (m << 3) == l ? 4 : 2;
    static const int kRevMiddle[2][4] = {{0, 1, 0, 0}, {0, 2, 1, 3}};
    const int* revq = kRevMiddle[middle == 4];
    const double s = conj ? -1.0 : 1.0;
    if (m < 8) {
        for (int q = 0; q < middle; q++) {
            for (int p = 0; p < m; p++) {
                const int src = (ip[p] >> 1) + revq[q] * m, dst = p + q * m;
                for (int i = 0; i < m; i++) {
                    const int t = dst + (ip[i] >> 1);
                    a[2 * t] = re[src + i];
                    a[2 * t + 1] = s * im[src + i];
                }
            }
        }
        return;
    }
    const v2d sv = {s, s};
    for (int rb = 0; rb < m; rb += 8) {
        int off[8];
        for (int i = 0; i < 8; i++) off[i] = 2 * (ip[rb + i] >> 1);
        for (int q = 0; q < middle; q++) {
            for (int p = 0; p < m; p++) {
                const int src = (ip[p] >> 1) + revq[q] * m + rb;
                double* dst = a + 2 * (p + q * m);
                for (int i = 0; i < 8; i += 2) {
                    const v2d vr = Ld(re + src + i), vi = Ld(im + src + i) * sv;
                    St(dst + off[i], __builtin_shufflevector(vr, vi, 0, 2));
                    St(dst + off[i + 1], __builtin_shufflevector(vr, vi, 1, 3));
                }
            }
        }
    }
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

void CVornix::bitrv2(int n, int* ip, double* a) { BitReverse<false>(n, ip, a); }

void CVornix::bitrv2conj(int n, int* ip, double* a) { BitReverse<true>(n, ip, a); }

// Radix-4 passes of growing span (cft1st, then cftmdl), then a last radix-4
// or radix-2 pass with unit twiddles.
void CVornix::cftfsub(int n, double* a, double* w) {
    int l = 2;
    if (n > 16) {
        cft1st(n, a, w);
        l = 8;
    }
    while ((l << 3) < n) {
        cftmdl(n, l, a, w);
        l <<= 2;
    }
    if ((l << 3) == n)
        LastTwoPasses(l, a, w[2], v2d{1.0, 1.0});
    else
        LastPass(n, l, a, v2d{1.0, 1.0});
}

// The passes of cftfsub; the last one also negates every imaginary part.
void CVornix::cftbsub(int n, double* a, double* w) {
    int l = 2;
    if (n > 16) {
        cft1st(n, a, w);
        l = 8;
    }
    while ((l << 3) < n) {
        cftmdl(n, l, a, w);
        l <<= 2;
    }
    if ((l << 3) == n)
        LastTwoPasses(l, a, w[2], v2d{1.0, -1.0});
    else
        LastPass(n, l, a, v2d{1.0, -1.0});
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
