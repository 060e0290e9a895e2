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

struct Written {
    QString path; // where the file went
    qint64 frames = 0;
};

// Decodes `source` (any file the project's audio reader opens) and writes it to `destination`,
// or, when something already has that name, to the first free "name (2).wav", "name (3).wav", …:
// nothing in the destination folder is replaced or deleted. The file appears only complete; on
// failure nothing is left behind. Throws AudioFileReader::OpenError when the source cannot be
// read as audio, Error when it stops decoding, AudioFileWriter::WriteError or FileError when the
// destination cannot be written.
Written write(const QString& source, const QString& destination);

} // namespace WavExport
