#pragma once

#include "common/Error.h"

#include <QString>

// Writes a recording out as a 16-bit PCM WAV file, mono, at the recording's own sample rate,
// for people who take their recordings to tools that read nothing else.
namespace WavExport {

class Error : public KestrelError {
public:
    explicit Error(QString reason) : m_reason(std::move(reason)) {}
    QString description() const override { return m_reason; }

private:
    QString m_reason;
};

// Decodes `source` (any file the project's audio reader opens) and writes `destination`.
// The file appears under its name only when complete; on failure nothing is left behind.
// Returns the number of frames written. Throws AudioFileReader::OpenError when the source
// cannot be read as audio, Error when it stops decoding or the destination cannot be written.
qint64 write(const QString& source, const QString& destination);

} // namespace WavExport
