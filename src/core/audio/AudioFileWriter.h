#pragma once

#include "audio/AudioEncoder.h"
#include "common/Error.h"
#include "sync/LogDetail.h"

#include <QString>
#include <memory>

// Mono float samples encoded into an audio file: AAC in MPEG-4 audio (.m4a) or 16-bit PCM WAV.
// The file is written under a temporary name in the destination's folder and takes its name
// only once it is complete and reads back as audio, so no reader ever sees half a file and a
// kill leaves at most a temporary file behind. A write the disk refuses (full, read-only)
// throws FileError with its sentence; anything else WriteError.
class AudioFileWriter : public AudioEncoder {
public:
    enum class Format { M4a, Wav };
    enum class Placement {
        Replace, // the archive's own file of that name is replaced atomically
        Keep, // nothing there is replaced: the first free "name (2).ext", "name (3)", … instead
    };

    class WriteError : public KestrelError, public LogDetail {
    public:
        enum class Kind { Refused, Unreadable };
        WriteError(Kind kind, QString reason, QString detail = {})
            : m_kind(kind), m_reason(std::move(reason)), m_detail(std::move(detail))
        {}
        Kind kind() const { return m_kind; }
        QString description() const override { return m_reason; }
        QString logDetail() const override { return m_detail; }

    private:
        Kind m_kind;
        QString m_reason;
        QString m_detail;
    };

    // Creates the temporary file; throws when it cannot be created or the encoder refuses the
    // sample rate or bit rate (bitrate is ignored for WAV).
    AudioFileWriter(const QString& path, Format format, int sampleRate, int bitrate,
                    Placement placement);
    // Removes the temporary file unless finish() placed it.
    ~AudioFileWriter() override;

    void write(const float* samples, qint64 frames) override;
    // Flushes the encoder, closes the file, reads it back, and gives it its name.
    void finish() override;

    // Where the file is: its final name after finish().
    QString path() const;
    qint64 framesWritten() const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
