#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// The on-disk credential: "credentials.json" in the service data folder, private to the user.
// Only the refresh token is secret; the access token never reaches disk. Every call rereads
// the file, so a TokenStore is just the folder it works in and is cheap to copy.
class TokenStore {
public:
    struct Blob {
        std::optional<QString> refreshToken;
        std::optional<QString> email;
        std::optional<QString> orgId;
        bool operator==(const Blob&) const = default;
    };

    // folder: StandardFolders::serviceData() in the app; a temporary folder in tests.
    explicit TokenStore(QString folder);
    // The per-user default folder.
    TokenStore();

    // key "email" -> email, "org_id" -> orgId, anything else (callers use "refresh_token") ->
    // refreshToken. A missing or corrupt file reads as an empty blob.
    std::optional<QString> get(const QString& key) const;
    // Read-modify-write of the one field the key selects; returns whether the file was written.
    bool set(const QString& value, const QString& key) const;
    // Deletes the file; a failure is ignored.
    void clear() const;

    QString path() const;
    const QString& folder() const { return m_folder; }

    Blob read() const;
    // The file's content: a corrupt one decodes as an empty blob, a field of the wrong type as
    // absent.
    static Blob decode(const QByteArray& json);
    static QByteArray encode(const Blob& blob);
    // Atomic replacement; the secret never sits in a file other users may read, not even for a
    // moment. Returns whether the file was written.
    bool write(const Blob& blob) const;

private:
    QString m_folder;
};
