#pragma once

#include "common/Error.h"

#include <QString>

// Errors of the device client.
class BLEError : public KestrelError {
public:
    enum class Kind {
        bluetoothUnavailable,
        connectFailed,
        missingCharacteristic,
        notFound,
        notConnected
    };

    static BLEError bluetoothUnavailable(const QString& detail)
    {
        return {Kind::bluetoothUnavailable, detail};
    }
    static BLEError connectFailed(const QString& detail) { return {Kind::connectFailed, detail}; }
    static BLEError missingCharacteristic(const QString& what)
    {
        return {Kind::missingCharacteristic, what};
    }
    static BLEError notFound() { return {Kind::notFound, {}}; }
    static BLEError notConnected() { return {Kind::notConnected, {}}; }

    Kind kind() const { return m_kind; }
    const QString& detail() const { return m_detail; }
    QString description() const override;

private:
    BLEError(Kind kind, QString detail) : m_kind(kind), m_detail(std::move(detail)) {}

    Kind m_kind;
    QString m_detail;
};
