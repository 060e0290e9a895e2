#pragma once

#include "sync/DeviceInfo.h"
#include "sync/SyncPhase.h"

#include <QDateTime>
#include <QString>
#include <optional>

// The tray menu's texts and enabling rules, as pure functions of the model's values.
namespace TrayTexts {

QString status(const SyncPhase& phase);
// "上次同步：" + the time as the recording list shows times.
QString lastRun(const std::optional<QDateTime>& at, const QDateTime& now);
// Only while the pen is connected.
std::optional<QString> device(const DeviceInfo& device);
// A manual round may start: the engine is idle, waiting or failed.
bool canSyncNow(const SyncPhase& phase);
QString loginItem(bool on);
QString signOut(const QString& email);
QString threshold(int minutes);
QString cleanup(bool on, int coolingDays);
// The tray icon's tool tip: the application and what it is doing.
QString toolTip(const SyncPhase& phase);

} // namespace TrayTexts
