#include "library/PcmStream.h"

#include "audio/AudioFileReader.h"

#include <algorithm>
#include <cmath>

PcmStream::PcmStream(QObject* parent) : QIODevice(parent) {}

PcmStream::~PcmStream() = default;

void PcmStream::setReader(std::unique_ptr<AudioFileReader> reader)
{
    m_reader = std::move(reader);
    m_ended = !m_reader;
    m_broken = false;
    if (!isOpen()) {
        open(QIODevice::ReadOnly);
    }
}

qint64 PcmStream::frame() const
{
    return m_reader ? m_reader->position() : 0;
}

qint64 PcmStream::bytesAvailable() const
{
    // Samples are decoded on demand; promise a buffer's worth until the end.
    return (m_ended ? 0 : 16384) + QIODevice::bytesAvailable();
}

qint64 PcmStream::readData(char* data, qint64 maxSize)
{
    if (!m_reader || m_ended) {
        return 0;
    }
    const qint64 frames = maxSize / qint64(sizeof(int16_t));
    if (frames <= 0) {
        return 0;
    }
    m_buffer.resize(size_t(frames));
    const qint64 got = m_reader->read(m_buffer.data(), frames);
    if (got <= 0) {
        m_ended = true;
        if (got < 0) {
            m_broken = true;
            Q_EMIT decodeFailed(m_reader->position());
        }
        return 0;
    }
    auto* out = reinterpret_cast<int16_t*>(data);
    for (qint64 i = 0; i < got; ++i) {
        const float s = std::clamp(m_buffer[size_t(i)], -1.0f, 1.0f);
        out[i] = static_cast<int16_t>(std::lround(s * 32767.0f));
    }
    return got * qint64(sizeof(int16_t));
}
