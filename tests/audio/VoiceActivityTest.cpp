#include "audio/VoiceActivity.h"

#include "audio/Spectrum.h"
#include "support/AudioFixtures.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <random>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString fixtures = QStringLiteral(KESTREL_FIXTURES);

// Screens samples written as a float WAV file.
VoiceActivity::Report screen(int rate, const std::vector<float>& samples)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"a.wav"_s);
    TestSupport::writeFile(path, AudioFixtures::wav(rate, samples));
    const auto report = VoiceActivity::analyze(path);
    EXPECT_TRUE(report.has_value());
    return report.value_or(VoiceActivity::Report{});
}

// Noise with all its energy between about 6 and 8 kHz at 16 kHz: smoothed white noise (a low
// pass) shifted up to the top of the band by flipping every other sample.
std::vector<float> highNoise(double seconds)
{
    std::mt19937 gen(7);
    std::normal_distribution<float> white(0, 0.3f);
    std::vector<float> x(size_t(seconds * 16000));
    for (float& v : x)
        v = white(gen);
    for (int pass = 0; pass < 3; ++pass) {
        std::vector<float> y(x.size(), 0);
        for (size_t i = 0; i < x.size(); ++i) {
            for (size_t k = 0; k < 8 && k <= i; ++k)
                y[i] += x[i - k] / 8;
        }
        x = std::move(y);
    }
    for (size_t i = 1; i < x.size(); i += 2)
        x[i] = -x[i];
    return x;
}

} // namespace

TEST(Spectrum, BandEdgesAndPitchRangeFollowTheSampleRate)
{
    struct Case {
        double rate;
        int bLow, b1k, b3k, b34k, b8k, lagMin, lagMax;
    };
    for (const Case c : {Case{16000, 38, 128, 384, 435, 1024, 45, 228},
                         Case{48000, 13, 43, 128, 145, 341, 137, 640}}) {
        const auto s = Spectrum::make(1024, 2048, c.rate);
        ASSERT_NE(s, nullptr);
        EXPECT_EQ(std::vector({s->bLow(), s->b1k(), s->b3k(), s->b34k(), s->b8k()}),
                  std::vector({c.bLow, c.b1k, c.b3k, c.b34k, c.b8k}))
            << c.rate;
        EXPECT_EQ(s->lagMin(), c.lagMin) << c.rate;
        EXPECT_EQ(s->lagMax(), c.lagMax) << c.rate; // excluded
    }
    EXPECT_EQ(Spectrum::make(32, 64, 16000), nullptr);
    EXPECT_EQ(Spectrum::make(1024, 1000, 16000), nullptr);
    EXPECT_EQ(Spectrum::make(1024, 3072, 16000), nullptr);
}

TEST(VoiceActivity, PercentileTakesTheTruncatedIndex)
{
    EXPECT_EQ(VoiceActivity::percentile({5, 1, 3}, 0.85), 3); // index trunc(1.7) = 1
    EXPECT_EQ(VoiceActivity::percentile({5, 1, 3}, 1.0), 5);
    EXPECT_EQ(VoiceActivity::percentile({5, 1, 3}, 0.0), 1);
    EXPECT_EQ(VoiceActivity::percentile({}, 0.5), 0);
}

// Up to two unvoiced frames inside a voiced stretch are bridged; a third ends it, and a run's
// trailing gap does not count.
TEST(VoiceActivity, LongestRunBridgesShortGaps)
{
    struct Case {
        const char* frames; // V voiced, u unvoiced, . quiet
        int longest;
    };
    for (const Case c : {Case{"VuuV", 4}, Case{"VuuuV", 1}, Case{"VVuVVuuuV", 5}, Case{"uuVuu", 1},
                         Case{"V.V", 3}, Case{"uuuu", 0}}) {
        VoiceActivity::Scan s;
        s.sampleRate = 16000;
        s.rms = 0.1;
        // Ten quiet frames set a low noise floor, so every loud frame is active.
        const std::string frames = std::string(c.frames) + std::string(10, '.');
        s.sampleCount = qint64(frames.size()) * 1024;
        for (const char f : frames) {
            s.frameRMS.push_back(f == '.' ? 0.0001f : 0.2f);
            s.harmonicity.push_back(f == 'V' ? 0.9f : 0.1f);
            s.pitchLag.push_back(f == 'V' ? 100 : 0);
            for (auto* v : {&s.low, &s.speech, &s.core})
                v->push_back(0.3f);
        }
        const VoiceActivity::Report r = VoiceActivity::report(s);
        EXPECT_DOUBLE_EQ(r.longestVoicedRun, c.longest * 1024 / 16000.0) << c.frames;
    }
}

TEST(VoiceActivity, VerdictsAndTheirSentences)
{
    struct Case {
        const char* name;
        VoiceActivity::Evidence e;
        bool speech;
        QString reason;
    };
    const Case cases[] = {
        {"silence",
         {.rms = 0.00079},
         false,
         u"整段几乎无声（RMS 0.00079），推上去也识别不到语音"_s},
        {"hum",
         {.rms = 0.1,
          .voicedSeconds = 5,
          .voicedFrames = 30,
          .concentration = 0.86,
          .offPitchSeconds = 0.9},
         false,
         u"整段是一个音高不变的嗡鸣（86% 的帧基频相同），不是人说话"_s},
        {"a steady voice is speech once off-pitch time reaches a second",
         {.rms = 0.1,
          .voicedRatio = 0.5,
          .activeVoicedRatio = 0.6,
          .voicedSeconds = 5,
          .longestVoiced = 2.24,
          .voicedFrames = 80,
          .concentration = 0.9,
          .offPitchSeconds = 1.0},
         true,
         u"检测到约 5.0 秒人声（占全片 50%，最长一段 2.2 秒）"_s},
        {"a little voice among much sound is speech",
         {.rms = 0.1, .activeVoicedRatio = 0.01, .voicedSeconds = 1.0},
         true,
         u"检测到约 1.0 秒人声（占全片 0%，最长一段 0.0 秒）"_s},
        {"rumble",
         {.rms = 0.1,
          .lowRatio = 0.9,
          .coreRatio = 0.01,
          .activeVoicedRatio = 0.019,
          .voicedSeconds = 0.5},
         false,
         u"全片只有 0.5 秒像人声（有声音的部分里才占 2%），能量几乎全压在低频（300Hz 以下占 90%、1–3kHz 只占 1%）"_s},
        {"hiss",
         {.rms = 0.1, .lowRatio = 0.45},
         false,
         u"全片只有 0.0 秒像人声（有声音的部分里才占 0%），频谱里找不到人声的基频结构"_s},
    };
    for (const Case& c : cases) {
        const VoiceActivity::Verdict v = VoiceActivity::judge(c.e);
        EXPECT_EQ(v.isLikelySpeech, c.speech) << c.name;
        EXPECT_EQ(v.reason, c.reason) << c.name;
    }
}

TEST(VoiceActivity, SilenceIsReportedWithItsRms)
{
    const auto r = screen(16000, std::vector<float>(32000, 0.0f));
    EXPECT_FALSE(r.isLikelySpeech);
    EXPECT_EQ(r.reason, u"整段几乎无声（RMS 0.00000），推上去也识别不到语音"_s);
    EXPECT_EQ(r.duration, 2.0);
    EXPECT_EQ(r.crest, 0.0);
    EXPECT_EQ(r.metricsLine(),
              u"    2.0s 低频  0.0% 语音带  0.0% 1-3k  0.0% 人声  0.0%/活跃  0.0%(   "
              u"0.0s 最长 0.0s) 基频集中  0.0% rms0.00000 峰值因数   0.0"_s);
}

// Every frame of a steady tone has the same level, so none stands out as active: no voiced
// frame, and the low-frequency explanation rather than the hum verdict.
TEST(VoiceActivity, SteadyLowToneIsNoSpeechByItsLowFrequencies)
{
    const auto r = screen(16000, AudioFixtures::tone(16000, 100, 10, [](qint64) { return 0.3f; }));
    EXPECT_FALSE(r.isLikelySpeech);
    EXPECT_EQ(r.voicedFrameCount, 0);
    EXPECT_GT(r.lowBandRatio, 0.95);
    EXPECT_TRUE(r.reason.startsWith(
        u"全片只有 0.0 秒像人声（有声音的部分里才占 0%），能量几乎全压在低频（300Hz 以下占 "_s))
        << r.reason.toStdString();
}

// A level that moves makes most frames active; each holds the same 100 Hz period.
TEST(VoiceActivity, PulsingLowToneIsAHum)
{
    const auto level = [](qint64 i) {
        const qint64 frame = i / 1024;
        return frame % 10 == 0 ? 0.01f : 0.2f + 0.02f * float(frame % 7);
    };
    const auto r = screen(16000, AudioFixtures::tone(16000, 100, 6, level));
    EXPECT_FALSE(r.isLikelySpeech);
    EXPECT_GE(r.voicedFrameCount, 30);
    EXPECT_EQ(r.pitchConcentration, 1.0);
    EXPECT_EQ(r.reason, u"整段是一个音高不变的嗡鸣（100% 的帧基频相同），不是人说话"_s);
}

TEST(VoiceActivity, AudioShorterThanAFrameHasNoFrames)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(u"a.wav"_s);
    TestSupport::writeFile(
        path, AudioFixtures::wav(
                  16000, AudioFixtures::tone(16000, 100, 0.05, [](qint64) { return 0.3f; })));
    const auto s = VoiceActivity::scan(path);
    ASSERT_TRUE(s.has_value());
    EXPECT_EQ(s->sampleCount, 800);
    EXPECT_TRUE(s->frameRMS.empty());
    const auto r = VoiceActivity::report(*s);
    EXPECT_FALSE(r.isLikelySpeech);
    EXPECT_EQ(r.reason,
              u"全片只有 0.0 秒像人声（有声音的部分里才占 0%），频谱里找不到人声的基频结构"_s);
}

TEST(VoiceActivity, NoiseAboveTheSpeechBandHasNoVoice)
{
    const auto r = screen(16000, highNoise(5));
    EXPECT_LT(r.lowBandRatio, 0.01);
    EXPECT_LT(r.speechBandRatio, 0.01);
    EXPECT_EQ(r.voicedFrameCount, 0);
    EXPECT_FALSE(r.isLikelySpeech);
}

TEST(VoiceActivity, SpeechIsFoundAloneAndUnderRumble)
{
    const QString ogg = fixtures + u"/audio/speech-opusenc.ogg"_s;
    const auto clean = VoiceActivity::analyze(ogg);
    ASSERT_TRUE(clean.has_value());
    EXPECT_TRUE(clean->isLikelySpeech) << clean->reason.toStdString();
    EXPECT_GE(clean->voicedSeconds, 1.0);
    EXPECT_NEAR(clean->duration, 86900 / 16000.0, 1e-9);

    // Low rumble (smoothed noise, mostly below 100 Hz) several times louder than the voice.
    std::vector<float> mixed = AudioFixtures::decode(ogg);
    ASSERT_EQ(mixed.size(), 86900u);
    std::mt19937 gen(3);
    std::normal_distribution<float> white(0, 1);
    float rumble = 0;
    for (float& v : mixed) {
        rumble = 0.98f * rumble + 0.02f * white(gen);
        v += 2.0f * rumble;
    }
    const auto noisy = screen(16000, mixed);
    EXPECT_TRUE(noisy.isLikelySpeech) << noisy.reason.toStdString();
    EXPECT_GT(noisy.lowBandRatio, 0.5);
}

TEST(VoiceActivity, UnreadableFilesHaveNoReport)
{
    QTemporaryDir dir;
    TestSupport::writeFile(dir.filePath(u"junk.ogg"_s), "not audio at all");
    EXPECT_FALSE(VoiceActivity::analyze(dir.filePath(u"junk.ogg"_s)).has_value());
    EXPECT_FALSE(VoiceActivity::analyze(dir.filePath(u"missing.ogg"_s)).has_value());
}
