#include "library/PcmOutput.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QMediaDevices>

namespace {

class SoundCardOutput : public PcmOutput {
public:
    SoundCardOutput(const QAudioDevice& device, const QAudioFormat& format) : m_sink(device, format)
    {
        QObject::connect(&m_sink, &QAudioSink::stateChanged, [this](QAudio::State state) {
            if (state == QAudio::IdleState && onIdle) {
                onIdle();
            }
        });
    }

    bool start(QIODevice* source) override
    {
        m_sink.start(source);
        return m_sink.error() == QAudio::NoError;
    }
    void suspend() override { m_sink.suspend(); }
    void resume() override { m_sink.resume(); }
    void stop() override { m_sink.stop(); }
    qint64 playedUSecs() const override { return m_sink.processedUSecs(); }

private:
    QAudioSink m_sink;
};

} // namespace

std::unique_ptr<PcmOutput> PcmOutput::soundCard(const QAudioFormat& format)
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull() || !device.isFormatSupported(format)) {
        return nullptr;
    }
    return std::make_unique<SoundCardOutput>(device, format);
}
