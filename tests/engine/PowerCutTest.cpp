// The importer killed without warning (SIGKILL, as a power cut leaves it) at random moments,
// restarted each time: whatever it left behind must be whole or recognisably unfinished.

#include "MindvaultDevServer.h"
#include "VirtualPen.h"
#include "audio/AudioFileReader.h"
#include "support/ServiceArchive.h"
#include "support/TestSupport.h"
#include "sync/SyncManifest.h"
#include "sync/SyncPaths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <gtest/gtest.h>
#include <iostream>
#include <random>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Recording {
    QString name;
    int packets;
    uint32_t seed;
};

// Several recordings over a slow link that drops twice per start: a run lasts a couple of
// seconds, so kills land in downloads, archive writes and ledger saves alike.
const QList<Recording> recordings{
    {u"20260401-080000.opus"_s, 1500, 11},
    {u"20260401-093000.opus"_s, 900, 12},
    {u"20260401-110000.opus"_s, 2200, 13},
    {u"20260401-143000.opus"_s, 400, 14},
};

// extra: further top-level fields of the scenario, each followed by a comma.
QByteArray scenarioJson(const QByteArray& extra = {})
{
    QByteArray files;
    for (const Recording& r : recordings) {
        files += (files.isEmpty() ? "" : ",") +
                 u"{\"name\":\"%1\",\"generate\":{\"packets\":%2,\"seed\":%3}}"_s.arg(r.name)
                     .arg(r.packets)
                     .arg(r.seed)
                     .toUtf8();
    }
    return "{" + extra + R"("name":"QX27-CUT","bytesPerSecond":40000,"advertiseIntervalMs":20,
               "faults":{"dropAfterBytes":[24000]},"files":[)" +
           files + "]}";
}

class PowerCut {
public:
    PowerCut(const QString& root, const QString& runtime) : m_root(root)
    {
        m_env = QProcessEnvironment::systemEnvironment();
        m_env.insert(u"XDG_RUNTIME_DIR"_s, runtime);
        for (const Recording& r : recordings)
            m_content.insert(r.name, VirtualPen::generatePackets(r.packets, r.seed));
    }

    QString dest() const { return m_root + u"/导入"_s; }
    QString raws() const { return dest() + u"/原始包"_s; }
    const QProcessEnvironment& env() const { return m_env; }

    // What every moment of the run must leave behind, killed or not.
    void checkArchive() const
    {
        const QString manifestPath = dest() + u"/manifest.json"_s;
        if (QFileInfo::exists(manifestPath)) {
            QJsonParseError error{};
            const QJsonDocument doc =
                QJsonDocument::fromJson(TestSupport::readFile(manifestPath), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString();
            EXPECT_TRUE(doc.isObject());
        }
        for (const QString& f : QDir(raws()).entryList({u"*.opus"_s}, QDir::Files)) {
            SCOPED_TRACE(f.toStdString());
            ASSERT_TRUE(m_content.contains(f));
            EXPECT_TRUE(TestSupport::readFile(raws() + u'/' + f) == m_content.value(f))
                << "a raw file under its final name differs from the pen's";
        }
        // An unfinished download is a whole-packet prefix of what the pen holds.
        for (const QString& f : QDir(raws()).entryList({u"*.part"_s}, QDir::Files)) {
            SCOPED_TRACE(f.toStdString());
            const QString name = QFileInfo(f).completeBaseName() + u".opus"_s;
            ASSERT_TRUE(m_content.contains(name));
            const QByteArray part = TestSupport::readFile(raws() + u'/' + f);
            EXPECT_EQ(part.size() % 40, 0);
            EXPECT_TRUE(m_content.value(name).startsWith(part));
        }
        for (const QString& f : QDir(dest()).entryList({u"*.ogg"_s}, QDir::Files)) {
            SCOPED_TRACE(f.toStdString());
            const QString name = QFileInfo(f).completeBaseName() + u".opus"_s;
            ASSERT_TRUE(m_content.contains(name));
            const QString path = dest() + u'/' + f;
            EXPECT_TRUE(TestSupport::readFile(path).startsWith("OggS"));
            const auto reader = AudioFileReader::tryOpen(path);
            ASSERT_TRUE(reader) << "an archived recording does not open";
            // The stream's pre-skip (a few ms) is not audio: half a packet of slack.
            const double seconds = double(reader->length()) / reader->sampleRate();
            EXPECT_NEAR(seconds, double(m_content.value(name).size()) / 40 * 0.02, 0.01);
        }
        // The ledger only records what is whole on disk.
        const SyncManifest ledger = SyncManifest::load(manifestPath);
        EXPECT_TRUE(ledger.isTrustworthy);
        for (const auto& [key, imported] : ledger.imported) {
            SCOPED_TRACE(key.toStdString());
            const QString name = key.section(u'|', 0, 0);
            ASSERT_TRUE(m_content.contains(name));
            EXPECT_EQ(imported.bytes, m_content.value(name).size());
            EXPECT_TRUE(QFileInfo::exists(dest() + u'/' + imported.file));
            EXPECT_TRUE(TestSupport::readFile(raws() + u'/' + name) == m_content.value(name));
        }
    }

    // The pen may only lose a recording whose archive is whole and recorded, and which the
    // service has transcribed.
    void checkDeletions(const QString& deletionsFile, const MindvaultDevServer& server) const
    {
        const SyncManifest ledger = this->ledger();
        for (const QByteArray& line : TestSupport::readFile(deletionsFile).split('\n')) {
            if (line.isEmpty())
                continue;
            const QString name = QString::fromUtf8(line);
            const QString base = QFileInfo(name).completeBaseName();
            SCOPED_TRACE("deleted " + name.toStdString());
            EXPECT_TRUE(TestSupport::readFile(raws() + u'/' + name) == m_content.value(name));
            EXPECT_TRUE(AudioFileReader::tryOpen(dest() + u'/' + base + u".ogg"_s));
            EXPECT_EQ(std::count_if(ledger.imported.begin(), ledger.imported.end(),
                                    [&](const auto& e) { return e.first.startsWith(name + u'|'); }),
                      1);
            ASSERT_TRUE(ledger.uploaded.contains(base));
            const auto session = server.session(ledger.uploaded.at(base).toStdString());
            ASSERT_TRUE(session);
            EXPECT_EQ(session->value("status", ""), "ready");
        }
        // The ledger's session is the one the service keeps for the recording: a push killed
        // half way and repeated found it again instead of opening a second one.
        for (const auto& [base, sessionId] : ledger.uploaded) {
            SCOPED_TRACE("uploaded " + base.toStdString());
            EXPECT_EQ(server.sessionIdFor(QString(u"mac-ble-"_s + base).toStdString()),
                      sessionId.toStdString());
        }
    }

    SyncManifest ledger() const { return SyncManifest::load(dest() + u"/manifest.json"_s); }
    const QMap<QString, QByteArray>& content() const { return m_content; }

private:
    QString m_root;
    QProcessEnvironment m_env;
    QMap<QString, QByteArray> m_content;
};

} // namespace

TEST(PowerCut, KilledAtRandomMomentsTheArchiveStaysWholeAndEndsComplete)
{
    QTemporaryDir dir;
    const QString scenario = dir.path() + u"/pen.json"_s;
    TestSupport::writeFile(scenario, scenarioJson());
    const QString runtime = dir.path() + u"/runtime"_s;
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString root = dir.path() + u"/archive"_s;
    PowerCut cut(root, runtime);
    const QStringList args{u"--headless"_s, u"--archive-root"_s, root, u"--virtual-pen"_s,
                           scenario,        u"--fast-timing"_s};

    std::mt19937 random(20260401);
    std::uniform_int_distribution<int> moment(20, 1400); // ms after start
    constexpr int kills = 30;
    int killed = 0;
    int midImport = 0; // kills that left the pen not yet fully imported
    for (int i = 0; i < kills; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        QProcess p;
        p.setProcessEnvironment(cut.env());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral(KESTREL_BIN), args);
        ASSERT_TRUE(p.waitForStarted(5000));
        const int at = moment(random);
        if (!p.waitForFinished(at)) {
            ::kill(pid_t(p.processId()), SIGKILL);
            ASSERT_TRUE(p.waitForFinished(5000));
            ++killed;
            if (cut.ledger().imported.size() < size_t(recordings.size()))
                ++midImport;
        }
        cut.checkArchive();
        if (HasFatalFailure())
            return;
    }
    EXPECT_EQ(killed, kills); // listening never ends by itself
    // The kills must land while there is work under way, or they prove nothing; how many do
    // depends on the machine's load, so only a floor well below the usual share is required.
    EXPECT_GE(midImport, kills / 6);
    std::cout << killed << " kills, " << midImport << " before the pen was fully imported\n";

    // Left alone, the importer finishes the pen; a single round afterwards finds nothing to do
    // and does not import anything twice.
    {
        QProcess p;
        p.setProcessEnvironment(cut.env());
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral(KESTREL_BIN), args);
        EXPECT_TRUE(TestSupport::spinUntil(
            [&] { return cut.ledger().imported.size() == size_t(recordings.size()); },
            std::chrono::seconds(20)));
        ::kill(pid_t(p.processId()), SIGTERM);
        EXPECT_TRUE(p.waitForFinished(10000));
        cut.checkArchive();
    }
    const TestSupport::ProgramRun once = TestSupport::runProgram(
        QStringLiteral(KESTREL_BIN), QStringList{u"--once"_s} + args, {}, cut.env());
    EXPECT_EQ(once.exitCode, 0) << once.out.toStdString() << once.err.toStdString();
    cut.checkArchive();
    const SyncManifest ledger = cut.ledger();
    ASSERT_EQ(ledger.imported.size(), size_t(recordings.size()));
    for (const Recording& r : recordings) {
        SCOPED_TRACE(r.name.toStdString());
        const auto entries =
            std::count_if(ledger.imported.begin(), ledger.imported.end(),
                          [&](const auto& e) { return e.first.startsWith(r.name + u'|'); });
        EXPECT_EQ(entries, 1);
        EXPECT_TRUE(TestSupport::readFile(cut.raws() + u'/' + r.name) ==
                    cut.content().value(r.name));
        EXPECT_TRUE(QFileInfo::exists(cut.dest() + u'/' + QFileInfo(r.name).completeBaseName() +
                                      u".ogg"_s));
    }
    EXPECT_TRUE(QDir(cut.raws()).entryList({u"*.part"_s}, QDir::Files).isEmpty());
}

// The same with the service and pen cleanup on: kills land in uploads, status polls and
// deletions too. A pen keeps what it deleted across the importer's restarts.
TEST(PowerCut, KilledDuringUploadsAndDeletionsThePenLosesOnlyWhatIsSafe)
{
    MindvaultDevServer::Options options;
    options.email = "cut@example.com";
    options.password = "cut-password";
    options.processing = std::chrono::milliseconds(1000);
    MindvaultDevServer server(options);
    ASSERT_GT(server.start(), 0);
    // A slow service, so kills land mid-upload and mid-poll as often as mid-download.
    server.setDelay(std::chrono::milliseconds(150));

    QTemporaryDir dir;
    const QString scenario = dir.path() + u"/pen.json"_s;
    const QString deletions = dir.path() + u"/pen-deleted.txt"_s;
    TestSupport::writeFile(scenario, scenarioJson(R"("deletionsFile":"pen-deleted.txt",)"));
    const QString runtime = dir.path() + u"/runtime"_s;
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    const QString root = dir.path() + u"/archive"_s;
    const SyncPaths paths(root);
    ServiceArchive::prepare(paths, server);
    const QString dataHome = dir.path() + u"/data"_s;
    const auto signIn = [&] {
        ServiceArchive::signIn(paths, dataHome, u"cut@example.com"_s, u"cut-password"_s);
    };
    signIn();
    // Every start rotates the refresh token; a kill between the service's rotation and the
    // credential write leaves a token the service no longer takes. The importer then pauses
    // pushes until the user signs in again, which is what the test does: the price of such a
    // kill is a sign-in, never a recording.
    int signInsAgain = 0;
    qsizetype revocationsSeen = 0;
    const auto signInIfRevoked = [&] {
        const qsizetype revocations = TestSupport::readFile(paths.syncLog()).count("登录已失效");
        if (revocations > revocationsSeen) {
            signIn();
            ++signInsAgain;
            revocationsSeen = revocations;
        }
    };
    PowerCut cut(root, runtime);
    QProcessEnvironment env = cut.env();
    env.insert(u"XDG_DATA_HOME"_s, dataHome);
    env.remove(u"DBUS_SESSION_BUS_ADDRESS"_s);
    const QStringList args{u"--headless"_s, u"--archive-root"_s, root, u"--virtual-pen"_s,
                           scenario,        u"--fast-timing"_s};
    const auto penEmptied = [&] {
        return TestSupport::readFile(deletions).count('\n') == recordings.size();
    };

    // Each kill aims at one stage of the work: while that stage still lies ahead it waits until
    // the stage is under way, then strikes a random moment later. Every stage gets its share
    // of kills however fast or slow the machine runs the program (a sanitized build is slow).
    enum Stage { Download, Push, Cleanup, stages };
    const size_t n = size_t(recordings.size());
    const auto underWay = [&](Stage stage) {
        const SyncManifest ledger = cut.ledger();
        const QByteArray deleted = TestSupport::readFile(deletions);
        switch (stage) {
        case Download:
            return ledger.imported.size() < n;
        case Push:
            return std::any_of(ledger.imported.begin(), ledger.imported.end(), [&](const auto& e) {
                return !ledger.uploaded.contains(
                    QFileInfo(e.first.section(u'|', 0, 0)).completeBaseName());
            });
        case Cleanup:
        case stages:
            break;
        }
        return std::any_of(ledger.uploaded.begin(), ledger.uploaded.end(), [&](const auto& e) {
            return !deleted.contains((e.first + u".opus"_s).toUtf8());
        });
    };
    const auto ahead = [&](Stage stage) {
        const SyncManifest ledger = cut.ledger();
        return stage == Download ? ledger.imported.size() < n
               : stage == Push   ? ledger.uploaded.size() < n
                                 : !penEmptied();
    };

    std::mt19937 random(20260402);
    std::uniform_int_distribution<int> moment(20, 1500); // ms after start or after the stage began
    constexpr int kills = 30;
    int landed[stages] = {}; // kills that found the stage under way (a kill may count twice)
    for (int i = 0; i < kills; ++i) {
        SCOPED_TRACE("kill " + std::to_string(i));
        const Stage aim = Stage(i % stages);
        QProcess p;
        p.setProcessEnvironment(env);
        p.setStandardOutputFile(QProcess::nullDevice());
        p.setStandardErrorFile(QProcess::nullDevice());
        p.start(QStringLiteral(KESTREL_BIN), args);
        ASSERT_TRUE(p.waitForStarted(5000));
        if (ahead(aim))
            TestSupport::spinUntil([&] { return underWay(aim); }, std::chrono::seconds(20));
        ASSERT_FALSE(p.waitForFinished(moment(random))); // listening never ends by itself
        ::kill(pid_t(p.processId()), SIGKILL);
        ASSERT_TRUE(p.waitForFinished(5000));
        for (int stage = 0; stage < stages; ++stage)
            landed[stage] += underWay(Stage(stage));
        signInIfRevoked();
        cut.checkArchive();
        cut.checkDeletions(deletions, server);
        if (HasFatalFailure())
            return;
    }
    std::cout << kills << " kills: " << landed[Download] << " while downloading, " << landed[Push]
              << " while pushing, " << landed[Cleanup]
              << " while waiting for transcripts or emptying the pen; " << signInsAgain
              << " sign-ins again after a kill mid-rotation\n";
    // The kills must land in every stage, or they prove nothing.
    for (const int count : landed)
        EXPECT_GE(count, 3);

    // Left alone, the importer pushes, waits for the transcripts and empties the pen.
    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral(KESTREL_BIN), args);
    EXPECT_TRUE(TestSupport::spinUntil(penEmptied, std::chrono::seconds(60)));
    ::kill(pid_t(p.processId()), SIGTERM);
    EXPECT_TRUE(p.waitForFinished(10000));
    cut.checkArchive();
    cut.checkDeletions(deletions, server);
    const SyncManifest ledger = cut.ledger();
    EXPECT_EQ(ledger.imported.size(), size_t(recordings.size()));
    EXPECT_EQ(ledger.uploaded.size(), size_t(recordings.size()));
    server.stop();
}
