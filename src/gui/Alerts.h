#pragma once

#include "Dialogs.h"

#include <QString>
#include <optional>

// The alerts the tray menu and the main window share, texts as the user reads them.
namespace Alerts {

Dialogs::Alert signOut();
Dialogs::Alert threshold();
Dialogs::Alert cleanup(int coolingDays);
Dialogs::Alert loginItemFailed(const QString& reason);

// The threshold field's minutes: a whole number from 0 to 120 after trimming, else nothing.
std::optional<int> parseMinutes(const QString& text);

} // namespace Alerts
