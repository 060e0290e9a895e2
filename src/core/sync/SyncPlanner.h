#pragma once

#include "device/FileEntry.h"
#include "sync/RecordingItem.h"
#include "sync/SyncManifest.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

// Pure decisions from the pen's list, the ledger and the archive: what to download, record,
// re-wrap, poll, and the rows the UI shows. No I/O.
namespace SyncPlanner {

constexpr int giveUpAfter = 5;     // download failures before automatic retries stop
constexpr int pollGiveUpAfter = 8; // failed status queries before polling stops
constexpr int packetBytes = 40;
constexpr int packetMs = 20;

using Entries = QList<FileEntry>;
using Sizes = QHash<QString, qint64>; // base -> bytes of a local file
using Status = std::optional<uint8_t>;
using Current = std::optional<QString>;

QString normalizedBase(const QString& name);
QString manifestKey(const FileEntry& entry);

// The base a ledger entry's archive files go by: its file name without the extension (a
// recording whose pen name was taken by an earlier one is archived under a numbered base),
// or the normalized pen name of its key when the entry names no usable file.
QString archivedBase(const QString& key, const SyncManifest::Imported& imported);
// archived base -> a key whose files go by it.
QHash<QString, QString> claimedBases(const SyncManifest& manifest);
// The n-th name tried for a recording's archive files: the base itself, then base-2, base-3...
QString numberedBase(const QString& base, int n);

// Whether a name may become a local file name: not empty, not "." or "..", and no "/", "\",
// NUL or other control characters. The pen's names are untrusted; every name that becomes a
// path (base + ".ogg"/".opus"/".part", a received container name) goes through this.
bool isSafeBase(const QString& name);
// Whether both the entry's name and its base are safe.
bool isSafeEntry(const FileEntry& entry);
// Entries whose name or base is unsafe; they are never downloaded, archived or deleted.
Entries unsafeEntries(const Entries& entries);
// One log line naming them; empty when there are none.
QString unsafeEntriesNote(const Entries& entries);

bool isLive(const FileEntry& entry, Status status, const Current& current);

// What this round downloads: what is resumable, except what is being recorded or empty.
Entries pending(const Entries& entries, const SyncManifest& manifest, Status status,
                const Current& current, const Sizes& localRaw);
// Entries some round will still download: safe, not in the ledger, no complete raw copy, not
// given up. A partial download of any other entry is of no further use.
Entries resumable(const Entries& entries, const SyncManifest& manifest, const Sizes& localRaw);
Entries unrecorded(const Entries& entries, const SyncManifest& manifest, Status status,
                   const Current& current, const Sizes& localRaw, const Sizes& localOgg);
Entries needsRewrap(const Entries& entries, const SyncManifest& manifest, Status status,
                    const Current& current, const Sizes& localRaw, const Sizes& localOgg);
Entries givenUp(const Entries& entries, const SyncManifest& manifest);
Entries emptyOnDevice(const Entries& entries);

bool partialUsable(qint64 bytes, std::optional<uint32_t> savedFor, uint32_t announced);
// Disk room a recording needs before the pen is asked for it: its raw packets, their Ogg copy
// (a few per cent larger) and the ledger's save with its backup.
constexpr qint64 roomToArchive(uint32_t size)
{
    return 2 * qint64(size) + 256 * 1024;
}
bool downloadComplete(qint64 got, uint32_t announced, bool isRawOpus);
bool tooShortToUpload(double duration, int floorSeconds);

struct PollTarget {
    QString base;
    QString sessionId;
    bool operator==(const PollTarget&) const = default;
};
// Newest first (descending base), at most limit.
QList<PollTarget> pollTargets(const std::map<QString, QString>& uploaded,
                              const QSet<QString>& terminal,
                              const std::map<QString, QString>& missingOnServer,
                              const std::map<QString, int>& pollFailures, int limit);

QString safeDeviceNo(const QString& name);

// The service's view of one upload, as the engine keeps it.
struct VaultState {
    QString status;
    std::optional<QString> transcriptId;
    std::optional<QString> errorCode;
    bool operator==(const VaultState&) const = default;
};

// The engine's maps that feed the list; starred, dismissed, plans and missingOnServer come
// from the manifest. All Qt containers, so filling this from the engine copies nothing.
struct ItemContext {
    Sizes localOgg; // base -> Ogg file size
    Sizes rawOpus;  // base -> raw packet file size
    Status status;
    Current current;
    QHash<QString, QString> errors;      // base -> text
    QHash<QString, VaultState> vault;    // base -> service state
    QHash<QString, int> unconfirmed;     // transcript id -> speakers awaiting confirmation
    QHash<QString, QString> titles;      // transcript id -> title
    QHash<QString, int> uploadAttempts;  // base -> count
    QHash<QString, double> skippedShort; // base -> seconds
    QSet<QString> pendingDelete;         // names (base, pen name or key) queued for deletion
    // Explanation of a service failure code; the code itself when unset.
    std::function<QString(const QString& code)> explainFailure;
};

// One item per base on the pen or with an Ogg file, newest (largest base) first.
QList<RecordingItem> buildItems(const Entries& entries, const SyncManifest& manifest,
                                const ItemContext& context);

} // namespace SyncPlanner
