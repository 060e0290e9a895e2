#include "cloud/TokenStore.h"

#include "cloud/JsonFields.h"
#include "platform/FolderSync.h"
#include "platform/StandardFolders.h"

#include <QDir>
#include <QFile>
#include <QTemporaryFile>
#include <filesystem>
#include <system_error>

TokenStore::TokenStore(QString folder) : m_folder(std::move(folder)) {}

TokenStore::TokenStore() : TokenStore(StandardFolders::serviceData()) {}

QString TokenStore::path() const
{
    return m_folder + u"/credentials.json";
}

TokenStore::Blob TokenStore::read() const
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decode(file.readAll());
}

TokenStore::Blob TokenStore::decode(const QByteArray& json)
{
    const auto root = JsonFields::parse(json);
    if (!root || !root->is_object())
        return {};
    return Blob{JsonFields::string(*root, "refreshToken"), JsonFields::string(*root, "email"),
                JsonFields::string(*root, "orgId")};
}

QByteArray TokenStore::encode(const Blob& blob)
{
    nlohmann::json j = nlohmann::json::object();
    if (blob.refreshToken)
        j["refreshToken"] = blob.refreshToken->toStdString();
    if (blob.email)
        j["email"] = blob.email->toStdString();
    if (blob.orgId)
        j["orgId"] = blob.orgId->toStdString();
    return QByteArray::fromStdString(j.dump(2));
}

namespace {

std::optional<QString> TokenStore::Blob::*field(const QString& key)
{
    if (key == u"email")
        return &TokenStore::Blob::email;
    if (key == u"org_id")
        return &TokenStore::Blob::orgId;
    return &TokenStore::Blob::refreshToken;
}

} // namespace

std::optional<QString> TokenStore::get(const QString& key) const
{
    return read().*field(key);
}

bool TokenStore::set(const QString& value, const QString& key) const
{
    Blob blob = read();
    blob.*field(key) = value;
    return write(blob);
}

void TokenStore::clear() const
{
    QFile::remove(path());
}

bool TokenStore::write(const Blob& blob) const
{
    FolderSync::makePrivate(m_folder); // failure shows up when the file cannot be created

    const QByteArray text = encode(blob);

    // The temporary file is created owner-only (and set so explicitly, whatever the umask) before
    // a byte of the secret goes in; the rename then swaps it in atomically with those bits.
    QTemporaryFile temp(m_folder + u"/.credentials-XXXXXX");
    if (!temp.open())
        return false;
    if (!temp.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner))
        return false;
    if (temp.write(text.data(), qint64(text.size())) != qint64(text.size()) || !temp.flush())
        return false;
    std::error_code ec;
    std::filesystem::rename(temp.fileName().toStdString(), path().toStdString(), ec);
    if (ec)
        return false;
    temp.setAutoRemove(false);
    FolderSync::sync(m_folder);
    return true;
}
