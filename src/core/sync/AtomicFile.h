#pragma once

#include <QByteArray>
#include <QString>

// Whole-file writes that readers never see half done: the bytes go to a temporary file in
// the same folder, are flushed to disk, then renamed over the target. A crash leaves either
// the old file or the new one, never an empty or partial one.
namespace AtomicFile {

// Throws FileError on failure; the previous file, if any, is then untouched.
void write(const QString& path, const QByteArray& data);

// Same, but reports failure instead of throwing.
bool tryWrite(const QString& path, const QByteArray& data) noexcept;

} // namespace AtomicFile
