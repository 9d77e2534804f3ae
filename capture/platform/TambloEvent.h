// Auto-reset event: one Wait is released per Set.
#pragma once

#include <condition_variable>
#include <mutex>

namespace tamblo {

class Event {
public:
    Event() = default;  // not signalled
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Signals the event; it stays signalled until one Wait takes it or Reset.
    void Set();
    // Clears the signal.
    void Reset();
    // Waits up to timeoutMs (-1: no limit) for the signal and clears it.
    // Returns true when signalled, false when the time ran out.
    bool Wait(int timeoutMs);

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_bSignalled = false;
};

}  // namespace tamblo
