#include "cleanup/ArchiveAudit.h"

#include "cleanup/ArchiveAuditCommand.h"
#include "cleanup/ArchiveFixture.h"
#include "sync/SyncManifest.h"

#include <QTextStream>
#include <functional>
#include <gtest/gtest.h>

using ArchiveAudit::Item;
using ArchiveAudit::Status;

namespace {

const QString base = QStringLiteral("20240501-093000");
const QString R = QStringLiteral("裸包完好，重新封装即可，不用重导");

struct Expect {
    Expect(Status s, QString d, std::optional<qint64> raw = {}, std::optional<qint64> ogg = {},
           bool intact = false, std::optional<double> decoded = {})
        : status(s), detail(std::move(d)), rawBytes(raw), oggBytes(ogg), rawIntact(intact),
          decodedSeconds(decoded)
    {}
    Status status;
    QString detail;
    std::optional<qint64> rawBytes;
    std::optional<qint64> oggBytes;
    bool rawIntact;
    std::optional<double> decodedSeconds;
};

struct Case {
    Case(const char* w, std::function<void(const ArchiveFixture&)> s, Expect e, qint64 bytes = 6000,
         qint64 seconds = 3, std::optional<qint64> r = {})
        : what(w), setUp(std::move(s)), expect(std::move(e)), expectedBytes(bytes),
          expectedSeconds(seconds), recorded(r)
    {}
    const char* what;
    std::function<void(const ArchiveFixture&)> setUp;
    Expect expect;
    qint64 expectedBytes; // 6000 bytes: 150 packets
    qint64 expectedSeconds;
    std::optional<qint64> recorded;
};

// The Ogg file of 150 packets: its size, and its length as the decoder reports it (pre-skip
// of 312 samples at 48 kHz removed).
const qint64 oggOf150 = ArchiveFixture::ogg(150).size();
constexpr double decodedOf150 = (150 * 320 - 104) / 16000.0;

} // namespace

TEST(ArchiveAudit, FindsWhatIsWrongWithOneRecording)
{
    const auto rawOnly = [](qint64 bytes) {
        return [bytes](const ArchiveFixture& f) {
            f.write(f.rawPath(base),
                    ArchiveFixture::packets(bytes / 40) + QByteArray(bytes % 40, 'z'));
        };
    };
    const auto rawAndOgg = [](qint64 bytes, const QByteArray& ogg) {
        return [bytes, ogg](const ArchiveFixture& f) {
            f.write(f.rawPath(base),
                    ArchiveFixture::packets(bytes / 40) + QByteArray(bytes % 40, 'z'));
            f.write(f.oggPath(base), ogg);
        };
    };
    const Case cases[] = {
        {"the ledger disagrees with itself",
         [](const ArchiveFixture& f) { f.record(base, 150); },
         {Status::needsReview,
          QStringLiteral(
              "清单自身对不上：键里记 6000 字节、条目里写 6040 字节，先弄清哪个是真的再体检")},
         6000,
         3,
         6040},
        {"raw file the file system cannot answer for",
         [](const ArchiveFixture& f) {
             f.makeUnstatable(f.rawPath(base));
             f.write(f.oggPath(base), ArchiveFixture::ogg(150));
         },
         {Status::needsReview,
          QStringLiteral("裸包读不到（属性读不到），可能是权限或磁盘问题，需要人看一眼")}},
        {"a folder where the raw file should be",
         [](const ArchiveFixture& f) { f.makeFolder(f.rawPath(base)); },
         {Status::needsReview,
          QStringLiteral("裸包读不到（不是普通文件），可能是权限或磁盘问题，需要人看一眼")}},
        {"raw file evicted, Ogg file local",
         [](const ArchiveFixture& f) {
             f.record(base, 150);
             f.evict(f.rawPath(base));
         },
         {Status::notDownloaded,
          QStringLiteral(
              "裸包被 iCloud「优化存储」挪到云上、本机没有实体——文件本身还在，下载回来即可，"
              "不用重导设备")}},
        {"both evicted",
         [](const ArchiveFixture& f) {
             f.evict(f.rawPath(base));
             f.evict(f.oggPath(base));
         },
         {Status::notDownloaded,
          QStringLiteral("裸包被 iCloud「优化存储」挪到云上、本机没有实体（ogg 也在云上）——"
                         "文件本身还在，下载回来即可，不用重导设备")}},
        {"raw file gone, Ogg file left",
         [](const ArchiveFixture& f) { f.write(f.oggPath(base), ArchiveFixture::ogg(150)); },
         {Status::missing,
          QStringLiteral("裸包缺失，只剩封装好的 ogg（") + QString::number(oggOf150) +
              QStringLiteral(" 字节）：还能播，但设备原始码流没有了，重封装这条路断了")}},
        {"raw file gone, Ogg file unreadable",
         [](const ArchiveFixture& f) { f.makeFolder(f.oggPath(base)); },
         {Status::needsReview,
          QStringLiteral("裸包不在本机，ogg 也读不到（不是普通文件），需要人看一眼")}},
        {"both gone",
         [](const ArchiveFixture&) {},
         {Status::missing,
          QStringLiteral(
              "裸包和 ogg 在本机都没有（清单记 6000 字节 / 3 秒）——Mindvault 30 天后会清原始音频，"
              "这条可能已经彻底没了，尽快去Mindvault确认")}},
        {"raw file gone, Ogg file evicted: not a loss yet",
         [](const ArchiveFixture& f) { f.evict(f.oggPath(base)); },
         {Status::notDownloaded,
          QStringLiteral(
              "裸包不在本机，ogg 是 iCloud 占位——先把 ogg 下载回来再判断裸包是不是真丢了")}},
        {"raw file short of the ledger",
         rawAndOgg(5960, ArchiveFixture::ogg(149)),
         {Status::sizeMismatch,
          QStringLiteral("裸包 5960 字节，清单记 6000 字节，少了 40 字节——传输没传完或文件被动过"),
          5960, ArchiveFixture::ogg(149).size()}},
        {"raw file longer than the ledger, Ogg file gone",
         rawOnly(6040),
         {Status::sizeMismatch,
          QStringLiteral("裸包 6040 字节，清单记 6000 字节，多了 40 字节——传输没传完或文件被动过"),
          6040}},
        {"truncated raw file",
         rawAndOgg(6010, ArchiveFixture::ogg(150)),
         {Status::damaged,
          QStringLiteral(
              "裸包 6010 字节不是 40 的整数倍（尾部多出 10 字节），设备吐的是 40B 定长包，"
              "说明文件被截断或损坏"),
          6010, oggOf150},
         6010},
        {"raw length disagrees with the ledger's seconds",
         [](const ArchiveFixture& f) { f.record(base, 150); },
         {Status::needsReview,
          QStringLiteral("裸包 6000 字节算出 3.0s，清单却记 6s，清单和文件对不上，需要人看一眼"),
          6000, oggOf150, true},
         6000,
         6},
        {"Ogg file gone",
         rawOnly(6000),
         {Status::needsReview, QStringLiteral("ogg 不在本机；") + R, 6000, std::nullopt, true}},
        {"Ogg file evicted",
         [](const ArchiveFixture& f) {
             f.record(base, 150);
             f.evict(f.oggPath(base));
         },
         {Status::notDownloaded,
          QStringLiteral("裸包完好，但 ogg 被 iCloud 挪到云上、本机没有实体——下载回来即可，"
                         "实在懒得等也可以直接从裸包重封装"),
          6000, std::nullopt, true}},
        {"Ogg file unreadable",
         [](const ArchiveFixture& f) {
             f.write(f.rawPath(base), ArchiveFixture::packets(150));
             f.makeUnstatable(f.oggPath(base));
         },
         {Status::needsReview, QStringLiteral("ogg 读不到（属性读不到）；") + R, 6000, std::nullopt,
          true}},
        {"zero-byte Ogg file",
         rawAndOgg(6000, QByteArray()),
         {Status::damaged,
          QStringLiteral("ogg 是 0 字节（封装中途崩过，这种情况真实发生过）；") + R, 6000, 0,
          true}},
        {"Ogg file that is not OggS",
         rawAndOgg(6000, QByteArray("RIFF") + QByteArray(500, '\0')),
         {Status::damaged, QStringLiteral("ogg 首四字节不是 OggS，这不是一个 Ogg 文件；") + R, 6000,
          504, true}},
        {"OggS file the decoder refuses",
         rawAndOgg(6000, ArchiveFixture::ogg(150).left(60)),
         {Status::needsReview,
          QStringLiteral("ogg 头是对的但解码器打不开，可能是封装出了问题；") + R, 6000, 60, true}},
        {"Ogg file 2.02 s longer than the ledger",
         rawAndOgg(6000, ArchiveFixture::oggWithoutPreSkip(251)),
         {Status::needsReview, QStringLiteral("ogg 解出 5.0s，清单记 3s，差 2.0s 超过容差；") + R,
          6000, ArchiveFixture::oggWithoutPreSkip(251).size(), true, 5.02}},
        {"Ogg file exactly 2 s longer than the ledger",
         rawAndOgg(6000, ArchiveFixture::oggWithoutPreSkip(250)),
         {Status::ok, QStringLiteral("完好（裸包 6000B ≈ 3.0s，ogg 可解码 5.0s）"), 6000,
          ArchiveFixture::oggWithoutPreSkip(250).size(), true, 5.0}},
        {"a file downloaded again next to its stale placeholder is local",
         [](const ArchiveFixture& f) {
             f.record(base, 150);
             f.write(f.paths.rawPackets() + u'/' + u'.' + base + QStringLiteral(".opus.icloud"),
                     "x");
         },
         {Status::ok, QStringLiteral("完好（裸包 6000B ≈ 3.0s，ogg 可解码 3.0s）"), 6000, oggOf150,
          true, decodedOf150}},
        {"a whole recording",
         [](const ArchiveFixture& f) { f.record(base, 150); },
         {Status::ok, QStringLiteral("完好（裸包 6000B ≈ 3.0s，ogg 可解码 3.0s）"), 6000, oggOf150,
          true, decodedOf150},
         6000,
         3,
         6000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ArchiveFixture f;
        c.setUp(f);
        const Item item =
            ArchiveAudit::audit(base, c.expectedBytes, c.expectedSeconds, std::nullopt, c.recorded,
                                f.paths.dest(), f.paths.rawPackets());
        EXPECT_EQ(item.base, base);
        EXPECT_EQ(item.expectedBytes, c.expectedBytes);
        EXPECT_EQ(item.expectedSeconds, c.expectedSeconds);
        EXPECT_EQ(ArchiveAudit::rawValue(item.status), ArchiveAudit::rawValue(c.expect.status));
        EXPECT_EQ(item.detail, c.expect.detail);
        EXPECT_EQ(item.rawBytes, c.expect.rawBytes);
        EXPECT_EQ(item.oggBytes, c.expect.oggBytes);
        EXPECT_EQ(item.rawIntact, c.expect.rawIntact);
        ASSERT_EQ(item.decodedSeconds.has_value(), c.expect.decodedSeconds.has_value());
        if (item.decodedSeconds) {
            EXPECT_NEAR(*item.decodedSeconds, *c.expect.decodedSeconds, 1e-9);
        }
    }
}

TEST(ArchiveAudit, ParsesLedgerKeys)
{
    using ArchiveAudit::KeyParts;
    const struct {
        const char* key;
        std::optional<KeyParts> parts;
    } cases[] = {
        {"20240501-093000.opus|75|150000", KeyParts{base, 75, 150000}},
        {"20240501-093000.|0|0", KeyParts{base, 0, 0}},
        {"REC.OGG|3|120", KeyParts{QStringLiteral("REC"), 3, 120}},
        {"20240501-093000.opus|75", std::nullopt},
        {"20240501-093000.opus|75|150000|x", std::nullopt},
        {"20240501-093000.opus||150000", std::nullopt},
        {"20240501-093000.opus|-1|150000", std::nullopt},
        {"20240501-093000.opus|75|1e5", std::nullopt},
        {"20240501-093000.opus|٧٥|150000", std::nullopt}, // digits, but not decimal ASCII
        {".opus|75|150000", std::nullopt},
        {"20240501-093000.opus", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ArchiveAudit::parseKey(QString::fromUtf8(c.key)), c.parts) << c.key;
    }
}

TEST(ArchiveAudit, AuditsTheWholeLedgerAndFindsRawFilesItDoesNotAccountFor)
{
    ArchiveFixture f;
    SyncManifest m;
    // A whole recording whose Ogg file the ledger names differently.
    f.write(f.rawPath(QStringLiteral("20240502-080000")), ArchiveFixture::packets(100));
    f.write(f.paths.dest() + QStringLiteral("/renamed.ogg"), ArchiveFixture::ogg(100));
    m.imported[QStringLiteral("20240502-080000.opus|2|4000")] = {
        QStringLiteral("renamed.ogg"), 4000, {}};
    // A recording whose files are both gone; it sorts first.
    m.imported[QStringLiteral("20240501-093000.opus|3|6000")] = {QString(), 6000, {}};
    // A key the audit cannot read: its raw file then counts as unaccounted for.
    m.imported[QStringLiteral("20240503-120000.opus")] = {QString(), 80, {}};
    f.write(f.rawPath(QStringLiteral("20240503-120000")), ArchiveFixture::packets(2));
    // Raw files outside the ledger; partial downloads are not raw files.
    f.write(f.rawPath(QStringLiteral("20240504-070000")), ArchiveFixture::packets(2));
    f.write(f.paths.rawPackets() + QStringLiteral("/20240505-070000.opus.part"), "x");
    m.save(f.paths.manifest());

    const auto report = ArchiveAudit::run(f.paths);
    ASSERT_EQ(report.items.size(), 3);
    EXPECT_EQ(report.items[0].base, base);
    EXPECT_EQ(report.items[0].status, Status::missing);
    EXPECT_EQ(report.items[1].base, QStringLiteral("20240502-080000"));
    EXPECT_EQ(report.items[1].status, Status::ok);
    EXPECT_EQ(report.items[2].base, QStringLiteral("20240503-120000.opus"));
    EXPECT_EQ(report.items[2].status, Status::needsReview);
    EXPECT_EQ(report.items[2].detail,
              QStringLiteral("清单里这条的键格式不认识（20240503-120000.opus），没法体检"));
    EXPECT_EQ(report.items[2].expectedBytes, 80);
    EXPECT_EQ(report.unlistedRawPackets,
              QStringList({QStringLiteral("20240503-120000"), QStringLiteral("20240504-070000")}));

    EXPECT_EQ(report.total(), 3);
    EXPECT_EQ(report.healthy(), 1);
    EXPECT_EQ(report.problems(), 2);
    const QList<std::pair<Status, int>> counts{
        {Status::ok, 1}, {Status::missing, 1}, {Status::needsReview, 1}};
    EXPECT_EQ(report.counts(), counts);
    EXPECT_EQ(report.summary(), QStringLiteral("3 条：完好 1，缺失 1，需要人看一眼 1"));

    QString text;
    QTextStream out(&text);
    EXPECT_EQ(ArchiveAuditCommand::run(f.paths, out), 2);
    const QStringList lines = text.split(u'\n');
    ASSERT_EQ(lines.size(), 7); // summary, three items, two unaccounted, final newline
    EXPECT_EQ(lines[0], report.summary());
    EXPECT_EQ(lines[2], QStringLiteral("20240502-080000\t完好\t") + report.items[1].detail);
    EXPECT_EQ(lines[5], QStringLiteral("未记账\t20240504-070000"));
    EXPECT_EQ(lines[6], QString());
}

TEST(ArchiveAudit, AnEmptyOrUnreadableLedgerHasNothingToAudit)
{
    ArchiveFixture f;
    f.write(f.rawPath(QStringLiteral("20240504-070000")), ArchiveFixture::packets(2));
    for (const QByteArray& ledger : {QByteArray("{}"), QByteArray("not json")}) {
        f.write(f.paths.manifest(), ledger);
        const auto report = ArchiveAudit::run(f.paths);
        EXPECT_TRUE(report.items.isEmpty());
        EXPECT_EQ(report.summary(), QStringLiteral("清单里没有任何录音，无可体检"));
        EXPECT_EQ(report.unlistedRawPackets, QStringList{QStringLiteral("20240504-070000")});
    }
    QFile::remove(f.rawPath(QStringLiteral("20240504-070000")));
    EXPECT_EQ(ArchiveAuditCommand::exitStatus(ArchiveAudit::run(f.paths)), 0);
}

TEST(ArchiveAudit, AHealthyArchiveExitsWithZero)
{
    ArchiveFixture f;
    f.record(base, 150);
    SyncManifest m;
    m.imported[base + QStringLiteral(".opus|3|6000")] = {base + QStringLiteral(".ogg"), 6000, {}};
    m.save(f.paths.manifest());

    QString text;
    QTextStream out(&text);
    EXPECT_EQ(ArchiveAuditCommand::run(f.paths, out), 0);
    EXPECT_EQ(text, QStringLiteral("1 条：完好 1\n") + base +
                        QStringLiteral("\t完好\t完好（裸包 6000B ≈ 3.0s，ogg 可解码 3.0s）\n"));
}

TEST(ArchiveAudit, ARecordingArchivedUnderANumberedBaseIsFoundByItsLedgerFile)
{
    // The pen reused the name: the second recording was archived as base + "-2".
    ArchiveFixture f;
    const QString second = base + QStringLiteral("-2");
    f.record(base, 150);
    f.record(second, 100);
    SyncManifest m;
    m.imported[base + QStringLiteral(".opus|3|6000")] = {base + QStringLiteral(".ogg"), 6000, {}};
    m.imported[base + QStringLiteral(".opus|2|4000")] = {second + QStringLiteral(".ogg"), 4000, {}};

    const auto report = ArchiveAudit::run(f.paths.dest(), f.paths.rawPackets(), m);

    ASSERT_EQ(report.total(), 2);
    EXPECT_EQ(report.healthy(), 2) << report.items[0].detail.toStdString();
    EXPECT_EQ(report.items[1].base, second);
    EXPECT_TRUE(report.unlistedRawPackets.isEmpty());
}
