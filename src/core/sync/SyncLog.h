#pragma once

#include "common/Clock.h"

#include <QString>
#include <functional>
#include <mutex>

// The human-readable sync log: one "[MM-dd HH:mm:ss] text" line per event, rotated to one
// older generation ("….1.txt") above 2 MiB. Writing never fails the caller and is safe from
// any thread.
class SyncLog {
public:
    static constexpr qint64 rotateAbove = 2 * 1024 * 1024;

    // Receives every formatted line (without the newline), e.g. to echo it on stdout. Called
    // under the log's lock, in write order: it must not write to the log itself.
    using Observer = std::function<void(const QString& line)>;

    explicit SyncLog(QString path, Clock clock = systemClock(), Observer observer = {});

    const QString& path() const { return m_path; }
    void setObserver(Observer observer);

    void write(const QString& line) noexcept;

private:
    void rotateIfLarge();

    const QString m_path;
    const Clock m_clock;
    Observer m_observer;
    std::mutex m_lock;
};
