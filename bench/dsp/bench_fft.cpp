// Vornix against FFTW3 and KissFFT in one run, every path of the engine
// (x86-64, AVX2+FMA, AVX-512, as this processor allows) on the same data:
//   - Fft per N against FFTW's split-array and interleaved FFTW_MEASURE plans;
//   - each path's error against a long-double DFT beside FFTW's, every bin;
//   - FirFilter, Hilbert and CalcSpectrum in ns per sample against a direct
//     form (or FFTW for the analytic signal);
//   - allocations made inside Fft.
// Timing: the contenders run in turns, one batch each per round, so that a
// busy machine slows all alike; a contender's figure is the median over the
// rounds of its batch time over FFTW split's batch of the same round.
#include <fftw3.h>
#include <vornix/CVornix.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <kissfft/kissfft.hh>
#include <new>
#include <random>
#include <string>
#include <vector>

#include "kernels/Kernels.h"

// ---- allocation counting: every malloc-family call ----
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
constexpr long double kPiL = 3.141592653589793238462643383279502884L;
constexpr int kRounds = 61;

std::vector<double> Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> v(n);
    for (auto& x : v) x = d(gen);
    return v;
}

// Two arrays of n doubles in one block, the second 24 doubles past the end of
// the first: 64-byte aligned, and not congruent modulo 4096 bytes.
struct Split {
    explicit Split(int n)
        : block(fftw_alloc_real(2 * static_cast<std::size_t>(n) + 24)), re(block), im(block + n + 24) {}
    ~Split() { fftw_free(block); }
    Split(const Split&) = delete;
    Split& operator=(const Split&) = delete;
    double* block;
    double *re, *im;
};

struct Contender {
    std::string name;
    std::function<void()> run, reset;
    std::vector<double> ns;  // per round, per call
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs every contender once per round, `per` calls a batch after an untimed
// reset; contender 0 is the reference of the ratios.
void RoundRobin(std::vector<Contender>& cs, int per) {
    for (auto& c : cs) c.ns.clear();
    for (int round = 0; round < kRounds; round++) {
        for (auto& c : cs) {
            c.reset();
            const auto t0 = clk::now();
            for (int i = 0; i < per; i++) c.run();
            c.ns.push_back(std::chrono::duration<double, std::nano>(clk::now() - t0).count() / per);
        }
    }
}

double RatioTo(const Contender& c, const Contender& ref) {
    std::vector<double> r;
    for (std::size_t i = 0; i < c.ns.size(); i++) r.push_back(c.ns[i] / ref.ns[i]);
    return Median(r);
}

long double RelRms(const std::vector<cd>& got, const std::vector<cld>& ref) {
    long double e = 0, r = 0;
    for (std::size_t i = 0; i < ref.size(); i++) {
        e += std::norm(cld(got[i]) - ref[i]);
        r += std::norm(ref[i]);
    }
    return std::sqrt(e / r);
}

// The forward DFT (negative exponent) of x in long double, by radix 2: its
// own error (about 1e-19) is far below the errors measured against it.
void DftLong(std::vector<cld>& a) {
    const std::size_t n = a.size();
    for (std::size_t i = 1, j = 0; i < n; i++) {
        std::size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(a[i], a[j]);
    }
    std::vector<cld> root(n / 2);
    for (std::size_t k = 0; k < n / 2; k++) root[k] = cld(std::cos(2 * kPiL * k / n), -std::sin(2 * kPiL * k / n));
    for (std::size_t len = 2; len <= n; len <<= 1)
        for (std::size_t i = 0; i < n; i += len)
            for (std::size_t k = 0; k < len / 2; k++) {
                const cld u = a[i + k], v = a[i + k + len / 2] * root[k * (n / len)];
                a[i + k] = u + v;
                a[i + k + len / 2] = u - v;
            }
}

std::vector<const vornix::Kernels*> Paths() {
    std::vector<const vornix::Kernels*> ps;
    for (int p = 0; p < vornix::kPaths; p++)
        if (const vornix::Kernels* k = vornix::KernelsFor(static_cast<vornix::Path>(p))) ps.push_back(k);
    return ps;
}

// Every path's Fft, FFTW split and interleaved, KissFFT; ratios to FFTW split.
void FftSpeed(CVornix& v, const std::vector<const vornix::Kernels*>& paths) {
    std::printf(
        "Forward complex DFT, ns per transform; ratios: median over %d rounds of the batch time\n"
        "over FFTW split's batch of the same round (FFTW_MEASURE plans, in place, same data)\n",
        kRounds);
    std::printf("%7s", "N");
    for (auto* p : paths) std::printf(" %10s", p->name);
    std::printf(" %10s %10s %10s |", "FFTW-split", "FFTW-intl", "KissFFT");
    for (auto* p : paths) std::printf(" %9s", (std::string(p->name) + "/S").c_str());
    std::printf(" %7s %7s |", "intl/S", "kiss/S");
    for (auto* p : paths) std::printf(" %9s", (std::string(p->name) + "/I").c_str());
    std::printf("\n");
    for (int N = 512; N <= 65536; N *= 2) {
        const auto re0 = Random(N, N), im0 = Random(N, N + 1);
        const int per = std::max(1, 131072 / N);
        Split x(N), f(N);
        auto resetTo = [&](Split& s) {
            std::copy(re0.begin(), re0.end(), s.re);
            std::copy(im0.begin(), im0.end(), s.im);
        };
        fftw_iodim dim{N, 1, 1};
        fftw_plan split = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, f.re, f.im, f.re, f.im, FFTW_MEASURE);
        fftw_complex* in = fftw_alloc_complex(N);
        fftw_plan intl = fftw_plan_dft_1d(N, in, in, FFTW_FORWARD, FFTW_MEASURE);
        kissfft<double> kiss(N, false);
        std::vector<cd> kin(N), kout(N);
        for (int j = 0; j < N; j++) kin[j] = cd(re0[j], im0[j]);

        std::vector<Contender> cs;
        cs.push_back(
            {"split", [&] { fftw_execute_split_dft(split, f.re, f.im, f.re, f.im); }, [&] { resetTo(f); }, {}});
        cs.push_back({"intl",
                      [&] { fftw_execute(intl); },
                      [&] {
                          for (int j = 0; j < N; j++) {
                              in[j][0] = re0[j];
                              in[j][1] = im0[j];
                          }
                      },
                      {}});
        cs.push_back({"kiss", [&] { kiss.transform(kin.data(), kout.data()); }, [] {}, {}});
        for (auto* p : paths)
            cs.push_back({p->name,
                          [&v, &x, N] { v.Fft(x.re, x.im, N, true); },
                          [&resetTo, &x, p] {
                              vornix::UseKernels(p);
                              resetTo(x);
                          },
                          {}});
        RoundRobin(cs, per);
        std::printf("%7d", N);
        for (std::size_t i = 3; i < cs.size(); i++) std::printf(" %10.0f", Median(cs[i].ns));
        std::printf(" %10.0f %10.0f %10.0f |", Median(cs[0].ns), Median(cs[1].ns), Median(cs[2].ns));
        for (std::size_t i = 3; i < cs.size(); i++) std::printf(" %9.2f", RatioTo(cs[i], cs[0]));
        std::printf(" %7.2f %7.2f |", RatioTo(cs[1], cs[0]), RatioTo(cs[2], cs[0]));
        for (std::size_t i = 3; i < cs.size(); i++) std::printf(" %9.2f", RatioTo(cs[i], cs[1]));
        std::printf("\n");
        fftw_destroy_plan(split);
        fftw_destroy_plan(intl);
        fftw_free(in);
    }
    vornix::UseKernels(nullptr);
}

// Relative RMS error against a long-double DFT over every bin, the mean over
// sixteen random inputs (differences between the contenders are a few per
// cent, about what four inputs leave of noise), each path beside FFTW's split
// and interleaved plans on the same inputs.
bool FftAccuracy(CVornix& v, const std::vector<const vornix::Kernels*>& paths) {
    constexpr int kInputs = 16;
    std::printf("\nRelative RMS error of the forward DFT against a long-double DFT, x 1e-16 (mean of %d inputs)\n%7s",
                kInputs, "N");
    for (auto* p : paths) std::printf(" %10s", p->name);
    std::printf(" %10s %10s\n", "FFTW-split", "FFTW-intl");
    bool met = true;
    for (int N = 512; N <= 65536; N *= 2) {
        Split f(N);
        fftw_iodim dim{N, 1, 1};
        fftw_plan split = fftw_plan_guru_split_dft(1, &dim, 0, nullptr, f.re, f.im, f.re, f.im, FFTW_MEASURE);
        fftw_complex* in = fftw_alloc_complex(N);
        fftw_plan intl = fftw_plan_dft_1d(N, in, in, FFTW_FORWARD, FFTW_MEASURE);
        std::vector<double> err(paths.size() + 2, 0.0);
        for (int input = 0; input < kInputs; input++) {
            const auto re0 = Random(N, 7 * N + 2 * input), im0 = Random(N, 7 * N + 2 * input + 1);
            std::vector<cld> ref(N);
            for (int j = 0; j < N; j++) ref[j] = cld(re0[j], im0[j]);
            DftLong(ref);
            auto rel = [&](const double* re, std::size_t reStep, const double* im, std::size_t imStep) {
                std::vector<cd> g;
                for (int k = 0; k < N; k++) g.emplace_back(re[k * reStep], im[k * imStep]);
                return static_cast<double>(RelRms(g, ref)) / kInputs;
            };
            for (std::size_t p = 0; p < paths.size(); p++) {
                vornix::UseKernels(paths[p]);
                std::vector<double> re = re0, im = im0;
                v.Fft(re.data(), im.data(), N, true);
                err[p] += rel(re.data(), 1, im.data(), 1);
            }
            std::copy(re0.begin(), re0.end(), f.re);
            std::copy(im0.begin(), im0.end(), f.im);
            fftw_execute_split_dft(split, f.re, f.im, f.re, f.im);
            err[paths.size()] += rel(f.re, 1, f.im, 1);
            for (int j = 0; j < N; j++) {
                in[j][0] = re0[j];
                in[j][1] = im0[j];
            }
            fftw_execute(intl);
            err[paths.size() + 1] += rel(&in[0][0], 2, &in[0][1], 2);
        }
        const double ef = err[paths.size()];
        std::printf("%7d", N);
        for (std::size_t p = 0; p < paths.size(); p++) {
            met = met && err[p] <= ef;
            std::printf(" %9.3f%s", err[p] * 1e16, err[p] <= ef ? " " : "*");
        }
        std::printf(" %10.3f %10.3f\n", ef * 1e16, err[paths.size() + 1] * 1e16);
        fftw_destroy_plan(split);
        fftw_destroy_plan(intl);
        fftw_free(in);
    }
    vornix::UseKernels(nullptr);
    std::printf("(* above FFTW split's error)\n");
    return met;
}

// FirFilter, Hilbert and CalcSpectrum on every path, ns per sample, beside a
// peer on the same data; ratios as for the transforms, to the peer.
void Members(CVornix& v, const std::vector<const vornix::Kernels*>& paths) {
    std::printf("\nMembers, ns per sample (median of %d rounds); ratio to the peer\n", kRounds);
    auto row = [&](const char* what, int n, std::vector<Contender>& cs, int per) {
        RoundRobin(cs, per);
        std::printf("%-36s", what);
        for (std::size_t i = 1; i < cs.size(); i++)
            std::printf("  %s %.2f (%.2f)", cs[i].name.c_str(), Median(cs[i].ns) / n, RatioTo(cs[i], cs[0]));
        std::printf("  | %s %.2f\n", cs[0].name.c_str(), Median(cs[0].ns) / n);
    };
    auto withPath = [&](const vornix::Kernels* p, std::function<void()> reset) {
        return [p, reset] {
            vornix::UseKernels(p);
            reset();
        };
    };
    {
        const int n = 32768, taps = 255;
        const auto x0 = Random(n, 5);
        std::vector<double> h(taps + 1), x = x0, y(n);
        v.GetFirCoef(h.data(), taps, 1000, 0, 16000, 60, low_pass);
        std::vector<Contender> cs;
        cs.push_back({"direct",
                      [&] {
                          for (int i = 0; i < n; i++) {
                              double s = 0;
                              const int kmax = std::min(i, taps - 1);
                              for (int k = 0; k <= kmax; k++) s += h[k] * x0[i - k];
                              y[i] = s;
                          }
                      },
                      [] {},
                      {}});
        auto reset = [&] { std::copy(x0.begin(), x0.end(), x.begin()); };
        for (auto* p : paths)
            cs.push_back({p->name,
                          [&] { v.FirFilter(x.data(), n, taps, 1000, 0, 16000, 60, low_pass); },
                          withPath(p, reset),
                          {}});
        row("FirFilter n=32768, 255 taps", n, cs, 1);
    }
    {
        const int n = 4096;
        const auto x0 = Random(n, 6);
        std::vector<double> re(n), im(n);
        fftw_complex* b = fftw_alloc_complex(n);
        fftw_plan fwd = fftw_plan_dft_1d(n, b, b, FFTW_FORWARD, FFTW_MEASURE);
        fftw_plan bwd = fftw_plan_dft_1d(n, b, b, FFTW_BACKWARD, FFTW_MEASURE);
        std::vector<Contender> cs;
        cs.push_back({"FFTW",
                      [&] {
                          for (int i = 0; i < n; i++) {
                              b[i][0] = x0[i];
                              b[i][1] = 0;
                          }
                          fftw_execute(fwd);
                          for (int k = 1; k < n / 2; k++) {
                              b[k][0] *= 2;
                              b[k][1] *= 2;
                          }
                          for (int k = n / 2; k < n; k++) b[k][0] = b[k][1] = 0;
                          fftw_execute(bwd);
                          const double s = 1.0 / n;
                          for (int i = 0; i < n; i++) {
                              re[i] = b[i][0] * s;
                              im[i] = b[i][1] * s;
                          }
                      },
                      [] {},
                      {}});
        auto reset = [&] { std::copy(x0.begin(), x0.end(), re.begin()); };
        for (auto* p : paths)
            cs.push_back({p->name, [&] { v.Hilbert(re.data(), im.data(), n); }, withPath(p, reset), {}});
        row("Hilbert n=4096", n, cs, 8);
        fftw_destroy_plan(fwd);
        fftw_destroy_plan(bwd);
        fftw_free(b);
    }
    {
        const int n = 4096;
        const auto re0 = Random(n, 8), im0 = Random(n, 9);
        std::vector<double> re = re0, im = im0, out(n);
        std::vector<Contender> cs;
        cs.push_back({"direct",
                      [&] {
                          for (int i = 0; i < n; i++) out[i] = 10 * std::log10(re0[i] * re0[i] + im0[i] * im0[i]);
                      },
                      [] {},
                      {}});
        auto reset = [&] { std::copy(re0.begin(), re0.end(), re.begin()); };
        for (auto* p : paths)
            cs.push_back({p->name, [&] { v.CalcSpectrum(re.data(), im.data(), n, false); }, withPath(p, reset), {}});
        row("CalcSpectrum n=4096, dB", n, cs, 8);
    }
    vornix::UseKernels(nullptr);
}

// Allocations inside Fft, at every size, after the tables exist and on a new
// object whose first transforms build them.
long AllocationsInFft(CVornix& v) {
    std::vector<double> re = Random(65536, 1), im = Random(65536, 2);
    v.Fft(re.data(), im.data(), 65536, true);
    const long before = g_allocs.load();
    for (int N = 1; N <= 65536; N *= 2) {
        v.Fft(re.data(), im.data(), N, true);
        v.Fft(re.data(), im.data(), N, false);
    }
    CVornix fresh;
    const long mid = g_allocs.load();
    for (int N = 1; N <= 65536; N *= 2) fresh.Fft(re.data(), im.data(), N, true);
    return (mid - before - 3) + (g_allocs.load() - mid);  // the 3 are fresh's areas
}

}  // namespace

int main() {
    CVornix v;
    const auto paths = Paths();
    std::printf("Engine paths this processor runs:");
    for (auto* p : paths) std::printf(" %s", p->name);
    std::printf(" (default: %s)\n\n", vornix::ActiveKernels().name);
    FftSpeed(v, paths);
    const bool accurate = FftAccuracy(v, paths);
    Members(v, paths);
    const long allocs = AllocationsInFft(v);
    std::printf("\nAllocations inside Fft: %ld\n", allocs);
    std::printf("Every path's error at most FFTW's at every N: %s\n", accurate ? "yes" : "NO");
    return 0;
}
