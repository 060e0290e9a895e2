#pragma once

#include "AppActions.h"
#include "RecordingActivity.h"
#include "cleanup/ArchiveAudit.h"
#include "sync/BindMismatch.h"
#include "sync/DeviceInfo.h"
#include "sync/RecordingItem.h"
#include "sync/SyncPhase.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>
#include <optional>

class DesktopShell;
class Mindvault;
class SyncEngine;

// What the views show: a copy of the engine's published state, refreshed after the engine
// announces a change (many announcements in one event-loop turn make one pull), plus the
// state only the interface has (selection, open panel, account, settings shown in the menu).
// Views read it and listen to its signals; they act only through `actions`.
class AppModel : public QObject {
    Q_OBJECT

public:
    enum class Panel { audit };

    using Activity = RecordingActivity;

    // shell: where the file-browser and browser actions go (owned by the caller).
    AppModel(SyncEngine* engine, DesktopShell& shell, QObject* parent = nullptr);
    ~AppModel() override;

    // --- mirrored from the engine ---
    const DeviceInfo& device() const { return m_device; }
    const QList<RecordingItem>& items() const { return m_items; }
    const SyncPhase& phase() const { return m_phase; }
    const std::optional<BindMismatch>& pendingBindMismatch() const { return m_pendingBindMismatch; }
    const std::optional<QString>& uploadBlocked() const { return m_uploadBlocked; }
    bool needsSignIn() const { return m_needsSignIn; }
    const std::optional<QDateTime>& lastRun() const { return m_lastRun; }
    const QString& lastSummary() const { return m_lastSummary; }
    // The recording with this base name, if listed.
    std::optional<RecordingItem> item(const QString& base) const;

    // --- the interface's own state ---
    const std::optional<QString>& selection() const { return m_selection; }
    void setSelection(const std::optional<QString>& base);
    const std::optional<Panel>& panel() const { return m_panel; }
    void setPanel(const std::optional<Panel>& panel);
    const std::optional<ArchiveAudit::Report>& auditReport() const { return m_auditReport; }
    void setAuditReport(const std::optional<ArchiveAudit::Report>& report);

    // none: not checked yet.
    const std::optional<bool>& signedIn() const { return m_signedIn; }
    const std::optional<QString>& signedInEmail() const { return m_signedInEmail; }
    const std::optional<QString>& sessionNotice() const { return m_sessionNotice; }
    void setSignedIn(const std::optional<bool>& signedIn);
    void setSignedInEmail(const std::optional<QString>& email);
    void setSessionNotice(const std::optional<QString>& notice);

    bool cleanupEnabled() const { return m_cleanupEnabled; }
    int coolingDays() const { return m_coolingDays; }
    int minUploadMinutes() const { return m_minUploadMinutes; }
    bool launchAtLogin() const { return m_launchAtLogin; }
    void setCleanupEnabled(bool on);
    void setCoolingDays(int days);
    void setMinUploadMinutes(int minutes);
    void setLaunchAtLogin(bool on);

    // The service client for the interface's own requests (speakers, titles); may be null.
    const std::shared_ptr<Mindvault>& vault() const { return m_vault; }
    void setVault(std::shared_ptr<Mindvault> vault);

    // What the sign-in check reads from disk: whether a credential is stored, its account,
    // whether the login item is on.
    struct AccountFacts {
        bool hasCredentials = false;
        std::optional<QString> email;
        bool launchAtLogin = false;
    };

    // Plain fields, set once by AppState::wire().
    AppActions actions;
    // Runs on a worker thread; the default knows of no credential.
    std::function<AccountFacts()> readAccount;
    QString importFolder;
    QString projectRoot;
    // The service's web address, read each time a page is opened (the configuration may be
    // put in place while the application runs); an invalid URL while there is none.
    std::function<QUrl()> vaultBaseURL;

    // --- derived values ---
    // Text the tray badge shows: " 42%", " ↑", " ·", " ···" or empty.
    static QString menuBarSuffix(const SyncPhase& phase);
    static std::optional<Activity> activity(const SyncPhase& phase, const RecordingItem& item);
    std::optional<Activity> activity(const RecordingItem& item) const;

    // Copies the engine's published properties; normally run by the coalesced change handler.
    void pull();
    // Reads the account facts off the event loop, then checks a stored credential with the
    // service: valid clears the notice, expired signs out with "登录已失效，请重新登录",
    // unreachable and none leave the user signed in.
    QCoro::Task<> refreshAuthAsync();

Q_SIGNALS:
    void deviceChanged();
    void itemsChanged();
    void phaseChanged();
    void pendingBindMismatchChanged();
    // uploadBlocked or needsSignIn
    void uploadBlockedChanged();
    // lastRun or lastSummary
    void lastRunChanged();
    void selectionChanged();
    void panelChanged();
    void auditReportChanged();
    // signedIn, signedInEmail or sessionNotice
    void accountChanged();
    // cleanupEnabled, coolingDays, minUploadMinutes or launchAtLogin
    void settingsChanged();
    void vaultChanged();

private:
    void attach(SyncEngine* engine);
    void schedulePull();
    void installDefaultActions(DesktopShell& shell);

    QPointer<SyncEngine> m_engine;
    bool m_pullQueued = false;

    DeviceInfo m_device;
    QList<RecordingItem> m_items;
    SyncPhase m_phase;
    std::optional<BindMismatch> m_pendingBindMismatch;
    std::optional<QString> m_uploadBlocked;
    bool m_needsSignIn = false;
    std::optional<QDateTime> m_lastRun;
    QString m_lastSummary = QStringLiteral("\u2014");

    std::optional<QString> m_selection;
    std::optional<Panel> m_panel;
    std::optional<ArchiveAudit::Report> m_auditReport;
    std::shared_ptr<Mindvault> m_vault;
    bool m_cleanupEnabled = false;
    int m_coolingDays = 3;
    int m_minUploadMinutes = 5;
    std::optional<bool> m_signedIn;
    std::optional<QString> m_signedInEmail;
    std::optional<QString> m_sessionNotice;
    bool m_launchAtLogin = false;
};
