#pragma once

#include "audio/OggWrap.h"

#include <QByteArray>
#include <QFile>
#include <QString>

// n of the pen's 40-byte packets of real speech (a short clip, repeated).
inline QByteArray benchPackets(qsizetype n)
{
    static const QByteArray clip = [] {
        QFile f(QStringLiteral(KESTREL_FIXTURES "/audio/speech-188-packets.raw"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }();
    QByteArray out;
    out.reserve(n * 40);
    while (!clip.isEmpty() && out.size() < n * 40) {
        out += clip.left(n * 40 - out.size());
    }
    return out;
}

inline bool benchWrite(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}
