#include "sync/PenWatch.h"

bool PenWatch::lowBatteryWarningDue(std::optional<uint8_t> level)
{
    if (!level || *level == 110)
        return false;
    if (*level >= 31) {
        m_warnedLowBattery = false;
        return false;
    }
    if (*level <= 20 && !m_warnedLowBattery) {
        m_warnedLowBattery = true;
        return true;
    }
    return false;
}
