// Counts the frames a capture device lost without saying so.
#pragma once

#include <algorithm>
#include <chrono>

namespace tamblo {

// Losses a device does not report (PulseAudio's plugin never reports an
// overrun) show as frames the device's clock has made that were neither read
// nor are waiting to be. A deficit counts once it has lasted half a second
// (a server that is only late catches up before that) and is over a quarter
// of a second; smaller ones, and a clock that drifts slowly against the
// system's, are absorbed.
class LossClock {
public:
    explicit LossClock(unsigned rate) : m_rate(rate) {}

    void Restart() { m_started = false; }

    // After a read of `got` frames with `waiting` more ready, at `now`
    // seconds; returns the frames found lost.
    long Update(long got, long waiting, double now) {
        m_delivered += got;
        if (!m_started) {
            m_started = true;
            m_t0 = m_last = now;
            m_base = m_delivered + waiting;
            m_suspect = false;
            return 0;
        }
        double deficit = m_base + (now - m_t0) * m_rate - (m_delivered + waiting);
        double dt = now - m_last;
        m_last = now;
        if (deficit < 0) {
            m_base -= deficit;  // the device runs ahead of the clock (a file, say): follow it
            m_suspect = false;
            return 0;
        }
        if (deficit <= m_rate / 4.0) {
            m_base -= deficit * std::min(1.0, dt / 60.0);
            m_suspect = false;
            return 0;
        }
        if (!m_suspect) {
            m_suspect = true;
            m_suspectSince = now;
            m_suspectMin = deficit;
            return 0;
        }
        m_suspectMin = std::min(m_suspectMin, deficit);
        if (now - m_suspectSince < 0.5) return 0;
        long lost = static_cast<long>(m_suspectMin);
        m_base -= lost;
        m_suspect = false;
        return lost;
    }

    static double Now() {
        return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
    }

private:
    unsigned m_rate;
    bool m_started = false;
    double m_t0 = 0, m_last = 0, m_base = 0;
    double m_delivered = 0;
    bool m_suspect = false;
    double m_suspectSince = 0, m_suspectMin = 0;
};

}  // namespace tamblo
