#include "sync/AtomicFile.h"

#include "sync/FileError.h"

#include <QSaveFile>

namespace AtomicFile {

void write(const QString& path, const QByteArray& data)
{
    // QSaveFile writes a temporary file beside the target, syncs it to disk on commit and
    // renames it over the target; direct-write fallback stays off so this is never weakened.
    QSaveFile file(path);
    file.setDirectWriteFallback(false);
    if (!file.open(QIODevice::WriteOnly)) {
        throw FileError(file.errorString());
    }
    if (file.write(data) != data.size()) {
        const QString err = file.errorString();
        file.cancelWriting();
        throw FileError(err);
    }
    if (!file.commit()) {
        throw FileError(file.errorString());
    }
}

bool tryWrite(const QString& path, const QByteArray& data) noexcept
{
    try {
        write(path, data);
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace AtomicFile
