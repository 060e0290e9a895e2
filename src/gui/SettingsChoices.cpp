#include "SettingsChoices.h"

#include "Alerts.h"
#include "AppModel.h"
#include "Dialogs.h"

namespace SettingsChoices {

void signOut(AppModel& model, Dialogs& dialogs)
{
    if (dialogs.confirm(Alerts::signOut()))
        model.actions.signOut();
}

void threshold(AppModel& model, Dialogs& dialogs)
{
    const std::optional<QString> text =
        dialogs.askText(Alerts::threshold(), QString::number(model.minUploadMinutes()));
    if (!text)
        return;
    if (const std::optional<int> minutes = Alerts::parseMinutes(*text))
        model.actions.setMinUploadMinutes(*minutes);
}

void cleanup(AppModel& model, Dialogs& dialogs)
{
    if (model.cleanupEnabled()) {
        model.actions.setCleanup(false);
        return;
    }
    if (dialogs.confirm(Alerts::cleanup(model.coolingDays())))
        model.actions.setCleanup(true);
}

} // namespace SettingsChoices
