// The keeper: fetches each transcribed recording once, a few at a time, backs off after a
// failure, and keeps what the service deleted.

#include "transcripts/TranscriptKeeper.h"

#include "cloud/NetworkError.h"
#include "support/TestSupport.h"

#include <QCoro/QCoroTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using Recording = TranscriptKeeper::Recording;

Recording transcribed(const QString& base)
{
    return {base, u"tr-"_s + base, u"标题"_s, false};
}

class TranscriptKeeperTest : public ::testing::Test {
protected:
    TranscriptKeeperTest()
    {
        TranscriptKeeper::Timing timing;
        timing.concurrency = 2;
        timing.firstBackoffMs = 20;
        timing.maxBackoffMs = 40;
        keeper = std::make_unique<TranscriptKeeper>(
            TranscriptStore::pathIn(dir.path()),
            [this](QString id) { return fetch(std::move(id)); },
            [this](const QString& l) { logged << l; }, timing);
    }

    QCoro::Task<std::optional<TranscriptKeeper::Fetched>> fetch(QString id)
    {
        ++running;
        maxRunning = std::max(maxRunning, running);
        asked << id;
        co_await QCoro::sleepFor(std::chrono::milliseconds(5));
        --running;
        if (failuresLeft.value(id) > 0) {
            --failuresLeft[id];
            throw NetworkError(4, u"连接超时"_s);
        }
        TranscriptKeeper::Fetched f;
        f.segments = {{u"1"_s, u"S1"_s, u"说到了"_s + id, 0, 1000}};
        f.speakers = {{u"r1"_s, u"S1"_s, u"王芳"_s, true, std::nullopt}};
        co_return f;
    }

    bool settle()
    {
        return TestSupport::spinUntil([&] { return keeper->store() && keeper->idle(); });
    }

    QTemporaryDir dir;
    QStringList logged;
    QStringList asked;
    QHash<QString, int> failuresLeft;
    int running = 0;
    int maxRunning = 0;
    std::unique_ptr<TranscriptKeeper> keeper;
};

} // namespace

TEST_F(TranscriptKeeperTest, FetchesEachTranscribedRecordingOnceAFewAtATime)
{
    QList<Recording> list;
    for (int i = 0; i < 5; ++i)
        list << transcribed(u"rec%1"_s.arg(i));
    list << Recording{u"pending"_s, std::nullopt, std::nullopt, false};
    failuresLeft[u"tr-rec3"_s] = 2;
    keeper->noteRecordings(list);
    ASSERT_TRUE(settle());

    EXPECT_EQ(maxRunning, 2);
    EXPECT_EQ(asked.size(), 7); // five, and rec3 twice more after backing off
    EXPECT_EQ(asked.count(u"tr-rec3"_s), 3);
    EXPECT_EQ(logged.size(), 1) << logged.join(u'\n').toStdString(); // said once
    EXPECT_TRUE(logged.value(0).startsWith(u"rec3 的转写没取到本机："_s));
    EXPECT_EQ(keeper->store()->transcriptIds().size(), 5);
    EXPECT_EQ(keeper->store()->search(u"tr-rec3"_s, 5).value(0).speaker, u"王芳"_s);

    // The same list again fetches nothing; a new transcript id (a repush) fetches again.
    keeper->noteRecordings(list);
    list[0].transcriptId = u"tr-new"_s;
    keeper->noteRecordings(list);
    ASSERT_TRUE(settle());
    EXPECT_EQ(asked.size(), 8);
    EXPECT_EQ(keeper->store()->get(u"rec0"_s)->transcriptId, u"tr-new"_s);
}

TEST_F(TranscriptKeeperTest, ADeletedRecordingKeepsItsTranscriptAndSpeakersWriteThrough)
{
    keeper->noteRecordings({transcribed(u"rec"_s)});
    ASSERT_TRUE(settle());
    // After the service deleted it, the list knows no transcript id any more.
    keeper->noteRecordings({{u"rec"_s, std::nullopt, std::nullopt, true}});
    keeper->nameSpeaker(u"tr-rec"_s, u"S1"_s, u"李雷"_s, true);
    const TranscriptHit hit = keeper->store()->search(u"说到了"_s, 5).value(0);
    EXPECT_TRUE(hit.serviceDeleted);
    EXPECT_EQ(hit.speaker, u"李雷"_s);
    EXPECT_EQ(asked.size(), 1);
}

TEST_F(TranscriptKeeperTest, AStoreThatCannotBeMadeNeverStopsAnything)
{
    // The store's folder is taken by a file.
    TestSupport::writeFile(dir.path() + u"/out"_s, "a file where the folder should be");
    QSignalSpy ready(keeper.get(), &TranscriptKeeper::ready);
    keeper->noteRecordings({transcribed(u"rec"_s)});
    ASSERT_TRUE(TestSupport::spinUntil([&] { return ready.count() == 1; }));
    EXPECT_EQ(keeper->store(), nullptr);
    EXPECT_TRUE(keeper->idle());
    EXPECT_EQ(logged.size(), 1);
    EXPECT_TRUE(asked.isEmpty());
}
