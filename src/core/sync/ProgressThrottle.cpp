#include "sync/ProgressThrottle.h"

ProgressThrottle::ProgressThrottle(Now now) : m_now(std::move(now)) {}

std::optional<int> ProgressThrottle::admit(int pct)
{
    const std::lock_guard guard(m_lock);
    if (pct == m_lastPct) {
        return std::nullopt;
    }
    const TimePoint now = m_now();
    if (m_last && now - *m_last < minInterval) {
        return std::nullopt;
    }
    m_last = now;
    m_lastPct = pct;
    return pct;
}
