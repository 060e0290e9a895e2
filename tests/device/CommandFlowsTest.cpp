#include "DeviceTestSupport.h"

#include <gtest/gtest.h>

using namespace DeviceTest;

namespace {

const char* kInfoPen = R"({
  "recordStatus": 2, "currentName": "", "battery": 80, "firmware": "1.0.3", "gain": 2,
  "capacity": { "remain": 3000, "total": 4000 }, "files": [] })";

// 20 000 bytes of content: enough for stalls and drops part-way.
const char* kFilePen = R"({
  "files": [ { "name": "20251201-101500.opus", "generate": { "packets": 500, "seed": 7 } },
             { "name": "empty.opus", "generate": { "packets": 0 } } ] })";

const QString kName = QStringLiteral("20251201-101500.opus");

FileEntry listed(const BLEClient::FileList& list, const QString& name)
{
    for (const FileEntry& e : list.entries) {
        if (e.name == name) {
            return e;
        }
    }
    ADD_FAILURE() << "not listed: " << name.toStdString();
    return {};
}

} // namespace

TEST(CommandFlows, InformationReads)
{
    Session s(kInfoPen);
    BLEClient& c = *s.client;
    EXPECT_EQ(run(c.battery(1)), 80);
    EXPECT_EQ(run(c.capacity(1)), (BLEClient::Capacity{3000, 4000}));
    EXPECT_EQ(run(c.firmware(1)), QStringLiteral("1.0.3"));
    EXPECT_EQ(run(c.gain(1)), 2);
    EXPECT_EQ(run(c.recordStatus(1)), 2);
    EXPECT_FALSE(run(c.currentFilename(1)).has_value()); // empty name: nothing being recorded

    s.pen->setCurrentName(QStringLiteral("20251201-120000.opus"));
    s.pen->setRecordStatus(std::nullopt); // the pen ignores the status request
    EXPECT_EQ(run(c.currentFilename(1)), QStringLiteral("20251201-120000.opus"));
    EXPECT_FALSE(run(c.recordStatus(0.1)).has_value());

    s.pen->faults().unanswered = QStringList{QStringLiteral("battery"), QStringLiteral("firmware")};
    EXPECT_FALSE(run(c.battery(0.1)).has_value());
    EXPECT_FALSE(run(c.firmware(0.1)).has_value());

    const QDateTime when(QDate(2026, 12, 10), QTime(4, 30, 15));
    c.setTime(when);
    TestSupport::spinUntil([&] { return s.pen->lastSetTime().has_value(); });
    EXPECT_EQ(s.pen->lastSetTime(), when);
}

TEST(CommandFlows, ReadsWithoutALinkThrowNotConnected)
{
    auto pen = DeviceTest::pen(kInfoPen);
    BLEClient client(*pen, fastTiming());
    EXPECT_THROW(run(client.battery(1)), BLEError);
    EXPECT_THROW(run(client.fileList()), BLEError);
    EXPECT_THROW(client.setTime(QDateTime::currentDateTime()), BLEError);
    const DownloadResult r = run(client.download({kName}, std::nullopt, 1));
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(r.tried, QStringList{kName});
}

TEST(CommandFlows, FileListCollectsEveryChunkUntilDone)
{
    Session s(R"({"files": []})");
    for (int i = 0; i < 20; ++i) {
        s.pen->addFile(QStringLiteral("f%1.opus").arg(i), QByteArray(4000 + i, 'a'));
    }
    const auto list = run(s.client->fileList(0.5, 5));
    EXPECT_TRUE(list.gotDone);
    ASSERT_EQ(list.entries.size(), 20);
    EXPECT_EQ(list.entries[19].name, QStringLiteral("f19.opus"));
    EXPECT_EQ(list.entries[19].size, 4019u);
    EXPECT_EQ(list.entries[19].time, 2u);

    s.pen->faults().unanswered = QStringList{QStringLiteral("list")};
    QElapsedTimer t;
    t.start();
    const auto silent = run(s.client->fileList(0.1, 0.3));
    EXPECT_FALSE(silent.gotDone);
    EXPECT_TRUE(silent.entries.isEmpty());
    EXPECT_GE(secondsOf(t), 0.29);
}

TEST(CommandFlows, DownloadWholeAndFromAResumeOffset)
{
    Session s(kFilePen);
    const QByteArray content = *s.pen->fileContent(kName);
    ASSERT_EQ(content.size(), 20000);

    qint64 lastProgress = 0;
    const DownloadResult whole = run(s.client->download({kName}, 20000, 1, std::nullopt, {},
                                                        [&](qint64 n, std::optional<uint32_t> of) {
                                                            lastProgress = n;
                                                            EXPECT_EQ(of, 20000u);
                                                        }));
    EXPECT_TRUE(whole.ok());
    EXPECT_EQ(whole.data, content);
    EXPECT_EQ(whole.filename, kName);
    EXPECT_EQ(whole.tried, QStringList{kName});
    EXPECT_EQ(lastProgress, 20000);
    EXPECT_GT(whole.kbps(), 0);

    s.pen->clearRequests();
    const DownloadResult resumed =
        run(s.client->download({kName}, 20000, 1, std::nullopt, content.left(4000)));
    EXPECT_TRUE(resumed.ok());
    EXPECT_EQ(resumed.data, content);
    ASSERT_EQ(s.pen->requests().size(), 1);
    EXPECT_EQ(s.pen->requests()[0].offset, 4000u);

    // Offset beyond the file: code 2 ends the flow at once.
    const DownloadResult tooFar = run(s.client->download({kName, QStringLiteral("x.opus")}, 20000,
                                                         1, std::nullopt, QByteArray(30000, 'z')));
    EXPECT_EQ(tooFar.endCode, 2);
    EXPECT_FALSE(tooFar.ok());
    EXPECT_EQ(tooFar.tried.size(), 1);

    // Code 0 without content is not a success.
    const DownloadResult empty = run(s.client->download({QStringLiteral("empty.opus")}, 0, 1));
    EXPECT_EQ(empty.endCode, 0);
    EXPECT_FALSE(empty.ok());
}

TEST(CommandFlows, DownloadTriesCandidatesAfterFileNotFound)
{
    Session s(R"({"files": [
        { "name": "20251201-093000", "accepts": ["20251201-093000.wav"],
          "generate": { "packets": 10 } } ]})");
    FileEntry e;
    e.name = QStringLiteral("20251201-093000");
    const DownloadResult r = run(s.client->download(e.candidates(), 400, 1));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.filename, QStringLiteral("20251201-093000.wav"));
    EXPECT_EQ(r.tried, (QStringList{QStringLiteral("20251201-093000.opus"),
                                    QStringLiteral("20251201-093000.wav")}));

    // Resuming from bytes held: "no such file" still moves on to the next name.
    const QByteArray content = *s.pen->fileContent(e.name);
    s.pen->clearRequests();
    const DownloadResult resumed =
        run(s.client->download(e.candidates(), 400, 1, std::nullopt, content.left(200)));
    EXPECT_TRUE(resumed.ok());
    EXPECT_EQ(resumed.data, content);
    EXPECT_EQ(resumed.tried, r.tried);
    ASSERT_EQ(s.pen->requests().size(), 2);
    EXPECT_EQ(s.pen->requests()[1].offset, 200u);

    s.pen->faults().unknownNames = e.candidates();
    const DownloadResult none = run(s.client->download(e.candidates(), 400, 1));
    EXPECT_FALSE(none.ok());
    EXPECT_EQ(none.endCode, 1);
    EXPECT_EQ(none.tried, e.candidates());
    EXPECT_EQ(none.filename, e.candidates().last());
}

TEST(CommandFlows, DownloadResumesAStallAndKeepsTheBytes)
{
    Session s(R"({"files": [ { "name": "a.opus", "generate": { "packets": 500, "seed": 7 } } ],
                  "faults": { "stallAfterBytes": [8000] } })");
    const QByteArray content = *s.pen->fileContent(QStringLiteral("a.opus"));
    const DownloadResult r = run(s.client->download({QStringLiteral("a.opus")}, 20000, 0.15));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.data, content);
    EXPECT_EQ(r.resumes, 1);
    ASSERT_EQ(s.pen->requests().size(), 2);
    EXPECT_EQ(s.pen->requests()[1].offset, 8000u);
}

TEST(CommandFlows, StallWithoutResumesLeftFinishesWithWhatCame)
{
    Session s(R"({"files": [ { "name": "a.opus", "generate": { "packets": 500 } } ],
                  "faults": { "stallAfterBytes": [8000], "unanswered": [] } })");
    const DownloadResult r = run(s.client->download({QStringLiteral("a.opus")}, 20000, 0.15, 0));
    EXPECT_EQ(r.data.size(), 8000);
    EXPECT_FALSE(r.endCode.has_value());
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(r.disconnected);

    // Nothing received: no resume, whatever the allowance.
    s.pen->faults().unanswered = QStringList{QStringLiteral("import")};
    const DownloadResult silent = run(s.client->download({QStringLiteral("a.opus")}, 20000, 0.1));
    EXPECT_TRUE(silent.data.isEmpty());
    EXPECT_EQ(silent.resumes, 0);
}

TEST(CommandFlows, DropMidTransferReturnsAtOnceWithTheBytesHeld)
{
    Session s(R"({"files": [ { "name": "a.opus", "generate": { "packets": 500 } } ],
                  "faults": { "dropAfterBytes": [8000] } })");
    bool dropped = false;
    s.client->setOnDisconnect([&](const auto&) { dropped = true; });
    QElapsedTimer t;
    t.start();
    const DownloadResult r = run(s.client->download({QStringLiteral("a.opus")}, 20000, 10));
    EXPECT_LT(secondsOf(t), 2.0); // not the 10 s idle time-out
    EXPECT_TRUE(r.disconnected);
    EXPECT_EQ(r.data.size(), 8000);
    EXPECT_TRUE(dropped);

    // The next connection is not in the fault list: it resumes to the end.
    run(s.client->connect(sightingOf(*s.pen)));
    const DownloadResult rest =
        run(s.client->download({QStringLiteral("a.opus")}, 20000, 1, std::nullopt, r.data));
    EXPECT_TRUE(rest.ok());
    EXPECT_EQ(rest.data, *s.pen->fileContent(QStringLiteral("a.opus")));
}

TEST(CommandFlows, DefaultResumeAllowanceGrowsWithTheSize)
{
    EXPECT_EQ(BLEClient::defaultMaxResumes(10485760u), 20);
    EXPECT_EQ(BLEClient::defaultMaxResumes(3u * 1048576u), 8);
    EXPECT_EQ(BLEClient::defaultMaxResumes(std::nullopt), 8);
}

TEST(CommandFlows, DeleteIsVerifiedByAFreshList)
{
    Session s(R"({"files": [ { "name": "a.opus", "generate": { "packets": 10 } },
                             { "name": "b.opus", "generate": { "packets": 20 } } ]})");
    const auto list = run(s.client->fileList());
    const auto gone = run(s.client->deleteOne(listed(list, QStringLiteral("a.opus"))));
    EXPECT_TRUE(gone.deleted);
    EXPECT_EQ(gone.text, QStringLiteral("a.opus → 应答 0，重拉列表已消失"));
    EXPECT_EQ(s.pen->deletedNames(), QStringList{QStringLiteral("a.opus")});

    // The pen acknowledges but keeps the file: every candidate is tried and reported.
    s.pen->faults().undeletable = QStringList{QStringLiteral("b.opus")};
    const auto kept = run(s.client->deleteOne(listed(list, QStringLiteral("b.opus"))));
    EXPECT_FALSE(kept.deleted);
    EXPECT_EQ(kept.text, QStringLiteral("全部候选名都被拒绝（b.opus:应答 0；b.opus.wav:应答 1）"));
    EXPECT_EQ(s.pen->fileNames(), QStringList{QStringLiteral("b.opus")});

    // A re-list that never completes proves nothing: no deletion is claimed.
    s.pen->faults().undeletable.clear();
    s.pen->faults().unanswered = QStringList{QStringLiteral("list")};
    const auto unverified = run(s.client->deleteOne(listed(list, QStringLiteral("b.opus"))));
    EXPECT_FALSE(unverified.deleted);
}

TEST(CommandFlows, ANameTooLongToRequestIsPassedOverForTheShorterOnes)
{
    // Listed with 20 bytes; "+.opus" makes 25, one more than the request's name field holds.
    const QString name = QStringLiteral("ABCDEFGHIJKLMNOPQRST");
    Session s(
        R"({"files": [ { "name": "ABCDEFGHIJKLMNOPQRST", "generate": { "packets": 10 } } ]})");
    const FileEntry e = listed(run(s.client->fileList()), name);
    ASSERT_EQ(e.candidates().first(), name + QStringLiteral(".opus"));

    const DownloadResult r = run(s.client->download(e.candidates(), 400, 1));
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.filename, name);
    EXPECT_EQ(r.tried, (QStringList{name + QStringLiteral(".wav"), name}));

    const auto gone = run(s.client->deleteOne(e));
    EXPECT_TRUE(gone.deleted);
    EXPECT_EQ(gone.text, name + QStringLiteral(" → 应答 0，重拉列表已消失"));
}

TEST(CommandFlows, DeleteRefusesAnOverlongNameBeforeSending)
{
    Session s(R"({"files": []})");
    FileEntry e;
    e.name = QStringLiteral("一二三四五六七八九");
    s.pen->clearRequests();
    EXPECT_THROW(run(s.client->deleteOne(e)), ProtoError);
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(20));
    EXPECT_TRUE(s.pen->requests().isEmpty());

    // No name fits: nothing is requested.
    const DownloadResult r = run(s.client->download(e.candidates(), std::nullopt, 1));
    EXPECT_TRUE(r.disconnected);
    EXPECT_TRUE(r.tried.isEmpty());
    EXPECT_TRUE(s.pen->requests().isEmpty());
}

TEST(CommandFlows, SmallMtuThrottlingAndDamagedFrames)
{
    Session s(R"({"mtu": 23, "bytesPerSecond": 20000,
                  "files": [ { "name": "a.opus", "generate": { "packets": 100 } } ]})");
    const DownloadResult r = run(s.client->download({QStringLiteral("a.opus")}, 4000, 1));
    EXPECT_TRUE(r.ok());
    EXPECT_GE(r.seconds, 0.15);            // 4000 bytes at 20 000 B/s
    EXPECT_EQ(s.pen->oversizeWrites(), 0); // the 36-byte request went out in 20-byte writes

    s.pen->faults().crcDamageEvery = 1;
    EXPECT_FALSE(run(s.client->battery(0.1)).has_value());
    EXPECT_EQ(s.client->parserStats().left(12), QStringLiteral("AE22: CRC错1 "));
}
