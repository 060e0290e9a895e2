#pragma once

#include <QByteArray>
#include <QString>
#include <nlohmann/json.hpp>
#include <optional>

// Lenient field access on service replies: a field of the wrong type counts as absent.
namespace JsonFields {

inline QString toQString(const std::string& s)
{
    return QString::fromStdString(s);
}

inline std::optional<QString> string(const nlohmann::json& obj, const char* key)
{
    if (!obj.is_object())
        return std::nullopt;
    auto it = obj.find(key);
    if (it == obj.end() || !it->is_string())
        return std::nullopt;
    return toQString(it->get<std::string>());
}

// A JSON number or a numeric string.
inline std::optional<qint64> integer(const nlohmann::json& obj, const char* key)
{
    if (!obj.is_object())
        return std::nullopt;
    auto it = obj.find(key);
    if (it == obj.end())
        return std::nullopt;
    if (it->is_number_integer())
        return it->get<qint64>();
    if (it->is_number_float())
        return qint64(it->get<double>());
    if (it->is_string()) {
        bool ok = false;
        const qint64 v = toQString(it->get<std::string>()).trimmed().toLongLong(&ok);
        if (ok)
            return v;
        const double d = toQString(it->get<std::string>()).trimmed().toDouble(&ok);
        if (ok)
            return qint64(d);
    }
    return std::nullopt;
}

// Parses bytes; nullopt when they are not JSON.
inline std::optional<nlohmann::json> parse(const QByteArray& data)
{
    auto j = nlohmann::json::parse(data.begin(), data.end(), nullptr, false);
    if (j.is_discarded())
        return std::nullopt;
    return j;
}

} // namespace JsonFields
