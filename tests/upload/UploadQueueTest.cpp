// Pushing recordings: from a round to a transcript, back-off, revocation, cut recordings and the
// length threshold.

#include "UploadFixture.h"
#include "VirtualPen.h"

#include <QFileInfo>

using namespace Qt::Literals::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString headBase = u"20251203-090000"_s;

} // namespace

TEST_F(UploadFixture, ImportIsPushedByTheRoundAndFollowedToItsTranscript)
{
    signIn();
    h.pen().addFile(headBase + u".opus"_s, VirtualPen::generatePackets(50, 1));

    // The round pushes what it imported itself; the loops only follow it afterwards (started
    // before, their first flush could take the recording and the round would report none).
    h.round();
    queue->startBackgroundLoops();

    const std::optional<std::string> session = sessionFor("mac-ble-20251203-090000");
    ASSERT_TRUE(session);
    const QString sid = QString::fromStdString(*session);
    EXPECT_EQ(h.manifest().uploaded.at(headBase), sid);
    EXPECT_TRUE(queue->book().queue().isEmpty());
    EXPECT_TRUE(engine().lastSummary().contains(u"入Mindvault 1 条"_s));
    // No plan: the title comes from the recording's start.
    EXPECT_EQ(server.session(*session)->value("title", ""), "录音 2025-12-03 09:00");
    EXPECT_TRUE(h.logged(u"录音 2025-12-03 09:00 会话 "_s + sid));

    ASSERT_TRUE(TestSupport::spinUntil([&] {
        const auto state = queue->book().vaultStates().value(headBase);
        return state.status == u"ready"_s && state.transcriptId;
    }));
    const QString transcript = *queue->book().vaultStates().value(headBase).transcriptId;
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return queue->book().titles().contains(transcript); }));
    EXPECT_TRUE(queue->book().unconfirmedSpeakers().contains(transcript));
    const auto item = std::find_if(engine().items().cbegin(), engine().items().cend(),
                                   [](const RecordingItem& i) { return i.base == headBase; });
    ASSERT_NE(item, engine().items().cend());
    EXPECT_TRUE(item->inVault());

    // Binding and cleanup borrow the same connected client; the poller, the round's push and
    // the borrower shared one connection.
    EXPECT_NE(TestSupport::run(queue->provider()()), nullptr);
    EXPECT_EQ(server.requestCount("refresh"), 1);
}

TEST_F(UploadFixture, FailedPushesBackOffAndForcedRetryIgnoresTheWait)
{
    const QDateTime t0(QDate(2025, 12, 3), QTime(12, 0));
    h.freezeClock(t0);
    signIn();
    addRecording(headBase, 600);
    server.failStep("create", 500, 3);

    struct Step {
        double wait; // seconds after the previous flush
        int attempts;
        double nextIn; // seconds from then
    };
    const Step steps[] = {{0, 1, 30}, {30, 2, 60}, {60, 3, 120}};
    for (const Step& s : steps) {
        SCOPED_TRACE(s.attempts);
        if (s.wait > 1) {
            // One second early nothing is sent.
            h.advance(s.wait - 1);
            const int creates = server.requestCount("create");
            EXPECT_EQ(flush(), 0);
            EXPECT_EQ(server.requestCount("create"), creates);
            h.advance(1);
        }
        EXPECT_EQ(flush(), 0);
        const PendingUpload* e = entry(headBase);
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->attempts, s.attempts);
        EXPECT_EQ(e->nextAttempt, engine().now().addSecs(qint64(s.nextIn)));
        EXPECT_TRUE(e->lastError && e->lastError->contains(u"500"_s));
        EXPECT_EQ(
            h.loggedCount(u"推Mindvault失败（第 "_s + QString::number(s.attempts) + u" 次）"_s), 1);
    }

    // The list's retry button does not wait for the back-off.
    queue->retryUploads();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.manifest().uploaded.count(headBase); }));
    EXPECT_EQ(entry(headBase), nullptr);
}

TEST(UploadTimingTest, RetryDelayDoublesUpToTheCap)
{
    const UploadTiming t;
    const std::pair<int, double> cases[] = {{1, 30},   {2, 60},    {3, 120},   {6, 960},
                                            {7, 1800}, {10, 1800}, {500, 1800}};
    for (const auto& [attempts, delay] : cases)
        EXPECT_EQ(t.retryDelay(attempts), delay) << attempts;
}

TEST_F(UploadFixture, RevocationPausesEverythingUntilTheNextSignIn)
{
    signIn();
    ASSERT_NE(TestSupport::run(queue->ensureVault()), nullptr);
    for (const QString& base : {u"20251203-090000"_s, u"20251203-100000"_s, u"20251203-110000"_s})
        addRecording(base, 600);
    // A web sign-out: the second push meets a rejected token and a refused refresh.
    server.revokeRefreshTokens();
    server.failStep("create", 401, 1, 1);

    EXPECT_EQ(flush(), 1);

    const QString banner = u"推送暂停：登录已失效（2 条在等）。在网页或别的设备上点「退出登录」"
                           u"会连带让这里失效，重新登录一次，这些会自动推上去"_s;
    EXPECT_TRUE(engine().needsSignIn());
    EXPECT_EQ(engine().uploadBlocked(), banner);
    EXPECT_EQ(server.requestCount("create"), 2); // the third was never tried
    EXPECT_EQ(h.loggedCount(u"登录已失效（服务端不认这个刷新令牌）"_s), 1);
    for (const PendingUpload& u : queue->book().queue()) {
        EXPECT_EQ(u.attempts, 0);
        EXPECT_FALSE(u.lastError);
        EXPECT_LE(u.nextAttempt, engine().now());
    }

    // While signed out nothing is sent at all.
    const int refreshes = server.requestCount("refresh");
    EXPECT_EQ(flush(true), 0);
    EXPECT_EQ(server.requestCount("refresh"), refreshes);
    EXPECT_EQ(server.requestCount("create"), 2);
    EXPECT_EQ(engine().lastSummary(), u"登录已失效，本次只落盘"_s);
    EXPECT_EQ(engine().uploadBlocked(), banner);

    signIn();
    queue->signedInAgain();
    EXPECT_FALSE(engine().uploadBlocked());
    EXPECT_FALSE(engine().needsSignIn());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.manifest().uploaded.size() == 3; }));
    EXPECT_TRUE(h.logged(u"已重新登录，开始补推积压的录音"_s));
}

TEST_F(UploadFixture, ASignInFromAnotherProcessEndsThePause)
{
    signIn();
    ASSERT_NE(TestSupport::run(queue->ensureVault()), nullptr);
    addRecording(headBase, 600);
    server.revokeRefreshTokens();
    server.expireAccessTokens();
    EXPECT_EQ(flush(), 0);
    ASSERT_TRUE(engine().needsSignIn());

    // The sign-in verb stores a new credential; nobody tells the engine.
    signIn();
    EXPECT_EQ(flush(), 1);
    EXPECT_FALSE(engine().needsSignIn());
    EXPECT_FALSE(engine().uploadBlocked());
}

TEST_F(UploadFixture, ATokenRotatedByAnotherProcessMidRefreshDoesNotPausePushes)
{
    signIn();
    const QString spent = *store.get(u"refresh_token"_s);
    {
        Mindvault other(MindvaultConfig::load(h.paths().mindvaultConfig()), store, &nam);
        TestSupport::run(other.connect()); // `spent` is dead from here on
    }
    const QString current = *store.get(u"refresh_token"_s);
    addRecording(headBase, 600);

    // The queue sends the old token; the status verb stores its rotation meanwhile.
    store.set(spent, u"refresh_token"_s);
    auto connecting = queue->ensureVault();
    store.set(current, u"refresh_token"_s);
    EXPECT_NE(TestSupport::run(std::move(connecting)), nullptr);
    EXPECT_FALSE(engine().needsSignIn());
    EXPECT_EQ(flush(), 1);
}

TEST_F(UploadFixture, WithoutAnyServiceTheBannerCountsTheWaitingRecordings)
{
    // Never signed in: no credential to connect with.
    addRecording(headBase, 600);
    EXPECT_EQ(flush(), 0);
    EXPECT_EQ(engine().uploadBlocked(),
              u"推送暂停：连不上Mindvault（1 条在等）——多半是登录失效，点右上角账号图标重新登录"_s);
    EXPECT_EQ(engine().lastSummary(), u"Mindvault未接通，本次只落盘"_s);
    EXPECT_FALSE(engine().needsSignIn());

    // Once the service answers again the stale banner goes.
    signIn();
    EXPECT_EQ(flush(), 1);
    EXPECT_FALSE(engine().uploadBlocked());
}

TEST_F(UploadFixture, SegmentsCutByThePenGoUpTogetherOnlyWhenTheyJoin)
{
    signIn();
    struct Case {
        int gap; // seconds between the first segment's end and the second's name time
        bool merged;
    };
    for (const Case c : {Case{3, true}, Case{6, false}}) {
        SCOPED_TRACE(c.gap);
        const QDateTime start(QDate(2025, 12, 3 + c.gap), QTime(9, 0));
        const QString first = start.toString(u"yyyyMMdd-HHmmss"_s);
        const QString second = start.addSecs(10700 + c.gap).toString(u"yyyyMMdd-HHmmss"_s);
        addRecording(first, 10700);
        addRecording(second, 600);

        EXPECT_EQ(flush(), c.merged ? 1 : 2);

        const SyncManifest manifest = h.manifest();
        const auto merged = sessionFor("mac-ble-" + first.toStdString() + "-merged2");
        EXPECT_EQ(merged.has_value(), c.merged);
        if (c.merged) {
            const QString sid = QString::fromStdString(*merged);
            EXPECT_EQ(manifest.uploaded.at(first), sid);
            EXPECT_EQ(manifest.uploaded.at(second), sid);
            EXPECT_TRUE(h.logged(u"合并 "_s + first + u" + "_s + second));
            EXPECT_TRUE(h.logged(u"2 段（录音笔 3 小时上限切开的同一场）："_s + first));
            // One Ogg stream of both segments' packets: 11,300 s of 40-byte packets and more.
            EXPECT_GT(*server.storedChunkBytes(*merged, 2), 0);
        } else {
            EXPECT_TRUE(sessionFor("mac-ble-" + first.toStdString()));
            EXPECT_TRUE(sessionFor("mac-ble-" + second.toStdString()));
            EXPECT_NE(manifest.uploaded.at(first), manifest.uploaded.at(second));
        }
        EXPECT_TRUE(queue->book().queue().isEmpty());
    }
}

TEST_F(UploadFixture, ABrokenSegmentSendsTheChainUpOneByOne)
{
    signIn();
    const QString second = u"20251203-115823"_s; // 3 s after the first one's end
    addRecording(headBase, 10700);
    addRecording(second, 600);
    // The second raw file lost its last bytes: not whole packets any more.
    const QString raw = h.paths().rawPackets() + u'/' + second + u".opus"_s;
    QFile file(raw);
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.resize(file.size() - 7);
    file.close();

    EXPECT_EQ(flush(), 2);
    EXPECT_TRUE(h.logged(headBase + u"：有段落缺失或长度不合，按单条推"_s));
    EXPECT_TRUE(sessionFor("mac-ble-20251203-090000"));
    EXPECT_TRUE(sessionFor("mac-ble-20251203-115823"));
}

TEST_F(UploadFixture, ShortRecordingsStayLocalUntilPushedByHand)
{
    setThreshold(300);
    signIn();
    addRecording(headBase, 60);

    EXPECT_EQ(flush(), 0);
    EXPECT_EQ(flush(), 0);
    EXPECT_EQ(server.requestCount("create"), 0);
    EXPECT_EQ(h.loggedCount(u"20251203-090000 只有 60 秒，短于 300 秒门槛，只落盘不推Mindvault"_s),
              1);
    EXPECT_EQ(engine().notes().skippedShort().value(headBase), 60);
    ASSERT_NE(entry(headBase), nullptr);
    EXPECT_EQ(entry(headBase)->attempts, 0);

    TestSupport::run(queue->pushNow(headBase));

    const auto session = sessionFor("mac-ble-20251203-090000");
    ASSERT_TRUE(session);
    EXPECT_EQ(h.manifest().uploaded.at(headBase), QString::fromStdString(*session));
    EXPECT_FALSE(engine().notes().skippedShort().contains(headBase));
    EXPECT_EQ(engine().lastSummary(), u"手动推送"_s);
    EXPECT_EQ(flush(), 0);
    EXPECT_EQ(entry(headBase), nullptr);
}

TEST_F(UploadFixture, AnUnreadableFileIsSkippedWithItsReason)
{
    signIn();
    // No raw packets to measure it by, and an Ogg file nothing can decode.
    TestSupport::writeFile(h.paths().dest() + u'/' + headBase + u".ogg"_s, "not audio at all");

    EXPECT_EQ(flush(), 0);
    EXPECT_TRUE(
        h.logged(headBase +
                 u"，本轮跳过（文件读不出来：可能是网盘还没把它同步到本机，或者没有读取权限）"_s));
    EXPECT_EQ(engine().notes().errors().value(headBase),
              u"本地文件读不出来——可能是网盘还没同步到本机，或者没有读取权限；"
              u"在文件管理器里确认它能打开后会自动再推"_s);
    EXPECT_EQ(server.requestCount("create"), 0);
}
