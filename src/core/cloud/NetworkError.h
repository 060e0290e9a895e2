#pragma once

#include "common/Error.h"

#include <QString>

// A request that got no HTTP answer at all (host unreachable, refused, timed out). Callers tell
// it apart from MindvaultError: a session check answers "unreachable" for it.
class NetworkError : public KestrelError {
public:
    NetworkError(int code, QString text) : m_code(code), m_text(std::move(text)) {}

    // QNetworkReply::NetworkError value.
    int code() const { return m_code; }
    QString description() const override { return m_text; }

private:
    int m_code;
    QString m_text;
};
