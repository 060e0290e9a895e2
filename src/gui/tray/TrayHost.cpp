#include "TrayHost.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>

using namespace Qt::Literals::StringLiterals;

namespace {
const QString service = u"org.kde.StatusNotifierWatcher"_s;
const QString path = u"/StatusNotifierWatcher"_s;
} // namespace

TrayHost::TrayHost(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus),
      m_watcher(
          new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForOwnerChange, this))
{
    connect(m_watcher, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString&, const QString&, const QString& owner) {
                if (owner.isEmpty()) {
                    ++m_asked; // an answer still on its way came from the one that left
                    set(false);
                } else
                    check();
            });
    // A watcher may be there before the panel's host registers at it.
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        m_bus.connect(service, path, service, QString::fromLatin1(signal), this, SLOT(check()));
    check();
}

TrayHost::~TrayHost() = default;

void TrayHost::check()
{
    if (!m_bus.isConnected())
        return;
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, u"org.freedesktop.DBus.Properties"_s, u"Get"_s);
    get << service << u"IsStatusNotifierHostRegistered"_s;
    const quint64 asked = ++m_asked;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, asked](QDBusPendingCallWatcher* c) {
                c->deleteLater();
                if (asked != m_asked)
                    return;
                const QDBusPendingReply<QDBusVariant> reply = *c;
                // No watcher (the call fails) or one without a host: no tray to show an icon in.
                set(!reply.isError() && reply.value().variant().toBool());
            });
}

void TrayHost::set(bool present)
{
    if (present == m_present)
        return;
    m_present = present;
    Q_EMIT presentChanged(present);
}
