#pragma once

#include "audio/AudioEncoder.h"
#include "common/Error.h"
#include "sync/LogDetail.h"

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

// Converts an audio file to mono AAC (.m4a) beside it, at the source's sample rate, stepping
// down a ladder of bit rates until one gives a readable, non-empty file; and measures a file's
// length. The source is never changed, and the destination appears (or replaces an older one)
// only complete and readable.
namespace AudioTranscode {

class TranscodeError : public KestrelError, public LogDetail {
public:
    enum class Kind { Unreadable, EmptyOutput };
    static TranscodeError unreadable(QString why, QString detail = {})
    {
        TranscodeError e{Kind::Unreadable, std::move(why)};
        e.m_logDetail = std::move(detail);
        return e;
    }
    static TranscodeError emptyOutput() { return {Kind::EmptyOutput, {}}; }
    Kind kind() const { return m_kind; }
    QString description() const override;
    QString logDetail() const override { return m_logDetail; }

private:
    TranscodeError(Kind kind, QString detail) : m_kind(kind), m_detail(std::move(detail)) {}
    Kind m_kind;
    QString m_detail;
    QString m_logDetail;
};

constexpr std::array<int, 5> bitrateLadder{64000, 48000, 32000, 24000, 16000};
constexpr qint64 copyBlock = 32768; // frames

// Makes the encoder of one attempt (path, sample rate, bit rate); the default writes AAC.
using EncoderFactory =
    std::function<std::unique_ptr<AudioEncoder>(const QString& path, int sampleRate, int bitrate)>;
std::unique_ptr<AudioEncoder> aacEncoder(const QString& path, int sampleRate, int bitrate);

struct Result {
    QString url;    // the .m4a file
    double seconds; // the source's length
};

// Throws TranscodeError, or the encoder's own error when every rate failed on it. `bitrate`,
// when given, is tried before the ladder.
Result toM4A(const QString& source, std::optional<int> bitrate = std::nullopt,
             const EncoderFactory& encoder = aacEncoder);
// Length in seconds; nothing when the file cannot be opened or is empty.
std::optional<double> duration(const QString& path);

} // namespace AudioTranscode
