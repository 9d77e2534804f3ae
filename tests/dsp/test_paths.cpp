// Accuracy of the path the tests run on: Fft against a long-double DFT at
// every power of two, within a bound of the size of a good FFT's rounding
// error (about eps sqrt(log2 N), eps = 2^-53).
#include <gtest/gtest.h>

#include <cmath>

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
            // Measured: 0.6 to 0.75 eps sqrt(log2 N) on every path from 16 points up.
            EXPECT_LT(RelRms(got, ref), 0.9L * 0x1p-53L * std::sqrt(std::log2(N)))
                << "N=" << N << (forward ? " forward" : " inverse");
        }
    }
}
