#pragma once

#include "common/Error.h"

#include <QString>

// The error every service call throws. description() is the user-facing sentence.
class MindvaultError : public KestrelError {
public:
    enum class Kind {
        notFound,
        http,
        badResponse,
        notLoggedIn,
        sessionRevoked,
        canonicalReadOnly,
        alreadyAnalyzed,
        credentialNotSaved,
    };

    static MindvaultError notFound(QString what);
    // what: a short step label ("登录", "建会话", ...); body: the reply body as received.
    static MindvaultError http(QString what, int status, QString body);
    static MindvaultError badResponse(QString detail);
    static MindvaultError notLoggedIn();
    static MindvaultError sessionRevoked();
    static MindvaultError canonicalReadOnly();
    static MindvaultError alreadyAnalyzed();
    // A sign-in the service accepted but this computer could not keep (path: the credential).
    static MindvaultError credentialNotSaved(QString path);

    Kind kind() const { return m_kind; }
    // notFound/http: the step label; badResponse: the detail; credentialNotSaved: the path.
    const QString& whatText() const { return m_text; }
    int status() const { return m_status; }        // http only, else 0
    const QString& body() const { return m_body; } // http only

    QString description() const override;

private:
    MindvaultError(Kind kind, QString text = {}, int status = 0, QString body = {});

    Kind m_kind;
    QString m_text;
    int m_status;
    QString m_body;
};
