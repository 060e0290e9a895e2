#pragma once

#include <QObject>
#include <QTimer>
#include <optional>

class CentralPort;
class SyncEngine;

// Tells the user what happens to the radio, through the engine's log and phase: each lasting
// change is logged once; while the radio is unavailable a listening engine shows the failure
// and the log says what to do; once it is back the engine waits for the pen again (the client
// restarts scanning by itself). A state that passes within `holdSeconds` (bluetoothd
// restarting: gone, then no adapter, then the adapter off, then on) is no news and gives no
// advice. The front end that owns the engine owns this beside it.
class RadioNotice : public QObject {
    Q_OBJECT

public:
    static constexpr double defaultHoldSeconds = 2;

    RadioNotice(CentralPort& central, SyncEngine& engine, double holdSeconds = defaultHoldSeconds,
                QObject* parent = nullptr);

    // A state as the central reports it; acted on once it has lasted holdSeconds.
    void note(int state);

private:
    void settle(int state);
    static QString unavailable(int state);

    SyncEngine& m_engine;
    double m_holdSeconds;
    QTimer m_hold;
    int m_latest = 0;
    std::optional<int> m_noted;
};
