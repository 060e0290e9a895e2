#include "device/DeviceText.h"

#include "sync/DeviceInfo.h"
#include "sync/RecordingItem.h"
#include "sync/SyncPhase.h"

namespace {

// The pen reports this battery value while it sits on its charger.
constexpr uint8_t chargingValue = 110;

bool readingPhase(const SyncPhase& phase)
{
    return phase.is(SyncPhase::Kind::Connecting) || phase.is(SyncPhase::Kind::Listing) ||
           phase.is(SyncPhase::Kind::Cleaning);
}

} // namespace

namespace DeviceText {

QString relative(const QDateTime& at, const QDateTime& now)
{
    const qint64 seconds = at.secsTo(now);
    if (seconds < 60) {
        return QStringLiteral("刚才");
    }
    if (seconds < 3600) {
        return QString::number(seconds / 60) + QStringLiteral(" 分钟前");
    }
    return at.toLocalTime().toString(QStringLiteral("HH:mm")) + QStringLiteral(" 时");
}

QString connectionLine(const DeviceInfo& device, const SyncPhase& phase, const QDateTime& now)
{
    switch (phase.kind()) {
    case SyncPhase::Kind::Downloading:
        return QStringLiteral("正在同步 ") + QString::number(phase.percent()) +
               QStringLiteral("%——录音笔每传十几秒会断开一次再自动连上，这是它的正常节奏");
    case SyncPhase::Kind::Connecting:
    case SyncPhase::Kind::Listing:
        return QStringLiteral("正在读取录音笔");
    case SyncPhase::Kind::Cleaning:
        return QStringLiteral("正在清理录音笔");
    default:
        break;
    }
    if (device.connected) {
        return QStringLiteral("已连接");
    }
    if (device.isNearby(now)) {
        return QStringLiteral("在旁边——没有新录音时连上看一眼就会断开，有新录音会自动搬回来");
    }
    if (device.lastSeenAt) {
        return QStringLiteral("没在广播（") + relative(*device.lastSeenAt, now) +
               QStringLiteral("还在）——录音笔空闲几分钟会休眠，按一下按键就会醒");
    }
    return QStringLiteral("还没找到录音笔——开机后它会自动广播，这里就会亮");
}

bool reachable(const DeviceInfo& device, const SyncPhase& phase, const QDateTime& now)
{
    return device.isNearby(now) || phase.is(SyncPhase::Kind::Downloading) || readingPhase(phase);
}

QString readingsAge(const std::optional<QDateTime>& readingsAt, const SyncPhase& phase,
                    const QDateTime& now)
{
    if (phase.is(SyncPhase::Kind::Downloading) || phase.is(SyncPhase::Kind::Uploading)) {
        return QStringLiteral("同步中，稍后读");
    }
    QString age;
    if (readingPhase(phase)) {
        age = QStringLiteral("正在读");
    } else if (!readingsAt) {
        age = QStringLiteral("还没读过");
    } else {
        const qint64 seconds = std::max<qint64>(0, readingsAt->secsTo(now));
        if (seconds < 90) {
            age = QStringLiteral("刚读的");
        } else if (seconds < 3600) {
            age = QString::number(seconds / 60) + QStringLiteral(" 分钟前读的");
        } else {
            age = QString::number(seconds / 3600) + QStringLiteral(" 小时前读的");
        }
    }
    return QStringLiteral("电量、容量、固件读于 ") + age;
}

std::optional<QString> batteryReading(const DeviceInfo& device)
{
    if (!device.battery) {
        return std::nullopt;
    }
    if (*device.battery == chargingValue) {
        return QStringLiteral("充电中");
    }
    return QString::number(*device.battery) + QStringLiteral("%");
}

QString battery(const DeviceInfo& device)
{
    return batteryReading(device).value_or(QStringLiteral("—"));
}

QString capacity(const DeviceInfo& device)
{
    if (!device.capacityRemain || !device.capacityTotal || *device.capacityTotal == 0) {
        return QStringLiteral("—");
    }
    const double share = double(*device.capacityRemain) / double(*device.capacityTotal);
    return QStringLiteral("剩 ") + QString::number(qRound(share * 100)) + QStringLiteral("%");
}

QString firmware(const DeviceInfo& device)
{
    return device.firmware && !device.firmware->isEmpty() ? *device.firmware : QStringLiteral("—");
}

QString fileSize(const RecordingItem& item)
{
    const uint32_t bytes = item.deviceSize.value_or(0);
    if (bytes == 0) {
        return QStringLiteral("空文件");
    }
    if (item.durationSec <= 0) {
        return QStringLiteral("空录音");
    }
    return QString::asprintf("%.1f MB", double(bytes) / 1e6);
}

} // namespace DeviceText
