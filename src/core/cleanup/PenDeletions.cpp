#include "cleanup/PenDeletions.h"

#include "cleanup/ArchiveAudit.h"
#include "cleanup/CleanupPlanner.h"
#include "cloud/Mindvault.h"
#include "sync/EngineContext.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QFileInfo>
#include <algorithm>

using namespace Qt::StringLiterals;

PenDeletions::PenDeletions(EngineContext& engine, VaultProvider vault, Timing timing)
    : m_engine(engine), m_guard(engine.lifetime()), m_vault(std::move(vault)), m_timing(timing)
{
    engine.addItemSource(*this);
}

PenDeletions::~PenDeletions()
{
    if (!alive()) {
        return;
    }
    m_engine.removeItemSource(*this);
    m_engine.hooks().runPendingDeletes = nullptr;
    m_engine.hooks().performCleanup = nullptr;
}

void PenDeletions::install()
{
    EngineHooks& hooks = m_engine.hooks();
    hooks.runPendingDeletes = [this](BLEClient& client, const QList<FileEntry>& entries,
                                     std::optional<uint8_t> recordStatus, bool listComplete) {
        const DeleteFn deleteOne = through(client);
        return runPendingDeletes(deleteOne, entries, recordStatus, listComplete);
    };
    hooks.performCleanup = [this](BLEClient& client, const QList<FileEntry>& entries,
                                  std::optional<uint8_t> recordStatus,
                                  std::optional<QString> deviceCurrent) {
        const DeleteFn deleteOne = through(client);
        return performCleanup(deleteOne, entries, recordStatus, std::move(deviceCurrent),
                              m_engine.cleanup());
    };
}

PenDeletions::DeleteFn PenDeletions::through(BLEClient& client)
{
    return [&client](FileEntry entry, double timeout) {
        return client.deleteOne(std::move(entry), timeout);
    };
}

std::optional<FileEntry> PenDeletions::find(const QList<FileEntry>& entries, const QString& name,
                                            bool alsoByBase)
{
    const auto byName = std::find_if(entries.cbegin(), entries.cend(),
                                     [&](const FileEntry& e) { return e.base() == name; });
    if (byName != entries.cend()) {
        return *byName;
    }
    // The recording list names a recording by its base; a pen that lists names with their
    // extension would otherwise never find the file the user asked to delete.
    if (alsoByBase) {
        const auto byBase = std::find_if(entries.cbegin(), entries.cend(), [&](const FileEntry& e) {
            return SyncPlanner::normalizedBase(e.name) == name;
        });
        if (byBase != entries.cend()) {
            return *byBase;
        }
    }
    return std::nullopt;
}

void PenDeletions::noteDeleted(const QString& name)
{
    SyncManifest manifest = SyncManifest::load(m_engine.paths().manifest());
    manifest.deleted[name] = SyncManifest::stamp(m_engine.now());
    m_engine.persist(manifest);
}

QCoro::Task<PenDeletions::Outcome>
PenDeletions::performCleanup(DeleteFn deleteOne, QList<FileEntry> entries,
                             std::optional<uint8_t> recordStatus,
                             std::optional<QString> deviceCurrent, CleanupSettings settings)
{
    if (!settings.deleteAfterSync) {
        co_return Outcome{};
    }
    Mindvault* vault = nullptr;
    if (m_vault) {
        // A provider that fails has no client to lend either.
        try {
            vault = co_await m_vault();
        } catch (...) {
            vault = nullptr;
        }
    }
    if (!alive()) {
        co_return Outcome{};
    }
    if (vault == nullptr) {
        co_return Outcome{0, u"清理跳过：没接通Mindvault，无法确认是否已同步"_s};
    }

    const SyncManifest manifest = SyncManifest::load(m_engine.paths().manifest());
    // The client is borrowed per question and never kept: a client that went away meanwhile
    // makes the recording "unknown", which keeps it.
    const VaultProvider provider = m_vault;
    Cleanup::Planner::Lookup lookup =
        [provider](QString sessionId) -> QCoro::Task<std::optional<SessionState>> {
        Mindvault* borrowed = co_await provider();
        const Cleanup::Planner::Lookup ask =
            Cleanup::Planner::serviceLookup([borrowed] { return borrowed; });
        co_return co_await ask(sessionId);
    };
    Cleanup::Planner planner(lookup);

    Cleanup::Context context;
    context.imported = manifest.imported;
    context.uploaded = manifest.uploaded;
    context.dest = m_engine.paths().dest();
    context.rawDir = m_engine.paths().rawPackets();
    context.coolingDays = settings.coolingDays;
    context.now = m_engine.now();
    if (recordStatus) {
        context.recordStatus = int(*recordStatus);
    }
    context.deviceCurrent = std::move(deviceCurrent);

    // Unsafe names never become paths or deletions; files the user's queue just removed are not
    // on the pen any more.
    QList<FileEntry> candidates;
    for (const FileEntry& e : entries) {
        if (SyncPlanner::isSafeEntry(e) && !m_manuallyDeleted.contains(e)) {
            candidates.append(e);
        }
    }
    const QList<Cleanup::Decision> decisions = co_await planner.plan(candidates, context);
    if (!alive()) {
        co_return Outcome{};
    }
    for (const Cleanup::Decision& d : decisions) {
        if (d.shouldDelete) {
            continue;
        }
        const std::optional<FileEntry> entry = find(candidates, d.name, false);
        const std::optional<QString> archived =
            entry ? Cleanup::archivedBase(*entry, context.imported) : std::nullopt;
        const std::optional<Cleanup::Decision> archive =
            archived ? Cleanup::checkLocalArchive(*archived, *entry, context.dest, context.rawDir)
                     : std::nullopt;
        if (archive && archive->reason == d.reason) {
            m_engine.log(u"不删 "_s + d.name + u"："_s + d.reason);
        }
    }
    co_return co_await execute(decisions, candidates, context.imported, deleteOne);
}

QCoro::Task<PenDeletions::Outcome> PenDeletions::execute(QList<Cleanup::Decision> decisions,
                                                         QList<FileEntry> entries,
                                                         Imported imported, DeleteFn deleteOne)
{
    int deleted = 0;
    int failed = 0;
    for (const Cleanup::Decision& decision : decisions) {
        if (!decision.shouldDelete) {
            continue;
        }
        const std::optional<FileEntry> entry = find(entries, decision.name, false);
        const std::optional<QString> archived =
            entry ? Cleanup::archivedBase(*entry, imported) : std::nullopt;
        if (!entry || !archived || !SyncPlanner::isSafeEntry(*entry) || !alive()) {
            continue;
        }
        // The policy looked at the archive a moment ago; look again, fully, right before the
        // one step that cannot be undone.
        const ArchiveAudit::Item audit = ArchiveAudit::audit(
            *archived, qint64(entry->size), qint64(entry->time), std::nullopt, std::nullopt,
            m_engine.paths().dest(), m_engine.paths().rawPackets());
        if (audit.status != ArchiveAudit::Status::ok) {
            m_engine.log(u"删除前体检不过，跳过 "_s + decision.name + u"："_s + audit.detail);
            ++failed;
            continue;
        }
        bool gone = false;
        try {
            gone = (co_await deleteOne(*entry, m_timing.deleteTimeout)).deleted;
        } catch (...) {
            gone = false;
        }
        if (!alive()) {
            break;
        }
        if (gone) {
            noteDeleted(decision.name);
            ++deleted;
        } else {
            ++failed;
        }
    }
    QStringList parts;
    if (deleted >= 1) {
        parts.append(u"清理 "_s + QString::number(deleted) + u" 条"_s);
    }
    if (failed >= 1) {
        parts.append(u"删除失败 "_s + QString::number(failed) + u" 条"_s);
    }
    co_return Outcome{deleted, parts.join(u"，"_s)};
}

QCoro::Task<int> PenDeletions::runPendingDeletes(DeleteFn deleteOne, QList<FileEntry> entries,
                                                 std::optional<uint8_t> recordStatus,
                                                 bool listComplete)
{
    m_manuallyDeleted.clear();
    if (!alive() || m_queued.isEmpty()) {
        co_return 0;
    }
    if (recordStatus != 2) {
        m_engine.log(u"设备不在「未录音」状态，本轮不执行人工删除"_s);
        co_return 0;
    }
    if (!listComplete) {
        m_engine.log(u"文件列表这轮不完整，人工删除队列原样留着（"_s +
                     QString::number(m_queued.size()) + u" 条）"_s);
        co_return 0;
    }

    // Requests and cancellations may arrive while the pen works: walk a snapshot and change the
    // queue one name at a time.
    QStringList snapshot = m_queued.values();
    snapshot.sort();
    int count = 0;
    for (const QString& name : snapshot) {
        const std::optional<FileEntry> entry = find(entries, name, true);
        if (!entry) {
            m_queued.remove(name);
            m_engine.log(name + u" 已不在设备上，从待删队列移除"_s);
            continue;
        }
        if (!SyncPlanner::isSafeEntry(*entry)) {
            m_queued.remove(name);
            m_engine.log(name + u" 在录音笔上的文件名不能安全使用，不从设备删除，从待删队列移除"_s);
            continue;
        }
        std::optional<BLEClient::DeleteOutcome> outcome;
        try {
            outcome = co_await deleteOne(*entry, m_timing.deleteTimeout);
        } catch (...) {
            outcome.reset();
        }
        if (!alive()) {
            co_return count;
        }
        if (!outcome) {
            m_engine.log(u"删除 "_s + name + u" 时抛错，留在队列里下次再试"_s);
        } else if (outcome->deleted) {
            m_queued.remove(name);
            noteDeleted(name);
            m_engine.log(u"已按你的要求从设备删除 "_s + name + u"："_s + outcome->text);
            m_manuallyDeleted.append(*entry);
            ++count;
        } else {
            m_engine.log(u"从设备删除 "_s + name + u" 失败："_s + outcome->text);
        }
    }
    m_engine.refreshLocalView();
    co_return count;
}

void PenDeletions::requestDeviceDelete(const QString& name)
{
    m_queued.insert(name);
    m_engine.log(u"已排队从设备删除 "_s + name + u"，等设备出现时执行"_s);
    m_engine.setLastSummary(name + u" 已排队从设备删除"_s);
    m_engine.refreshLocalView();
    // A round under way may be past its deletions already; the next one will take the queue,
    // and a refused manual trigger would only replace the summary above.
    if (!m_engine.isSyncing()) {
        m_engine.syncNow();
    }
}

void PenDeletions::enqueue(const QStringList& names)
{
    for (const QString& name : names)
        m_queued.insert(name);
}

void PenDeletions::cancelDeviceDelete(const QString& name)
{
    m_queued.remove(name);
    m_engine.refreshLocalView();
}

void PenDeletions::describe(SyncPlanner::ItemContext& context) const
{
    context.pendingDelete = m_queued;
}

QString PenDeletions::deleteImpact(const QString& name) const
{
    const bool local = SyncPlanner::isSafeBase(name) &&
                       QFileInfo::exists(m_engine.paths().rawPackets() + u'/' + name + u".opus"_s);
    if (local) {
        return u"本机已有留档，删掉只是设备上少一份，音频不会丢。"_s;
    }
    const SyncManifest manifest = SyncManifest::load(m_engine.paths().manifest());
    if (manifest.uploaded.contains(name)) {
        return u"本机没有留档。Mindvault 30 天后会清掉原始音频，之后这段录音就彻底没有了。"_s;
    }
    return u"本机没有留档，也没进过Mindvault。删掉就是永久消失，无法恢复。"_s;
}
