#pragma once

#include <QObject>
#include <functional>

class AppModel;
class Dialogs;
class QAction;
class QDateTime;
class QMenu;

// The tray icon's menu: what the importer is doing, the everyday commands and the few
// settings. Rebuilt from the model whenever it changes; holds no state of its own.
class TrayMenu : public QObject {
    Q_OBJECT

public:
    using Now = std::function<QDateTime()>;

    TrayMenu(AppModel& model, Dialogs& dialogs, Now now = {}, QObject* parent = nullptr);
    ~TrayMenu() override;

    QMenu& menu() const { return *m_menu; }
    // Re-reads the model; runs by itself on every change.
    void refresh();

private:
    AppModel& m_model;
    Dialogs& m_dialogs;
    Now m_now;
    QMenu* m_menu;
    QAction* m_status;
    QAction* m_lastRun;
    QAction* m_summary;
    QAction* m_device;
    QAction* m_syncNow;
    QAction* m_loginItem;
    QAction* m_signOut;
    QAction* m_threshold;
    QAction* m_cleanup;
};
