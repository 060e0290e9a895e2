#include "sync/MonitorPolicy.h"

#include <algorithm>

MonitorPolicy::MonitorPolicy(double cooldown, const EngineTiming& timing)
    : m_cooldown(cooldown), m_timing(timing)
{}

bool MonitorPolicy::admit(const QString& key, const QDateTime& at,
                          const std::function<bool()>& resuming)
{
    const auto last = m_lastTriggered.constFind(key);
    if (last != m_lastTriggered.cend()) {
        const double elapsed = double(last->msecsTo(at)) / 1000.0;
        // Both possible intervals are at least this long; skip the folder listing behind
        // resuming() for the many advertisements that arrive well inside it.
        if (elapsed < std::min(m_timing.resumeCooldown, m_cooldown))
            return false;
        if (elapsed < interval(key, resuming()))
            return false;
    }
    m_lastTriggered.insert(key, at);
    return true;
}

double MonitorPolicy::interval(const QString& key, bool resuming) const
{
    if (resuming)
        return m_timing.resumeCooldown;
    const int n = std::clamp(m_idleRounds.value(key, 0), 0, 3);
    return std::max(m_cooldown, m_timing.backoffSteps[static_cast<size_t>(n)]);
}

void MonitorPolicy::noteTriggered(const QString& key, const QDateTime& at)
{
    m_lastTriggered.insert(key, at);
}

int MonitorPolicy::noteOutcome(const QString& key, bool productive)
{
    const int before = m_idleRounds.value(key, 0);
    m_idleRounds.insert(key, productive ? 0 : std::min(before + 1, 3));
    return before;
}
