// The archive side of the engine: partial downloads, local scans, failure counts, the list.

#include "cloud/VaultFailure.h"
#include "sync/ArchiveScan.h"
#include "sync/AtomicFile.h"
#include "sync/ItemSource.h"
#include "sync/SyncEngine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

using namespace Qt::Literals::StringLiterals;

QString SyncEngine::partialPath(const QString& base, const QString& suffix) const
{
    return m_paths.rawPackets() + u'/' + base + suffix;
}

std::optional<uint32_t> SyncEngine::partialAnnounced(const QString& base) const
{
    QFile sizeFile(partialPath(base, u".part.size"_s));
    if (!sizeFile.open(QIODevice::ReadOnly))
        return std::nullopt;
    bool ok = false;
    const qulonglong v = QString::fromUtf8(sizeFile.readAll()).trimmed().toULongLong(&ok);
    if (!ok || v > 0xFFFFFFFFull)
        return std::nullopt;
    return uint32_t(v);
}

std::optional<FileError> SyncEngine::archiveRefusal(const QString& base, uint32_t size) const
{
    return FileError::refusal(m_paths.rawPackets() + u'/' + base + u".opus"_s,
                              SyncPlanner::roomToArchive(size));
}

QByteArray SyncEngine::loadPartial(const QString& base, uint32_t announced)
{
    const std::optional<uint32_t> savedFor = partialAnnounced(base);
    QByteArray bytes;
    QFile part(partialPath(base, u".part"_s));
    if (part.open(QIODevice::ReadOnly))
        bytes = part.readAll();
    if (SyncPlanner::partialUsable(bytes.size(), savedFor, announced))
        return bytes;
    dropPartial(base);
    return {};
}

void SyncEngine::savePartial(const QString& base, uint32_t announced, const QByteArray& bytes)
{
    // Whole packets only, so a resumed stream never splits one.
    const qsizetype keep = bytes.size() / SyncPlanner::packetBytes * SyncPlanner::packetBytes;
    if (keep < 1) {
        dropPartial(base);
        return;
    }
    // The size record goes last: a partial without it is never resumed.
    AtomicFile::write(partialPath(base, u".part"_s), bytes.first(keep));
    AtomicFile::write(partialPath(base, u".part.size"_s), QByteArray::number(announced));
}

void SyncEngine::dropPartial(const QString& base)
{
    QFile::remove(partialPath(base, u".part"_s));
    QFile::remove(partialPath(base, u".part.size"_s));
}

void SyncEngine::dropStalePartials(const QList<FileEntry>& entries,
                                   const QList<FileEntry>& resumable, bool listComplete)
{
    QSet<QString> waiting;
    QSet<QString> listed;
    for (const FileEntry& e : resumable)
        waiting.insert(SyncPlanner::normalizedBase(e.name));
    for (const FileEntry& e : entries)
        listed.insert(SyncPlanner::normalizedBase(e.name));
    QStringList dropped;
    const QString suffix = u".part"_s;
    for (const QString& name :
         QDir(m_paths.rawPackets()).entryList({u"*"_s + suffix}, QDir::Files | QDir::Hidden)) {
        const QString base = name.chopped(suffix.size());
        // A list cut short may lack a file that is still on the pen.
        if (waiting.contains(base) || (!listComplete && !listed.contains(base)))
            continue;
        dropPartial(base);
        dropped.append(base);
    }
    if (!dropped.isEmpty()) {
        log(u"删掉用不上的断点："_s + dropped.join(u"、"_s) +
            u"（录音已完整、已放弃或已不在录音笔上）"_s);
    }
}

void SyncEngine::noteDownloadFailure(const FileEntry& entry)
{
    const QString key = SyncPlanner::manifestKey(entry);
    SyncManifest manifest = SyncManifest::load(m_paths.manifest());
    const int n = (manifest.downloadFailures.count(key) ? manifest.downloadFailures[key] : 0) + 1;
    manifest.downloadFailures[key] = n;
    persist(manifest);
    if (n >= SyncPlanner::giveUpAfter)
        dropPartial(SyncPlanner::normalizedBase(entry.name)); // nothing will resume it
    if (n == SyncPlanner::giveUpAfter) {
        const QString base = SyncPlanner::normalizedBase(entry.name);
        const QString limit = QString::number(SyncPlanner::giveUpAfter);
        log(base + u" 连续 "_s + limit + u" 次下载失败，不再自动重试（界面上仍可手动重试）"_s);
        m_notes.setError(base,
                         u"试了 "_s + limit +
                             u" 次都没拿到内容，已停止自动重试——详情里点「重新下载」可以再试"_s);
    }
}

void SyncEngine::notePenList(const QList<FileEntry>& entries)
{
    m_pen.noteEntries(entries);
}

void SyncEngine::addItemSource(const ItemSource& source)
{
    if (!m_itemSources.contains(&source))
        m_itemSources.append(&source);
}

void SyncEngine::removeItemSource(const ItemSource& source)
{
    m_itemSources.removeAll(&source);
}

void SyncEngine::refreshLocalView()
{
    const SyncManifest manifest = SyncManifest::load(m_paths.manifest());
    SyncPlanner::ItemContext context;
    context.localOgg = ArchiveScan::sizes(m_paths.dest(), u"ogg"_s);
    context.rawOpus = ArchiveScan::sizes(m_paths.rawPackets(), u"opus"_s);
    context.status = m_pen.status();
    context.current = m_pen.current();
    m_notes.describe(context);
    for (const ItemSource* source : m_itemSources)
        source->describe(context);
    context.explainFailure = [](const QString& code) {
        return VaultFailure::explain(code);
    };
    QList<RecordingItem> items = SyncPlanner::buildItems(m_pen.entries(), manifest, context);
    if (items == m_items)
        return;
    m_items = std::move(items);
    Q_EMIT itemsChanged();
}
