#include "sync/DeviceInfo.h"

bool DeviceInfo::isNearby(const QDateTime& now) const
{
    if (connected) {
        return true;
    }
    if (!lastSeenAt) {
        return false;
    }
    return lastSeenAt->msecsTo(now) <= static_cast<qint64>(nearbyWindow * 1000.0);
}
