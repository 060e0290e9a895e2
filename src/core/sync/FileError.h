#pragma once

#include "common/Error.h"

#include <optional>

// A file-system operation failed. Most failures carry the operating system's own text; a write
// the folder itself refuses (disk full, read-only, no permission) says so in a sentence that
// names the folder and what the user can do, because no retry helps until the user acts.
class FileError : public KestrelError {
public:
    enum class Kind {
        Other,
        DiskFull, // no space left, or the user's quota is used up
        ReadOnly,
        NoPermission,
    };

    explicit FileError(QString text) : m_text(std::move(text)) {}

    // Writing `needed` bytes to path failed with the system's text osText and error number
    // err (0 when unknown). The kind comes from err, else from the state of the file system
    // that holds the folder, so a lost error number still finds a full or read-only disk.
    static FileError writeFailed(const QString& path, const QString& osText, int err,
                                 qint64 needed = 0);

    // What the disk would answer to writing `needed` bytes to path, judged from its state
    // (read-only, free space) without writing anything; absent when it looks writable.
    static std::optional<FileError> refusal(const QString& path, qint64 needed);

    Kind kind() const { return m_kind; }
    // The folder takes no writes at all until the user acts: later writes would fail the same.
    bool blocksWrites() const { return m_kind != Kind::Other; }
    QString description() const override { return m_text; }

private:
    FileError(Kind kind, QString text) : m_kind(kind), m_text(std::move(text)) {}

    Kind m_kind = Kind::Other;
    QString m_text;
};
