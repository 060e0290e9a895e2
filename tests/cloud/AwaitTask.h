#pragma once

#include "support/TestSupport.h"

#include <QCoro/QCoroTask>
#include <exception>
#include <optional>

// Runs a task to completion like TestSupport::run, but also hands back what it threw: QCoro's
// waitFor never returns when the awaited task ends in an exception.
namespace AwaitTask {

namespace detail {
template <typename T>
QCoro::Task<> capture(QCoro::Task<T> task, std::optional<T>& result, std::exception_ptr& error)
{
    try {
        result = co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
}
inline QCoro::Task<> capture(QCoro::Task<> task, std::exception_ptr& error)
{
    try {
        co_await std::move(task);
    } catch (...) {
        error = std::current_exception();
    }
}
} // namespace detail

template <typename T> T run(QCoro::Task<T>&& task)
{
    std::optional<T> result;
    std::exception_ptr error;
    TestSupport::run(detail::capture(std::move(task), result, error));
    if (error)
        std::rethrow_exception(error);
    return std::move(*result);
}

inline void run(QCoro::Task<>&& task)
{
    std::exception_ptr error;
    TestSupport::run(detail::capture(std::move(task), error));
    if (error)
        std::rethrow_exception(error);
}

} // namespace AwaitTask
