#include "ScriptedBackend.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "platform/TambloBackend.h"

namespace {

std::mutex g_mutex;
std::condition_variable g_thawed;
DeviceScript g_script;
DeviceCounters g_counters{0, 0};
bool g_frozen = false;

void WaitWhileFrozen() {
    std::unique_lock<std::mutex> lock(g_mutex);
    g_thawed.wait(lock, [] { return !g_frozen; });
}

bool Frozen() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_frozen;
}

class ScriptedBackend : public tamblo::Backend {
public:
    ScriptedBackend() {
        std::lock_guard<std::mutex> lock(g_mutex);
        m_script = g_script;
    }
    ~ScriptedBackend() override {
        if (!m_open) return;
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_counters.closes;
    }

    int Open(unsigned channels, unsigned, unsigned long) override {
        WaitWhileFrozen();
        if (m_script.openResult != 0) return m_script.openResult;
        m_channels = channels;
        m_open = true;
        std::lock_guard<std::mutex> lock(g_mutex);
        ++g_counters.opens;
        return 0;
    }

    int Start() override {
        WaitWhileFrozen();
        return m_script.startResult;
    }

    int Stop() override {
        WaitWhileFrozen();
        m_due = false;
        return 0;
    }

    long Read(char* dst, unsigned long frames, long* lost) override {
        if (m_script.failAfter > 0 && m_frames >= m_script.failAfter) return m_script.failResult;
        auto now = std::chrono::steady_clock::now();
        if (m_script.readMs > 0 && !m_due) {
            m_due = true;  // the frames come readMs later
            m_dueAt = now + std::chrono::milliseconds(m_script.readMs);
        }
        if (Frozen() || (m_due && now < m_dueAt)) return 0;
        m_due = false;
        if (m_script.failAfter > 0)
            frames = std::min<unsigned long>(frames, static_cast<unsigned long>(m_script.failAfter - m_frames));
        auto* out = reinterpret_cast<std::int16_t*>(dst);
        for (unsigned long i = 0; i < frames * m_channels; ++i) out[i] = ScriptedSample(m_sample++);
        m_frames += static_cast<long>(frames);
        *lost += m_script.lostPerRead;
        return static_cast<long>(frames);
    }

    void Wait(int wakeFd) override {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_dueAt - std::chrono::steady_clock::now());
        pollfd p{wakeFd, POLLIN, 0};
        poll(&p, 1, m_due ? static_cast<int>(std::max<long>(left.count(), 0)) : 10);
    }

private:
    DeviceScript m_script;
    unsigned m_channels = 1;
    bool m_open = false;
    bool m_due = false;
    std::chrono::steady_clock::time_point m_dueAt;
    long m_sample = 0;
    long m_frames = 0;
};

std::unique_ptr<tamblo::Backend> MakeScripted() { return std::make_unique<ScriptedBackend>(); }

}  // namespace

void UseScriptedBackend(const DeviceScript& script) {
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        g_script = script;
    }
    tamblo::SetBackendFactory(MakeScripted);
}

void FreezeDevices(bool frozen) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_frozen = frozen;
    g_thawed.notify_all();
}

DeviceCounters GetDeviceCounters() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_counters;
}
