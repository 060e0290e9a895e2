#include "DevSpeechCheck.h"

#include "audio/AudioFileReader.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <optional>

namespace DevSpeechCheck {

namespace {

constexpr double floorDb = -60.0;       // quieter than this is silence
constexpr double audibleRangeDb = 30.0; // frames this far below the loud level are pauses
constexpr double minSpreadDb = 8.0;
constexpr size_t minAudibleFrames = 10;

double percentile(std::vector<double> values, double q)
{
    const auto at = values.begin() + std::ptrdiff_t(q * double(values.size() - 1));
    std::nth_element(values.begin(), at, values.end());
    return *at;
}

bool concatenate(const std::vector<std::filesystem::path>& parts, const std::filesystem::path& into)
{
    std::ofstream out(into, std::ios::binary | std::ios::trunc);
    for (const auto& part : parts) {
        std::ifstream in(part, std::ios::binary);
        if (!in)
            return false;
        out << in.rdbuf();
    }
    return bool(out.flush());
}

// Levels of the file's 20 ms frames; nullopt when it does not open as audio.
std::optional<std::vector<double>> frameLevels(const std::filesystem::path& file)
{
    const auto reader = AudioFileReader::tryOpen(QString::fromStdString(file.string()));
    if (!reader)
        return std::nullopt;
    std::vector<double> levels;
    const auto frame = std::max<qint64>(1, std::llround(reader->sampleRate() * frameSeconds));
    std::vector<float> samples(static_cast<size_t>(frame));
    for (;;) {
        // read() may deliver less than asked before the end; fill whole frames.
        qint64 got = 0;
        while (got < frame) {
            const qint64 n = reader->read(samples.data() + got, frame - got);
            if (n <= 0)
                break;
            got += n;
        }
        if (got < frame)
            return levels; // the end, a damaged tail or a last partial frame
        double energy = 0;
        for (float s : samples)
            energy += double(s) * double(s);
        levels.push_back(10.0 * std::log10(energy / double(frame) + 1e-12));
    }
}

} // namespace

Verdict judge(const std::vector<double>& frameLevels)
{
    if (frameLevels.empty())
        return Verdict::noSpeech;
    const double loud = percentile(frameLevels, 0.95);
    std::vector<double> audible;
    for (double level : frameLevels)
        if (level >= floorDb && level >= loud - audibleRangeDb)
            audible.push_back(level);
    if (audible.size() < minAudibleFrames)
        return Verdict::noSpeech;
    const double spread = percentile(audible, 0.9) - percentile(audible, 0.1);
    return spread >= minSpreadDb ? Verdict::speech : Verdict::noSpeech;
}

Verdict check(const std::vector<std::filesystem::path>& parts, const std::filesystem::path& scratch)
{
    std::optional<std::vector<double>> levels;
    if (concatenate(parts, scratch))
        levels = frameLevels(scratch);
    std::error_code ec;
    std::filesystem::remove(scratch, ec);
    return levels ? judge(*levels) : Verdict::undecodable;
}

} // namespace DevSpeechCheck
