#include "device/FrameParser.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using namespace Proto;

namespace {

QByteArray frameA()
{
    return buildFrame(T::file, FileCmd::listReq, {}, 1);
}
QByteArray frameB()
{
    return buildFrame(T::file, FileCmd::importData, QByteArray(300, 'x'), 2);
}

QList<Frame> feedAll(FrameParser& p, const QList<QByteArray>& parts)
{
    QList<Frame> out;
    for (const QByteArray& part : parts) {
        out += p.feed(part);
    }
    return out;
}

} // namespace

TEST(FrameParser, FragmentsAndSharedNotificationsGiveTheSameFrames)
{
    const QByteArray a = frameA();
    const QByteArray b = frameB();
    FrameParser whole(QStringLiteral("AE22"));
    const QList<Frame> expected = feedAll(whole, {a, b});
    ASSERT_EQ(expected.size(), 2);
    EXPECT_EQ(expected[0].data, QByteArray::fromHex("0200"));
    EXPECT_EQ(expected[1].seq, 2);

    // Each split states which frames it must give, so a lost frame cannot pass unnoticed.
    struct Split {
        QList<QByteArray> parts;
        QList<Frame> frames;
    };
    const QList<Split> splits{
        {{a + b}, expected},
        {{b.left(3), b.mid(3, 100), b.mid(103)}, {expected[1]}},
        {{a.left(1), a.mid(1) + b.left(5), b.mid(5)}, expected},
    };
    for (const Split& split : splits) {
        FrameParser p;
        EXPECT_EQ(feedAll(p, split.parts), split.frames);
        EXPECT_EQ(p.crcErrors() + p.resyncs(), 0);
        EXPECT_EQ(p.buffered(), 0);
    }
}

TEST(FrameParser, SkipsGarbageAndBadFramesByOneByte)
{
    {
        FrameParser p;
        EXPECT_EQ(p.feed(QByteArray::fromHex("001122") + frameA()).size(), 1);
        EXPECT_EQ(p.resyncs(), 1);
        EXPECT_EQ(p.crcErrors(), 0);
    }
    {
        QByteArray bad = frameA();
        bad[2] = char(bad[2] ^ 0x01);
        FrameParser p;
        const QList<Frame> got = p.feed(bad + frameB());
        ASSERT_EQ(got.size(), 1);
        EXPECT_EQ(got[0].seq, 2);
        EXPECT_EQ(p.crcErrors(), 1);
        EXPECT_EQ(p.resyncs(), 1); // the rest of the bad frame before the next 0x5A
    }
    {
        // Length 8193 is over the limit: skipped a byte at a time, the frame behind survives.
        FrameParser p;
        const QByteArray tooLong = QByteArray::fromHex("5A010000") + QByteArray::fromHex("0120");
        const QList<Frame> got = p.feed(tooLong + frameA());
        ASSERT_EQ(got.size(), 1);
        EXPECT_GE(p.resyncs(), 2);
    }
    {
        // Length 8192 is allowed: the parser waits for its data.
        FrameParser p;
        EXPECT_TRUE(p.feed(QByteArray::fromHex("5A0100000020") + QByteArray(100, 'z')).isEmpty());
        EXPECT_EQ(p.resyncs(), 0);
        EXPECT_EQ(p.buffered(), 106);
        const QByteArray big = buildFrame(T::file, FileCmd::importData, QByteArray(8190, 'q'), 5);
        FrameParser q;
        EXPECT_EQ(q.feed(big).size(), 1);
    }
    {
        FrameParser p;
        EXPECT_TRUE(p.feed(QByteArray::fromHex("01020304")).isEmpty());
        EXPECT_EQ(p.resyncs(), 1);
        EXPECT_EQ(p.buffered(), 0);
    }
}

TEST(FrameParser, RandomBytesNeverBreakIt)
{
    QRandomGenerator gen(20251201); // fixed seed: a failure can be replayed
    auto* rng = &gen;
    const QByteArray good = frameB();
    for (int round = 0; round < 200; ++round) {
        FrameParser p;
        QByteArray junk(int(rng->bounded(2000)), '\0');
        for (auto& c : junk) {
            // Plenty of 0x5A so false headers are common.
            c = rng->bounded(4) == 0 ? char(0x5A) : char(rng->bounded(256));
        }
        int offset = 0;
        while (offset < junk.size()) {
            const int n = int(rng->bounded(1, 64));
            p.feed(junk.mid(offset, n));
            offset += n;
        }
        // Whatever the junk left behind (a false header may wait for up to 8 KiB), the frames
        // behind it all come out once enough bytes have arrived.
        QList<QByteArray> stream;
        for (int i = 0; i < 40; ++i) {
            stream.append(good);
        }
        const QList<Frame> got = feedAll(p, stream);
        EXPECT_GE(got.size(), 39);
        for (const Frame& f : got) {
            EXPECT_LE(f.data.size(), FrameParser::maxDataLen);
        }
    }
}
