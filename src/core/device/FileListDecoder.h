#pragma once

#include "device/FileEntry.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// Decodes the body of one file-list frame (big-endian count, then 28-byte entries).
class FileListDecoder {
public:
    // Only complete entries are returned; extra trailing bytes are ignored.
    static QList<FileEntry> decode(QByteArrayView payload);
    static QList<FileEntry> decode(const QByteArray& payload)
    {
        return decode(QByteArrayView(payload));
    }
};
