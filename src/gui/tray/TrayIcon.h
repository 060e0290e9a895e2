#pragma once

#include "sync/SyncPhase.h"

#include <QIcon>
#include <QObject>

class AppModel;
class QSystemTrayIcon;
class TrayMenu;

// The importer's face in the panel: its symbol (the warning triangle while the phase is failed)
// with what it is doing drawn as a badge ("42%", "↑", "·"), since a tray icon cannot carry text
// beside it; the phase goes into the tool tip. The icon is redrawn only when the badge changes.
class TrayIcon : public QObject {
    Q_OBJECT

public:
    TrayIcon(AppModel& model, TrayMenu& menu, QObject* parent = nullptr);
    ~TrayIcon() override;

    void show();
    QSystemTrayIcon& systemTrayIcon() const { return *m_tray; }

    // The icon for a phase, drawn at the usual panel sizes.
    static QIcon render(const SyncPhase& phase);

private:
    void follow();

    AppModel& m_model;
    QSystemTrayIcon* m_tray;
    QString m_drawn; // the badge and symbol the icon shows, to skip needless redraws
};
