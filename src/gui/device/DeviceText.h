#pragma once

#include <QDateTime>
#include <QString>
#include <optional>

class SyncPhase;
struct DeviceInfo;
struct RecordingItem;

// The device page's sentences about the pen, as pure functions of what the engine published
// and the page's clock.
namespace DeviceText {

// "刚才", "5 分钟前", or "14:05 时" from an hour on.
QString relative(const QDateTime& at, const QDateTime& now);

// What the pen is doing or when it was last heard from.
QString connectionLine(const DeviceInfo& device, const SyncPhase& phase, const QDateTime& now);

// Whether the pen can be talked to right now (the header's link symbol).
bool reachable(const DeviceInfo& device, const SyncPhase& phase, const QDateTime& now);

// The line under the readings: "电量、容量、固件读于 刚读的", or the sync's own hint.
QString readingsAge(const std::optional<QDateTime>& readingsAt, const SyncPhase& phase,
                    const QDateTime& now);

// The battery reading in words, wherever it is shown: "87%", or "充电中" for the 110 the pen
// reports on its charger; none before it was read.
std::optional<QString> batteryReading(const DeviceInfo& device);

// Readings cells: "87%", "充电中", "—"; "剩 40%", "—"; firmware or "—".
QString battery(const DeviceInfo& device);
QString capacity(const DeviceInfo& device);
QString firmware(const DeviceInfo& device);

// One file on the pen: "3.2 MB", "空文件", "空录音".
QString fileSize(const RecordingItem& item);

} // namespace DeviceText
