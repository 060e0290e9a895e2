#include "sync/AtomicFile.h"

#include "platform/FolderSync.h"
#include "sync/FileError.h"

#include <QFileInfo>
#include <QSaveFile>
#include <cerrno>

namespace AtomicFile {

void write(const QString& path, const QByteArray& data, Access access)
{
    // QSaveFile writes a temporary file beside the target, syncs it to disk on commit and
    // renames it over the target; direct-write fallback stays off so this is never weakened.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    // The error number is read right after the call that failed: it tells a full or
    // read-only disk from other failures.
    const auto failed = [&](bool cancel) {
        const int err = errno;
        const QString text = file.errorString();
        if (cancel)
            file.cancelWriting();
        return FileError::writeFailed(path, text, err, data.size());
    };
    errno = 0;
    if (!file.open(QIODevice::WriteOnly)) {
        throw failed(false);
    }
    if (access == Access::OwnerOnly &&
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        throw failed(true);
    }
    if (file.write(data) != data.size()) {
        throw failed(true);
    }
    if (!file.commit()) {
        throw failed(false);
    }
    FolderSync::sync(QFileInfo(path).absolutePath());
}

bool tryWrite(const QString& path, const QByteArray& data, Access access) noexcept
{
    try {
        write(path, data, access);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace AtomicFile
