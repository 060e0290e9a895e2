// Pen deletions end to end: rounds of the engine against the virtual pen, with the stand-in
// service transcribing what was pushed to it.

#include "DeletionBench.h"
#include "cloud/VaultFixture.h"
#include "device/Proto.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

const QString whole = u"20251101-080000"_s;     // transcribed, archived, long past cool-off
const QString shortRaw = u"20251102-080000"_s;  // its raw file lost 40 bytes after import
const QString notPushed = u"20251103-080000"_s; // never went to the service
const QString brokenOgg = u"20251104-080000"_s; // its Ogg file was cut after the headers
const QString recent = u"20251119-080000"_s;    // 26 hours old at the start

class PenCleanupEndToEnd : public VaultFixture {
protected:
    PenCleanupEndToEnd()
    {
        server.setProcessing(100ms);
        signedIn();
        h.freezeClock(DeletionBench::today());
        deletions.install();
    }

    // A recording of real speech; the pen answers to the name with ".opus" too, as pens do.
    void addToPen(const QString& name)
    {
        h.pen().addFile(name, ArchiveFixture::packets(DeletionBench::packetCount), std::nullopt,
                        {name + u".opus"_s, name});
    }

    // Pushes the archived Ogg file as the upload queue would and records it in the ledger.
    QString push(const QString& base)
    {
        const UploadResult pushed = TestSupport::run(vault->upload(
            h.ogg(base), base, 5, u"e2e-"_s + base, u"audio/ogg"_s, DeletionBench::today()));
        SyncManifest m = h.manifest();
        m.uploaded[base] = pushed.sessionId;
        m.save(h.paths().manifest());
        return pushed.sessionId;
    }

    bool transcribed(const QString& sessionId)
    {
        const auto s = server.session(sessionId.toStdString());
        return s && s->value("status", "") == "ready";
    }

    void switchCleanupOn()
    {
        CleanupSettings s = h.engine().cleanup();
        s.deleteAfterSync = true;
        s.coolingDays = 3;
        h.engine().setCleanup(s);
    }

    EngineHarness h;
    PenDeletions deletions{h.engine(), [this]() -> QCoro::Task<Mindvault*> {
                               co_return vault.get();
                           }};
};

} // namespace

TEST_F(PenCleanupEndToEnd, OnlyTranscribedWholeRecordingsPastTheirCoolOffLeaveThePen)
{
    for (const QString& name : {whole, shortRaw, notPushed, brokenOgg, recent})
        addToPen(name);
    h.round();
    ASSERT_EQ(h.manifest().imported.size(), 5u);

    QStringList sessions;
    for (const QString& base : {whole, shortRaw, brokenOgg, recent})
        sessions.append(push(base));
    ASSERT_TRUE(TestSupport::spinUntil([&] {
        return std::all_of(sessions.cbegin(), sessions.cend(),
                           [&](const QString& id) { return transcribed(id); });
    }));

    TestSupport::writeFile(h.paths().rawPackets() + u'/' + shortRaw + u".opus"_s,
                           ArchiveFixture::packets(DeletionBench::packetCount - 1));
    const QString ogg = h.paths().dest() + u'/' + brokenOgg + u".ogg"_s;
    TestSupport::writeFile(ogg, TestSupport::readFile(ogg).left(200));

    switchCleanupOn();
    h.round();

    EXPECT_EQ(h.pen().deletedNames(), QStringList{whole});
    EXPECT_FALSE(h.pen().fileNames().contains(whole));
    EXPECT_EQ(h.pen().fileNames().size(), 4);
    EXPECT_TRUE(h.logged(u"清理：清理 1 条，删除失败 1 条"_s));
    EXPECT_TRUE(h.logged(u"不删 20251102-080000：字节数对不上（本地 9960 / 设备 10000）"_s));
    EXPECT_EQ(h.loggedCount(u"不删 "_s), 1); // waiting out the cool-off or the upload is routine
    EXPECT_EQ(h.loggedCount(u"删除前体检不过，跳过 20251104-080000：ogg "_s), 1);
    EXPECT_EQ(h.manifest().deleted,
              (std::map<QString, QString>{{whole, u"2025-11-20 10:00:00"_s}}));

    // Past its cool-off the recent one goes too, but only once a fresh list shows it gone: a pen
    // that acknowledges the deletion and keeps the file has deleted nothing.
    h.advance(3 * 86400);
    h.pen().faults().undeletable = {recent};
    h.round();
    EXPECT_TRUE(h.pen().fileNames().contains(recent));
    EXPECT_TRUE(h.logged(u"清理：删除失败 2 条"_s));
    EXPECT_FALSE(h.manifest().deleted.contains(recent));

    h.pen().faults().undeletable.clear();
    h.round();
    EXPECT_FALSE(h.pen().fileNames().contains(recent));
    EXPECT_EQ(h.manifest().deleted.at(recent), u"2025-11-23 10:00:00"_s);
    EXPECT_EQ(h.pen().fileNames(), (QStringList{shortRaw, notPushed, brokenOgg}));
}

TEST_F(PenCleanupEndToEnd, QueuedDeletionWaitsForAnIdlePenAndACompleteList)
{
    addToPen(notPushed);
    h.round();
    h.pen().setRecordStatus(1);

    // Queueing asks for a round at once; the pen is recording, so the request waits.
    deletions.requestDeviceDelete(notPushed);
    ASSERT_TRUE(h.engine().isSyncing());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !h.engine().isSyncing(); }));
    EXPECT_TRUE(h.logged(u"设备不在「未录音」状态，本轮不执行人工删除"_s));

    h.pen().setRecordStatus(2);
    h.pen().faults().unanswered = {u"list"_s};
    h.round();
    EXPECT_TRUE(h.logged(u"文件列表这轮不完整，人工删除队列原样留着（1 条）"_s));
    EXPECT_TRUE(h.pen().fileNames().contains(notPushed));
    EXPECT_TRUE(deletions.queued().contains(notPushed));

    h.pen().faults().unanswered.clear();
    h.round();
    EXPECT_TRUE(h.pen().fileNames().isEmpty());
    EXPECT_TRUE(h.logged(u"已按你的要求从设备删除 20251103-080000：20251103-080000.opus → 应答 "
                         u"0，重拉列表已消失"_s));
    EXPECT_TRUE(deletions.queued().isEmpty());
    EXPECT_TRUE(h.manifest().deleted.contains(notPushed));
    EXPECT_TRUE(h.engine().lastSummary().contains(u"按你的要求删了 1 条"_s));
}

// The user's queue runs first in a round; the automatic cleanup that follows works on the list
// read before it and must not delete (or count) the same file again.
TEST_F(PenCleanupEndToEnd, AFileTheQueueDeletedIsNotCleanedAgainInTheSameRound)
{
    addToPen(whole);
    h.round();
    const QString session = push(whole);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return transcribed(session); }));
    switchCleanupOn();
    deletions.enqueue({whole});
    h.pen().clearRequests();

    h.round();

    EXPECT_TRUE(h.pen().fileNames().isEmpty());
    const QList<VirtualPen::Request> requests = h.pen().requests();
    EXPECT_EQ(std::count_if(requests.cbegin(), requests.cend(),
                            [](const VirtualPen::Request& r) {
                                return r.type == Proto::T::file && r.cmd == Proto::FileCmd::delOne;
                            }),
              1);
    EXPECT_EQ(h.engine().lastSummary(), u"跳过 1 条已导，按你的要求删了 1 条"_s);
    EXPECT_EQ(h.loggedCount(u"清理："_s), 0);
}
