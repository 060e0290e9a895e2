#pragma once

#include "common/Error.h"
#include "sync/LogDetail.h"

#include <QString>
#include <memory>

// Reads an audio file as float samples of its first channel, in the file's own sample rate.
// Ogg Opus (what the pen's recordings become) is decoded at the rate the stream was encoded
// from, so the pen's 16 kHz files are neither decoded at 48 kHz nor resampled; other formats
// go through FFmpeg's decoders unchanged.
//
// Not thread-safe; one reader per task. Move-only.
class AudioFileReader {
public:
    class OpenError : public KestrelError, public LogDetail {
    public:
        explicit OpenError(QString reason, QString detail = {})
            : m_reason(std::move(reason)), m_detail(std::move(detail))
        {}
        QString description() const override { return m_reason; }
        QString logDetail() const override { return m_detail; }

    private:
        QString m_reason;
        QString m_detail;
    };

    // Opens the file; throws OpenError when it cannot be read as audio.
    explicit AudioFileReader(const QString& path);
    // The same, but nullptr instead of an error.
    static std::unique_ptr<AudioFileReader> tryOpen(const QString& path);

    ~AudioFileReader();
    AudioFileReader(AudioFileReader&&) noexcept;
    AudioFileReader& operator=(AudioFileReader&&) noexcept;

    // Samples per second of what read() delivers (> 0).
    double sampleRate() const;
    // Length in frames at sampleRate(). Exact for Ogg (from the last granule position, without
    // decoding); from the container's duration otherwise, counted by decoding only when the
    // container states none.
    qint64 length() const;
    int channelCount() const;

    // Frames delivered since the start of the file.
    qint64 position() const;
    // Moves the read position to a frame (clamped to 0); decodes forward from the start, so it is
    // exact but costs time proportional to the target. False when the file cannot be reopened.
    bool seek(qint64 frame);
    bool rewind() { return seek(0); }

    // Reads up to maxFrames frames of the first channel into dst. Returns the number read, 0 at
    // the end of the file, -1 when the file stops decoding (the reader stays at the end).
    qint64 read(float* dst, qint64 maxFrames);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
