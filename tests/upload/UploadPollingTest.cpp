// Following pushed recordings: deleted sessions, giving up, repush, and the loops' lifetime.

#include "UploadFixture.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString base = u"20251203-090000"_s;

} // namespace

class UploadPollingTest : public UploadFixture {
protected:
    // Pushes one recording and returns its session id.
    QString pushed()
    {
        signIn();
        addRecording(base, 600);
        EXPECT_EQ(flush(), 1);
        return h.manifest().uploaded.at(base);
    }
    void poll()
    {
        const SyncManifest manifest = h.manifest();
        TestSupport::run(queue->refreshVaultStatus(manifest, UploadQueue::pollLimit));
    }
};

TEST_F(UploadPollingTest, ASessionGoneFromTheServiceIsMarkedDeletedAndLeftAlone)
{
    server.setProcessing(60s);
    const QString sid = pushed();
    ASSERT_TRUE(server.deleteSession(sid.toStdString()));

    poll();

    EXPECT_EQ(queue->book().vaultStates().value(base).status, u"deleted"_s);
    EXPECT_TRUE(h.manifest().missingOnServer.count(base));
    EXPECT_TRUE(
        h.logged(base + u" 在Mindvault里已不存在（服务端回 404），不再查它；本地留档不动"_s));
    EXPECT_TRUE(QFileInfo::exists(h.paths().dest() + u'/' + base + u".ogg"_s));
    EXPECT_TRUE(QFileInfo::exists(h.paths().rawPackets() + u'/' + base + u".opus"_s));

    const int queries = server.requestCount("status");
    poll();
    EXPECT_EQ(server.requestCount("status"), queries);
}

TEST_F(UploadPollingTest, EightFailedQueriesStopPollingUntilARepush)
{
    server.setProcessing(60s);
    server.failStep("status", 500, 8);
    pushed(); // its flush asks once already

    for (int i = 0; i < 10; ++i)
        poll();

    EXPECT_EQ(server.requestCount("status"), 8);
    EXPECT_EQ(h.manifest().pollFailures.at(base), 8);
    EXPECT_EQ(
        h.loggedCount(base +
                      u" 连续 8 次查不到状态，先不查了；下次它有新动静（重推/重新登录）会重来"_s),
        1);

    TestSupport::run(queue->repushFailed(base));

    const auto repushed = sessionFor("mac-ble-20251203-090000-r1");
    ASSERT_TRUE(repushed);
    const SyncManifest manifest = h.manifest();
    EXPECT_EQ(manifest.uploaded.at(base), QString::fromStdString(*repushed));
    EXPECT_EQ(manifest.repushRounds.at(base), 1);
    EXPECT_FALSE(manifest.pollFailures.count(base));
    EXPECT_TRUE(h.logged(base + u" 第 1 轮 → 新会话 "_s + QString::fromStdString(*repushed)));
    EXPECT_EQ(engine().lastSummary(), u"重推第 1 轮"_s);
    // Polled again, and this time it answers.
    EXPECT_EQ(server.requestCount("status"), 9);
    EXPECT_EQ(queue->book().vaultStates().value(base).status, u"processing"_s);
}

TEST_F(UploadPollingTest, AFailedSessionIsFinalAndExplainedInTheList)
{
    server.failNextProcessing("PROVIDER_UNAVAILABLE");
    server.setProcessing(0ms);
    pushed();
    poll();

    EXPECT_EQ(queue->book().vaultStates().value(base).status, u"failed"_s);
    const int queries = server.requestCount("status");
    poll();
    EXPECT_EQ(server.requestCount("status"), queries);
    const auto item = std::find_if(engine().items().cbegin(), engine().items().cend(),
                                   [](const RecordingItem& i) { return i.base == base; });
    ASSERT_NE(item, engine().items().cend());
    EXPECT_EQ(item->vaultErrorCode, u"PROVIDER_UNAVAILABLE"_s);
}

TEST_F(UploadPollingTest, StoppingTheEngineEndsThePolling)
{
    server.setProcessing(60s);
    pushed();
    queue->startBackgroundLoops();
    const int before = server.requestCount("status");
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return server.requestCount("status") >= before + 2; }));

    engine().stop();
    TestSupport::spinUntil([] { return false; }, 100ms); // a query already on the wire lands
    const int after = server.requestCount("status");
    TestSupport::spinUntil([] { return false; }, 300ms);
    EXPECT_EQ(server.requestCount("status"), after);
}

TEST_F(UploadPollingTest, AQueueDestroyedMidPushLeavesTheEngineUsable)
{
    signIn();
    addRecording(base, 600);
    server.setDelay(100ms);
    queue->retryUploads();
    ASSERT_TRUE(queue->isFlushing());
    TestSupport::spinUntil([] { return false; }, 50ms);

    queue.reset();
    EXPECT_FALSE(engine().hooks().flushUploadQueue);
    EXPECT_FALSE(engine().hooks().startBackgroundLoops);
    // The push in flight finishes on the wire without touching the queue; a new queue on the
    // same engine is not held up by it.
    queue =
        std::make_unique<UploadQueue>(engine(), fastTiming(), store, &nam, Mindvault::Timing{5, 5});
    queue->install();
    queue->retryUploads();
    EXPECT_TRUE(TestSupport::spinUntil([&] { return !queue->isFlushing(); }));
}

TEST_F(UploadPollingTest, TitlesAndSpeakerCountsAreAskedInSmallBatchesForWhatMayHaveChanged)
{
    pushed(); // a transcript with speakers waiting for confirmation follows shortly
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        poll();
        return queue->book().vaultStates().value(base).transcriptId.has_value();
    }));
    const QString transcript = *queue->book().vaultStates().value(base).transcriptId;
    EXPECT_GT(queue->book().unconfirmedSpeakers().value(transcript), 0);
    EXPECT_FALSE(queue->book().titles().value(transcript).isEmpty());
    // Many more finished recordings, as after months of use.
    for (int i = 0; i < 120; ++i) {
        queue->noteServiceState(
            u"20250101-"_s + QString::number(100000 + i),
            {u"ready"_s, u"tr-archive-"_s + QString::number(1000 + i), std::nullopt});
    }
    const auto asked = [&](size_t from, const char* table) {
        QSet<QString> ids;
        const auto seen = server.requests("rest");
        for (size_t i = from; i < seen.size(); ++i) {
            const QString target = QString::fromStdString(seen[i].target);
            if (!target.startsWith(u"/rest/v1/"_s + QLatin1String(table)))
                continue;
            const QStringList inFilter =
                target.section(u"in.("_s, 1).section(u')', 0, 0).split(u',', Qt::SkipEmptyParts);
            EXPECT_LE(inFilter.size(), Mindvault::idsPerQuery) << target.toStdString();
            for (const QString& id : inFilter)
                ids.insert(id);
        }
        return ids;
    };

    size_t before = server.requests("rest").size();
    poll();
    EXPECT_EQ(asked(before, "transcripts").size(), 120); // the new ones, never the known one
    EXPECT_EQ(asked(before, "speakers").size(), 121);    // the transcript still has open speakers

    // Nothing new: only the counts that can still go down are asked again.
    before = server.requests("rest").size();
    poll();
    EXPECT_TRUE(asked(before, "transcripts").isEmpty());
    EXPECT_EQ(asked(before, "speakers"), QSet<QString>{transcript});
}
