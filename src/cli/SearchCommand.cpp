#include "SearchCommand.h"

#include "CommandLine.h"
#include "sync/ArchiveRootCheck.h"
#include "sync/SyncPaths.h"
#include "transcripts/TranscriptQuery.h"
#include "transcripts/TranscriptStore.h"

#include <QCommandLineParser>
#include <QCoreApplication>

using namespace Qt::Literals::StringLiterals;

namespace SearchCommand {

namespace {

// Exit codes of their own: "nothing found" is not a failure of the command.
enum Exit : int { found = 0, none = 1, error = 2 };

const QString usage = u"用法：kestrel search 要找的话 [--archive-root 目录] [--limit 条数]\n"
                      u"在本机留档的转写里找说过的话（不用联网）；每条命中一行，用制表符分开："
                      u"录音、录音里的时刻、说话人、那段话（命中处在「」里）。\n"
                      u"找到时退出码 0，没找到 1，出错 2。"_s;

} // namespace

QString line(const TranscriptHit& hit, const QString& query)
{
    const QString text = TranscriptQuery::marked(
        TranscriptQuery::oneLine(hit.text), TranscriptQuery::normalized(query), u"「"_s, u"」"_s);
    return QStringList{TranscriptQuery::oneLine(hit.base), TranscriptQuery::timeLabel(hit.startMs),
                       TranscriptQuery::oneLine(hit.speaker), text}
        .join(u'\t');
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption root(u"archive-root"_s, {}, u"DIR"_s);
    const QCommandLineOption limitOption(u"limit"_s, {}, u"N"_s);
    parser.addOptions({root, limitOption});
    if (!CommandLine::parse(parser, usage, true))
        return error;
    const QString query = TranscriptQuery::normalized(parser.positionalArguments().join(u' '));
    if (query.isEmpty()) {
        CommandLine::err(u"没给要找的话。"_s);
        CommandLine::err(usage);
        return error;
    }
    int limit = defaultLimit;
    if (parser.isSet(limitOption)) {
        bool ok = false;
        limit = parser.value(limitOption).toInt(&ok);
        if (!ok || limit < 1) {
            CommandLine::err(
                u"--limit 要一个正整数，收到的是“%1”。"_s.arg(parser.value(limitOption)));
            return error;
        }
    }
    const SyncPaths paths =
        parser.isSet(root) ? SyncPaths(parser.value(root)) : SyncPaths::standard();
    if (const auto problem = ArchiveRootCheck::problem(paths.root(), ArchiveRootCheck::Use::read)) {
        CommandLine::err(*problem);
        return error;
    }
    try {
        const auto store = TranscriptStore::open(TranscriptStore::pathIn(paths.root()),
                                                 TranscriptStore::Mode::read);
        const QList<TranscriptHit> hits = store->search(query, limit);
        for (const TranscriptHit& hit : hits)
            CommandLine::out(line(hit, query));
        return hits.isEmpty() ? none : found;
    } catch (const KestrelError& e) {
        CommandLine::err(e.description());
        return error;
    }
}

} // namespace SearchCommand
