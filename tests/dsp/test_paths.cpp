// Accuracy of the path the tests run on against long-double references: Fft
// at every power of two within a bound of the size of a good FFT's rounding
// error (about eps sqrt(log2 N), eps = 2^-53), and the decibels of
// CalcSpectrum.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>

#include "VornixTestUtil.h"

using namespace vtest;

TEST(Paths, FftErrorAgainstLongDoubleDft) {
    CVornix v;
    for (int N = 2; N <= 65536; N *= 2) {
        const auto re0 = Random(N, 11 * N), im0 = Random(N, 11 * N + 1);
        std::vector<cld> x;
        for (int j = 0; j < N; j++) x.emplace_back(re0[j], im0[j]);
        std::vector<int> bins;
        if (N > 1024)
            for (int i = 0; i < 64; i++) bins.push_back(static_cast<int>((i * 2654435761u) % N));
        for (bool forward : {true, false}) {
            auto re = re0, im = im0;
            v.Fft(re.data(), im.data(), N, forward);
            auto ref = Dft(x, forward ? -1 : 1, bins);
            if (!forward)
                for (auto& r : ref) r /= static_cast<long double>(N);
            std::vector<cld> got;
            if (bins.empty())
                for (int k = 0; k < N; k++) got.emplace_back(re[k], im[k]);
            else
                for (int k : bins) got.emplace_back(re[k], im[k]);
            // Measured: 0.5 to 0.7 eps sqrt(log2 N) on every path from 16 points up.
            EXPECT_LT(RelRms(got, ref), 0.8L * 0x1p-53L * std::sqrt(std::log2(N)))
                << "N=" << N << (forward ? " forward" : " inverse");
        }
    }
}

// Decibels to within two units in the last place of 10 log10 p in long
// double, p = re^2 over the whole range of doubles and at the special values,
// at a length that leaves a partial vector at the end.
TEST(Paths, DecibelsAcrossTheRange) {
    CVornix v;
    std::vector<double> re = {1.0,
                              std::nextafter(1.0, 2.0),
                              std::nextafter(1.0, 0.0),
                              1 + 1e-10,
                              1 - 1e-10,
                              1.189207115002721,
                              0.8408964152537145,
                              2.0,
                              0.5,
                              5.0,
                              1e-154,
                              1e154,
                              1e-160};
    std::mt19937 gen(4);
    std::uniform_real_distribution<double> mant(1.0, 2.0);
    std::uniform_int_distribution<int> ex(-511, 511);
    for (int i = 0; i < 2000; i++) re.push_back(std::ldexp(mant(gen), ex(gen)));
    for (int i = 0; i < 200; i++) re.push_back(1 + (mant(gen) - 1.5) * 1e-3);
    std::vector<double> power = re, zeros(re.size(), 0.0);
    v.CalcSpectrum(power.data(), zeros.data(), static_cast<int>(re.size()), false);
    for (std::size_t i = 0; i < re.size(); i++) {
        const long double ref = 10 * std::log10(static_cast<long double>(re[i] * re[i]));
        const double r = static_cast<double>(ref);
        EXPECT_LE(std::fabs(power[i] - ref), 2 * (std::nextafter(std::fabs(r), INFINITY) - std::fabs(r)))
            << "re=" << re[i] << " got " << power[i] << " want " << r;
    }
    double special[5] = {0.0, INFINITY, NAN, -2.0, 3.0}, none[5] = {0, 0, 0, 0, 4};
    v.CalcSpectrum(special, none, 5, false);
    EXPECT_TRUE(std::isinf(special[0]) && special[0] < 0);
    EXPECT_TRUE(std::isinf(special[1]) && special[1] > 0);
    EXPECT_TRUE(std::isnan(special[2]));
    EXPECT_NEAR(special[3], 10 * std::log10(4.0), 1e-14);
    EXPECT_NEAR(special[4], 10 * std::log10(25.0), 1e-14);
}
