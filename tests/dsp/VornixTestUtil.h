// Shared helpers of the Vornix tests: access to the engine and long-double references.
#ifndef TESTS_DSP_VORNIXTESTUTIL_H
#define TESTS_DSP_VORNIXTESTUTIL_H

#include <vornix/CVornix.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

// The test-only seam: the class befriends it, only the tests define it.
class CVornixProbe {
public:
    static int* Ip(CVornix& v) { return v.m_pIp; }
    static double* W(CVornix& v) { return v.m_pW; }
    static double* Buf(CVornix& v) { return v.m_pBuf; }
    static int DbLim(const CVornix& v) { return v.m_nDbLim; }
    static void Cdft(CVornix& v, int n, int isgn, double* a) { v.cdft(n, isgn, a, v.m_pIp, v.m_pW); }
    static void Rdft(CVornix& v, int n, int isgn, double* a) { v.rdft(n, isgn, a, v.m_pIp, v.m_pW); }
    static void Ddct(CVornix& v, int n, int isgn, double* a) { v.ddct(n, isgn, a, v.m_pIp, v.m_pW); }
    static void Ddst(CVornix& v, int n, int isgn, double* a) { v.ddst(n, isgn, a, v.m_pIp, v.m_pW); }
    static void Dfct(CVornix& v, int n, double* a, double* t) { v.dfct(n, a, t, v.m_pIp, v.m_pW); }
    static void Dfst(CVornix& v, int n, double* a, double* t) { v.dfst(n, a, t, v.m_pIp, v.m_pW); }
    static int Log2(CVornix& v, int n) { return v.Log2(n); }
    static double I0(CVornix& v, double x, int terms) { return v.I0(x, terms); }
    static double Factorial(CVornix& v, double x) { return v.Factorial(x); }
};

namespace vtest {

using cld = std::complex<long double>;
constexpr long double kPiL = 3.141592653589793238462643383279502884L;

inline std::vector<double> Random(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::uniform_real_distribution<double> d(-1.0, 1.0);
    std::vector<double> v(n);
    for (auto& x : v) x = d(gen);
    return v;
}

// X[k] = sum_j x[j] e^{sign 2 pi i jk/N} for the bins in `bins` (all if empty).
inline std::vector<cld> Dft(const std::vector<cld>& x, int sign, const std::vector<int>& bins = {}) {
    const std::size_t N = x.size();
    std::vector<cld> root(N);
    for (std::size_t k = 0; k < N; k++) {
        const long double t = 2 * kPiL * k / N;
        root[k] = cld(std::cos(t), sign * std::sin(t));
    }
    std::vector<int> ks = bins;
    if (ks.empty())
        for (std::size_t k = 0; k < N; k++) ks.push_back(static_cast<int>(k));
    std::vector<cld> out;
    for (int k : ks) {
        cld s = 0;
        std::size_t idx = 0;
        for (std::size_t j = 0; j < N; j++) {
            s += x[j] * root[idx];
            idx += k;
            if (idx >= N) idx -= N;
        }
        out.push_back(s);
    }
    return out;
}

// Relative RMS distance between a result and its reference.
template <typename A, typename B>
long double RelRms(const A& got, const B& ref) {
    long double e = 0, r = 0;
    for (std::size_t i = 0; i < ref.size(); i++) {
        e += std::norm(cld(got[i]) - cld(ref[i]));
        r += std::norm(cld(ref[i]));
    }
    return r == 0 ? std::sqrt(e) : std::sqrt(e / r);
}

}  // namespace vtest

#endif
