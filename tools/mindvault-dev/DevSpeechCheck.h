#pragma once

#include <filesystem>
#include <vector>

// How the stand-in decides whether an uploaded recording holds speech, so a recording the
// service would fail with a no-speech code fails here too. Deliberately crude: it only has to
// tell synthetic speech from a steady hum or silence, not to match the real recogniser.
//
// The rule works on the level (dBFS) of 20 ms frames. Speech is audible and uneven: syllables,
// consonants and pauses make the level of its audible frames swing by well over 10 dB, while a
// hum, a fan or line noise stays within a dB or two and silence is not audible at all. So:
//   audible frames = frames above -60 dBFS and within 30 dB of the loud level (95th percentile);
//   speech         = at least 10 audible frames (200 ms) whose 10th-to-90th percentile level
//                    spread is at least 8 dB.
// Percentiles rather than extremes, so a click or the decoder's first frame decides nothing.
namespace DevSpeechCheck {

enum class Verdict { speech, noSpeech, undecodable };

constexpr double frameSeconds = 0.02;

// The rule above on frame levels in dBFS.
Verdict judge(const std::vector<double>& frameLevels);

// Decodes the concatenation of `parts` (an uploaded object's chunks, in order) through
// `scratch`, a file it writes and removes, and judges it. Undecodable when the parts cannot be
// read or do not open as audio.
Verdict check(const std::vector<std::filesystem::path>& parts,
              const std::filesystem::path& scratch);

} // namespace DevSpeechCheck
