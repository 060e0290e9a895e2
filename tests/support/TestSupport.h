#pragma once

#include <QCoro/QCoroTask>
#include <QString>
#include <QTemporaryDir>

#include <chrono>
#include <functional>
#include <optional>

namespace TestSupport {

// Runs a coroutine to completion on the current event loop and returns its value.
template <typename T> T run(QCoro::Task<T>&& task)
{
    return QCoro::waitFor(std::move(task));
}
inline void run(QCoro::Task<>&& task)
{
    QCoro::waitFor(std::move(task));
}

// Spins the event loop until pred() holds or the time-out passes; returns pred().
bool spinUntil(const std::function<bool()>& pred,
               std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Reads a whole file; empty when it does not exist.
QByteArray readFile(const QString& path);
// Writes a whole file, creating parent folders.
void writeFile(const QString& path, const QByteArray& data);

} // namespace TestSupport
