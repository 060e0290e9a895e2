#pragma once

// What the audio targets share: the input as a file (the reader takes paths, as the archive
// hands them over), and every consumer of a reader run on it with the invariants they promise.
#include "FuzzCheck.h"
#include "audio/AudioFileReader.h"
#include "audio/VoiceActivity.h"
#include "audio/Waveform.h"

#include <QDir>
#include <QFile>
#include <QString>
#include <cmath>
#include <cstdlib>
#include <unistd.h>
#include <vector>

// One file per process, rewritten for each input; in /dev/shm where there is one, so the
// fuzzer does not wear a disk.
inline QString fuzzAudioFile(const QByteArray& bytes)
{
    static const QString path = [] {
        const QString p = (QDir(QStringLiteral("/dev/shm")).exists() ? QStringLiteral("/dev/shm")
                                                                     : QDir::tempPath()) +
                          QStringLiteral("/kestrel-fuzz-audio-%1").arg(::getpid());
        // Gone again when the fuzzer ends normally (a run's end, or a finding it reports).
        static const QByteArray name = QFile::encodeName(p);
        std::atexit([] { ::unlink(name.constData()); });
        return p;
    }();
    QFile file(path);
    FUZZ_CHECK(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(file.write(bytes) == bytes.size());
    file.close();
    return path;
}

// The reader's promises, then screening and the waveform on the same file.
inline void exerciseAudio(const QString& path)
{
    const auto reader = AudioFileReader::tryOpen(path);
    if (!reader)
        return;
    FUZZ_CHECK(reader->sampleRate() > 0 && reader->sampleRate() <= 384000);
    FUZZ_CHECK(reader->channelCount() >= 1);
    FUZZ_CHECK(reader->length() >= 0);
    std::vector<float> block(4096);
    qint64 total = 0;
    for (qint64 n; (n = reader->read(block.data(), qint64(block.size()))) > 0;) {
        FUZZ_CHECK(n <= qint64(block.size()));
        for (qint64 i = 0; i < n; ++i)
            FUZZ_CHECK(std::isfinite(block[size_t(i)]));
        total += n;
    }
    FUZZ_CHECK(reader->position() == total);

    if (const auto scan = VoiceActivity::scan(path)) {
        FUZZ_CHECK(scan->sampleCount > 0);
        FUZZ_CHECK(scan->frameRMS.size() == size_t(scan->sampleCount / VoiceActivity::frameLength));
        const VoiceActivity::Report report = VoiceActivity::report(*scan);
        FUZZ_CHECK(!report.reason.isEmpty());
        FUZZ_CHECK(std::isfinite(report.duration) && report.duration > 0);
    }
    if (const auto bars = Waveform::compute(path, Waveform::barCount)) {
        FUZZ_CHECK(bars->size() == size_t(Waveform::barCount));
        for (const float b : *bars)
            FUZZ_CHECK(b >= 0 && std::isfinite(b));
    }
}
