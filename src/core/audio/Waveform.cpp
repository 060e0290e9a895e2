#include "audio/Waveform.h"

#include "audio/AudioFileReader.h"
#include "sync/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

namespace Waveform {

namespace {

constexpr qint64 blockFrames = 48000;
// Below this the file is silence: scaling would only magnify noise into full bars.
constexpr float scaleFloor = 0.0001f;

} // namespace

std::optional<std::vector<float>> load(const QString& base, const QString& audioPath,
                                       const QString& root)
{
    if (auto bars = cached(base, root))
        return bars;
    auto bars = compute(audioPath, barCount);
    if (!bars)
        return std::nullopt;
    const QString path = cacheURL(base, root);
    QDir().mkpath(QFileInfo(path).path());
    AtomicFile::tryWrite(path, encodeCache(*bars));
    return bars;
}

std::optional<std::vector<float>> cached(const QString& base, const QString& root)
{
    QFile file(cacheURL(base, root));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return decodeCache(file.readAll());
}

std::optional<std::vector<float>> decodeCache(const QByteArray& bytes)
{
    const nlohmann::json json = nlohmann::json::parse(bytes.begin(), bytes.end(), nullptr, false);
    if (!json.is_array() || json.size() != size_t(barCount))
        return std::nullopt;
    std::vector<float> bars;
    bars.reserve(size_t(barCount));
    for (const nlohmann::json& v : json) {
        if (!v.is_number())
            return std::nullopt;
        // A number beyond the float range is no bar: as a float it would be infinity, which
        // the next save could not write as a JSON number.
        const double bar = v.get<double>();
        if (!(std::abs(bar) <= double(std::numeric_limits<float>::max())))
            return std::nullopt;
        bars.push_back(float(bar));
    }
    return bars;
}

QByteArray encodeCache(const std::vector<float>& bars)
{
    // Each bar as the shortest decimal that reads back as the same float ("0.25", not
    // "0.25000000372529"), as other readers of the archive write them.
    nlohmann::json array = nlohmann::json::array();
    for (const float b : bars) {
        std::array<char, 32> text{};
        const auto end = std::to_chars(text.data(), text.data() + text.size(), b).ptr;
        array.push_back(std::strtod(std::string(text.data(), end).c_str(), nullptr));
    }
    return QByteArray::fromStdString(array.dump());
}

QString cacheURL(const QString& base, const QString& root)
{
    return root + QStringLiteral("/out/waveform/") + base + QStringLiteral(".json");
}

namespace {

// The peaks of `bars` stretches of `per` frames each, the last taking the rest; counts the frames.
std::vector<float> peaks(AudioFileReader& reader, int bars, qint64 per, qint64& frames)
{
    std::vector<float> peaks(size_t(bars), 0.0f);
    const size_t last = size_t(bars - 1);
    size_t bar = 0;
    qint64 inBar = 0;
    frames = 0;
    std::vector<float> block(static_cast<size_t>(blockFrames));
    for (qint64 n; (n = reader.read(block.data(), blockFrames)) > 0;) {
        frames += n;
        qint64 at = 0;
        while (at < n) {
            // Every bar but the last takes `per` samples; the last takes the rest of the file.
            const qint64 take = bar == last ? n - at : std::min(per - inBar, n - at);
            float peak = peaks[bar];
            for (qint64 i = at; i < at + take; ++i)
                peak = std::max(peak, std::abs(block[size_t(i)]));
            peaks[bar] = peak;
            at += take;
            inBar += take;
            if (bar != last && inBar == per) {
                ++bar;
                inBar = 0;
            }
        }
    }
    return peaks;
}

} // namespace

std::optional<std::vector<float>> compute(const QString& audioPath, int bars)
{
    if (bars < 1)
        return std::nullopt;
    const auto reader = AudioFileReader::tryOpen(audioPath);
    if (!reader || reader->length() < 1)
        return std::nullopt;

    qint64 frames = 0;
    std::vector<float> out =
        peaks(*reader, bars, std::max<qint64>(reader->length() / bars, 1), frames);
    if (frames != reader->length() && frames > 0) {
        // The container's length was wrong: bars laid out on it would crowd the whole
        // recording into a few of them, and be cached so. Lay them out on what was read.
        if (!reader->rewind())
            return std::nullopt;
        qint64 again = 0;
        out = peaks(*reader, bars, std::max<qint64>(frames / bars, 1), again);
    }

    const float loudest = *std::max_element(out.begin(), out.end());
    if (loudest > scaleFloor) {
        for (float& p : out)
            p /= loudest;
    }
    return out;
}

} // namespace Waveform
