#include "audio/AudioTranscode.h"

#include "audio/AudioFileReader.h"
#include "audio/AudioFileWriter.h"
#include "sync/FileError.h"

#include <QFileInfo>
#include <exception>
#include <vector>

namespace AudioTranscode {

QString TranscodeError::description() const
{
    switch (m_kind) {
    case Kind::Unreadable:
        return QStringLiteral("读不了源文件：") + m_detail;
    case Kind::EmptyOutput:
        return QStringLiteral("转码输出是空的");
    }
    return {};
}

std::unique_ptr<AudioEncoder> aacEncoder(const QString& path, int sampleRate, int bitrate)
{
    return std::make_unique<AudioFileWriter>(path, AudioFileWriter::Format::M4a, sampleRate,
                                             bitrate, AudioFileWriter::Placement::Replace);
}

Result toM4A(const QString& source, std::optional<int> bitrate, const EncoderFactory& encoder)
{
    std::unique_ptr<AudioFileReader> reader;
    try {
        reader = std::make_unique<AudioFileReader>(source);
    } catch (const AudioFileReader::OpenError& e) {
        throw TranscodeError::unreadable(e.description(), e.logDetail());
    }
    const qint64 length = reader->length();
    if (length < 1)
        throw TranscodeError::emptyOutput();
    const double rate = reader->sampleRate();

    const QFileInfo info(source);
    const QString destination = info.path() + u'/' + info.completeBaseName() + u".m4a";
    std::vector<int> rates;
    if (bitrate)
        rates.push_back(*bitrate);
    rates.insert(rates.end(), bitrateLadder.begin(), bitrateLadder.end());

    std::vector<float> buffer(static_cast<size_t>(copyBlock));
    std::exception_ptr lastError;
    for (const int r : rates) {
        // The encoder writes under a temporary name and replaces an older result only with one
        // that reads back, so an interrupted conversion never leaves a broken file under the name.
        try {
            if (!reader->rewind())
                throw TranscodeError::unreadable(QStringLiteral("重新打开失败"));
            const std::unique_ptr<AudioEncoder> out = encoder(destination, int(rate), r);
            while (reader->position() < length) {
                const qint64 n = reader->read(buffer.data(), copyBlock);
                if (n < 0) {
                    // A copy that stopped part-way must not pass for the whole recording.
                    throw TranscodeError::unreadable(QStringLiteral("读到一半解不下去了"));
                }
                if (n == 0)
                    break;
                out->write(buffer.data(), n);
            }
            out->finish();
        } catch (const FileError& e) {
            if (e.blocksWrites())
                throw; // a full or read-only disk takes no lower bit rate either
            lastError = std::current_exception();
            continue;
        } catch (const AudioFileWriter::WriteError& e) {
            lastError = e.kind() == AudioFileWriter::WriteError::Kind::Unreadable
                            ? std::make_exception_ptr(TranscodeError::emptyOutput())
                            : std::current_exception();
            continue;
        } catch (...) {
            lastError = std::current_exception();
            continue;
        }
        return {destination, double(length) / rate};
    }
    if (lastError)
        std::rethrow_exception(lastError);
    throw TranscodeError::emptyOutput();
}

std::optional<double> duration(const QString& path)
{
    const auto reader = AudioFileReader::tryOpen(path);
    if (!reader || reader->length() < 1)
        return std::nullopt;
    return double(reader->length()) / reader->sampleRate();
}

} // namespace AudioTranscode
