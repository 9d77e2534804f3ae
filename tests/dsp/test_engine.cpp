// The FFT engine, reached through the test seam.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "VornixTestUtil.h"

using namespace vtest;

namespace {

std::vector<double> Interleave(const std::vector<cld>& x) {
    std::vector<double> a;
    for (auto& v : x) {
        a.push_back(static_cast<double>(v.real()));
        a.push_back(static_cast<double>(v.imag()));
    }
    return a;
}

std::vector<cld> Pairs(const std::vector<double>& a) {
    std::vector<cld> x;
    for (std::size_t i = 0; i + 1 < a.size(); i += 2) x.emplace_back(a[i], a[i + 1]);
    return x;
}

std::vector<cld> RandomComplex(int N, unsigned seed) {
    auto r = Random(2 * static_cast<std::size_t>(N), seed);
    std::vector<cld> x;
    for (int j = 0; j < N; j++) x.emplace_back(r[2 * j], r[2 * j + 1]);
    return x;
}

}  // namespace

TEST(Engine, NewObjectHasNoTableAndDefaultDbLimit) {
    CVornix v;
    EXPECT_EQ(CVornixProbe::Ip(v)[0], 0);
    EXPECT_EQ(CVornixProbe::DbLim(v), -80);
}

TEST(Engine, SmallestTransforms) {
    auto v = std::make_unique<CVornix>();
    for (int isgn : {-1, 1}) {
        double one[2] = {3, -2};
        CVornixProbe::Cdft(*v, 2, isgn, one);
        EXPECT_EQ(one[0], 3);
        EXPECT_EQ(one[1], -2);
        double two[4] = {1, 2, 5, -7};
        CVornixProbe::Cdft(*v, 4, isgn, two);
        EXPECT_EQ(two[0], 6);
        EXPECT_EQ(two[1], -5);
        EXPECT_EQ(two[2], -4);
        EXPECT_EQ(two[3], 9);
        // x[1] = 1 of four points: (1, -i, -1, i) for isgn < 0, conjugate otherwise.
        double four[8] = {0, 0, 1, 0, 0, 0, 0, 0};
        CVornixProbe::Cdft(*v, 8, isgn, four);
        const double s = isgn < 0 ? -1 : 1;
        const double expect[8] = {1, 0, 0, s, -1, 0, 0, -s};
        for (int i = 0; i < 8; i++) EXPECT_NEAR(four[i], expect[i], 1e-15) << i;
    }
}

// Both directions against a long-double DFT: every power of two to 4096
// completely, larger ones on a sample of bins.
TEST(Engine, CdftMatchesDirectDft) {
    for (int N = 1; N <= 65536; N *= 2) {
        const auto x = RandomComplex(N, 100 + N);
        std::vector<int> bins;
        if (N > 4096)
            for (int i = 0; i < 48; i++) bins.push_back(static_cast<int>((i * 2654435761u) % N));
        for (int isgn : {-1, 1}) {
            CVornix v;
            auto a = Interleave(x);
            CVornixProbe::Cdft(v, 2 * N, isgn, a.data());
            const auto got = Pairs(a);
            const auto ref = Dft(x, isgn, bins);
            std::vector<cld> sel;
            if (bins.empty())
                sel = got;
            else
                for (int k : bins) sel.push_back(got[k]);
            EXPECT_LT(RelRms(sel, ref), 1e-15L * (4 + std::log2(N))) << "N=" << N << " isgn=" << isgn;
        }
    }
}

TEST(Engine, RoundTripEveryPowerOfTwo) {
    CVornix v;
    for (int N = 1; N <= 65536; N *= 2) {
        const auto x = Random(2 * static_cast<std::size_t>(N), N);
        auto a = x;
        CVornixProbe::Cdft(v, 2 * N, -1, a.data());
        CVornixProbe::Cdft(v, 2 * N, 1, a.data());
        for (auto& e : a) e *= 1.0 / N;
        EXPECT_LT(RelRms(a, x), 1e-15L * (4 + std::log2(N))) << "N=" << N;
    }
}

// Linearity, a shifted impulse and Parseval, at sizes with an odd and an
// even number of index bits.
TEST(Engine, LinearityShiftAndParseval) {
    CVornix v;
    for (int N : {8, 16, 512, 2048, 65536}) {
        const auto x = Random(2 * static_cast<std::size_t>(N), 1), y = Random(2 * static_cast<std::size_t>(N), 2);
        const double alpha = 0.75, beta = -1.5;
        std::vector<double> fx = x, fy = y, fz(x.size());
        for (std::size_t i = 0; i < x.size(); i++) fz[i] = alpha * x[i] + beta * y[i];
        CVornixProbe::Cdft(v, 2 * N, -1, fx.data());
        CVornixProbe::Cdft(v, 2 * N, -1, fy.data());
        CVornixProbe::Cdft(v, 2 * N, -1, fz.data());
        std::vector<double> lin(x.size());
        for (std::size_t i = 0; i < x.size(); i++) lin[i] = alpha * fx[i] + beta * fy[i];
        EXPECT_LT(RelRms(fz, lin), 1e-14L) << N;

        long double ex = 0, eX = 0;
        for (std::size_t i = 0; i < x.size(); i++) {
            ex += static_cast<long double>(x[i]) * x[i];
            eX += static_cast<long double>(fx[i]) * fx[i];
        }
        EXPECT_NEAR(static_cast<double>(eX / (ex * N)), 1.0, 1e-13) << N;

        for (int s : {1, 3, N / 2 + 1}) {
            if (s >= N) continue;
            for (int isgn : {-1, 1}) {
                std::vector<double> a(2 * static_cast<std::size_t>(N), 0.0);
                a[2 * s] = 1;
                CVornixProbe::Cdft(v, 2 * N, isgn, a.data());
                double worst = 0;
                for (int k = 0; k < N; k++) {
                    const long double t = 2 * kPiL * ((static_cast<long long>(s) * k) % N) / N;
                    worst = std::fmax(worst, std::fabs(a[2 * k] - static_cast<double>(std::cos(t))));
                    worst = std::fmax(worst, std::fabs(a[2 * k + 1] - static_cast<double>(isgn * std::sin(t))));
                }
                EXPECT_LT(worst, 1e-14) << "N=" << N << " s=" << s;
            }
        }
    }
}

// The table of a larger transform serves a smaller one with the same result
// as on a new object, value for value.
TEST(Engine, SmallerTransformAfterLargerEqualsNewObject) {
    CVornix used;
    std::vector<double> big = Random(2 * 65536, 9);
    CVornixProbe::Cdft(used, 2 * 65536, -1, big.data());
    EXPECT_EQ(CVornixProbe::Ip(used)[0], 32768);
    for (int N : {8, 64, 1024, 8192}) {
        for (int isgn : {-1, 1}) {
            CVornix fresh;
            auto a = Random(2 * static_cast<std::size_t>(N), N), b = a;
            CVornixProbe::Cdft(used, 2 * N, isgn, a.data());
            CVornixProbe::Cdft(fresh, 2 * N, isgn, b.data());
            EXPECT_EQ(0, std::memcmp(a.data(), b.data(), a.size() * sizeof(double))) << N;
        }
    }
    EXPECT_EQ(CVornixProbe::Ip(used)[0], 32768);
}

// ---- the transforms that no operation calls, against their definitions ----

namespace {

struct Case {
    const char* name;
    int n;
};

std::vector<long double> RdftRef(const std::vector<double>& a) {
    const int n = static_cast<int>(a.size());
    std::vector<long double> out(n);
    for (int k = 0; k <= n / 2; k++) {
        long double R = 0, I = 0;
        for (int j = 0; j < n; j++) {
            const long double t = 2 * kPiL * ((static_cast<long long>(j) * k) % n) / n;
            R += a[j] * std::cos(t);
            I += a[j] * std::sin(t);
        }
        if (k == 0)
            out[0] = R;
        else if (k == n / 2)
            out[1] = R;
        else {
            out[2 * k] = R;
            out[2 * k + 1] = I;
        }
    }
    return out;
}

template <typename F>
std::vector<long double> Table(int count, F f) {
    std::vector<long double> out(count);
    for (int k = 0; k < count; k++) out[k] = f(k);
    return out;
}

}  // namespace

class RealTransforms : public ::testing::TestWithParam<int> {};

TEST_P(RealTransforms, RdftBothDirections) {
    const int n = GetParam();
    CVornix v;
    const auto x = Random(n, 11 * n);
    auto a = x;
    CVornixProbe::Rdft(v, n, 1, a.data());
    EXPECT_LT(RelRms(a, RdftRef(x)), 1e-14L) << n;
    CVornixProbe::Rdft(v, n, -1, a.data());
    for (auto& e : a) e *= 2.0 / n;
    EXPECT_LT(RelRms(a, x), 1e-14L) << n;
}

TEST_P(RealTransforms, DdctBothDirections) {
    const int n = GetParam();
    CVornix v;
    const auto x = Random(n, 13 * n);
    auto a = x;
    CVornixProbe::Ddct(v, n, -1, a.data());
    auto ref2 = Table(n, [&](int k) {
        long double s = 0;
        for (int j = 0; j < n; j++) s += x[j] * std::cos(kPiL * (j + 0.5L) * k / n);
        return s;
    });
    EXPECT_LT(RelRms(a, ref2), 1e-14L) << n;
    a = x;
    CVornixProbe::Ddct(v, n, 1, a.data());
    auto ref3 = Table(n, [&](int k) {
        long double s = 0;
        for (int j = 0; j < n; j++) s += x[j] * std::cos(kPiL * j * (k + 0.5L) / n);
        return s;
    });
    EXPECT_LT(RelRms(a, ref3), 1e-14L) << n;
}

TEST_P(RealTransforms, DdstBothDirections) {
    const int n = GetParam();
    CVornix v;
    const auto x = Random(n, 17 * n);
    auto a = x;
    CVornixProbe::Ddst(v, n, -1, a.data());
    auto S = [&](int k) {
        long double s = 0;
        for (int j = 0; j < n; j++) s += x[j] * std::sin(kPiL * (j + 0.5L) * k / n);
        return s;
    };
    auto ref2 = Table(n, [&](int k) { return k == 0 ? S(n) : S(k); });
    EXPECT_LT(RelRms(a, ref2), 1e-14L) << n;
    a = x;
    CVornixProbe::Ddst(v, n, 1, a.data());
    auto ref3 = Table(n, [&](int k) {
        long double s = 0;
        for (int j = 1; j <= n; j++) s += (j < n ? x[j] : x[0]) * std::sin(kPiL * j * (k + 0.5L) / n);
        return s;
    });
    EXPECT_LT(RelRms(a, ref3), 1e-14L) << n;
}

TEST_P(RealTransforms, DfctAndDfst) {
    const int n = GetParam();
    CVornix v;
    const auto x = Random(n + 1, 19 * n);
    std::vector<double> t(n / 2 + 1, 0.0);
    auto a = x;
    CVornixProbe::Dfct(v, n, a.data(), t.data());
    auto refc = Table(n + 1, [&](int k) {
        long double s = 0;
        for (int j = 0; j <= n; j++) s += x[j] * std::cos(kPiL * ((static_cast<long long>(j) * k) % (2 * n)) / n);
        return s;
    });
    EXPECT_LT(RelRms(a, refc), 1e-14L) << n;

    CVornix v2;
    a.assign(x.begin(), x.begin() + n);
    CVornixProbe::Dfst(v2, n, a.data(), t.data());
    auto refs = Table(n, [&](int k) {
        long double s = 0;
        for (int j = 1; j < n; j++) s += x[j] * std::sin(kPiL * ((static_cast<long long>(j) * k) % (2 * n)) / n);
        return k == 0 ? 0.0L : s;
    });
    EXPECT_EQ(a[0], 0.0);
    EXPECT_LT(RelRms(a, refs), 1e-14L) << n;
}

INSTANTIATE_TEST_SUITE_P(Lengths, RealTransforms, ::testing::Values(2, 4, 8, 16, 32, 64, 128, 512));

TEST(Engine, UncalledTransformsAtSmallestLength) {
    CVornix v;
    const double c45 = std::cos(std::atan(1.0));
    double r[2] = {3, 5};
    CVornixProbe::Rdft(v, 2, 1, r);
    EXPECT_EQ(r[0], 8);
    EXPECT_EQ(r[1], -2);
    double c[2] = {3, 5};
    CVornixProbe::Ddct(v, 2, -1, c);
    EXPECT_EQ(c[0], 8);
    EXPECT_DOUBLE_EQ(c[1], -2 * c45);
    double f[3] = {2, 3, 7}, t[2];
    CVornixProbe::Dfct(v, 2, f, t);
    EXPECT_EQ(f[0], 12);
    EXPECT_EQ(f[1], -5);
    EXPECT_EQ(f[2], 6);
    double s[2] = {4, 9};
    CVornixProbe::Dfst(v, 2, s, t);
    EXPECT_EQ(s[0], 0);
    EXPECT_EQ(s[1], 9);
}

// Largest lengths the areas allow, by round trip.
TEST(Engine, UncalledTransformsAtTheirLimits) {
    {
        CVornix v;
        const auto x = Random(65536, 3);
        auto a = x;
        CVornixProbe::Rdft(v, 65536, 1, a.data());
        CVornixProbe::Rdft(v, 65536, -1, a.data());
        for (auto& e : a) e *= 2.0 / 65536;
        EXPECT_LT(RelRms(a, x), 1e-14L);
    }
    {
        CVornix v;
        const int n = 16384;
        const auto x = Random(n, 4);
        auto a = x;
        CVornixProbe::Ddct(v, n, -1, a.data());
        a[0] *= 0.5;
        CVornixProbe::Ddct(v, n, 1, a.data());
        for (auto& e : a) e *= 2.0 / n;
        EXPECT_LT(RelRms(a, x), 1e-14L);
    }
    {
        CVornix v;
        const int n = 32768;
        const auto x = Random(n + 1, 5);
        std::vector<double> t(n / 2 + 1);
        auto a = x;
        // Applying the cosine transform of n + 1 values twice gives n/2 times
        // the input once the end values are halved before each pass.
        a[0] *= 0.5;
        a[n] *= 0.5;
        CVornixProbe::Dfct(v, n, a.data(), t.data());
        a[0] *= 0.5;
        a[n] *= 0.5;
        CVornixProbe::Dfct(v, n, a.data(), t.data());
        for (auto& e : a) e *= 2.0 / n;
        EXPECT_LT(RelRms(a, x), 1e-14L);
    }
}

// Every table entry is the double nearest its cosine or sine (up to the error
// of the long-double reference): twiddle pair p holds the angle (pi/2) f(p),
// f(p) the bits of p reversed after the binary point, which the passes rely
// on; the cosine table holds halves of cos and sin of (pi/2) j / nc.
TEST(Engine, TablesHoldTheNearestDoubles) {
    auto ulps = [](double got, long double want) {
        const double w = static_cast<double>(want);
        const long double ulp = std::nextafter(std::fabs(w), 2.0) - std::fabs(w);
        return static_cast<double>(std::fabs(got - want) / ulp);
    };
    // cos((pi/2) j / q), from the sine of the complement above pi/4: a long
    // double angle near pi/2 is itself off by a unit of a cosine that small.
    auto cosq = [](int j, int q) { return 2 * j <= q ? std::cos(kPiL / 2 * j / q) : std::sin(kPiL / 2 * (q - j) / q); };
    constexpr double kBound = 0.5 + 1.0 / 256;
    CVornix v;
    std::vector<double> a(65536);
    CVornixProbe::Rdft(v, 65536, 1, a.data());
    const int nw = CVornixProbe::Ip(v)[0], nc = CVornixProbe::Ip(v)[1], pairs = nw / 2;
    ASSERT_EQ(nw, 16384);
    const double* w = CVornixProbe::W(v);
    double worst = 0;
    for (int p = 0; p < pairs; p++) {
        int r = 0;
        for (int bit = 1, rbit = pairs >> 1; bit < pairs; bit <<= 1, rbit >>= 1)
            if (p & bit) r |= rbit;
        worst = std::max({worst, ulps(w[2 * p], cosq(r, pairs)), ulps(w[2 * p + 1], cosq(pairs - r, pairs))});
    }
    EXPECT_LE(worst, kBound);
    const double* c = w + nw;
    worst = ulps(c[0], cosq(1, 2));
    for (int j = 1; j < nc; j++) worst = std::max(worst, ulps(c[j], cosq(j, nc) / 2));
    EXPECT_LE(worst, kBound);
}
