#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>
#include <memory>

// The audio of one upload: bytes already in memory, or a file read chunk by chunk as the upload
// goes, so a long recording is never held whole.
class AudioSource {
public:
    class ReadError : public KestrelError {
    public:
        explicit ReadError(QString text) : m_text(std::move(text)) {}
        QString description() const override { return m_text; }

    private:
        QString m_text;
    };

    // Implicit on purpose: upload(bytes, ...) reads as it should.
    AudioSource(QByteArray bytes); // NOLINT(google-explicit-constructor)
    // Opens the file now (throws ReadError when it cannot) and reads chunks on demand.
    static AudioSource fromFile(const QString& path);

    qint64 size() const { return m_size; }
    // Bytes [offset, offset + length); throws ReadError when the file cannot deliver them.
    // For in-memory audio the result shares the source's storage instead of copying it.
    QByteArray read(qint64 offset, qint64 length) const;

private:
    struct File;
    AudioSource() = default;

    QByteArray m_bytes;
    std::shared_ptr<File> m_file;
    qint64 m_size = 0;
};
