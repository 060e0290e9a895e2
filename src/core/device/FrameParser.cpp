#include "device/FrameParser.h"

#include <cstring>

FrameParser::FrameParser(QString name) : m_name(std::move(name)) {}

QList<Proto::Frame> FrameParser::feed(QByteArrayView bytes)
{
    QList<Proto::Frame> out;
    m_buffer.append(bytes);
    const auto* base = reinterpret_cast<const uint8_t*>(m_buffer.constData());
    qsizetype pos = 0;
    const qsizetype end = m_buffer.size();

    while (pos < end) {
        if (base[pos] != Proto::magic) {
            const void* hit = std::memchr(base + pos, Proto::magic, size_t(end - pos));
            ++m_resyncs;
            if (!hit) {
                pos = end;
                break;
            }
            pos = static_cast<const uint8_t*>(hit) - base;
        }
        if (end - pos < Proto::headerLen) {
            break;
        }
        const qsizetype len = qsizetype(base[pos + 4]) | (qsizetype(base[pos + 5]) << 8);
        if (len > maxDataLen) {
            ++m_resyncs;
            ++pos;
            continue;
        }
        if (end - pos < Proto::headerLen + len) {
            break;
        }
        const uint16_t want = uint16_t(base[pos + 2] | (base[pos + 3] << 8));
        if (Proto::crc16(base + pos + 4, size_t(len + 2)) != want) {
            ++m_crcErrors;
            ++pos;
            continue;
        }
        out.append(Proto::Frame{base[pos + 1], m_buffer.mid(pos + Proto::headerLen, len)});
        pos += Proto::headerLen + len;
    }

    // Drop what was consumed; keep the tail (an incomplete frame) for the next call.
    if (pos >= end) {
        m_buffer.clear();
    } else if (pos > 0) {
        m_buffer.remove(0, pos);
    }
    return out;
}
