// The C++ side of the covarne module's per-call overhead: times the members the
// benchmark calls from Python, on the files it made, and prints one line a case:
//   <case> <nanoseconds per call, best of several rounds>
//
//   ref_covarne <small.wav> <large.wav> <large frames>
// small.wav: one channel of 256 frames; large.wav: two channels.
#include <covarne/Covarne2005.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

std::wstring Wide(const char* s) { return std::wstring(s, s + std::char_traits<char>::length(s)); }

// Nanoseconds per call of `call`, the best of `rounds` rounds of `calls` calls.
double Time(int rounds, long calls, const std::function<void()>& call) {
    double best = 1e300;
    for (int round = 0; round < rounds; ++round) {
        const auto t0 = std::chrono::steady_clock::now();
        for (long i = 0; i < calls; ++i) call();
        const std::chrono::duration<double, std::nano> d = std::chrono::steady_clock::now() - t0;
        best = std::min(best, d.count() / calls);
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: ref_covarne small.wav large.wav large-frames\n");
        return 2;
    }
    const std::wstring small = Wide(argv[1]), large = Wide(argv[2]);
    const int frames = std::atoi(argv[3]);
    Covarne2005 wav;
    std::vector<double> left(static_cast<size_t>(std::max(frames, 256))), right(left.size());
    int sink = 0;
    // The same rounds as bench_covarne.py's.
    const double sr = Time(9, 10000, [&] { sink += wav.GetSr(small.c_str()); });
    const double load = Time(9, 10000, [&] { sink += wav.Load(small.c_str(), 0, 256, left.data(), nullptr); });
    const double big = Time(15, 3, [&] { sink += wav.Load(large.c_str(), 0, frames, left.data(), right.data()); });
    if (sink == 0) return 1;
    std::printf("GetSr %.1f\nLoad256 %.1f\nLoadLarge %.1f\n", sr, load, big);
    return 0;
}
