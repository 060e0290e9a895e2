#pragma once

#include "library/PcmOutput.h"
#include "library/PcmStream.h"

#include <QCoro/QCoroTask>
#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

class AudioFileReader;

// Plays one archived recording: opens and decodes it off the event loop, streams it to the
// output, seeks, and says in a sentence why a recording cannot be played instead of playing
// silence.
class ListenPlayer : public QObject {
    Q_OBJECT

public:
    enum class State { empty, loading, ready, playing, paused, failed };

    explicit ListenPlayer(PcmOutput::Factory output = &PcmOutput::soundCard,
                          QObject* parent = nullptr);
    ~ListenPlayer() override;

    // Opens the recording at path (an Ogg file of the archive); stops what played before.
    void load(const QString& path);
    void clear();

    void play();
    void pause();
    void toggle();
    // Moves to a share (0...1) of the recording; keeps playing when it was.
    void seek(double fraction);
    // Plays from a moment (seconds); while the recording is still opening, once it is open.
    void playFrom(double seconds);

    State state() const { return m_state; }
    const QString& path() const { return m_path; }
    // Seconds.
    double duration() const;
    double position() const;
    // Why the recording cannot be played; empty unless the state is failed.
    const QString& problem() const { return m_problem; }

Q_SIGNALS:
    void stateChanged();
    // While playing, a few times a second; and after a seek.
    void positionChanged();

private:
    QCoro::Task<> open(QString path, qint64 frame, bool playAfter, int generation);
    void start(std::unique_ptr<AudioFileReader> reader, qint64 frame, bool playAfter);
    void startOutput();
    void stopOutput();
    void onOutputIdle();
    void setState(State state);
    void fail(const QString& problem);
    void onDecodeFailed(qint64 frame);

    PcmOutput::Factory m_outputFactory;
    std::unique_ptr<PcmOutput> m_output;
    PcmStream m_stream;
    QTimer m_tick;
    QString m_path;
    State m_state = State::empty;
    QString m_problem;
    double m_rate = 0;
    qint64 m_length = 0;     // frames
    qint64 m_startFrame = 0; // where the output started
    qint64 m_pausedAt = -1;  // frame shown while not playing
    int m_generation = 0;    // a newer load or seek makes older results stale
    double m_startAt = -1;   // seconds to play from once opened (playFrom while loading)
};
