#include "cloud/Speakers.h"

#include <QMap>
#include <algorithm>

namespace SpeakerStats {

QList<SpeakerShare> shares(const QList<TranscriptSegment>& segments)
{
    QMap<QString, int64_t> perLabel;
    int64_t total = 0;
    for (const auto& s : segments) {
        if (s.speaker.isEmpty())
            continue;
        perLabel[s.speaker] += s.durationMs();
        total += s.durationMs();
    }
    QList<SpeakerShare> out;
    for (auto it = perLabel.cbegin(); it != perLabel.cend(); ++it)
        out.append({it.key(), double(it.value()) / 1000.0,
                    total > 0 ? double(it.value()) / double(total) : 0.0});
    std::stable_sort(out.begin(), out.end(), [](const SpeakerShare& a, const SpeakerShare& b) {
        return a.fraction > b.fraction;
    });
    return out;
}

} // namespace SpeakerStats
