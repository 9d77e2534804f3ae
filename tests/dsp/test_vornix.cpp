// The public members of CVornix.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "VornixTestUtil.h"

using namespace vtest;

namespace {

constexpr double kPi = 3.14159265358979323846;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// A heap-held object: three areas of about 1.3 MB each time.
std::unique_ptr<CVornix> Make() { return std::make_unique<CVornix>(); }

bool Untouched(const std::vector<double>& a, const std::vector<double>& b, std::size_t from) {
    for (std::size_t i = from; i < a.size(); i++)
        if (std::memcmp(&a[i], &b[i], sizeof(double)) != 0) return false;
    return true;
}

}  // namespace

// ---------------- construction, copy, allocation failure ----------------

TEST(Object, CopiesGetOwnClearedAreasAndTheDbLimit) {
    CVornix a;
    a.SetDbLim(33);
    std::vector<double> re = Random(1024, 1), im(1024, 0.0);
    a.Fft(re.data(), im.data(), 1024, true);
    ASSERT_EQ(CVornixProbe::Ip(a)[0], 512);

    CVornix b(a);
    EXPECT_EQ(CVornixProbe::DbLim(b), -33);
    EXPECT_EQ(CVornixProbe::Ip(b)[0], 0);
    EXPECT_NE(CVornixProbe::Ip(b), CVornixProbe::Ip(a));
    EXPECT_NE(CVornixProbe::W(b), CVornixProbe::W(a));
    EXPECT_NE(CVornixProbe::Buf(b), CVornixProbe::Buf(a));

    CVornix c;
    int* ownIp = CVornixProbe::Ip(c);
    c.Fft(re.data(), im.data(), 64, true);
    c = a;
    EXPECT_EQ(CVornixProbe::Ip(c), ownIp);  // keeps its areas, cleared
    EXPECT_EQ(CVornixProbe::Ip(c)[0], 0);
    EXPECT_EQ(CVornixProbe::W(c)[2], 0.0);
    EXPECT_EQ(CVornixProbe::DbLim(c), -33);

    CVornix& self = c;
    c = self;
    EXPECT_EQ(CVornixProbe::DbLim(c), -33);

    // Every copy transforms as a new object does.
    std::vector<double> r1 = Random(256, 2), i1(256, 0.0), r2 = r1, i2 = i1;
    b.Fft(r1.data(), i1.data(), 256, true);
    CVornix fresh;
    fresh.Fft(r2.data(), i2.data(), 256, true);
    EXPECT_EQ(r1, r2);
    EXPECT_EQ(i1, i2);
}

// ---------------- Fft, Ifft, CalcSpectrum, SetDbLim, Log2 ----------------

TEST(Fft, SmallCases) {
    auto v = Make();
    double re1[1] = {2.5}, im1[1] = {-1};
    v->Fft(re1, im1, 1, true);
    v->Fft(re1, im1, 1, false);
    EXPECT_EQ(re1[0], 2.5);
    EXPECT_EQ(im1[0], -1);

    double re[2] = {3, 5}, im[2] = {0, 0};
    v->Fft(re, im, 2, true);
    EXPECT_EQ(re[0], 8);
    EXPECT_EQ(re[1], -2);
    double ri[2] = {3, 5}, ii[2] = {0, 0};
    v->Ifft(ri, ii, 2);
    EXPECT_EQ(ri[0], 4);
    EXPECT_EQ(ri[1], -1);
    EXPECT_EQ(ii[0], 0);
    EXPECT_EQ(ii[1], 0);

    struct {
        double in[4];
        bool forward;
        double re[4], im[4];
    } cases[] = {
        {{1, 0, 0, 0}, true, {1, 1, 1, 1}, {0, 0, 0, 0}},
        {{0, 1, 0, 0}, true, {1, 0, -1, 0}, {0, -1, 0, 1}},
        {{0, 1, 0, 0}, false, {0.25, 0, -0.25, 0}, {0, 0.25, 0, -0.25}},
    };
    for (auto& c : cases) {
        double r[4], i[4] = {0, 0, 0, 0};
        std::memcpy(r, c.in, sizeof r);
        v->Fft(r, i, 4, c.forward);
        for (int k = 0; k < 4; k++) {
            EXPECT_NEAR(r[k], c.re[k], 1e-16);
            EXPECT_NEAR(i[k], c.im[k], 1e-16);
        }
    }
}

TEST(Fft, MatchesDirectDftAndRoundTrips) {
    auto v = Make();
    for (int N : {8, 128, 1024}) {
        auto re = Random(N, N), im = Random(N, N + 1);
        std::vector<cld> x;
        for (int j = 0; j < N; j++) x.emplace_back(re[j], im[j]);
        const auto ref = Dft(x, -1);
        auto r = re, i = im;
        v->Fft(r.data(), i.data(), N, true);
        std::vector<cld> got;
        for (int k = 0; k < N; k++) got.emplace_back(r[k], i[k]);
        EXPECT_LT(RelRms(got, ref), 1e-14L) << N;
        v->Ifft(r.data(), i.data(), N);
        EXPECT_LT(RelRms(r, re), 1e-14L) << N;
        EXPECT_LT(RelRms(i, im), 1e-14L) << N;
    }
    for (int N = 1; N <= 65536; N *= 4) {
        auto re = Random(N, 7), im = Random(N, 8), r = re, i = im;
        v->Fft(r.data(), i.data(), N, true);
        v->Fft(r.data(), i.data(), N, false);
        EXPECT_LT(RelRms(r, re), 1e-14L) << N;
        EXPECT_LT(RelRms(i, im), 1e-14L) << N;
    }
}

// Fft is cdft(2N, -1 or +1) on the interleaved values (then times 1/N for
// the inverse), value for value, at every size.
TEST(Fft, EqualsEngineTransformOfInterleavedCopy) {
    CVornix v, engine;
    for (int N = 1; N <= 65536; N *= 2) {
        for (bool forward : {true, false}) {
            auto re = Random(N, 3 * N), im = Random(N, 3 * N + 1);
            std::vector<double> a(2 * static_cast<std::size_t>(N));
            for (int k = 0; k < N; k++) {
                a[2 * k] = re[k];
                a[2 * k + 1] = im[k];
            }
            CVornixProbe::Cdft(engine, 2 * N, forward ? -1 : 1, a.data());
            v.Fft(re.data(), im.data(), N, forward);
            const double s = forward ? 1.0 : 1.0 / N;
            bool same = true;
            for (int k = 0; k < N; k++) same = same && re[k] == a[2 * k] * s && im[k] == a[2 * k + 1] * s;
            EXPECT_TRUE(same) << N << (forward ? " forward" : " inverse");
        }
    }
}

TEST(Fft, UnnormalisedToneSpectrum) {
    auto v = Make();
    std::vector<double> re(512), im(512, 0.0);
    for (int j = 0; j < 512; j++) re[j] = std::cos(2 * kPi * 8 * j / 512);
    v->Fft(re.data(), im.data(), 512, true);
    v->CalcSpectrum(re.data(), im.data(), 512, true);
    EXPECT_NEAR(re[8], 65536, 1e-8);
    EXPECT_NEAR(re[504], 65536, 1e-8);
    for (int k = 0; k < 512; k++)
        if (k != 8 && k != 504) {
            EXPECT_LT(re[k], 1e-20) << k;
        }
}

TEST(Fft, LengthRuleRoundsDownAndCaps) {
    auto v = Make();
    struct {
        int n, used;
        std::size_t size;
    } cases[] = {{1000, 512, 1000}, {100000, 65536, 100000}, {0, 0, 16}, {-5, 0, 16}, {INT_MIN, 0, 16}};
    for (auto& c : cases) {
        const auto re = Random(c.size, 1), im = Random(c.size, 2);
        auto r = re, i = im;
        v->Fft(r.data(), i.data(), c.n, true);
        EXPECT_TRUE(Untouched(r, re, c.used) && Untouched(i, im, c.used)) << c.n;
        if (c.used) {
            auto r2 = std::vector<double>(re.begin(), re.begin() + c.used);
            auto i2 = std::vector<double>(im.begin(), im.begin() + c.used);
            CVornix fresh;
            fresh.Fft(r2.data(), i2.data(), c.used, true);
            EXPECT_TRUE(std::equal(r2.begin(), r2.end(), r.begin())) << c.n;
        }
    }
}

TEST(Spectrum, PowerAndDecibels) {
    auto v = Make();
    v->SetDbLim(10);
    double re[3] = {1, 3, 0}, im[3] = {0, 4, 0};
    double rl[3] = {1, 3, 0}, il[3] = {0, 4, 0};
    v->CalcSpectrum(re, im, 3, false);
    v->CalcSpectrum(rl, il, 3, true);
    EXPECT_EQ(re[0], 0);
    EXPECT_NEAR(re[1], 13.979400086720377, 1e-12);
    EXPECT_TRUE(std::isinf(re[2]) && re[2] < 0);
    EXPECT_EQ(rl[0], 1);
    EXPECT_EQ(rl[1], 25);
    EXPECT_EQ(rl[2], 0);
    EXPECT_EQ(im[1], 4);
    double keep[1] = {7};
    v->CalcSpectrum(keep, keep, 0, false);
    v->CalcSpectrum(keep, keep, -3, false);
    EXPECT_EQ(keep[0], 7);
}

TEST(Spectrum, SetDbLimAndLog2) {
    CVornix v;
    EXPECT_EQ(v.SetDbLim(20), -80);
    EXPECT_EQ(v.SetDbLim(-30), -20);
    EXPECT_EQ(v.SetDbLim(0), -30);
    EXPECT_EQ(v.SetDbLim(INT_MIN), 0);
    EXPECT_EQ(v.SetDbLim(INT_MAX), INT_MIN);
    EXPECT_EQ(v.SetDbLim(1), -INT_MAX);
    struct {
        int n, p;
    } cases[] = {{0, -1}, {-5, -1}, {INT_MIN, -1}, {1, 0}, {2, 1}, {3, 1}, {1000, 9}, {65536, 16}, {INT_MAX, 30}};
    for (auto& c : cases) EXPECT_EQ(CVornixProbe::Log2(v, c.n), c.p) << c.n;
}

// ---------------- windows, pre-emphasis, normalisation ----------------

TEST(Conditioning, WindowsMatchClosedForms) {
    CVornix v;
    for (int n : {1, 4, 7, 1000}) {
        const auto x = Random(n, n);
        auto ham = x, ham2 = x, han = x, han2 = x;
        v.Hamming(ham.data(), n);
        v.Ham(ham2.data(), n);
        v.Hanning(han.data(), n);
        v.Han(han2.data(), n);
        EXPECT_EQ(ham, ham2);
        EXPECT_EQ(han, han2);
        for (int i = 0; i < n; i++) {
            const long double c = std::cos(2 * kPiL * i / n);
            EXPECT_NEAR(ham[i], static_cast<double>((0.54L - 0.46L * c) * x[i]), 1e-15) << n << " " << i;
            EXPECT_NEAR(han[i], static_cast<double>((0.5L - 0.5L * c) * x[i]), 1e-15) << n << " " << i;
        }
    }
    double four[4] = {1, 1, 1, 1};
    v.Hamming(four, 4);
    const double ham4[4] = {0.08, 0.54, 1.0, 0.54};
    for (int i = 0; i < 4; i++) EXPECT_NEAR(four[i], ham4[i], 2.3e-16);
    double one[1] = {5};
    v.Hanning(one, 1);
    EXPECT_EQ(one[0], 0);
    double keep[1] = {5};
    v.Hamming(keep, 0);
    v.Hanning(keep, -1);
    EXPECT_EQ(keep[0], 5);
}

TEST(Conditioning, Preemphasis) {
    CVornix v;
    struct {
        std::vector<double> in;
        double coef;
        std::vector<double> out;
    } cases[] = {
        {{2, 2, 2, 2}, 1, {0, 0, 0, 0}},
        {{1, 1, 1}, 0.5, {0, 0.5, 0.5}},
        {{4, -3, 7}, 0, {0, -3, 7}},
        {{9}, 0.97, {0}},
        {{1, 3, 6, 10}, 0.9, {0, 3 - 0.9, 6 - 2.7, 10 - 5.4}},
    };
    for (auto& c : cases) {
        auto x = c.in;
        v.Preemphasis(x.data(), static_cast<int>(x.size()), c.coef);
        for (std::size_t i = 0; i < x.size(); i++) EXPECT_DOUBLE_EQ(x[i], c.out[i]);
    }
    double keep[1] = {5};
    v.Preemphasis(keep, 0, 0.9);
    EXPECT_EQ(keep[0], 5);
    EXPECT_THROW(v.Preemphasis(keep, -1, 0.9), std::bad_alloc);
    EXPECT_EQ(keep[0], 5);
}

TEST(Conditioning, Normalize) {
    CVornix v;
    struct {
        std::vector<double> in, out;
        double divisor;
    } cases[] = {
        {{-1, 0, 1}, {0, 0.5, 1}, 2},
        {{2, 3, 4}, {0.5, 0.75, 1}, 4},
        {{0, 5}, {0, 1}, 5},
        {{7}, {1}, 7},
        // divisor 0: unchanged
        {{0, 0, 0}, {0, 0, 0}, 0},
        {{-2}, {-2}, 0},
        {{-3, -3}, {-3, -3}, 0},
    };
    for (auto& c : cases) {
        auto x = c.in;
        EXPECT_EQ(v.Normalize(x.data(), static_cast<int>(x.size())), c.divisor);
        EXPECT_EQ(x, c.out);
    }
    EXPECT_EQ(v.Normalize(nullptr, 0), 0);
    EXPECT_EQ(v.Normalize(nullptr, -4), 0);
}

// ---------------- FIR design and filtering ----------------

TEST(Fir, I0AndFactorial) {
    CVornix v;
    for (double x : {0.0, 0.5, 1.0, 2.5, 5.0, 8.96})
        EXPECT_NEAR(CVornixProbe::I0(v, x, 20), std::cyl_bessel_i(0.0, x), 1e-12 * std::cyl_bessel_i(0.0, x)) << x;
    EXPECT_EQ(CVornixProbe::I0(v, 3.0, 0), 1);
    EXPECT_EQ(CVornixProbe::I0(v, 3.0, -2), 1);
    EXPECT_EQ(CVornixProbe::I0(v, 3.0, 1), 1 + 1.5 * 1.5);
    struct {
        double x, f;
    } cases[] = {{-1, 0}, {-0.5, 1}, {0, 1}, {1, 1}, {5.7, 120}, {10, 3628800}};
    for (auto& c : cases) EXPECT_EQ(CVornixProbe::Factorial(v, c.x), c.f) << c.x;
}

namespace {

// Independent Kaiser design of the low-pass prototype, 2M + 1 values.
std::vector<long double> Prototype(int taps, double fc, double fs, double att) {
    const int M = taps / 2;
    long double beta = 0;
    if (att > 50)
        beta = 0.1102L * (att - 8.7L);
    else if (att > 21)
        beta = 0.5842L * std::pow(att - 21.0L, 0.4L) + 0.07886L * (att - 21);
    std::vector<long double> a(M + 1);
    a[0] = 2 * fc / fs;
    for (int k = 1; k <= M; k++) {
        const long double r = 2.0L * k / taps;
        a[k] = std::sin(2 * kPiL * k * fc / fs) / (kPiL * k) * std::cyl_bessel_i(0.0L, beta * std::sqrt(1 - r * r)) /
               std::cyl_bessel_i(0.0L, beta);
    }
    long double s = a[0];
    for (int k = 1; k <= M; k++) s += 2 * a[k];
    std::vector<long double> h(2 * M + 1);
    for (int k = 0; k <= M; k++) h[M + k] = h[M - k] = a[k] / s;
    return h;
}

std::vector<double> Design(CVornix& v, int taps, double f1, double f2, double fs, double att, int type) {
    std::vector<double> h(2 * (taps / 2) + 1 + 1, kNaN);  // one guard value
    v.GetFirCoef(h.data(), taps, f1, f2, fs, att, static_cast<filter_type>(type));
    EXPECT_TRUE(std::isnan(h.back())) << "wrote past 2*(taps/2)+1 values";
    h.pop_back();
    return h;
}

}  // namespace

TEST(Fir, DesignsFollowTheirRelations) {
    CVornix v;
    const double fs = 16000;
    for (int taps : {4, 31, 64, 255}) {
        for (double att : {15.0, 21.0, 35.0, 50.0, 50.5, 80.0}) {
            const int M = taps / 2;
            const auto lp = Design(v, taps, 1000, 0, fs, att, low_pass);
            const auto ref = Prototype(taps, 1000, fs, att);
            long double sum = 0;
            for (int i = 0; i <= 2 * M; i++) {
                EXPECT_NEAR(lp[i], static_cast<double>(ref[i]), 1e-13) << taps << " " << att << " " << i;
                EXPECT_EQ(lp[i], lp[2 * M - i]);
                sum += lp[i];
            }
            EXPECT_NEAR(static_cast<double>(sum), 1.0, 1e-13);

            const auto hp = Design(v, taps, 3000, 0, fs, att, high_pass);
            const auto hpProto = Prototype(taps, fs * 0.5 - 3000, fs, att);
            const auto bp = Design(v, taps, 2000, 3000, fs, att, band_pass);
            const auto bs = Design(v, taps, 2000, 3000, fs, att, band_stop);
            const auto bpProto = Prototype(taps, 500, fs, att);
            const double w0 = 5000 * kPi / fs;
            for (int i = 0; i <= 2 * M; i++) {
                const int k = std::abs(i - M);
                EXPECT_NEAR(hp[i], static_cast<double>((k % 2 ? -1 : 1) * hpProto[i]), 1e-13);
                EXPECT_NEAR(bp[i], static_cast<double>(2 * std::cos(k * w0) * bpProto[i]), 1e-13);
                EXPECT_NEAR(bs[i], (i == M ? 1.0 : 0.0) - bp[i], 1e-15);
            }
            for (int other : {4, -1})
                EXPECT_EQ(Design(v, taps, 7000, 1000, fs, att, other), Design(v, taps, 1000, 0, fs, att, low_pass));
        }
    }
    const double one[4] = {1, 1, 2, -1};
    for (int type = 0; type < 4; type++) {
        for (int taps : {0, 1}) {
            const auto h = Design(v, taps, 1000, 3000, fs, 60, type);
            ASSERT_EQ(h.size(), 1u);
            EXPECT_DOUBLE_EQ(h[0], one[type]) << type;
        }
    }
    // A prototype of cut-off 0 sums to 0: no scaling, no NaNs.
    for (double v0 : Design(v, 31, 0, 0, fs, 60, low_pass)) EXPECT_EQ(v0, 0.0);
    const auto stopNothing = Design(v, 31, 2000, 2000, fs, 60, band_stop);
    for (int i = 0; i < 31; i++) EXPECT_EQ(stopNothing[i], i == 15 ? 1.0 : 0.0) << i;

    double untouched[2] = {5, 5};
    v.GetFirCoef(untouched, -1, 1000, 0, fs, 60, low_pass);
    v.GetFirCoef(untouched, INT_MIN, 1000, 0, fs, 60, low_pass);
    EXPECT_EQ(untouched[0], 5);
    EXPECT_EQ(untouched[1], 5);
}

namespace {

// y[i] = sum_{k < taps} h[k] x[(i - k) mod period], with x = 0 from n on and
// before 0 (period 0: no wrap).
std::vector<double> Convolve(const std::vector<double>& x, const std::vector<double>& h, int taps, long period,
                             const std::vector<int>& at = {}) {
    const long n = static_cast<long>(x.size());
    std::vector<int> idx = at;
    if (idx.empty())
        for (int i = 0; i < n; i++) idx.push_back(i);
    std::vector<double> y;
    for (int i : idx) {
        long double s = 0;
        for (long k = 0; k < taps; k++) {
            long j = i - k;
            if (period) j = ((j % period) + period) % period;
            if (j >= 0 && j < n) s += static_cast<long double>(h[k]) * x[j];
        }
        y.push_back(static_cast<double>(s));
    }
    return y;
}

}  // namespace

TEST(Fir, FilterMatchesConvolutionWithinLimits) {
    auto v = Make();
    struct {
        int n, taps, type;
    } cases[] = {{1, 1, low_pass},        {64, 1, low_pass},  {64, 15, high_pass}, {64, 64, band_pass},
                 {64, 65, band_stop},     {64, 66, low_pass}, {64, 128, low_pass}, {1024, 255, low_pass},
                 {32768, 101, band_pass}, {16, 0, low_pass}};
    for (auto& c : cases) {
        const auto x = Random(c.n, c.n + c.taps);
        auto y = x;
        v->FirFilter(y.data(), c.n, c.taps, 2000, 3000, 16000, 60, static_cast<filter_type>(c.type));
        const auto h = Design(*v, c.taps, 2000, 3000, 16000, 60, c.type);
        // Beyond n + 1 taps the 2n-point product wraps the tail onto the start.
        const long period = c.taps > c.n + 1 ? 2L * c.n : 0;
        std::vector<int> at;
        if (c.n > 4096)
            for (int i = 0; i < 300; i++) at.push_back((i * 7919) % c.n);
        const auto ref = Convolve(x, h, c.taps, period, at);
        for (std::size_t i = 0; i < ref.size(); i++)
            ASSERT_NEAR(at.empty() ? y[i] : y[at[i]], ref[i], 1e-13) << c.n << "/" << c.taps << " at " << i;
    }
}

TEST(Fir, ImpulseGivesCoefficientsAndConstantSettles) {
    auto v = Make();
    std::vector<double> x(64, 0.0);
    x[0] = 1;
    v->FirFilter(x.data(), 64, 31, 1500, 0, 16000, 60, low_pass);
    const auto h = Design(*v, 31, 1500, 0, 16000, 60, low_pass);
    for (int i = 0; i < 64; i++) EXPECT_NEAR(x[i], i < 31 ? h[i] : 0.0, 1e-15) << i;

    std::vector<double> c(256, 0.7);
    v->FirFilter(c.data(), 256, 31, 1500, 0, 16000, 60, low_pass);
    double partial = 0;
    for (int i = 0; i < 256; i++) {
        if (i < 31) partial += h[i];
        EXPECT_NEAR(c[i], 0.7 * (i < 31 ? partial : 1.0), 1e-14) << i;
    }
}

// Outside the single-product limits the causal convolution is computed block
// by block, for any n, over the whole array and nothing beyond it.
TEST(Fir, FilterBeyondLimitsIsCausalConvolution) {
    auto v = Make();
    struct {
        int n, taps;
    } cases[] = {{3, 2}, {1000, 255}, {16, 40}, {5, 1000}, {65536, 511}, {70001, 40001}, {100000, 0}};
    for (auto& c : cases) {
        auto x = Random(c.n + 1, c.n);
        x[c.n] = kNaN;  // guard
        const std::vector<double> in(x.begin(), x.end() - 1);
        v->FirFilter(x.data(), c.n, c.taps, 2500, 0, 16000, 70, low_pass);
        EXPECT_TRUE(std::isnan(x[c.n]));
        std::vector<int> at;
        if (static_cast<long>(c.n) * c.taps > 20000000L)
            for (int i = 0; i < 150; i++) at.push_back(static_cast<int>((i * 104729L + c.n - 1) % c.n));
        const auto h = Design(*v, c.taps, 2500, 0, 16000, 70, low_pass);
        const auto ref = Convolve(in, h, c.taps, 0, at);
        for (std::size_t i = 0; i < ref.size(); i++)
            ASSERT_NEAR(at.empty() ? x[i] : x[at[i]], ref[i], 1e-12) << c.n << "/" << c.taps << " at " << i;
    }
    // Nothing to do, nothing touched.
    std::vector<double> keep = {1, 2, 3};
    v->FirFilter(keep.data(), 0, 5, 1000, 0, 16000, 60, low_pass);
    v->FirFilter(keep.data(), -7, 5, 1000, 0, 16000, 60, low_pass);
    v->FirFilter(keep.data(), 3, -1, 1000, 0, 16000, 60, low_pass);
    EXPECT_EQ(keep, (std::vector<double>{1, 2, 3}));
}

// ---------------- Hilbert transform ----------------

TEST(Hilbert, CosinesBecomeSinesWithUnitEnvelopeAndSteadyPhase) {
    auto v = Make();
    for (int n : {8, 512, 65536}) {
        for (int m : {1, 3, n / 2 - 1}) {
            std::vector<double> re(n), im(n, kNaN), power(n), dphase(n);
            for (int j = 0; j < n; j++)
                re[j] = static_cast<double>(std::cos(2 * kPiL * ((static_cast<long>(m) * j) % n) / n));
            v->Hilbert(re.data(), im.data(), n);
            double worst = 0;
            for (int j = 0; j < n; j++) {
                const long double t = 2 * kPiL * ((static_cast<long>(m) * j) % n) / n;
                worst = std::fmax(worst, std::fabs(re[j] - static_cast<double>(std::cos(t))));
                worst = std::fmax(worst, std::fabs(im[j] - static_cast<double>(std::sin(t))));
            }
            EXPECT_LT(worst, 1e-12) << n << " " << m;
            v->CalcHilbertPower(re.data(), im.data(), n, power.data());
            v->CalcHilbertSpectrum(re.data(), im.data(), n, dphase.data());
            for (int j = 0; j < n - 1; j++) {
                ASSERT_NEAR(power[j], 1.0, 1e-12) << n << " " << m << " " << j;
                ASSERT_NEAR(dphase[j], 2 * kPi * m / n, 1e-12) << n << " " << m << " " << j;
            }
            EXPECT_EQ(power[n - 1], 0);
            EXPECT_EQ(dphase[n - 1], 0);
        }
    }
}

// A tone of amplitude A and any phase: envelope A^2, phase advance 2 pi m/n,
// also when the result arrays are the input arrays.
TEST(Hilbert, ToneEnvelopeAndPhaseAdvanceInPlace) {
    auto v = Make();
    const int n = 4096, m = 300;
    const double A = 0.6, phi = 1.1;
    std::vector<double> re(n), im(n);
    for (int j = 0; j < n; j++) re[j] = A * std::cos(2 * kPi * m * j / n + phi);
    v->Hilbert(re.data(), im.data(), n);
    std::vector<double> re2 = re, im2 = im;
    v->CalcHilbertPower(re.data(), im.data(), n, re.data());
    v->CalcHilbertSpectrum(re2.data(), im2.data(), n, im2.data());
    for (int j = 0; j < n - 1; j++) {
        ASSERT_NEAR(re[j], A * A, 1e-12) << j;
        ASSERT_NEAR(im2[j], 2 * kPi * m / n, 1e-12) << j;
    }
}

TEST(Hilbert, EdgeCases) {
    auto v = Make();
    double r1[1] = {3}, i1[1] = {9};
    v->Hilbert(r1, i1, 1);
    EXPECT_EQ(r1[0], 0);
    EXPECT_EQ(i1[0], 0);
    double r2[2] = {1, 4}, i2[2] = {9, 9};
    v->Hilbert(r2, i2, 2);
    EXPECT_EQ(r2[0], 2.5);
    EXPECT_EQ(r2[1], 2.5);
    EXPECT_EQ(i2[0], 0);
    EXPECT_EQ(i2[1], 0);

    std::vector<double> c(16, -0.5), ci(16), alt(16), ai(16);
    for (int j = 0; j < 16; j++) alt[j] = j % 2 ? -1 : 1;
    v->Hilbert(c.data(), ci.data(), 16);
    v->Hilbert(alt.data(), ai.data(), 16);
    for (int j = 0; j < 16; j++) {
        EXPECT_NEAR(c[j], -0.5, 1e-15);
        EXPECT_NEAR(ci[j], 0, 1e-15);
        EXPECT_NEAR(alt[j], 0, 1e-15);
        EXPECT_NEAR(ai[j], 0, 1e-15);
    }

    // Phase +-pi at every sample: steps of +-2 pi wrap to 0.
    std::vector<double> neg(8, -2.0), negi(8, 0.0), dphase(8, kNaN);
    negi[3] = -0.0;
    v->CalcHilbertSpectrum(neg.data(), negi.data(), 8, dphase.data());
    for (double d : dphase) EXPECT_EQ(d, 0);

    double p1[1] = {kNaN};
    v->CalcHilbertPower(r2, i2, 1, p1);
    EXPECT_EQ(p1[0], 0);
    double d1[1] = {kNaN};
    v->CalcHilbertSpectrum(r2, i2, 1, d1);
    EXPECT_EQ(d1[0], 0);
}

// Lengths outside the limits write nothing outside the arrays.
TEST(Hilbert, LengthsOutsideLimitsStayInsideTheArrays) {
    auto v = Make();
    for (int n : {1000, 100000}) {
        std::vector<double> re = Random(n + 1, 5), im(n + 1, 0.0);
        re[n] = im[n] = kNaN;
        v->Hilbert(re.data(), im.data(), n);
        EXPECT_TRUE(std::isnan(re[n]) && std::isnan(im[n])) << n;
    }
    double guard[3] = {kNaN, kNaN, kNaN}, r[1] = {1}, i[1] = {1};
    for (int n : {0, -1, INT_MIN}) {
        v->Hilbert(r, i, n);
        v->CalcHilbertPower(r, i, n, guard + 1);
        v->CalcHilbertSpectrum(r, i, n, guard + 1);
    }
    EXPECT_EQ(r[0], 1);
    EXPECT_EQ(i[0], 1);
    for (double g : guard) EXPECT_TRUE(std::isnan(g));
}
