#pragma once

#include "common/Error.h"

#include <QByteArray>
#include <QString>
#include <cstdint>

// Wraps the pen's bare 40-byte Opus packets into an Ogg Opus stream without decoding them,
// and tells raw packet files from real containers.
namespace OggWrap {

constexpr int packetLen = 40;
constexpr int frameMs = 20;
constexpr int granulePerPacket = 960; // 48 kHz samples per 20 ms packet
constexpr uint32_t serialNumber = 0x51533638;
constexpr int packetsPerPage = 50;

class WrapError : public KestrelError {
public:
    enum class Kind { NoCompletePacket };
    explicit WrapError(Kind k = Kind::NoCompletePacket) : m_kind(k) {}
    Kind kind() const { return m_kind; }
    QString description() const override;

private:
    Kind m_kind;
};

// Throws WrapError when raw holds fewer than 40 bytes; bytes past the last whole packet are
// dropped.
QByteArray wrap(const QByteArray& raw, uint32_t sampleRate, const QString& tag);

// At least one packet, whole packets only, and not a known container.
bool looksRaw(const QByteArray& bytes);
// "OggS", "caff", "RIFF"+"WAVE", or "ftyp" at offset 4.
bool isKnownContainer(const QByteArray& bytes);
double durationSeconds(qint64 rawLength);

// The Ogg page checksum (CRC-32, polynomial 0x04C11DB7, no reflection, no final XOR).
uint32_t crc(const char* data, qint64 length, uint32_t crc = 0);

} // namespace OggWrap
