#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>

// One file on the pen, as its file list reports it.
struct FileEntry {
    uint32_t time = 0;  // duration in whole seconds, as the pen reports it
    uint32_t size = 0;  // bytes
    QString name;       // name bytes up to the first NUL, decoded as UTF-8 (invalid -> U+FFFD)
    QByteArray rawName; // all 20 bytes of the name field, NULs included

    bool operator==(const FileEntry&) const = default;

    // name with one trailing "." removed.
    QString base() const;
    // Names the pen may know this file under, in the order to try them.
    QStringList candidates() const;
};
