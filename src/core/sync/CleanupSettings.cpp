#include "sync/CleanupSettings.h"

#include "sync/AtomicFile.h"
#include "sync/JsonRead.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <nlohmann/json.hpp>

std::optional<CleanupSettings> CleanupSettings::decode(const QByteArray& json)
{
    const auto doc = nlohmann::json::parse(json.begin(), json.end(), nullptr, false);
    if (!doc.is_object()) {
        return std::nullopt;
    }
    const auto del = doc.find("deleteAfterSync");
    const auto cool = doc.find("coolingDays");
    const auto minUp = doc.find("minUploadSeconds");
    if (del == doc.end() || cool == doc.end() || minUp == doc.end() || !del->is_boolean()) {
        return std::nullopt;
    }
    const auto coolingDays = JsonRead::toInt(*cool);
    const auto minUploadSeconds = JsonRead::toInt(*minUp);
    if (!coolingDays || !minUploadSeconds) {
        return std::nullopt;
    }
    return CleanupSettings{del->get<bool>(), *coolingDays, *minUploadSeconds};
}

QByteArray CleanupSettings::encode() const
{
    const nlohmann::json doc = {{"deleteAfterSync", deleteAfterSync},
                                {"coolingDays", coolingDays},
                                {"minUploadSeconds", minUploadSeconds}};
    return QByteArray::fromStdString(doc.dump());
}

CleanupSettings CleanupSettings::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    return decode(file.readAll()).value_or(CleanupSettings{});
}

void CleanupSettings::save(const QString& path) const
{
    QDir().mkpath(QFileInfo(path).absolutePath()); // a failure shows up as the write's
    AtomicFile::write(path, encode());
}
