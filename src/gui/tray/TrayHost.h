#pragma once

#include <QDBusConnection>
#include <QObject>

class QDBusServiceWatcher;

// Whether the desktop can show a tray icon now: a StatusNotifierWatcher on the session bus with
// a host registered at it. Followed as it comes and goes (a panel that starts after the
// application, a panel restarting), because Qt asks once per process and keeps its first answer:
// the tray icon may only be created once this says yes.
class TrayHost : public QObject {
    Q_OBJECT

public:
    explicit TrayHost(const QDBusConnection& bus, QObject* parent = nullptr);
    ~TrayHost() override;

    bool present() const { return m_present; }

Q_SIGNALS:
    void presentChanged(bool present);

private Q_SLOTS:
    void check();

private:
    void set(bool present);

    QDBusConnection m_bus;
    QDBusServiceWatcher* m_watcher;
    bool m_present = false;
    quint64 m_asked = 0; // the latest question; older answers are stale
};
