#pragma once

#include "sync/SyncManifest.h"

#include <QByteArray>
#include <QString>
#include <optional>

class SyncPaths;

// Where a downloaded recording goes in the archive. Recordings are archived by base name, and
// the pen reuses names (its clock resets; "X.opus" and "X.wav"; a container "Y.ogg" beside a
// raw "Y.opus"), so a base may already hold another recording: that one is never replaced, and
// the newcomer takes a numbered base instead (SyncPlanner::numberedBase).
namespace ArchiveSlot {

// The extension a container delivered by the pen is kept under: the received name's own audio
// extension, else one from the container's signature. Never the received name as such, which
// could be the ledger's, a backup's or a setting's.
QString containerExtension(const QString& receivedName, const QByteArray& bytes);

// The first numbered base of `base` whose files the recording can take: its raw file there
// already holds exactly these bytes (its own copy), or nothing is there, no other ledger entry
// goes by that base and no audio file of that base is in the import folder except destExt's
// with exactly destBytes. Absent when none of many names is free.
std::optional<QString> choose(const SyncPaths& paths, const SyncManifest& manifest,
                              const QString& key, const QString& base, const QByteArray& raw,
                              const QString& destExt, const QByteArray& destBytes);

} // namespace ArchiveSlot
