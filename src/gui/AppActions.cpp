#include "AppActions.h"

#include <QCoreApplication>

using namespace Qt::Literals::StringLiterals;

namespace {

QCoro::Task<AppActions::ErrorText> notWired()
{
    co_return u"未接线"_s;
}

} // namespace

AppActions AppActions::unwired()
{
    AppActions a;
    a.syncNow = [] {
    };
    a.openImportFolder = [] {
    };
    a.setCleanup = [](bool) {
    };
    a.setMinUploadMinutes = [](int) {
    };
    a.signIn = [](QString, QString) {
        return notWired();
    };
    a.signOut = [] {
    };
    a.setLoginItem = [](bool) {
    };
    a.openLog = [] {
    };
    a.openMainWindow = [] {
    };
    a.deleteFromDevice = [](const Item&) {
    };
    a.toggleStar = [](const Item&) {
    };
    a.toggleDismissed = [](const Item&) {
    };
    a.setPlan = [](const Item&, std::optional<QString>, std::optional<QString>) {
    };
    a.runAudit = [] {
    };
    a.pushNow = [](const Item&) {
    };
    a.deleteImpact = [](const Item&) {
        return QString();
    };
    a.openVaultHome = [] {
    };
    a.openVaultSession = [](const Item&) {
    };
    a.repush = [](const Item&) {
    };
    a.redownload = [](const Item&) {
    };
    a.revealLocal = [](const Item&) {
    };
    a.quit = [] {
        QCoreApplication::quit();
    };
    a.resolveBindMismatch = [](std::optional<QString>) -> QCoro::Task<bool> {
        co_return false;
    };
    a.renameDevice = [](QString) {
        return notWired();
    };
    a.dismissBindMismatch = [] {
    };
    a.transcriptRead = [](QString, QList<TranscriptSegment>, QList<SpeakerRow>) {
    };
    a.speakersNamed = [](QString, int) {
    };
    a.checkSession = []() -> QCoro::Task<Mindvault::AuthState> {
        co_return Mindvault::AuthState::none;
    };
    return a;
}
