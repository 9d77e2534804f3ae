// A 60-second stereo stream at 48,000 frames/s in blocks of 4,800 frames,
// through ALSA's file PCM: frames delivered against frames in the file, the
// worker's CPU time per second of audio, and the time from a buffer's
// completion on the device thread to the window handler's call. As a peer,
// the same PCM read directly with snd_pcm_readi.
#include "AlsaFilePcm.h"

#include <tamblo/CTamblo.h>
#include <tamblo/CTambloWindow.h>

#include "platform/TambloWaveIn.h"

#include <alsa/asoundlib.h>
#include <dirent.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kBlock = 4800;
constexpr long kFrames = 60L * kRate;
constexpr int kBlocks = static_cast<int>(kFrames / kBlock);

std::int16_t FileSample(long n)
{
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(n * 7 + 1));
}

std::int64_t NowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::vector<std::int64_t> g_done(kBlocks + 4);
std::atomic<int> g_doneCount{0};

void OnDone(const tamblo::WAVEHDR*, std::int64_t ns)
{
    int k = g_doneCount.fetch_add(1);
    if (k < static_cast<int>(g_done.size()))
        g_done[k] = ns;
}

// CPU time (ns) of this process's thread named `name`, from the scheduler's
// own account; -1 when there is none.
long long ThreadCpuNs(const char* name)
{
    DIR* dir = opendir("/proc/self/task");
    if (!dir)
        return -1;
    long long ns = -1;
    while (dirent* e = readdir(dir)) {
        std::string base = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(base + "/comm");
        std::string n;
        if (std::getline(comm, n) && n == name) {
            std::ifstream stat(base + "/schedstat");
            stat >> ns;
        }
    }
    closedir(dir);
    return ns;
}

double Seconds(std::int64_t ns)
{
    return ns * 1e-9;
}

// The peer: the same PCM read with snd_pcm_readi in blocks of kBlock frames.
double DirectReadSeconds(long* frames)
{
    snd_pcm_t* pcm;
    *frames = 0;
    if (snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, 0) < 0)
        return -1;
    snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, kChannels, kRate, 1, 1000000);
    std::vector<std::int16_t> buf(kBlock * kChannels);
    std::int64_t t0 = NowNs();
    while (*frames < kFrames) {
        snd_pcm_sframes_t got = snd_pcm_readi(pcm, buf.data(), kBlock);
        if (got < 0 && snd_pcm_recover(pcm, static_cast<int>(got), 1) < 0)
            break;
        if (got > 0)
            *frames += got;
    }
    double s = Seconds(NowNs() - t0);
    snd_pcm_close(pcm);
    return s;
}

}  // namespace

int main()
{
    AlsaFilePcm pcm(kFrames * kChannels, FileSample);
    tamblo::waveInSetDoneHook(OnDone);

    CTamblo rec;
    std::vector<double> left(kBlock), right(kBlock);
    std::vector<std::int64_t> handled;
    handled.reserve(kBlocks);
    long delivered = 0, wrong = 0;
    long long workerNs = -1;
    CTambloWindow window([&](UINT message, WPARAM index, LPARAM) -> LRESULT {
        if (message != UM_BLOCK_READY)
            return 0;
        handled.push_back(NowNs());
        rec.GetBuffer(static_cast<int>(index), left.data(), right.data());
        for (int i = 0; i < kBlock; ++i, ++delivered) {
            wrong += left[i] != FileSample(2 * delivered) / 32768.0;
            wrong += right[i] != FileSample(2 * delivered + 1) / 32768.0;
        }
        wrong += static_cast<int>(index) != static_cast<int>((handled.size() - 1) % 2);
        // The two buffers still with the device end the file: keep the rest.
        if (static_cast<int>(handled.size()) < kBlocks - 1)
            rec.AddBuffer();
        if (static_cast<int>(handled.size()) == kBlocks)
            workerNs = ThreadCpuNs("tamblo-worker");
        return 0;
    });

    std::int64_t t0 = NowNs();
    rec.Prepare(window.GetHwnd(), kBlock, kChannels, 16, kRate);
    rec.Start();
    while (static_cast<int>(handled.size()) < kBlocks && window.Pump(5000) > 0) {
    }
    double wall = Seconds(NowNs() - t0);
    wchar_t text[256];
    int error = rec.GetLastError(text, 256);
    rec.Stop();

    std::vector<double> latency;
    int pairs = std::min(static_cast<int>(handled.size()), g_doneCount.load());
    for (int k = 0; k < pairs; ++k)
        latency.push_back((handled[k] - g_done[k]) * 1e-3);
    std::sort(latency.begin(), latency.end());
    double median = latency.empty() ? -1 : latency[latency.size() / 2];
    double worst = latency.empty() ? -1 : latency.back();

    long peerFrames = 0;
    double peer = DirectReadSeconds(&peerFrames);

    std::printf("capture stream: %d blocks of %d frames, %d ch, %d frames/s (%.0f s of audio)\n", kBlocks, kBlock,
                kChannels, kRate, kFrames / double(kRate));
    std::printf("  frames delivered  %ld of %ld in the file, %ld wrong or out of order, device error %d\n",
                delivered, kFrames, wrong, error);
    std::printf("  worker CPU        %.2f ms in all, %.4f %% of the audio's duration (target < 1 %%)\n",
                workerNs * 1e-6, workerNs * 1e-9 / (kFrames / double(kRate)) * 100.0);
    std::printf("  completion->handler  median %.1f us, max %.1f us over %d blocks (target median < 1000 us)\n",
                median, worst, pairs);
    std::printf("  wall time         %.3f s through Tamblo; %.3f s for the same PCM by snd_pcm_readi (%ld frames), "
                "ratio %.2f\n",
                wall, peer, peerFrames, peer > 0 ? wall / peer : 0.0);
    bool ok = delivered == kFrames && wrong == 0 && error == 0;
    std::printf("  %s\n", ok ? "every frame exactly once, in order" : "FRAMES LOST, WRONG OR OUT OF ORDER");
    return ok ? 0 : 1;
}
