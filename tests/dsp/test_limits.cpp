// Every member at and beyond its limits, with NaN and infinite samples among
// the values. Built with AddressSanitizer and UBSan by `make test`: any access
// outside the arrays or undefined behaviour fails there; here the results
// that the limits promise are checked.
#include <gtest/gtest.h>
#include <vornix/CVornix.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <new>
#include <string>
#include <vector>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// Exactly n values (none for n < 1): a read or write past them is the
// sanitizer's to catch.
std::vector<double> Values(int n, bool special) {
    std::vector<double> v(static_cast<std::size_t>(std::max(n, 0)));
    for (std::size_t i = 0; i < v.size(); i++) v[i] = std::sin(0.37 * static_cast<double>(i) + 0.1);
    if (special && v.size() > 2) {
        v[v.size() / 3] = kNaN;
        v[v.size() / 2] = kInf;
        v[v.size() - 1] = -kInf;
    }
    return v;
}

// Bit for bit from index `from` on (NaN equals NaN here).
bool SameFrom(const std::vector<double>& a, const std::vector<double>& b, std::size_t from = 0) {
    return a.size() == b.size() &&
           (from >= a.size() || std::memcmp(a.data() + from, b.data() + from, (a.size() - from) * sizeof(double)) == 0);
}

bool AllFinite(const std::vector<double>& v, std::size_t count) {
    for (std::size_t i = 0; i < count && i < v.size(); i++)
        if (!std::isfinite(v[i])) return false;
    return true;
}

// Largest power of two not above min(n, 65536); 0 for n < 1.
int TransformLength(int n) {
    if (n < 1) return 0;
    int p = 1;
    while (p * 2 <= std::min(n, 65536)) p *= 2;
    return p;
}

struct Member {
    const char* name;
    // Runs the member on arrays of n values; `special` puts NaN and infinities in.
    std::function<void(CVornix&, int n, bool special)> run;
};

const Member kMembers[] = {
    {"Fft/Ifft",
     [](CVornix& v, int n, bool special) {
         for (bool forward : {true, false}) {
             auto re = Values(n, special), im = Values(n, false);
             const auto re0 = re, im0 = im;
             if (forward)
                 v.Fft(re.data(), im.data(), n, true);
             else
                 v.Ifft(re.data(), im.data(), n);
             const std::size_t N = static_cast<std::size_t>(TransformLength(n));
             EXPECT_TRUE(SameFrom(re, re0, N) && SameFrom(im, im0, N)) << "values past the transform changed";
             if (!special) {
                 EXPECT_TRUE(AllFinite(re, N) && AllFinite(im, N));
             }
         }
     }},
    {"CalcSpectrum",
     [](CVornix& v, int n, bool special) {
         for (bool linear : {true, false}) {
             auto re = Values(n, special), im = Values(n, special);
             v.CalcSpectrum(re.data(), im.data(), n, linear);
         }
     }},
    {"windows",
     [](CVornix& v, int n, bool special) {
         auto x = Values(n, special);
         v.Hamming(x.data(), n);
         v.Ham(x.data(), n);
         v.Hanning(x.data(), n);
         v.Han(x.data(), n);
         if (!special) {
             EXPECT_TRUE(AllFinite(x, x.size()));
         }
     }},
    {"Preemphasis",
     [](CVornix& v, int n, bool special) {
         auto x = Values(n, special);
         if (n < 0) {
             EXPECT_THROW(v.Preemphasis(x.data(), n, 0.97), std::bad_alloc);
         } else {
             v.Preemphasis(x.data(), n, 0.97);
             if (n > 0) {
                 EXPECT_EQ(x[0], 0.0);
             }
         }
         v.Preemphasis(x.data(), std::max(n, 0), kNaN);
     }},
    {"Normalize",
     [](CVornix& v, int n, bool special) {
         auto x = Values(n, special);
         const double d = v.Normalize(x.data(), n);
         if (n < 1) {
             EXPECT_EQ(d, 0.0);
         }
         if (!special && n > 1) {
             EXPECT_GT(d, 0.0);
             for (double y : x) {
                 EXPECT_TRUE(y >= 0 && y <= 1) << y;
             }
         }
     }},
    {"GetFirCoef",
     [](CVornix& v, int n, bool) {
         // n stands for the taps here; 2*(taps/2)+1 coefficients, none for taps < 0.
         if (n > 70000) return;
         const std::size_t count = n < 0 ? 0 : static_cast<std::size_t>(2 * (n / 2) + 1);
         for (filter_type type : {low_pass, high_pass, band_pass, band_stop, static_cast<filter_type>(INT_MIN)}) {
             std::vector<double> h(count);
             v.GetFirCoef(h.data(), n, 1000, 3000, 16000, 60, type);
             EXPECT_TRUE(AllFinite(h, count)) << "type " << static_cast<int>(type);
             v.GetFirCoef(h.data(), n, kNaN, kInf, 0, -kInf, type);
             v.GetFirCoef(h.data(), n, 1000, 3000, 16000, kNaN, type);
         }
     }},
    {"FirFilter",
     [](CVornix& v, int n, bool special) {
         const long long tapsList[] = {-1, 0, 1, 2, n / 2, n, n + 1, 2LL * n, 2LL * n + 1, 3LL * n + 7};
         for (long long t : tapsList) {
             if (t > 70000 || t < INT_MIN) continue;
             const int taps = static_cast<int>(t);
             auto x = Values(n, special);
             const auto x0 = x;
             v.FirFilter(x.data(), n, taps, 1000, 3000, 16000, 60, band_pass);
             if (n < 1 || taps < 0) {
                 EXPECT_TRUE(SameFrom(x, x0)) << "taps " << taps;
             } else if (!special) {
                 EXPECT_TRUE(AllFinite(x, x.size())) << "taps " << taps;
             }
         }
         auto x = Values(n, special);
         v.FirFilter(x.data(), n, 31, kNaN, kInf, 0, kNaN, high_pass);
     }},
    {"Hilbert",
     [](CVornix& v, int n, bool special) {
         auto re = Values(n, special), im = Values(n, false), p = Values(n, false), d = Values(n, false);
         v.Hilbert(re.data(), im.data(), n);
         if (!special) {
             EXPECT_TRUE(AllFinite(re, re.size()) && AllFinite(im, im.size()));
         }
         v.CalcHilbertPower(re.data(), im.data(), n, p.data());
         v.CalcHilbertSpectrum(re.data(), im.data(), n, d.data());
         if (n > 0) {
             EXPECT_EQ(p[n - 1], 0.0);
         }
         if (n > 0) {
             EXPECT_EQ(d[n - 1], 0.0);
         }
         for (double y : d)
             if (!std::isnan(y)) {
                 EXPECT_TRUE(y >= -M_PI && y < M_PI) << y;
             }
         // Infinite and NaN analytic values straight into the two derived members.
         auto sre = Values(n, true), sim = Values(n, true);
         v.CalcHilbertPower(sre.data(), sim.data(), n, p.data());
         v.CalcHilbertSpectrum(sre.data(), sim.data(), n, d.data());
     }},
};

class Limits : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(Limits, EveryMemberStaysInsideItsArrays) {
    const int n = GetParam();
    CVornix v;
    for (const Member& m : kMembers) {
        for (bool special : {false, true}) {
            SCOPED_TRACE(std::string(m.name) + (special ? " with NaN and infinities" : ""));
            m.run(v, n, special);
        }
    }
    // A fresh object after all that still transforms correctly: nothing was overwritten.
    double re[4] = {1, 0, 0, 0}, im[4] = {0, 0, 0, 0};
    v.Fft(re, im, 4, true);
    for (double x : re) {
        EXPECT_EQ(x, 1.0);
    }
}

INSTANTIATE_TEST_SUITE_P(Lengths, Limits,
                         ::testing::Values(INT_MIN, -65537, -1, 0, 1, 2, 3, 5, 6, 1000, 1024, 4097, 32768, 65536, 65537,
                                           100000),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return info.param < 0 ? "minus" + std::to_string(-static_cast<long long>(info.param))
                                                   : std::to_string(info.param);
                         });

TEST(Limits, SetDbLimAtTheIntegerLimits) {
    CVornix v;
    EXPECT_EQ(v.SetDbLim(INT_MIN), -80);
    EXPECT_EQ(v.SetDbLim(INT_MAX), INT_MIN);
    EXPECT_EQ(v.SetDbLim(0), -INT_MAX);
    EXPECT_EQ(v.SetDbLim(1), 0);
}
