#pragma once

#include <QByteArray>
#include <QString>
#include <functional>
#include <vector>

// Small audio made in the test instead of stored in the repository.
namespace AudioFixtures {

// A mono 32-bit float WAV file: the samples exactly as given.
QByteArray wav(int rate, const std::vector<float>& samples);
// A mono CAF file of 32-bit float samples.
QByteArray caf(int rate, const std::vector<float>& samples);

// seconds of a sine of hz at rate, its amplitude at each sample from level(i). Exactly periodic
// when rate is a multiple of hz (each sample computed from its phase within the period).
std::vector<float> tone(int rate, int hz, double seconds,
                        const std::function<float(qint64 i)>& level);

// The pen's raw stream for 16 kHz mono samples: 20 ms packets of exactly 40 bytes (16 kbit/s
// constant bit rate); a trailing partial packet is padded with silence.
QByteArray penPackets(const std::vector<float>& samples16k);

// The first channel of an audio file decoded at its own rate; empty when it cannot be read.
std::vector<float> decode(const QString& path);

} // namespace AudioFixtures
