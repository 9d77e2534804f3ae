// Streams of 48,000 frames/s stereo from a private PulseAudio server (the
// monitor of a null sink a player plays a position-naming signal into),
// through ALSA's "default" PCM, in blocks of 20 ms and of 100 ms: frames
// delivered against the wall clock, breaks in the signal, the whole
// process's CPU time per second of audio, and the time from a buffer's
// completion on the device thread to the window handler's call. As the peer,
// `arecord -D default` with the same period and buffer records the same
// source at the same time.
//
//   bench_capture [seconds]   (default 10; the figure is 60)
#include <sys/resource.h>
#include <tamblo/CTamblo.h>
#include <tamblo/CTambloWindow.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "PulseServer.h"
#include "platform/TambloWaveIn.h"

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;

std::int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

double ProcessCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
}

std::vector<std::int64_t> g_done;
std::atomic<int> g_doneCount{0};

void OnDone(const tamblo::WAVEHDR*, std::int64_t ns) {
    int k = g_doneCount.fetch_add(1);
    if (k < static_cast<int>(g_done.size())) g_done[k] = ns;
}

struct Result {
    double audioSeconds = 0, wallSeconds = 0, cpuSeconds = 0;
    long frames = 0;
    pulse::Check check;
    double medianUs = -1, p99Us = -1;
    int error = 0;
};

Result Stream(int block, int seconds, long signalFrames) {
    const int blocks = seconds * kRate / block;
    g_done.assign(blocks + 8, 0);
    g_doneCount = 0;
    tamblo::waveInSetDoneHook(OnDone);
    CTamblo rec;
    // The host's work is only to keep the blocks; they are checked afterwards.
    std::vector<double> left(static_cast<size_t>(blocks + 1) * block), right(left.size());
    std::vector<std::int64_t> handled;
    handled.reserve(blocks);
    CTambloWindow window([&](UINT message, WPARAM index, LPARAM) -> LRESULT {
        if (message != UM_BLOCK_READY) return 0;
        size_t at = handled.size() * static_cast<size_t>(block);
        handled.push_back(NowNs());
        if (at + block <= left.size()) rec.GetBuffer(static_cast<int>(index), &left[at], &right[at]);
        rec.AddBuffer();
        return 0;
    });
    Result r;
    rec.Prepare(window.GetHwnd(), block, kChannels, 16, kRate);
    rec.Start();
    // The clock starts with the first block: a null sink nobody recorded
    // from may take over a second to deliver it.
    while (handled.empty() && window.Pump(5000) > 0) {
    }
    double cpu0 = ProcessCpuSeconds();
    std::int64_t t0 = NowNs();
    while (static_cast<int>(handled.size()) < blocks && window.Pump(5000) > 0) {
    }
    r.wallSeconds = (NowNs() - t0) * 1e-9;
    r.cpuSeconds = ProcessCpuSeconds() - cpu0;
    r.audioSeconds = (static_cast<double>(handled.size()) - 1) * block / kRate;
    r.error = rec.GetLastError(nullptr, 0);
    rec.Stop();
    tamblo::waveInSetDoneHook(nullptr);
    r.frames = static_cast<long>(std::min(handled.size() * static_cast<size_t>(block), left.size()));
    std::vector<std::int16_t> all;
    for (long i = 0; i < r.frames; ++i) {
        all.push_back(static_cast<std::int16_t>(std::lround(left[i] * 32768.0)));
        all.push_back(static_cast<std::int16_t>(std::lround(right[i] * 32768.0)));
    }
    r.check = pulse::Verify(all, kChannels, signalFrames);
    std::vector<double> latency;
    int pairs = std::min(static_cast<int>(handled.size()), g_doneCount.load());
    for (int k = 0; k < pairs; ++k) latency.push_back((handled[k] - g_done[k]) * 1e-3);
    std::sort(latency.begin(), latency.end());
    if (!latency.empty()) {
        r.medianUs = latency[latency.size() / 2];
        r.p99Us = latency[latency.size() * 99 / 100];
    }
    return r;
}

// arecord recording the same source with the same period and buffer, at
// the same time as the kit (so both meet the same load on a shared machine).
class Arecord {
public:
    Arecord(int block, int seconds) : m_seconds(seconds) {
        std::vector<std::string> args = {"/usr/bin/arecord",
                                         "-q",
                                         "-D",
                                         "default",
                                         "-f",
                                         "S16_LE",
                                         "-r",
                                         std::to_string(kRate),
                                         "-c",
                                         std::to_string(kChannels),
                                         "-t",
                                         "raw",
                                         "--period-size=" + std::to_string(block),
                                         "--buffer-size=" + std::to_string(2 * kRate),
                                         "-d",
                                         std::to_string(seconds),
                                         "/dev/null"};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(&a[0]);
        argv.push_back(nullptr);
        if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) m_pid = 0;
    }

    // Its CPU time per second of audio, once it has ended; -1 when it failed.
    double CpuPerAudioSecond() {
        if (m_pid <= 0) return -1;
        int status = 0;
        rusage u{};
        wait4(m_pid, &status, 0, &u);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
        double cpu = u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
        return cpu / m_seconds;
    }

private:
    pid_t m_pid = 0;
    int m_seconds;
};

}  // namespace

int main(int argc, char** argv) {
    const int seconds = argc > 1 ? std::max(2, std::atoi(argv[1])) : 10;
    char tmpl[] = "/tmp/tamblo-bench-XXXXXX";
    if (!mkdtemp(tmpl)) return 1;
    std::string base = tmpl;
    setenv("TAMBLO_PULSE_DIR", base.c_str(), 1);
    setenv("TAMBLO_PULSE_SCRIPT", TAMBLO_PULSE_SCRIPT, 1);
    bool ok = true;
    {
        pulse::PrivateServer server("server");
        if (!server.Up()) {
            std::printf("capture stream: skipped, %s\n", pulse::Missing(server.Dir()).c_str());
            rmdir(tmpl);
            return 0;
        }
        pulse::Use(server.Dir(), kRate, kChannels);
        const int signalSeconds = 2 * (seconds + 5) + 10;  // both block sizes
        pulse::Player player(server.Dir(), kRate, kChannels, signalSeconds);
        std::printf("capture stream: %d s of %d frames/s stereo per block size, from PulseAudio's null-sink monitor\n",
                    seconds, kRate);
        for (int block : {960, 4800}) {
            Arecord arecord(block, seconds + 1);
            Result r = Stream(block, seconds, static_cast<long>(kRate) * signalSeconds);
            double peer = arecord.CpuPerAudioSecond();
            double kit = r.audioSeconds > 0 ? r.cpuSeconds / r.audioSeconds : -1;
            std::printf("  blocks of %d frames (%d ms)\n", block, block * 1000 / kRate);
            std::printf(
                "    frames delivered  %ld, %.3f s of audio in %.3f s of wall clock; %ld breaks (%ld frames "
                "skipped), %ld frames not the signal, %ld frames of leading silence, device error %d\n",
                r.frames, r.audioSeconds, r.wallSeconds, r.check.breaks, r.check.skipped, r.check.unknown,
                r.check.silence, r.error);
            std::printf(
                "    process CPU       %.2f ms per audio second; arecord -D default %.2f ms; ratio %.2f "
                "(target <= 1.2)\n",
                kit * 1e3, peer * 1e3, peer > 0 ? kit / peer : 0.0);
            std::printf("    completion->handler  median %.1f us, p99 %.1f us (targets 200 us, 1000 us)\n", r.medianUs,
                        r.p99Us);
            ok = ok && r.check.breaks == 0 && r.check.unknown == 0 && r.error == 0;
        }
    }
    rmdir(tmpl);
    std::printf("  %s\n", ok ? "every frame exact, in order" : "FRAMES LOST, WRONG OR OUT OF ORDER");
    return ok ? 0 : 1;
}
