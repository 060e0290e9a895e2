#pragma once

#include <QObject>
#include <memory>

class AppState;
class TrayHost;
class TrayIcon;
class TrayMenu;

// Keeps the tray icon exactly while the desktop has a tray host, and tells the application's
// state so: closing the window may hide it only while the icon is there to bring it back.
class TrayKeeper : public QObject {
    Q_OBJECT

public:
    TrayKeeper(TrayHost& host, AppState& state, TrayMenu& menu, QObject* parent = nullptr);
    ~TrayKeeper() override;

    // The icon, while there is a tray host.
    TrayIcon* icon() const { return m_icon.get(); }

private:
    void follow(bool present);

    AppState& m_state;
    TrayMenu& m_menu;
    std::unique_ptr<TrayIcon> m_icon;
};
