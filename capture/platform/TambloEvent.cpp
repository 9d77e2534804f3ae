#include "platform/TambloEvent.h"

#include <chrono>

namespace tamblo {

void Event::Set() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = true;
    m_cond.notify_one();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bSignalled = false;
}

bool Event::Wait(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (timeoutMs < 0)
        m_cond.wait(lock, [this] { return m_bSignalled; });
    else if (!m_cond.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_bSignalled; }))
        return false;
    m_bSignalled = false;
    return true;
}

}  // namespace tamblo
