#pragma once

#include <QDateTime>
#include <QString>
#include <cstdint>
#include <optional>

// What is known about the pen; the engine publishes it for the UI.
struct DeviceInfo {
    // How long after the last advertisement the pen still counts as nearby.
    static constexpr double nearbyWindow = 45.0;

    QString name = QStringLiteral("\u2014"); // placeholder until the first sighting
    bool connected = false;
    std::optional<uint8_t> battery;
    std::optional<QString> firmware;
    std::optional<uint8_t> gain;
    std::optional<uint8_t> recordStatus;
    std::optional<uint32_t> capacityRemain;
    std::optional<uint32_t> capacityTotal;
    std::optional<QString> bindingName;
    std::optional<QString> peripheralId; // upper case
    std::optional<QDateTime> lastSeenAt;
    std::optional<QDateTime> readingsAt;

    bool operator==(const DeviceInfo&) const = default;

    bool isNearby(const QDateTime& now) const;
};
