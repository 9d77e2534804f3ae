// Vectors of doubles holding complex values as (re, im) pairs, one type per
// width. A translation unit includes this with the instruction set it is
// built for; everything here has internal linkage, so the copies built for
// different instruction sets never stand in for one another at link time.
#ifndef VORNIX_KERNELS_VEC_H
#define VORNIX_KERNELS_VEC_H

#include <cstring>
#if defined(__FMA__)
#include <immintrin.h>
#endif

namespace vornix {
namespace {

// What every width shares: loads and stores anywhere, and broadcasts. Each
// width adds its shuffles and MinusPlus, the signs (-1, 1, -1, 1, ...) that
// turn i x into a swap and a product.
template <typename TV, typename TI>
struct VecOf {
    typedef TV T;
    typedef TI I;  // 64-bit integers, lane for lane
    static constexpr int W = sizeof(T) / sizeof(double);
    static T Ld(const double* p) {
        T v;
        std::memcpy(&v, p, sizeof v);
        return v;
    }
    static void St(double* p, T v) { std::memcpy(p, &v, sizeof v); }
    static T Set1(double x) { return T{} + x; }
};

// Two doubles: one complex value (SSE2, the x86-64 baseline). No fused
// multiply-add: every product is rounded before the sum, as in scalar code.
typedef double D2 __attribute__((vector_size(16)));
typedef long long I2 __attribute__((vector_size(16)));
struct V2 : VecOf<D2, I2> {
    static T MinusPlus() { return T{-1.0, 1.0}; }
    static T Swap(T x) { return __builtin_shufflevector(x, x, 1, 0); }
    static T DupRe(T x) { return __builtin_shufflevector(x, x, 0, 0); }
    static T DupIm(T x) { return __builtin_shufflevector(x, x, 1, 1); }
    static constexpr bool kFused = false;
    static T Fma(T a, T b, T c) { return a * b + c; }
    static double Fma1(double a, double b, double c) { return a * b + c; }
};

#if defined(__AVX2__) && defined(__FMA__)
// Four doubles: two complex values (AVX2), fused multiply-add.
typedef double D4 __attribute__((vector_size(32)));
typedef long long I4 __attribute__((vector_size(32)));
struct V4 : VecOf<D4, I4> {
    static T MinusPlus() { return T{-1.0, 1.0, -1.0, 1.0}; }
    static T Swap(T x) { return __builtin_shufflevector(x, x, 1, 0, 3, 2); }
    static T DupRe(T x) { return __builtin_shufflevector(x, x, 0, 0, 2, 2); }
    static T DupIm(T x) { return __builtin_shufflevector(x, x, 1, 1, 3, 3); }
    static constexpr bool kFused = true;
    static T Fma(T a, T b, T c) { return _mm256_fmadd_pd(a, b, c); }
    static double Fma1(double a, double b, double c) { return __builtin_fma(a, b, c); }
    // Real parts, then imaginary parts, of the four values in a and b.
    static T Evens(T a, T b) { return __builtin_shufflevector(a, b, 0, 2, 4, 6); }
    static T Odds(T a, T b) { return __builtin_shufflevector(a, b, 1, 3, 5, 7); }
    // The lanes' w^2 from the table entries p[0..1] of half the lane index:
    // (w, i w) for the lanes of two neighbouring blocks.
    static T Squares(const double* p) {
        const T x = {p[0], p[1], -p[1], p[0]};
        return x;
    }
    // The four legs of two radix-4 blocks of span one (16 doubles at p), one
    // vector per leg holding that leg of both blocks; and back.
    static void LoadLegs(const double* p, T& a0, T& a1, T& a2, T& a3) {
        const T r0 = Ld(p), r1 = Ld(p + 8), r2 = Ld(p + 4), r3 = Ld(p + 12);
        a0 = __builtin_shufflevector(r0, r1, 0, 1, 4, 5);
        a1 = __builtin_shufflevector(r0, r1, 2, 3, 6, 7);
        a2 = __builtin_shufflevector(r2, r3, 0, 1, 4, 5);
        a3 = __builtin_shufflevector(r2, r3, 2, 3, 6, 7);
    }
    static void StoreLegs(double* p, T a0, T a1, T a2, T a3) {
        St(p, __builtin_shufflevector(a0, a1, 0, 1, 4, 5));
        St(p + 8, __builtin_shufflevector(a0, a1, 2, 3, 6, 7));
        St(p + 4, __builtin_shufflevector(a2, a3, 0, 1, 4, 5));
        St(p + 12, __builtin_shufflevector(a2, a3, 2, 3, 6, 7));
    }
};
#endif

#if defined(__AVX512F__)
// Eight doubles: four complex values (AVX-512), fused multiply-add.
typedef double D8 __attribute__((vector_size(64)));
typedef long long I8 __attribute__((vector_size(64)));
struct V8 : VecOf<D8, I8> {
    static T MinusPlus() { return T{-1.0, 1.0, -1.0, 1.0, -1.0, 1.0, -1.0, 1.0}; }
    static T Swap(T x) { return __builtin_shufflevector(x, x, 1, 0, 3, 2, 5, 4, 7, 6); }
    static T DupRe(T x) { return __builtin_shufflevector(x, x, 0, 0, 2, 2, 4, 4, 6, 6); }
    static T DupIm(T x) { return __builtin_shufflevector(x, x, 1, 1, 3, 3, 5, 5, 7, 7); }
    static constexpr bool kFused = true;
    static T Fma(T a, T b, T c) { return _mm512_fmadd_pd(a, b, c); }
    static double Fma1(double a, double b, double c) { return __builtin_fma(a, b, c); }
    static T Evens(T a, T b) { return __builtin_shufflevector(a, b, 0, 2, 4, 6, 8, 10, 12, 14); }
    static T Odds(T a, T b) { return __builtin_shufflevector(a, b, 1, 3, 5, 7, 9, 11, 13, 15); }
    static T Squares(const double* p) {
        const T x = {p[0], p[1], -p[1], p[0], p[2], p[3], -p[3], p[2]};
        return x;
    }
    // Four blocks of span one (32 doubles at p): a 4 x 4 transpose of
    // complex values, its own inverse.
    static void Transpose(T& r0, T& r1, T& r2, T& r3) {
        const T t0 = __builtin_shufflevector(r0, r1, 0, 1, 8, 9, 4, 5, 12, 13);
        const T t1 = __builtin_shufflevector(r0, r1, 2, 3, 10, 11, 6, 7, 14, 15);
        const T t2 = __builtin_shufflevector(r2, r3, 0, 1, 8, 9, 4, 5, 12, 13);
        const T t3 = __builtin_shufflevector(r2, r3, 2, 3, 10, 11, 6, 7, 14, 15);
        r0 = __builtin_shufflevector(t0, t2, 0, 1, 2, 3, 8, 9, 10, 11);
        r2 = __builtin_shufflevector(t0, t2, 4, 5, 6, 7, 12, 13, 14, 15);
        r1 = __builtin_shufflevector(t1, t3, 0, 1, 2, 3, 8, 9, 10, 11);
        r3 = __builtin_shufflevector(t1, t3, 4, 5, 6, 7, 12, 13, 14, 15);
    }
    static void LoadLegs(const double* p, T& a0, T& a1, T& a2, T& a3) {
        a0 = Ld(p);
        a1 = Ld(p + 8);
        a2 = Ld(p + 16);
        a3 = Ld(p + 24);
        Transpose(a0, a1, a2, a3);
    }
    static void StoreLegs(double* p, T a0, T a1, T a2, T a3) {
        Transpose(a0, a1, a2, a3);
        St(p, a0);
        St(p + 8, a1);
        St(p + 16, a2);
        St(p + 24, a3);
    }
};
#endif

}  // namespace
}  // namespace vornix

#endif
