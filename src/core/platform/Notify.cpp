#include "platform/Notify.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QProcess>
#include <QVariantMap>

using namespace Qt::StringLiterals;

namespace {

const QString service = u"org.freedesktop.Notifications"_s;
const QString path = u"/org/freedesktop/Notifications"_s;

QDBusMessage call(const QString& method)
{
    return QDBusMessage::createMethodCall(service, path, service, method);
}

} // namespace

Notify::Notify(QDBusConnection bus, Launcher launcher, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)), m_launcher(std::move(launcher))
{
    if (!m_launcher) {
        m_launcher = [](const QString& program, const QStringList& arguments) {
            return QProcess::startDetached(program, arguments);
        };
    }
}

void Notify::request()
{
    if (!m_bus.isConnected()) {
        m_authorized = Authorized::No;
        return;
    }
    // The service may be activatable rather than running; asking it something starts it.
    auto* watcher =
        new QDBusPendingCallWatcher(m_bus.asyncCall(call(u"GetServerInformation"_s)), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        m_authorized = w->isError() ? Authorized::No : Authorized::Yes;
        w->deleteLater();
    });
}

void Notify::send(const QString& body, const QString& title)
{
    if (!m_bus.isConnected() || m_authorized == Authorized::No) {
        fallback(body, title);
        return;
    }
    QDBusMessage msg = call(u"Notify"_s);
    msg << u"Kestrel"_s << 0u << QString() << title << body << QStringList() << QVariantMap() << -1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(msg), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, body, title](QDBusPendingCallWatcher* w) {
                if (w->isError()) {
                    fallback(body, title);
                }
                w->deleteLater();
            });
}

QStringList Notify::fallbackArguments(const QString& body, const QString& title)
{
    // An argument list, not a shell command: the texts reach the program byte for byte.
    return {u"--app-name=Kestrel"_s, u"--"_s, title, body};
}

void Notify::fallback(const QString& body, const QString& title)
{
    m_launcher(u"notify-send"_s, fallbackArguments(body, title)); // launch errors are ignored
}
