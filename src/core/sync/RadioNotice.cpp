#include "sync/RadioNotice.h"

#include "device/BLEError.h"
#include "device/CentralPort.h"
#include "device/RadioState.h"
#include "sync/EngineContext.h"
#include "sync/EngineHooks.h"
#include "sync/SyncPaths.h"

using namespace Qt::Literals::StringLiterals;

RadioNotice::RadioNotice(CentralPort& central, EngineContext& engine, QObject* parent)
    : QObject(parent), m_engine(engine)
{
    connect(&central, &CentralPort::stateUpdated, this, &RadioNotice::note);
}

void RadioNotice::note(int state)
{
    if (m_noted == state)
        return;
    const bool wasUnavailable = m_noted && *m_noted != CentralPort::poweredOn;
    m_noted = state;
    const bool listening = m_engine.monitoring() && !m_engine.isSyncing();
    if (state != CentralPort::poweredOn) {
        const QString text =
            BLEError::bluetoothUnavailable(u"state="_s + QString::number(state)).description();
        m_engine.log(text + u"——"_s + RadioState::advice(state));
        if (listening)
            m_engine.setPhase(SyncPhase::failed(text));
    } else if (wasUnavailable) {
        m_engine.log(u"蓝牙恢复了，接着找录音笔"_s);
        if (listening && m_engine.phase().is(SyncPhase::Kind::Failed))
            m_engine.setPhase(SyncPhase::waitingForDevice());
    }
}
