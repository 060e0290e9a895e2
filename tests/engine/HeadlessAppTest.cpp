// The kestrel executable as a user runs it.

#include "support/TestSupport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using Outcome = TestSupport::ProgramRun;

Outcome kestrel(const QStringList& args)
{
    return TestSupport::runProgram(QStringLiteral(KESTREL_BIN), args);
}

} // namespace

TEST(HeadlessApp, OneRoundAgainstTheVirtualPenLeavesTheArchive)
{
    QTemporaryDir dir;
    const QString scenario = QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s;
    const Outcome r = kestrel({u"--headless"_s, u"--once"_s, u"--archive-root"_s, dir.path(),
                               u"--virtual-pen"_s, scenario});

    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(u"] 同步结束：导入 3 条\n"_s)) << r.out.toStdString();
    // A round that imported something audits the archive it wrote.
    EXPECT_TRUE(r.out.contains(u"] 归档体检：3 条：完好 3\n"_s)) << r.out.toStdString();
    const QStringList raws = QDir(dir.path() + u"/导入/原始包"_s).entryList({u"*.opus"_s});
    const QStringList oggs = QDir(dir.path() + u"/导入"_s).entryList({u"*.ogg"_s});
    EXPECT_EQ(raws.size(), 3);
    EXPECT_EQ(oggs.size(), 3);
    // A single round ends only after what it imported was analysed.
    EXPECT_EQ(QDir(dir.path() + u"/out/waveform"_s).entryList({u"*.json"_s}).size(), 3);
    EXPECT_EQ(
        TestSupport::readFile(dir.path() + u"/导入/原始包/20251203-123000.opus"_s),
        TestSupport::readFile(QStringLiteral(ENGINE_FIXTURES) + u"/audio/20251203-123000.raw"_s));
    // The archive passes the audit verb's read-only check.
    const Outcome audit = kestrel({u"audit"_s, u"--archive-root"_s, dir.path()});
    EXPECT_EQ(audit.exitCode, 0) << audit.out.toStdString();
    EXPECT_TRUE(audit.out.startsWith(u"3 条"_s)) << audit.out.toStdString();
    // The log file holds what was echoed.
    EXPECT_TRUE(QString::fromUtf8(TestSupport::readFile(dir.path() + u"/out/swift-同步日志.txt"_s))
                    .contains(u"同步结束：导入 3 条"_s));
}

TEST(HeadlessApp, ExitStatusTellsWhatWasWrong)
{
    struct Case {
        QStringList args;
        int exitCode;
        QString stderrHas;
    };
    const QList<Case> cases{
        {{u"--headless"_s, u"--virtual-pen"_s, u"/nonexistent.json"_s}, 1, u"/nonexistent.json"_s},
        {{u"--headless"_s, u"--bogus"_s}, 2, u"不认识的选项：--bogus"_s},
        {{u"--headless"_s, u"stray"_s}, 2, u"看不懂的参数：stray"_s},
        {{u"--headless"_s, u"--archive-root"_s}, 2, u"有选项后面缺了值"_s},
        {{u"audit"_s, u"--bogus"_s}, 2, u"用法：kestrel audit"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const Outcome r = kestrel(c.args);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(c.stderrHas)) << r.err.toStdString();
    }
}

TEST(HeadlessApp, TerminationMidTransferLeavesAValidPartial)
{
    QTemporaryDir dir;
    const QString scenario = dir.path() + u"/slow.json"_s;
    TestSupport::writeFile(scenario, R"({
        "name": "QX27-SLOW", "bytesPerSecond": 40000, "advertiseIntervalMs": 20,
        "files": [ { "name": "20260301-100000.opus", "generate": { "packets": 20000, "seed": 3 } } ]
    })");
    // Listening for good ends well when asked to stop; a single round that was cut short did
    // not do what it was asked, whatever it saved on the way.
    const QList<std::pair<QStringList, int>> modes{{{}, 0}, {{u"--once"_s}, 1}};
    for (const auto& [extra, exitCode] : modes) {
        SCOPED_TRACE(extra.join(u' ').toStdString());
        const QString root = dir.path() + u"/archive"_s + QString::number(exitCode);
        QProcess p;
        p.start(QStringLiteral(KESTREL_BIN), QStringList{u"--headless"_s, u"--archive-root"_s, root,
                                                         u"--virtual-pen"_s, scenario} +
                                                 extra);
        QString out;
        ASSERT_TRUE(TestSupport::spinUntil([&] {
            p.waitForReadyRead(50);
            out += QString::fromUtf8(p.readAllStandardOutput());
            return out.contains(u"要下 1 条"_s);
        })) << out.toStdString();
        TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(300));
        ::kill(pid_t(p.processId()), SIGTERM);
        ASSERT_TRUE(p.waitForFinished(10000));
        out += QString::fromUtf8(p.readAllStandardOutput());

        EXPECT_EQ(p.exitCode(), exitCode);
        EXPECT_TRUE(out.contains(u"断线中断 20260301-100000.opus"_s)) << out.toStdString();
        EXPECT_TRUE(TestSupport::validPartial(root, u"20260301-100000"_s, "800000"));
        EXPECT_TRUE(out.contains(u"同步结束："_s));
    }
}

TEST(HeadlessApp, AnArchiveRootThatCannotServeIsNamedBeforeAnythingElse)
{
    QTemporaryDir dir;
    const QString file = dir.path() + u"/a-file"_s;
    TestSupport::writeFile(file, "not a folder");
    const QString underFile = file + u"/archive"_s;
    const QString missing = dir.path() + u"/missing"_s;
    const QString scenario = QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s;
    const QStringList headless{u"--headless"_s, u"--once"_s, u"--virtual-pen"_s, scenario};

    struct Case {
        QStringList args;
        QString root;
        QString says;
    };
    const QList<Case> cases{
        {headless, file, u"是一个文件，不是文件夹"_s},
        {headless, underFile, u"建不起来"_s},
        {{u"status"_s, u"--offline"_s}, file, u"是一个文件，不是文件夹"_s},
        {{u"status"_s, u"--offline"_s}, missing, u"不存在"_s},
        {{u"audit"_s}, file, u"是一个文件，不是文件夹"_s},
        {{u"audit"_s}, underFile, u"不存在"_s},
    };
    for (const Case& c : cases) {
        const QStringList args = c.args + QStringList{u"--archive-root"_s, c.root};
        SCOPED_TRACE(args.join(u' ').toStdString());
        const Outcome r = kestrel(args);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.toStdString();
        const QString first = r.err.section(u'\n', 0, 0);
        EXPECT_TRUE(first.startsWith(u"归档目录 "_s + c.root + u' ') && first.contains(c.says))
            << r.err.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(missing)); // a read-only verb creates nothing
}

TEST(HeadlessApp, OneImporterPerArchiveAndALeftLockIsTakenOver)
{
    QTemporaryDir dir;
    const QString scenario = QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_s, dir.path() + u"/run"_s);
    QDir().mkpath(dir.path() + u"/run"_s);
    QFile::setPermissions(dir.path() + u"/run"_s, QFile::ReadOwner | QFile::WriteOwner |
                                                      QFile::ExeOwner); // as a runtime folder is
    const QStringList once{u"--headless"_s,     u"--once"_s,
                           u"--archive-root"_s, dir.path() + u"/archive"_s,
                           u"--virtual-pen"_s,  scenario};

    // A station holds the archive: a second importer says who and gives up.
    QProcess station;
    station.setProcessEnvironment(env);
    station.start(QStringLiteral(KESTREL_BIN),
                  {u"--headless"_s, u"--archive-root"_s, dir.path() + u"/archive"_s,
                   u"--virtual-pen"_s, scenario});
    station.setReadChannel(QProcess::StandardOutput);
    ASSERT_TRUE(station.waitForReadyRead(20000)); // its start line: it holds the archive
    const Outcome refused = TestSupport::runProgram(QStringLiteral(KESTREL_BIN), once, {}, env);
    EXPECT_EQ(refused.exitCode, 3);
    EXPECT_TRUE(refused.err.contains(u"正由另一个导入程序（kestrel，进程 "_s +
                                     QString::number(station.processId()) + u"）在导入"_s))
        << refused.err.toStdString();

    // Killed without a chance to clean up, it leaves its lock file; the next importer takes over.
    ::kill(pid_t(station.processId()), SIGKILL);
    station.waitForFinished();
    EXPECT_FALSE(QDir(dir.path() + u"/run"_s).entryList({u"kestrel-archive-*.lock"_s}).isEmpty());
    const Outcome after = TestSupport::runProgram(QStringLiteral(KESTREL_BIN), once, {}, env);
    EXPECT_EQ(after.exitCode, 0) << after.err.toStdString();
}
