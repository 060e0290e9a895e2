#include "cloud/DeviceBinding.h"

#include "cloud/JsonFields.h"
#include "platform/FolderSync.h"
#include "platform/StandardFolders.h"
#include "sync/AtomicFile.h"

#include <QDir>
#include <QFile>

DeviceBinding::DeviceBinding(QString folder) : m_folder(std::move(folder)) {}

DeviceBinding::DeviceBinding() : DeviceBinding(StandardFolders::serviceData()) {}

QString DeviceBinding::path() const
{
    return m_folder + u"/device-bindings.json";
}

DeviceBinding::Map DeviceBinding::readAll() const
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return decode(file.readAll());
}

DeviceBinding::Map DeviceBinding::decode(const QByteArray& json)
{
    Map out;
    const auto root = JsonFields::parse(json);
    if (!root || !root->is_object())
        return out;
    for (const auto& [key, value] : root->items()) {
        const auto orgId = JsonFields::string(value, "orgId");
        const auto email = JsonFields::string(value, "email");
        const auto deviceNo = JsonFields::string(value, "deviceNo");
        if (orgId && email && deviceNo)
            out.insert(QString::fromStdString(key), Binding{*orgId, *email, *deviceNo});
    }
    return out;
}

std::optional<DeviceBinding::Binding> DeviceBinding::binding(const QString& peripheralId) const
{
    const Map all = readAll();
    const auto it = all.constFind(peripheralId);
    if (it == all.cend())
        return std::nullopt;
    return *it;
}

void DeviceBinding::bind(const QString& peripheralId, const QString& orgId, const QString& email,
                         const QString& deviceNo) const
{
    Map all = readAll();
    all.insert(peripheralId, Binding{orgId, email, deviceNo});
    writeAll(all);
}

void DeviceBinding::writeAll(const Map& bindings) const
{
    FolderSync::makePrivate(m_folder); // a failure shows up as a failed write, ignored too
    AtomicFile::tryWrite(path(), encode(bindings), AtomicFile::Access::OwnerOnly);
}

QByteArray DeviceBinding::encode(const Map& bindings)
{
    nlohmann::json root = nlohmann::json::object();
    for (auto it = bindings.cbegin(); it != bindings.cend(); ++it) {
        root[it.key().toStdString()] = {{"orgId", it->orgId.toStdString()},
                                        {"email", it->email.toStdString()},
                                        {"deviceNo", it->deviceNo.toStdString()}};
    }
    return QByteArray::fromStdString(root.dump(2));
}
