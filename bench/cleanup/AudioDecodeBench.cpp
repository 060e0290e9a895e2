#include "audio/AudioFileReader.h"
#include "support/BenchAudio.h"

#include <benchmark/benchmark.h>
#include <vector>

namespace {

constexpr qsizetype hourOfPackets = 180000; // 3600 s of 20 ms packets

// Decodes the whole hour in one-second blocks, the way speech screening and the waveform read.
// "realtime" is how many seconds of audio one second of one core's work decodes (CPU time, so
// the figure holds on a machine shared with other work).
void DecodeHourLongRecording(benchmark::State& state)
{
    const QString& path = hourLongPenOgg();
    std::vector<float> block(16000);
    for (auto _ : state) {
        AudioFileReader reader(path);
        qint64 frames = 0;
        for (qint64 n; (n = reader.read(block.data(), qint64(block.size()))) > 0;) {
            frames += n;
        }
        if (frames != reader.length()) {
            state.SkipWithError("decoded length differs from the stated length");
        }
        benchmark::DoNotOptimize(frames);
    }
    state.counters["realtime"] = benchmark::Counter(double(hourOfPackets) * 0.02,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(DecodeHourLongRecording)->Unit(benchmark::kMillisecond);

// Opening the same file for its length and sample rate only (what the audit asks of it).
void OpenHourLongRecording(benchmark::State& state)
{
    const QString& path = hourLongPenOgg();
    for (auto _ : state) {
        AudioFileReader reader(path);
        benchmark::DoNotOptimize(reader.length());
    }
}
BENCHMARK(OpenHourLongRecording)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace
