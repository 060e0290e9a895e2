#pragma once

#include "audio/AudioEncoder.h"
#include "common/Error.h"

#include <QString>
#include <memory>

// Mono AAC in an MPEG-4 audio file (.m4a), on FFmpeg's AAC encoder.
class AacFileWriter : public AudioEncoder {
public:
    class WriteError : public KestrelError {
    public:
        explicit WriteError(QString reason) : m_reason(std::move(reason)) {}
        QString description() const override { return m_reason; }

    private:
        QString m_reason;
    };

    // Creates the file; throws WriteError when it cannot be created or the encoder refuses the
    // sample rate or bit rate. Here and in write() and finish(), a disk that refuses the write
    // (full, read-only) throws FileError with its sentence instead.
    AacFileWriter(const QString& path, int sampleRate, int bitrate);
    ~AacFileWriter() override;

    void write(const float* samples, qint64 frames) override;
    void finish() override;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
