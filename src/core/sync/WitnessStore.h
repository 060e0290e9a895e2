#pragma once

#include "sync/Continuation.h"
#include "sync/LiveWitness.h"

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>

// The live evidence of when recordings started (see LiveWitness): the map, kept in memory and
// saved whole to its file at each addition, and the last moment the pen was seen not recording.
// The only writer of both; the engine feeds it each status reading.
class WitnessStore {
public:
    using LogFn = std::function<void(const QString& line)>;

    WitnessStore(QString path, LogFn log);

    const LiveWitness::Map& witnesses() const { return m_witnesses; }
    // Reads the evidence file; a missing or broken file keeps the map.
    void load();
    // One reading of the pen's status and current file at `at`.
    void observe(std::optional<uint8_t> status, const std::optional<QString>& current,
                 const QDateTime& at);
    Continuation::TrueStart trueStart(const QString& base, double durationSec);

private:
    void save();

    QString m_path;
    LogFn m_log;
    LiveWitness::Map m_witnesses;
    std::optional<QDateTime> m_lastNotRecordingAt;
};
