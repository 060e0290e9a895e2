#include "ExportCommand.h"

#include "CommandLine.h"
#include "ExportFormat.h"
#include "audio/AudioFileReader.h"
#include "audio/WavExport.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultConfig.h"
#include "platform/ExclusiveRename.h"
#include "sync/Continuation.h"
#include "sync/Describe.h"
#include "sync/FileError.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"
#include "transcripts/TranscriptStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <map>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace ExportCommand {

namespace {

const QString usageText =
    u"用法：kestrel export --to 目录 [--format ogg|wav] [--transcripts] [--since 日期] "
    u"[--archive-root 目录]\n"
    u"  --to           导出到这个目录（不存在就新建；已有的文件不会被覆盖）\n"
    u"  --format       ogg（默认，原样复制）或 wav（16 位 PCM，单声道）\n"
    u"  --transcripts  已转写的录音另存一份纯文本和 SRT 字幕（需要已登录）\n"
    u"  --since        只导出这一天（含）以后录的，写成 2025-12-03 这样"_s;

struct Options {
    SyncPaths paths;
    QString to;
    bool wav = false;
    bool transcripts = false;
    std::optional<QDate> since;
};

struct Recording {
    QString base;
    QString file; // full path of the archived audio
    std::optional<QDateTime> start;
    QString title;                  // planned or transcript title; may be empty
    std::optional<QString> session; // pushed: the service session id
    std::optional<QString> transcriptId;
    QList<TranscriptSegment> segments;
    QMap<QString, QString> speakerNames;
};

std::optional<Options> parse()
{
    QCommandLineParser parser;
    const QCommandLineOption to(u"to"_s, {}, u"DIR"_s);
    const QCommandLineOption format(u"format"_s, {}, u"FORMAT"_s, u"ogg"_s);
    const QCommandLineOption transcripts(u"transcripts"_s);
    const QCommandLineOption since(u"since"_s, {}, u"DATE"_s);
    const QCommandLineOption root(u"archive-root"_s, {}, u"DIR"_s);
    parser.addOptions({to, format, transcripts, since, root});
    if (!CommandLine::parse(parser, usageText))
        return std::nullopt;
    QString problem;
    Options o{parser.isSet(root) ? SyncPaths(parser.value(root)) : SyncPaths::standard(),
              parser.value(to), false, parser.isSet(transcripts), std::nullopt};
    const QString fmt = parser.value(format).toLower();
    o.wav = fmt == u"wav"_s;
    if (o.to.isEmpty())
        problem = u"缺少导出目录：--to 目录"_s;
    else if (!o.wav && fmt != u"ogg"_s)
        problem = u"不认识的格式："_s + parser.value(format) + u"（只能是 ogg 或 wav）"_s;
    if (problem.isEmpty() && parser.isSet(since)) {
        o.since = QDate::fromString(parser.value(since), u"yyyy-MM-dd"_s);
        if (!o.since->isValid())
            problem = u"看不懂的日期："_s + parser.value(since) + u"（要写成 2025-12-03 这样）"_s;
    }
    if (problem.isEmpty()) {
        // Writing into the archive would change what the importer accounts for.
        const QString target = QDir::cleanPath(QDir(o.to).absolutePath()) + u'/';
        const QString archive = QDir::cleanPath(QDir(o.paths.root()).absolutePath()) + u'/';
        if (target.startsWith(archive))
            problem = u"导出目录不能在归档目录里面："_s + o.to;
    }
    if (problem.isEmpty())
        return o;
    CommandLine::err(problem);
    CommandLine::err(usageText);
    return std::nullopt;
}

// What the archive holds per recording, best first: the Ogg the importer made, a pen's own
// container kept as it came, the AAC a stranded recording became, the stranded file itself.
constexpr std::array audioKinds{u"ogg", u"opus", u"m4a", u"wav", u"caf"};

int rank(const QString& ext)
{
    const auto it = std::find(audioKinds.begin(), audioKinds.end(), ext);
    return it == audioKinds.end() ? int(audioKinds.size()) : int(it - audioKinds.begin());
}

// The archived recordings, oldest first: each base once, in the best form it is kept in. Files
// that are not readable or in an unknown container are listed too, so they are named, not left
// out.
QList<Recording> archived(const Options& o, const SyncManifest& manifest)
{
    std::map<QString, Recording> byBase;
    const QFileInfoList files = QDir(o.paths.dest()).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& info : files) {
        const QString ext = info.suffix().toLower();
        // Only recordings: the audio kinds, and ".bin", what the importer names a container it
        // does not know. The ledger and temporary files live here too.
        if (info.fileName().startsWith(u'.') ||
            (rank(ext) == int(audioKinds.size()) && ext != u"bin"_s))
            continue;
        const QString base = info.completeBaseName();
        auto [it, fresh] = byBase.try_emplace(base);
        Recording& r = it->second;
        if (!fresh && rank(QFileInfo(r.file).suffix().toLower()) <= rank(ext))
            continue;
        r.base = base;
        r.file = info.filePath();
        r.start = Continuation::startedAt(base);
        if (!r.start)
            r.start = info.lastModified();
        if (auto plan = manifest.plan.find(base); plan != manifest.plan.end())
            r.title = plan->second.title.value_or(QString());
        if (auto up = manifest.uploaded.find(base); up != manifest.uploaded.end())
            r.session = up->second;
    }
    QList<Recording> out;
    for (auto& [base, r] : byBase)
        if (!o.since || r.start->date() >= *o.since)
            out.append(std::move(r));
    std::stable_sort(out.begin(), out.end(),
                     [](const Recording& a, const Recording& b) { return *a.start < *b.start; });
    return out;
}

// Fills in transcripts and titles of the pushed recordings from the archive's transcript store;
// true when it held every one of them (the service need not be asked).
bool readStoredTranscripts(const SyncPaths& paths, QList<Recording>& list)
{
    std::unique_ptr<TranscriptStore> store;
    try {
        store = TranscriptStore::open(TranscriptStore::pathIn(paths.root()),
                                      TranscriptStore::Mode::read);
    } catch (const TranscriptStoreError& e) {
        if (e.kind() != TranscriptStoreError::Kind::missing)
            CommandLine::err(e.description());
        return false;
    }
    bool complete = true;
    for (Recording& r : list) {
        if (!r.session)
            continue;
        std::optional<StoredTranscript> stored;
        try {
            stored = store->get(r.base);
        } catch (const TranscriptStoreError& e) {
            CommandLine::err(e.description());
        }
        if (!stored) {
            complete = false;
            continue;
        }
        r.transcriptId = stored->transcriptId;
        r.segments = stored->segments;
        for (const StoredSpeaker& speaker : stored->speakers)
            if (speaker.name && !speaker.name->trimmed().isEmpty())
                r.speakerNames.insert(speaker.label, *speaker.name);
        if (stored->title && !stored->title->isEmpty())
            r.title = *stored->title;
    }
    return complete;
}

// Fills in transcripts and titles of the pushed recordings the store did not hold; a sentence
// when the service could not be asked at all.
QCoro::Task<std::optional<QString>> fetchTranscripts(SyncPaths paths, QList<Recording>& list)
{
    std::optional<MindvaultConfig> config;
    try {
        config = MindvaultConfig::load(paths.mindvaultConfig());
    } catch (const std::exception& e) {
        co_return u"读不到Mindvault配置，转写没有导出："_s + describe(e);
    }
    const TokenStore store;
    if (!Mindvault::hasCredentials(store))
        co_return u"没登录Mindvault，转写没有导出（kestrel sign-in --email 邮箱）"_s;
    Mindvault client(std::move(*config));
    try {
        co_await client.connect();
    } catch (const std::exception& e) {
        co_return u"Mindvault连不上，转写没有导出："_s + describe(e);
    }
    for (Recording& r : list) {
        if (!r.session || r.transcriptId)
            continue;
        try {
            const SessionState state = co_await client.sessionState(*r.session);
            if (state.status != u"ready"_s || !state.transcriptId)
                continue;
            r.transcriptId = state.transcriptId;
            r.segments = co_await client.segments(*state.transcriptId);
            r.speakerNames =
                ExportFormat::speakerNames(co_await client.speakers(*state.transcriptId));
            if (auto title = co_await client.transcriptTitle(*state.transcriptId))
                r.title = *title;
        } catch (const std::exception& e) {
            r.transcriptId.reset();
            CommandLine::err(u"「"_s + r.base + u"」的转写读不到："_s + describe(e));
        }
    }
    co_return std::nullopt;
}

// Puts `write`'s bytes into `folder` as stem + extension, or the first free "stem (2)", … :
// written under a name that cannot be the user's, flushed, then moved without replacing
// anything. Returns the path; throws FileError.
template <typename Write>
QString placeNew(const QString& folder, const QString& stem, const QString& extension, Write write)
{
    const QString wanted = folder + u'/' + stem + extension;
    QTemporaryFile file(folder + u"/.kestrel-XXXXXX.part"_s);
    errno = 0;
    if (!file.open() || !write(file) || !file.flush() || ::fsync(file.handle()) != 0) {
        const int err = errno;
        throw FileError::writeFailed(wanted, file.errorString(), err);
    }
    file.setAutoRemove(false);
    file.close();
    const QString placed =
        ExclusiveRename::moveToFreeName(file.fileName(), folder, stem, extension);
    if (placed.isEmpty()) {
        const int err = errno;
        QFile::remove(file.fileName());
        throw FileError::writeFailed(wanted, QString::fromLocal8Bit(std::strerror(err)), err);
    }
    return placed;
}

QString copyNew(const QString& from, const QString& folder, const QString& stem,
                const QString& extension)
{
    QFile source(from);
    if (!source.open(QIODevice::ReadOnly))
        throw FileError(u"读不了 "_s + from + u"："_s + source.errorString());
    return placeNew(folder, stem, extension, [&](QFile& to) {
        while (!source.atEnd()) {
            const QByteArray block = source.read(1 << 20);
            if (block.isEmpty() && source.error() != QFileDevice::NoError)
                return false;
            if (to.write(block) != block.size())
                return false;
        }
        return true;
    });
}

QString writeNew(const QByteArray& bytes, const QString& folder, const QString& stem,
                 const QString& extension)
{
    return placeNew(folder, stem, extension,
                    [&](QFile& to) { return to.write(bytes) == bytes.size(); });
}

QCoro::Task<int> run(Options o)
{
    const SyncManifest manifest = SyncManifest::load(o.paths.manifest());
    QList<Recording> list = archived(o, manifest);
    int exit = CommandLine::ok;
    if (!QDir().mkpath(o.to) || !QFileInfo(o.to).isWritable()) {
        CommandLine::err(u"导出目录建不了或写不进去："_s + o.to);
        co_return CommandLine::failed;
    }
    // The archive's copy first, so an export works offline; the service only for the rest.
    if (o.transcripts && !readStoredTranscripts(o.paths, list)) {
        if (auto problem = co_await fetchTranscripts(o.paths, list)) {
            CommandLine::err(*problem);
            exit = CommandLine::failed;
        }
    }

    QSet<QString> taken;
    for (const QString& name : QDir(o.to).entryList(QDir::AllEntries | QDir::Hidden))
        taken.insert(name);
    int recordings = 0, transcripts = 0, skipped = 0;
    for (const Recording& r : list) {
        const QString kind = QFileInfo(r.file).suffix().toLower();
        const QString ext = o.wav ? u".wav"_s : u"."_s + kind;
        QStringList exts{ext};
        if (r.transcriptId)
            exts << u".txt"_s << u".srt"_s;
        const QString stem =
            ExportFormat::unique(ExportFormat::stem(r.start, r.title, r.base), exts, taken);
        QString placed;
        try {
            if (rank(kind) == int(audioKinds.size()))
                throw WavExport::Error(u"不是认得的录音格式（."_s + kind + u"）"_s);
            if (o.wav) {
                placed = WavExport::write(r.file, o.to + u'/' + stem + ext).path;
            } else {
                AudioFileReader check(r.file);
                placed = copyNew(r.file, o.to, stem, ext);
            }
        } catch (const std::exception& e) {
            CommandLine::err(u"跳过「"_s + r.base + u"」："_s + describe(e));
            ++skipped;
            continue;
        }
        // A name taken since the folder was listed moved the file on to the next free one.
        const QString name = QFileInfo(placed).fileName().chopped(ext.size());
        taken.insert(name + ext);
        ++recordings;
        CommandLine::out(u"写出 "_s + name + ext);
        if (!r.transcriptId)
            continue;
        const QString title = r.title.isEmpty() ? r.base : r.title;
        try {
            const QString txt = writeNew(ExportFormat::plainText(title, r.segments, r.speakerNames),
                                         o.to, name, u".txt"_s);
            const QString srt =
                writeNew(ExportFormat::srt(r.segments, r.speakerNames), o.to, name, u".srt"_s);
            taken << QFileInfo(txt).fileName() << QFileInfo(srt).fileName();
            ++transcripts;
            CommandLine::out(u"写出 "_s + QFileInfo(txt).fileName() + u"、"_s +
                             QFileInfo(srt).fileName());
        } catch (const std::exception& e) {
            CommandLine::err(u"「"_s + r.base + u"」的转写写不进导出目录："_s + describe(e));
            ++skipped;
        }
    }
    QString summary = u"导出了 %1 条录音"_s.arg(recordings);
    if (o.transcripts)
        summary += u"、%1 份转写"_s.arg(transcripts);
    summary += u"到 "_s + o.to;
    if (skipped > 0) {
        summary += u"；%1 项没导出，原因见上"_s.arg(skipped);
        exit = CommandLine::failed;
    }
    CommandLine::out(summary);
    co_return exit;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const std::optional<Options> options = parse();
    if (!options)
        return CommandLine::usage;
    return QCoro::waitFor(run(*options));
}

} // namespace ExportCommand
