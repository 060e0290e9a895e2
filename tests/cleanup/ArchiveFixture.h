#pragma once

#include "audio/OggWrap.h"
#include "support/TestSupport.h"
#include "sync/SyncPaths.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <ostream>

// Readable failure messages for texts.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

// An archive root in a temporary folder, with real recordings: the pen's 40-byte packets cut
// from a short speech clip and wrapped the way the importer wraps them.
class ArchiveFixture {
public:
    ArchiveFixture() : paths(dir.path()) { paths.ensureDirs(); }

    // n packets of real speech (the clip repeats for long recordings).
    static QByteArray packets(qsizetype n)
    {
        static const QByteArray clip =
            TestSupport::readFile(QStringLiteral(KESTREL_FIXTURES "/audio/speech-188-packets.raw"));
        QByteArray out;
        out.reserve(n * 40);
        while (out.size() < n * 40) {
            out += clip.left(n * 40 - out.size());
        }
        return out;
    }
    static QByteArray ogg(qsizetype n)
    {
        return OggWrap::wrap(packets(n), 16000, QStringLiteral("QX27"));
    }

    // The same Ogg file without the decoder's start padding, so it decodes to exactly n x 20 ms.
    static QByteArray oggWithoutPreSkip(qsizetype n)
    {
        QByteArray o = ogg(n);
        constexpr int firstPage = 47; // header 27 + one lacing value + 19 bytes of OpusHead
        o[38] = 0;                    // pre-skip, little-endian, in the OpusHead
        o[39] = 0;
        o.replace(22, 4, QByteArray(4, '\0'));
        const uint32_t crc = OggWrap::crc(o.constData(), firstPage);
        for (int i = 0; i < 4; ++i) {
            o[22 + i] = char((crc >> (8 * i)) & 0xff);
        }
        return o;
    }

    QString rawPath(const QString& base) const
    {
        return paths.rawPackets() + u'/' + base + QStringLiteral(".opus");
    }
    QString oggPath(const QString& base) const
    {
        return paths.dest() + u'/' + base + QStringLiteral(".ogg");
    }

    void write(const QString& path, const QByteArray& bytes) const
    {
        TestSupport::writeFile(path, bytes);
    }
    // What the cloud folder leaves when it evicts a file.
    void evict(const QString& path) const
    {
        QFile::remove(path);
        const int slash = int(path.lastIndexOf(u'/'));
        write(path.left(slash + 1) + u'.' + path.mid(slash + 1) + QStringLiteral(".icloud"), "x");
    }
    // A name the file system cannot answer for (a symbolic link to itself).
    void makeUnstatable(const QString& path) const
    {
        QFile::remove(path);
        QFile::link(path, path);
    }
    void makeFolder(const QString& path) const { QDir().mkpath(path); }

    // A complete recording: raw packets and their Ogg file.
    void record(const QString& base, qsizetype packetCount) const
    {
        write(rawPath(base), packets(packetCount));
        write(oggPath(base), ogg(packetCount));
    }

    QTemporaryDir dir;
    SyncPaths paths;
};
