#include "sync/ArchiveLock.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::Literals::StringLiterals;

ArchiveLock::ArchiveLock(const QString& archiveRoot, const QString& lockFolder)
    : m_root(archiveRoot)
{
    // The same archive reached through another spelling or a symbolic link is the same archive.
    const QFileInfo info(archiveRoot);
    const QString canonical =
        info.exists() ? info.canonicalFilePath() : QDir::cleanPath(info.absoluteFilePath());
    QString folder = lockFolder;
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QDir().mkpath(folder);
    const QByteArray digest =
        QCryptographicHash::hash(canonical.toUtf8(), QCryptographicHash::Sha256).toHex().left(20);
    m_path = folder + u"/kestrel-archive-"_s + QString::fromLatin1(digest) + u".lock"_s;
    m_file = std::make_unique<QLockFile>(m_path);
    // Held for the life of the process: only a dead holder makes a lock stale, never its age.
    m_file->setStaleLockTime(0);
}

bool ArchiveLock::tryLock(std::chrono::milliseconds wait)
{
    return m_file->isLocked() || m_file->tryLock(int(wait.count()));
}

QString ArchiveLock::heldBy() const
{
    qint64 pid = 0;
    QString host, app;
    QString holder = u"另一个导入程序"_s;
    if (m_file->getLockInfo(&pid, &host, &app))
        holder = u"另一个导入程序（"_s + (app.isEmpty() ? u"kestrel"_s : app) + u"，进程 "_s +
                 QString::number(pid) + u"）"_s;
    return u"归档目录 "_s + m_root + u" 正由"_s + holder +
           u"在导入；同一个归档同时只能有一个导入程序，不然清单会被两边同时改写。"_s;
}
