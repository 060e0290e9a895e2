#include "cloud/MindvaultConfig.h"

#include "cloud/JsonFields.h"

#include <QFile>

MindvaultConfig MindvaultConfig::load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw LoadError(u"读不到Mindvault配置：" + path + u"（" + file.errorString() + u"）");
    return decode(file.readAll());
}

MindvaultConfig MindvaultConfig::decode(const QByteArray& json)
{
    const auto root = JsonFields::parse(json);
    if (!root || !root->is_object())
        throw LoadError(QStringLiteral("Mindvault配置不是 JSON 对象"));
    MindvaultConfig config;
    const std::pair<const char*, QString*> keys[] = {{"apiBase", &config.apiBase},
                                                     {"supabaseUrl", &config.supabaseUrl},
                                                     {"supabaseAnonKey", &config.supabaseAnonKey}};
    for (const auto& [key, field] : keys) {
        auto value = JsonFields::string(*root, key);
        if (!value)
            throw LoadError(u"Mindvault配置缺少 " + QLatin1String(key));
        *field = *value;
    }
    return config;
}

QByteArray MindvaultConfig::encode() const
{
    const nlohmann::json j = {{"apiBase", apiBase.toStdString()},
                              {"supabaseUrl", supabaseUrl.toStdString()},
                              {"supabaseAnonKey", supabaseAnonKey.toStdString()}};
    return QByteArray::fromStdString(j.dump(2));
}
