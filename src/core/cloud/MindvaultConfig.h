#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>

// Where the service is and its gateway's public key, read from "importer/mindvault.json".
// All three keys are required; there are no defaults.
struct MindvaultConfig {
    QString apiBase;         // application API: "/api/..." paths are appended
    QString supabaseUrl;     // authentication and table gateway: "/auth/v1/...", "/rest/v1/..."
    QString supabaseAnonKey; // sent as the "apikey" header

    // Reading or decoding failed; callers treat the service as not configured.
    class LoadError : public KestrelError {
    public:
        explicit LoadError(QString text) : m_text(std::move(text)) {}
        QString description() const override { return m_text; }

    private:
        QString m_text;
    };

    // Throws LoadError when the file is missing, unreadable, not JSON or lacks a key.
    static MindvaultConfig load(const QString& path);
    static MindvaultConfig decode(const QByteArray& json);
    QByteArray encode() const;

    bool operator==(const MindvaultConfig&) const = default;
};
