#pragma once

#include "common/Error.h"

// A file-system operation failed; the text is the operating system's own description.
class FileError : public KestrelError {
public:
    explicit FileError(QString text) : m_text(std::move(text)) {}
    QString description() const override { return m_text; }

private:
    QString m_text;
};
