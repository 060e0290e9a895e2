#pragma once

#include <QString>

// How a device self-registration ended. Only `failed` carries a reason (for the log and UI).
class DeviceBindOutcome {
public:
    enum class Kind { failed, ok, deviceTaken, unauthorized };

    static DeviceBindOutcome failed(QString reason) { return {Kind::failed, std::move(reason)}; }
    static DeviceBindOutcome ok() { return {Kind::ok, {}}; }
    // The device number is registered to someone else.
    static DeviceBindOutcome deviceTaken() { return {Kind::deviceTaken, {}}; }
    static DeviceBindOutcome unauthorized() { return {Kind::unauthorized, {}}; }

    Kind kind() const { return m_kind; }
    bool is(Kind k) const { return m_kind == k; }
    const QString& reason() const { return m_reason; }

    bool operator==(const DeviceBindOutcome&) const = default;

private:
    DeviceBindOutcome(Kind kind, QString reason) : m_kind(kind), m_reason(std::move(reason)) {}

    Kind m_kind;
    QString m_reason;
};
