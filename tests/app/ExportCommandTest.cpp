// `kestrel export`: names, formats and transcripts of what it writes, against the archive a
// round leaves and the stand-in service; and that the archive stays as it was.

#include "ExportFormat.h"
#include "MindvaultDevServer.h"
#include "audio/AudioFileReader.h"
#include "support/AudioFixtures.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <array>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

TEST(ExportFormat, NamesAreReadableSafeAndNeverTaken)
{
    const QDateTime start(QDate(2025, 12, 3), QTime(12, 30, 0));
    struct Case {
        std::optional<QDateTime> start;
        QString title, base, stem;
    };
    const QList<Case> cases{
        {start, u"周会"_s, u"20251203-123000"_s, u"2025-12-03 123000 周会"_s},
        {start, QString(), u"20251203-123000"_s, u"2025-12-03 123000 20251203-123000"_s},
        {start, u"a/b\\c:d*e?\"f<g>h|i\nj"_s, u"x"_s, u"2025-12-03 123000 a b c d e f g h i j"_s},
        {start, u"..隐藏"_s, u"x"_s, u"2025-12-03 123000 隐藏"_s},
        {start, u"/"_s, u"rec"_s, u"2025-12-03 123000 rec"_s},
        {std::nullopt, u"标题"_s, u"rec"_s, u"标题"_s},
        {start, QString(100, u'长'), u"x"_s, u"2025-12-03 123000 "_s + QString(80, u'长')},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ExportFormat::stem(c.start, c.title, c.base), c.stem) << c.stem.toStdString();

    const QStringList exts{u".ogg"_s, u".txt"_s, u".srt"_s};
    EXPECT_EQ(ExportFormat::unique(u"a"_s, exts, {}), u"a"_s);
    EXPECT_EQ(ExportFormat::unique(u"a"_s, exts, {u"a.srt"_s}), u"a (2)"_s);
    EXPECT_EQ(ExportFormat::unique(u"a"_s, exts, {u"a.ogg"_s, u"a (2).txt"_s}), u"a (3)"_s);
    EXPECT_EQ(ExportFormat::unique(u"a"_s, exts, {u"a.wav"_s}), u"a"_s);
}

TEST(ExportFormat, SubtitlesAndTextCarrySpeakersAndTimes)
{
    EXPECT_EQ(ExportFormat::srtTime(0), u"00:00:00,000"_s);
    EXPECT_EQ(ExportFormat::srtTime(3723004), u"01:02:03,004"_s);
    EXPECT_EQ(ExportFormat::srtTime(-5), u"00:00:00,000"_s);

    const QList<SpeakerRow> rows{{u"r1"_s, u"S1"_s, u"王芳"_s, true, std::nullopt},
                                 {u"r2"_s, u"S2"_s, std::nullopt, false, std::nullopt},
                                 {u"r3"_s, u"S3"_s, u"  "_s, false, std::nullopt}};
    const QMap<QString, QString> names = ExportFormat::speakerNames(rows);
    EXPECT_EQ(names, (QMap<QString, QString>{{u"S1"_s, u"王芳"_s}}));

    const QList<TranscriptSegment> segments{
        {u"1"_s, u"S1"_s, u"大家好。"_s, 0, 1500},
        {u"2"_s, u"S2"_s, u"  "_s, 1500, 2000}, // nothing said: no cue
        {u"3"_s, u"S2"_s, u"好的。"_s, 61000, 61000},
    };
    EXPECT_EQ(QString::fromUtf8(ExportFormat::srt(segments, names)),
              u"1\n00:00:00,000 --> 00:00:01,500\n王芳：大家好。\n\n"
              u"2\n00:01:01,000 --> 00:01:01,001\nS2：好的。\n\n"_s);
    EXPECT_EQ(QString::fromUtf8(ExportFormat::plainText(u"周会"_s, segments, names)),
              u"周会\n\n[00:00] 王芳：大家好。\n[01:01] S2：好的。\n"_s);

    // A blank line would end the cue early and leave the rest as a broken cue of its own.
    const QList<TranscriptSegment> paragraphs{
        {u"1"_s, u"S1"_s, u"第一段。\n\n第二段。\r\n \r\n第三段。"_s, 0, 1000}};
    EXPECT_EQ(QString::fromUtf8(ExportFormat::srt(paragraphs, names)),
              u"1\n00:00:00,000 --> 00:00:01,000\n王芳：第一段。\n第二段。\n第三段。\n\n"_s);
    // Names already there are found whatever their letter case.
    EXPECT_EQ(ExportFormat::unique(u"a"_s, {u".wav"_s}, {u"A.WAV"_s}), u"a (2)"_s);
}

QMap<QString, QByteArray> digestTree(const QString& root)
{
    QMap<QString, QByteArray> out;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out.insert(path, QCryptographicHash::hash(TestSupport::readFile(path),
                                                  QCryptographicHash::Sha256));
    }
    return out;
}

class ExportCommand : public ::testing::Test {
protected:
    ExportCommand()
    {
        MindvaultDevServer::Options o;
        o.email = "demo@example.com";
        o.password = "secret";
        o.processing = std::chrono::milliseconds(0);
        server = std::make_unique<MindvaultDevServer>(o);
        EXPECT_GT(server->start(), 0);
        QDir().mkpath(root() + u"/importer"_s);
        QDir().mkpath(root() + u"/out"_s);
        TestSupport::writeFile(root() + u"/importer/mindvault.json"_s,
                               QByteArray::fromStdString(server->clientConfigJson()));
        // The fixture's recordings last 5, 6 and 3 seconds: two are pushed.
        TestSupport::writeFile(root() + u"/out/swift-settings.json"_s,
                               R"({"deleteAfterSync": false, "coolingDays": 3,
                                   "minUploadSeconds": 4})");
    }

    QString root() const { return dir.path() + u"/archive"_s; }
    QString out() const { return dir.path() + u"/export"_s; }

    TestSupport::ProgramRun kestrel(const QStringList& args, const QByteArray& input = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, dir.path() + u"/data"_s);
        return TestSupport::runProgram(QStringLiteral(KESTREL_BIN), args, input, env);
    }

    void importAndPush()
    {
        ASSERT_EQ(kestrel({u"sign-in"_s, u"--email"_s, u"demo@example.com"_s, u"--archive-root"_s,
                           root()},
                          "secret\n")
                      .exitCode,
                  0);
        const QString scenario = QStringLiteral(ENGINE_FIXTURES) + u"/scenario.json"_s;
        const auto round = kestrel({u"--headless"_s, u"--once"_s, u"--archive-root"_s, root(),
                                    u"--virtual-pen"_s, scenario});
        ASSERT_EQ(round.exitCode, 0) << round.err.toStdString();
    }

    QTemporaryDir dir;
    std::unique_ptr<MindvaultDevServer> server;
};

} // namespace

TEST_F(ExportCommand, WavWithTranscriptsLeavesTheArchiveAsItWas)
{
    importAndPush();
    // Something that only looks like a recording is skipped with a sentence, not exported.
    TestSupport::writeFile(root() + u"/导入/20251203-080000.ogg"_s, "not audio at all");
    const QMap<QString, QByteArray> before = digestTree(root());

    const auto run = kestrel({u"export"_s, u"--archive-root"_s, root(), u"--to"_s, out(),
                              u"--format"_s, u"wav"_s, u"--transcripts"_s});
    EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
    EXPECT_TRUE(run.err.contains(u"跳过「20251203-080000」："_s)) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains(u"导出了 3 条录音、2 份转写到 "_s)) << run.out.toStdString();
    EXPECT_EQ(digestTree(root()), before);

    const QStringList written = QDir(out()).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(written.filter(u".wav"_s).size(), 3) << written.join(u' ').toStdString();
    EXPECT_EQ(written.filter(u".srt"_s).size(), 2);
    EXPECT_EQ(written.filter(u".part"_s).size(), 0);
    for (const QString& name : written.filter(u".wav"_s)) {
        EXPECT_TRUE(name.startsWith(u"2025-12-03 "_s)) << name.toStdString();
        AudioFileReader wav(out() + u'/' + name);
        EXPECT_EQ(wav.sampleRate(), 16000);
        const double seconds = double(wav.length()) / wav.sampleRate();
        // The raw files hold 251, 282 and 150 packets of 20 ms; the decoder drops its pre-skip.
        const std::array<double, 3> lengths{5.02, 5.64, 3.0};
        const bool known = std::any_of(lengths.begin(), lengths.end(),
                                       [&](double s) { return std::abs(seconds - s) < 0.02; });
        EXPECT_TRUE(known) << name.toStdString() << " " << seconds;
    }
    const QString srtName = written.filter(u".srt"_s).first();
    const QString srt = QString::fromUtf8(TestSupport::readFile(out() + u'/' + srtName));
    EXPECT_TRUE(srt.startsWith(u"1\n00:00:00,000 --> "_s)) << srt.toStdString();
    EXPECT_TRUE(srt.contains(u"S2：好的，我先说一下上周完成的部分。"_s)) << srt.toStdString();
    const QString txtName = srtName.chopped(4) + u".txt"_s;
    EXPECT_TRUE(TestSupport::readFile(out() + u'/' + txtName).contains("[00:00] S1："));

    // A second export into the same folder never overwrites: every name gets a suffix.
    const auto again = kestrel(
        {u"export"_s, u"--archive-root"_s, root(), u"--to"_s, out(), u"--format"_s, u"wav"_s});
    EXPECT_EQ(again.exitCode, 1); // the damaged file again
    const QStringList wavs = QDir(out()).entryList({u"*.wav"_s}, QDir::Files);
    EXPECT_EQ(wavs.size(), 6);
    EXPECT_FALSE(wavs.filter(u" (2).wav"_s).isEmpty()); // the untitled one met its earlier copy
    // As they are, the recordings need no suffix; the damaged one is refused here too.
    const auto ogg = kestrel({u"export"_s, u"--archive-root"_s, root(), u"--to"_s, out()});
    EXPECT_TRUE(ogg.err.contains(u"跳过「20251203-080000」："_s)) << ogg.err.toStdString();
    EXPECT_EQ(QDir(out()).entryList({u"*.ogg"_s}, QDir::Files).size(), 3);
    EXPECT_EQ(digestTree(root()), before);
}

TEST_F(ExportCommand, FiltersAndRefusals)
{
    importAndPush();
    struct Case {
        QStringList args;
        int exitCode;
        QString says;
    };
    const QList<Case> cases{
        {{u"--since"_s, u"2025-12-04"_s}, 0, u"导出了 0 条录音到 "_s},
        {{u"--since"_s, u"2025-12-03"_s}, 0, u"导出了 3 条录音到 "_s},
        {{u"--since"_s, u"12/03"_s}, 2, u"看不懂的日期：12/03"_s},
        {{u"--format"_s, u"mp3"_s}, 2, u"不认识的格式：mp3"_s},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        QTemporaryDir target;
        const auto run = kestrel(
            QStringList{u"export"_s, u"--archive-root"_s, root(), u"--to"_s, target.path()} +
            c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << run.err.toStdString();
        const QString said = run.out + run.err;
        EXPECT_TRUE(said.contains(c.says)) << said.toStdString();
    }
    const auto inside =
        kestrel({u"export"_s, u"--archive-root"_s, root(), u"--to"_s, root() + u"/导入/copies"_s});
    EXPECT_EQ(inside.exitCode, 2);
    EXPECT_TRUE(inside.err.contains(u"导出目录不能在归档目录里面"_s));
    const auto missing = kestrel({u"export"_s, u"--archive-root"_s, root()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains(u"缺少导出目录"_s));
}

// Everything the archive holds is exported or named: the pen's own WAV and a stranded CAF as
// they are, or converted; what is no recording is named and the exit status says so. Nothing in
// the target folder is replaced or deleted, and a relative target with a colon works.
TEST_F(ExportCommand, ExportsEveryKindAndTouchesNothingInTheTarget)
{
    const QString dest = root() + u"/导入/"_s;
    const auto samples = AudioFixtures::tone(16000, 300, 1.0, [](qint64) { return 0.3f; });
    TestSupport::writeFile(dest + u"20251203-090000.wav"_s, AudioFixtures::wav(16000, samples));
    TestSupport::writeFile(dest + u"20251203-100000.caf"_s, AudioFixtures::caf(16000, samples));
    TestSupport::writeFile(dest + u"20251203-110000.bin"_s, "a container nobody knows");
    const QString target = dir.path() + u"/exports:wav"_s;
    // The user's own files, under the names the export would reach first or use for scratch.
    const QMap<QString, QByteArray> mine{
        {u"2025-12-03 090000 20251203-090000.wav.part"_s, "mine"},
        {u"2025-12-03 090000 20251203-090000.WAV"_s, "mine too"},
        {u"2025-12-03 100000 20251203-100000.caf.part"_s, "also mine"},
    };
    for (auto it = mine.cbegin(); it != mine.cend(); ++it)
        TestSupport::writeFile(target + u'/' + it.key(), it.value());

    const auto check = [&](const QStringList& format, const QStringList& expected) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(u"XDG_DATA_HOME"_s, dir.path() + u"/data"_s);
        const QString previous = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const auto run = TestSupport::runProgram(
            QStringLiteral(KESTREL_BIN),
            QStringList{u"export"_s, u"--archive-root"_s, root(), u"--to"_s, u"exports:wav"_s} +
                format,
            {}, env);
        QDir::setCurrent(previous);
        EXPECT_EQ(run.exitCode, 1) << run.out.toStdString() << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(u"跳过「20251203-110000」：不是认得的录音格式（.bin）"_s))
            << run.err.toStdString();
        EXPECT_TRUE(run.out.contains(u"导出了 2 条录音到 exports:wav；1 项没导出"_s))
            << run.out.toStdString();
        for (const QString& name : expected) {
            const auto r = AudioFileReader::tryOpen(target + u'/' + name);
            ASSERT_NE(r, nullptr) << name.toStdString();
            EXPECT_EQ(r->length(), 16000) << name.toStdString();
        }
    };
    check({u"--format"_s, u"wav"_s}, {u"2025-12-03 090000 20251203-090000 (2).wav"_s,
                                      u"2025-12-03 100000 20251203-100000.wav"_s});
    check({}, {u"2025-12-03 090000 20251203-090000 (3).wav"_s,
               u"2025-12-03 100000 20251203-100000.caf"_s});
    for (auto it = mine.cbegin(); it != mine.cend(); ++it)
        EXPECT_EQ(TestSupport::readFile(target + u'/' + it.key()), it.value());
    EXPECT_EQ(QDir(target).entryList(QDir::Files | QDir::Hidden).size(), mine.size() + 4);
}
