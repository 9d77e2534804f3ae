// Reference figures for bench_tamblo.py, from the process's default input
// (the benchmark points it at a private PulseAudio server):
//
//   ref_tamblo calls       time per call (ns) of cheap members, one line each
//   ref_tamblo stream S    a stream of 20 ms stereo blocks for S s: CPU ms
//                          per second of audio of the process and of the
//                          thread that takes the blocks
#include <sys/resource.h>
#include <tamblo/CTamblo.h>
#include <tamblo/CTambloWindow.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr int kRate = 48000;

double nowSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double cpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

double threadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Best of three runs of at least 0.2 s each, in ns per call.
template <class F>
double perCall(F f) {
    double best = 1e30;
    for (int run = 0; run < 3; ++run) {
        long n = 1;
        for (;;) {
            double t0 = nowSeconds();
            for (long i = 0; i < n; ++i) f();
            double t = nowSeconds() - t0;
            if (t >= 0.2) {
                best = std::min(best, t / n * 1e9);
                break;
            }
            n *= 2;
        }
    }
    return best;
}

int calls() {
    CTamblo rec;
    CTambloWindow window([](UINT, WPARAM, LPARAM) -> LRESULT { return 0; });
    volatile long sink = 0;
    std::printf("GetVersion %.1f\n", perCall([&] { sink = sink + rec.GetVersion(0)[0]; }));
    wchar_t text[256];
    std::printf("GetLastError %.1f\n", perCall([&] { sink = sink + rec.GetLastError(text, 256); }));
    std::printf("GetDroppedFrames %.1f\n", perCall([&] { sink = sink + rec.GetDroppedFrames(); }));
    for (int block : {960, kRate}) {
        // Prepared, not started: the worker's buffers are there to convert.
        rec.Prepare(window.GetHwnd(), block, 2, 16, kRate);
        if (int code = rec.GetLastError(text, 256)) {
            std::fprintf(stderr, "ref_tamblo: the device did not open (%d)\n", code);
            return 1;
        }
        std::vector<double> left(block), right(block);
        std::printf("GetBuffer%d %.1f\n", block, perCall([&] { rec.GetBuffer(0, left.data(), right.data()); }));
        rec.Stop();
    }
    return 0;
}

int stream(int seconds) {
    const int block = 960;
    CTamblo rec;
    std::vector<double> left(block), right(block);
    long blocks = 0;
    CTambloWindow window([&](UINT message, WPARAM index, LPARAM) -> LRESULT {
        if (message != UM_BLOCK_READY) return 0;
        rec.GetBuffer(static_cast<int>(index), left.data(), right.data());
        rec.AddBuffer();
        ++blocks;
        return 0;
    });
    rec.Prepare(window.GetHwnd(), block, 2, 16, kRate);
    rec.Start();
    // The clock starts with the first block.
    while (blocks == 0 && window.Pump(5000) > 0) {
    }
    double cpu0 = cpuSeconds(), own0 = threadCpuSeconds();
    long first = blocks;
    const long want = first + static_cast<long>(seconds) * kRate / block;
    while (blocks < want && window.Pump(5000) > 0) {
    }
    double cpu = cpuSeconds() - cpu0, own = threadCpuSeconds() - own0;
    double audio = static_cast<double>(blocks - first) * block / kRate;
    int code = rec.GetLastError(nullptr, 0);
    rec.Stop();
    if (code != 0 || audio <= 0) {
        std::fprintf(stderr, "ref_tamblo: the stream failed (%d)\n", code);
        return 1;
    }
    std::printf("stream %.3f %.3f %.3f\n", cpu / audio * 1e3, own / audio * 1e3, audio);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "calls") == 0) return calls();
    if (argc >= 3 && std::strcmp(argv[1], "stream") == 0) return stream(std::max(1, std::atoi(argv[2])));
    std::fprintf(stderr, "usage: ref_tamblo calls | ref_tamblo stream SECONDS\n");
    return 2;
}
