#pragma once

#include <QProcess>
#include <QTemporaryDir>

// A system bus of the test's own for a mock BlueZ: a private dbus-daemon whose address this
// process takes as the system bus. Create it before anything here touches the system bus or Qt
// Bluetooth, which read the address once.
class PrivateSystemBus {
public:
    // Starts the daemon; when it cannot, failure() says why and the tests skip.
    PrivateSystemBus();
    ~PrivateSystemBus();
    PrivateSystemBus(const PrivateSystemBus&) = delete;
    PrivateSystemBus& operator=(const PrivateSystemBus&) = delete;

    const char* failure() const { return m_failure; }

private:
    QTemporaryDir m_dir;
    QProcess m_daemon;
    const char* m_failure = nullptr;
};
