#pragma once

#include <QString>
#include <memory>
#include <optional>

class CentralPort;

// The Bluetooth backend the engine runs on: the virtual pen of a scenario file, or the
// computer's real Bluetooth.
namespace PenBackend {

struct Opened {
    std::unique_ptr<CentralPort> central; // absent when it could not be opened
    QString error;                        // why, in a sentence for the user
};

Opened open(const std::optional<QString>& virtualPenScenario);

} // namespace PenBackend
