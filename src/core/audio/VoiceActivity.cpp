#include "audio/VoiceActivity.h"

#include "audio/AudioFileReader.h"
#include "audio/Spectrum.h"

#include <algorithm>
#include <cmath>

namespace VoiceActivity {

namespace {

constexpr float voicedHarmonicity = 0.7f;
constexpr float activeFloor = 0.0004f;
constexpr double silenceRMS = 0.0008;
constexpr int humFrames = 30;
constexpr double humConcentration = 0.85;
constexpr double humOffPitchSeconds = 1.0;
constexpr double pitchClusterWidth = 0.03;
constexpr double minActiveVoicedRatio = 0.02;
constexpr double minVoicedSeconds = 1.0;
constexpr double lowDominance = 0.45;

// Longest stretch of voiced frames, where up to two unvoiced frames in a row do not break it
// (a breath or a hard consonant inside a sentence).
int longestVoicedRun(const std::vector<bool>& voiced)
{
    int longest = 0;
    int run = 0;
    int gap = 0;
    for (const bool v : voiced) {
        if (v) {
            ++run;
            gap = 0;
        } else if (run > 0) {
            if (gap <= 1) {
                ++run;
                ++gap;
            } else {
                longest = std::max(longest, run - gap);
                run = 0;
                gap = 0;
            }
        }
    }
    return std::max(longest, run - gap);
}

QString percent(double ratio)
{
    return QString::asprintf("%.0f%%", ratio * 100);
}

} // namespace

std::optional<Report> analyze(const QString& audioPath)
{
    const std::optional<Scan> s = scan(audioPath);
    if (!s)
        return std::nullopt;
    return report(*s);
}

std::optional<Scan> scan(const QString& audioPath)
{
    const auto reader = AudioFileReader::tryOpen(audioPath);
    if (!reader || reader->length() < 1 || !(reader->sampleRate() > 0))
        return std::nullopt;
    const double rate = reader->sampleRate();
    const auto spectrum = Spectrum::make(frameLength, fftLength, rate);
    if (!spectrum)
        return std::nullopt;

    Scan s;
    s.sampleRate = rate;
    // The declared length is the file's word, not a fact: it sizes the first reservation only
    // up to about an hour at 16 kHz, and the vectors grow from there with what is really read.
    constexpr qint64 reserveCap = 1 << 16;
    const auto frames =
        size_t(std::clamp<qint64>(reader->length() / frameLength + 1, 16, reserveCap));
    for (auto* v : {&s.frameRMS, &s.low, &s.speech, &s.core, &s.harmonicity})
        v->reserve(frames);
    s.pitchLag.reserve(frames);

    // One-second blocks; samples short of a whole frame wait in `pending` for the next block.
    const qint64 capacity = std::max<qint64>(qint64(rate), 1);
    std::vector<float> block(static_cast<size_t>(capacity));
    std::vector<float> pending;
    pending.reserve(size_t(capacity + frameLength));
    double sumSquares = 0;
    for (;;) {
        const qint64 n = reader->read(block.data(), capacity);
        if (n <= 0)
            break; // the end, or a read error: what was read stands
        float blockSquares = 0;
        for (qint64 i = 0; i < n; ++i) {
            const float v = block[size_t(i)];
            s.peak = std::max(s.peak, std::abs(v));
            blockSquares += v * v;
        }
        sumSquares += blockSquares;
        s.sampleCount += n;
        pending.insert(pending.end(), block.begin(), block.begin() + n);

        size_t at = 0;
        for (; pending.size() - at >= size_t(frameLength); at += frameLength) {
            const float* frame = pending.data() + at;
            const Spectrum::Measures m = spectrum->measure(frame);
            s.low.push_back(m.low);
            s.speech.push_back(m.speech);
            s.core.push_back(m.core);
            s.harmonicity.push_back(m.harmonicity);
            s.pitchLag.push_back(m.pitchLag);
            float squares = 0;
            for (int i = 0; i < frameLength; ++i)
                squares += frame[i] * frame[i];
            s.frameRMS.push_back(std::sqrt(squares / float(frameLength)));
        }
        pending.erase(pending.begin(), pending.begin() + qsizetype(at));
    }
    if (s.sampleCount == 0)
        return std::nullopt;
    s.rms = std::sqrt(sumSquares / double(s.sampleCount));
    return s;
}

Report report(const Scan& s)
{
    Report r;
    r.peak = s.peak;
    r.rms = s.rms;
    r.crest = s.rms > 0 ? s.peak / s.rms : 0;
    r.duration = s.sampleRate > 0 ? double(s.sampleCount) / s.sampleRate : 0;

    const size_t frames = s.frameRMS.size();
    double energy = 0, low = 0, speech = 0, core = 0;
    for (size_t i = 0; i < frames; ++i) {
        const double e = double(s.frameRMS[i]) * double(s.frameRMS[i]);
        energy += e;
        low += e * s.low[i];
        speech += e * s.speech[i];
        core += e * s.core[i];
    }
    if (energy > 0) {
        r.lowBandRatio = low / energy;
        r.speechBandRatio = speech / energy;
        r.coreBandRatio = core / energy;
    }

    // A frame counts when it stands out from the recording's own background; the 85th
    // percentile cap keeps a uniformly loud recording from counting every frame.
    const float noiseFloor = percentile(s.frameRMS, 0.1);
    r.noiseFloorRMS = noiseFloor;
    const float threshold =
        std::min(percentile(s.frameRMS, 0.85), std::max(3 * noiseFloor, activeFloor));
    int active = 0;
    std::vector<bool> voiced(frames, false);
    std::vector<int32_t> lags;
    for (size_t i = 0; i < frames; ++i) {
        if (!(s.frameRMS[i] > threshold))
            continue;
        ++active;
        if (s.harmonicity[i] >= voicedHarmonicity) {
            voiced[i] = true;
            lags.push_back(s.pitchLag[i]);
        }
    }
    const int voicedCount = int(lags.size());

    // A hum holds one pitch; a voice wanders.
    int onPitch = 0;
    if (!lags.empty()) {
        std::sort(lags.begin(), lags.end());
        const double median = lags[lags.size() / 2];
        onPitch = int(std::count_if(lags.begin(), lags.end(), [median](int32_t lag) {
            return std::abs(lag - median) <= pitchClusterWidth * median;
        }));
    }

    const double frameTime = frameLength / s.sampleRate;
    r.voicedRatio = frames > 0 ? double(voicedCount) / double(frames) : 0;
    r.activeVoicedRatio = active > 0 ? double(voicedCount) / double(active) : 0;
    r.voicedSeconds = frameTime * voicedCount;
    r.longestVoicedRun = frameTime * longestVoicedRun(voiced);
    r.voicedFrameCount = voicedCount;
    r.pitchConcentration = voicedCount > 0 ? double(onPitch) / double(voicedCount) : 0;

    Evidence e;
    e.rms = r.rms;
    e.lowRatio = r.lowBandRatio;
    e.coreRatio = r.coreBandRatio;
    e.voicedRatio = r.voicedRatio;
    e.activeVoicedRatio = r.activeVoicedRatio;
    e.voicedSeconds = r.voicedSeconds;
    e.longestVoiced = r.longestVoicedRun;
    e.voicedFrames = voicedCount;
    e.concentration = r.pitchConcentration;
    e.offPitchSeconds = frameTime * (voicedCount - onPitch);
    Verdict v = judge(e);
    r.isLikelySpeech = v.isLikelySpeech;
    r.reason = std::move(v.reason);
    return r;
}

Verdict judge(const Evidence& e)
{
    if (e.rms < silenceRMS) {
        return {false, QString::asprintf("整段几乎无声（RMS %.5f），推上去也识别不到语音", e.rms)};
    }
    if (e.voicedFrames >= humFrames && e.concentration > humConcentration &&
        e.offPitchSeconds < humOffPitchSeconds) {
        return {false, QStringLiteral("整段是一个音高不变的嗡鸣（") + percent(e.concentration) +
                           QStringLiteral(" 的帧基频相同），不是人说话")};
    }
    if (!(e.activeVoicedRatio < minActiveVoicedRatio && e.voicedSeconds < minVoicedSeconds)) {
        return {true, QString::asprintf("检测到约 %.1f 秒人声（占全片 ", e.voicedSeconds) +
                          percent(e.voicedRatio) +
                          QString::asprintf("，最长一段 %.1f 秒）", e.longestVoiced)};
    }
    QString reason =
        QString::asprintf("全片只有 %.1f 秒像人声（有声音的部分里才占 ", e.voicedSeconds) +
        percent(e.activeVoicedRatio) + QStringLiteral("），");
    if (e.lowRatio > lowDominance) {
        reason += QStringLiteral("能量几乎全压在低频（300Hz 以下占 ") + percent(e.lowRatio) +
                  QStringLiteral("、1–3kHz 只占 ") + percent(e.coreRatio) + QStringLiteral("）");
    } else {
        reason += QStringLiteral("频谱里找不到人声的基频结构");
    }
    return {false, reason};
}

float percentile(std::vector<float> values, double q)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = qsizetype(q * double(values.size() - 1));
    return values[size_t(std::clamp<qsizetype>(index, 0, qsizetype(values.size()) - 1))];
}

QString Report::metricsLine() const
{
    const auto pct = [](double ratio) {
        return QString::asprintf("%5.1f%%", ratio * 100);
    };
    return QString::asprintf("%7.1fs 低频", duration) + pct(lowBandRatio) +
           QStringLiteral(" 语音带") + pct(speechBandRatio) + QStringLiteral(" 1-3k") +
           pct(coreBandRatio) + QStringLiteral(" 人声") + pct(voicedRatio) +
           QStringLiteral("/活跃") + pct(activeVoicedRatio) +
           QString::asprintf("(%6.1fs 最长%4.1fs) 基频集中", voicedSeconds, longestVoicedRun) +
           pct(pitchConcentration) + QString::asprintf(" rms%.5f 峰值因数%6.1f", rms, crest);
}

} // namespace VoiceActivity
