#include "NotifySocket.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QMap>
#include <QSocketNotifier>
#include <QVariantMap>
#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString kBluez = u"org.bluez"_s;
const QString kChar = u"org.bluez.GattCharacteristic1"_s;

} // namespace

NotifySocket::NotifySocket(const QString& path, Outcome outcome, Packet packet, QObject* parent)
    : QObject(parent), m_packet(std::move(packet))
{
    QDBusMessage call = QDBusMessage::createMethodCall(kBluez, path, kChar, u"AcquireNotify"_s);
    call << QVariantMap();
    auto* watcher =
        new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call, 10000), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, watcher, outcome = std::move(outcome)] {
                watcher->deleteLater();
                const QDBusMessage reply = watcher->reply();
                const QList<QVariant> args = reply.arguments();
                const auto fd = args.value(0).value<QDBusUnixFileDescriptor>();
                if (reply.type() == QDBusMessage::ErrorMessage || !fd.isValid()) {
                    outcome(false);
                    return;
                }
                m_fd = ::dup(fd.fileDescriptor());
                if (m_fd < 0) {
                    outcome(false);
                    return;
                }
                m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
                connect(m_notifier, &QSocketNotifier::activated, this, &NotifySocket::readAll);
                outcome(true);
            });
}

NotifySocket::~NotifySocket()
{
    delete m_notifier;
    if (m_fd >= 0)
        ::close(m_fd); // BlueZ stops notifying when the socket closes
}

void NotifySocket::readAll()
{
    char buf[1024];
    while (true) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n > 0) {
            m_packet(QByteArray(buf, qsizetype(n)));
            continue;
        }
        if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR))
            m_notifier->setEnabled(false); // BlueZ closed it: the link is ending
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
}

QString NotifySocket::characteristicPath(const QString& devicePath, const QString& uuid)
{
    QDBusMessage call = QDBusMessage::createMethodCall(
        kBluez, u"/"_s, u"org.freedesktop.DBus.ObjectManager"_s, u"GetManagedObjects"_s);
    const QDBusMessage reply = QDBusConnection::systemBus().call(call, QDBus::Block, 3000);
    if (reply.type() == QDBusMessage::ErrorMessage || reply.arguments().isEmpty())
        return {};
    // Read with QDBusArgument's templates: these types stay unregistered (see BluezRadio).
    QMap<QDBusObjectPath, QMap<QString, QVariantMap>> objects;
    reply.arguments().first().value<QDBusArgument>() >> objects;
    for (auto it = objects.cbegin(); it != objects.cend(); ++it) {
        const QString path = it.key().path();
        const auto chr = it->constFind(kChar);
        if (chr != it->cend() && path.startsWith(devicePath + u'/') &&
            chr->value(u"UUID"_s).toString().compare(uuid, Qt::CaseInsensitive) == 0)
            return path;
    }
    return {};
}
