#pragma once

#include <QCoro/QCoroTask>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <chrono>
#include <exception>
#include <functional>
#include <gtest/gtest.h>
#include <optional>

namespace TestSupport {

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

// Runs a coroutine to completion on the current event loop and returns its value, rethrowing
// what it threw. (QCoro's waitFor never returns when the awaited task ends in an exception, so
// the task is wrapped in one that cannot throw.)
template <typename T> T run(QCoro::Task<T>&& task)
{
    std::optional<T> result;
    std::exception_ptr error;
    QCoro::waitFor(detail::capture(std::move(task), result, error));
    if (error) {
        std::rethrow_exception(error);
    }
    return std::move(*result);
}
inline void run(QCoro::Task<>&& task)
{
    std::exception_ptr error;
    QCoro::waitFor(detail::capture(std::move(task), error));
    if (error) {
        std::rethrow_exception(error);
    }
}

// Spins the event loop until pred() holds or the time-out passes; returns pred().
bool spinUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Reads a whole file; empty when it does not exist.
QByteArray readFile(const QString& path);
// Writes a whole file, creating parent folders.
void writeFile(const QString& path, const QByteArray& data);

// What a program run to its end printed, and its exit code (-1 when it crashed or did not end
// within the time-out).
struct ProgramRun {
    int exitCode = -1;
    QString out;
    QString err;
};
ProgramRun runProgram(const QString& program, const QStringList& args, const QByteArray& input = {},
                      const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                      std::chrono::milliseconds timeout = std::chrono::seconds(30));

// What a transfer cut short leaves in the archive under `root`: a partial of whole 40-byte
// packets, and beside it the size the pen announced.
::testing::AssertionResult validPartial(const QString& root, const QString& base,
                                        const QByteArray& announced);

} // namespace TestSupport
