// A file-list body from the pen: entries are only whole ones, and a name the planner accepts
// as safe never leads out of the archive folder.
#include "FuzzCheck.h"
#include "device/FileListDecoder.h"
#include "device/Proto.h"
#include "sync/SyncPlanner.h"

#include <QDir>

using namespace Qt::Literals::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    const QList<FileEntry> entries = FileListDecoder::decode(body);
    if (size < 4) {
        FUZZ_CHECK(entries.isEmpty());
        return 0;
    }
    const uint32_t declared =
        (uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) | data[3];
    FUZZ_CHECK(uint32_t(entries.size()) <= declared);
    FUZZ_CHECK(entries.size() <= qsizetype(size - 4) / Proto::entryLen);

    const QString folder = u"/archive/导入/原始包"_s;
    for (qsizetype i = 0; i < entries.size(); ++i) {
        const FileEntry& e = entries[i];
        FUZZ_CHECK(e.rawName == body.mid(4 + i * Proto::entryLen + 8, Proto::nameFieldLen));
        FUZZ_CHECK(!e.name.contains(QChar(0)));
        FUZZ_CHECK(!e.candidates().isEmpty());
        if (!SyncPlanner::isSafeEntry(e))
            continue;
        const QString base = SyncPlanner::normalizedBase(e.name);
        for (const QString& suffix : {u".opus"_s, u".part"_s, u".part.size"_s, u".ogg"_s}) {
            const QString path = QDir::cleanPath(folder + u'/' + base + suffix);
            FUZZ_CHECK(path.startsWith(folder + u'/'));
            FUZZ_CHECK(!path.sliced(folder.size() + 1).contains(u'/'));
        }
    }
    return 0;
}
