#include "ScriptedWaveIn.h"

#include "platform/TambloWaveIn.h"
#include "platform/TambloWaveInText.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

namespace {

std::mutex g_mutex;
DeviceScript g_script;
DeviceCounters g_counters{0, 0};
std::atomic<tamblo::WaveInDoneHook> g_hook{nullptr};

}  // namespace

void SetDeviceScript(const DeviceScript& script)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    g_script = script;
}

DeviceCounters GetDeviceCounters()
{
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_counters;
}

namespace tamblo {

struct WaveInDevice {
    DeviceScript script;
    ThreadId notify = 0;
    std::atomic<int>* lost = nullptr;
    std::uint32_t frameBytes = 0;
    long sample = 0;

    std::mutex mutex;
    std::condition_variable cond;
    std::deque<WAVEHDR*> queue;
    bool running = false;
    bool quit = false;
    bool failed = false;
    int returned = 0;         // full buffers returned so far
    unsigned generation = 0;  // bumped by every reset
    std::thread thread;

    void Return()
    {
        WAVEHDR* hdr = queue.front();
        queue.pop_front();
        hdr->dwFlags = (hdr->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        if (WaveInDoneHook hook = g_hook.load())
            hook(hdr, std::chrono::duration_cast<std::chrono::nanoseconds>(
                          std::chrono::steady_clock::now().time_since_epoch()).count());
        PostThreadMessage(notify, MM_WIM_DATA, 0, 0);
    }

    void Loop()
    {
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            cond.wait(lock, [this] { return quit || (running && !queue.empty()); });
            if (quit)
                return;
            if (script.failAfter > 0 && returned == script.failAfter) {
                // The device is gone: what is queued comes back with nothing in it.
                failed = true;
                running = false;
                while (!queue.empty())
                    Return();
                continue;
            }
            unsigned gen = generation;
            WAVEHDR* hdr = queue.front();
            if (script.fillMs > 0) {
                cond.wait_for(lock, std::chrono::milliseconds(script.fillMs),
                              [&] { return quit || generation != gen; });
                if (quit || generation != gen)
                    continue;
            }
            auto* dst = reinterpret_cast<std::int16_t*>(hdr->lpData);
            for (std::uint32_t i = 0; i < hdr->dwBufferLength / 2; ++i)
                dst[i] = ScriptedSample(sample++);
            hdr->dwBytesRecorded = hdr->dwBufferLength;
            if (lost)
                *lost += script.lostPerBuffer;
            ++returned;
            Return();
        }
    }
};

MMRESULT waveInOpen(HWAVEIN* phwi, UINT, const WAVEFORMATEX* format, ThreadId notify,
                    std::atomic<int>* lostFrames)
{
    *phwi = nullptr;
    DeviceScript script;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        script = g_script;
    }
    if (script.openResult != 0)
        return script.openResult;
    auto* dev = new WaveInDevice;
    dev->script = script;
    dev->notify = notify;
    dev->lost = lostFrames;
    dev->frameBytes = format->nBlockAlign;
    dev->thread = std::thread([dev] { dev->Loop(); });
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_counters.opens;
    }
    *phwi = dev;
    PostThreadMessage(notify, MM_WIM_OPEN, 0, 0);
    return 0;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* hdr)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> lock(hwi->mutex);
    hdr->dwFlags |= WHDR_PREPARED;
    return 0;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* hdr)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> lock(hwi->mutex);
    if (hwi->failed)
        return hwi->script.failResult;
    if (hdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLQUEUED;
    hdr->dwFlags = (hdr->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    hdr->dwBytesRecorded = 0;
    hwi->queue.push_back(hdr);
    hwi->cond.notify_all();
    return 0;
}

MMRESULT waveInStart(HWAVEIN hwi)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    if (hwi->script.startResult != 0)
        return hwi->script.startResult;
    std::lock_guard<std::mutex> lock(hwi->mutex);
    if (hwi->failed)
        return hwi->script.failResult;
    hwi->running = true;
    hwi->cond.notify_all();
    return 0;
}

MMRESULT waveInReset(HWAVEIN hwi)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    if (hwi->script.resetResult != 0)
        return hwi->script.resetResult;
    std::lock_guard<std::mutex> lock(hwi->mutex);
    hwi->running = false;
    ++hwi->generation;
    while (!hwi->queue.empty())
        hwi->Return();
    hwi->cond.notify_all();
    return 0;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* hdr)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    if (hwi->script.unprepareResult != 0)
        return hwi->script.unprepareResult;
    std::lock_guard<std::mutex> lock(hwi->mutex);
    if (hdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLQUEUED;
    hdr->dwFlags &= ~WHDR_PREPARED;
    return 0;
}

MMRESULT waveInClose(HWAVEIN hwi)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> lock(hwi->mutex);
        if (!hwi->queue.empty())
            return WAVERR_STILLQUEUED;
        hwi->quit = true;
        hwi->cond.notify_all();
    }
    hwi->thread.join();
    bool post = !hwi->script.closeNeverComes;
    ThreadId notify = hwi->notify;
    delete hwi;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_counters.closes;
    }
    if (post)
        PostThreadMessage(notify, MM_WIM_CLOSE, 0, 0);
    return 0;
}

void waveInGetErrorText(MMRESULT code, wchar_t* text, int size)
{
    const char* own = waveInOwnErrorText(code);
    copyErrorText(own ? own : "scripted device error", text, size);
}

void waveInSetDoneHook(WaveInDoneHook hook)
{
    g_hook.store(hook);
}

}  // namespace tamblo
