#pragma once

#include <QTimer>
#include <chrono>
#include <coroutine>
#include <list>
#include <memory>
#include <utility>

// Timed waits for long-lived loops that their owner can end early. A loop parked in a plain
// timer wait keeps its coroutine frame until the timer fires; once the owner is gone and the
// event loop stops, nothing fires it and the frame is lost. wakeAll() resumes every sleeper
// from inside the call, so a loop told to stop (it re-checks after every wait) finishes before
// its owner is destroyed. The destructor wakes whatever still sleeps.
class WakeableSleep {
public:
    class Awaiter {
    public:
        Awaiter(WakeableSleep* owner, std::chrono::milliseconds period)
            : m_owner(owner), m_period(period)
        {}
        // Moved only before the wait begins (the compiler may move it into the frame).
        Awaiter(Awaiter&& other) noexcept : m_owner(other.m_owner), m_period(other.m_period)
        {
            other.m_owner = nullptr;
        }
        Awaiter(const Awaiter&) = delete;
        Awaiter& operator=(const Awaiter&) = delete;
        Awaiter& operator=(Awaiter&&) = delete;
        ~Awaiter()
        {
            if (m_owner)
                m_owner->m_sleepers.remove(this);
        }

        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            m_handle = handle;
            m_timer = std::make_unique<QTimer>();
            m_timer->setSingleShot(true);
            QObject::connect(m_timer.get(), &QTimer::timeout, [this] { wake(); });
            m_timer->start(m_period);
            m_owner->m_sleepers.push_back(this);
        }
        void await_resume() const noexcept {}

    private:
        friend class WakeableSleep;
        void wake()
        {
            if (!m_handle)
                return;
            m_timer->stop();
            if (m_owner)
                m_owner->m_sleepers.remove(this);
            m_owner = nullptr;
            std::exchange(m_handle, {}).resume();
        }

        WakeableSleep* m_owner;
        std::chrono::milliseconds m_period;
        std::coroutine_handle<> m_handle;
        std::unique_ptr<QTimer> m_timer;
    };

    WakeableSleep() = default;
    WakeableSleep(const WakeableSleep&) = delete;
    WakeableSleep& operator=(const WakeableSleep&) = delete;
    ~WakeableSleep() { wakeAll(); }

    // co_await sleep(period): resumes after period, or at the next wakeAll().
    Awaiter sleep(std::chrono::milliseconds period) { return Awaiter(this, period); }

    // Wakes those asleep now; a woken loop that sleeps again waits for its own timer.
    void wakeAll()
    {
        for (auto n = m_sleepers.size(); n > 0 && !m_sleepers.empty(); --n)
            m_sleepers.front()->wake();
    }

    bool anyAsleep() const { return !m_sleepers.empty(); }

private:
    std::list<Awaiter*> m_sleepers;
};
