#include "FileManager.h"

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QStringList>
#include <QUrl>

using namespace Qt::Literals::StringLiterals;

namespace FileManager {

namespace {
// A file browser that starts on demand may need a few seconds; the window never waits on it.
constexpr int answerTimeoutMs = 25'000;
} // namespace

Shown outcome(const QDBusError& error)
{
    if (!error.isValid())
        return Shown::yes;
    switch (error.type()) {
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
        return Shown::noAnswer;
    default:
        return Shown::noFileBrowser;
    }
}

void showItem(const QString& filePath, std::function<void(Shown)> done)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        done(Shown::noFileBrowser);
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
        u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << QStringList{QUrl::fromLocalFile(filePath).toString()} << QString();
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, answerTimeoutMs));
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [done = std::move(done)](QDBusPendingCallWatcher* w) {
                         w->deleteLater();
                         const QDBusPendingReply<> reply = *w;
                         done(reply.isError() ? outcome(reply.error()) : Shown::yes);
                     });
}

} // namespace FileManager
