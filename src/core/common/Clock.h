#pragma once

#include <QDateTime>

#include <functional>

// Wall-clock time, injected wherever dates matter (stamps, cool-off days, witnesses, retry
// times) so tests can move time without waiting.
using Clock = std::function<QDateTime()>;

inline Clock systemClock()
{
    return [] { return QDateTime::currentDateTime(); };
}
