#include "sync/RadioNotice.h"

#include "device/BLEError.h"
#include "device/CentralPort.h"
#include "device/DeviceTimer.h"
#include "device/RadioState.h"
#include "sync/SyncEngine.h"

using namespace Qt::Literals::StringLiterals;

RadioNotice::RadioNotice(CentralPort& central, SyncEngine& engine, double holdSeconds,
                         QObject* parent)
    : QObject(parent), m_engine(engine), m_holdSeconds(holdSeconds)
{
    m_hold.setSingleShot(true);
    connect(&m_hold, &QTimer::timeout, this, [this] { settle(m_latest); });
    connect(&central, &CentralPort::stateUpdated, this, &RadioNotice::note);
    // A round the outage cut short ends "waiting for the pen", and so does the drop it caused:
    // while the radio is still down, its problem is what the user must see.
    connect(
        &engine, &SyncEngine::phaseChanged, this,
        [this] {
            if (m_noted && *m_noted != CentralPort::poweredOn &&
                m_latest != CentralPort::poweredOn && m_engine.monitoring() &&
                !m_engine.isSyncing() && m_engine.phase().is(SyncPhase::Kind::WaitingForDevice))
                m_engine.setPhase(SyncPhase::failed(unavailable(*m_noted)));
        },
        Qt::QueuedConnection);
}

QString RadioNotice::unavailable(int state)
{
    return BLEError::bluetoothUnavailable(u"state="_s + QString::number(state)).description();
}

void RadioNotice::note(int state)
{
    m_latest = state;
    if (m_holdSeconds <= 0) {
        settle(state);
        return;
    }
    // Each change restarts the hold: only the state the radio stays in counts.
    m_hold.start(DeviceTimer::toMs(m_holdSeconds));
}

void RadioNotice::settle(int state)
{
    if (m_noted == state)
        return;
    const bool wasUnavailable = m_noted && *m_noted != CentralPort::poweredOn;
    m_noted = state;
    const bool listening = m_engine.monitoring() && !m_engine.isSyncing();
    if (state != CentralPort::poweredOn) {
        const QString text = unavailable(state);
        m_engine.log(text + u"——"_s + RadioState::advice(state));
        if (listening)
            m_engine.setPhase(SyncPhase::failed(text));
    } else if (wasUnavailable) {
        m_engine.log(u"蓝牙恢复了，接着找录音笔"_s);
        if (listening && m_engine.phase().is(SyncPhase::Kind::Failed))
            m_engine.setPhase(SyncPhase::waitingForDevice());
    }
}
