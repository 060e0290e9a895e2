#include "SingleInstance.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int answerMs = 1000;
} // namespace

SingleInstance::SingleInstance(QString socketPath, QObject* parent)
    : QObject(parent), m_path(std::move(socketPath))
{
    if (m_path.isEmpty()) {
        m_path = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation) +
                 u"/kestrel-desktop.sock"_s;
    }
}

SingleInstance::~SingleInstance() = default;

bool SingleInstance::claim(const QByteArray& request)
{
    QLocalSocket probe;
    probe.connectToServer(m_path);
    if (probe.waitForConnected(answerMs)) {
        probe.write(request + '\n');
        probe.waitForBytesWritten(answerMs);
        probe.disconnectFromServer();
        return false;
    }
    // Nobody answers: a socket file left by a crashed run would block listening.
    QLocalServer::removeServer(m_path);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_path))
        return true; // cannot guard, but can still run
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* peer = m_server->nextPendingConnection()) {
            connect(peer, &QLocalSocket::readyRead, this, [this, peer] {
                const QByteArray asked = peer->readAll().trimmed();
                if (asked == "menu")
                    Q_EMIT menuRequested();
                else if (asked == "sync-now")
                    Q_EMIT syncNowRequested();
                else if (asked == "quit")
                    Q_EMIT quitRequested();
                else
                    Q_EMIT raiseRequested();
                peer->disconnectFromServer();
            });
            connect(peer, &QLocalSocket::disconnected, peer, &QObject::deleteLater);
        }
    });
    return true;
}
