#include "platform/FolderSync.h"

#include <QDir>
#include <QFile>
#include <fcntl.h>
#include <unistd.h>

namespace FolderSync {

bool sync(const QString& folder) noexcept
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

bool makePrivate(const QString& folder) noexcept
{
    return QDir().mkpath(folder) &&
           QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace FolderSync
