#pragma once

#include "sync/EngineTiming.h"

#include <QDateTime>
#include <QHash>
#include <QString>
#include <functional>

// When the monitor loop may start the next round with a pen: the base cool-down, the back-off
// after unproductive rounds in a row, and the short interval while a download waits to resume.
// Holds, and is the only writer of, each pen's last round start and idle-round count; keyed by
// peripheral id.
class MonitorPolicy {
public:
    MonitorPolicy(double cooldown, const EngineTiming& timing);

    double cooldown() const { return m_cooldown; }
    void setCooldown(double seconds) { m_cooldown = seconds; }
    // peripheral id -> last round start
    const QHash<QString, QDateTime>& lastTriggered() const { return m_lastTriggered; }
    // peripheral id -> unproductive rounds in a row (0...3); absent before the first outcome
    const QHash<QString, int>& idleRounds() const { return m_idleRounds; }

    // Whether a round may start at `at`; the start is recorded when it may. resuming() is asked
    // only when the answer depends on it (it lists the archive's folder).
    bool admit(const QString& key, const QDateTime& at, const std::function<bool()>& resuming);
    // The interval the loop waits before the next round.
    double interval(const QString& key, bool resuming) const;
    // A round was started by other means (the manual trigger).
    void noteTriggered(const QString& key, const QDateTime& at);
    // Returns the idle rounds counted before this outcome.
    int noteOutcome(const QString& key, bool productive);

private:
    double m_cooldown;
    EngineTiming m_timing;
    QHash<QString, QDateTime> m_lastTriggered;
    QHash<QString, int> m_idleRounds;
};
