#pragma once

#include <QString>
#include <cstdint>
#include <optional>
#include <vector>

// Screens a finished recording for human speech: cuts the decoded audio into 1024-sample frames,
// measures each frame's spectral balance and pitch, and judges the whole file with fixed
// thresholds. The verdict is advisory (the round only logs it). Deterministic arithmetic on the
// file's samples, at the file's own sample rate.
namespace VoiceActivity {

constexpr int frameLength = 1024; // also the hop: frames do not overlap
constexpr int fftLength = 2048;   // the frame zero-padded

// Per-file measurements; the per-frame vectors all have one entry per whole frame.
struct Scan {
    double sampleRate = 0;
    qint64 sampleCount = 0;
    float peak = 0; // largest absolute sample
    double rms = 0; // over all samples
    std::vector<float> frameRMS;
    std::vector<float> low;
    std::vector<float> speech;
    std::vector<float> core;
    std::vector<float> harmonicity;
    std::vector<int32_t> pitchLag;
};

struct Report {
    bool isLikelySpeech = false;
    QString reason;      // one Chinese sentence
    double duration = 0; // seconds
    double speechBandRatio = 0;
    double lowBandRatio = 0;
    double coreBandRatio = 0;
    double voicedRatio = 0;
    double activeVoicedRatio = 0;
    double voicedSeconds = 0;
    int voicedFrameCount = 0;
    double peak = 0;
    double rms = 0;
    double crest = 0;
    double noiseFloorRMS = 0;
    double longestVoicedRun = 0; // seconds
    double pitchConcentration = 0;

    // The measurements on one line, for logs and the command line.
    QString metricsLine() const;
};

// What the verdict rests on (report() fills it from a scan).
struct Evidence {
    double rms = 0;
    double lowRatio = 0;
    double coreRatio = 0;
    double voicedRatio = 0;
    double activeVoicedRatio = 0;
    double voicedSeconds = 0;
    double longestVoiced = 0; // seconds
    int voicedFrames = 0;
    double concentration = 0;
    double offPitchSeconds = 0;
};

struct Verdict {
    bool isLikelySpeech = false;
    QString reason;
};

// scan, then report; nothing when the file cannot be scanned.
std::optional<Report> analyze(const QString& audioPath);
// Nothing for a file that cannot be opened, is empty or has no sample rate; a read error part-way
// keeps what was read.
std::optional<Scan> scan(const QString& audioPath);
Report report(const Scan& scan);
Verdict judge(const Evidence& e);
// The element at index trunc(q * (count - 1)) of the sorted values; 0 for none.
float percentile(std::vector<float> values, double q);

} // namespace VoiceActivity
