// Screening and the waveform on arbitrary sound: the first byte picks a sample rate, the rest
// is 16-bit mono PCM, handed over as a WAV file. Every measure stays finite and in range, and
// the bars cover the whole file.
#include "AudioFuzz.h"

#include <QDataStream>
#include <array>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    constexpr std::array<quint32, 6> rates{8000, 11025, 16000, 22050, 44100, 48000};
    const quint32 rate = rates[data[0] % rates.size()];
    const QByteArray pcm = fuzzBytes(data + 1, (size - 1) & ~size_t(1));
    QByteArray wav;
    QDataStream s(&wav, QIODevice::WriteOnly);
    s.setByteOrder(QDataStream::LittleEndian);
    s.writeRawData("RIFF", 4);
    s << quint32(36 + pcm.size());
    s.writeRawData("WAVEfmt ", 8);
    s << quint32(16) << quint16(1) << quint16(1) << rate << quint32(rate * 2) << quint16(2)
      << quint16(16);
    s.writeRawData("data", 4);
    s << quint32(pcm.size());
    s.writeRawData(pcm.constData(), int(pcm.size()));
    const QString path = fuzzAudioFile(wav);
    exerciseAudio(path);

    const auto scan = VoiceActivity::scan(path);
    FUZZ_CHECK(scan.has_value() == (pcm.size() >= 2));
    if (!scan)
        return 0;
    FUZZ_CHECK(scan->sampleCount == pcm.size() / 2);
    FUZZ_CHECK(scan->peak <= 1.0f && scan->rms <= 1.0);
    const VoiceActivity::Report r = VoiceActivity::report(*scan);
    for (const double ratio : {r.speechBandRatio, r.lowBandRatio, r.coreBandRatio, r.voicedRatio,
                               r.activeVoicedRatio, r.pitchConcentration})
        FUZZ_CHECK(ratio >= 0 && ratio <= 1.0 + 1e-6);
    FUZZ_CHECK(r.longestVoicedRun <= r.duration + 1e-9);

    // The loudest bar is the loudest sample, so a file with sound has a full bar.
    const auto bars = Waveform::compute(path, Waveform::barCount);
    FUZZ_CHECK(bars.has_value());
    const float top = *std::max_element(bars->begin(), bars->end());
    FUZZ_CHECK(scan->peak > 0.0001f ? top == 1.0f : top <= 0.0001f);
    return 0;
}
