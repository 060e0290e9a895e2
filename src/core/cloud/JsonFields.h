#pragma once

#include <QByteArray>
#include <QString>
#include <limits>
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

// A whole number that fits in qint64 (fractions are cut); anything else is absent.
inline std::optional<qint64> toInteger(double d)
{
    // The negated test also turns NaN away; converting a double outside the range is undefined.
    if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
        return std::nullopt;
    return qint64(d);
}

// A JSON number or a numeric string.
inline std::optional<qint64> integer(const nlohmann::json& obj, const char* key)
{
    if (!obj.is_object())
        return std::nullopt;
    auto it = obj.find(key);
    if (it == obj.end())
        return std::nullopt;
    if (it->is_number_unsigned()) {
        const auto u = it->get<uint64_t>();
        return u <= uint64_t(std::numeric_limits<qint64>::max()) ? std::optional<qint64>(qint64(u))
                                                                 : std::nullopt;
    }
    if (it->is_number_integer())
        return it->get<qint64>();
    if (it->is_number_float())
        return toInteger(it->get<double>());
    if (it->is_string()) {
        const QString text = toQString(it->get<std::string>()).trimmed();
        bool ok = false;
        const qint64 v = text.toLongLong(&ok);
        if (ok)
            return v;
        const double d = text.toDouble(&ok);
        if (ok)
            return toInteger(d);
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
