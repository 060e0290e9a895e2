#include "sync/ArchiveSlot.h"

#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int maxNumbered = 999;

// Audio files the import folder may hold for a base; any of them belongs to a recording.
const QStringList destExtensions{u".ogg"_s, u".opus"_s, u".wav"_s, u".m4a"_s, u".caf"_s};

bool holds(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.size() == bytes.size() && file.open(QIODevice::ReadOnly) && file.readAll() == bytes;
}

bool hasAt(const QByteArray& bytes, qsizetype at, const char* magic)
{
    return bytes.mid(at, 4) == magic;
}

} // namespace

namespace ArchiveSlot {

QString containerExtension(const QString& receivedName, const QByteArray& bytes)
{
    for (const QString& ext : {u".opus"_s, u".wav"_s, u".ogg"_s}) {
        if (receivedName.endsWith(ext, Qt::CaseInsensitive))
            return receivedName.right(ext.size());
    }
    if (hasAt(bytes, 0, "OggS"))
        return u".ogg"_s;
    if (hasAt(bytes, 0, "RIFF") && hasAt(bytes, 8, "WAVE"))
        return u".wav"_s;
    if (hasAt(bytes, 0, "caff"))
        return u".caf"_s;
    if (hasAt(bytes, 4, "ftyp"))
        return u".m4a"_s;
    return u".bin"_s;
}

std::optional<QString> choose(const SyncPaths& paths, const SyncManifest& manifest,
                              const QString& key, const QString& base, const QByteArray& raw,
                              const QString& destExt, const QByteArray& destBytes)
{
    const QHash<QString, QString> claimed = SyncPlanner::claimedBases(manifest);
    QStringList extensions = destExtensions;
    if (!extensions.contains(destExt))
        extensions.append(destExt);
    for (int n = 1; n <= maxNumbered; ++n) {
        const QString candidate = SyncPlanner::numberedBase(base, n);
        const QString rawPath = paths.rawPackets() + u'/' + candidate + u".opus"_s;
        if (QFileInfo::exists(rawPath)) {
            // The same bytes: this recording's own copy (or an identical twin) may be rewritten.
            if (holds(rawPath, raw))
                return candidate;
            continue;
        }
        if (const auto owner = claimed.constFind(candidate);
            owner != claimed.cend() && *owner != key) {
            continue; // another recording's, even with its files gone
        }
        const bool destFree =
            std::all_of(extensions.cbegin(), extensions.cend(), [&](const QString& ext) {
                const QString path = paths.dest() + u'/' + candidate + ext;
                return !QFileInfo::exists(path) || (ext == destExt && holds(path, destBytes));
            });
        if (destFree)
            return candidate;
    }
    return std::nullopt;
}

} // namespace ArchiveSlot
