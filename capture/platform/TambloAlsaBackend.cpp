// The backend over ALSA: the PCM "default" for capture, 16-bit little-endian,
// non-blocking reads. Chosen unless a test sets another factory.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/TambloBackend.h"
#include "platform/TambloLossClock.h"

namespace tamblo {

namespace {

// ALSA prints its diagnostics ("ALSA lib pcm.c: … Unknown PCM default") on
// standard error unless a handler is set. We set a silent one, but only while
// the handler is still ALSA's own: a host that set its handler keeps it.
void quietAlsaError(const char*, int, const char*, int, const char*, ...) {}

std::mutex g_errorHookMutex;

void keepAlsaQuiet() {
    std::lock_guard<std::mutex> lock(g_errorHookMutex);
    snd_lib_error_handler_t current = snd_lib_error;
    if (current == quietAlsaError) return;
    Dl_info handler, alsa;
    if (!dladdr(reinterpret_cast<void*>(current), &handler) || !dladdr(reinterpret_cast<void*>(&snd_pcm_open), &alsa) ||
        handler.dli_fbase != alsa.dli_fbase)
        return;
    snd_lib_error_set_handler(quietAlsaError);
}

// When the library is unloaded, ALSA must not keep a pointer into it.
struct RestoreAlsaHandler {
    ~RestoreAlsaHandler() {
        std::lock_guard<std::mutex> lock(g_errorHookMutex);
        if (snd_lib_error == quietAlsaError) snd_lib_error_set_handler(nullptr);
    }
} g_restoreAlsaHandler;

std::atomic<BackendFactory> g_factory{nullptr};

class AlsaBackend : public Backend {
public:
    ~AlsaBackend() override {
        if (m_pcm) snd_pcm_close(m_pcm);
    }

    int Open(unsigned channels, unsigned rate, unsigned long block) override {
        keepAlsaQuiet();
        int err = snd_pcm_open(&m_pcm, "default", SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
        if (err < 0) {
            m_pcm = nullptr;
            return err;
        }
        snd_pcm_hw_params_t* hw;
        snd_pcm_hw_params_alloca(&hw);
        snd_pcm_uframes_t buffer = 2 * static_cast<snd_pcm_uframes_t>(rate);
        // A period of one block (within 10 to 250 ms), so that the device
        // wakes about once a block.
        snd_pcm_uframes_t shortest = std::max(rate / 100, 32u);
        snd_pcm_uframes_t period =
            std::clamp<snd_pcm_uframes_t>(block, shortest, std::max<snd_pcm_uframes_t>(shortest, rate / 4));
        snd_pcm_uframes_t minBuffer = rate;
        if ((err = snd_pcm_hw_params_any(m_pcm, hw)) < 0 ||
            (err = snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
            (err = snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
            (err = snd_pcm_hw_params_set_channels(m_pcm, hw, channels)) < 0 ||
            (err = snd_pcm_hw_params_set_rate_resample(m_pcm, hw, 1)) < 0 ||
            (err = snd_pcm_hw_params_set_rate(m_pcm, hw, rate, 0)) < 0)
            return err;
        // At least one second of ring buffer where the hardware allows it, so a
        // host that is briefly late with its buffers loses nothing.
        snd_pcm_hw_params_set_buffer_size_min(m_pcm, hw, &minBuffer);
        snd_pcm_hw_params_set_period_size_near(m_pcm, hw, &period, nullptr);
        snd_pcm_hw_params_set_buffer_size_near(m_pcm, hw, &buffer);
        if ((err = snd_pcm_hw_params(m_pcm, hw)) < 0) return err;
        snd_pcm_sw_params_t* sw;
        snd_pcm_sw_params_alloca(&sw);
        snd_pcm_uframes_t boundary = 0;
        snd_pcm_get_params(m_pcm, &buffer, &period);
        if ((err = snd_pcm_sw_params_current(m_pcm, sw)) < 0 ||
            (err = snd_pcm_sw_params_get_boundary(sw, &boundary)) < 0 ||
            (err = snd_pcm_sw_params_set_avail_min(m_pcm, sw, period)) < 0 ||
            (err = snd_pcm_sw_params_set_start_threshold(m_pcm, sw, boundary)) < 0 ||  // only Start starts
            (err = snd_pcm_sw_params(m_pcm, sw)) < 0)
            return err;
        int n = snd_pcm_poll_descriptors_count(m_pcm);
        m_fds.resize(1 + static_cast<size_t>(std::max(n, 0)));
        if (n > 0) snd_pcm_poll_descriptors(m_pcm, &m_fds[1], static_cast<unsigned>(n));
        m_clock = LossClock(rate);
        return 0;
    }

    int Start() override {
        m_clock.Restart();
        m_drained = false;
        m_unchecked = 0;
        m_checked = -1;
        if (snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING) return 0;
        return std::min(snd_pcm_start(m_pcm), 0);
    }

    int Stop() override {
        snd_pcm_drop(m_pcm);
        return std::min(snd_pcm_prepare(m_pcm), 0);
    }

    long Read(char* dst, unsigned long frames, long* lost) override {
        if (m_drained) return 0;  // the last read took all there was: wait before reading again
        snd_pcm_sframes_t got = snd_pcm_readi(m_pcm, dst, frames);
        if (got > 0) {
            // The next read waits for the device to say a period is ready
            // (at once when one is); the clock is checked ten times a second.
            m_drained = true;
            m_unchecked += got;
            double now = LossClock::Now();
            if (m_checked < 0 || now - m_checked >= 0.1) {
                snd_pcm_sframes_t waiting = snd_pcm_avail_update(m_pcm);
                *lost += m_clock.Update(m_unchecked, std::max<snd_pcm_sframes_t>(waiting, 0), now);
                m_unchecked = 0;
                m_checked = now;
            }
            return got;
        }
        if (got == 0 || got == -EAGAIN) return 0;
        // An overrun (-EPIPE), a suspend (-ESTRPIPE) or a device gone: capture
        // goes on only when the stream can be started again. What was lost
        // meanwhile shows on the clock; a stream that cannot go on (the
        // server died) lost nothing but its future.
        int err = static_cast<int>(got);
        if (err == -ESTRPIPE) {
            while ((err = snd_pcm_resume(m_pcm)) == -EAGAIN) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            if (err == 0) return 0;
        }
        err = snd_pcm_prepare(m_pcm);
        if (err == 0) err = snd_pcm_start(m_pcm);
        return err < 0 ? err : 0;
    }

    // Reads again once a period is ready (as the device says through its
    // descriptors), not at every packet a sound server sends.
    void Wait(int wakeFd) override {
        m_fds[0] = {wakeFd, POLLIN, 0};
        if (m_fds.size() < 2) {
            m_drained = false;
            poll(m_fds.data(), m_fds.size(), -1);
            return;
        }
        if (poll(m_fds.data(), m_fds.size(), -1) <= 0) {
            m_drained = false;
            return;
        }
        unsigned short revents = 0;
        if (snd_pcm_poll_descriptors_revents(m_pcm, &m_fds[1], static_cast<unsigned>(m_fds.size() - 1), &revents) < 0 ||
            (revents & (POLLIN | POLLERR | POLLNVAL)))
            m_drained = false;
    }

private:
    snd_pcm_t* m_pcm = nullptr;
    std::vector<pollfd> m_fds;
    bool m_drained = false;
    long m_unchecked = 0;   // frames read since the clock was last checked
    double m_checked = -1;  // -1: not since the start
    LossClock m_clock{1};
};

}  // namespace

void SetBackendFactory(BackendFactory factory) { g_factory.store(factory); }

std::unique_ptr<Backend> MakeBackend() {
    BackendFactory factory = g_factory.load();
    return factory ? factory() : MakeAlsaBackend();
}

std::unique_ptr<Backend> MakeAlsaBackend() { return std::make_unique<AlsaBackend>(); }

}  // namespace tamblo
