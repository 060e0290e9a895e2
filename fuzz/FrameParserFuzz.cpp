// Arbitrary bytes from the radio, cut into arbitrary notifications: the parser yields the same
// frames however the stream is cut, and only frames that are really in the stream with a
// correct checksum.
#include "FuzzCheck.h"
#include "device/FrameParser.h"

#include <algorithm>

namespace {

// Bit by bit, independent of the parser's table-driven checksum.
uint16_t crcXmodem(QByteArrayView bytes)
{
    uint16_t crc = 0;
    for (const char c : bytes) {
        crc ^= uint16_t(uint8_t(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
    }
    return crc;
}

QByteArray wire(const Proto::Frame& f)
{
    const auto len = uint16_t(f.data.size());
    QByteArray lenAndData;
    lenAndData.append(char(len & 0xFF)).append(char(len >> 8)).append(f.data);
    const uint16_t crc = crcXmodem(lenAndData);
    QByteArray out;
    out.append(char(Proto::magic)).append(char(f.seq)).append(char(crc & 0xFF));
    out.append(char(crc >> 8)).append(lenAndData);
    return out;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    // The first byte seeds where the stream is cut.
    uint32_t state = data[0];
    const QByteArray stream = fuzzBytes(data + 1, size - 1);

    FrameParser whole;
    const QList<Proto::Frame> once = whole.feed(stream);

    FrameParser pieces;
    QList<Proto::Frame> cut;
    for (qsizetype pos = 0; pos < stream.size();) {
        state = state * 1103515245u + 12345u;
        const qsizetype n = std::min<qsizetype>(stream.size() - pos, 1 + (state >> 16) % 300);
        cut += pieces.feed(QByteArrayView(stream).sliced(pos, n));
        pos += n;
    }
    FUZZ_CHECK(cut == once);
    FUZZ_CHECK(pieces.buffered() == whole.buffered());
    FUZZ_CHECK(whole.buffered() <= Proto::headerLen + FrameParser::maxDataLen);

    qsizetype from = 0;
    for (const Proto::Frame& f : once) {
        FUZZ_CHECK(f.data.size() <= FrameParser::maxDataLen);
        FUZZ_CHECK(Proto::crc16(QByteArrayView(wire(f)).sliced(4)) ==
                   crcXmodem(QByteArrayView(wire(f)).sliced(4)));
        // In order and checksum intact: the rebuilt frame is a later part of the stream.
        const qsizetype at = stream.indexOf(wire(f), from);
        FUZZ_CHECK(at >= 0);
        from = at + wire(f).size();
    }
    return 0;
}
