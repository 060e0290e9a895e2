#pragma once

#include "sync/LiveWitness.h"

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <utility>

// Recording start times from names and evidence, and recordings the pen split in parts.
namespace Continuation {

constexpr double deviceCapSeconds = 10700; // the pen closes a file at this length
constexpr double maxGapSeconds = 5;

// The first "yyyyMMdd-HHmmss" in the name, in the computer's time zone.
std::optional<QDateTime> startedAt(const QString& base);

bool isContinuation(const QString& prevBase, double prevSeconds, const QString& nextBase);

// Consecutive continuations grouped, in input order.
QList<QStringList> groupContinuations(const QList<std::pair<QString, double>>& items);

// Absent when the list is empty or a part is empty or not whole 40-byte packets.
std::optional<QByteArray> concatRawPackets(const QList<QByteArray>& parts);

struct TrueStart {
    std::optional<QDateTime> at;
    bool corrected = false;
    bool operator==(const TrueStart&) const = default;
};

// The name's time when it fits the evidence (within tolerance), else the midpoint of the
// window the evidence allows.
TrueStart trueStart(const QString& base, const std::optional<LiveWitness>& witness,
                    double durationSec, double tolerance);

} // namespace Continuation
