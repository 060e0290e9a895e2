#include "audio/AudioFileReader.h"

#include "audio/OggWrap.h"
#include "audio/VoiceActivity.h"
#include "audio/Waveform.h"
#include "support/TestSupport.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <gtest/gtest.h>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

namespace {

const QString fixtures = QStringLiteral(KESTREL_FIXTURES);

// A PCM WAV file, 16-bit integers or 32-bit floats; samples interleaved.
template <typename Sample>
QByteArray wav(quint32 rate, int channels, const std::vector<Sample>& samples)
{
    constexpr bool isFloat = std::is_floating_point_v<Sample>;
    constexpr int width = sizeof(Sample);
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    const auto dataBytes = quint32(samples.size() * width);
    s.writeRawData("RIFF", 4);
    s << quint32(36 + dataBytes);
    s.writeRawData("WAVEfmt ", 8);
    s << quint32(16) << quint16(isFloat ? 3 : 1) << quint16(channels) << rate
      << quint32(rate * quint32(channels * width)) << quint16(channels * width)
      << quint16(8 * width);
    s.writeRawData("data", 4);
    s << dataBytes;
    for (Sample v : samples) {
        s << v;
    }
    return out;
}

// The pen's recording wrapped as the importer wraps it, its last granule position replaced.
QByteArray penOgg(std::optional<qint64> lastGranule = std::nullopt)
{
    QByteArray ogg = OggWrap::wrap(
        TestSupport::readFile(fixtures + QStringLiteral("/audio/speech-188-packets.raw")), 16000,
        QStringLiteral("QX27"));
    if (lastGranule) {
        const qsizetype last = ogg.lastIndexOf("OggS");
        for (int i = 0; i < 8; ++i) {
            ogg[last + 6 + i] = char(quint64(*lastGranule) >> (8 * i));
        }
        std::fill(ogg.begin() + last + 22, ogg.begin() + last + 26, '\0');
        const uint32_t crc = OggWrap::crc(ogg.constData() + last, ogg.size() - last);
        for (int i = 0; i < 4; ++i) {
            ogg[last + 22 + i] = char(crc >> (8 * i));
        }
    }
    return ogg;
}

std::vector<float> readAll(AudioFileReader& r, qint64 block)
{
    std::vector<float> all;
    std::vector<float> buf(static_cast<size_t>(block));
    for (;;) {
        const qint64 n = r.read(buf.data(), block);
        EXPECT_GE(n, 0);
        if (n <= 0) {
            return all;
        }
        all.insert(all.end(), buf.begin(), buf.begin() + n);
    }
}

} // namespace

// An Ogg Opus file from another encoder: 86,900 samples of 16 kHz speech went in.
TEST(AudioFileReader, DecodesOggOpusAtItsOwnRateToTheExactLength)
{
    AudioFileReader r(fixtures + QStringLiteral("/audio/speech-opusenc.ogg"));
    EXPECT_EQ(r.sampleRate(), 16000.0);
    EXPECT_EQ(r.channelCount(), 1);
    EXPECT_EQ(r.length(), 86900);

    const auto all = readAll(r, 4000);
    ASSERT_EQ(qint64(all.size()), 86900);
    EXPECT_EQ(r.position(), 86900);
    double energy = 0;
    for (float v : all) {
        energy += double(v) * v;
    }
    EXPECT_GT(std::sqrt(energy / double(all.size())), 0.01); // speech, not silence

    // Rewinding and seeking give the same samples again, from where they were asked for.
    ASSERT_TRUE(r.rewind());
    EXPECT_EQ(r.position(), 0);
    std::vector<float> head(1000);
    ASSERT_EQ(r.read(head.data(), 1000), 1000);
    EXPECT_TRUE(std::equal(head.begin(), head.end(), all.begin()));

    ASSERT_TRUE(r.seek(50001));
    EXPECT_EQ(r.position(), 50001);
    const auto tail = readAll(r, 333);
    ASSERT_EQ(tail.size(), all.size() - 50001);
    EXPECT_TRUE(std::equal(tail.begin(), tail.end(), all.begin() + 50001));
}

TEST(AudioFileReader, ReadsTheFirstChannelOfOtherFormats)
{
    QTemporaryDir dir;
    std::vector<int16_t> samples;
    for (int i = 0; i < 1000; ++i) {
        samples.push_back(int16_t(i * 16)); // left: a ramp
        samples.push_back(int16_t(-12345)); // right: must not leak into the result
    }
    const QString path = dir.filePath(QStringLiteral("stereo.wav"));
    TestSupport::writeFile(path, wav<int16_t>(22050, 2, samples));

    AudioFileReader r(path);
    EXPECT_EQ(r.sampleRate(), 22050.0);
    EXPECT_EQ(r.channelCount(), 2);
    EXPECT_EQ(r.length(), 1000);
    const auto all = readAll(r, 300);
    ASSERT_EQ(all.size(), 1000u);
    for (int i = 0; i < 1000; ++i) {
        ASSERT_FLOAT_EQ(all[size_t(i)], float(i * 16) / 32768.0f) << i;
    }
    EXPECT_EQ(r.read(nullptr, 10), 0); // stays at the end
}

// A relative name with a colon would otherwise be taken for a URL scheme ("http:...").
TEST(AudioFileReader, OpensNamesThatLookLikeUrls)
{
    QTemporaryDir dir;
    TestSupport::writeFile(
        dir.filePath(QStringLiteral("http:x.ogg")),
        TestSupport::readFile(fixtures + QStringLiteral("/audio/speech-opusenc.ogg")));
    const QString previous = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const auto r = AudioFileReader::tryOpen(QStringLiteral("http:x.ogg"));
    QDir::setCurrent(previous);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(r->length(), 86900);
}

TEST(AudioFileReader, RefusesWhatIsNotAudio)
{
    QTemporaryDir dir;
    const struct {
        const char* name;
        QByteArray bytes;
    } cases[] = {
        {"empty.ogg", QByteArray()},
        {"text.ogg", QByteArray("just some words, no audio in here at all\n").repeated(20)},
        {"bad-ogg.ogg", QByteArray("OggS") + QByteArray(200, '\x5a')},
        {"raw-packets.opus",
         TestSupport::readFile(fixtures + QStringLiteral("/audio/speech-188-packets.raw"))},
    };
    for (const auto& c : cases) {
        const QString path = dir.filePath(QString::fromLatin1(c.name));
        TestSupport::writeFile(path, c.bytes);
        EXPECT_THROW(AudioFileReader{path}, AudioFileReader::OpenError) << c.name;
        EXPECT_EQ(AudioFileReader::tryOpen(path), nullptr) << c.name;
    }
    try {
        AudioFileReader r(dir.filePath(QStringLiteral("absent.ogg")));
        FAIL();
    } catch (const AudioFileReader::OpenError& e) {
        EXPECT_TRUE(e.description().startsWith(QStringLiteral("打不开音频文件："))) << e.what();
    }
}

// A container's header is outside data: a length the file cannot hold is counted instead of
// believed, an impossible rate is refused, and nothing downstream sizes memory by either.
TEST(AudioFileReader, HostileHeadersDecideNoLengthRateOrAllocation)
{
    QTemporaryDir dir;
    const QString honest = dir.filePath(QStringLiteral("honest.ogg"));
    const QString lying = dir.filePath(QStringLiteral("granule-2e62.ogg"));
    TestSupport::writeFile(honest, penOgg());
    TestSupport::writeFile(lying, penOgg(qint64(1) << 62));

    AudioFileReader truth(honest);
    AudioFileReader r(lying);
    EXPECT_EQ(r.length(), truth.length());
    EXPECT_EQ(readAll(r, 4096).size(), size_t(truth.length()));
    const auto scan = VoiceActivity::scan(lying);
    ASSERT_TRUE(scan.has_value());
    EXPECT_EQ(scan->sampleCount, truth.length());
    // Bars laid out on the claimed length would put the whole recording into the first one.
    EXPECT_EQ(Waveform::compute(lying, Waveform::barCount),
              Waveform::compute(honest, Waveform::barCount));

    const QString absurd = dir.filePath(QStringLiteral("rate.wav"));
    TestSupport::writeFile(absurd, wav<int16_t>(2147483647, 1, std::vector<int16_t>(1000, 300)));
    try {
        AudioFileReader{absurd};
        FAIL() << "an absurd rate was accepted";
    } catch (const AudioFileReader::OpenError& e) {
        EXPECT_TRUE(e.description().contains(QStringLiteral("2147483647 Hz"))) << e.what();
    }
    EXPECT_FALSE(VoiceActivity::analyze(absurd).has_value());
    EXPECT_FALSE(Waveform::compute(absurd, Waveform::barCount).has_value());
}

TEST(AudioFileReader, NumbersAFloatFileCannotMeanAreSilence)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("float.wav"));
    const float inf = std::numeric_limits<float>::infinity();
    TestSupport::writeFile(path, wav<float>(16000, 1, {0.5f, std::nanf(""), inf, -inf, -0.25f}));
    AudioFileReader r(path);
    EXPECT_EQ(readAll(r, 16), (std::vector<float>{0.5f, 0, 0, 0, -0.25f}));
}
