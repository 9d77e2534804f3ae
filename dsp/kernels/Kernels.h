// The engine's inner loops, built once for each instruction set the library
// carries (the x86-64 baseline, AVX2 with FMA, AVX-512) and chosen once, from
// the processor's features, the first time a transform runs. Internal to the
// library: nothing here is exported.
#ifndef VORNIX_KERNELS_KERNELS_H
#define VORNIX_KERNELS_KERNELS_H

namespace vornix {

enum class Path { kBaseline, kAvx2, kAvx512 };
constexpr int kPaths = 3;

// Data are complex values as (re, im) pairs; n counts doubles, N points. The
// twiddle table w and the bit-reversal offsets ip are those of the engine.
struct Kernels {
    Path path;
    const char* name;
    // Every butterfly pass of a transform of n doubles, bit-reversed input:
    // [0] positive exponent (cftfsub), [1] the same passes with every
    // imaginary part of the result negated (cftbsub).
    void (*passes[2])(int n, double* a, const double* w);
    // One radix-4 pass of span l (l = 2: the first pass) over the blocks of
    // 4l doubles in [lo, hi); lo and hi are multiples of 8l, or hi = n.
    void (*pass)(int l, double* a, const double* w, int lo, int hi);
    // Bit reversal of n/2 values in place; [1] also conjugates every value.
    void (*bitrv[2])(int n, int* ip, double* a);
    // Split arrays re, im (n/2 values) into a, bit-reversed and conjugated
    // if conj: the copy and the permutation in one sweep. n >= 8.
    void (*gather)(int n, int* ip, const double* re, const double* im, double* a, bool conj);
    // re[k] = s a[2k], im[k] = s a[2k+1] for k < N.
    void (*scatter)(int N, const double* a, double s, double* re, double* im);
    // x[k] *= h[k] for the K complex values of two spectra.
    void (*mulSpectra)(int K, double* x, const double* h);
    // re[i] = re[i]^2 + im[i]^2 for i < n.
    void (*power)(double* re, const double* im, int n);
    // x[i] = 10 log10(x[i]) for i < n.
    void (*decibels)(double* x, int n);
};

// The kernels of the best path this processor runs.
const Kernels& ActiveKernels();
// A path's kernels, or null if the processor (or this build) cannot run it.
const Kernels* KernelsFor(Path path);

#ifdef VORNIX_TEST_HOOKS
// Test builds only: runs every later transform on these kernels (null: the
// best path again).
void UseKernels(const Kernels* kernels);
#endif

// Builds the bit-reversal offset table of n/2 values in ip[0 .. m-1] and
// returns m; the one place that table is made.
int BitReversalOffsets(int n, int* ip);

// Each path's table, defined in the translation unit built for it.
extern const Kernels kKernelsBaseline;
extern const Kernels kKernelsAvx2;
extern const Kernels kKernelsAvx512;

}  // namespace vornix

#endif
