#include "audio/OggWrap.h"

#include <array>
#include <cstring>

using namespace Qt::StringLiterals;

namespace OggWrap {

namespace {

// Slicing-by-8 tables for the Ogg CRC; table[0] is the classic 256-entry table. constexpr, so
// they are built once, at compile time, and shared by every thread.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables makeCrcTables()
{
    CrcTables t{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t r = i << 24;
        for (int bit = 0; bit < 8; ++bit) {
            r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
        }
        t[0][i] = r;
    }
    for (size_t k = 1; k < t.size(); ++k) {
        for (uint32_t i = 0; i < 256; ++i) {
            t[k][i] = (t[k - 1][i] << 8) ^ t[0][t[k - 1][i] >> 24];
        }
    }
    return t;
}

constexpr CrcTables crcTables = makeCrcTables();

void putLe16(unsigned char* p, uint16_t v)
{
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}

void putLe32(unsigned char* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

void putLe64(unsigned char* p, uint64_t v)
{
    for (int i = 0; i < 8; ++i) {
        p[i] = static_cast<unsigned char>(v >> (8 * i));
    }
}

constexpr int headerLen = 27;
constexpr unsigned char flagFirst = 2;
constexpr unsigned char flagLast = 4;

// Writes one page at out and returns its length. lacing holds the segment table.
qsizetype writePage(unsigned char* out, unsigned char flags, uint64_t granule, uint32_t sequence,
                    const unsigned char* lacing, int segments, const char* data, qsizetype dataLen)
{
    std::memcpy(out, "OggS", 4);
    out[4] = 0;
    out[5] = flags;
    putLe64(out + 6, granule);
    putLe32(out + 14, serialNumber);
    putLe32(out + 18, sequence);
    putLe32(out + 22, 0);
    out[26] = static_cast<unsigned char>(segments);
    std::memcpy(out + headerLen, lacing, static_cast<size_t>(segments));
    std::memcpy(out + headerLen + segments, data, static_cast<size_t>(dataLen));
    const qsizetype len = headerLen + segments + dataLen;
    putLe32(out + 22, crc(reinterpret_cast<const char*>(out), len));
    return len;
}

// Lacing of one packet: floor(len / 255) values of 255, then len % 255.
int lacePacket(qsizetype len, unsigned char* lacing)
{
    int n = 0;
    for (; len >= 255; len -= 255) {
        lacing[n++] = 255;
    }
    lacing[n++] = static_cast<unsigned char>(len);
    return n;
}

QByteArray opusHead(uint32_t sampleRate)
{
    QByteArray head(19, '\0');
    auto* p = reinterpret_cast<unsigned char*>(head.data());
    std::memcpy(p, "OpusHead", 8);
    p[8] = 1;             // version
    p[9] = 1;             // channels
    putLe16(p + 10, 312); // pre-skip
    putLe32(p + 12, sampleRate);
    putLe16(p + 16, 0); // output gain
    p[18] = 0;          // channel mapping family
    return head;
}

QByteArray opusTags(const QString& tag)
{
    // One page carries at most 255 lacing values, so the vendor string must stay below that.
    const QByteArray vendor = tag.toUtf8().left(255 * 254 - 16);
    QByteArray tags(16 + vendor.size(), '\0');
    auto* p = reinterpret_cast<unsigned char*>(tags.data());
    std::memcpy(p, "OpusTags", 8);
    putLe32(p + 8, static_cast<uint32_t>(vendor.size()));
    std::memcpy(p + 12, vendor.constData(), static_cast<size_t>(vendor.size()));
    putLe32(p + 12 + vendor.size(), 0); // no user comments
    return tags;
}

bool hasAt(const QByteArray& bytes, qsizetype offset, const char* magic)
{
    const auto len = static_cast<qsizetype>(std::strlen(magic));
    return bytes.size() >= offset + len && std::memcmp(bytes.constData() + offset, magic, len) == 0;
}

} // namespace

QString WrapError::description() const
{
    return u"裸包不足一个完整的 40 字节包，封装不了 Ogg"_s;
}

uint32_t crc(const char* data, qint64 length, uint32_t value)
{
    const auto& t = crcTables;
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    for (; length >= 8; length -= 8, p += 8) {
        value ^= uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        value = t[7][value >> 24] ^ t[6][(value >> 16) & 0xFF] ^ t[5][(value >> 8) & 0xFF] ^
                t[4][value & 0xFF] ^ t[3][p[4]] ^ t[2][p[5]] ^ t[1][p[6]] ^ t[0][p[7]];
    }
    for (; length > 0; --length, ++p) {
        value = (value << 8) ^ t[0][(value >> 24) ^ *p];
    }
    return value;
}

QByteArray wrap(const QByteArray& raw, uint32_t sampleRate, const QString& tag)
{
    const qsizetype packets = raw.size() / packetLen;
    if (packets < 1) {
        throw WrapError(WrapError::Kind::NoCompletePacket);
    }
    const QByteArray head = opusHead(sampleRate);
    const QByteArray tags = opusTags(tag);
    const qsizetype audioPages = (packets + packetsPerPage - 1) / packetsPerPage;
    const qsizetype total = (headerLen + 1 + head.size()) +
                            (headerLen + tags.size() / 255 + 1 + tags.size()) +
                            audioPages * headerLen + packets * (1 + packetLen);

    QByteArray out(total, Qt::Uninitialized);
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    std::array<unsigned char, 255> lacing{};

    int segments = lacePacket(head.size(), lacing.data());
    o += writePage(o, flagFirst, 0, 0, lacing.data(), segments, head.constData(), head.size());
    segments = lacePacket(tags.size(), lacing.data());
    o += writePage(o, 0, 0, 1, lacing.data(), segments, tags.constData(), tags.size());

    lacing.fill(packetLen);
    uint64_t granule = 0;
    uint32_t sequence = 2;
    for (qsizetype first = 0; first < packets; first += packetsPerPage) {
        const auto n = static_cast<int>(std::min<qsizetype>(packetsPerPage, packets - first));
        granule += uint64_t(granulePerPacket) * uint64_t(n);
        const bool last = first + n == packets;
        o += writePage(o, last ? flagLast : 0, granule, sequence++, lacing.data(), n,
                       raw.constData() + first * packetLen, qsizetype(n) * packetLen);
    }
    return out;
}

bool isKnownContainer(const QByteArray& bytes)
{
    return hasAt(bytes, 0, "OggS") || hasAt(bytes, 0, "caff") ||
           (hasAt(bytes, 0, "RIFF") && hasAt(bytes, 8, "WAVE")) || hasAt(bytes, 4, "ftyp");
}

bool looksRaw(const QByteArray& bytes)
{
    return bytes.size() >= packetLen && bytes.size() % packetLen == 0 && !isKnownContainer(bytes);
}

double durationSeconds(qint64 rawLength)
{
    return static_cast<double>(rawLength / packetLen) * frameMs / 1000.0;
}

} // namespace OggWrap
