#include "device/FileEntry.h"
#include "device/FileListDecoder.h"

#include <gtest/gtest.h>

namespace {

QByteArray be32(uint32_t v)
{
    return QByteArray::fromHex(QByteArray::number(v, 16).rightJustified(8, '0'));
}

QByteArray entry(uint32_t time, uint32_t size, const QByteArray& name)
{
    QByteArray field = name.left(20);
    field.append(20 - field.size(), '\0');
    return be32(time) + be32(size) + field;
}

FileEntry named(const QString& name)
{
    FileEntry e;
    e.name = name;
    return e;
}

} // namespace

TEST(FileListDecoder, DecodesOnlyCompleteEntries)
{
    const QByteArray a = entry(75, 120000, "20251201-093000.opus");
    const QByteArray b = entry(3, 4000, "b.opus");
    struct Case {
        const char* what;
        QByteArray payload;
        int count;
    };
    const Case cases[] = {
        {"two entries", be32(2) + a + b, 2},
        {"count 3, only 2 complete", be32(3) + a + b + QByteArray(10, '\1'), 2},
        {"count 0 ignores what follows", be32(0) + a, 0},
        {"short payload", QByteArray::fromHex("000001"), 0},
        {"count 1 with trailing bytes", be32(1) + a + b, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FileListDecoder::decode(c.payload).size(), c.count) << c.what;
    }
    const QList<FileEntry> got = FileListDecoder::decode(be32(2) + a + b);
    EXPECT_EQ(got[0].time, 75u);
    EXPECT_EQ(got[0].size, 120000u);
    EXPECT_EQ(got[0].name, QStringLiteral("20251201-093000.opus")); // 20 bytes, no NUL
    EXPECT_EQ(got[1].name, QStringLiteral("b.opus"));
    EXPECT_EQ(got[1].rawName, QByteArray("b.opus") + QByteArray(14, '\0'));
}

TEST(FileListDecoder, InvalidUtf8BecomesReplacementCharacters)
{
    const QList<FileEntry> got = FileListDecoder::decode(be32(1) + entry(1, 2, "a\xff.opus"));
    ASSERT_EQ(got.size(), 1);
    EXPECT_EQ(got[0].name, QStringLiteral("a\uFFFD.opus"));
}

TEST(FileEntry, BaseAndCandidates)
{
    struct Case {
        QString name;
        QString base;
        QStringList candidates;
    };
    const Case cases[] = {
        {QStringLiteral("REC001.wav."),
         QStringLiteral("REC001.wav"),
         {QStringLiteral("REC001.wav.opus"), QStringLiteral("REC001.wav"),
          QStringLiteral("REC001.wav.")}},
        {QStringLiteral("a.OPUS"),
         QStringLiteral("a.OPUS"),
         {QStringLiteral("a.OPUS"), QStringLiteral("a.OPUS.wav")}},
        {QStringLiteral("20251201-093000"),
         QStringLiteral("20251201-093000"),
         {QStringLiteral("20251201-093000.opus"), QStringLiteral("20251201-093000.wav"),
          QStringLiteral("20251201-093000")}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(named(c.name).base(), c.base) << c.name.toStdString();
        EXPECT_EQ(named(c.name).candidates(), c.candidates) << c.name.toStdString();
    }
}
