#include "AppQuit.h"

#include "device/BLEClient.h"
#include "sync/SyncEngine.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>

AppQuit::AppQuit(SyncEngine& engine, std::chrono::milliseconds grace, Exit exit, QObject* parent)
    : QObject(parent), m_engine(engine), m_grace(grace),
      m_exit(exit ? std::move(exit) : Exit([](int status) { QCoreApplication::exit(status); }))
{}

void AppQuit::request()
{
    if (m_requested)
        return;
    m_requested = true;
    Q_EMIT quitting();
    m_engine.stop();
    // Only a connected round has files in flight; listening, scanning or connecting simply end.
    if (!m_engine.isSyncing() || !m_engine.device().connected) {
        finish();
        return;
    }
    connect(&m_engine, &SyncEngine::roundEnded, this, &AppQuit::finish);
    QTimer::singleShot(m_grace, this, &AppQuit::finish);
    m_engine.interruptRound();
}

void AppQuit::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    leave();
}

QCoro::Task<> AppQuit::leave()
{
    // BlueZ keeps a link whose client has left the bus: the pen would stay connected, unseen by
    // the next start. Without a link this completes at once.
    QPointer<AppQuit> self(this);
    co_await m_engine.client().close(m_engine.client().timing().settle);
    if (self)
        m_exit(0);
}
