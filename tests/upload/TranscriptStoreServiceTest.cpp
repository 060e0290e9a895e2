// The archive's transcript store as the application fills it from the stand-in service, and
// `kestrel search` reading it.

#include "EngineServices.h"
#include "UploadFixture.h"
#include "transcripts/TranscriptKeeper.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString base = u"20251203-090000"_s;

class TranscriptStoreService : public UploadFixture {
protected:
    TranscriptStoreService()
    {
        // The application assembles its own queue; the fixture's steps aside.
        queue.reset();
        server.setProcessing(0ms);
        makeServices();
    }

    void makeServices()
    {
        services.reset();
        EngineServices::Options options;
        options.store = store;
        options.nam = &nam;
        options.uploadTiming = fastTiming();
        options.vaultTiming = Mindvault::Timing{5, 5};
        options.transcriptTiming.firstBackoffMs = 20;
        services = std::make_unique<EngineServices>(engine(), options);
    }

    void poll()
    {
        TestSupport::run(
            services->uploadQueue()->refreshVaultStatus(h.manifest(), UploadQueue::pollLimit));
    }

    bool stored()
    {
        return TestSupport::spinUntil([&] {
            TranscriptKeeper& k = services->transcripts();
            return k.store() && k.idle() && k.store()->transcriptIds().contains(base);
        });
    }

    TestSupport::ProgramRun search(const QStringList& args)
    {
        return TestSupport::runProgram(QStringLiteral(KESTREL_BIN),
                                       QStringList{u"search"_s} + args +
                                           QStringList{u"--archive-root"_s, h.paths().root()});
    }

    std::unique_ptr<EngineServices> services;
};

} // namespace

TEST_F(TranscriptStoreService, ATranscriptIsKeptSearchableAndOutlivesTheService)
{
    signIn();
    addRecording(base, 600);
    ASSERT_EQ(TestSupport::run(services->uploadQueue()->flushUploadQueue(false)), 1);
    const QString sessionId = h.manifest().uploaded.at(base);
    poll();
    ASSERT_TRUE(stored());

    // Found with its time and speaker; each segment lasts a third of the 600 seconds.
    auto run = search({u"上周完成"_s});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, base + u"\t3:20\tS2\t好的，我先说一下「上周完成」的部分。\n"_s);

    // Naming a speaker in the window changes what search prints.
    const QString transcriptId = services->transcripts().store()->transcriptIds().value(base);
    services->transcripts().nameSpeaker(transcriptId, u"S2"_s, u"王芳"_s, true);
    EXPECT_TRUE(search({u"上周完成"_s}).out.contains(u"\t3:20\t王芳\t"_s));

    // A damaged store is moved aside at the next start and filled again from the service.
    services.reset();
    const QString path = TranscriptStore::pathIn(h.paths().root());
    for (const QString& suffix : {u"-wal"_s, u"-shm"_s})
        QFile::remove(path + suffix);
    TestSupport::writeFile(path, QByteArray(4096, '\x7f'));
    makeServices();
    ASSERT_TRUE(stored());
    EXPECT_EQ(h.loggedCount(u"转写库 transcripts.sqlite 打不开或已损坏"_s), 1);
    EXPECT_EQ(QDir(h.paths().root() + u"/out"_s)
                  .entryList({u"transcripts.sqlite.broken-*"_s}, QDir::Files)
                  .size(),
              1);
    EXPECT_EQ(search({u"项目进度"_s}).exitCode, 0);

    // The service deletes the recording; its transcript is still found, offline.
    // A transcribed recording is not asked about again until the next start.
    ASSERT_TRUE(server.deleteSession(sessionId.toStdString()));
    makeServices();
    poll();
    ASSERT_EQ(services->uploadQueue()->book().vaultStates().value(base).status, u"deleted"_s);
    // The keeper opens the store in the background: it may not be there yet.
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        const TranscriptStore* opened = services->transcripts().store();
        const auto kept = opened ? opened->get(base) : std::nullopt;
        return kept && kept->serviceDeleted;
    }));
    nam.clearConnectionCache();
    server.stop();
    run = search({u"下周再对"_s});
    EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
    EXPECT_EQ(run.out, base + u"\t6:40\tS1\t那就按这个计划推进，「下周再对」一次。\n"_s);

    // Export takes the transcript from the archive too.
    QTemporaryDir out;
    const auto exported = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN), {u"export"_s, u"--archive-root"_s, h.paths().root(), u"--to"_s,
                                      out.path(), u"--transcripts"_s});
    EXPECT_EQ(exported.exitCode, 0) << exported.err.toStdString();
    const QStringList subtitles = QDir(out.path()).entryList({u"*.srt"_s}, QDir::Files);
    ASSERT_EQ(subtitles.size(), 1);
    EXPECT_TRUE(TestSupport::readFile(out.path() + u'/' + subtitles.first())
                    .contains("S1：那就按这个计划推进，下周再对一次。"));

    EXPECT_EQ(search({u"没人说过这句"_s}).exitCode, 1);
    const auto bad = search({u"计划"_s, u"--limit"_s, u"0"_s});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_TRUE(bad.err.contains(u"--limit 要一个正整数"_s));
}

TEST(SearchCommandErrors, AnArchiveWithoutAStoreIsAnErrorWithASentence)
{
    QTemporaryDir dir;
    const auto run = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN), {u"search"_s, u"开会"_s, u"--archive-root"_s, dir.path()});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_TRUE(run.err.startsWith(u"这个留档里还没有转写库"_s)) << run.err.toStdString();
}
