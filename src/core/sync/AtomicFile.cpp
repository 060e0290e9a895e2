#include "sync/AtomicFile.h"

#include "platform/FolderSync.h"
#include "sync/FileError.h"

#include <QFileInfo>
#include <QSaveFile>

namespace AtomicFile {

void write(const QString& path, const QByteArray& data, Access access)
{
    // QSaveFile writes a temporary file beside the target, syncs it to disk on commit and
    // renames it over the target; direct-write fallback stays off so this is never weakened.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        throw FileError(file.errorString());
    }
    if (access == Access::OwnerOnly &&
        !file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        const QString err = file.errorString();
        file.cancelWriting();
        throw FileError(err);
    }
    if (file.write(data) != data.size()) {
        const QString err = file.errorString();
        file.cancelWriting();
        throw FileError(err);
    }
    if (!file.commit()) {
        throw FileError(file.errorString());
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
