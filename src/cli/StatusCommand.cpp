#include "StatusCommand.h"

#include "BluezRadio.h"
#include "CommandLine.h"
#include "audio/OggWrap.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultConfig.h"
#include "cloud/MindvaultError.h"
#include "cloud/VaultFailure.h"
#include "device/RadioState.h"
#include "sync/ArchiveRootCheck.h"
#include "sync/ArchiveScan.h"
#include "sync/CleanupSettings.h"
#include "sync/Describe.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPlanner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCoro/QCoroTask>
#include <QFile>
#include <QMap>
#include <map>

using namespace Qt::Literals::StringLiterals;

namespace StatusCommand {

namespace {

// What is known about one recording, locally and (when asked) from the service.
struct Row {
    std::optional<QString> importedAt; // ledger stamp
    bool local = false;                // an audio file is in the archive
    std::optional<double> seconds;     // from the raw packet file
    std::optional<QString> session;    // pushed: the service session id
    bool missingOnServer = false;
    std::optional<SessionState> state;
    std::optional<QString> stateProblem; // the service could not say
    std::optional<QString> title;
};

struct Counts {
    int imported = 0, pushed = 0, transcribed = 0, processing = 0, failed = 0, waiting = 0,
        keptLocal = 0;
};

std::map<QString, Row> localRows(const SyncPaths& paths, const SyncManifest& manifest)
{
    std::map<QString, Row> rows;
    for (const auto& [key, imported] : manifest.imported) {
        QString base = imported.file;
        if (const qsizetype dot = base.lastIndexOf(u'.'); dot > 0)
            base.truncate(dot);
        rows[base].importedAt = imported.at;
    }
    for (const QString& ext : {u"ogg"_s, u"m4a"_s}) {
        const SyncPlanner::Sizes files = ArchiveScan::sizes(paths.dest(), ext);
        for (auto it = files.cbegin(); it != files.cend(); ++it)
            rows[it.key()].local = true;
    }
    const SyncPlanner::Sizes raw = ArchiveScan::sizes(paths.rawPackets(), u"opus"_s);
    for (auto it = raw.cbegin(); it != raw.cend(); ++it) {
        if (auto row = rows.find(it.key()); row != rows.end())
            row->second.seconds = OggWrap::durationSeconds(it.value());
    }
    for (const auto& [base, session] : manifest.uploaded)
        rows[base].session = session;
    for (const auto& [base, at] : manifest.missingOnServer)
        rows[base].missingOnServer = true;
    return rows;
}

// Asks the service for every pushed recording; false when it could not be reached at all.
// Connecting rotates the stored refresh token, as every new client of the account does.
QCoro::Task<bool> askService(MindvaultConfig config, std::map<QString, Row>& rows, QString& problem)
{
    Mindvault client(std::move(config));
    try {
        co_await client.connect();
    } catch (const std::exception& e) {
        problem = describe(e);
        co_return false;
    }
    QStringList transcripts;
    for (auto& [base, row] : rows) {
        if (!row.session || row.missingOnServer)
            continue;
        try {
            row.state = co_await client.sessionState(*row.session);
            if (row.state->transcriptId)
                transcripts.append(*row.state->transcriptId);
        } catch (const MindvaultError& e) {
            if (e.kind() == MindvaultError::Kind::notFound)
                row.missingOnServer = true;
            else
                row.stateProblem = e.description();
        } catch (const std::exception& e) {
            row.stateProblem = describe(e);
        }
    }
    try {
        const QMap<QString, QString> titles = co_await client.transcriptTitles(transcripts);
        for (auto& [base, row] : rows) {
            if (row.state && row.state->transcriptId && titles.contains(*row.state->transcriptId))
                row.title = titles.value(*row.state->transcriptId);
        }
    } catch (const std::exception&) {
        // Titles are a nicety; the states above stand without them.
    }
    co_return true;
}

QString describeRow(const Row& row, int floorSeconds, Counts& counts)
{
    QStringList parts;
    if (row.importedAt) {
        ++counts.imported;
        parts.append(u"已导入 "_s + *row.importedAt);
    } else if (row.local) {
        parts.append(u"在归档里"_s);
    } else {
        parts.append(u"本地文件不在"_s);
    }
    if (row.seconds)
        parts.append(QString::number(qRound(*row.seconds)) + u" 秒"_s);

    if (!row.session) {
        if (row.seconds && SyncPlanner::tooShortToUpload(*row.seconds, floorSeconds)) {
            ++counts.keptLocal;
            parts.append(u"只落盘（短于 "_s + QString::number(floorSeconds) + u" 秒门槛）"_s);
        } else if (row.local) {
            ++counts.waiting;
            parts.append(u"待推送"_s);
        }
        return parts.join(u"  "_s);
    }

    ++counts.pushed;
    parts.append(u"已推送（会话 "_s + *row.session + u"）"_s);
    if (row.missingOnServer) {
        parts.append(u"Mindvault里已不存在"_s);
    } else if (row.stateProblem) {
        parts.append(u"状态查不到："_s + *row.stateProblem);
    } else if (row.state) {
        const SessionState& s = *row.state;
        if (s.status == u"ready" && s.transcriptId) {
            ++counts.transcribed;
            parts.append(u"已转写「"_s + row.title.value_or(*s.transcriptId) + u"」"_s);
        } else if (s.status == u"failed") {
            ++counts.failed;
            parts.append(u"转写失败（"_s + s.errorCode.value_or(u"没有错误码"_s) + u"）："_s +
                         VaultFailure::explain(s.errorCode));
        } else {
            ++counts.processing;
            parts.append(u"处理中（"_s + s.status + u"）"_s);
        }
    }
    return parts.join(u"  "_s);
}

// The computer's Bluetooth as it is now, in one sentence: what the user can do when it is not
// ready for the pen.
QString bluetoothLine()
{
    const BluezRadio radio(QDBusConnection::systemBus());
    if (radio.state() == RadioState::poweredOn)
        return u"蓝牙：适配器 "_s + radio.adapterName() + u"（"_s + radio.adapterAddress() +
               u"）已打开"_s;
    return u"蓝牙："_s + RadioState::advice(radio.state());
}

// The last round's summary as the engine logged it ("同步结束：…"), with its time stamp.
std::optional<QString> lastSummary(const QString& logPath)
{
    QFile file(logPath);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QString marker = u"同步结束："_s;
    std::optional<QString> found;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (const qsizetype at = line.indexOf(marker); at >= 0)
            found = line.left(at).trimmed() + u' ' + line.mid(at + marker.size());
    }
    return found;
}

QCoro::Task<int> report(SyncPaths paths, bool offline)
{
    int exit = CommandLine::ok;
    CommandLine::out(u"归档目录："_s + paths.root());

    std::optional<MindvaultConfig> config;
    try {
        config = MindvaultConfig::load(paths.mindvaultConfig());
    } catch (const std::exception&) {
    }
    const TokenStore store;
    const std::optional<QString> email = Mindvault::signedInEmail(store);
    if (!config)
        CommandLine::out(u"Mindvault：没有配置（读不到 "_s + paths.mindvaultConfig() + u"）"_s);
    else if (!Mindvault::hasCredentials(store))
        CommandLine::out(u"Mindvault：未登录（kestrel sign-in --email 邮箱）"_s);
    else
        CommandLine::out(u"Mindvault：已登录 "_s + email.value_or(u"（邮箱未知）"_s) +
                         u"（组织 "_s + store.get(u"org_id"_s).value_or(u"未知"_s) + u"）"_s);

    const SyncManifest manifest = SyncManifest::load(paths.manifest());
    if (!manifest.isTrustworthy) {
        CommandLine::err(SyncManifest::unreadableReason(paths.manifest())
                             .value_or(u"清单读不出来："_s + paths.manifest()));
        exit = CommandLine::failed;
    }
    std::map<QString, Row> rows = localRows(paths, manifest);

    const bool anyPushed = !manifest.uploaded.empty();
    if (offline) {
        CommandLine::out(u"转写状态：没有查询（--offline）"_s);
    } else if (anyPushed && config && Mindvault::hasCredentials(store)) {
        QString problem;
        if (!co_await askService(*config, rows, problem)) {
            CommandLine::out(u"转写状态：查不到——"_s + problem);
            exit = CommandLine::failed;
        }
    } else if (anyPushed) {
        CommandLine::out(u"转写状态：没登录或没配置，查不了"_s);
    }

    const int floorSeconds = CleanupSettings::load(paths.cleanupSettings()).minUploadSeconds;
    Counts counts;
    QStringList lines;
    for (const auto& [base, row] : rows)
        lines.append(u"  "_s + base + u"  "_s + describeRow(row, floorSeconds, counts));
    CommandLine::out(u"录音 "_s + QString::number(rows.size()) + u" 条："_s +
                     u"已导入 %1 条，已推送 %2 条，已转写 %3 条，处理中 %4 条，转写失败 %5 条，"
                     u"待推送 %6 条，只落盘 %7 条"_s.arg(counts.imported)
                         .arg(counts.pushed)
                         .arg(counts.transcribed)
                         .arg(counts.processing)
                         .arg(counts.failed)
                         .arg(counts.waiting)
                         .arg(counts.keptLocal));
    for (const QString& line : lines)
        CommandLine::out(line);

    const std::optional<QString> summary = lastSummary(paths.syncLog());
    CommandLine::out(u"最近一轮："_s + summary.value_or(u"同步日志里还没有一轮同步的结尾（"_s +
                                                        paths.syncLog() + u"）"_s));
    CommandLine::out(bluetoothLine());
    co_return exit;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption root(u"archive-root"_s, {}, u"DIR"_s);
    const QCommandLineOption offline(u"offline"_s);
    parser.addOptions({root, offline});
    if (!CommandLine::parse(parser,
                            u"用法：kestrel status [--archive-root 目录] [--offline]\n"
                            u"  --offline  不向Mindvault查询转写状态，只看本地归档和清单"_s))
        return CommandLine::usage;
    const SyncPaths paths =
        parser.isSet(root) ? SyncPaths(parser.value(root)) : SyncPaths::standard();
    if (const auto problem = ArchiveRootCheck::problem(paths.root(), ArchiveRootCheck::Use::read)) {
        CommandLine::err(*problem);
        return CommandLine::failed;
    }
    return QCoro::waitFor(report(paths, parser.isSet(offline)));
}

} // namespace StatusCommand
