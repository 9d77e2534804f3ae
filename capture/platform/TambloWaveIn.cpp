#include "platform/TambloWaveIn.h"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/TambloBackend.h"
#include "platform/TambloWaveInText.h"

namespace tamblo {

namespace {

std::atomic<WaveInDoneHook> g_doneHook{nullptr};

std::int64_t nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Bytes read from the backend at a time, at least; a buffer may fill in
// several reads.
constexpr unsigned long kScratchBytes = 16384;

}  // namespace

// Shared by the WaveIn handle and the device thread; whichever lets go last
// frees it.
struct DeviceCore {
    enum Command { kOpen, kStart, kReset };
    struct Pending {
        Command command;
        bool done = false;
        MMRESULT result = 0;
    };

    std::mutex mutex;  // guards everything below but the backend
    std::condition_variable cond;
    ThreadId notify = 0;  // 0 once closed or abandoned: nothing more is posted
    int wakeFd = -1;
    std::shared_ptr<Pending> pending;  // handed to the device thread, not yet taken
    bool busy = false;                 // the device thread runs a command
    bool idle = false;                 // the device thread waits for a buffer or a start
    bool wakePending = false;          // wakeFd has been written since it was last drained
    bool ending = false;               // closed or abandoned: the thread ends
    bool abandoned = false;
    WAVEFORMATEX format{};
    unsigned long block = 0;  // frames per buffer, as the host said at the open
    bool opened = false;
    bool running = false;
    bool failed = false;
    MMRESULT failure = 0;
    std::deque<WAVEHDR*> queue;
    std::uint32_t filled = 0;  // bytes of the front buffer filled so far
    std::atomic<int> lost{0};

    // The device thread's own; never touched by anyone else.
    std::unique_ptr<Backend> backend;
    std::vector<char> scratch;

    ~DeviceCore() {
        if (wakeFd >= 0) close(wakeFd);
    }

    // Called with the lock held.
    void Wake() {
        if (wakePending) return;
        wakePending = true;
        std::uint64_t one = 1;
        if (write(wakeFd, &one, sizeof one) < 0) {
            // The counter cannot overflow; a pending wake is as good as a new one.
        }
    }

    // Called with the lock held.
    void DrainWake() {
        if (!wakePending) return;
        wakePending = false;
        std::uint64_t n;
        if (read(wakeFd, &n, sizeof n) < 0) {
            // Nothing pending (EAGAIN).
        }
    }

    // Hands a command to the device thread and waits up to waitMs (-1: no
    // limit) for its result. A command not yet taken when the time runs out
    // is withdrawn; one under way finishes on the device thread, unheard.
    MMRESULT Run(Command c, int waitMs) {
        std::unique_lock<std::mutex> lock(mutex);
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
        auto waitFor = [&](auto ready) {
            if (waitMs < 0) {
                cond.wait(lock, ready);
                return true;
            }
            return cond.wait_until(lock, deadline, ready);
        };
        if (!waitFor([&] { return ending || (!pending && !busy); })) {
            return WAVERR_TIMEDOUT;
        }
        if (ending) {
            return abandoned ? WAVERR_TIMEDOUT : MMSYSERR_INVALHANDLE;
        }
        auto mine = std::make_shared<Pending>();
        mine->command = c;
        pending = mine;
        Wake();
        bool answered = waitFor([&] { return ending || mine->done; });
        if (mine->done) return mine->result;
        if (pending == mine) pending.reset();
        return answered && !abandoned ? MMSYSERR_INVALHANDLE : WAVERR_TIMEDOUT;  // closed meanwhile, or no answer
    }

    // Called with the lock held, on the device thread.
    void Complete() {
        WAVEHDR* hdr = queue.front();
        queue.pop_front();
        hdr->dwBytesRecorded = filled;
        hdr->dwFlags = (hdr->dwFlags | WHDR_DONE) & ~WHDR_INQUEUE;
        filled = 0;
        if (WaveInDoneHook hook = g_doneHook.load()) hook(hdr, nowNs());
        PostThreadMessage(notify, MM_WIM_DATA, 0, 0);
    }

    // The backend's part of a command, without the lock.
    int Execute(Command c, bool failedBefore) {
        switch (c) {
            case kOpen:
                backend = MakeBackend();
                scratch.resize(std::max(kScratchBytes, block * format.nBlockAlign));
                return backend->Open(format.nChannels, format.nSamplesPerSec, block);
            case kStart:
                return failedBefore ? 0 : backend->Start();
            case kReset:
                return failedBefore ? 0 : backend->Stop();
        }
        return 0;
    }

    // The device's part, with the lock held.
    MMRESULT Finish(Command c, int r) {
        switch (c) {
            case kOpen:
                opened = r == 0;
                if (opened)
                    PostThreadMessage(notify, MM_WIM_OPEN, 0, 0);
                else
                    backend.reset();
                return r;
            case kStart:
                if (failed) return failure;
                if (r == 0) running = true;
                return r;
            case kReset:
                // The buffers come back whatever the backend said.
                running = false;
                while (!queue.empty()) Complete();
                return 0;
        }
        return r;
    }

    void Loop() {
        std::unique_lock<std::mutex> lock(mutex);
        while (!ending) {
            if (pending) {
                std::shared_ptr<Pending> p = std::move(pending);
                busy = true;
                bool failedBefore = failed;
                lock.unlock();
                int r = Execute(p->command, failedBefore);
                lock.lock();
                busy = false;
                p->result = !ending ? Finish(p->command, r) : abandoned ? WAVERR_TIMEDOUT : MMSYSERR_INVALHANDLE;
                p->done = true;
                cond.notify_all();
                continue;
            }
            if (!opened || queue.empty() || !(running || failed)) {
                // Nothing to fill: the backend keeps what it can meanwhile.
                idle = true;
                lock.unlock();
                pollfd p{wakeFd, POLLIN, 0};
                poll(&p, 1, -1);
                lock.lock();
                idle = false;
                DrainWake();
                continue;
            }
            WAVEHDR* hdr = queue.front();
            if (failed || hdr->dwBufferLength == filled) {
                Complete();
                continue;
            }
            unsigned long frames =
                std::min<unsigned long>(hdr->dwBufferLength - filled, scratch.size()) / format.nBlockAlign;
            lock.unlock();
            long lostNow = 0;
            long got = backend->Read(scratch.data(), frames, &lostNow);
            if (got == 0) backend->Wait(wakeFd);
            lock.lock();
            DrainWake();
            lost += static_cast<int>(lostNow);
            if (ending) break;
            // Only this thread takes buffers off the queue while the device
            // is alive, so the front is still the buffer read for.
            if (got > 0) {
                std::memcpy(hdr->lpData + filled, scratch.data(), static_cast<size_t>(got) * format.nBlockAlign);
                filled += static_cast<std::uint32_t>(got) * format.nBlockAlign;
            } else if (got < 0 && !failed) {
                failed = true;
                failure = static_cast<MMRESULT>(got);
            }
        }
        lock.unlock();
        backend.reset();  // may block on the sound system; nobody waits for it
    }
};

std::unique_ptr<WaveIn> WaveIn::Create(ThreadId notify) {
    auto core = std::make_shared<DeviceCore>();
    core->notify = notify;
    core->wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (core->wakeFd < 0) return nullptr;
    try {
        std::thread t([core] { core->Loop(); });
        pthread_setname_np(t.native_handle(), "tamblo-device");
        t.detach();  // the thread holds the core; it ends once the device is closed or abandoned
    } catch (const std::system_error&) {
        return nullptr;
    }
    return std::unique_ptr<WaveIn>(new WaveIn(std::move(core)));
}

WaveIn::WaveIn(std::shared_ptr<DeviceCore> core) : m_core(std::move(core)) {}

WaveIn::~WaveIn() { Abandon(); }

MMRESULT WaveIn::Open(const WAVEFORMATEX& format, unsigned long block) {
    if (format.wFormatTag != WAVE_FORMAT_PCM || format.wBitsPerSample != 16 || format.nChannels < 1 ||
        format.nChannels > 2 || format.nSamplesPerSec == 0 || format.nBlockAlign != format.nChannels * 2)
        return WAVERR_BADFORMAT;
    {
        std::lock_guard<std::mutex> lock(m_core->mutex);
        if (m_core->opened || m_core->busy) return MMSYSERR_INVALPARAM;
        m_core->format = format;
        m_core->block = block;
    }
    return m_core->Run(DeviceCore::kOpen, -1);
}

MMRESULT WaveIn::PrepareHeader(WAVEHDR* hdr) {
    if (!hdr || !hdr->lpData) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(m_core->mutex);
    hdr->dwFlags |= WHDR_PREPARED;
    return 0;
}

MMRESULT WaveIn::AddBuffer(WAVEHDR* hdr) {
    std::lock_guard<std::mutex> lock(m_core->mutex);
    if (!m_core->opened || m_core->ending) return MMSYSERR_INVALHANDLE;
    if (!hdr || hdr->dwBufferLength % m_core->format.nBlockAlign != 0) return MMSYSERR_INVALPARAM;
    if (m_core->failed) return m_core->failure;
    if (!(hdr->dwFlags & WHDR_PREPARED)) return WAVERR_UNPREPARED;
    if (hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLQUEUED;
    hdr->dwFlags = (hdr->dwFlags | WHDR_INQUEUE) & ~WHDR_DONE;
    hdr->dwBytesRecorded = 0;
    m_core->queue.push_back(hdr);
    if (m_core->idle) m_core->Wake();  // a thread reading for the buffer before needs no wake
    return 0;
}

MMRESULT WaveIn::UnprepareHeader(WAVEHDR* hdr) {
    if (!hdr) return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> lock(m_core->mutex);
    if (hdr->dwFlags & WHDR_INQUEUE) return WAVERR_STILLQUEUED;
    hdr->dwFlags &= ~WHDR_PREPARED;
    return 0;
}

MMRESULT WaveIn::Start() { return m_core->Run(DeviceCore::kStart, kCommandWaitMs); }

MMRESULT WaveIn::Reset() { return m_core->Run(DeviceCore::kReset, kCommandWaitMs); }

MMRESULT WaveIn::Close() {
    std::lock_guard<std::mutex> lock(m_core->mutex);
    if (!m_core->queue.empty()) return WAVERR_STILLQUEUED;
    if (m_core->ending) return MMSYSERR_INVALHANDLE;
    ThreadId notify = m_core->notify;
    m_core->notify = 0;
    m_core->ending = true;
    m_core->Wake();
    m_core->cond.notify_all();
    PostThreadMessage(notify, MM_WIM_CLOSE, 0, 0);
    return 0;
}

void WaveIn::Abandon() {
    std::lock_guard<std::mutex> lock(m_core->mutex);
    if (m_core->ending) return;
    for (WAVEHDR* hdr : m_core->queue) hdr->dwFlags &= ~WHDR_INQUEUE;
    m_core->queue.clear();
    m_core->notify = 0;
    m_core->ending = true;
    m_core->abandoned = true;
    m_core->pending.reset();
    m_core->Wake();
    m_core->cond.notify_all();
}

int WaveIn::GetLostFrames() const { return m_core->lost.load(); }

MMRESULT WaveIn::GetFailure() const {
    std::lock_guard<std::mutex> lock(m_core->mutex);
    return m_core->failed ? m_core->failure : 0;
}

void waveInGetErrorText(MMRESULT code, wchar_t* text, int size) {
    const char* own = waveInOwnErrorText(code);
    char buf[256] = "";
    if (!own) own = code < 0 ? strerror_r(-code, buf, sizeof buf) : "Unknown device error";
    copyErrorText(own, text, size);
}

void waveInSetDoneHook(WaveInDoneHook hook) { g_doneHook.store(hook); }

}  // namespace tamblo
