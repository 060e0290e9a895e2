#include "device/FileListDecoder.h"

#include "device/Proto.h"

#include <algorithm>

namespace {

uint32_t be32(const uint8_t* p)
{
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

} // namespace

QList<FileEntry> FileListDecoder::decode(QByteArrayView payload)
{
    QList<FileEntry> out;
    if (payload.size() < 4) {
        return out;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(payload.data());
    const qsizetype fit = (payload.size() - 4) / Proto::entryLen;
    const qsizetype count = std::min<qsizetype>(be32(p), fit);
    out.reserve(count);
    for (qsizetype i = 0; i < count; ++i) {
        const uint8_t* e = p + 4 + i * Proto::entryLen;
        FileEntry entry;
        entry.time = be32(e);
        entry.size = be32(e + 4);
        entry.rawName = QByteArray(reinterpret_cast<const char*>(e + 8), Proto::nameFieldLen);
        const qsizetype nul = entry.rawName.indexOf('\0');
        entry.name = QString::fromUtf8(nul < 0 ? entry.rawName : entry.rawName.left(nul));
        out.append(entry);
    }
    return out;
}
