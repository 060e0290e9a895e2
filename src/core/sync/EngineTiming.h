#pragma once

#include <array>

// Every period, back-off and device time-out the engine uses, in seconds. The defaults are the
// production values; tests shrink them so a round against the virtual pen runs in milliseconds.
struct EngineTiming {
    // Reconnection interval after 0, 1, 2 and 3+ unproductive rounds in a row.
    std::array<double, 4> backoffSteps{60, 120, 300, 600};
    // Reconnection interval while a partial download waits to be resumed.
    double resumeCooldown = 15;
    // Sightings closer together than this are noted once.
    double sightingInterval = 5;
    // A longer silence than this is logged as the pen coming back.
    double returnGap = 45;
    // Length of the scan behind the manual trigger.
    double discoverSeconds = 8;

    // Device reads of one round.
    double statusTimeout = 4;
    double currentNameTimeout = 4;
    double batteryTimeout = 5;
    double infoTimeout = 4; // firmware, gain, capacity
    double listIdleFallback = 1.5;
    double listHardTimeout = 30;
    double downloadIdleTimeout = 12;

    // Base cool-down the application constructs the engine with.
    static constexpr double defaultCooldown = 60;

    // Returns a copy with every period and time-out multiplied by factor (tests).
    EngineTiming scaled(double factor) const
    {
        EngineTiming t = *this;
        for (double& s : t.backoffSteps)
            s *= factor;
        for (double* v :
             {&t.resumeCooldown, &t.sightingInterval, &t.returnGap, &t.discoverSeconds,
              &t.statusTimeout, &t.currentNameTimeout, &t.batteryTimeout, &t.infoTimeout,
              &t.listIdleFallback, &t.listHardTimeout, &t.downloadIdleTimeout})
            *v *= factor;
        return t;
    }
};
