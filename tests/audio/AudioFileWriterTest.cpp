#include "audio/AudioFileWriter.h"

#include "audio/AudioFileReader.h"
#include "audio/Ffmpeg.h"
#include "audio/WavExport.h"
#include "support/AudioFixtures.h"
#include "support/ScratchDisk.h"
#include "support/TestSupport.h"
#include "sync/FileError.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <gtest/gtest.h>

extern "C" {
#include <libavutil/error.h>
}

using namespace Qt::Literals::StringLiterals;

namespace {

std::vector<float> second(int rate)
{
    return AudioFixtures::tone(rate, 400, 1.0, [](qint64) { return 0.5f; });
}

// Runs `body` with the working folder set to `folder`, as a user typing a relative path would.
template <typename Body> void inFolder(const QString& folder, Body body)
{
    const QString previous = QDir::currentPath();
    QDir::setCurrent(folder);
    body();
    QDir::setCurrent(previous);
}

} // namespace

// Both formats go through the same writer: a relative name with a colon is a file, not a URL
// scheme, and only a finished file shows up under its name.
TEST(AudioFileWriter, WritesBothFormatsUnderAnyNameAndOnlyWhenDone)
{
    QTemporaryDir dir;
    QDir(dir.path()).mkpath(u"exports:wav"_s);
    inFolder(dir.path(), [&] {
        for (const auto format : {AudioFileWriter::Format::Wav, AudioFileWriter::Format::M4a}) {
            const bool wav = format == AudioFileWriter::Format::Wav;
            const QString name = wav ? u"exports:wav/a.wav"_s : u"exports:wav/a.m4a"_s;
            AudioFileWriter w(name, format, 16000, 32000, AudioFileWriter::Placement::Keep);
            w.write(second(16000).data(), 16000);
            EXPECT_FALSE(QFile::exists(name));
            w.finish();
            EXPECT_EQ(w.path(), name);
            AudioFileReader r(name);
            EXPECT_EQ(r.sampleRate(), 16000);
            EXPECT_NEAR(double(r.length()), 16000, wav ? 0 : 1100);
        }
    });
    EXPECT_EQ(QDir(dir.filePath(u"exports:wav"_s)).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// What is there already stays as it is, however its name is written; a writer given up on
// leaves nothing behind.
TEST(AudioFileWriter, KeepNeverReplacesAndAnAbandonedWriterLeavesNothing)
{
    QTemporaryDir dir;
    const QString mine = dir.filePath(u"a.wav"_s);
    TestSupport::writeFile(mine, "the user's own file");
    {
        AudioFileWriter w(mine, AudioFileWriter::Format::Wav, 8000, 0,
                          AudioFileWriter::Placement::Keep);
        w.write(second(8000).data(), 8000);
        w.finish();
        EXPECT_EQ(w.path(), dir.filePath(u"a (2).wav"_s));
    }
    {
        AudioFileWriter w(dir.filePath(u"b.wav"_s), AudioFileWriter::Format::Wav, 8000, 0,
                          AudioFileWriter::Placement::Keep);
        w.write(second(8000).data(), 100);
    }
    EXPECT_EQ(TestSupport::readFile(mine), "the user's own file");
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden),
              (QStringList{u"a (2).wav"_s, u"a.wav"_s}));
}

TEST(AudioFileWriter, AFullDiskGivesItsSentenceForEveryFormat)
{
    ScratchDisk disk(2 * 1024 * 1024);
    if (!disk.problem().empty())
        GTEST_SKIP() << disk.problem();
    ASSERT_TRUE(disk.fillLeaving(8 * 1024));
    const std::vector<float> samples =
        AudioFixtures::tone(16000, 400, 10.0, [](qint64) { return 0.5f; });
    for (const QString& name : {u"d.wav"_s, u"d.m4a"_s}) {
        const auto format =
            name.endsWith(u"wav"_s) ? AudioFileWriter::Format::Wav : AudioFileWriter::Format::M4a;
        try {
            AudioFileWriter w(disk.path() + u'/' + name, format, 16000, 64000,
                              AudioFileWriter::Placement::Keep);
            w.write(samples.data(), qint64(samples.size()));
            w.finish();
            FAIL() << "no error";
        } catch (const FileError& e) {
            EXPECT_EQ(e.kind(), FileError::Kind::DiskFull);
            EXPECT_TRUE(e.description().contains(name + u" 写不进去"_s))
                << e.description().toStdString();
        }
        EXPECT_EQ(QDir(disk.path()).entryList(QDir::Files | QDir::Hidden),
                  QStringList{u"filler"_s});
    }
}

// FFmpeg's English stays in the log; the sentence says the reason in Chinese.
TEST(AudioFileWriter, FfmpegErrorsReadAsChineseReasons)
{
    const struct {
        int code;
        QString reason;
    } cases[] = {
        {AVERROR_EOF, u"文件提前结束了，可能没写完或被截断"_s},
        {AVERROR_INVALIDDATA, u"不是音频文件，或者文件已损坏"_s},
        {AVERROR(EACCES), u"没有权限"_s},
        {AVERROR(ENOSPC), u"磁盘满了"_s},
        {AVERROR(ENOENT), u"文件不存在"_s},
        {AVERROR(EINVAL), u"参数不被接受"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Ffmpeg::reason(c.code), c.reason) << c.code;
    EXPECT_EQ(Ffmpeg::text(AVERROR_EOF), u"End of file"_s);

    QTemporaryDir dir;
    try {
        AudioFileReader r(dir.filePath(u"absent.ogg"_s));
        FAIL();
    } catch (const AudioFileReader::OpenError& e) {
        EXPECT_EQ(e.description(), u"打不开音频文件：文件不存在"_s);
        EXPECT_EQ(e.logDetail(), u"No such file or directory"_s);
    }
    try {
        AudioFileWriter w(dir.filePath(u"x.m4a"_s), AudioFileWriter::Format::M4a, 1234, 64000,
                          AudioFileWriter::Placement::Replace);
        FAIL();
    } catch (const AudioFileWriter::WriteError& e) {
        EXPECT_EQ(e.description(), u"AAC 编码器不接受这个设置：参数不被接受"_s);
        EXPECT_EQ(e.logDetail(), u"Invalid argument"_s);
    }
    EXPECT_TRUE(QDir(dir.path()).isEmpty(QDir::Files | QDir::Hidden));
}
