#pragma once

#include <QString>

// One advertisement sighting.
struct Discovered {
    QString peripheral; // the central port's identity of the device
    QString name;
    int rssi = 0;           // dBm
    bool byService = false; // the advertisement listed the AE20 service

    bool operator==(const Discovered&) const = default;
};
