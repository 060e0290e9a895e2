#include "cleanup/Cleanup.h"

#include "audio/OggWrap.h"
#include "cleanup/ArchiveAudit.h"
#include "sync/SyncPlanner.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <cmath>

namespace Cleanup {

namespace {

constexpr qint64 packetBytes = OggWrap::packetLen;
constexpr qint64 daySec = 86400;
constexpr qint64 hourSec = 3600;

Decision keep(const QString& name, QString reason)
{
    return Decision{name, false, std::move(reason)};
}

QString stateLabel(std::optional<int> status)
{
    if (!status) {
        return QStringLiteral("状态未知");
    }
    switch (*status) {
    case 1:
        return QStringLiteral("录音中");
    case 3:
        return QStringLiteral("已暂停");
    default:
        return QStringLiteral("状态 ") + QString::number(*status);
    }
}

} // namespace

std::optional<QDateTime> recordedAt(const QString& name)
{
    static const QRegularExpression stamp(QStringLiteral("([0-9]{8})-([0-9]{6})"));
    const auto match = stamp.match(name);
    if (!match.hasMatch()) {
        return std::nullopt;
    }
    // Strict parsing in local time: a month 13 or a 25th hour is no date at all.
    const QDateTime at = QDateTime::fromString(match.captured(1) + match.captured(2),
                                               QStringLiteral("yyyyMMddHHmmss"));
    if (!at.isValid()) {
        return std::nullopt;
    }
    return at;
}

std::optional<QList<Decision>> deviceVeto(const QList<FileEntry>& entries,
                                          std::optional<int> recordStatus, const QString& suffix)
{
    if (recordStatus == 2) {
        return std::nullopt;
    }
    const QString reason = QStringLiteral("设备") + stateLabel(recordStatus) + suffix;
    QList<Decision> out;
    out.reserve(entries.size());
    for (const FileEntry& e : entries) {
        out.append(keep(e.base(), reason));
    }
    return out;
}

bool isDeviceCurrent(const QString& name, const std::optional<QString>& deviceCurrent)
{
    return deviceCurrent && !deviceCurrent->isEmpty() && !name.isEmpty() &&
           deviceCurrent->contains(name);
}

std::optional<QString> archivedBase(const FileEntry& entry,
                                    const std::map<QString, SyncManifest::Imported>& imported)
{
    const QString key = SyncPlanner::manifestKey(entry);
    const auto found = imported.find(key);
    if (found == imported.end()) {
        return std::nullopt;
    }
    return SyncPlanner::archivedBase(key, found->second);
}

std::optional<Decision> checkLocalArchive(const QString& name, const FileEntry& entry,
                                          const QString& dest, const QString& rawDir)
{
    const QString ogg = dest + u'/' + name + QStringLiteral(".ogg");
    const QFileInfo raw(rawDir + u'/' + name + QStringLiteral(".opus"));
    if (!QFileInfo::exists(ogg) || !raw.exists()) {
        return keep(name, QStringLiteral("本地留档不全"));
    }
    if (!ArchiveAudit::magicIsOggS(ogg)) {
        return keep(name, QStringLiteral("ogg 留档损坏（不是 OggS 开头）"));
    }
    const qint64 rawBytes = raw.size();
    if (rawBytes != qint64(entry.size)) {
        return keep(name, QStringLiteral("字节数对不上（本地 ") + QString::number(rawBytes) +
                              QStringLiteral(" / 设备 ") + QString::number(entry.size) +
                              QStringLiteral("）"));
    }
    if (rawBytes % packetBytes != 0) {
        return keep(name, QStringLiteral("裸包长度不是 40 的整数倍"));
    }
    const double rawSeconds = OggWrap::durationSeconds(rawBytes);
    if (std::abs(rawSeconds - double(entry.time)) > durationToleranceSec) {
        return keep(name, QStringLiteral("时长对不上（本地 ") +
                              QString::asprintf("%.1f", rawSeconds) + QStringLiteral("s / 设备 ") +
                              QString::number(entry.time) + QStringLiteral("s）"));
    }
    return std::nullopt;
}

Decision judgeAge(const QString& name, int coolingDays, const QDateTime& now)
{
    const auto at = recordedAt(name);
    if (!at) {
        return keep(name, QStringLiteral("文件名里解析不出录制时间"));
    }
    const qint64 when = at->toMSecsSinceEpoch();
    if (when < earliestPlausible * 1000 ||
        when > now.toMSecsSinceEpoch() + futureAllowanceSec * 1000) {
        return keep(name, QStringLiteral("文件名时间戳不可信（设备 RTC 可能没对时），不删"));
    }
    const double age = double(at->msecsTo(now)) / 1000.0;
    const double coolOff = double(coolingDays) * double(daySec);
    if (age >= coolOff) {
        return Decision{name, true,
                        QStringLiteral("已入Mindvault并转写完成，本地留档完整，录于 ") +
                            QString::number(qint64(age / double(daySec))) +
                            QStringLiteral(" 天前")};
    }
    const double remaining = coolOff - age;
    const auto days = qint64(remaining / double(daySec));
    const auto hours = qint64(std::fmod(remaining, double(daySec)) / double(hourSec));
    return keep(name, QStringLiteral("还在冷静期（还差 ") + QString::number(days) +
                          QStringLiteral(" 天 ") + QString::number(hours) +
                          QStringLiteral(" 小时）"));
}

} // namespace Cleanup
