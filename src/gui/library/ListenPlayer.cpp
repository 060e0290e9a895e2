#include "library/ListenPlayer.h"

#include "audio/AudioFileReader.h"
#include "format/Fmt.h"

#include <QCoro/QCoroFuture>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

namespace {

struct Opened {
    std::shared_ptr<AudioFileReader> reader;
    QString problem;
};

// Runs on the thread pool: opening probes the container, and seeking decodes up to the target.
Opened openAt(const QString& path, qint64 frame)
{
    if (!QFileInfo::exists(path)) {
        return {nullptr, QStringLiteral("本机没有这条录音的 ogg 留档，放不了。")};
    }
    try {
        auto reader = std::make_shared<AudioFileReader>(path);
        if (reader->length() < 1) {
            return {nullptr, QStringLiteral("这条录音是空的，没有可放的声音。")};
        }
        if (frame > 0 && !reader->seek(frame)) {
            return {nullptr, QStringLiteral("这条录音重新打开时失败了，放不了。")};
        }
        return {reader, {}};
    } catch (const AudioFileReader::OpenError& e) {
        return {nullptr,
                QStringLiteral("这条录音解不出来：") + e.description() + QStringLiteral("。")};
    }
}

} // namespace

ListenPlayer::ListenPlayer(PcmOutput::Factory output, QObject* parent)
    : QObject(parent), m_outputFactory(std::move(output))
{
    m_tick.setInterval(100);
    connect(&m_tick, &QTimer::timeout, this, &ListenPlayer::positionChanged);
    // Queued: the failure is found inside the output's read, which must not destroy the output.
    connect(&m_stream, &PcmStream::decodeFailed, this, &ListenPlayer::onDecodeFailed,
            Qt::QueuedConnection);
}

ListenPlayer::~ListenPlayer()
{
    stopOutput();
}

void ListenPlayer::load(const QString& path)
{
    clear();
    m_path = path;
    setState(State::loading);
    open(path, 0, false, m_generation);
}

void ListenPlayer::clear()
{
    m_startAt = -1;
    ++m_generation;
    stopOutput();
    m_stream.setReader(nullptr);
    m_path.clear();
    m_problem.clear();
    m_rate = 0;
    m_length = 0;
    m_startFrame = 0;
    m_pausedAt = -1;
    setState(State::empty);
}

QCoro::Task<> ListenPlayer::open(QString path, qint64 frame, bool playAfter, int generation)
{
    QPointer<ListenPlayer> self(this);
    // A named job: GCC 12 destroys temporaries of a co_await expression twice.
    const auto job = [path, frame] {
        return openAt(path, frame);
    };
    QFuture<Opened> future = QtConcurrent::run(job);
    Opened opened = co_await future;
    if (!self || generation != m_generation) {
        co_return;
    }
    if (!opened.reader) {
        fail(opened.problem);
        co_return;
    }
    // The reader now belongs to this thread alone; hand it over as a unique owner.
    auto* raw = new AudioFileReader(std::move(*opened.reader));
    opened.reader.reset();
    start(std::unique_ptr<AudioFileReader>(raw), frame, playAfter);
}

void ListenPlayer::start(std::unique_ptr<AudioFileReader> reader, qint64 frame, bool playAfter)
{
    m_rate = reader->sampleRate();
    m_length = reader->length();
    m_stream.setReader(std::move(reader));
    m_startFrame = frame;
    m_pausedAt = frame;
    Q_EMIT positionChanged();
    if (m_startAt >= 0) {
        const double at = m_startAt;
        m_startAt = -1;
        playFrom(at);
        return;
    }
    if (playAfter) {
        startOutput();
    } else if (m_state == State::loading) {
        setState(State::ready);
    }
}

void ListenPlayer::play()
{
    if (m_state == State::playing || m_state == State::empty || m_state == State::loading ||
        m_state == State::failed) {
        return;
    }
    if (m_stream.atEnd()) {
        // Played to the end: start over.
        ++m_generation;
        setState(State::loading);
        open(m_path, 0, true, m_generation);
        return;
    }
    if (m_output && m_state == State::paused && m_pausedAt < 0) {
        m_output->resume();
        setState(State::playing);
        m_tick.start();
        return;
    }
    startOutput();
}

void ListenPlayer::startOutput()
{
    stopOutput();
    QAudioFormat format;
    format.setSampleRate(int(m_rate));
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    m_output = m_outputFactory ? m_outputFactory(format) : nullptr;
    if (!m_output) {
        fail(QStringLiteral("这台电脑没有可用的声音输出，放不了。"));
        return;
    }
    // Queued: the output reports from inside its own state change, which must not destroy it.
    m_output->onIdle = [this] {
        QMetaObject::invokeMethod(this, &ListenPlayer::onOutputIdle, Qt::QueuedConnection);
    };
    m_startFrame = m_stream.frame();
    if (!m_output->start(&m_stream)) {
        fail(QStringLiteral("声音输出打不开，放不了。"));
        return;
    }
    m_pausedAt = -1;
    setState(State::playing);
    m_tick.start();
}

void ListenPlayer::onOutputIdle()
{
    if (m_state == State::playing && m_stream.atEnd() && !m_stream.broken()) {
        m_pausedAt = m_length;
        stopOutput();
        setState(State::paused);
        Q_EMIT positionChanged();
    }
}

void ListenPlayer::pause()
{
    if (m_state != State::playing || !m_output) {
        return;
    }
    m_output->suspend();
    m_tick.stop();
    setState(State::paused);
    Q_EMIT positionChanged();
}

void ListenPlayer::toggle()
{
    if (m_state == State::playing) {
        pause();
    } else {
        play();
    }
}

void ListenPlayer::seek(double fraction)
{
    if (m_length <= 0 || m_state == State::failed || m_state == State::empty) {
        return;
    }
    const bool wasPlaying = m_state == State::playing;
    const auto frame = qint64(std::clamp(fraction, 0.0, 1.0) * double(m_length));
    ++m_generation;
    stopOutput();
    m_pausedAt = frame;
    setState(wasPlaying ? State::loading : State::paused);
    Q_EMIT positionChanged();
    open(m_path, frame, wasPlaying, m_generation);
}

void ListenPlayer::playFrom(double seconds)
{
    if (m_state == State::loading && m_length <= 0) {
        m_startAt = seconds;
        return;
    }
    if (m_length <= 0 || m_rate <= 0 || m_state == State::failed || m_state == State::empty) {
        return;
    }
    const qint64 frame = std::clamp(qint64(seconds * m_rate), qint64(0), m_length);
    ++m_generation;
    stopOutput();
    m_pausedAt = frame;
    setState(State::loading);
    Q_EMIT positionChanged();
    open(m_path, frame, true, m_generation);
}

double ListenPlayer::duration() const
{
    return m_rate > 0 ? double(m_length) / m_rate : 0;
}

double ListenPlayer::position() const
{
    if (m_rate <= 0) {
        return 0;
    }
    qint64 frame = m_pausedAt;
    if (frame < 0 && m_output) {
        frame = m_startFrame + qint64(double(m_output->playedUSecs()) * m_rate / 1e6);
    }
    return double(std::clamp<qint64>(frame, 0, m_length)) / m_rate;
}

void ListenPlayer::stopOutput()
{
    m_tick.stop();
    if (m_output) {
        if (m_pausedAt < 0) {
            m_pausedAt = m_startFrame + qint64(double(m_output->playedUSecs()) * m_rate / 1e6);
        }
        m_output->onIdle = nullptr;
        m_output->stop();
        m_output.reset();
    }
}

void ListenPlayer::onDecodeFailed(qint64 frame)
{
    const double at = m_rate > 0 ? double(frame) / m_rate : 0;
    if (at < 1) {
        fail(QStringLiteral("这条录音解不出声音来，文件可能损坏了。"));
    } else {
        fail(QStringLiteral("这条录音放到 ") + Fmt::duration(at) +
             QStringLiteral(" 之后解不出来了，文件可能损坏了。"));
    }
}

void ListenPlayer::fail(const QString& problem)
{
    m_startAt = -1;
    stopOutput();
    m_problem = problem;
    setState(State::failed);
}

void ListenPlayer::setState(State state)
{
    if (state == m_state) {
        return;
    }
    m_state = state;
    Q_EMIT stateChanged();
}
