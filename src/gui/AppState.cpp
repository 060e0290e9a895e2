#include "AppState.h"

#include "Alerts.h"
#include "DesktopShell.h"
#include "Dialogs.h"
#include "cleanup/PenDeletions.h"
#include "cloud/DeviceBinder.h"
#include "cloud/MindvaultConfig.h"
#include "cloud/NetworkError.h"
#include "cloud/UploadQueue.h"
#include "sync/Describe.h"
#include "sync/ManifestEdits.h"
#include "sync/SyncEngine.h"
#include "window/MainWindow.h"

#include <QApplication>
#include <QCoro/QCoroFuture>
#include <QDir>
#include <QScreen>
#include <QStyle>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::Literals::StringLiterals;

AppState::AppState(AppServices services, Dialogs& dialogs, DesktopShell& shell,
                   QString windowStateFile, QObject* parent)
    : QObject(parent), m_services(std::move(services)), m_dialogs(dialogs), m_shell(shell),
      m_windowStateFile(std::move(windowStateFile)), m_model(&m_services.engine, shell)
{
    m_model.importFolder = m_services.engine.paths().dest();
    m_model.projectRoot = QDir::homePath();
}

AppState::~AppState()
{
    delete m_window;
}

void AppState::wire()
{
    if (m_wired)
        return;
    SyncEngine& engine = m_services.engine;
    AppModel& model = m_model;
    model.importFolder = engine.paths().dest();
    model.projectRoot = engine.paths().root();
    model.vaultBaseURL = [config = engine.paths().mindvaultConfig()] {
        try {
            return QUrl(MindvaultConfig::load(config).apiBase);
        } catch (const std::exception&) {
            // No service configured: the web pages have no address and their entries do
            // nothing.
            return QUrl();
        }
    };
    const CleanupSettings& settings = engine.cleanup();
    model.setCleanupEnabled(settings.deleteAfterSync);
    model.setCoolingDays(settings.coolingDays);
    model.setMinUploadMinutes(settings.minUploadSeconds / 60);
    installWiredActions();
    if (m_services.uploadQueue)
        fetchVault(m_services.uploadQueue);
    m_services.requestNotifications();
    engine.start();
    m_wired = true;
}

// The closures live in the model, which this object owns: they cannot outlive it, so they
// hold it plainly. Coroutines check after every wait that the state still exists.
void AppState::installWiredActions()
{
    SyncEngine* engine = &m_services.engine;
    AppActions& a = m_model.actions;
    AppModel* model = &m_model;

    a.syncNow = [engine] {
        engine->syncNow();
    };
    a.setCleanup = [engine, model](bool on) {
        CleanupSettings s = engine->cleanup();
        s.deleteAfterSync = on;
        engine->setCleanup(s);
        model->setCleanupEnabled(on);
    };
    a.setMinUploadMinutes = [engine, model](int minutes) {
        CleanupSettings s = engine->cleanup();
        s.minUploadSeconds = minutes * 60;
        engine->setCleanup(s);
        model->setMinUploadMinutes(minutes);
    };
    a.signIn = [this](QString email, QString password) {
        return signIn(std::move(email), std::move(password));
    };
    a.signOut = [this] {
        signOut();
    };
    a.setLoginItem = [this](bool on) {
        const LoginItem& item = m_services.loginItem;
        if (const std::optional<QString> error = item.set(on))
            m_dialogs.ask(Alerts::loginItemFailed(*error));
        m_model.setLaunchAtLogin(item.enabled());
    };
    a.openLog = [this] {
        m_shell.open(QUrl::fromLocalFile(m_services.engine.paths().syncLog()));
    };
    a.openMainWindow = [this] {
        showMainWindow();
    };
    PenDeletions* deletions = &m_services.penDeletions;
    ManifestEdits* edits = &m_services.manifestEdits;
    a.deleteFromDevice = [deletions](const RecordingItem& item) {
        deletions->requestDeviceDelete(item.base);
    };
    a.toggleStar = [edits](const RecordingItem& item) {
        edits->toggleStar(item.base);
    };
    a.toggleDismissed = [edits](const RecordingItem& item) {
        edits->toggleDismissed(item.base);
    };
    a.setPlan = [edits](const RecordingItem& item, std::optional<QString> title,
                        std::optional<QString> projectId) {
        edits->setPlan(item.base, title, projectId);
    };
    a.runAudit = [this] {
        runAudit();
    };
    UploadQueue* queue = m_services.uploadQueue;
    a.pushNow = [queue](const RecordingItem& item) {
        if (queue)
            queue->pushNow(item.base);
    };
    a.deleteImpact = [deletions](const RecordingItem& item) {
        return deletions->deleteImpact(item.base);
    };
    a.repush = [queue](const RecordingItem& item) {
        if (queue)
            queue->repushFailed(item.base);
    };
    a.redownload = [edits](const RecordingItem& item) {
        edits->requestRedownload(item.base);
    };
    a.quit = m_services.quit;
    DeviceBinder* binder = &m_services.deviceBinder;
    a.resolveBindMismatch = [binder](std::optional<QString> name) {
        return binder->resolveBindMismatch(std::move(name));
    };
    a.renameDevice = [this](QString name) {
        return renameDevice(std::move(name));
    };
    a.dismissBindMismatch = [binder] {
        binder->dismissBindMismatch();
    };
    a.checkSession = [this] {
        return checkSession();
    };
    a.speakersNamed = [queue](QString transcriptId, int unconfirmed) {
        if (queue)
            queue->noteSpeakersNamed(transcriptId, unconfirmed);
    };

    const TokenStore store = m_services.store;
    const LoginItem loginItem = m_services.loginItem;
    m_model.readAccount = [store, loginItem] {
        return AppModel::AccountFacts{Mindvault::hasCredentials(store),
                                      Mindvault::signedInEmail(store), loginItem.enabled()};
    };
}

void AppState::signOut()
{
    m_services.store.clear();
    // The queue's client still holds tokens in memory: without this it would keep pushing
    // after the user was told nothing goes up until the next sign-in.
    if (m_services.uploadQueue)
        m_services.uploadQueue->signedOut();
    m_model.setSignedIn(false);
    m_model.setSignedInEmail(std::nullopt);
    m_model.setVault(nullptr);
}

QCoro::Task<AppActions::ErrorText> AppState::signIn(QString email, QString password)
{
    const QString noConfig = u"读不到Mindvault配置"_s;
    QPointer<AppState> self(this);
    UploadQueue* queue = m_services.uploadQueue;
    if (!queue)
        co_return noConfig;
    std::shared_ptr<Mindvault> client = co_await queue->uiVault(true);
    if (!self)
        co_return std::nullopt;
    if (!client)
        co_return noConfig;
    try {
        co_await client->signIn(email, password);
    } catch (const NetworkError& e) {
        co_return u"连不上Mindvault（"_s + e.description() + u"）"_s;
    } catch (const std::exception& e) {
        co_return describe(e);
    }
    if (!self)
        co_return std::nullopt;
    m_model.setSessionNotice(std::nullopt);
    m_model.setSignedInEmail(Mindvault::signedInEmail(m_services.store));
    m_model.setVault(client);
    m_model.setSignedIn(true);
    m_services.engine.start();
    queue->signedInAgain();
    co_return std::nullopt;
}

QCoro::Task<> AppState::fetchVault(UploadQueue* queue)
{
    QPointer<AppState> self(this);
    std::shared_ptr<Mindvault> client = co_await queue->uiVault(false);
    if (self && client)
        m_model.setVault(client);
}

// The stored sign-in is checked through the upload queue's own client rather than a second
// one: a refresh rotates the refresh token, and two clients refreshing with the same token at
// start-up would have the service revoke the sign-in the user just made.
QCoro::Task<Mindvault::AuthState> AppState::checkSession()
{
    QPointer<AppState> self(this);
    UploadQueue* queue = m_services.uploadQueue;
    if (!queue || !Mindvault::hasCredentials(m_services.store))
        co_return Mindvault::AuthState::none;
    try {
        (void)MindvaultConfig::load(m_services.engine.paths().mindvaultConfig());
    } catch (const std::exception&) {
        co_return Mindvault::AuthState::none;
    }
    Mindvault* client = co_await queue->ensureVault();
    if (client)
        co_return Mindvault::AuthState::valid;
    if (!self)
        co_return Mindvault::AuthState::none;
    // The queue marks the engine when the service refused the stored sign-in.
    co_return m_services.engine.needsSignIn() ? Mindvault::AuthState::expired
                                              : Mindvault::AuthState::unreachable;
}

QCoro::Task<AppActions::ErrorText> AppState::renameDevice(QString name)
{
    const DeviceBinder::RenameResult r =
        co_await m_services.deviceBinder.renameDevice(std::move(name));
    if (r.ok)
        co_return std::nullopt;
    co_return r.why;
}

// Decoding every archived recording takes seconds on a large archive: it runs on a worker
// thread (it only reads files) and the window stays responsive.
QCoro::Task<> AppState::runAudit()
{
    if (m_auditing)
        co_return;
    m_auditing = true;
    QPointer<AppState> self(this);
    const SyncPaths paths = m_services.engine.paths();
    const ArchiveAudit::Report report =
        co_await QtConcurrent::run([paths] { return ArchiveAudit::run(paths); });
    if (!self)
        co_return;
    m_auditing = false;
    m_services.manifestEdits.auditFinished(report);
    m_model.setAuditReport(report);
}

MainWindow* AppState::window() const
{
    return m_window;
}

void AppState::showMainWindow()
{
    if (!m_window) {
        auto* window = new MainWindow(m_model, m_dialogs, m_windowStateFile);
        window->setCloseHides(m_trayPresent);
        ensureOnScreen(*window);
        m_window = window;
    }
    m_window->show();
    m_window->setWindowState((m_window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    m_window->raise();
    m_window->activateWindow();
}

void AppState::setTrayPresent(bool present)
{
    m_trayPresent = present;
    MainWindow* window = m_window.data();
    if (!window)
        return;
    window->setCloseHides(present);
    // Without the tray a hidden window would leave the application with no face at all.
    if (!present && !window->isVisible())
        showMainWindow();
}

void AppState::ensureOnScreen(QWidget& window)
{
    const QRect frame = window.frameGeometry();
    for (const QScreen* screen : QGuiApplication::screens()) {
        if (screen->availableGeometry().intersects(frame))
            return;
    }
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary)
        return;
    window.setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, window.size(),
                                           primary->availableGeometry()));
}
