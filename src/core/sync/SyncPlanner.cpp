#include "sync/SyncPlanner.h"

#include <algorithm>
#include <climits>
#include <vector>

using namespace Qt::StringLiterals;

namespace SyncPlanner {

namespace {

bool recording(Status status)
{
    return status && (*status == 1 || *status == 3);
}

bool isWholePackets(qint64 bytes)
{
    return bytes > 0 && bytes % packetBytes == 0;
}

// Whether the raw file under the entry's base is a complete copy of this recording. A file the
// ledger gives to another recording is not, however well its size fits: taking it would leave
// this one never downloaded.
bool completeRawCopy(const FileEntry& e, const QString& key, const Sizes& localRaw,
                     const QHash<QString, QString>& claimed)
{
    const QString base = normalizedBase(e.name);
    const auto raw = localRaw.constFind(base);
    if (raw == localRaw.cend() || *raw != qint64(e.size) || !isWholePackets(*raw)) {
        return false;
    }
    const auto owner = claimed.constFind(base);
    return owner == claimed.cend() || *owner == key;
}

// Shared by unrecorded and needsRewrap: a complete raw copy exists, the ledger lacks it.
template <typename Pred>
Entries completeLocally(const Entries& entries, const SyncManifest& manifest, Status status,
                        const Current& current, const Sizes& localRaw, Pred wantOgg)
{
    const QHash<QString, QString> claimed = claimedBases(manifest);
    Entries out;
    for (const FileEntry& e : entries) {
        const QString key = manifestKey(e);
        if (!isSafeEntry(e) || manifest.imported.contains(key) || isLive(e, status, current) ||
            !completeRawCopy(e, key, localRaw, claimed)) {
            continue;
        }
        const QString base = normalizedBase(e.name);
        if (wantOgg(base)) {
            out.append(e);
        }
    }
    return out;
}

int failures(const std::map<QString, int>& counters, const QString& key)
{
    const auto it = counters.find(key);
    return it == counters.end() ? 0 : it->second;
}

QString printable(const QString& name)
{
    QString out;
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control) {
            out += u"\\x"_s + QString::number(c.unicode(), 16).toUpper().rightJustified(2, u'0');
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

QString normalizedBase(const QString& name)
{
    QString base = name;
    for (const QLatin1StringView ext : {".opus"_L1, ".wav"_L1, ".ogg"_L1}) {
        if (name.endsWith(ext, Qt::CaseInsensitive)) {
            base.chop(ext.size());
            break;
        }
    }
    while (base.endsWith(u'.')) {
        base.chop(1);
    }
    return base;
}

QString manifestKey(const FileEntry& entry)
{
    return entry.name + u'|' + QString::number(entry.time) + u'|' + QString::number(entry.size);
}

QString archivedBase(const QString& key, const SyncManifest::Imported& imported)
{
    const QString base = normalizedBase(key.section(u'|', 0, -3));
    // Only a numbered base moves a recording's files; an Ogg file the ledger names otherwise
    // leaves the raw file under the key's base.
    const qsizetype dot = imported.file.lastIndexOf(u'.');
    const QString stem = dot > 0 ? imported.file.left(dot) : QString();
    const QString prefix = base + u'-';
    if (stem.startsWith(prefix)) {
        bool ok = false;
        const int n = stem.mid(prefix.size()).toInt(&ok);
        if (ok && n >= 2 && numberedBase(base, n) == stem) {
            return stem;
        }
    }
    return base;
}

QHash<QString, QString> claimedBases(const SyncManifest& manifest)
{
    QHash<QString, QString> out;
    out.reserve(qsizetype(manifest.imported.size()));
    for (const auto& [key, imported] : manifest.imported) {
        out.insert(archivedBase(key, imported), key);
    }
    return out;
}

QString numberedBase(const QString& base, int n)
{
    return n <= 1 ? base : base + u'-' + QString::number(n);
}

bool isSafeBase(const QString& name)
{
    if (name.isEmpty() || name == u"."_s || name == u".."_s) {
        return false;
    }
    return std::none_of(name.begin(), name.end(), [](QChar c) {
        return c == u'/' || c == u'\\' || c.category() == QChar::Other_Control;
    });
}

bool isSafeEntry(const FileEntry& e)
{
    return isSafeBase(e.name) && isSafeBase(normalizedBase(e.name));
}

Entries unsafeEntries(const Entries& entries)
{
    Entries out;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(out),
                 [](const FileEntry& e) { return !isSafeEntry(e); });
    return out;
}

QString unsafeEntriesNote(const Entries& entries)
{
    const Entries unsafe = unsafeEntries(entries);
    if (unsafe.isEmpty()) {
        return {};
    }
    QStringList names;
    for (const FileEntry& e : unsafe) {
        names.append(u"「"_s + printable(e.name) + u"」"_s);
    }
    return u"录音笔上有 "_s + QString::number(unsafe.size()) +
           u" 条录音的文件名不能安全地用作本地文件名（空名、“.”或“..”、含 / \\ 或控制字符），"
           u"不下载、不归档、不删除："_s +
           names.join(u"、"_s);
}

bool isLive(const FileEntry& entry, Status status, const Current& current)
{
    if (!current || current->isEmpty()) {
        // Recording, but the pen does not say which file: any of them may be it.
        return recording(status);
    }
    if (status && !recording(status)) {
        return false;
    }
    return normalizedBase(*current) == normalizedBase(entry.name);
}

Entries pending(const Entries& entries, const SyncManifest& manifest, Status status,
                const Current& current, const Sizes& localRaw)
{
    Entries out;
    for (const FileEntry& e : resumable(entries, manifest, localRaw)) {
        if (e.size != 0 && !isLive(e, status, current)) {
            out.append(e);
        }
    }
    return out;
}

Entries resumable(const Entries& entries, const SyncManifest& manifest, const Sizes& localRaw)
{
    const QHash<QString, QString> claimed = claimedBases(manifest);
    Entries out;
    for (const FileEntry& e : entries) {
        const QString key = manifestKey(e);
        if (!isSafeEntry(e) || manifest.imported.contains(key) ||
            completeRawCopy(e, key, localRaw, claimed) ||
            failures(manifest.downloadFailures, key) >= giveUpAfter) {
            continue;
        }
        out.append(e);
    }
    return out;
}

Entries unrecorded(const Entries& entries, const SyncManifest& manifest, Status status,
                   const Current& current, const Sizes& localRaw, const Sizes& localOgg)
{
    return completeLocally(entries, manifest, status, current, localRaw,
                           [&](const QString& base) { return localOgg.contains(base); });
}

Entries needsRewrap(const Entries& entries, const SyncManifest& manifest, Status status,
                    const Current& current, const Sizes& localRaw, const Sizes& localOgg)
{
    return completeLocally(entries, manifest, status, current, localRaw,
                           [&](const QString& base) { return !localOgg.contains(base); });
}

Entries givenUp(const Entries& entries, const SyncManifest& manifest)
{
    Entries out;
    for (const FileEntry& e : entries) {
        if (failures(manifest.downloadFailures, manifestKey(e)) >= giveUpAfter) {
            out.append(e);
        }
    }
    return out;
}

Entries emptyOnDevice(const Entries& entries)
{
    Entries out;
    std::copy_if(entries.begin(), entries.end(), std::back_inserter(out),
                 [](const FileEntry& e) { return e.size == 0; });
    return out;
}

bool partialUsable(qint64 bytes, std::optional<uint32_t> savedFor, uint32_t announced)
{
    return savedFor == announced && bytes >= 1 && bytes < qint64(announced) &&
           bytes % packetBytes == 0;
}

bool downloadComplete(qint64 got, uint32_t announced, bool isRawOpus)
{
    return got > 0 && got == qint64(announced) && (!isRawOpus || got % packetBytes == 0);
}

bool tooShortToUpload(double duration, int floorSeconds)
{
    return floorSeconds > 0 && duration < floorSeconds;
}

QList<PollTarget> pollTargets(const std::map<QString, QString>& uploaded,
                              const QSet<QString>& terminal,
                              const std::map<QString, QString>& missingOnServer,
                              const std::map<QString, int>& pollFailures, int limit)
{
    QList<PollTarget> out;
    // The map is ordered by base; walking it backwards gives the newest first.
    for (auto it = uploaded.rbegin(); it != uploaded.rend() && out.size() < limit; ++it) {
        const QString& base = it->first;
        if (terminal.contains(base) || missingOnServer.contains(base) ||
            failures(pollFailures, base) >= pollGiveUpAfter) {
            continue;
        }
        out.append({base, it->second});
    }
    return out;
}

QString safeDeviceNo(const QString& name)
{
    QStringList pieces;
    QString piece;
    for (const QChar c : name) {
        if (c.isSpace()) {
            if (!piece.isEmpty()) {
                pieces.append(piece);
                piece.clear();
            }
        } else {
            piece += c;
        }
    }
    if (!piece.isEmpty()) {
        pieces.append(piece);
    }
    QString joined = pieces.join(u'-');
    if (joined.size() > 64) {
        // Never cut a surrogate pair in half.
        joined.truncate(joined.at(63).isHighSurrogate() ? 63 : 64);
    }
    return joined;
}

QList<RecordingItem> buildItems(const Entries& entries, const SyncManifest& manifest,
                                const ItemContext& ctx)
{
    QHash<QString, RecordingItem> items;
    items.reserve(entries.size() + ctx.localOgg.size());

    for (const FileEntry& e : entries) {
        const QString base = normalizedBase(e.name);
        RecordingItem item(base, static_cast<int>(std::min<uint32_t>(e.time, INT_MAX)), e.size);
        if (isLive(e, ctx.status, ctx.current)) {
            item.lastError = u"录音中，本次跳过"_s;
        }
        items.insert(base, std::move(item));
    }

    for (auto it = ctx.localOgg.cbegin(); it != ctx.localOgg.cend(); ++it) {
        if (!items.contains(it.key())) {
            items.insert(it.key(), RecordingItem(it.key(), 0)); // archived only, not on the pen
        }
        RecordingItem& item = items[it.key()];
        item.localBytes = it.value();
        const auto raw = ctx.rawOpus.constFind(it.key());
        if (item.durationSec == 0 && raw != ctx.rawOpus.cend()) {
            item.durationSec = static_cast<int>(*raw / packetBytes * packetMs / 1000);
        }
    }

    for (const auto& [base, session] : manifest.uploaded) {
        const auto item = items.find(base);
        if (item == items.end()) {
            continue;
        }
        item->sessionId = session;
        const auto vault = ctx.vault.constFind(base);
        if (vault == ctx.vault.cend()) {
            continue;
        }
        item->vaultStatus = vault->status;
        item->transcriptId = vault->transcriptId;
        item->vaultErrorCode = vault->errorCode;
        if (vault->status == u"failed"_s) {
            const QString code = vault->errorCode.value_or(QString());
            item->lastError = ctx.explainFailure ? ctx.explainFailure(code) : code;
        }
        if (vault->transcriptId) {
            item->unconfirmedSpeakers = ctx.unconfirmed.value(*vault->transcriptId, 0);
            const auto title = ctx.titles.constFind(*vault->transcriptId);
            if (title != ctx.titles.cend()) {
                item->vaultTitle = *title;
            }
        }
    }

    // Remaining inputs apply only to bases that have an item.
    const auto withItem = [&](const QString& base, auto apply) {
        const auto item = items.find(base);
        if (item != items.end()) {
            apply(*item);
        }
    };
    for (auto it = ctx.uploadAttempts.cbegin(); it != ctx.uploadAttempts.cend(); ++it) {
        withItem(it.key(), [&](RecordingItem& i) { i.uploadAttempts = it.value(); });
    }
    for (const auto& [base, plan] : manifest.plan) {
        // Captured by name: clang 14 (the fuzz build) cannot capture a structured binding.
        withItem(base, [&p = plan](RecordingItem& i) {
            i.plannedTitle = p.title;
            i.plannedProjectId = p.projectId;
        });
    }
    for (auto it = ctx.errors.cbegin(); it != ctx.errors.cend(); ++it) {
        withItem(it.key(), [&](RecordingItem& i) { i.lastError = it.value(); });
    }
    for (auto it = ctx.skippedShort.cbegin(); it != ctx.skippedShort.cend(); ++it) {
        withItem(it.key(), [&](RecordingItem& i) { i.skippedShortSeconds = it.value(); });
    }
    if (!ctx.pendingDelete.isEmpty()) {
        for (const FileEntry& e : entries) {
            // The queue holds what the user picked: the base the list shows, or the pen's name.
            if (ctx.pendingDelete.contains(normalizedBase(e.name)) ||
                ctx.pendingDelete.contains(e.base()) ||
                ctx.pendingDelete.contains(manifestKey(e))) {
                withItem(normalizedBase(e.name),
                         [](RecordingItem& i) { i.pendingDeviceDelete = true; });
            }
        }
    }
    for (const QString& base : manifest.starred) {
        withItem(base, [](RecordingItem& i) { i.starred = true; });
    }
    for (const QString& base : manifest.dismissed) {
        withItem(base, [](RecordingItem& i) { i.dismissed = true; });
    }
    for (const auto& [base, when] : manifest.missingOnServer) {
        withItem(base, [](RecordingItem& i) { i.serverGone = true; });
    }

    // Sort pointers, then move each item once: the records are large.
    std::vector<RecordingItem*> order;
    order.reserve(static_cast<size_t>(items.size()));
    for (auto& item : items) {
        order.push_back(&item);
    }
    std::sort(order.begin(), order.end(),
              [](const RecordingItem* a, const RecordingItem* b) { return a->base > b->base; });
    QList<RecordingItem> out;
    out.reserve(items.size());
    for (RecordingItem* item : order) {
        out.append(std::move(*item));
    }
    return out;
}

} // namespace SyncPlanner
