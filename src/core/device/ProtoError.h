#pragma once

#include "common/Error.h"

#include <QString>

// Errors of the wire protocol's builders.
class ProtoError : public KestrelError {
public:
    enum class Kind { filenameTooLong };

    static ProtoError filenameTooLong(const QString& name) { return {Kind::filenameTooLong, name}; }

    Kind kind() const { return m_kind; }
    // The refused file name.
    const QString& name() const { return m_name; }
    // "文件名超过 24B: " + name
    QString description() const override;

private:
    ProtoError(Kind kind, QString name) : m_kind(kind), m_name(std::move(name)) {}

    Kind m_kind;
    QString m_name;
};
