// Vornix against FFTW3 and KissFFT in one run: time per transform, accuracy
// against a long-double DFT, FirFilter against a direct-form convolution, and
// a count of allocations made inside Fft.
#include <fftw3.h>
#include <kissfft/kissfft.hh>
#include <vornix/CVornix.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <random>
#include <vector>

// ---- allocation counting: every malloc-family call and operator new ----
namespace {
std::atomic<long> g_allocs{0};
}
extern "C" void* __libc_malloc(size_t);
extern "C" void* __libc_calloc(size_t, size_t);
extern "C" void* __libc_realloc(void*, size_t);
extern "C" void* malloc(size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_malloc(n);
}
extern "C" void* calloc(size_t n, size_t s) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_calloc(n, s);
}
extern "C" void* realloc(void* p, size_t n) {
    g_allocs.fetch_add(1, std::memory_order_relaxed);
    return __libc_realloc(p, n);
}

namespace {

using clk = std::chrono::steady_clock;
using cd = std::complex<double>;
using cld = std::complex<long double>;

std::vector<double> Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> v(n);
    for (auto& x : v) x = d(gen);
    return v;
}

// One timed batch of `per` calls of f, after an untimed reset; ns per call.
template <typename F, typename R>
double BatchNs(int per, F& f, R& reset) {
    reset();
    const auto t0 = clk::now();
    for (int i = 0; i < per; i++) f();
    return std::chrono::duration<double, std::nano>(clk::now() - t0).count() / per;
}

// Best time per call of f over several batches.
template <typename F, typename R>
double BestNs(int per, F f, R reset) {
    double best = 1e300;
    const auto start = clk::now();
    for (int rep = 0; rep < 400 && (rep < 25 || std::chrono::duration<double>(clk::now() - start).count() < 0.15);
         rep++)
        best = std::min(best, BatchNs(per, f, reset));
    return best;
}

// Three contenders timed in turns, so that a busy machine slows all alike;
// the best batch of each counts.
template <typename F1, typename R1, typename F2, typename R2, typename F3, typename R3>
void BestOfThree(int per, F1 f1, R1 r1, F2 f2, R2 r2, F3 f3, R3 r3, double out[3]) {
    out[0] = out[1] = out[2] = 1e300;
    const auto start = clk::now();
    for (int rep = 0; rep < 600 && (rep < 30 || std::chrono::duration<double>(clk::now() - start).count() < 0.4);
         rep++) {
        out[0] = std::min(out[0], BatchNs(per, f1, r1));
        out[1] = std::min(out[1], BatchNs(per, f2, r2));
        out[2] = std::min(out[2], BatchNs(per, f3, r3));
    }
}

long double RelRms(const std::vector<cd>& got, const std::vector<cld>& ref) {
    long double e = 0, r = 0;
    for (std::size_t i = 0; i < ref.size(); i++) {
        e += std::norm(cld(got[i]) - ref[i]);
        r += std::norm(ref[i]);
    }
    return std::sqrt(e / r);
}

}  // namespace

int main() {
    CVornix v;
    bool allMet = true;
    std::printf("Forward complex DFT, ns per transform (best of batches), same data for all three\n");
    std::printf("%8s %12s %12s %12s %10s %10s\n", "N", "Vornix", "FFTW3", "KissFFT", "Vx/FFTW", "Kiss/FFTW");
    for (int N = 512; N <= 65536; N *= 2) {
        const auto re0 = Random(N, N), im0 = Random(N, N + 1);
        const int per = std::max(1, 16 * 4096 / N) > 16 ? 16 : std::max(1, 16 * 4096 / N);

        std::vector<double> re = re0, im = im0;
        auto resetSplit = [&] {
            std::copy(re0.begin(), re0.end(), re.begin());
            std::copy(im0.begin(), im0.end(), im.begin());
        };
        double* fr = fftw_alloc_real(N);
        double* fi = fftw_alloc_real(N);
        fftw_iodim dim{N, 1, 1};
        fftw_plan plan = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, fr, fi, fr, fi, FFTW_MEASURE);
        auto resetFftw = [&] {
            std::copy(re0.begin(), re0.end(), fr);
            std::copy(im0.begin(), im0.end(), fi);
        };
        kissfft<double> kiss(N, false);
        std::vector<cd> kin(N), kout(N);
        for (int j = 0; j < N; j++) kin[j] = cd(re0[j], im0[j]);

        double t[3];
        BestOfThree(
            per, [&] { v.Fft(re.data(), im.data(), N, true); }, resetSplit,
            [&] { fftw_execute_split_dft(plan, fr, fi, fr, fi); }, resetFftw,
            [&] { kiss.transform(kin.data(), kout.data()); }, [] {}, t);
        const double tv = t[0], tf = t[1], tk = t[2];
        fftw_destroy_plan(plan);
        fftw_free(fr);
        fftw_free(fi);

        const bool met = tv < tk && tv <= 2 * tf;
        allMet = allMet && met;
        std::printf("%8d %12.0f %12.0f %12.0f %10.2f %10.2f %s\n", N, tv, tf, tk, tv / tf, tk / tf,
                    met ? "" : "  <- target missed");
    }

    // Accuracy at N = 4096 against a long-double DFT (negative exponent).
    {
        const int N = 4096;
        const auto re0 = Random(N, 77), im0 = Random(N, 78);
        std::vector<cld> x(N), ref(N), root(N);
        for (int j = 0; j < N; j++) x[j] = cld(re0[j], im0[j]);
        const long double pi = 3.141592653589793238462643383279502884L;
        for (int k = 0; k < N; k++) root[k] = cld(std::cos(2 * pi * k / N), -std::sin(2 * pi * k / N));
        for (int k = 0; k < N; k++) {
            cld s = 0;
            for (long j = 0; j < N; j++) s += x[j] * root[(j * k) % N];
            ref[k] = s;
        }
        std::vector<double> re = re0, im = im0;
        v.Fft(re.data(), im.data(), N, true);
        std::vector<cd> gv(N), gf(N), gk(N);
        for (int k = 0; k < N; k++) gv[k] = cd(re[k], im[k]);

        double* fr = fftw_alloc_real(N);
        double* fi = fftw_alloc_real(N);
        fftw_iodim dim{N, 1, 1};
        fftw_plan plan = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, fr, fi, fr, fi, FFTW_MEASURE);
        std::copy(re0.begin(), re0.end(), fr);
        std::copy(im0.begin(), im0.end(), fi);
        fftw_execute_split_dft(plan, fr, fi, fr, fi);
        for (int k = 0; k < N; k++) gf[k] = cd(fr[k], fi[k]);
        fftw_destroy_plan(plan);
        fftw_free(fr);
        fftw_free(fi);

        kissfft<double> kiss(N, false);
        std::vector<cd> kin(N);
        for (int j = 0; j < N; j++) kin[j] = cd(re0[j], im0[j]);
        kiss.transform(kin.data(), gk.data());

        const double ev = static_cast<double>(RelRms(gv, ref)), ef = static_cast<double>(RelRms(gf, ref)),
                     ek = static_cast<double>(RelRms(gk, ref));
        const bool met = ev <= 2 * ef;
        allMet = allMet && met;
        std::printf("\nRelative RMS error at N = 4096 vs long-double DFT: Vornix %.3g, FFTW3 %.3g, KissFFT %.3g%s\n",
                    ev, ef, ek, met ? "" : "  <- target missed");
    }

    // FirFilter against a direct-form convolution with the same coefficients.
    {
        const int n = 32768, taps = 255;
        const auto x0 = Random(n, 5);
        std::vector<double> h(taps + 1), x = x0, y(n);
        v.GetFirCoef(h.data(), taps, 1000, 0, 16000, 60, low_pass);
        const double tfir =
            BestNs(1, [&] { v.FirFilter(x.data(), n, taps, 1000, 0, 16000, 60, low_pass); },
                   [&] { std::copy(x0.begin(), x0.end(), x.begin()); });
        const double tdir = BestNs(1,
                                   [&] {
                                       for (int i = 0; i < n; i++) {
                                           double s = 0;
                                           const int kmax = std::min(i, taps - 1);
                                           for (int k = 0; k <= kmax; k++) s += h[k] * x0[i - k];
                                           y[i] = s;
                                       }
                                   },
                                   [] {});
        std::copy(x0.begin(), x0.end(), x.begin());
        v.FirFilter(x.data(), n, taps, 1000, 0, 16000, 60, low_pass);
        double worst = 0;
        for (int i = 0; i < n; i++) worst = std::max(worst, std::fabs(x[i] - y[i]));
        std::printf("\nFirFilter n = %d, %d taps: %.2f ms; direct form: %.2f ms (ratio %.2f); max difference %.2g\n",
                    n, taps, tfir / 1e6, tdir / 1e6, tfir / tdir, worst);
    }

    // Allocations inside Fft, at every size, after the tables exist.
    {
        std::vector<double> re = Random(65536, 1), im = Random(65536, 2);
        v.Fft(re.data(), im.data(), 65536, true);
        const long before = g_allocs.load();
        for (int N = 1; N <= 65536; N *= 2) {
            v.Fft(re.data(), im.data(), N, true);
            v.Fft(re.data(), im.data(), N, false);
        }
        CVornix fresh;  // the first transforms of a new object build tables, still without allocating
        const long mid = g_allocs.load();
        for (int N = 1; N <= 65536; N *= 2) fresh.Fft(re.data(), im.data(), N, true);
        const long inside = (mid - before - 3) + (g_allocs.load() - mid);  // the 3 are fresh's areas
        allMet = allMet && inside == 0;
        std::printf("\nAllocations inside Fft: %ld\n", inside);
    }
    std::printf("\nTargets (faster than KissFFT, within 2x FFTW, error <= 2x FFTW, no allocation): %s\n",
                allMet ? "all met" : "NOT all met");
    return 0;
}
