#pragma once

#include "audio/OggWrap.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

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

// One hour of pen audio as the importer archives it (16 kHz Opus in Ogg), made once per run.
inline const QString& hourLongPenOgg()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        const QString p = dir.filePath(QStringLiteral("hour.ogg"));
        benchWrite(p, OggWrap::wrap(benchPackets(180000), 16000, QStringLiteral("QX27")));
        return p;
    }();
    return path;
}
