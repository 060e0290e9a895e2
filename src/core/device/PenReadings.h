#pragma once

#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

// What the pen's state answers say, read from their bodies (the payload after type and cmd).
// Pure; any bytes are accepted: a body too short for its reading is absent.
namespace PenReadings {

struct Capacity {
    uint32_t remain = 0;
    uint32_t total = 0;
    bool operator==(const Capacity&) const = default;
};

// Battery percentage, gain and recording status are the body's first byte.
std::optional<uint8_t> firstByte(QByteArrayView body);
// Two little-endian 32-bit counts: remaining, then total.
std::optional<Capacity> capacity(QByteArrayView body);
// Firmware version: UTF-8 up to the first NUL (invalid bytes become U+FFFD).
QString text(QByteArrayView body);
// The file being recorded; an empty name means none.
std::optional<QString> currentName(QByteArrayView body);

} // namespace PenReadings
