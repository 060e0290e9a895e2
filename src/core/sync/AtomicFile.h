#pragma once

#include <QByteArray>
#include <QString>

// Whole-file writes that readers never see half done: the bytes go to a temporary file in
// the same folder, are flushed to disk, then renamed over the target. A crash leaves either
// the old file or the new one, never an empty or partial one.
namespace AtomicFile {

enum class Access {
    Shared,    // the user's default permissions
    OwnerOnly, // 0600 from the first byte on: credentials and bindings
};

// Throws FileError on failure; the previous file, if any, is then untouched. After the rename
// the folder is flushed too, so the new file survives a power cut.
void write(const QString& path, const QByteArray& data, Access access = Access::Shared);

// Same, but reports failure instead of throwing.
bool tryWrite(const QString& path, const QByteArray& data, Access access = Access::Shared) noexcept;

} // namespace AtomicFile
