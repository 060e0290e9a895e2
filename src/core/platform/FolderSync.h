#pragma once

#include <QString>

// A rename is durable only once the folder holding it is on disk too: without this, a power
// cut right after an atomic replace can bring back the old file, or no file at all.
namespace FolderSync {

// Flushes the folder's entries to disk; false when the system refused (the data is still
// written, only not yet durable).
bool sync(const QString& folder) noexcept;

// Makes a folder for secrets: created if missing and readable by its owner only. False when
// it could not be made so.
bool makePrivate(const QString& folder) noexcept;

} // namespace FolderSync
