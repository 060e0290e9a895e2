#pragma once

#include <QString>
#include <memory>
#include <optional>

class CentralPort;

// The Bluetooth backend the engine runs on: the virtual pen of a scenario file, or by default
// the computer's real Bluetooth (BlueZ on the system bus; DBUS_SYSTEM_BUS_ADDRESS is honoured).
// The one place that chooses; the headless runner and the desktop application both open here.
namespace PenBackend {

struct Opened {
    std::unique_ptr<CentralPort> central; // absent when it could not be opened
    QString error;                        // why, in a sentence for the user
    QString description;                  // which backend, and the adapter it found
};

Opened open(const std::optional<QString>& virtualPenScenario);

} // namespace PenBackend
