#include "device/PenReadings.h"

namespace PenReadings {

namespace {

uint32_t le32(const uint8_t* p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

} // namespace

std::optional<uint8_t> firstByte(QByteArrayView body)
{
    if (body.isEmpty()) {
        return std::nullopt;
    }
    return uint8_t(body[0]);
}

std::optional<Capacity> capacity(QByteArrayView body)
{
    if (body.size() < 8) {
        return std::nullopt;
    }
    const auto* p = reinterpret_cast<const uint8_t*>(body.data());
    return Capacity{le32(p), le32(p + 4)};
}

QString text(QByteArrayView body)
{
    const qsizetype nul = body.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? body : body.first(nul));
}

std::optional<QString> currentName(QByteArrayView body)
{
    QString name = text(body);
    if (name.isEmpty()) {
        return std::nullopt;
    }
    return name;
}

} // namespace PenReadings
