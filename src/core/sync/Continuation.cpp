#include "sync/Continuation.h"

#include <QLocale>
#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace Continuation {

std::optional<QDateTime> startedAt(const QString& base)
{
    static const QRegularExpression pattern(u"[0-9]{8}-[0-9]{6}"_s);
    const QRegularExpressionMatch match = pattern.match(base);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    QDateTime t = QLocale::c().toDateTime(match.captured(), u"yyyyMMdd-HHmmss"_s);
    if (!t.isValid()) {
        return std::nullopt;
    }
    t.setTimeSpec(Qt::LocalTime);
    return t;
}

bool isContinuation(const QString& prevBase, double prevSeconds, const QString& nextBase)
{
    if (prevSeconds < deviceCapSeconds) {
        return false;
    }
    const auto prev = startedAt(prevBase);
    const auto next = startedAt(nextBase);
    if (!prev || !next) {
        return false;
    }
    const double gap = static_cast<double>(prev->msecsTo(*next)) / 1000.0 - prevSeconds;
    return gap >= 0 && gap <= maxGapSeconds;
}

QList<QStringList> groupContinuations(const QList<std::pair<QString, double>>& items)
{
    // Seconds of the first item with each base.
    QHash<QString, double> seconds;
    for (const auto& [base, secs] : items) {
        seconds.insert(base, seconds.value(base, secs));
    }
    QList<QStringList> groups;
    for (const auto& [base, secs] : items) {
        if (!groups.isEmpty()) {
            const QString& last = groups.last().last();
            const auto lastSeconds = seconds.constFind(last);
            if (lastSeconds != seconds.cend() && isContinuation(last, *lastSeconds, base)) {
                groups.last().append(base);
                continue;
            }
        }
        groups.append(QStringList{base});
    }
    return groups;
}

std::optional<QByteArray> concatRawPackets(const QList<QByteArray>& parts)
{
    if (parts.isEmpty()) {
        return std::nullopt;
    }
    qsizetype total = 0;
    for (const QByteArray& p : parts) {
        if (p.isEmpty() || p.size() % 40 != 0) {
            return std::nullopt;
        }
        total += p.size();
    }
    QByteArray out;
    out.reserve(total);
    for (const QByteArray& p : parts) {
        out.append(p);
    }
    return out;
}

TrueStart trueStart(const QString& base, const std::optional<LiveWitness>& witness,
                    double durationSec, double tolerance)
{
    const std::optional<QDateTime> nameStart = startedAt(base);
    if (!witness) {
        return {nameStart, false};
    }
    const QDateTime live = witness->firstSeenLiveAt;
    const auto durationMs = static_cast<qint64>(std::max(durationSec, 0.0) * 1000.0);
    QDateTime lower = live.addMSecs(-durationMs);
    if (witness->notRecordingAt && *witness->notRecordingAt > lower) {
        lower = *witness->notRecordingAt;
    }
    if (lower > live) {
        return {nameStart, false}; // the evidence contradicts itself
    }
    const auto toleranceMs = static_cast<qint64>(tolerance * 1000.0);
    if (nameStart && lower.addMSecs(-toleranceMs) <= *nameStart &&
        *nameStart <= live.addMSecs(toleranceMs)) {
        return {nameStart, false};
    }
    return {lower.addMSecs(lower.msecsTo(live) / 2), true};
}

} // namespace Continuation
