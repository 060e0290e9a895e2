#include "SoakRecording.h"

#include "VirtualPen.h"
#include "audio/OggWrap.h"
#include "device/FileEntry.h"
#include "sync/SyncPlanner.h"

QByteArray SoakRecording::content() const
{
    return VirtualPen::generatePackets(packets, seed);
}

uint32_t SoakRecording::listedSeconds() const
{
    return VirtualPen::defaultTime(qint64(packets) * OggWrap::packetLen);
}

QString SoakRecording::ledgerKey() const
{
    FileEntry entry;
    entry.name = name;
    entry.time = listedSeconds();
    entry.size = uint32_t(packets * OggWrap::packetLen);
    return SyncPlanner::manifestKey(entry);
}
