// sign-in, sign-out and status through the built executable, against the stand-in service,
// with the credential kept in a private data folder.

#include "MindvaultDevServer.h"
#include "cloud/VaultFailure.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

using Outcome = TestSupport::ProgramRun;

class AccountCommands : public ::testing::Test {
protected:
    AccountCommands()
    {
        MindvaultDevServer::Options o;
        o.email = "demo@example.com";
        o.password = "pw 中文 with spaces";
        o.processing = std::chrono::milliseconds(0);
        server = std::make_unique<MindvaultDevServer>(o);
        EXPECT_GT(server->start(), 0);
        QDir().mkpath(root() + u"/importer"_s);
        QFile config(root() + u"/importer/mindvault.json"_s);
        EXPECT_TRUE(config.open(QIODevice::WriteOnly));
        config.write(QByteArray::fromStdString(server->clientConfigJson()));
    }

    QString root() const { return dir.path() + u"/archive"_s; }
    QString credentials() const { return dir.path() + u"/data/Mindvault/credentials.json"_s; }

    Outcome kestrel(const QStringList& args, const QByteArray& input = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, dir.path() + u"/data"_s);
        return TestSupport::runProgram(QStringLiteral(KESTREL_BIN), args, input, env);
    }
    Outcome signIn(const QByteArray& passwordLine, const QString& archive = {})
    {
        return kestrel({u"sign-in"_s, u"--email"_s, u"demo@example.com"_s, u"--archive-root"_s,
                        archive.isEmpty() ? root() : archive},
                       passwordLine);
    }

    QTemporaryDir dir;
    std::unique_ptr<MindvaultDevServer> server;
};

} // namespace

TEST_F(AccountCommands, SignInKeepsOnlyTheCredentialAndSignOutForgetsIt)
{
    const Outcome wrong = signIn("nope\n");
    EXPECT_EQ(wrong.exitCode, 1);
    EXPECT_TRUE(wrong.err.contains(u"登录 失败 HTTP 400：邮箱或密码不对"_s))
        << wrong.err.toStdString();
    EXPECT_FALSE(QFile::exists(credentials()));

    const Outcome ok = signIn("pw 中文 with spaces\r\nignored second line\n");
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    EXPECT_TRUE(ok.out.contains(u"已登录Mindvault：demo@example.com（组织 org-dev）"_s))
        << ok.out.toStdString();
    const QByteArray stored = TestSupport::readFile(credentials());
    EXPECT_TRUE(stored.contains("refreshToken"));
    EXPECT_FALSE(stored.contains("中文")); // the password is never written
    const QFile::Permissions others = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup |
                                      QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;
    EXPECT_FALSE(QFile::permissions(credentials()) & others);

    const Outcome status = kestrel({u"status"_s, u"--archive-root"_s, root()});
    EXPECT_EQ(status.exitCode, 0) << status.err.toStdString();
    EXPECT_TRUE(status.out.contains(u"Mindvault：已登录 demo@example.com（组织 org-dev）"_s))
        << status.out.toStdString();

    const Outcome out = kestrel({u"sign-out"_s});
    EXPECT_EQ(out.exitCode, 0);
    EXPECT_TRUE(out.out.contains(u"已退出登录Mindvault（demo@example.com）"_s))
        << out.out.toStdString();
    EXPECT_FALSE(QFile::exists(credentials()));
    EXPECT_TRUE(
        kestrel({u"status"_s, u"--archive-root"_s, root()}).out.contains(u"Mindvault：未登录"_s));
    EXPECT_EQ(kestrel({u"sign-out"_s}).out, u"本来就没有登录Mindvault\n"_s);
}

TEST_F(AccountCommands, ASignInThatCannotBeStoredIsReportedAsAFailure)
{
    // A file stands where the credential folder would go.
    TestSupport::writeFile(dir.path() + u"/data/Mindvault"_s, "not a folder");
    const Outcome r = signIn("pw 中文 with spaces\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(r.out.contains(u"已登录"_s)) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(u"登录失败：登录凭据没能写进 "_s)) << r.err.toStdString();
}

TEST_F(AccountCommands, SignInRefusals)
{
    struct Case {
        QStringList args;
        QByteArray input;
        int exitCode;
        QString stderrHas;
    };
    const QString elsewhere = dir.path() + u"/unconfigured"_s;
    const QList<Case> cases{
        {{u"sign-in"_s, u"--archive-root"_s, root()}, "x\n", 2, u"缺少邮箱"_s},
        {{u"sign-in"_s, u"--email"_s, u"demo@example.com"_s, u"--archive-root"_s, elsewhere},
         "x\n",
         1,
         u"读不到Mindvault配置"_s},
        {{u"sign-in"_s, u"--email"_s, u"demo@example.com"_s, u"--archive-root"_s, root()},
         "",
         1,
         u"没有读到密码"_s},
        {{u"sign-in"_s, u"--email"_s, u"demo@example.com"_s, u"--password"_s, u"x"_s},
         "",
         2,
         u"password"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const Outcome r = kestrel(c.args, c.input);
        EXPECT_EQ(r.exitCode, c.exitCode);
        EXPECT_TRUE(r.err.contains(c.stderrHas)) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(credentials()));
}

TEST_F(AccountCommands, StatusFollowsRecordingsFromThePenToTheTranscript)
{
    // The fixture's recordings last 5, 6 and 3 seconds: with a 4-second threshold two are pushed.
    QDir().mkpath(root() + u"/out"_s);
    QFile settings(root() + u"/out/swift-settings.json"_s);
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write(R"({"deleteAfterSync": false, "coolingDays": 3, "minUploadSeconds": 4})");
    settings.close();
    ASSERT_EQ(signIn("pw 中文 with spaces\n").exitCode, 0);

    const QString scenario = QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s;
    const Outcome round = kestrel(
        {u"--headless"_s, u"--once"_s, u"--archive-root"_s, root(), u"--virtual-pen"_s, scenario});
    ASSERT_EQ(round.exitCode, 0) << round.err.toStdString();

    const Outcome offline = kestrel({u"status"_s, u"--archive-root"_s, root(), u"--offline"_s});
    EXPECT_EQ(offline.exitCode, 0) << offline.err.toStdString();
    EXPECT_TRUE(offline.out.contains(u"归档目录："_s + root())) << offline.out.toStdString();
    EXPECT_TRUE(offline.out.contains(u"转写状态：没有查询（--offline）"_s));
    EXPECT_TRUE(offline.out.contains(u"录音 3 条：已导入 3 条，已推送 2 条，已转写 0 条"_s))
        << offline.out.toStdString();
    EXPECT_TRUE(offline.out.contains(u"最近一轮：["_s)) << offline.out.toStdString();

    const Outcome online = kestrel({u"status"_s, u"--archive-root"_s, root()});
    EXPECT_EQ(online.exitCode, 0) << online.err.toStdString();
    EXPECT_TRUE(
        online.out.contains(u"录音 3 条：已导入 3 条，已推送 2 条，已转写 2 条，处理中 0 条，"
                            u"转写失败 0 条，待推送 0 条，只落盘 1 条"_s))
        << online.out.toStdString();
    EXPECT_TRUE(online.out.contains(u"  20251203-123000  已导入 "_s)) << online.out.toStdString();
    EXPECT_TRUE(online.out.contains(u"只落盘（短于 4 秒门槛）"_s)) << online.out.toStdString();
    EXPECT_EQ(online.out.count(u"」"_s), 2) << online.out.toStdString(); // two titled transcripts

    // A failed recording says why, in the words the user sees everywhere else.
    ASSERT_TRUE(server->failSession("rs-1", "ASR_NO_SPEECH"));
    const Outcome failed = kestrel({u"status"_s, u"--archive-root"_s, root()});
    EXPECT_TRUE(failed.out.contains(u"（会话 rs-1）  转写失败（ASR_NO_SPEECH）："_s +
                                    VaultFailure::explain(u"ASR_NO_SPEECH"_s)))
        << failed.out.toStdString();

    // The service cannot be asked: the local picture stands and the exit status says so.
    server->stop();
    const Outcome down = kestrel({u"status"_s, u"--archive-root"_s, root()});
    EXPECT_EQ(down.exitCode, 1);
    EXPECT_TRUE(down.out.contains(u"转写状态：查不到——"_s)) << down.out.toStdString();
    EXPECT_TRUE(down.out.contains(u"已推送 2 条"_s)) << down.out.toStdString();
}

namespace {

// Every form the password could take on its way out: as typed, URL- and Base64-encoded, and
// JSON-escaped with upper- or lower-case hex.
QList<QByteArray> passwordForms(const QString& password)
{
    const QByteArray utf8 = password.toUtf8();
    QByteArray jsonLower, jsonUpper;
    for (const QChar c : password) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7f) {
            jsonLower += char(c.unicode());
            jsonUpper += char(c.unicode());
        } else {
            const QString hex = QString::number(c.unicode(), 16).rightJustified(4, u'0');
            jsonLower += "\\u" + hex.toUtf8();
            jsonUpper += "\\u" + hex.toUpper().toUtf8();
        }
    }
    return {utf8,
            utf8.toPercentEncoding(),
            QUrl::toPercentEncoding(password, " "),
            utf8.toBase64(),
            jsonLower,
            jsonUpper};
}

// Where a running process keeps what it was given.
QByteArray processTraces(qint64 pid)
{
    const QString proc = u"/proc/"_s + QString::number(pid);
    return TestSupport::readFile(proc + u"/cmdline"_s) +
           TestSupport::readFile(proc + u"/environ"_s);
}

// The permission bits, as ls shows them.
mode_t mode(const QString& path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

} // namespace

TEST_F(AccountCommands, ThePasswordLeavesNoTraceAndTheCredentialStaysPrivate)
{
    const QString password = u"pw 中文 with spaces"_s;
    QDir().mkpath(root() + u"/out"_s);
    TestSupport::writeFile(
        root() + u"/out/swift-settings.json"_s,
        R"({"deleteAfterSync": false, "coolingDays": 3, "minUploadSeconds": 0})");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_DATA_HOME"_s, dir.path() + u"/data"_s);
    env.insert(u"XDG_CONFIG_HOME"_s, dir.path() + u"/config"_s);
    env.insert(u"XDG_CACHE_HOME"_s, dir.path() + u"/cache"_s);
    env.insert(u"HOME"_s, dir.path() + u"/home"_s);
    env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    QDir().mkpath(dir.path() + u"/home"_s);
    QByteArray traces; // what the processes carried while they ran

    // Signing in: the password is asked for on standard input, while the process runs.
    QProcess signIn;
    signIn.setProcessEnvironment(env);
    signIn.start(QStringLiteral(KESTREL_BIN),
                 {u"sign-in"_s, u"--email"_s, u"demo@example.com"_s, u"--archive-root"_s, root()});
    ASSERT_TRUE(signIn.waitForStarted(5000));
    traces += processTraces(signIn.processId());
    signIn.write(password.toUtf8() + '\n');
    signIn.closeWriteChannel();
    ASSERT_TRUE(signIn.waitForFinished(30000));
    ASSERT_EQ(signIn.exitCode(), 0) << signIn.readAllStandardError().toStdString();

    // The importer at work: it signs in with the stored token, pushes and binds the pen.
    QProcess importer;
    importer.setProcessEnvironment(env);
    importer.setStandardOutputFile(dir.path() + u"/home/kestrel.out"_s);
    importer.setStandardErrorFile(dir.path() + u"/home/kestrel.err"_s);
    importer.start(QStringLiteral(KESTREL_BIN),
                   {u"--headless"_s, u"--fast-timing"_s, u"--archive-root"_s, root(),
                    u"--virtual-pen"_s, QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s});
    ASSERT_TRUE(importer.waitForStarted(5000));
    EXPECT_TRUE(TestSupport::spinUntil(
        [&] {
            traces += processTraces(importer.processId());
            return server->requestCount("finalize") >= 3;
        },
        std::chrono::seconds(30)));
    importer.terminate();
    ASSERT_TRUE(importer.waitForFinished(10000));

    const QList<QByteArray> forms = passwordForms(password);
    for (const QByteArray& form : forms)
        EXPECT_FALSE(traces.contains(form)) << "a command line or environment: " << form.data();
    int files = 0;
    QDirIterator it(dir.path(), QDir::Files | QDir::Hidden | QDir::System,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QByteArray content = TestSupport::readFile(path);
        ++files;
        for (const QByteArray& form : forms)
            EXPECT_FALSE(content.contains(form)) << path.toStdString() << ": " << form.data();
    }
    EXPECT_GT(files, 10); // the archive, ledger, log, credential and binding are all there

    // What is kept of the account is readable by its owner only.
    const QString folder = dir.path() + u"/data/Mindvault"_s;
    EXPECT_EQ(mode(folder), 0700);
    const QStringList kept = QDir(folder).entryList(QDir::Files | QDir::Hidden);
    EXPECT_GE(kept.size(), 2) << kept.join(u' ').toStdString(); // credential and pen binding
    for (const QString& f : kept) {
        SCOPED_TRACE(f.toStdString());
        EXPECT_EQ(mode(folder + u'/' + f), 0600);
    }
}

TEST_F(AccountCommands, AnInterruptAtThePasswordPromptGivesTheTerminalItsEchoBack)
{
    int master = -1, terminal = -1;
    ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    QProcess signIn;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_DATA_HOME"_s, dir.path() + u"/data"_s);
    signIn.setProcessEnvironment(env);
    signIn.setChildProcessModifier([terminal] { ::dup2(terminal, STDIN_FILENO); });
    signIn.start(QStringLiteral(KESTREL_BIN),
                 {u"sign-in"_s, u"--email"_s, u"demo@example.com"_s, u"--archive-root"_s, root()});
    ASSERT_TRUE(signIn.waitForStarted(5000));
    termios settings{};
    const auto echoing = [&] {
        return ::tcgetattr(terminal, &settings) == 0 && (settings.c_lflag & ECHO) != 0;
    };
    ASSERT_TRUE(echoing());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !echoing(); }, std::chrono::seconds(10)))
        << "the prompt never switched echo off";
    ::kill(pid_t(signIn.processId()), SIGINT);
    ASSERT_TRUE(signIn.waitForFinished(10000));
    EXPECT_EQ(signIn.exitStatus(), QProcess::CrashExit); // the interrupt took its course
    EXPECT_TRUE(echoing());
    ::close(master);
    ::close(terminal);
}
