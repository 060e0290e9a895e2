#include "cloud/Speakers.h"

#include <QMap>
#include <algorithm>

namespace SpeakerStats {

QList<SpeakerShare> shares(const QList<TranscriptSegment>& segments)
{
    // Summed as doubles: integer sums of hostile durations could overflow.
    QMap<QString, double> perLabel;
    double total = 0;
    for (const auto& s : segments) {
        if (s.speaker.isEmpty())
            continue;
        perLabel[s.speaker] += double(s.durationMs());
        total += double(s.durationMs());
    }
    QList<SpeakerShare> out;
    for (auto it = perLabel.cbegin(); it != perLabel.cend(); ++it)
        out.append({it.key(), it.value() / 1000.0, total > 0 ? it.value() / total : 0.0});
    std::stable_sort(out.begin(), out.end(), [](const SpeakerShare& a, const SpeakerShare& b) {
        return a.fraction > b.fraction;
    });
    return out;
}

} // namespace SpeakerStats
