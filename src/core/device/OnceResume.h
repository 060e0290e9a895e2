#pragma once

#include <QCoreApplication>
#include <QMetaObject>
#include <coroutine>
#include <memory>
#include <optional>
#include <utility>

// A waiter that is resumed exactly once: the first fire() stores the value and wakes the
// coroutine awaiting it; every later fire() is ignored. Copies share the same state, so a timer,
// an event and a disconnection can each hold one and race safely.
//
// The awaiting coroutine is resumed from the event loop, never from inside fire(): callbacks that
// fire a waiter finish before the woken flow runs, so a flow never re-enters the code that woke it.
template <typename T> class OnceResume {
public:
    bool fired() const { return m_state->value.has_value(); }

    // Returns false when the waiter had already been fired.
    bool fire(T value) const
    {
        if (m_state->value) {
            return false;
        }
        m_state->value = std::move(value);
        if (auto handle = std::exchange(m_state->handle, {})) {
            if (auto* app = QCoreApplication::instance()) {
                QMetaObject::invokeMethod(
                    app, [handle] { handle.resume(); }, Qt::QueuedConnection);
            } else {
                handle.resume();
            }
        }
        return true;
    }

    // Whether both refer to the same wait.
    bool operator==(const OnceResume& other) const { return m_state == other.m_state; }

    auto operator co_await() const
    {
        struct Awaiter {
            std::shared_ptr<State> state;
            bool await_ready() const noexcept { return state->value.has_value(); }
            void await_suspend(std::coroutine_handle<> h) noexcept { state->handle = h; }
            T await_resume() { return *state->value; }
        };
        return Awaiter{m_state};
    }

private:
    struct State {
        std::optional<T> value;
        std::coroutine_handle<> handle;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
};
