// Accuracy of the path the tests run on: Fft against a long-double DFT at
// every power of two, within a bound of the size of a good FFT's rounding
// error (about eps sqrt(log2 N), eps = 2^-53).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>

#include "VornixTestUtil.h"

using namespace vtest;

TEST(Paths, FftErrorAgainstLongDoubleDft) {
    CVornix v;
    for (int N = 2; N <= 65536; N *= 2) {
        const auto re0 = Random(N, 11 * N), im0 = Random(N, 11 * N + 1);
        std::vector<cld> x;
        for (int j = 0; j < N; j++) x.emplace_back(re0[j], im0[j]);
        std::vector<int> bins;
        if (N > 2048)
            for (int i = 0; i < 256; i++) bins.push_back(static_cast<int>((i * 2654435761u) % N));
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
            const double err = static_cast<double>(RelRms(got, ref));
            std::printf("N=%d %s err=%.3g  (per eps sqrt(log2 N): %.3f)\n", N, forward ? "fwd" : "inv", err,
                        err / (0x1p-53 * std::sqrt(std::log2(N))));
        }
    }
}
