#pragma once

#include <QString>

#include <exception>
#include <string>

// Base of every error enumeration of ours (ProtoError, BLEError, MindvaultError, WrapError, ...).
// Operations throw these; description() is the complete Chinese sentence shown to the user and
// written to the log.
class KestrelError : public std::exception {
public:
    virtual QString description() const = 0;

    const char* what() const noexcept override
    {
        m_what = description().toStdString();
        return m_what.c_str();
    }

private:
    mutable std::string m_what;
};
