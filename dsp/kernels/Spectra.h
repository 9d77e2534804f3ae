// Bin-by-bin loops of the spectral members, for any vector width V of Vec.h.
#ifndef VORNIX_KERNELS_SPECTRA_H
#define VORNIX_KERNELS_SPECTRA_H

#include <cfloat>
#include <cmath>

#include "kernels/Vec.h"

namespace vornix {
namespace {

// x[k] = (xr hr - xi hi, xi hr + xr hi).
template <class V>
void MulSpectra(int K, double* x, const double* h) {
    int i = 0;
    for (; 2 * i + V::W <= 2 * K; i += V::W / 2) {
        const typename V::T xv = V::Ld(x + 2 * i), hv = V::Ld(h + 2 * i);
        V::St(x + 2 * i, V::Fma(V::DupRe(hv), xv, V::DupIm(hv) * V::MinusPlus() * V::Swap(xv)));
    }
    for (; i < K; i++) {
        const double xr = x[2 * i], xi = x[2 * i + 1], hr = h[2 * i], hi = h[2 * i + 1];
        x[2 * i] = V::Fma1(xr, hr, -(xi * hi));
        x[2 * i + 1] = V::Fma1(xr, hi, xi * hr);
    }
}

template <class V>
void Power(double* re, const double* im, int n) {
    int i = 0;
    for (; i + V::W <= n; i += V::W) {
        const typename V::T r = V::Ld(re + i), m = V::Ld(im + i);
        V::St(re + i, r * r + m * m);
    }
    for (; i < n; i++) re[i] = re[i] * re[i] + im[i] * im[i];
}

// 10 log10 x lane by lane, to about one unit in the last place. With
// x = 2^e m, m in [sqrt 1/2, sqrt 2): 10 log10 x = e 10 log10 2 + (10 / ln 10) ln m,
// and ln m = 2 atanh s, s = (m - 1) / (m + 1), |s| < 0.172, by its series to
// s^21. The constants are split so that their rounding does not show. Zero,
// negative, subnormal, infinite and NaN values go to the library's log10.
template <class V>
typename V::T DecibelsOf(typename V::T x) {
    using T = typename V::T;
    using I = typename V::I;
    const I odd = (I)(x < V::Set1(DBL_MIN)) | (I)(x > V::Set1(DBL_MAX)) | (I)(x != x);
    bool any = false;
    for (int j = 0; j < V::W; j++) any = any || odd[j] != 0;
    if (any) {
        T y;
        for (int j = 0; j < V::W; j++) y[j] = 10 * std::log10(x[j]);
        return y;
    }
    const I bits = (I)x;
    const I mantissa = (bits & 0x000FFFFFFFFFFFFFLL) | 0x3FF0000000000000LL;  // m in [1, 2)
    const I halve = (I)((T)mantissa > V::Set1(1.4142135623730951));           // -1: use m / 2
    const T m = (T)(mantissa - (halve & 0x0010000000000000LL));
    // The biased exponent k as a double: the bits of 2^52 + k, less 2^52.
    const I k = (bits >> 52) - halve;
    const T e = ((T)(k | 0x4330000000000000LL) - V::Set1(0x1p52)) - V::Set1(1023.0);

    const T one = V::Set1(1.0), r = m - one, d = m + one, dd = m - (d - one);  // d + dd = m + 1
    const T q = r / d;
    const T c = (V::Fma(-q, d, r) - q * dd) / d;  // s - q
    const T z = q * q;
    T p = V::Set1(1.0 / 21);
    for (double k2 = 19; k2 >= 3; k2 -= 2) p = V::Fma(p, z, V::Set1(1.0 / k2));
    const T t = q * z * p;  // atanh(q) - q

    const T c1hi = V::Set1(0x1.8151824c74000p+1), c1lo = V::Set1(0x1.87eafd66d7603p-39);   // 10 log10 2
    const T c2hi = V::Set1(0x1.15f2ced384f29p+2), c2lo = V::Set1(-0x1.02bea6b55233cp-53);  // 10 / ln 10
    const T q2 = q + q, hi = c2hi * q2;
    const T lo = V::Fma(c2hi, (c + t) * V::Set1(2.0), V::Fma(c2lo, q2, V::Fma(e, c1lo, V::Fma(c2hi, q2, -hi))));
    return V::Fma(e, c1hi, hi) + lo;  // e c1hi is exact
}

template <class V>
void Decibels(double* x, int n) {
    if constexpr (V::W == 2) {
        for (int i = 0; i < n; i++) x[i] = 10 * std::log10(x[i]);
    } else {
        int i = 0;
        for (; i + V::W <= n; i += V::W) V::St(x + i, DecibelsOf<V>(V::Ld(x + i)));
        if (i < n) {
            double tail[V::W];
            for (int j = 0; j < V::W; j++) tail[j] = i + j < n ? x[i + j] : 1.0;
            const typename V::T y = DecibelsOf<V>(V::Ld(tail));
            for (int j = 0; i + j < n; j++) x[i + j] = y[j];
        }
    }
}

}  // namespace
}  // namespace vornix

#endif
