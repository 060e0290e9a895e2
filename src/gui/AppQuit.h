#pragma once

#include <QCoro/QCoroTask>
#include <QObject>
#include <chrono>
#include <functional>

class SyncEngine;

// Ends the application however it is asked to (the menus, Ctrl+Q, `kestrel --quit`, a signal
// at logout), the way the station ends: the engine stops, and a round with the pen connected is
// cut and does its bookkeeping first, so a transfer leaves a partial the next round resumes, and
// the link to the pen goes down before the process ends. No window is asked to close, so a
// window that only minimises cannot stop it, and a round that does not end within the grace
// period does not hold the process either.
class AppQuit : public QObject {
    Q_OBJECT

public:
    // exit: ends the event loop with the status (QCoreApplication::exit unless a test says).
    using Exit = std::function<void(int status)>;

    AppQuit(SyncEngine& engine, std::chrono::milliseconds grace, Exit exit = {},
            QObject* parent = nullptr);

    // Asked again while a round ends, nothing more happens.
    void request();

Q_SIGNALS:
    // At once, so the window and the tray icon can go before the round has ended.
    void quitting();

private:
    void finish();
    QCoro::Task<> leave();

    SyncEngine& m_engine;
    std::chrono::milliseconds m_grace;
    Exit m_exit;
    bool m_requested = false;
    bool m_finished = false;
};
