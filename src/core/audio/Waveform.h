#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

// A recording's amplitude outline for display: barCount bars, each the largest absolute sample
// of its stretch of the file, scaled so the loudest bar is 1. Computed once per recording and
// cached as a small JSON array under the archive root. Every failure is silent: the caller gets
// nothing, or bars that could not be cached.
namespace Waveform {

constexpr int barCount = 160;

// The cached bars, else freshly computed (and cached) bars, else nothing.
std::optional<std::vector<float>> load(const QString& base, const QString& audioPath,
                                       const QString& root);
// The cache's bars when it holds a JSON array of exactly barCount numbers.
std::optional<std::vector<float>> cached(const QString& base, const QString& root);
// The cache file's content: bars that fit a float, exactly barCount of them, else nothing.
std::optional<std::vector<float>> decodeCache(const QByteArray& bytes);
// A compact JSON array, each bar in the shortest form that reads back as the same float.
QByteArray encodeCache(const std::vector<float>& bars);
// The cache file's path: root + "/out/waveform/" + base + ".json".
QString cacheURL(const QString& base, const QString& root);
// `bars` (at least 1) peaks of the file's first channel; the last bar takes whatever remains.
std::optional<std::vector<float>> compute(const QString& audioPath, int bars);

} // namespace Waveform
