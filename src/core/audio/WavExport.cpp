#include "audio/WavExport.h"

#include "audio/AudioFileReader.h"
#include "audio/AudioFileWriter.h"

#include <cmath>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace WavExport {

namespace {

constexpr qint64 blockFrames = 4096;

} // namespace

Written write(const QString& source, const QString& destination)
{
    AudioFileReader reader(source);
    AudioFileWriter writer(destination, AudioFileWriter::Format::Wav,
                           int(std::lround(reader.sampleRate())), 0,
                           AudioFileWriter::Placement::Keep);
    std::vector<float> block(static_cast<size_t>(blockFrames));
    for (;;) {
        const qint64 n = reader.read(block.data(), blockFrames);
        if (n < 0)
            throw Error(u"录音解码到一半坏了，没法转成WAV"_s);
        if (n == 0)
            break;
        writer.write(block.data(), n);
    }
    writer.finish();
    return {writer.path(), writer.framesWritten()};
}

} // namespace WavExport
