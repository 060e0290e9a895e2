// Speech screening, the waveform and AAC transcoding of one hour of audio. "realtime" is how many
// seconds of audio one second of one core's work gets through (CPU time, so the figure holds on a
// machine shared with other work).

#include "audio/AudioFileReader.h"
#include "audio/AudioTranscode.h"
#include "audio/VoiceActivity.h"
#include "audio/Waveform.h"
#include "support/BenchAudio.h"

#include <QDataStream>
#include <QFile>
#include <QTemporaryDir>
#include <QtEndian>
#include <algorithm>
#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr double hour = 3600;

void setRealtime(benchmark::State& state, double seconds)
{
    state.counters["realtime"] =
        benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate);
}

// Screening includes decoding: the file is what the round hands over.
void ScreenHourLongRecording(benchmark::State& state)
{
    const QString& path = hourLongPenOgg();
    for (auto _ : state) {
        const auto report = VoiceActivity::analyze(path);
        if (!report || !report->isLikelySpeech)
            state.SkipWithError("the hour of speech was not screened as speech");
        benchmark::DoNotOptimize(report);
    }
    setRealtime(state, hour);
}
BENCHMARK(ScreenHourLongRecording)->Unit(benchmark::kSecond);

void WaveformOfHourLongRecording(benchmark::State& state)
{
    const QString& path = hourLongPenOgg();
    for (auto _ : state) {
        const auto bars = Waveform::compute(path, Waveform::barCount);
        if (!bars)
            state.SkipWithError("no waveform");
        benchmark::DoNotOptimize(bars);
    }
    setRealtime(state, hour);
}
BENCHMARK(WaveformOfHourLongRecording)->Unit(benchmark::kSecond);

// One hour of 48 kHz 16-bit mono CAF: the speech fixture, brought from 16 to 48 kHz by linear
// interpolation, repeated.
const QString& hourLongCaf()
{
    static QTemporaryDir dir;
    static const QString path = [] {
        std::vector<float> speech;
        if (auto reader = AudioFileReader::tryOpen(
                QStringLiteral(KESTREL_FIXTURES "/audio/speech-opusenc.ogg"))) {
            std::vector<float> block(16000);
            for (qint64 n; (n = reader->read(block.data(), 16000)) > 0;)
                speech.insert(speech.end(), block.begin(), block.begin() + n);
        }
        std::vector<qint16> clip;
        for (size_t i = 0; i + 1 < speech.size(); ++i) {
            for (int k = 0; k < 3; ++k) {
                const float v = speech[i] + (speech[i + 1] - speech[i]) * float(k) / 3.0f;
                clip.push_back(qint16(std::clamp(v, -1.0f, 1.0f) * 32767.0f));
            }
        }
        const qint64 frames = qint64(hour) * 48000;
        const QString p = dir.filePath(QStringLiteral("hour.caf"));
        QFile f(p);
        if (clip.empty() || !f.open(QIODevice::WriteOnly))
            return QString();
        QDataStream s(&f);
        s.setByteOrder(QDataStream::BigEndian);
        s.setFloatingPointPrecision(QDataStream::DoublePrecision);
        s.writeRawData("caff", 4);
        s << quint16(1) << quint16(0);
        s.writeRawData("desc", 4);
        s << qint64(32) << 48000.0;
        s.writeRawData("lpcm", 4);
        // Little-endian integers, 2 bytes and 1 frame per packet, 1 channel, 16 bits.
        s << quint32(2) << quint32(2) << quint32(1) << quint32(1) << quint32(16);
        s.writeRawData("data", 4);
        s << qint64(4 + frames * 2) << quint32(0);
        std::vector<qint16> chunk(48000 * 10);
        for (qint64 done = 0; done < frames;) {
            const qint64 n = std::min<qint64>(frames - done, qint64(chunk.size()));
            for (qint64 i = 0; i < n; ++i)
                chunk[size_t(i)] = qToLittleEndian(clip[size_t(done + i) % clip.size()]);
            f.write(reinterpret_cast<const char*>(chunk.data()), n * 2);
            done += n;
        }
        return p;
    }();
    return path;
}

void TranscodeHourLongCafToM4A(benchmark::State& state)
{
    const QString& path = hourLongCaf();
    for (auto _ : state) {
        const auto result = AudioTranscode::toM4A(path);
        benchmark::DoNotOptimize(result);
    }
    setRealtime(state, hour);
}
BENCHMARK(TranscodeHourLongCafToM4A)->Unit(benchmark::kSecond)->Iterations(1);

} // namespace
