#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>

// Limits download progress updates to a changed whole percentage at most every 0.4 s; each
// update re-renders the UI. Safe to call from the BLE client's thread.
class ProgressThrottle {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    using Now = std::function<TimePoint()>;
    static constexpr std::chrono::milliseconds minInterval{400};

    explicit ProgressThrottle(Now now = &std::chrono::steady_clock::now);

    // The percentage to show, or nothing.
    std::optional<int> admit(int pct);

private:
    const Now m_now;
    std::mutex m_lock;
    std::optional<TimePoint> m_last; // absent: the distant past
    int m_lastPct = -1;
};
