#include "audio/AudioTranscode.h"

#include "audio/AudioFileReader.h"
#include "audio/AudioFileWriter.h"
#include "support/AudioFixtures.h"
#include "support/ScratchDisk.h"
#include "support/TestSupport.h"
#include "sync/FileError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace Qt::Literals::StringLiterals;
using AudioTranscode::TranscodeError;

namespace {

// Passes samples on to the real AAC writer, but only up to `keep` frames.
class Truncating : public AudioEncoder {
public:
    Truncating(std::unique_ptr<AudioEncoder> inner, qint64 keep)
        : m_inner(std::move(inner)), m_keep(keep)
    {}
    void write(const float* samples, qint64 frames) override
    {
        const qint64 n = std::min(frames, m_keep);
        m_keep -= n;
        if (n > 0)
            m_inner->write(samples, n);
    }
    void finish() override { m_inner->finish(); }

private:
    std::unique_ptr<AudioEncoder> m_inner;
    qint64 m_keep;
};

// Writes everything through the real writer, but the process "dies" before it finishes.
class Killed : public AudioEncoder {
public:
    Killed(std::unique_ptr<AudioEncoder> inner, std::function<void()> meanwhile)
        : m_inner(std::move(inner)), m_meanwhile(std::move(meanwhile))
    {}
    void write(const float* samples, qint64 frames) override
    {
        m_inner->write(samples, frames);
        m_meanwhile();
    }
    void finish() override { throw std::runtime_error("killed"); }

private:
    std::unique_ptr<AudioEncoder> m_inner;
    std::function<void()> m_meanwhile;
};

class AudioTranscodeTest : public ::testing::Test {
protected:
    QString caf(const QString& name, int rate, double seconds)
    {
        const QString path = dir.filePath(name);
        TestSupport::writeFile(
            path, AudioFixtures::caf(
                      rate, AudioFixtures::tone(rate, 400, seconds, [](qint64) { return 0.5f; })));
        return path;
    }

    // Makes AAC encoders, noting each rate asked for; rates in `refused` are refused.
    AudioTranscode::EncoderFactory recording(std::vector<int> refused = {}, qint64 keep = -1)
    {
        return [this, refused, keep](const QString& path, int rate,
                                     int bitrate) -> std::unique_ptr<AudioEncoder> {
            attempts.push_back(bitrate);
            if (std::count(refused.begin(), refused.end(), bitrate))
                throw AudioFileWriter::WriteError(AudioFileWriter::WriteError::Kind::Refused,
                                                  u"不接受 "_s + QString::number(bitrate));
            auto aac = AudioTranscode::aacEncoder(path, rate, bitrate);
            if (keep < 0)
                return aac;
            return std::make_unique<Truncating>(std::move(aac), keep);
        };
    }

    QTemporaryDir dir;
    std::vector<int> attempts;
};

} // namespace

TEST_F(AudioTranscodeTest, ConvertsBesideTheSourceAndReplacesAnOldResult)
{
    const QString source = caf(u"a.caf"_s, 48000, 1.5);
    TestSupport::writeFile(dir.filePath(u"a.m4a"_s), "an older, broken conversion");
    const QByteArray before = TestSupport::readFile(source);

    const auto result = AudioTranscode::toM4A(source, std::nullopt, recording());

    EXPECT_EQ(result.url, dir.filePath(u"a.m4a"_s));
    EXPECT_EQ(result.seconds, 1.5);
    EXPECT_EQ(attempts, std::vector<int>{64000});
    EXPECT_EQ(TestSupport::readFile(source), before);
    EXPECT_TRUE(TestSupport::readFile(result.url).mid(4, 4) == "ftyp");
    AudioFileReader m4a(result.url);
    EXPECT_EQ(m4a.sampleRate(), 48000.0);
    EXPECT_EQ(m4a.channelCount(), 1);
    EXPECT_NEAR(double(m4a.length()), 72000.0, 1024.0);
    const std::vector<float> decoded = AudioFixtures::decode(result.url);
    double energy = 0;
    for (const float v : decoded)
        energy += double(v) * v;
    EXPECT_NEAR(std::sqrt(energy / double(decoded.size())), 0.5 / std::sqrt(2.0), 0.03);
    EXPECT_NEAR(AudioTranscode::duration(result.url).value_or(0), 1.5, 0.03);
    EXPECT_EQ(AudioTranscode::duration(source), 1.5);
}

// A given rate comes first; a refused rate falls through to the ladder. The seconds are the
// source's even when the encoded file is shorter.
// Whenever the conversion stops, the name holds the old file or the complete new one: never a
// half-written file a later start would take for a finished conversion.
TEST_F(AudioTranscodeTest, TheNameNeverHoldsAHalfWrittenFile)
{
    const QString source = caf(u"e.caf"_s, 16000, 3.0);
    const QString destination = dir.filePath(u"e.m4a"_s);
    TestSupport::writeFile(destination, "an older conversion");
    std::vector<QByteArray> seen;
    const auto killed = [&](const QString& path, int rate, int bitrate) {
        return std::make_unique<Killed>(AudioTranscode::aacEncoder(path, rate, bitrate), [&] {
            seen.push_back(TestSupport::readFile(destination));
        });
    };
    EXPECT_THROW(AudioTranscode::toM4A(source, std::nullopt, killed), std::runtime_error);
    ASSERT_FALSE(seen.empty());
    for (const QByteArray& bytes : seen)
        EXPECT_EQ(bytes, "an older conversion");
    EXPECT_EQ(TestSupport::readFile(destination), "an older conversion");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{u"e.caf"_s, u"e.m4a"_s}));
}

TEST_F(AudioTranscodeTest, StepsDownTheLadderAndReportsTheSourceLength)
{
    const QString source = caf(u"b.caf"_s, 16000, 3.0);
    const auto result = AudioTranscode::toM4A(source, 96000, recording({96000}, 16000));
    EXPECT_EQ(attempts, (std::vector<int>{96000, 64000}));
    EXPECT_EQ(result.seconds, 3.0);
    EXPECT_NEAR(AudioTranscode::duration(result.url).value_or(0), 1.0, 0.1);
}

TEST_F(AudioTranscodeTest, FailuresLeaveNoDestination)
{
    const QString source = caf(u"c.caf"_s, 16000, 1.0);
    const QString destination = dir.filePath(u"c.m4a"_s);

    // Every rate refused: the encoder's last error.
    try {
        AudioTranscode::toM4A(source, std::nullopt, recording({64000, 48000, 32000, 24000, 16000}));
        FAIL() << "no error";
    } catch (const AudioFileWriter::WriteError& e) {
        EXPECT_EQ(e.description(), u"不接受 16000"_s);
    }
    EXPECT_EQ(attempts, (std::vector<int>{64000, 48000, 32000, 24000, 16000}));
    EXPECT_FALSE(QFile::exists(destination));

    // Encoders that produce no audio at all.
    attempts.clear();
    try {
        AudioTranscode::toM4A(source, std::nullopt, recording({}, 0));
        FAIL() << "no error";
    } catch (const TranscodeError& e) {
        EXPECT_EQ(e.kind(), TranscodeError::Kind::EmptyOutput);
        EXPECT_EQ(e.description(), u"转码输出是空的"_s);
    }
    EXPECT_EQ(attempts.size(), 5u);
    EXPECT_FALSE(QFile::exists(destination));
    EXPECT_TRUE(QFile::exists(source));
}

TEST_F(AudioTranscodeTest, AFullDiskStopsAtOnceWithItsSentenceAndLeavesNoDestination)
{
    ScratchDisk disk(2 * 1024 * 1024);
    if (!disk.problem().empty())
        GTEST_SKIP() << disk.problem();
    const QString source = disk.path() + u"/d.caf"_s;
    TestSupport::writeFile(
        source, AudioFixtures::caf(
                    16000, AudioFixtures::tone(16000, 400, 10.0, [](qint64) { return 0.5f; })));
    ASSERT_TRUE(disk.fillLeaving(8 * 1024));

    try {
        AudioTranscode::toM4A(source, std::nullopt, recording());
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_EQ(e.kind(), FileError::Kind::DiskFull);
        EXPECT_TRUE(e.description().startsWith(u"磁盘满了：文件夹 "_s + disk.path() +
                                               u" 所在的磁盘没有空间了，d.m4a 写不进去。"_s))
            << e.description().toStdString();
    }
    EXPECT_EQ(attempts, std::vector<int>{64000}); // a lower bit rate would not fit either
    EXPECT_FALSE(QFile::exists(disk.path() + u"/d.m4a"_s));
    EXPECT_TRUE(QFile::exists(source));
}

TEST_F(AudioTranscodeTest, EmptyOrUnreadableSourcesAreRefusedBeforeEncoding)
{
    const QString empty = dir.filePath(u"empty.caf"_s);
    TestSupport::writeFile(empty, AudioFixtures::caf(48000, {}));
    const QString junk = dir.filePath(u"junk.caf"_s);
    TestSupport::writeFile(junk, "caff but nothing else");

    try {
        AudioTranscode::toM4A(empty, std::nullopt, recording());
        FAIL() << "no error";
    } catch (const TranscodeError& e) {
        EXPECT_EQ(e.kind(), TranscodeError::Kind::EmptyOutput);
    }
    try {
        AudioTranscode::toM4A(junk, std::nullopt, recording());
        FAIL() << "no error";
    } catch (const TranscodeError& e) {
        EXPECT_EQ(e.kind(), TranscodeError::Kind::Unreadable);
        EXPECT_TRUE(e.description().startsWith(u"读不了源文件："_s)) << e.what();
    }
    EXPECT_TRUE(attempts.empty());
    EXPECT_FALSE(QFile::exists(dir.filePath(u"empty.m4a"_s)));
    EXPECT_FALSE(QFile::exists(dir.filePath(u"junk.m4a"_s)));
    EXPECT_EQ(AudioTranscode::duration(empty), std::nullopt);
    EXPECT_EQ(AudioTranscode::duration(junk), std::nullopt);
}
