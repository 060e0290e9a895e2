#pragma once

#include <QAudioFormat>
#include <QIODevice>
#include <functional>
#include <memory>

// Where the listen player's samples go: the sound card in the application, a stand-in in tests
// (which have no sound card). Pull mode: the output reads the device as it needs samples.
class PcmOutput {
public:
    virtual ~PcmOutput() = default;
    // Starts pulling from source; false when no output can be opened.
    virtual bool start(QIODevice* source) = 0;
    virtual void suspend() = 0;
    virtual void resume() = 0;
    virtual void stop() = 0;
    // Microseconds of audio played since start().
    virtual qint64 playedUSecs() const = 0;
    // The output ran out of samples (end of the recording).
    std::function<void()> onIdle;

    using Factory = std::function<std::unique_ptr<PcmOutput>(const QAudioFormat&)>;
    // The default sound card through Qt Multimedia; nullptr when the computer has none.
    static std::unique_ptr<PcmOutput> soundCard(const QAudioFormat& format);
};
