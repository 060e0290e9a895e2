#include "audio/OggWrap.h"

#include "support/TestSupport.h"

#include <cstring>
#include <gtest/gtest.h>
#include <ogg/ogg.h>
#include <opusfile.h>

namespace {

struct Page {
    uint8_t flags;
    uint64_t granule;
    uint32_t serial;
    uint32_t sequence;
    uint32_t checksum;
    QByteArray lacing;
    qsizetype length;
    bool checksumOk;
};

uint64_t le(const QByteArray& b, qsizetype at, int bytes)
{
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) {
        v = v << 8 | static_cast<uint8_t>(b[at + i]);
    }
    return v;
}

// Our own reading of the page layout, so a test failure names the field that is wrong.
QList<Page> pages(const QByteArray& ogg)
{
    QList<Page> out;
    qsizetype at = 0;
    while (at + 27 <= ogg.size()) {
        EXPECT_EQ(ogg.mid(at, 4), QByteArray("OggS"));
        const int segments = static_cast<uint8_t>(ogg[at + 26]);
        const QByteArray lacing = ogg.mid(at + 27, segments);
        qsizetype body = 0;
        for (const char l : lacing) {
            body += static_cast<uint8_t>(l);
        }
        Page p{static_cast<uint8_t>(ogg[at + 5]),
               le(ogg, at + 6, 8),
               static_cast<uint32_t>(le(ogg, at + 14, 4)),
               static_cast<uint32_t>(le(ogg, at + 18, 4)),
               static_cast<uint32_t>(le(ogg, at + 22, 4)),
               lacing,
               27 + segments + body,
               false};
        QByteArray zeroed = ogg.mid(at, p.length);
        std::memset(zeroed.data() + 22, 0, 4);
        p.checksumOk = OggWrap::crc(zeroed.constData(), zeroed.size()) == p.checksum;
        out.append(p);
        at += p.length;
    }
    EXPECT_EQ(at, ogg.size());
    return out;
}

QByteArray packetsOf(qsizetype bytes)
{
    QByteArray raw(bytes, '\0');
    for (qsizetype i = 0; i < bytes; ++i) {
        raw[i] = static_cast<char>(i * 7 + 3);
    }
    return raw;
}

} // namespace

TEST(OggWrap, RejectsLessThanOnePacket)
{
    EXPECT_THROW(OggWrap::wrap(packetsOf(39), 16000, QStringLiteral("QX27")), OggWrap::WrapError);
    EXPECT_THROW(OggWrap::wrap({}, 16000, QStringLiteral("QX27")), OggWrap::WrapError);
}

TEST(OggWrap, PageLayout)
{
    struct AudioPage {
        uint8_t flags;
        uint64_t granule;
        int packets;
    };
    const struct {
        qsizetype rawBytes;
        QList<AudioPage> audio;
    } cases[] = {
        {40, {{4, 960, 1}}},
        {4010, {{0, 48000, 50}, {4, 96000, 50}}}, // trailing 10 bytes dropped
        {2040, {{0, 48000, 50}, {4, 48960, 1}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.rawBytes);
        const QByteArray raw = packetsOf(c.rawBytes);
        const QByteArray ogg = OggWrap::wrap(raw, 16000, QStringLiteral("QX27"));
        const QList<Page> ps = pages(ogg);
        ASSERT_EQ(ps.size(), 2 + c.audio.size());

        EXPECT_EQ(ps[0].length, 47);
        EXPECT_EQ(ps[0].flags, 2);
        EXPECT_EQ(ogg.mid(28, 19), QByteArray::fromHex("4f707573486561640101380180"
                                                       "3e0000000000"));
        EXPECT_EQ(ps[1].length, 48);
        EXPECT_EQ(ogg.mid(47 + 28, 20), QByteArray("OpusTags\x04\0\0\0QX27\0\0\0\0", 20));

        qsizetype at = 47 + 48;
        for (int i = 0; i < ps.size(); ++i) {
            EXPECT_TRUE(ps[i].checksumOk) << "page " << i;
            EXPECT_EQ(ps[i].serial, 0x51533638u);
            EXPECT_EQ(ps[i].sequence, static_cast<uint32_t>(i));
            if (i < 2) {
                EXPECT_EQ(ps[i].granule, 0u);
                continue;
            }
            const AudioPage& want = c.audio[i - 2];
            EXPECT_EQ(ps[i].flags, want.flags) << "page " << i;
            EXPECT_EQ(ps[i].granule, want.granule) << "page " << i;
            EXPECT_EQ(ps[i].lacing, QByteArray(want.packets, 40));
            at += 27 + want.packets;
            // Packet bytes are carried unchanged and in order.
            const qsizetype firstPacket = qsizetype(i - 2) * 50 * 40;
            EXPECT_EQ(ogg.mid(at, want.packets * 40), raw.mid(firstPacket, want.packets * 40));
            at += want.packets * 40;
        }
    }
}

TEST(OggWrap, ChecksumMatchesTheBitwiseDefinition)
{
    // Long enough to run the eight-bytes-at-a-time loop and the byte tail.
    const QByteArray data = packetsOf(1003);
    uint32_t bitwise = 0;
    for (const char ch : data) {
        bitwise ^= uint32_t(static_cast<uint8_t>(ch)) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            bitwise = (bitwise & 0x80000000u) ? (bitwise << 1) ^ 0x04C11DB7u : bitwise << 1;
        }
    }
    EXPECT_EQ(OggWrap::crc(data.constData(), data.size()), bitwise);
}

TEST(OggWrap, RealDecodersAcceptTheStream)
{
    // 188 packets made by opusenc (16 kHz mono, 16 kbit/s hard CBR, 20 ms) from espeak-ng
    // speech, container stripped with ffmpeg: exactly what the pen stores.
    const QByteArray raw =
        TestSupport::readFile(QStringLiteral(KESTREL_FIXTURES "/audio/speech-188-packets.raw"));
    ASSERT_EQ(raw.size(), 188 * 40);
    const QByteArray ogg = OggWrap::wrap(raw, 16000, QStringLiteral("QX27"));

    // libogg only hands out pages whose checksum holds.
    ogg_sync_state sync;
    ogg_sync_init(&sync);
    char* buffer = ogg_sync_buffer(&sync, ogg.size());
    std::memcpy(buffer, ogg.constData(), static_cast<size_t>(ogg.size()));
    ogg_sync_wrote(&sync, ogg.size());
    ogg_page page;
    int count = 0;
    int64_t lastGranule = -1;
    while (ogg_sync_pageout(&sync, &page) == 1) {
        ++count;
        lastGranule = ogg_page_granulepos(&page);
        EXPECT_EQ(ogg_page_eos(&page) != 0, count == 2 + 4);
    }
    ogg_sync_clear(&sync);
    EXPECT_EQ(count, 2 + 4);
    EXPECT_EQ(lastGranule, 188 * 960);

    int err = 0;
    OggOpusFile* of = op_open_memory(reinterpret_cast<const unsigned char*>(ogg.constData()),
                                     static_cast<size_t>(ogg.size()), &err);
    ASSERT_NE(of, nullptr) << "opusfile error " << err;
    const OpusHead* head = op_head(of, -1);
    EXPECT_EQ(head->channel_count, 1);
    EXPECT_EQ(head->input_sample_rate, 16000u);
    EXPECT_EQ(head->pre_skip, 312);
    const OpusTags* tags = op_tags(of, -1);
    EXPECT_STREQ(tags->vendor, "QX27");
    EXPECT_EQ(op_pcm_total(of, -1), 188 * 960 - 312);

    opus_int16 pcm[5760];
    int64_t decoded = 0;
    int n = 0;
    while ((n = op_read(of, pcm, 5760, nullptr)) > 0) {
        decoded += n;
    }
    EXPECT_EQ(n, 0) << "decode error";
    op_free(of);
    // 3.76 s of audio at 48 kHz, less the encoder's pre-skip.
    EXPECT_EQ(decoded, 188 * 960 - 312);
    EXPECT_DOUBLE_EQ(OggWrap::durationSeconds(raw.size()), 3.76);
}

TEST(OggWrap, TellsRawPacketsFromContainers)
{
    const auto withMagic = [](qsizetype size, qsizetype at, const char* magic) {
        QByteArray b(size, '\0');
        b.replace(at, qsizetype(std::strlen(magic)), magic);
        return b;
    };
    QByteArray riffWave = withMagic(80, 0, "RIFF");
    riffWave.replace(8, 4, "WAVE");
    const struct {
        const char* what;
        QByteArray bytes;
        bool container;
        bool raw;
    } cases[] = {
        {"zeros", QByteArray(80, '\0'), false, true},
        {"ogg", withMagic(80, 0, "OggS"), true, false},
        {"caf", withMagic(80, 0, "caff"), true, false},
        {"wav", riffWave, true, false},
        {"riff without wave", withMagic(80, 0, "RIFF"), false, true},
        {"mp4", withMagic(80, 4, "ftyp"), true, false},
        {"short mp4 magic", QByteArray("\0\0\0\0fty", 7), false, false},
        {"41 bytes", QByteArray(41, '\0'), false, false},
        {"39 bytes", QByteArray(39, '\0'), false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OggWrap::isKnownContainer(c.bytes), c.container) << c.what;
        EXPECT_EQ(OggWrap::looksRaw(c.bytes), c.raw) << c.what;
    }
    EXPECT_DOUBLE_EQ(OggWrap::durationSeconds(4010), 2.0);
}
