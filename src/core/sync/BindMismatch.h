#pragma once

#include <QString>

// The pen was last bound to another account than the one signed in.
struct BindMismatch {
    QString peripheralId;
    QString deviceName;
    QString previousEmail;
    QString currentEmail;

    const QString& id() const { return peripheralId; }
    bool operator==(const BindMismatch&) const = default;
};
