// `kestrel check-speech`, run as a script runs it.

#include "support/AudioFixtures.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(CheckSpeechCommand, OneLinePerFileAndAnErrorForTheUnreadable)
{
    QTemporaryDir dir;
    const QString speech = QStringLiteral(ENGINE_FIXTURES "/../audio/speech-opusenc.ogg");
    const QString quiet = dir.filePath(u"quiet.wav"_s);
    TestSupport::writeFile(quiet, AudioFixtures::wav(44100, std::vector<float>(44100, 0.0f)));

    const auto ok =
        TestSupport::runProgram(QStringLiteral(KESTREL_BIN), {u"check-speech"_s, speech, quiet});
    EXPECT_EQ(ok.exitCode, 0) << ok.err.toStdString();
    const QStringList lines = ok.out.split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 2) << ok.out.toStdString();
    const QStringList first = lines[0].split(u'\t');
    ASSERT_EQ(first.size(), 4);
    EXPECT_EQ(first[0], speech);
    EXPECT_EQ(first[1], u"有人声"_s);
    EXPECT_TRUE(first[2].startsWith(u"检测到约 "_s)) << first[2].toStdString();
    EXPECT_TRUE(first[3].contains(u"基频集中"_s));
    EXPECT_EQ(lines[1].split(u'\t').mid(0, 3),
              QStringList(
                  {quiet, u"没有人声"_s, u"整段几乎无声（RMS 0.00000），推上去也识别不到语音"_s}));

    const QString junk = dir.filePath(u"junk.ogg"_s);
    TestSupport::writeFile(junk, "not audio");
    const auto bad =
        TestSupport::runProgram(QStringLiteral(KESTREL_BIN),
                                {u"check-speech"_s, dir.filePath(u"missing.ogg"_s), quiet, junk});
    EXPECT_EQ(bad.exitCode, 2);
    EXPECT_EQ(bad.out.count(u'\n'), 1); // the readable file still gets its line
    EXPECT_TRUE(bad.err.contains(u"找不到文件 "_s + dir.filePath(u"missing.ogg"_s)))
        << bad.err.toStdString();
    EXPECT_TRUE(bad.err.contains(junk + u" 读不了："_s)) << bad.err.toStdString();

    EXPECT_EQ(TestSupport::runProgram(QStringLiteral(KESTREL_BIN), {u"check-speech"_s}).exitCode,
              2);
}
