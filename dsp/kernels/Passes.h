// The engine's inner loops written once for any vector width V of Vec.h, and
// once for both directions: the translation unit of each instruction set
// includes this and instantiates MakeKernels<V>.
//
// The complex transform bit-reverses its input first and then runs radix-4
// passes of growing span l (in doubles) whose twiddle factor is constant over
// a block of 4l doubles: block s uses wk1 = w-pair[s], wk2 = wk1^2 and
// wk3 = wk1^3. Because the table is bit-reversed, wk2 is w-pair[s/2] (times i
// for odd s), and wk3 is a table entry times a power of i. Passes of span
// l >= W work on W doubles of one block at a time; the first pass (l = 2)
// works on W/2 neighbouring blocks at a time, one vector per leg, each lane
// with its own twiddles.
#ifndef VORNIX_KERNELS_PASSES_H
#define VORNIX_KERNELS_PASSES_H

#include "kernels/Kernels.h"
#include "kernels/Spectra.h"
#include "kernels/Vec.h"

namespace vornix {
namespace {

template <class V>
using Vt = typename V::T;

// A twiddle factor per complex lane, prepared for CMul.
template <class V>
struct Tw {
    Vt<V> r, i;  // (wr, wr, ...) and (-wi, wi, ...)
};

template <class V>
Tw<V> Lanes(Vt<V> w) {
    return {V::DupRe(w), V::DupIm(w) * V::MinusPlus()};
}

template <class V>
Tw<V> Same(double wr, double wi) {
    return {V::Set1(wr), V::Set1(wi) * V::MinusPlus()};
}

// (wr xr - wi xi, wr xi + wi xr) in every lane.
template <class V>
Vt<V> CMul(const Tw<V>& t, Vt<V> x) {
    return V::Fma(t.r, x, t.i * V::Swap(x));
}

// Without fused multiply-adds, wr x + wi (i x) as x + ((wr - 1) x + wi (i x))
// for wr >= 1/2 (wr - 1 is exact), or as (i x) + (wr x + (wi - 1) (i x)) for
// wi >= 1/2: the product of a value near 1 by x, rounded in full, becomes an
// exact x and the product by the small wr - 1 or wi - 1 (one rounding less).
// d = wr - 1 or wi - 1 respectively, in every lane.
template <class V>
Vt<V> CMulNearOne(const Tw<V>& t, Vt<V> d, Vt<V> x) {
    return x + (d * x + t.i * V::Swap(x));
}

template <class V>
Vt<V> CMulNearI(const Tw<V>& t, Vt<V> d, Vt<V> x) {
    const Vt<V> ix = V::Swap(x) * V::MinusPlus();
    return ix + (t.r * x + d * ix);
}

// wk3 = wk1 wk2 (that is wk1^3), formed as CMul forms it: for the short
// blocks of the wider paths (their first pass: a block per lane). The
// product of two table values keeps the error of wk3 near that of the table
// (ThirdTwiddles below halves it); the identities
// cos 3t = cos t - 2 sin 2t sin t, sin 3t = 2 sin 2t cos t - sin t would
// nearly triple it.
template <class V>
void Cube(double wk1r, double wk1i, double wk2r, double wk2i, double& wk3r, double& wk3i) {
    wk3r = V::Fma1(wk1r, wk2r, -(wk1i * wk2i));
    wk3i = V::Fma1(wk1r, wk2i, wk1i * wk2r);
}

// The 32 bits of x in reverse order.
inline unsigned Reverse32(unsigned x) {
    x = __builtin_bswap32(x);
    x = ((x >> 4) & 0x0F0F0F0Fu) | ((x & 0x0F0F0F0Fu) << 4);
    x = ((x >> 2) & 0x33333333u) | ((x & 0x33333333u) << 2);
    return ((x >> 1) & 0x55555555u) | ((x & 0x55555555u) << 1);
}

// wk3 = wk1^3 of the blocks s (even) and s + 1, read from the table: rounded
// once, as the table is, instead of by a product of two rounded values. Table
// pair p holds the angle (pi/2) f(p), f(p) the binary fraction 0.b0 b1 b2 ...
// of p's bits in reverse, so with R = 2^32 f(s): 3 R = 2^32 q + r, and wk3 is
// i^q times pair Reverse32(r). Block s + 1 adds 2^31 to R: its pair is the
// neighbour p ^ 1, and its quarter turns q of 3 R + 3 2^31 (R < 2^31: q <= 2).
struct Thirds {
    double r0, i0, r1, i1;
};

// (r, i) times i^q, q <= 2: exact.
inline void TimesIPow(unsigned q, double& r, double& i) {
    if (q == 1) {
        const double t = r;
        r = -i;
        i = t;
    } else if (q == 2) {
        r = -r;
        i = -i;
    }
}

inline Thirds ThirdTwiddles(const double* w, unsigned s) {
    const unsigned long long t = 3ull * Reverse32(s), t1 = t + 0x180000000ull;
    const unsigned p = Reverse32(static_cast<unsigned>(t));
    Thirds th{w[2 * p], w[2 * p + 1], w[2 * (p ^ 1)], w[2 * (p ^ 1) + 1]};
    TimesIPow(static_cast<unsigned>(t >> 32), th.r0, th.i0);
    TimesIPow(static_cast<unsigned>(t1 >> 32), th.r1, th.i1);
    return th;
}

// Every imaginary part negated if kConj.
template <class V, bool kConj>
Vt<V> Out(Vt<V> x) {
    if constexpr (kConj) return x * -V::MinusPlus();
    return x;
}

// Radix-4 butterfly on the legs a0 .. a3:
// x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, x3 = a2 - a3;
// a0 = x0 + x2, a1 = wk1 (x1 + i x3), a2 = wk2 (x0 - x2), a3 = wk3 (x1 - i x3).
// kNear: wk1 by CMul (0), CMulNearOne (1) or CMulNearI (2) with d1.
template <class V, int kNear = 0>
void Bfly4(Vt<V>& a0, Vt<V>& a1, Vt<V>& a2, Vt<V>& a3, const Tw<V>& wk1, const Tw<V>& wk2, const Tw<V>& wk3,
           Vt<V> d1 = Vt<V>{}) {
    const Vt<V> x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, ix3 = V::Swap(a2 - a3) * V::MinusPlus();
    a0 = x0 + x2;
    a2 = CMul<V>(wk2, x0 - x2);
    if constexpr (kNear == 1)
        a1 = CMulNearOne<V>(wk1, d1, x1 + ix3);
    else if constexpr (kNear == 2)
        a1 = CMulNearI<V>(wk1, d1, x1 + ix3);
    else
        a1 = CMul<V>(wk1, x1 + ix3);
    a3 = CMul<V>(wk3, x1 - ix3);
}

template <class V, int kNear = 0>
void Bfly4At(double* a, int j, int l, const Tw<V>& wk1, const Tw<V>& wk2, const Tw<V>& wk3, Vt<V> d1 = Vt<V>{}) {
    Vt<V> a0 = V::Ld(a + j), a1 = V::Ld(a + j + l), a2 = V::Ld(a + j + 2 * l), a3 = V::Ld(a + j + 3 * l);
    Bfly4<V, kNear>(a0, a1, a2, a3, wk1, wk2, wk3, d1);
    V::St(a + j, a0);
    V::St(a + j + l, a1);
    V::St(a + j + 2 * l, a2);
    V::St(a + j + 3 * l, a3);
}

// Unit twiddles (first block of a pass, and the last pass).
template <class V, bool kConj>
void Bfly4UnitAt(double* a, int j, int l) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const Vt<V> a0 = V::Ld(a + j), a1 = V::Ld(a + j1), a2 = V::Ld(a + j2), a3 = V::Ld(a + j3);
    const Vt<V> x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, ix3 = V::Swap(a2 - a3) * V::MinusPlus();
    V::St(a + j, Out<V, kConj>(x0 + x2));
    V::St(a + j2, Out<V, kConj>(x0 - x2));
    V::St(a + j1, Out<V, kConj>(x1 + ix3));
    V::St(a + j3, Out<V, kConj>(x1 - ix3));
}

// Second block of a pass: wk1 = e^{i pi/4}, wk2 = i, wk3 = e^{3i pi/4}.
template <class V>
void Bfly4EighthAt(double* a, int j, int l, double c45) {
    const int j1 = j + l, j2 = j1 + l, j3 = j2 + l;
    const Vt<V> a0 = V::Ld(a + j), a1 = V::Ld(a + j1), a2 = V::Ld(a + j2), a3 = V::Ld(a + j3);
    const Vt<V> mp = V::MinusPlus(), c = V::Set1(c45);
    const Vt<V> x0 = a0 + a1, x1 = a0 - a1, x2 = a2 + a3, ix3 = V::Swap(a2 - a3) * mp;
    V::St(a + j, x0 + x2);
    V::St(a + j2, V::Swap(x0 - x2) * mp);
    const Vt<V> y = x1 + ix3, z = x1 - ix3;
    V::St(a + j1, c * (V::DupRe(y) + V::DupIm(y) * mp));  // c45 (yr - yi, yr + yi)
    V::St(a + j3, c * (V::DupRe(z) * mp - V::DupIm(z)));  // c45 (-zr - zi, zr - zi)
}

// First pass (span 2) on W/2 neighbouring blocks at a time.
template <class V>
void FirstPassLanes(double* a, const double* w, int lo, int hi) {
    for (int k = lo; k < hi; k += 4 * V::W) {
        const int s = k >> 3;  // first block of the group (even)
        const Vt<V> wk1 = V::Ld(w + 2 * s), wk2 = V::Squares(w + s);
        Vt<V> a0, a1, a2, a3;
        V::LoadLegs(a + k, a0, a1, a2, a3);
        const Tw<V> t1 = Lanes<V>(wk1);
        Bfly4<V>(a0, a1, a2, a3, t1, Lanes<V>(wk2), Lanes<V>(CMul<V>(t1, wk2)));
        V::StoreLegs(a + k, a0, a1, a2, a3);
    }
}

// One radix-4 pass of span l over the blocks in [lo, hi).
template <class V>
void Pass(int l, double* a, const double* w, int lo, int hi) {
    if constexpr (V::W > 2) {
        if (l < V::W) {
            FirstPassLanes<V>(a, w, lo, hi);
            return;
        }
    }
    const int m = l << 2, m2 = m << 1;
    int k = lo;
    if (k == 0) {
        for (int j = 0; j < l; j += V::W) Bfly4UnitAt<V, false>(a, j, l);
        for (int j = m; j < l + m; j += V::W) Bfly4EighthAt<V>(a, j, l, w[2]);
        k = m2;
    }
    // Pairs of blocks: the first uses wk2 = (w[k1], w[k1+1]), the second i
    // times that; wk1 is (w[k2], w[k2+1]) and (w[k2+2], w[k2+3]), of angles
    // below and above pi/4 (k1 is even).
    constexpr int kNearOne = V::kFused ? 0 : 1, kNearI = V::kFused ? 0 : 2;
    for (; k < hi; k += m2) {
        const int k1 = k / m, k2 = k1 << 1;
        const double wk2r = w[k1], wk2i = w[k1 + 1];
        double wk1r = w[k2], wk1i = w[k2 + 1];
        Thirds wk3;
        if (!V::kFused || l >= 4 * V::W) {
            wk3 = ThirdTwiddles(w, k1);
        } else {
            // Blocks of one to three vectors on the wider paths: the look-up
            // would cost more time than the butterflies; the product instead.
            Cube<V>(wk1r, wk1i, wk2r, wk2i, wk3.r0, wk3.i0);
            Cube<V>(w[k2 + 2], w[k2 + 3], -wk2i, wk2r, wk3.r1, wk3.i1);
        }
        const Tw<V> t2 = Same<V>(wk2r, wk2i), t1 = Same<V>(wk1r, wk1i), t3 = Same<V>(wk3.r0, wk3.i0);
        const Vt<V> d1 = V::Set1(wk1r - 1.0);
        for (int j = k; j < l + k; j += V::W) Bfly4At<V, kNearOne>(a, j, l, t1, t2, t3, d1);
        wk1r = w[k2 + 2];
        wk1i = w[k2 + 3];
        const Tw<V> u2 = Same<V>(-wk2i, wk2r), u1 = Same<V>(wk1r, wk1i), u3 = Same<V>(wk3.r1, wk3.i1);
        const Vt<V> e1 = V::Set1(wk1i - 1.0);
        for (int j = k + m; j < l + (k + m); j += V::W) Bfly4At<V, kNearI>(a, j, l, u1, u2, u3, e1);
    }
}

// Last pass with unit twiddles: radix 4 when 4l = n, otherwise radix 2.
template <class V, bool kConj>
void LastPass(int n, int l, double* a) {
    if constexpr (V::W > 2) {
        if (l < V::W) return LastPass<V2, kConj>(n, l, a);
    }
    if ((l << 2) == n) {
        for (int j = 0; j < l; j += V::W) Bfly4UnitAt<V, kConj>(a, j, l);
    } else {
        for (int j = 0; j < l; j += V::W) {
            const Vt<V> a0 = V::Ld(a + j), a1 = V::Ld(a + j + l);
            V::St(a + j, Out<V, kConj>(a0 + a1));
            V::St(a + j + l, Out<V, kConj>(a0 - a1));
        }
    }
}

// When 8l = n, the radix-4 pass of span l has two blocks and only the final
// radix-2 pass of span 4l follows: both in one sweep over the data.
template <class V, bool kConj>
void LastTwoPasses(int l, double* a, double c45) {
    if constexpr (V::W > 2) {
        if (l < V::W) return LastTwoPasses<V2, kConj>(l, a, c45);
    }
    const int m = l << 2;
    for (int j = 0; j < l; j += V::W) {
        Bfly4UnitAt<V, false>(a, j, l);
        Bfly4EighthAt<V>(a, j + m, l, c45);
        for (int q = 0; q < 4; q++) {
            const int j0 = j + q * l, j1 = j0 + m;
            const Vt<V> a0 = V::Ld(a + j0), a1 = V::Ld(a + j1);
            V::St(a + j0, Out<V, kConj>(a0 + a1));
            V::St(a + j1, Out<V, kConj>(a0 - a1));
        }
    }
}

// Passes whose pairs of blocks fit in this many doubles (32 KB, a first-level
// data cache) run chunk by chunk, each chunk staying in cache through all of
// them; the results are the same as pass after pass over the whole array.
constexpr int kChunk = 4096;

// cftfsub (kConj false) and cftbsub (kConj true): radix-4 passes of growing
// span, then a last radix-4 or radix-2 pass with unit twiddles.
template <class V, bool kConj>
void Passes(int n, double* a, const double* w) {
    int l = 2;
    if (n > kChunk) {
        for (int lo = 0; lo < n; lo += kChunk)
            for (l = 2; (l << 3) < n && (l << 3) <= kChunk; l <<= 2) Pass<V>(l, a, w, lo, lo + kChunk);
    }
    for (; (l << 3) < n; l <<= 2) Pass<V>(l, a, w, 0, n);
    if ((l << 3) == n)
        LastTwoPasses<V, kConj>(l, a, w[2]);
    else
        LastPass<V, kConj>(n, l, a);
}

inline void SwapPair(double* a, int j, int k) {
    const double xr = a[j], xi = a[j + 1];
    a[j] = a[k];
    a[j + 1] = a[k + 1];
    a[k] = xr;
    a[k + 1] = xi;
}

inline void SwapPairConj(double* a, int j, int k) {
    const double xr = a[j], xi = a[j + 1];
    a[j] = a[k];
    a[j + 1] = -a[k + 1];
    a[k] = xr;
    a[k + 1] = -xi;
}

// Bit-reversal permutation of n/2 complex values, conjugating each value on
// the way if kConj. The offset table holds ip[j] = 2 * reverse(j) for j < m,
// in doubles. With the b index bits split into c high bits, the middle bits
// and c low bits (m = 2^c), index j + reverse(k) maps to k + reverse(j); the
// middle bits are two when 8m^2 = n and one otherwise. The (j, k) pairs are
// visited in tiles of 8 x 8 so that both sides of the swaps use whole cache
// lines instead of power-of-two strides.
template <bool kConj>
void BitReverse(int n, int* ip, double* a) {
    const int m = BitReversalOffsets(n, ip);
    const int m2 = 2 * m;
    const bool twoMiddleBits = 8 * m * m == n;
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

#if defined(__AVX2__)
// 4 x 4 transpose: r[h][c] becomes r[c][h].
inline void Transpose4(V4::T r[4]) {
    const V4::T t0 = __builtin_shufflevector(r[0], r[1], 0, 4, 2, 6),
                t1 = __builtin_shufflevector(r[0], r[1], 1, 5, 3, 7);
    const V4::T t2 = __builtin_shufflevector(r[2], r[3], 0, 4, 2, 6),
                t3 = __builtin_shufflevector(r[2], r[3], 1, 5, 3, 7);
    r[0] = __builtin_shufflevector(t0, t2, 0, 1, 4, 5);
    r[2] = __builtin_shufflevector(t0, t2, 2, 3, 6, 7);
    r[1] = __builtin_shufflevector(t1, t3, 0, 1, 4, 5);
    r[3] = __builtin_shufflevector(t1, t3, 2, 3, 6, 7);
}

// Gather for N = n/2 >= 16 values in 4 x 4 tiles. With the index split into
// two high bits h, the middle bits and two low bits c, the source
// h q + 4 sm + c (q = N/4) goes to reverse(c) q + 4 reverse(sm) + reverse(h).
// The tile of one sm reads four runs of four neighbours (h = 0 .. 3) from
// each array, transposes them and writes four runs of four neighbours; sm
// runs in order, so the sources are read front to back. Used up to 2048
// values: beyond, the rows' power-of-two strides meet in the same cache sets
// and the tiles of the offset table below are faster.
inline void GatherTiles(int N, const double* re, const double* im, double* a, double s) {
    const int q = N >> 2, M = N >> 4;
    const V4::T sv = V4::Set1(s);
    static const int kRev2[4] = {0, 2, 1, 3};
    int rsm = 0;  // reverse(sm)
    for (int sm = 0; sm < M; sm++) {
        V4::T r[4], i[4];
        for (int h = 0; h < 4; h++) {
            r[h] = V4::Ld(re + h * q + 4 * sm);
            i[h] = V4::Ld(im + h * q + 4 * sm) * sv;
        }
        Transpose4(r);
        Transpose4(i);
        for (int c = 0; c < 4; c++) {
            double* dst = a + 2 * (kRev2[c] * q + 4 * rsm);  // h in the order 0, 2, 1, 3
            V4::St(dst, __builtin_shufflevector(r[c], i[c], 0, 4, 2, 6));
            V4::St(dst + 4, __builtin_shufflevector(r[c], i[c], 1, 5, 3, 7));
        }
        int bit = M >> 1;
        for (; rsm & bit; bit >>= 1) rsm ^= bit;
        rsm |= bit;
    }
}
#endif

// With the index bits split as in BitReverse, t = p + q m + reverse(r') maps
// to r' + reverse(q) m + reverse(p), where ip[j] / 2 = reverse(j) for j < m.
// Tiles of 8 values of r' read whole cache lines from re and im (m >= 8).
template <class V>
void Gather(int n, int* ip, const double* re, const double* im, double* a, bool conj) {
#if defined(__AVX2__)
    if constexpr (V::W > 2) {
        if (n >= 32 && n <= 4096) return GatherTiles(n >> 1, re, im, a, conj ? -1.0 : 1.0);
    }
#endif
    const int m = BitReversalOffsets(n, ip);
    const int middle = 8 * m * m == n ? 4 : 2;
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
    const Vt<V2> sv = V2::Set1(s);
    for (int rb = 0; rb < m; rb += 8) {
        int off[8];
        for (int i = 0; i < 8; i++) off[i] = 2 * (ip[rb + i] >> 1);
        for (int q = 0; q < middle; q++) {
            for (int p = 0; p < m; p++) {
                const int src = (ip[p] >> 1) + revq[q] * m + rb;
                double* dst = a + 2 * (p + q * m);
                for (int i = 0; i < 8; i += 2) {
                    const Vt<V2> vr = V2::Ld(re + src + i), vi = V2::Ld(im + src + i) * sv;
                    V2::St(dst + off[i], __builtin_shufflevector(vr, vi, 0, 2));
                    V2::St(dst + off[i + 1], __builtin_shufflevector(vr, vi, 1, 3));
                }
            }
        }
    }
}

template <class V>
void Scatter(int N, const double* a, double s, double* re, double* im) {
    int k = 0;
    if constexpr (V::W > 2) {
        const Vt<V> sv = V::Set1(s);
        for (; k + V::W <= N; k += V::W) {
            const Vt<V> x = V::Ld(a + 2 * k), y = V::Ld(a + 2 * k + V::W);
            V::St(re + k, V::Evens(x, y) * sv);
            V::St(im + k, V::Odds(x, y) * sv);
        }
    }
    for (; k < N; k++) {
        re[k] = a[2 * k] * s;
        im[k] = a[2 * k + 1] * s;
    }
}

template <class V>
constexpr Kernels MakeKernels(Path path, const char* name) {
    return Kernels{path,
                   name,
                   {&Passes<V, false>, &Passes<V, true>},
                   &Pass<V>,
                   {&BitReverse<false>, &BitReverse<true>},
                   &Gather<V>,
                   &Scatter<V>,
                   &MulSpectra<V>,
                   &Power<V>,
                   &Decibels<V>};
}

}  // namespace
}  // namespace vornix

#endif
