#include "AppModel.h"

#include "DesktopShell.h"
#include "cloud/Mindvault.h"
#include "sync/SyncEngine.h"

#include <QCoro/QCoroFuture>
#include <QFileInfo>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::Literals::StringLiterals;

namespace {

// Assigns and reports whether the value changed.
template <typename T> bool assign(T& field, const T& value)
{
    if (field == value)
        return false;
    field = value;
    return true;
}

} // namespace

AppModel::AppModel(SyncEngine* engine, DesktopShell& shell, QObject* parent)
    : QObject(parent), actions(AppActions::unwired()), readAccount([] { return AccountFacts(); }),
      vaultBaseURL([] { return QUrl(); })
{
    installDefaultActions(shell);
    attach(engine);
}

AppModel::~AppModel() = default;

std::optional<RecordingItem> AppModel::item(const QString& base) const
{
    for (const RecordingItem& it : m_items) {
        if (it.base == base)
            return it;
    }
    return std::nullopt;
}

void AppModel::attach(SyncEngine* engine)
{
    m_engine = engine;
    if (!engine)
        return;
    pull();
    for (auto signal :
         {&SyncEngine::deviceChanged, &SyncEngine::itemsChanged, &SyncEngine::phaseChanged,
          &SyncEngine::lastRunChanged, &SyncEngine::lastSummaryChanged,
          &SyncEngine::pendingBindMismatchChanged, &SyncEngine::uploadBlockedChanged,
          &SyncEngine::needsSignInChanged, &SyncEngine::cleanupChanged})
        connect(engine, signal, this, &AppModel::schedulePull);
}

// A download announces its progress many times a second and a round changes several
// properties at once: the views redraw once per event-loop turn, not once per announcement.
void AppModel::schedulePull()
{
    if (m_pullQueued)
        return;
    m_pullQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_pullQueued = false;
            pull();
        },
        Qt::QueuedConnection);
}

void AppModel::pull()
{
    if (!m_engine)
        return;
    const SyncEngine& e = *m_engine;
    if (assign(m_device, e.device()))
        Q_EMIT deviceChanged();
    if (assign(m_items, e.items()))
        Q_EMIT itemsChanged();
    if (assign(m_phase, e.phase()))
        Q_EMIT phaseChanged();
    if (assign(m_pendingBindMismatch, e.pendingBindMismatch()))
        Q_EMIT pendingBindMismatchChanged();
    const bool blocked = assign(m_uploadBlocked, e.uploadBlocked());
    if (assign(m_needsSignIn, e.needsSignIn()) || blocked)
        Q_EMIT uploadBlockedChanged();
    const bool ran = assign(m_lastRun, e.lastRun());
    if (assign(m_lastSummary, e.lastSummary()) || ran)
        Q_EMIT lastRunChanged();
    // The settings are read by the engine's start, after the wiring copied them once: follow
    // them, or the menu would show the defaults until the user touched a switch.
    const CleanupSettings& c = e.cleanup();
    bool settings = assign(m_cleanupEnabled, c.deleteAfterSync);
    settings = assign(m_coolingDays, c.coolingDays) || settings;
    settings = assign(m_minUploadMinutes, c.minUploadSeconds / 60) || settings;
    if (settings)
        Q_EMIT settingsChanged();
}

void AppModel::setSelection(const std::optional<QString>& base)
{
    if (assign(m_selection, base))
        Q_EMIT selectionChanged();
}

void AppModel::setPanel(const std::optional<Panel>& panel)
{
    if (assign(m_panel, panel))
        Q_EMIT panelChanged();
}

void AppModel::setAuditReport(const std::optional<ArchiveAudit::Report>& report)
{
    m_auditReport = report;
    // A new audit with the same findings is still news to the panel.
    Q_EMIT auditReportChanged();
}

void AppModel::setSignedIn(const std::optional<bool>& signedIn)
{
    if (assign(m_signedIn, signedIn))
        Q_EMIT accountChanged();
}

void AppModel::setSignedInEmail(const std::optional<QString>& email)
{
    if (assign(m_signedInEmail, email))
        Q_EMIT accountChanged();
}

void AppModel::setSessionNotice(const std::optional<QString>& notice)
{
    if (assign(m_sessionNotice, notice))
        Q_EMIT accountChanged();
}

void AppModel::setCleanupEnabled(bool on)
{
    if (assign(m_cleanupEnabled, on))
        Q_EMIT settingsChanged();
}

void AppModel::setCoolingDays(int days)
{
    if (assign(m_coolingDays, days))
        Q_EMIT settingsChanged();
}

void AppModel::setMinUploadMinutes(int minutes)
{
    if (assign(m_minUploadMinutes, minutes))
        Q_EMIT settingsChanged();
}

void AppModel::setLaunchAtLogin(bool on)
{
    if (assign(m_launchAtLogin, on))
        Q_EMIT settingsChanged();
}

void AppModel::setVault(std::shared_ptr<Mindvault> vault)
{
    if (m_vault == vault)
        return;
    m_vault = std::move(vault);
    Q_EMIT vaultChanged();
}

QString AppModel::menuBarSuffix(const SyncPhase& phase)
{
    switch (phase.kind()) {
    case SyncPhase::Kind::Downloading:
        return u" "_s + QString::number(phase.percent()) + u"%"_s;
    case SyncPhase::Kind::Uploading:
        return u" ↑"_s;
    case SyncPhase::Kind::Connecting:
    case SyncPhase::Kind::Listing:
        return u" ·"_s;
    case SyncPhase::Kind::Cleaning:
        return u" ···"_s;
    default:
        return {};
    }
}

std::optional<AppModel::Activity> AppModel::activity(const SyncPhase& phase,
                                                     const RecordingItem& item)
{
    if (phase.is(SyncPhase::Kind::Downloading) && phase.name().contains(item.base))
        return Activity{u"下载中"_s, phase.percent() / 100.0};
    if (phase.is(SyncPhase::Kind::Uploading) && phase.name().contains(item.base))
        return Activity{u"推送："_s + phase.detail(), std::nullopt};
    return std::nullopt;
}

std::optional<AppModel::Activity> AppModel::activity(const RecordingItem& item) const
{
    return activity(m_phase, item);
}

QCoro::Task<> AppModel::refreshAuthAsync()
{
    QPointer<AppModel> self(this);
    const AccountFacts facts = co_await QtConcurrent::run(readAccount);
    if (!self)
        co_return;
    setSignedIn(facts.hasCredentials);
    setSignedInEmail(facts.email);
    setLaunchAtLogin(facts.launchAtLogin);
    if (!facts.hasCredentials)
        co_return;
    const Mindvault::AuthState state = co_await actions.checkSession();
    if (!self)
        co_return;
    if (state == Mindvault::AuthState::valid) {
        setSessionNotice(std::nullopt);
    } else if (state == Mindvault::AuthState::expired) {
        actions.signOut();
        setSessionNotice(u"登录已失效，请重新登录"_s);
    }
}

void AppModel::installDefaultActions(DesktopShell& shell)
{
    QPointer<AppModel> self(this);
    DesktopShell* desktop = &shell;
    actions.openImportFolder = [self, desktop] {
        if (self)
            desktop->open(QUrl::fromLocalFile(self->importFolder));
    };
    actions.openVaultHome = [self, desktop] {
        const AppModel* model = self.data();
        if (!model || !model->vaultBaseURL)
            return;
        if (const QUrl home = model->vaultBaseURL(); home.isValid())
            desktop->open(home);
    };
    actions.openVaultSession = [self, desktop](const RecordingItem& item) {
        const AppModel* model = self.data();
        if (!model || !model->vaultBaseURL || !item.transcriptId)
            return;
        QUrl url = model->vaultBaseURL();
        if (!url.isValid())
            return;
        QString path = url.path();
        if (!path.endsWith(u'/'))
            path += u'/';
        url.setPath(path + u"zh/transcript/"_s + *item.transcriptId);
        desktop->open(url);
    };
    actions.revealLocal = [self, desktop](const RecordingItem& item) {
        if (!self)
            return;
        const QString ogg = self->importFolder + u'/' + item.base + u".ogg"_s;
        if (QFileInfo::exists(ogg))
            desktop->reveal(ogg);
        else
            desktop->open(QUrl::fromLocalFile(self->importFolder));
    };
}
