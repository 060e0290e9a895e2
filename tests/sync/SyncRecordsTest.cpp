#include "support/TestSupport.h"
#include "sync/CleanupSettings.h"
#include "sync/Describe.h"
#include "sync/DeviceInfo.h"
#include "sync/FileError.h"
#include "sync/RecordingItem.h"
#include "sync/SyncPaths.h"
#include "sync/SyncPhase.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>
#include <system_error>

using namespace Qt::StringLiterals;

TEST(DeviceInfo, NearbyWhileConnectedOrSeenWithin45Seconds)
{
    const QDateTime seen = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000);
    const struct {
        bool connected;
        std::optional<qint64> seenMsAgo;
        bool nearby;
    } cases[] = {
        {true, std::nullopt, true}, {false, std::nullopt, false},
        {false, 45'000, true},      {false, 45'001, false},
        {false, 0, true},
    };
    for (const auto& c : cases) {
        DeviceInfo d;
        d.connected = c.connected;
        if (c.seenMsAgo) {
            d.lastSeenAt = seen.addMSecs(-*c.seenMsAgo);
        }
        EXPECT_EQ(d.isNearby(seen), c.nearby) << c.connected << " " << c.seenMsAgo.value_or(-1);
    }
    EXPECT_EQ(DeviceInfo().name, u"\u2014"_s);
}

TEST(SyncPhase, Labels)
{
    const std::pair<SyncPhase, QString> cases[] = {
        {SyncPhase::downloading(u"a.opus"_s, 7), u"下载 a.opus 7%"_s},
        {SyncPhase::uploading(u"x"_s, u"分片 2/3"_s), u"推送 x：分片 2/3"_s},
        {SyncPhase::failed(u"连不上"_s), u"失败：连不上"_s},
        {SyncPhase::idle(), u"空闲"_s},
        {SyncPhase::waitingForDevice(), u"等待录音笔"_s},
        {SyncPhase::connecting(), u"连接中"_s},
        {SyncPhase::listing(), u"读取列表"_s},
        {SyncPhase::cleaning(), u"清理设备"_s},
    };
    for (const auto& [phase, label] : cases) {
        EXPECT_EQ(phase.label(), label);
    }
    EXPECT_EQ(SyncPhase(), SyncPhase::idle());
    EXPECT_NE(SyncPhase::downloading(u"a"_s, 1), SyncPhase::downloading(u"a"_s, 2));
}

TEST(RecordingItem, InVaultNeedsReadyAndTranscript)
{
    EXPECT_TRUE(RecordingItem(u"b"_s, 1, {}, {}, u"s"_s, u"ready"_s, u"t"_s).inVault());
    EXPECT_FALSE(RecordingItem(u"b"_s, 1, {}, {}, u"s"_s, u"ready"_s).inVault());
    EXPECT_FALSE(RecordingItem(u"b"_s, 1, {}, {}, u"s"_s, u"processing"_s, u"t"_s).inVault());
    const RecordingItem local(u"b"_s, 1, std::nullopt, 800);
    EXPECT_FALSE(local.onDevice());
    EXPECT_TRUE(local.onDisk());
}

TEST(SyncPaths, LayoutAndEnsureDirs)
{
    QTemporaryDir tmp;
    const SyncPaths p(tmp.path() + u"/root"_s);
    EXPECT_EQ(p.dest(), tmp.path() + u"/root/导入"_s);
    EXPECT_EQ(p.rawPackets(), tmp.path() + u"/root/导入/原始包"_s);
    EXPECT_EQ(p.manifest(), tmp.path() + u"/root/导入/manifest.json"_s);
    EXPECT_EQ(p.witnesses(), tmp.path() + u"/root/导入/录音时刻证据.json"_s);
    EXPECT_EQ(p.mindvaultConfig(), tmp.path() + u"/root/importer/mindvault.json"_s);
    EXPECT_EQ(p.syncLog(), tmp.path() + u"/root/out/swift-同步日志.txt"_s);
    EXPECT_EQ(p.cleanupSettings(), tmp.path() + u"/root/out/swift-settings.json"_s);
    EXPECT_TRUE(SyncPaths::standard().root().endsWith(u"/录音项目"_s));

    p.ensureDirs();
    EXPECT_TRUE(QFileInfo(p.rawPackets()).isDir());

    // A file where a folder must go: the error carries the system's reason.
    TestSupport::writeFile(tmp.path() + u"/blocked"_s, "x");
    try {
        SyncPaths(tmp.path() + u"/blocked"_s).ensureDirs();
        FAIL() << "expected FileError";
    } catch (const FileError& e) {
        EXPECT_FALSE(e.description().isEmpty());
    }
}

TEST(FileError, AWriteTheFolderRefusesNamesItAndTheRemedyOthersKeepTheSystemsText)
{
    QTemporaryDir tmp; // writable and roomy: only the error number decides
    const QString path = tmp.path() + u"/a.opus"_s;
    const struct {
        int err;
        FileError::Kind kind;
        QString text;
    } cases[] = {
        {ENOSPC, FileError::Kind::DiskFull,
         u"磁盘满了：文件夹 "_s + tmp.path() +
             u" 所在的磁盘没有空间了，a.opus 写不进去。"
             u"请在这块磁盘上腾出空间（删掉用不着的大文件、清空回收站）。"_s},
        {EDQUOT, FileError::Kind::DiskFull, {}},
        {EROFS, FileError::Kind::ReadOnly,
         u"文件夹 "_s + tmp.path() +
             u" 是只读的，a.opus 写不进去。请让它可写（比如把它所在的磁盘重新挂载为可读写）。"_s},
        {EACCES, FileError::Kind::NoPermission,
         u"没有权限往文件夹 "_s + tmp.path() +
             u" 里写 a.opus。请把这个文件夹的写权限交还给当前用户。"_s},
        {EIO, FileError::Kind::Other, u"Input/output error"_s},
        {0, FileError::Kind::Other, u"Input/output error"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.err);
        const FileError e = FileError::writeFailed(path, u"Input/output error"_s, c.err, 100);
        EXPECT_EQ(e.kind(), c.kind);
        EXPECT_EQ(e.blocksWrites(), c.kind != FileError::Kind::Other);
        if (!c.text.isEmpty()) {
            EXPECT_EQ(e.description(), c.text);
        }
    }

    // Judged without writing: a roomy folder refuses nothing, a need beyond its space is full.
    EXPECT_FALSE(FileError::refusal(path, 100).has_value());
    const std::optional<FileError> huge = FileError::refusal(path, qint64(1) << 60);
    ASSERT_TRUE(huge.has_value());
    EXPECT_EQ(huge->kind(), FileError::Kind::DiskFull);
}

TEST(CleanupSettings, DecodingIsAllOrNothing)
{
    const CleanupSettings defaults;
    const struct {
        const char* json;
        std::optional<CleanupSettings> want;
    } cases[] = {
        {R"({"deleteAfterSync":true,"coolingDays":7,"minUploadSeconds":0})",
         CleanupSettings{true, 7, 0}},
        {R"({"deleteAfterSync":false,"coolingDays":3,"minUploadSeconds":60,"extra":1})",
         CleanupSettings{false, 3, 60}},
        {R"({"deleteAfterSync":true,"coolingDays":3})", std::nullopt},
        {R"({"deleteAfterSync":1,"coolingDays":3,"minUploadSeconds":60})", std::nullopt},
        {R"({"deleteAfterSync":true,"coolingDays":"3","minUploadSeconds":60})", std::nullopt},
        {R"({"deleteAfterSync":true,"coolingDays":3,"minUploadSeconds":1.5})", std::nullopt},
        {R"({"deleteAfterSync":true,"coolingDays":3,"minUploadSeconds":9999999999})", std::nullopt},
        {R"([true,3,300])", std::nullopt},
        {"not json", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CleanupSettings::decode(c.json), c.want) << c.json;
    }

    QTemporaryDir tmp;
    const QString path = tmp.path() + u"/out/swift-settings.json"_s;
    EXPECT_EQ(CleanupSettings::load(path), defaults);
    TestSupport::writeFile(path, R"({"deleteAfterSync":true,"coolingDays":3})");
    EXPECT_EQ(CleanupSettings::load(path), defaults);

    const CleanupSettings changed{false, 3, 120};
    changed.save(path);
    EXPECT_EQ(CleanupSettings::load(path), changed);
    EXPECT_EQ(TestSupport::readFile(path).count('\n'), 0); // compact, as the other copies write it
}

TEST(Describe, OwnErrorsGiveTheirDescriptionOthersTheSystemText)
{
    EXPECT_EQ(describe(FileError(u"磁盘满了"_s)), u"磁盘满了"_s);
    const std::system_error sys(std::make_error_code(std::errc::no_space_on_device));
    EXPECT_EQ(describe(sys), QString::fromLocal8Bit(sys.code().message()));
    EXPECT_EQ(describe(std::make_exception_ptr(FileError(u"x"_s))), u"x"_s);
    EXPECT_EQ(describe(std::make_exception_ptr(std::runtime_error("boom"))), u"boom"_s);
}
