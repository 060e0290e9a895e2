// Downloading one pending recording and archiving it.

#include "audio/OggWrap.h"
#include "device/Proto.h"
#include "device/ProtoError.h"
#include "sync/ArchiveSlot.h"
#include "sync/AtomicFile.h"
#include "sync/Describe.h"
#include "sync/LogDetail.h"
#include "sync/ProgressThrottle.h"
#include "sync/SyncEngine.h"
#include "sync/SyncRound.h"

#include <QCoro/QCoroFuture>
#include <QPointer>
#include <QScopeGuard>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

QByteArray c(const QString& s)
{
    return s.toUtf8();
}

double percentOf(qint64 got, uint32_t size)
{
    return double(got) / double(std::max<uint32_t>(size, 1)) * 100.0;
}

} // namespace

QCoro::Task<bool> SyncEngine::downloadOne(const FileEntry& entry, Round& round)
{
    QPointer<SyncEngine> self(this);
    const QString base = SyncPlanner::normalizedBase(entry.name);
    const QString name = entry.name;
    const uint32_t size = entry.size;

    m_notes.clearError(base);
    // A recording the archive cannot take is not fetched only to be thrown away: on a full
    // disk every round would otherwise spend the pen's battery on the same download.
    if (const std::optional<FileError> refused = archiveRefusal(base, size)) {
        m_notes.setError(base, refused->description());
        log(u"先不下 "_s + name + u"："_s + refused->description());
        noteBlocked(*refused, round);
        refreshLocalView();
        co_return false;
    }
    setPhase(SyncPhase::downloading(name, 0));

    const QByteArray resume = loadPartial(base, size);
    if (!resume.isEmpty()) {
        log(QString::asprintf("接着上次的断点续传 %s：已有 %d/%s B（%.0f%%）", c(name).constData(),
                              int(resume.size()), c(QString::number(size)).constData(),
                              percentOf(resume.size(), size)));
    }

    auto throttle = std::make_shared<ProgressThrottle>();
    auto onProgress = [self, throttle, name](qint64 got, std::optional<uint32_t> total) {
        if (!self || !total || *total == 0)
            return;
        const int pct = int(std::min<qint64>(got * 100 / *total, 100));
        if (const std::optional<int> admitted = throttle->admit(pct))
            self->setPhase(SyncPhase::downloading(name, *admitted));
    };
    const DownloadResult result = co_await client().download(
        entry.candidates(), size, m_timing.downloadIdleTimeout, std::nullopt, resume, onProgress);
    if (!self)
        co_return false;
    const qint64 got = result.data.size();

    // The client also reports a name too long for the request as "disconnected"; with the link
    // still up that is this file's failure, and the files after it must not wait behind it.
    if (result.disconnected && !client().isConnected()) {
        const double pct = percentOf(got, size);
        try {
            savePartial(base, size, result.data);
        } catch (const std::exception& e) {
            // The link is gone either way; what matters is not claiming a breakpoint we lack.
            m_notes.setError(base,
                             QString::asprintf("传到 %.0f%% 时设备断开了，断点没存下来：", pct) +
                                 describe(e));
            log(QString::asprintf("断线中断 %s：收到的 %d/%s B 没能存成断点，不计失败——",
                                  c(name).constData(), int(got),
                                  c(QString::number(size)).constData()) +
                describe(e));
            noteBlocked(e, round);
            refreshLocalView();
            co_return false;
        }
        m_notes.setError(base, QString::asprintf("传到 %.0f%% 时设备断开了，下次连上接着传", pct));
        log(QString::asprintf("断线中断 %s：已存断点 %d/%s B（%.0f%%），不计失败",
                              c(name).constData(), int(got), c(QString::number(size)).constData(),
                              pct));
        refreshLocalView();
        const qint64 held = got / SyncPlanner::packetBytes * SyncPlanner::packetBytes;
        if (held > resume.size())
            round.progressed = true;
        co_return false;
    }

    const bool isRawOpus = !result.filename.toLower().endsWith(u".wav"_s);
    if (result.endCode == 0 && got > 0 && SyncPlanner::downloadComplete(got, size, isRawOpus)) {
        archive(entry, result, round);
        co_return !round.blocked; // the rest would not fit either
    }

    if (result.endCode == 0 && got > 0) {
        const double pct = percentOf(got, size);
        m_notes.setError(
            base, QString::asprintf("只收到 %d/%d 字节（%.1f%%），设备却报了完成——按未完成处理",
                                    int(got), int(size), pct));
        log(QString::asprintf("下载不完整 %s：收到 %d/%d 字节（%.1f%%）续传%d次，丢弃重来",
                              c(name).constData(), int(got), int(size), pct, result.resumes));
        // What was kept to resume from led here: resuming from it again would repeat this.
        dropPartial(base);
    } else {
        QString reason = u"无应答"_s;
        QString tried = u"（试过 "_s + result.tried.join(u"、"_s) + u"）"_s;
        if (result.endCode) {
            reason = Proto::importEndMeaning(*result.endCode)
                         .value_or(u"结束码 "_s + QString::number(*result.endCode));
        } else if (result.tried.isEmpty()) {
            // Nothing was asked for: no name of this file fits the request.
            reason = ProtoError::filenameTooLong(name).description();
            tried.clear();
        }
        m_notes.setError(base, u"下载失败："_s + reason + tried);
        log(QString::asprintf("下载失败 %s：%s 拿到 %d/%s B 续传%d次 %.0fs", c(name).constData(),
                              c(reason).constData(), int(got), c(QString::number(size)).constData(),
                              result.resumes, result.seconds));
    }
    ++round.failedCount;
    noteDownloadFailure(entry);
    refreshLocalView();
    co_return true;
}

void SyncEngine::archive(const FileEntry& entry, const DownloadResult& result, Round& round)
{
    const QString base = SyncPlanner::normalizedBase(entry.name);
    const QString key = SyncPlanner::manifestKey(entry);
    const QByteArray& data = result.data;
    const auto fail = [&](const QString& text) {
        m_notes.setError(base, text);
        log(text);
        // Not this recording's fault when the folder refuses every write: it waits, uncounted.
        if (!round.blocked)
            ++round.failedCount;
        refreshLocalView();
    };
    SyncManifest manifest = SyncManifest::load(m_paths.manifest());
    std::optional<QString> slot;
    QString archivedName;
    try {
        // A finished container from the pen is kept as it came, under an audio extension.
        const bool raw = OggWrap::looksRaw(data);
        const QByteArray destBytes = raw ? OggWrap::wrap(data, 16000, u"QX27"_s) : data;
        const QString destExt =
            raw ? u".ogg"_s : ArchiveSlot::containerExtension(result.filename, data);
        slot = ArchiveSlot::choose(m_paths, manifest, key, base, data, destExt, destBytes);
        if (slot) {
            archivedName = *slot + destExt;
            AtomicFile::write(m_paths.rawPackets() + u'/' + *slot + u".opus"_s, data);
            AtomicFile::write(m_paths.dest() + u'/' + archivedName, destBytes);
        }
    } catch (const std::exception& e) {
        noteBlocked(e, round);
        fail(u"落盘失败："_s + describe(e));
        return;
    }
    if (!slot) {
        fail(u"落盘失败："_s + base + u" 及其编号的名字都已归档了别的录音"_s);
        return;
    }
    if (*slot != base)
        log(base + u" 这个名字已归档了另一条录音，这一条存为 "_s + *slot);

    manifest.imported[key] = {archivedName, data.size(), SyncManifest::stamp(now())};
    manifest.downloadFailures.erase(key);
    persist(manifest, round);
    dropPartial(base);
    ++round.importedCount;

    const double kbps = result.seconds > 0 ? double(data.size()) / 1024.0 / result.seconds : 0.0;
    log(u"导入 "_s + entry.name + u" "_s + QString::number(data.size()) + u"B "_s +
        QString::asprintf("%.1f", kbps) + u"KB/s"_s +
        (result.resumes >= 1 ? u" 续传"_s + QString::number(result.resumes) + u"次"_s : QString()));

    const QString archived = m_paths.dest() + u'/' + archivedName;
    if (archivedName.endsWith(u".ogg"_s))
        screenSpeechLater(*slot, archived);
    cacheWaveformLater(*slot, archived);
    refreshLocalView();
}

namespace {

// Why an analysis job threw, caught on its worker thread where the exception still has its type.
template <typename Job> auto failureOf(const Job& job, QString& why) -> decltype(job())
{
    try {
        return job();
    } catch (const std::exception& e) {
        why = describeForLog(e);
    } catch (...) {
        why = u"未知错误"_s;
    }
    return decltype(job())();
}

} // namespace

void SyncEngine::screenSpeechLater(const QString& base, const QString& oggPath)
{
    if (!m_hooks.screenSpeech)
        return;
    ++m_analyses;
    [](QPointer<SyncEngine> self, QString b, QString path,
       EngineHooks::ScreenSpeechFn screen) -> QCoro::Task<> {
        // Counted down however this ends, or `--once` would wait for it for ever.
        const auto done = qScopeGuard([self] {
            if (self)
                self->endAnalysis();
        });
        // Off the loop; nothing waits for or is blocked by the verdict. (The job is a named
        // object: GCC 12 destroys temporaries of a co_await expression twice.)
        auto why = std::make_shared<QString>();
        const auto job = [screen, path, why] {
            return failureOf([&] { return screen(path); }, *why);
        };
        QFuture<std::optional<VoiceActivity::Report>> future = QtConcurrent::run(job);
        const std::optional<VoiceActivity::Report> report = co_await future;
        if (!self)
            co_return;
        if (!why->isEmpty())
            self->log(u"语音检测："_s + b + u" 分析失败——"_s + *why);
        if (report) {
            if (!report->isLikelySpeech) {
                self->log(u"语音检测："_s + b + u" 疑似没有人声——"_s + report->reason +
                          u"（仅记录，未拦截）"_s);
            }
            self->m_notes.setVoiceReport(b, *report);
        }
    }(this, base, oggPath, m_hooks.screenSpeech);
}

void SyncEngine::cacheWaveformLater(const QString& base, const QString& audioPath)
{
    if (!m_hooks.cacheWaveform)
        return;
    ++m_analyses;
    [](QPointer<SyncEngine> self, QString b, QString path,
       EngineHooks::CacheWaveformFn cache) -> QCoro::Task<> {
        const auto done = qScopeGuard([self] {
            if (self)
                self->endAnalysis();
        });
        auto why = std::make_shared<QString>();
        const auto job = [cache, b, path, why] {
            failureOf([&] { cache(b, path); }, *why);
        };
        QFuture<void> future = QtConcurrent::run(job);
        co_await future;
        if (self && !why->isEmpty())
            self->log(u"波形："_s + b + u" 算不出来——"_s + *why);
    }(this, base, audioPath, m_hooks.cacheWaveform);
}

void SyncEngine::endAnalysis()
{
    if (--m_analyses == 0)
        Q_EMIT analysesFinished();
}
