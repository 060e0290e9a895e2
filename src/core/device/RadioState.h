#pragma once

#include <QString>

// The radio's states in the numbering the central reports and BLEError's "state=" carries.
namespace RadioState {

enum : int {
    unknown = 0,      // the Bluetooth service is not running
    resetting = 1,    // the Bluetooth service went away while we watched it
    unsupported = 2,  // no adapter (or no Bluetooth hardware at all)
    unauthorized = 3, // the system refuses us access
    poweredOff = 4,
    poweredOn = 5,
    blocked = 6, // off, and the system blocks it (airplane mode, rfkill)
};

// One plain sentence for the log and the status verb: what is wrong and what the user can do.
// Empty for poweredOn.
QString advice(int state);

} // namespace RadioState
