#include "device/Proto.h"

#include "device/ProtoError.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>

namespace Proto {

QString uuid16(uint16_t value)
{
    return QStringLiteral("0000%1-0000-1000-8000-00805f9b34fb")
        .arg(value, 4, 16, QLatin1Char('0'))
        .toLower();
}

const QString serviceMain = uuid16(0xAE20);
const QString charWrite = uuid16(0xAE21);
const QString charNotify = uuid16(0xAE22);
const QString charKey = uuid16(0xAE23);

std::optional<QString> importEndMeaning(uint8_t code)
{
    switch (code) {
    case 0:
        return QStringLiteral("完成");
    case 1:
        return QStringLiteral("文件不存在");
    case 2:
        return QStringLiteral("offset 过大");
    case 3:
        return QStringLiteral("其他原因停止");
    default:
        return std::nullopt;
    }
}

std::optional<uint8_t> Frame::type() const
{
    if (data.isEmpty()) {
        return std::nullopt;
    }
    return uint8_t(data[0]);
}

std::optional<uint8_t> Frame::cmd() const
{
    if (data.size() < 2) {
        return std::nullopt;
    }
    return uint8_t(data[1]);
}

QByteArray Frame::body() const
{
    return data.size() < 3 ? QByteArray() : data.mid(2);
}

bool Frame::is(uint8_t groupType, uint8_t command) const
{
    return data.size() >= 2 && uint8_t(data[0]) == groupType && uint8_t(data[1]) == command;
}

namespace {

// Slicing-by-8 tables: table[k][b] is the CRC of byte b followed by k zero bytes. The CRC is
// linear with a zero start value, so eight bytes fold into eight independent look-ups.
struct CrcTables {
    std::array<std::array<uint16_t, 256>, 8> t{};
    constexpr CrcTables()
    {
        for (int b = 0; b < 256; ++b) {
            uint16_t crc = uint16_t(b << 8);
            for (int i = 0; i < 8; ++i) {
                crc = (crc & 0x8000) ? uint16_t((crc << 1) ^ 0x1021) : uint16_t(crc << 1);
            }
            t[0][b] = crc;
        }
        for (int k = 1; k < 8; ++k) {
            for (int b = 0; b < 256; ++b) {
                const uint16_t prev = t[k - 1][b];
                t[k][b] = uint16_t((prev << 8) ^ t[0][prev >> 8]);
            }
        }
    }
};
constexpr CrcTables crcTables;

} // namespace

uint16_t crc16(const uint8_t* p, size_t n)
{
    const auto& t = crcTables.t;
    uint16_t crc = 0;
    while (n >= 8) {
        const uint8_t x0 = uint8_t(p[0] ^ (crc >> 8));
        const uint8_t x1 = uint8_t(p[1] ^ (crc & 0xFF));
        crc = uint16_t(t[7][x0] ^ t[6][x1] ^ t[5][p[2]] ^ t[4][p[3]] ^ t[3][p[4]] ^ t[2][p[5]] ^
                       t[1][p[6]] ^ t[0][p[7]]);
        p += 8;
        n -= 8;
    }
    while (n--) {
        crc = uint16_t((crc << 8) ^ t[0][uint8_t((crc >> 8) ^ *p++)]);
    }
    return crc;
}

uint16_t crc16(QByteArrayView bytes)
{
    return crc16(reinterpret_cast<const uint8_t*>(bytes.data()), size_t(bytes.size()));
}

QByteArray le32(uint32_t v)
{
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i) {
        out[i] = char((v >> (8 * i)) & 0xFF);
    }
    return out;
}

bool fitsNameField(const QString& name)
{
    return name.toUtf8().size() <= filenameFieldLen;
}

QByteArray paddedName(const QString& name)
{
    QByteArray utf8 = name.toUtf8();
    if (utf8.size() > filenameFieldLen) {
        throw ProtoError::filenameTooLong(name);
    }
    utf8.append(filenameFieldLen - utf8.size(), '\0');
    return utf8;
}

QByteArray buildFrame(uint8_t type, uint8_t cmd, QByteArrayView body, uint8_t seq)
{
    const qsizetype len = body.size() + 2;
    if (len >= 65536) {
        throw std::length_error("frame payload must stay below 65536 bytes");
    }
    QByteArray out;
    out.reserve(headerLen + len);
    out.append(char(magic)).append(char(seq)).append(2, '\0');
    out.append(char(len & 0xFF)).append(char(len >> 8));
    out.append(char(type)).append(char(cmd)).append(body);
    const uint16_t crc = crc16(QByteArrayView(out).sliced(4));
    out[2] = char(crc & 0xFF);
    out[3] = char(crc >> 8);
    return out;
}

QByteArray buildSetTime(uint8_t seq, int year, int month, int day, int hour, int minute, int second)
{
    const int y = std::clamp(year, 0, 65535);
    auto byte = [](int v) {
        return char(std::clamp(v, 0, 255));
    };
    QByteArray body;
    body.append(char(y & 0xFF)).append(char(y >> 8));
    body.append(byte(month)).append(byte(day)).append(byte(hour)).append(byte(minute));
    body.append(byte(second));
    return buildFrame(T::ctrl, CtrlCmd::setTime, body, seq);
}

QByteArray buildImportRequest(const QString& name, uint32_t offset, uint8_t seq)
{
    return buildFrame(T::file, FileCmd::importReq, QByteArray(le32(offset) + paddedName(name)),
                      seq);
}

QByteArray buildDeleteOne(const QString& name, uint8_t seq)
{
    return buildFrame(T::file, FileCmd::delOne, QByteArray(le32(0) + paddedName(name)), seq);
}

QByteArray buildImportRange(const QString& name, uint32_t start, uint32_t end, uint8_t seq)
{
    return buildFrame(T::file, FileCmd::importRange,
                      QByteArray(le32(start) + le32(end) + paddedName(name)), seq);
}

} // namespace Proto
