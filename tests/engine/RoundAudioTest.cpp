// What a round does with the audio it archived, on the real analysers.

#include "EngineHarness.h"
#include "audio/AudioTranscode.h"
#include "audio/Waveform.h"
#include "support/AudioFixtures.h"
#include "support/TestSupport.h"
#include "sync/EngineAudio.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(RoundAudio, ScreensEachImportAndCachesItsWaveform)
{
    EngineHarness h;
    EngineAudio::install(h.engine().hooks(), h.paths().root());
    h.pen().addFile(
        u"20251203-090000.opus"_s,
        TestSupport::readFile(QStringLiteral(ENGINE_FIXTURES) + u"/audio/20251203-090000.raw"_s));
    // Six seconds of a 100 Hz hum whose level wanders, as the pen would store it.
    const auto level = [](qint64 i) {
        const qint64 frame = i / 1024;
        return frame % 10 == 0 ? 0.01f : 0.2f + 0.02f * float(frame % 7);
    };
    const QByteArray hum = AudioFixtures::penPackets(AudioFixtures::tone(16000, 100, 6, level));
    ASSERT_EQ(hum.size(), 300 * 40);
    h.pen().addFile(u"20251203-110000.opus"_s, hum);

    h.round();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !h.engine().analysing(); }));

    EXPECT_EQ(h.engine().lastSummary(), u"导入 2 条"_s);
    ASSERT_EQ(h.engine().notes().voiceReports().size(), 2);
    EXPECT_TRUE(h.engine().notes().voiceReports().value(u"20251203-090000"_s).isLikelySpeech);
    const VoiceActivity::Report humReport =
        h.engine().notes().voiceReports().value(u"20251203-110000"_s);
    EXPECT_FALSE(humReport.isLikelySpeech);
    EXPECT_EQ(h.loggedCount(u"语音检测："_s), 1);
    EXPECT_TRUE(h.logged(u"语音检测：20251203-110000 疑似没有人声——"_s + humReport.reason +
                         u"（仅记录，未拦截）"_s));
    EXPECT_TRUE(humReport.reason.startsWith(u"整段是一个音高不变的嗡鸣"_s))
        << humReport.reason.toStdString();
    for (const QString& base : {u"20251203-090000"_s, u"20251203-110000"_s}) {
        const auto bars = Waveform::cached(base, h.paths().root());
        ASSERT_TRUE(bars.has_value()) << base.toStdString();
        EXPECT_EQ(*std::max_element(bars->begin(), bars->end()), 1.0f);
    }
}

TEST(RoundAudio, StartConvertsStrandedRecordings)
{
    EngineHarness h;
    EngineAudio::install(h.engine().hooks(), h.paths().root());
    h.paths().ensureDirs();
    const QString dest = h.paths().dest() + u'/';
    TestSupport::writeFile(
        dest + u"a.caf"_s,
        AudioFixtures::caf(48000,
                           AudioFixtures::tone(48000, 300, 1.5, [](qint64) { return 0.3f; })));
    TestSupport::writeFile(dest + u"b.caf"_s, "caff, but cut off");
    // c's conversion was cut short and left an .m4a that does not read: it is done again. d's
    // finished, only the .caf was not yet removed: the .m4a stays as it is.
    const QByteArray cafBytes = AudioFixtures::caf(
        16000, AudioFixtures::tone(16000, 300, 1.0, [](qint64) { return 0.3f; }));
    TestSupport::writeFile(dest + u"c.caf"_s, cafBytes);
    TestSupport::writeFile(dest + u"c.m4a"_s, QByteArray("\0\0\0\x18"
                                                         "ftypM4A ",
                                                         12));
    TestSupport::writeFile(dest + u"d.caf"_s, cafBytes);
    ASSERT_NO_THROW(AudioTranscode::toM4A(dest + u"d.caf"_s));
    const QByteArray dM4a = TestSupport::readFile(dest + u"d.m4a"_s);

    h.engine().start();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.loggedCount(u"补转"_s) == 4; }));
    h.engine().stop();

    EXPECT_TRUE(h.logged(u"补转搁浅录音 c → m4a（1.0 秒）"_s));
    EXPECT_FALSE(QFile::exists(dest + u"c.caf"_s));
    EXPECT_NEAR(AudioTranscode::duration(dest + u"c.m4a"_s).value_or(0), 1.0, 0.1);
    EXPECT_EQ(h.loggedCount(u"补转搁浅录音 d → m4a"_s), 1);
    EXPECT_EQ(TestSupport::readFile(dest + u"d.m4a"_s), dM4a);
    EXPECT_FALSE(QFile::exists(dest + u"d.caf"_s));
    EXPECT_TRUE(h.logged(u"补转搁浅录音 a → m4a（1.5 秒）"_s));
    EXPECT_FALSE(QFile::exists(dest + u"a.caf"_s));
    EXPECT_GT(AudioTranscode::duration(dest + u"a.m4a"_s).value_or(0), 1.4);
    EXPECT_EQ(h.loggedCount(u"补转 b 失败：读不了源文件："_s), 1);
    EXPECT_TRUE(QFile::exists(dest + u"b.caf"_s));
    EXPECT_FALSE(QFile::exists(dest + u"b.m4a"_s));
}

// An analysis that throws (a hostile file, memory refused) still counts as over, so `--once`
// exits, and says which recording and why.
TEST(RoundAudio, AnAnalysisThatThrowsEndsAndIsLogged)
{
    EngineHarness h;
    h.engine().hooks().screenSpeech = [](const QString&) -> std::optional<VoiceActivity::Report> {
        throw std::bad_alloc();
    };
    h.engine().hooks().cacheWaveform = [](const QString&, const QString&) {
        throw std::runtime_error("disk gone");
    };
    int finished = 0;
    QObject::connect(&h.engine(), &SyncEngine::analysesFinished, [&] { ++finished; });
    h.pen().addFile(
        u"20251203-090000.opus"_s,
        TestSupport::readFile(QStringLiteral(ENGINE_FIXTURES) + u"/audio/20251203-090000.raw"_s));

    h.round();
    // A job that ends before the next starts signals once each; what counts is that none is
    // left running.
    ASSERT_TRUE(TestSupport::spinUntil([&] { return finished >= 1 && !h.engine().analysing(); }));
    EXPECT_EQ(h.engine().lastSummary(), u"导入 1 条"_s);
    EXPECT_EQ(h.loggedCount(u"语音检测：20251203-090000 分析失败——"_s), 1);
    EXPECT_EQ(h.loggedCount(u"波形：20251203-090000 算不出来——disk gone"_s), 1);
}
