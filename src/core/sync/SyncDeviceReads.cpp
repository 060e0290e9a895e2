// The round's reads of the pen's state: recording status first, display readings last.

#include "sync/SyncEngine.h"

#include <QPointer>
#include <numeric>

using namespace Qt::Literals::StringLiterals;

namespace {

// Device reads answer absent on silence; a link that is gone counts the same.
template <typename T> QCoro::Task<std::optional<T>> orAbsent(QCoro::Task<std::optional<T>> read)
{
    try {
        co_return co_await std::move(read);
    } catch (const std::exception&) {
        co_return std::nullopt;
    }
}

bool isRecording(std::optional<uint8_t> status)
{
    return status == 1 || status == 3;
}

} // namespace

QCoro::Task<> SyncEngine::readSyncCriticalInfo()
{
    QPointer<SyncEngine> self(this);
    BLEClient& ble = client();
    const std::optional<uint8_t> status =
        co_await orAbsent(ble.recordStatus(m_timing.statusTimeout));
    if (!self)
        co_return;
    updateDevice([&](DeviceInfo& d) { d.recordStatus = status; });
    m_pen.noteStatus(status);

    if (isRecording(status)) {
        const std::optional<QString> current =
            co_await orAbsent(ble.currentFilename(m_timing.currentNameTimeout));
        if (!self)
            co_return;
        m_pen.noteCurrent(current);
        if (!current) {
            log(u"设备说在录（状态 "_s + QString::number(*status) + u"）却读不到当前文件名"_s +
                u"——这一批全部按「可能正在录」跳过，不冒截断的险"_s);
        }
    } else {
        m_pen.noteCurrent(std::nullopt);
    }
    if (!status) {
        log(u"读不到录音状态——本轮仍按「没在录」处理（分不清读失败和固件不支持，一律拦会让老固件永远同步不了，见 SyncPlanner.isLive）"_s);
    }
}

QCoro::Task<> SyncEngine::readDisplayInfo()
{
    QPointer<SyncEngine> self(this);
    BLEClient& ble = client();
    QStringList missing;

    const std::optional<uint8_t> battery = co_await orAbsent(ble.battery(m_timing.batteryTimeout));
    if (!self)
        co_return;
    if (battery) {
        updateDevice([&](DeviceInfo& d) {
            d.battery = battery;
            d.readingsAt = now();
        });
    } else {
        missing.append(u"电量"_s);
    }
    checkBattery(battery);

    const std::optional<QString> firmware = co_await orAbsent(ble.firmware(m_timing.infoTimeout));
    if (!self)
        co_return;
    if (firmware)
        updateDevice([&](DeviceInfo& d) { d.firmware = firmware; });
    else
        missing.append(u"固件"_s);

    const std::optional<uint8_t> gain = co_await orAbsent(ble.gain(m_timing.infoTimeout));
    if (!self)
        co_return;
    if (gain)
        updateDevice([&](DeviceInfo& d) { d.gain = gain; });
    else
        missing.append(u"增益"_s);

    const std::optional<BLEClient::Capacity> capacity =
        co_await orAbsent(ble.capacity(m_timing.infoTimeout));
    if (!self)
        co_return;
    if (capacity) {
        updateDevice([&](DeviceInfo& d) {
            d.capacityRemain = capacity->remain;
            d.capacityTotal = capacity->total;
            d.readingsAt = now();
        });
        const qint64 total = capacity->total;
        const qint64 remain = capacity->remain;
        const qint64 used = std::max<qint64>(total - remain, 0);
        const qint64 sum =
            std::accumulate(m_pen.entries().cbegin(), m_pen.entries().cend(), qint64(0),
                            [](qint64 acc, const FileEntry& e) { return acc + e.size; });
        QString line = u"容量原始值：总 "_s + QString::number(total) + u" 剩 "_s +
                       QString::number(remain) + u" 已用 "_s + QString::number(used) + u" 格"_s +
                       u"；此刻列表 "_s + QString::number(m_pen.entries().size()) + u" 条合计 "_s +
                       QString::number(sum) + u" B"_s;
        if (total > remain)
            line += u"；推算一格 ≈ "_s + QString::number(sum / used) + u" B"_s;
        log(line);
    } else {
        missing.append(u"容量"_s);
    }

    if (!missing.isEmpty())
        log(u"设备读数没答："_s + missing.join(u"、"_s) + u"（不影响同步）"_s);
}

void SyncEngine::checkBattery(std::optional<uint8_t> level)
{
    if (!m_pen.lowBatteryWarningDue(level))
        return;
    const QString pct = QString::number(*level);
    log(u"录音笔电量 "_s + pct + u"%，偏低"_s);
    notify(u"录音笔只剩 "_s + pct + u"% 电，出门前记得充"_s, u"电量偏低"_s);
}
