#pragma once

#include "AppModel.h"
#include "AppServices.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class Dialogs;
class DesktopShell;
class MainWindow;
class QWidget;
class UploadQueue;

// The application's state: the model over the engine, the wiring of every action to the
// engine and the desktop, and the main window. One object, owned by main's assembly.
class AppState : public QObject {
    Q_OBJECT

public:
    // windowStateFile: where the main window keeps its geometry.
    AppState(AppServices services, Dialogs& dialogs, DesktopShell& shell, QString windowStateFile,
             QObject* parent = nullptr);
    ~AppState() override;

    AppModel& model() { return m_model; }
    Dialogs& dialogs() { return m_dialogs; }
    bool wired() const { return m_wired; }

    // Once: points the model at the engine's archive, installs the wired actions, fetches the
    // interface's service client, asks for notifications and starts the engine. Later calls
    // do nothing.
    void wire();
    // Creates the main window on first use, then shows, raises and activates it.
    void showMainWindow();
    // The main window, once created.
    MainWindow* window() const;
    // Whether a tray icon stands for the application (none at first). Only then may closing the
    // window hide it; when the tray goes while the window is hidden, the window comes back.
    void setTrayPresent(bool present);
    bool trayPresent() const { return m_trayPresent; }

    // Centres the window on the primary screen when its frame meets no screen's free area.
    static void ensureOnScreen(QWidget& window);

private:
    void installWiredActions();
    void signOut();
    QCoro::Task<AppActions::ErrorText> signIn(QString email, QString password);
    QCoro::Task<> fetchVault(UploadQueue* queue);
    QCoro::Task<Mindvault::AuthState> checkSession();
    QCoro::Task<AppActions::ErrorText> renameDevice(QString name);
    QCoro::Task<> runAudit();

    AppServices m_services;
    Dialogs& m_dialogs;
    DesktopShell& m_shell;
    QString m_windowStateFile;
    AppModel m_model;
    bool m_wired = false;
    bool m_auditing = false; // one audit at a time; a second click waits for its report
    bool m_trayPresent = false;
    QPointer<MainWindow> m_window;
};
