// One sync round: connect, check, list, reconcile the archive, download, clean, read, summarise.

#include "sync/SyncRound.h"

#include "audio/OggWrap.h"
#include "sync/ArchiveScan.h"
#include "sync/AtomicFile.h"
#include "sync/Describe.h"
#include "sync/SyncEngine.h"

#include <QFile>
#include <QPointer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString oggTag = u"QX27"_s;
constexpr uint32_t sampleRate = 16000;
const QString ledgerUnreadableText = u"清单读不出来，这一轮没记账"_s;

// After the folder's own sentence (which folder, what to do): what the round did about it.
QString stoppedText(const FileError& blocked)
{
    return blocked.description() +
           u"这一轮先停在这里；问题解决后，下一轮会接着导入，没导完的录音都留在录音笔上。"_s;
}

} // namespace

QCoro::Task<> SyncEngine::runSync(Discovered target)
{
    QPointer<SyncEngine> self(this);
    Round round;

    try {
        m_paths.ensureDirs();
    } catch (const std::exception& e) {
        setPhase(SyncPhase::failed(u"建不了导入目录："_s + describe(e)));
        log(u"建不了导入目录："_s + describe(e));
        co_return;
    }

    BLEClient& ble = client();
    setPhase(SyncPhase::connecting());
    updateDevice([&](DeviceInfo& d) { d.name = target.name; });

    try {
        co_await ble.connect(target);
    } catch (const std::exception& e) {
        if (!self)
            co_return;
        const QString text = describe(e);
        updateDevice([](DeviceInfo& d) { d.connected = false; });
        setPhase(SyncPhase::failed(text));
        setLastSummary(u"连接失败："_s + text);
        log(u"连接失败："_s + text);
        setLastRun(now());
        co_return;
    }
    if (!self)
        co_return;

    updateDevice([&](DeviceInfo& d) {
        d.connected = true;
        d.lastSeenAt = now();
        d.peripheralId = target.peripheral;
    });
    log(u"已连接 "_s + target.name + u" rssi="_s + QString::number(target.rssi));

    // From here on every way out disconnects first.
    bool completed = false;
    try {
        completed = co_await roundBody(target, round);
    } catch (const std::exception& e) {
        // Nothing in the body is meant to throw; if something does, the round still ends
        // cleanly and the loop keeps running.
        if (!self)
            co_return;
        setPhase(SyncPhase::failed(describe(e)));
        log(u"同步出错："_s + describe(e));
        setLastRun(now());
    }
    if (!self)
        co_return;
    disconnectStep();
    if (completed)
        co_await finishRound(target, round);
}

void SyncEngine::disconnectStep()
{
    if (m_client)
        m_client->disconnect();
    updateDevice([&](DeviceInfo& d) {
        d.connected = false;
        d.lastSeenAt = now();
    });
}

QCoro::Task<bool> SyncEngine::roundBody(const Discovered& target, Round& round)
{
    QPointer<SyncEngine> self(this);
    BLEClient& ble = client();

    bool bound = true;
    if (m_hooks.ensureDeviceBinding)
        bound = co_await m_hooks.ensureDeviceBinding(target);
    else
        log(u"绑定检查跳过：还没登录，先只下载不做账号核对"_s);
    if (!self || !bound)
        co_return false;

    co_await readSyncCriticalInfo();
    if (!self)
        co_return false;
    m_witnesses.observe(m_pen.status(), m_pen.current(), now());

    // Setting the clock while the pen records could disturb the file being written.
    if (!(m_pen.status() == 1 || m_pen.status() == 3)) {
        try {
            ble.setTime(now());
            if (m_pen.noteClockSet())
                log(u"已给录音笔校时"_s);
        } catch (const std::exception& e) {
            log(u"校时没发出去："_s + describe(e) + u"（不影响这一轮同步）"_s);
        }
    }

    setPhase(SyncPhase::listing());
    BLEClient::FileList list;
    try {
        list = co_await ble.fileList(m_timing.listIdleFallback, m_timing.listHardTimeout);
    } catch (const std::exception& e) {
        if (!self)
            co_return false;
        const QString text = describe(e);
        setPhase(SyncPhase::failed(text));
        setLastSummary(u"读列表失败："_s + text);
        log(u"读列表失败："_s + text);
        setLastRun(now());
        co_return false;
    }
    if (!self)
        co_return false;
    round.entries = list.entries;
    round.gotDone = list.gotDone;
    notePenList(list.entries);
    refreshLocalView();
    log(u"列表回来 "_s + QString::number(list.entries.size()) + u" 条"_s +
        (list.gotDone ? QString() : u"（未收到 2-18 结束帧，可能不完整）"_s));
    if (const QString unsafe = SyncPlanner::unsafeEntriesNote(list.entries); !unsafe.isEmpty())
        log(unsafe);

    SyncManifest manifest = SyncManifest::load(m_paths.manifest());
    if (!manifest.isTrustworthy) {
        // Once per round, with what the user can do; every refused save below says only that.
        round.ledgerUnreadable = true;
        log(SyncManifest::unreadableReason(m_paths.manifest())
                .value_or(u"清单 "_s + m_paths.manifest() + u" 读不出来"_s));
    }
    const SyncPlanner::Sizes localRaw = ArchiveScan::sizes(m_paths.rawPackets(), u"opus"_s);
    const SyncPlanner::Sizes localOgg = ArchiveScan::sizes(m_paths.dest(), u"ogg"_s);
    backfillAndRewrap(round.entries, manifest, localRaw, localOgg, round);

    const QList<FileEntry> pending =
        SyncPlanner::pending(round.entries, manifest, m_pen.status(), m_pen.current(), localRaw);
    round.pendingCount = int(pending.size());
    // A file skipped only for this round (being recorded, say) keeps its partial.
    dropStalePartials(round.entries, SyncPlanner::resumable(round.entries, manifest, localRaw),
                      round.gotDone);
    if (!pending.isEmpty()) {
        QStringList first;
        for (const FileEntry& e : pending.mid(0, 5))
            first.append(SyncPlanner::normalizedBase(e.name));
        log(u"要下 "_s + QString::number(pending.size()) + u" 条："_s + first.join(u"、"_s) +
            (pending.size() > 5 ? u" …"_s : QString()));
    }

    for (const FileEntry& entry : pending) {
        if (round.blocked)
            break;
        const bool goOn = co_await downloadOne(entry, round);
        if (!self)
            co_return false;
        if (!goOn)
            break; // the link is gone, or the archive takes no more; the rest waits
    }

    if (round.blocked) {
        // Deletions and cleanup write the ledger too; with the archive refusing writes the
        // pen stays exactly as it is.
        log(u"同步停下："_s + stoppedText(*round.blocked));
        co_await readDisplayInfo();
        co_return bool(self);
    }

    int deleted = 0; // nothing can be queued without the deletion code
    if (m_hooks.runPendingDeletes)
        deleted =
            co_await m_hooks.runPendingDeletes(ble, round.entries, m_pen.status(), round.gotDone);
    if (!self)
        co_return false;
    if (deleted >= 1)
        round.note = u"按你的要求删了 "_s + QString::number(deleted) + u" 条"_s;

    if (m_cleanup.deleteAfterSync) {
        setPhase(SyncPhase::cleaning());
        EngineHooks::CleanupOutcome outcome;
        if (m_hooks.performCleanup) {
            outcome = co_await m_hooks.performCleanup(ble, round.entries, m_pen.status(),
                                                      m_pen.current());
            if (!self)
                co_return false;
        } else {
            outcome.note = u"清理跳过：没接通Mindvault，无法确认是否已同步"_s;
        }
        if (!outcome.note.isEmpty()) {
            round.note += (round.note.isEmpty() ? QString() : u"，"_s) + outcome.note;
            log(u"清理："_s + outcome.note);
        }
        refreshLocalView();
    }

    co_await readDisplayInfo();
    co_return bool(self);
}

void SyncEngine::backfillAndRewrap(const QList<FileEntry>& entries, SyncManifest& manifest,
                                   const SyncPlanner::Sizes& localRaw,
                                   const SyncPlanner::Sizes& localOgg, Round& round)
{
    const QList<FileEntry> unrecorded = SyncPlanner::unrecorded(
        entries, manifest, m_pen.status(), m_pen.current(), localRaw, localOgg);
    if (!unrecorded.isEmpty()) {
        QStringList bases;
        for (const FileEntry& e : unrecorded) {
            const QString base = SyncPlanner::normalizedBase(e.name);
            manifest.imported[SyncPlanner::manifestKey(e)] = {
                base + u".ogg"_s, localRaw.value(base), SyncManifest::stamp(now())};
            bases.append(base);
        }
        persist(manifest, round);
        log(u"补记 "_s + QString::number(bases.size()) + u" 条：本地已有完整副本但清单没记账，"_s +
            bases.join(u"、"_s));
    }

    const QList<FileEntry> rewrap = SyncPlanner::needsRewrap(entries, manifest, m_pen.status(),
                                                             m_pen.current(), localRaw, localOgg);
    for (const FileEntry& e : rewrap) {
        const QString base = SyncPlanner::normalizedBase(e.name);
        QFile rawFile(m_paths.rawPackets() + u'/' + base + u".opus"_s);
        if (!rawFile.open(QIODevice::ReadOnly)) {
            log(u"重封 "_s + base + u" 失败：裸包读不出来（"_s + base + u".opus）"_s);
            continue;
        }
        const QByteArray raw = rawFile.readAll();
        rawFile.close();
        try {
            AtomicFile::write(m_paths.dest() + u'/' + base + u".ogg"_s,
                              OggWrap::wrap(raw, sampleRate, oggTag));
        } catch (const std::exception& err) {
            log(u"重封 "_s + base + u" 失败："_s + describe(err) + u"——裸包留着，下一轮再试"_s);
            noteBlocked(err, round);
            if (round.blocked)
                break;
            continue;
        }
        manifest.imported[SyncPlanner::manifestKey(e)] = {base + u".ogg"_s, raw.size(),
                                                          SyncManifest::stamp(now())};
        persist(manifest, round);
        log(u"重封 "_s + base + u"：裸包完整但 ogg 缺失，本地补封成功（没有重下）"_s);
    }
    refreshLocalView();
}

bool SyncEngine::persist(const SyncManifest& manifest, Round& round)
{
    std::optional<FileError> blocked;
    const bool saved = manifest.persist(m_paths.manifest(), syncLog(), &blocked);
    if (blocked)
        noteBlocked(*blocked, round);
    return saved;
}

void SyncEngine::noteBlocked(const std::exception& error, Round& round)
{
    if (const auto* file = dynamic_cast<const FileError*>(&error);
        file && file->blocksWrites() && !round.blocked)
        round.blocked = *file;
}

QCoro::Task<> SyncEngine::finishRound(const Discovered& target, Round& round)
{
    QPointer<SyncEngine> self(this);
    round.pushedCount = co_await flushUploadQueue(false);
    if (!self)
        co_return;
    setLastRun(now());

    QStringList parts;
    if (round.importedCount >= 1)
        parts.append(u"导入 "_s + QString::number(round.importedCount) + u" 条"_s);
    if (const qsizetype skipped = round.entries.size() - round.pendingCount; skipped >= 1)
        parts.append(u"跳过 "_s + QString::number(skipped) + u" 条已导"_s);
    if (round.pushedCount >= 1) {
        parts.append(u"入Mindvault "_s + QString::number(round.pushedCount) + u" 条"_s);
    } else if (parts.isEmpty()) {
        // "No new recordings" would be false after a round whose downloads broke off or
        // failed; only those that broke off (or were never reached) resume next time.
        const int unfinished = round.pendingCount - round.importedCount - round.failedCount;
        if (unfinished >= 1)
            parts.append(u"还有 "_s + QString::number(unfinished) + u" 条没下完，下次连上接着下"_s);
        if (round.failedCount >= 1)
            parts.append(QString::number(round.failedCount) + u" 条没能导入（原因见各条录音）"_s);
        if (parts.isEmpty())
            parts.append(u"没有新录音（设备内 "_s + QString::number(round.entries.size()) +
                         u" 条）"_s);
    }
    if (!round.note.isEmpty())
        parts.append(round.note);
    if (round.ledgerUnreadable)
        parts.append(ledgerUnreadableText);
    if (round.blocked)
        parts.append(stoppedText(*round.blocked));
    if (!round.gotDone)
        parts.append(u"列表未收到 2-18，按空闲收尾"_s);
    if (m_pen.current() && !m_pen.current()->isEmpty())
        parts.append(SyncPlanner::normalizedBase(*m_pen.current()) + u" 录音中已跳过"_s);
    setLastSummary(parts.join(u"，"_s));
    log(u"同步结束："_s + m_lastSummary);

    if (round.importedCount >= 1 && m_hooks.runArchiveAudit)
        m_hooks.runArchiveAudit();
    if (round.importedCount >= 1 || round.pushedCount >= 1 || !round.note.isEmpty())
        notify(m_lastSummary, u"Mindvault"_s);

    noteRoundOutcome(target.peripheral,
                     round.importedCount >= 1 || round.pushedCount >= 1 || round.progressed);
    // The round's bookkeeping failed: that is a failed round (and --once says so), not a
    // quiet wait for the next one.
    if (round.blocked)
        setPhase(SyncPhase::failed(stoppedText(*round.blocked)));
    else if (round.ledgerUnreadable)
        setPhase(SyncPhase::failed(ledgerUnreadableText + u"——详情见同步日志"_s));
    else
        setPhase(m_monitoring ? SyncPhase::waitingForDevice() : SyncPhase::idle());
}
