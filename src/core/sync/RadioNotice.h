#pragma once

#include <QObject>
#include <optional>

class CentralPort;
class EngineContext;

// Tells the user what happens to the radio, through the engine's log and phase: each change is
// logged once; while the radio is unavailable a listening engine shows the failure and the log
// says what to do; once it is back the engine waits for the pen again (the client restarts
// scanning by itself). The front end that owns the engine owns this beside it.
class RadioNotice : public QObject {
    Q_OBJECT

public:
    RadioNotice(CentralPort& central, EngineContext& engine, QObject* parent = nullptr);

    void note(int state);

private:
    EngineContext& m_engine;
    std::optional<int> m_noted;
};
