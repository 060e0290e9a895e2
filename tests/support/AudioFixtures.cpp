#include "support/AudioFixtures.h"

#include "audio/AudioFileReader.h"

#include <QDataStream>
#include <QIODevice>
#include <cmath>
#include <cstring>
#include <numbers>
#include <opus/opus.h>

namespace AudioFixtures {

QByteArray wav(int rate, const std::vector<float>& samples)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    const auto dataBytes = quint32(samples.size() * 4);
    s.writeRawData("RIFF", 4);
    s << quint32(36 + dataBytes);
    s.writeRawData("WAVEfmt ", 8);
    // Format 3: IEEE float.
    s << quint32(16) << quint16(3) << quint16(1) << quint32(rate) << quint32(rate * 4) << quint16(4)
      << quint16(32);
    s.writeRawData("data", 4);
    s << dataBytes;
    for (const float v : samples)
        s << v;
    return out;
}

QByteArray caf(int rate, const std::vector<float>& samples)
{
    QByteArray out;
    QDataStream s(&out, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::BigEndian);
    s.writeRawData("caff", 4);
    s << quint16(1) << quint16(0);
    // Audio description: rate, 'lpcm', flags (float | little-endian), 4 bytes and 1 frame per
    // packet, 1 channel, 32 bits.
    s.writeRawData("desc", 4);
    s << qint64(32);
    s.setFloatingPointPrecision(QDataStream::DoublePrecision);
    s << double(rate);
    s.writeRawData("lpcm", 4);
    s << quint32(1 | 2) << quint32(4) << quint32(1) << quint32(1) << quint32(32);
    s.writeRawData("data", 4);
    s << qint64(4 + samples.size() * 4) << quint32(0); // edit count
    s.setByteOrder(QDataStream::LittleEndian);
    s.setFloatingPointPrecision(QDataStream::SinglePrecision);
    for (const float v : samples)
        s << v;
    return out;
}

std::vector<float> tone(int rate, int hz, double seconds,
                        const std::function<float(qint64 i)>& level)
{
    const auto n = qint64(seconds * rate);
    std::vector<float> out(static_cast<size_t>(n));
    const bool periodic = rate % hz == 0;
    for (qint64 i = 0; i < n; ++i) {
        const double phase =
            periodic ? double(i % (rate / hz)) / double(rate / hz) : double(i) * hz / rate;
        out[size_t(i)] = level(i) * float(std::sin(2 * std::numbers::pi * phase));
    }
    return out;
}

QByteArray penPackets(const std::vector<float>& samples16k)
{
    constexpr int frame = 320; // 20 ms at 16 kHz
    int err = OPUS_OK;
    OpusEncoder* enc = opus_encoder_create(16000, 1, OPUS_APPLICATION_AUDIO, &err);
    if (err != OPUS_OK)
        return {};
    opus_encoder_ctl(enc, OPUS_SET_BITRATE(16000));
    opus_encoder_ctl(enc, OPUS_SET_VBR(0));
    QByteArray out;
    std::vector<float> pcm(frame);
    unsigned char packet[256];
    for (size_t at = 0; at < samples16k.size(); at += frame) {
        std::fill(pcm.begin(), pcm.end(), 0.0f);
        std::copy_n(samples16k.begin() + qsizetype(at),
                    std::min<size_t>(frame, samples16k.size() - at), pcm.begin());
        const int n = opus_encode_float(enc, pcm.data(), frame, packet, sizeof packet);
        if (n != 40) {
            out.clear();
            break;
        }
        out.append(reinterpret_cast<const char*>(packet), n);
    }
    opus_encoder_destroy(enc);
    return out;
}

std::vector<float> decode(const QString& path)
{
    std::vector<float> all;
    const auto reader = AudioFileReader::tryOpen(path);
    if (!reader)
        return all;
    std::vector<float> block(16384);
    for (qint64 n; (n = reader->read(block.data(), qint64(block.size()))) > 0;)
        all.insert(all.end(), block.begin(), block.begin() + n);
    return all;
}

} // namespace AudioFixtures
