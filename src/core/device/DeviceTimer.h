#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <functional>
#include <limits>

// A single-shot timer that lives as long as the scope waiting on it: leaving the scope (the
// wait ended some other way) stops it, so a late time-out never fires into a finished wait.
class DeviceTimer {
public:
    DeviceTimer(QObject* context, double seconds, std::function<void()> onTimeout)
        : m_timer(new QTimer(context))
    {
        m_timer->setSingleShot(true);
        m_timer->setTimerType(Qt::PreciseTimer);
        QObject::connect(m_timer, &QTimer::timeout, m_timer, std::move(onTimeout));
        m_timer->start(toMs(seconds));
    }
    ~DeviceTimer() { delete m_timer.data(); } // already gone if its context was destroyed
    DeviceTimer(const DeviceTimer&) = delete;
    DeviceTimer& operator=(const DeviceTimer&) = delete;

    // Monotonic seconds, for deadlines and durations.
    static double now()
    {
        using namespace std::chrono;
        return duration<double>(steady_clock::now().time_since_epoch()).count();
    }

    static int toMs(double seconds)
    {
        if (!(seconds > 0)) {
            return 0;
        }
        const double ms = std::ceil(seconds * 1000.0);
        return ms > double(std::numeric_limits<int>::max()) ? std::numeric_limits<int>::max()
                                                            : int(ms);
    }

private:
    QPointer<QTimer> m_timer;
};
