#include "audio/Waveform.h"

#include "support/AudioFixtures.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace Qt::Literals::StringLiterals;

namespace {

class WaveformTest : public ::testing::Test {
protected:
    QString audio(const std::vector<float>& samples)
    {
        const QString path = dir.filePath(u"a.wav"_s);
        TestSupport::writeFile(path, AudioFixtures::wav(8000, samples));
        return path;
    }
    nlohmann::json cacheFile(const QString& base)
    {
        const QByteArray bytes = TestSupport::readFile(Waveform::cacheURL(base, dir.path()));
        return nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    }

    QTemporaryDir dir;
};

} // namespace

// Fewer frames than bars: one sample per bar, the rest stay empty.
TEST_F(WaveformTest, ShortFileFillsOneBarPerSample)
{
    std::vector<float> samples(100);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = (i % 2 ? -0.5f : 0.5f) * float(i + 1) / 100.0f;
    const auto bars = Waveform::compute(audio(samples), Waveform::barCount);
    ASSERT_TRUE(bars.has_value());
    ASSERT_EQ(bars->size(), 160u);
    for (size_t i = 0; i < 100; ++i)
        EXPECT_FLOAT_EQ((*bars)[i], float(i + 1) / 100.0f) << i;
    for (size_t i = 100; i < 160; ++i)
        EXPECT_EQ((*bars)[i], 0.0f) << i;
}

// 1,000,000 frames: 6250 per bar; each bar's marker lands in its own bar, and the loudest bar,
// the last (which runs to the end of the file), is exactly 1.
TEST_F(WaveformTest, LongFileSplitsIntoEqualStretches)
{
    std::vector<float> samples(1'000'000, 0.0f);
    for (size_t bar = 0; bar < 160; ++bar)
        samples[bar * 6250 + 6249] = float(bar + 1) / 200.0f;
    samples.back() = 0.9f;
    const auto bars = Waveform::compute(audio(samples), Waveform::barCount);
    ASSERT_TRUE(bars.has_value());
    ASSERT_EQ(bars->size(), 160u);
    for (size_t bar = 0; bar < 159; ++bar)
        EXPECT_FLOAT_EQ((*bars)[bar], float(bar + 1) / 200.0f / 0.9f) << bar;
    EXPECT_EQ(bars->back(), 1.0f);
}

TEST_F(WaveformTest, LastBarTakesTheRemainder)
{
    std::vector<float> samples(1000 * 160 + 999, 0.1f);
    samples.back() = -0.4f; // beyond 160 whole stretches of 1000
    const auto bars = Waveform::compute(audio(samples), Waveform::barCount);
    ASSERT_TRUE(bars.has_value());
    EXPECT_EQ(bars->back(), 1.0f);
    EXPECT_FLOAT_EQ(bars->front(), 0.25f);
}

TEST_F(WaveformTest, SilenceIsCachedUnscaled)
{
    const auto bars =
        Waveform::load(u"quiet"_s, audio(std::vector<float>(5000, 0.00005f)), dir.path());
    ASSERT_TRUE(bars.has_value());
    EXPECT_EQ(*bars, std::vector<float>(160, 0.00005f));
    EXPECT_EQ(cacheFile(u"quiet"_s).size(), 160u);
    EXPECT_EQ(Waveform::cached(u"quiet"_s, dir.path()), bars);
}

TEST_F(WaveformTest, CacheIsReadFirstAndReplacedWhenMalformed)
{
    const QString path = Waveform::cacheURL(u"r1"_s, dir.path());
    EXPECT_EQ(path, dir.path() + u"/out/waveform/r1.json"_s);
    const QString source = audio(std::vector<float>(16000, 0.25f));

    // A valid cache wins even over audio that is gone.
    TestSupport::writeFile(path, nlohmann::json(std::vector<float>(160, 0.5f)).dump().c_str());
    EXPECT_EQ(Waveform::load(u"r1"_s, dir.filePath(u"gone.wav"_s), dir.path()),
              std::vector<float>(160, 0.5f));

    // 159 numbers, a number no float holds, text and junk are no cache: the next load computes
    // and replaces it.
    std::string beyondFloat = nlohmann::json(std::vector<float>(159, 0.5f)).dump();
    beyondFloat.insert(1, "1e39,");
    const std::string cases[] = {nlohmann::json(std::vector<float>(159, 0.5f)).dump(), beyondFloat,
                                 R"(["a"])", "{", "null"};
    for (const std::string& bad : cases) {
        TestSupport::writeFile(path, bad.c_str());
        EXPECT_FALSE(Waveform::cached(u"r1"_s, dir.path()).has_value()) << bad;
        EXPECT_EQ(Waveform::load(u"r1"_s, source, dir.path()), std::vector<float>(160, 1.0f))
            << bad;
        EXPECT_EQ(cacheFile(u"r1"_s), nlohmann::json(std::vector<float>(160, 1.0f))) << bad;
    }
    // Written compactly, each bar in its shortest form.
    EXPECT_TRUE(TestSupport::readFile(path).startsWith("[1.0,1.0,"));
}

TEST_F(WaveformTest, UnreadableAudioGivesNothingAndCachesNothing)
{
    TestSupport::writeFile(dir.filePath(u"junk.ogg"_s), "junk");
    EXPECT_FALSE(Waveform::load(u"j"_s, dir.filePath(u"junk.ogg"_s), dir.path()).has_value());
    EXPECT_FALSE(QFile::exists(Waveform::cacheURL(u"j"_s, dir.path())));
    EXPECT_FALSE(Waveform::compute(audio({0.5f}), 0).has_value());
}
