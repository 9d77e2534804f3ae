// The members the vornix module's benchmark calls from Python, timed here in
// C++ on the same sizes and data, so that the script can print the module's
// cost over the call it wraps. One line a case: "<member> <n> <ns per call>",
// the median over rounds of a batch's time per call.
#include <vornix/CVornix.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <vector>

namespace {

template <typename Call>
double NsPerCall(Call call) {
    using clk = std::chrono::steady_clock;
    // A batch of about a millisecond, after one untimed batch.
    int per = 1;
    for (;;) {
        const auto t0 = clk::now();
        for (int i = 0; i < per; i++) call();
        if (clk::now() - t0 > std::chrono::microseconds(1000)) break;
        per *= 2;
    }
    std::vector<double> rounds;
    for (int r = 0; r < 31; r++) {
        const auto t0 = clk::now();
        for (int i = 0; i < per; i++) call();
        rounds.push_back(std::chrono::duration<double, std::nano>(clk::now() - t0).count() / per);
    }
    std::nth_element(rounds.begin(), rounds.begin() + rounds.size() / 2, rounds.end());
    return rounds[rounds.size() / 2];
}

}  // namespace

int main() {
    CVornix v;
    std::mt19937 gen(1);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    for (int n : {64, 1024, 65536}) {
        std::vector<double> re(n), im(n);
        for (int i = 0; i < n; i++) {
            re[i] = uniform(gen);
            im[i] = uniform(gen);
        }
        // A forward and an inverse transform a step keep the values' size.
        const double fft = NsPerCall([&] {
            v.Fft(re.data(), im.data(), n, true);
            v.Fft(re.data(), im.data(), n, false);
        });
        std::printf("Fft %d %.1f\n", n, fft / 2);
        std::printf("Normalize %d %.1f\n", n, NsPerCall([&] { v.Normalize(re.data(), n); }));
    }
    return 0;
}
