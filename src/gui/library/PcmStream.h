#pragma once

#include <QIODevice>
#include <memory>
#include <vector>

class AudioFileReader;

// A recording as a stream of 16-bit samples, decoded as the output pulls them, so an hour of
// audio never sits in memory at once.
class PcmStream : public QIODevice {
    Q_OBJECT

public:
    explicit PcmStream(QObject* parent = nullptr);
    ~PcmStream() override;

    // Takes over a reader positioned where playing should go on.
    void setReader(std::unique_ptr<AudioFileReader> reader);
    // The frame the next sample read comes from.
    qint64 frame() const;
    // The file stopped decoding before its end.
    bool broken() const { return m_broken; }

    bool isSequential() const override { return true; }
    bool atEnd() const override { return m_ended; }
    qint64 bytesAvailable() const override;

Q_SIGNALS:
    // Decoding failed at this frame; what was read before it has been delivered.
    void decodeFailed(qint64 frame);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    std::unique_ptr<AudioFileReader> m_reader;
    std::vector<float> m_buffer;
    bool m_ended = false;
    bool m_broken = false;
};
