#include "TrayTexts.h"

#include "device/DeviceText.h"
#include "format/Fmt.h"

using namespace Qt::Literals::StringLiterals;

namespace TrayTexts {

QString status(const SyncPhase& phase)
{
    return u"状态："_s + phase.label();
}

QString lastRun(const std::optional<QDateTime>& at, const QDateTime& now)
{
    return u"上次同步："_s + Fmt::time(at, now);
}

std::optional<QString> device(const DeviceInfo& device)
{
    if (!device.connected)
        return std::nullopt;
    QString line = u"设备："_s + device.name + QChar(0x3000);
    // The device page's reading, so both say "充电中" while the pen charges.
    if (const std::optional<QString> reading = DeviceText::batteryReading(device))
        line += u"电量 "_s + *reading;
    return line;
}

bool canSyncNow(const SyncPhase& phase)
{
    switch (phase.kind()) {
    case SyncPhase::Kind::Idle:
    case SyncPhase::Kind::WaitingForDevice:
    case SyncPhase::Kind::Failed:
        return true;
    default:
        return false;
    }
}

QString loginItem(bool on)
{
    return on ? u"开机自启（已开启）"_s : u"开机自启（未开启）"_s;
}

QString signOut(const QString& email)
{
    return u"退出登录（"_s + email + u"）"_s;
}

QString threshold(int minutes)
{
    return u"短录音门槛："_s + QString::number(minutes) + u" 分钟以下只落盘"_s;
}

QString cleanup(bool on, int coolingDays)
{
    if (!on)
        return u"同步后自动清理设备（已关闭）"_s;
    return u"同步后自动清理设备（已开启，冷静期 "_s + QString::number(coolingDays) + u" 天）"_s;
}

QString toolTip(const SyncPhase& phase)
{
    return u"Mindvault 录音笔导入器\n"_s + status(phase);
}

} // namespace TrayTexts
