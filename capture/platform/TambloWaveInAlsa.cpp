// The wave-input device over ALSA: the PCM "default" for capture, 16-bit
// little-endian, read by a thread of its own into the queued buffers.
#include "platform/TambloWaveIn.h"
#include "platform/TambloWaveInText.h"

#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tamblo {

namespace {

std::atomic<WaveInDoneHook> g_doneHook{nullptr};

// ALSA prints its diagnostics ("ALSA lib pcm.c: … Unknown PCM default") on
// standard error unless a handler is set. We set a silent one, but only while
// the handler is still ALSA's own: a host that set its handler keeps it.
void quietAlsaError(const char*, int, const char*, int, const char*, ...) {}

std::mutex g_errorHookMutex;

void keepAlsaQuiet()
{
    std::lock_guard<std::mutex> lock(g_errorHookMutex);
    snd_lib_error_handler_t current = snd_lib_error;
    if (current == quietAlsaError)
        return;
    Dl_info handler, alsa;
    if (!dladdr(reinterpret_cast<void*>(current), &handler) ||
        !dladdr(reinterpret_cast<void*>(&snd_pcm_open), &alsa) || handler.dli_fbase != alsa.dli_fbase)
        return;
    snd_lib_error_set_handler(quietAlsaError);
}

// When the library is unloaded, ALSA must not keep a pointer into it.
struct RestoreAlsaHandler {
    ~RestoreAlsaHandler()
    {
        std::lock_guard<std::mutex> lock(g_errorHookMutex);
        if (snd_lib_error == quietAlsaError)
            snd_lib_error_set_handler(nullptr);
    }
} g_restoreAlsaHandler;

std::int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

struct WaveInDevice {
    enum Command { kNone, kStart, kReset, kClose };
    static constexpr int kCommandWaitMs = 1000;

    snd_pcm_t* pcm = nullptr;
    ThreadId notify = 0;
    std::atomic<int>* lost = nullptr;
    unsigned rate = 0;
    std::uint32_t frameBytes = 0;
    int wakeFd = -1;
    std::thread thread;

    std::mutex commandMutex;  // one command at a time
    std::mutex mutex;         // guards everything below
    std::condition_variable cond;
    std::deque<WAVEHDR*> queue;
    Command command = kNone;
    MMRESULT commandResult = 0;
    bool running = false;
    bool failed = false;      // the PCM broke: buffers come back as they are
    MMRESULT failure = 0;     // why, for waveInAddBuffer and waveInStart
    std::uint32_t filled = 0; // bytes of the front buffer filled so far

    void Wake()
    {
        std::uint64_t one = 1;
        if (write(wakeFd, &one, sizeof one) < 0) {
            // The counter cannot overflow; a pending wake is as good as a new one.
        }
    }

    void DrainWake()
    {
        std::uint64_t n;
        if (read(wakeFd, &n, sizeof n) < 0) {
            // Nothing pending (EAGAIN).
        }
    }

    // A command waits for the device thread, which takes it between reads.
    // A read can block when the PCM's input stalls (a file PCM reading a
    // FIFO, for one): then the command is withdrawn, so that no caller hangs.
    MMRESULT Run(Command c)
    {
        std::lock_guard<std::mutex> serial(commandMutex);
        std::unique_lock<std::mutex> lock(mutex);
        command = c;
        Wake();
        if (!cond.wait_for(lock, std::chrono::milliseconds(kCommandWaitMs), [this] { return command == kNone; })) {
            command = kNone;
            return WAVERR_TIMEDOUT;
        }
        return commandResult;
    }

    // Called with `mutex` held, on the device thread.
    void Complete()
    {
        WAVEHDR* hdr = queue.front();
        queue.pop_front();
        hdr->dwBytesRecorded = filled;
        hdr->dwFlags = (hdr->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        filled = 0;
        if (WaveInDoneHook hook = g_doneHook.load())
            hook(hdr, nowNs());
        PostThreadMessage(notify, MM_WIM_DATA, 0, 0);
    }

    MMRESULT Execute(Command c)
    {
        switch (c) {
        case kStart:
            if (failed)
                return failure;
            if (!running) {
                if (snd_pcm_state(pcm) != SND_PCM_STATE_RUNNING) {
                    int err = snd_pcm_start(pcm);
                    if (err < 0)
                        return err;
                }
                running = true;
            }
            return 0;
        case kReset:
            snd_pcm_drop(pcm);
            snd_pcm_prepare(pcm);
            running = false;
            while (!queue.empty())
                Complete();
            return 0;
        case kClose:
            if (!queue.empty())
                return WAVERR_STILLQUEUED;
            snd_pcm_close(pcm);
            pcm = nullptr;
            return 0;
        case kNone:
            break;
        }
        return 0;
    }

    // An overrun stopped capture: count what was lost and capture on.
    // Returns 0, or the error that keeps capture from going on.
    int RecoverOverrun()
    {
        snd_pcm_status_t* status;
        snd_pcm_status_alloca(&status);
        long lostFrames = 0;
        if (snd_pcm_status(pcm, status) == 0) {
            snd_htimestamp_t now, trigger;
            snd_pcm_status_get_htstamp(status, &now);
            snd_pcm_status_get_trigger_htstamp(status, &trigger);
            double stopped = (now.tv_sec - trigger.tv_sec) + (now.tv_nsec - trigger.tv_nsec) * 1e-9;
            lostFrames = static_cast<long>(snd_pcm_status_get_avail(status));
            if (stopped > 0)
                lostFrames += static_cast<long>(stopped * rate);
        }
        if (lost)
            lost->fetch_add(static_cast<int>(lostFrames));
        return Restart();
    }

    int Restart()
    {
        int err = snd_pcm_prepare(pcm);
        return err < 0 ? err : std::min(snd_pcm_start(pcm), 0);
    }

    void Loop()
    {
        std::vector<pollfd> fds(1);
        fds[0] = {wakeFd, POLLIN, 0};
        int n = snd_pcm_poll_descriptors_count(pcm);
        if (n > 0) {
            fds.resize(1 + n);
            snd_pcm_poll_descriptors(pcm, &fds[1], n);
        }
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            if (command != kNone) {
                Command c = command;
                commandResult = Execute(c);
                command = kNone;
                cond.notify_all();
                if (c == kClose && commandResult == 0)
                    return;
                continue;
            }
            if (!(running || failed) || queue.empty()) {
                // Nothing to fill: ALSA's ring buffer holds the frames meanwhile.
                lock.unlock();
                poll(fds.data(), 1, -1);
                DrainWake();
                lock.lock();
                continue;
            }
            WAVEHDR* hdr = queue.front();
            if (failed || hdr->dwBufferLength == filled) {
                Complete();
                continue;
            }
            // Only this thread removes the front buffer, so it stays ours
            // while the lock is released for the read.
            char* dst = hdr->lpData + filled;
            snd_pcm_uframes_t frames = (hdr->dwBufferLength - filled) / frameBytes;
            lock.unlock();
            snd_pcm_sframes_t got = snd_pcm_readi(pcm, dst, frames);
            bool wait = got == -EAGAIN || got == 0;
            int error = 0;
            if (got == -EPIPE) {
                error = RecoverOverrun();
            } else if (got == -ESTRPIPE) {
                int err;
                while ((err = snd_pcm_resume(pcm)) == -EAGAIN)
                    std::this_thread::sleep_for(std::chrono::milliseconds(10));
                if (err < 0)
                    error = Restart();
            } else if (got < 0 && !wait) {
                // e.g. -ENODEV: the device is gone
                error = snd_pcm_recover(pcm, static_cast<int>(got), 1);
                if (error == 0)
                    error = std::min(snd_pcm_start(pcm), 0);
            }
            if (wait) {
                poll(fds.data(), fds.size(), -1);
                DrainWake();
            }
            lock.lock();
            if (got > 0)
                filled += static_cast<std::uint32_t>(got) * frameBytes;
            if (error < 0 && !failed) {
                failed = true;
                failure = error;
            }
        }
    }
};

MMRESULT waveInOpen(HWAVEIN* phwi, UINT deviceId, const WAVEFORMATEX* format, ThreadId notify,
                    std::atomic<int>* lostFrames)
{
    if (!phwi || !format)
        return MMSYSERR_INVALPARAM;
    *phwi = nullptr;
    if (deviceId != WAVE_MAPPER)
        return MMSYSERR_INVALPARAM;
    if (format->wFormatTag != WAVE_FORMAT_PCM || format->wBitsPerSample != 16 || format->nChannels < 1 ||
        format->nChannels > 2 || format->nSamplesPerSec == 0 || format->nBlockAlign != format->nChannels * 2)
        return WAVERR_BADFORMAT;

    keepAlsaQuiet();
    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
    if (err < 0)
        return err;

    unsigned rate = format->nSamplesPerSec;
    snd_pcm_hw_params_t* hw;
    snd_pcm_hw_params_alloca(&hw);
    snd_pcm_uframes_t buffer = 2 * static_cast<snd_pcm_uframes_t>(rate);
    snd_pcm_uframes_t period = rate / 50 > 32 ? rate / 50 : 32;
    snd_pcm_uframes_t minBuffer = rate;
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0 ||
        (err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
        (err = snd_pcm_hw_params_set_channels(pcm, hw, format->nChannels)) < 0 ||
        (err = snd_pcm_hw_params_set_rate_resample(pcm, hw, 1)) < 0 ||
        (err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0)) < 0) {
        snd_pcm_close(pcm);
        return err;
    }
    // At least one second of ring buffer where the hardware allows it, so a
    // host that is briefly late with its buffers loses nothing.
    snd_pcm_hw_params_set_buffer_size_min(pcm, hw, &minBuffer);
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr);
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0) {
        snd_pcm_close(pcm);
        return err;
    }
    snd_pcm_sw_params_t* sw;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_uframes_t boundary = 0;
    snd_pcm_get_params(pcm, &buffer, &period);
    if ((err = snd_pcm_sw_params_current(pcm, sw)) < 0 ||
        (err = snd_pcm_sw_params_get_boundary(sw, &boundary)) < 0 ||
        (err = snd_pcm_sw_params_set_avail_min(pcm, sw, period)) < 0 ||
        (err = snd_pcm_sw_params_set_start_threshold(pcm, sw, boundary)) < 0 ||  // only waveInStart starts
        (err = snd_pcm_sw_params(pcm, sw)) < 0) {
        snd_pcm_close(pcm);
        return err;
    }

    auto* dev = new WaveInDevice;
    dev->pcm = pcm;
    dev->notify = notify;
    dev->lost = lostFrames;
    dev->rate = rate;
    dev->frameBytes = format->nBlockAlign;
    dev->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (dev->wakeFd < 0) {
        snd_pcm_close(pcm);
        delete dev;
        return MMSYSERR_NOMEM;
    }
    try {
        dev->thread = std::thread([dev] { dev->Loop(); });
        pthread_setname_np(dev->thread.native_handle(), "tamblo-alsa");
    } catch (const std::system_error&) {
        snd_pcm_close(pcm);
        close(dev->wakeFd);
        delete dev;
        return MMSYSERR_NOTHREAD;
    }
    *phwi = dev;
    PostThreadMessage(notify, MM_WIM_OPEN, 0, 0);
    return 0;
}

MMRESULT waveInPrepareHeader(HWAVEIN hwi, WAVEHDR* hdr)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    if (!hdr || !hdr->lpData)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(hwi->mutex);
    hdr->dwFlags |= WHDR_PREPARED;
    return 0;
}

MMRESULT waveInAddBuffer(HWAVEIN hwi, WAVEHDR* hdr)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    if (!hdr || hdr->dwBufferLength % hwi->frameBytes != 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(hwi->mutex);
    if (hwi->failed)
        return hwi->failure;
    if (!(hdr->dwFlags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if (hdr->dwFlags & WHDR_INQUEUE)
        return WAVERR_STILLQUEUED;
    hdr->dwFlags = (hdr->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    hdr->dwBytesRecorded = 0;
    hwi->queue.push_back(hdr);
    hwi->Wake();
    return 0;
}

MMRESULT waveInStart(HWAVEIN hwi)
{
    return hwi ? hwi->Run(WaveInDevice::kStart) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInReset(HWAVEIN hwi)
{
    return hwi ? hwi->Run(WaveInDevice::kReset) : MMSYSERR_INVALHANDLE;
}

MMRESULT waveInUnprepareHeader(HWAVEIN hwi, WAVEHDR* hdr)
{
    if (!hwi)
        return MMSYSERR_INVALHANDLE;
    if (!hdr)
        return MMSYSERR_INVALPARAM;
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
    MMRESULT r = hwi->Run(WaveInDevice::kClose);
    if (r != 0)
        return r;
    hwi->thread.join();
    close(hwi->wakeFd);
    ThreadId notify = hwi->notify;
    delete hwi;
    PostThreadMessage(notify, MM_WIM_CLOSE, 0, 0);
    return 0;
}

void waveInGetErrorText(MMRESULT code, wchar_t* text, int size)
{
    const char* own = waveInOwnErrorText(code);
    copyErrorText(own ? own : snd_strerror(code), text, size);
}

void waveInSetDoneHook(WaveInDoneHook hook)
{
    g_doneHook.store(hook);
}

}  // namespace tamblo
