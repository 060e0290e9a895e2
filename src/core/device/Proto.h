#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <cstdint>
#include <optional>

// The pen's framed GATT protocol: identifiers, frame layout, checksum, command numbers and the
// request builders. Pure data, no I/O.
namespace Proto {

// GATT identifiers (16-bit UUIDs in the Bluetooth base template, lower-case).
QString uuid16(uint16_t value);
extern const QString serviceMain; // 0xAE20, also recognised in advertisements
extern const QString charWrite;   // 0xAE21, requests (write without response)
extern const QString charNotify;  // 0xAE22, answers (notifications)
extern const QString charKey;     // 0xAE23, second notification source

inline constexpr uint8_t magic = 0x5A;
inline constexpr int headerLen = 6;
inline constexpr int filenameFieldLen = 24;
inline constexpr int nameFieldLen = 20;
inline constexpr int entryLen = 28;

// Command groups (the payload's first byte).
namespace T {
inline constexpr uint8_t ctrl = 0;
inline constexpr uint8_t audio = 1;
inline constexpr uint8_t file = 2;
inline constexpr uint8_t key = 3;
} // namespace T

namespace CtrlCmd {
inline constexpr uint8_t setTime = 0;
inline constexpr uint8_t capacityReq = 1;
inline constexpr uint8_t capacityAck = 2;
inline constexpr uint8_t batteryReq = 3;
inline constexpr uint8_t batteryAck = 4;
inline constexpr uint8_t firmwareReq = 10;
inline constexpr uint8_t firmwareAck = 11;
} // namespace CtrlCmd

namespace FileCmd {
inline constexpr uint8_t listReq = 0;
inline constexpr uint8_t listData = 1;
inline constexpr uint8_t importReq = 2;
inline constexpr uint8_t importBegin = 3;
inline constexpr uint8_t importData = 4;
inline constexpr uint8_t importEnd = 5;
inline constexpr uint8_t importAbort = 7;
inline constexpr uint8_t delOne = 8;
inline constexpr uint8_t importRange = 12;
inline constexpr uint8_t delOneAck = 13;
inline constexpr uint8_t listDone = 18;
} // namespace FileCmd

namespace KeyCmd {
inline constexpr uint8_t statusReq = 19;
inline constexpr uint8_t statusAck = 20;
inline constexpr uint8_t curNameReq = 23;
inline constexpr uint8_t curNameAck = 24;
inline constexpr uint8_t gainReq = 25;
inline constexpr uint8_t gainAck = 26;
} // namespace KeyCmd

// Text of an import end code (0 "完成", 1 "文件不存在", 2 "offset 过大", 3 "其他原因停止");
// absent for codes outside the table.
std::optional<QString> importEndMeaning(uint8_t code);

// One decoded frame: the sender's sequence number and the whole payload.
struct Frame {
    uint8_t seq = 0;
    QByteArray data; // type, cmd, body

    std::optional<uint8_t> type() const;
    std::optional<uint8_t> cmd() const;
    QByteArray body() const;
    // True when the payload starts with this group and command.
    bool is(uint8_t groupType, uint8_t command) const;

    bool operator==(const Frame&) const = default;
};

// CRC-16/XMODEM: polynomial 0x1021, init 0, MSB first, no reflection, no final XOR.
uint16_t crc16(QByteArrayView bytes);
uint16_t crc16(const uint8_t* bytes, size_t count);

QByteArray le32(uint32_t value);

// The name's UTF-8 bytes padded with NULs to 24 bytes; throws ProtoError when longer.
QByteArray paddedName(const QString& name);
// Whether the name fits the request's file-name field (paddedName would not throw).
bool fitsNameField(const QString& name);

// [5A, seq, crc lo, crc hi, len lo, len hi] + [type, cmd] + body. The payload must stay
// below 65536 bytes (std::length_error otherwise: a programming error, never pen input).
QByteArray buildFrame(uint8_t type, uint8_t cmd, QByteArrayView body, uint8_t seq);
QByteArray buildSetTime(uint8_t seq, int year, int month, int day, int hour, int minute,
                        int second);
QByteArray buildImportRequest(const QString& name, uint32_t offset, uint8_t seq);
QByteArray buildDeleteOne(const QString& name, uint8_t seq);
QByteArray buildImportRange(const QString& name, uint32_t start, uint32_t end, uint8_t seq);

} // namespace Proto
