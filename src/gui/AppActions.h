#pragma once

#include "cloud/Mindvault.h"
#include "sync/RecordingItem.h"

#include <QCoro/QCoroTask>
#include <QString>
#include <functional>
#include <optional>

// Everything a view can do, as closures. Views call these and never the engine: AppState::wire()
// replaces the defaults with closures bound to the engine and the desktop, and tests install
// their own. All of them run on the event loop.
struct AppActions {
    using Item = RecordingItem;
    using ErrorText = std::optional<QString>; // nullopt: it worked

    std::function<void()> syncNow;
    std::function<void()> openImportFolder;
    std::function<void(bool on)> setCleanup;
    std::function<void(int minutes)> setMinUploadMinutes;
    std::function<QCoro::Task<ErrorText>(QString email, QString password)> signIn;
    std::function<void()> signOut;
    std::function<void(bool on)> setLoginItem;
    std::function<void()> openLog;
    std::function<void()> openMainWindow;
    std::function<void(const Item&)> deleteFromDevice;
    std::function<void(const Item&)> toggleStar;
    std::function<void(const Item&)> toggleDismissed;
    std::function<void(const Item&, std::optional<QString> title, std::optional<QString> projectId)>
        setPlan;
    std::function<void()> runAudit;
    std::function<void(const Item&)> pushNow;
    std::function<QString(const Item&)> deleteImpact;
    std::function<void()> openVaultHome;
    std::function<void(const Item&)> openVaultSession;
    std::function<void(const Item&)> repush;
    std::function<void(const Item&)> redownload;
    std::function<void(const Item&)> revealLocal;
    std::function<void()> quit;
    // newDeviceName: nullopt keeps the pen's old number.
    std::function<QCoro::Task<bool>(std::optional<QString> newDeviceName)> resolveBindMismatch;
    std::function<QCoro::Task<ErrorText>(QString name)> renameDevice;
    std::function<void()> dismissBindMismatch;
    // The service took a speaker's name: the transcript now has this many unnamed speakers,
    // which the recording list shows at once instead of at the next status poll.
    std::function<void(QString transcriptId, int unconfirmed)> speakersNamed;
    // The window read a transcript from the service (also again after naming a speaker): the
    // archive's copy follows.
    std::function<void(QString transcriptId, QList<TranscriptSegment> segments,
                       QList<SpeakerRow> speakers)>
        transcriptRead;
    std::function<QCoro::Task<Mindvault::AuthState>()> checkSession;

    // The unwired set: every closure does nothing, except that quit ends the application,
    // signIn and renameDevice answer "未接线", resolveBindMismatch answers false and
    // checkSession answers none.
    static AppActions unwired();
};
