#include "library/ListenPlayer.h"

#include "support/TestSupport.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const QString speech = QStringLiteral(KESTREL_FIXTURES "/audio/speech-opusenc.ogg");

// Stands in for the sound card: the test pulls samples as fast as it likes.
class FakeOutput : public PcmOutput {
public:
    explicit FakeOutput(const QAudioFormat& f) : format(f) {}
    bool start(QIODevice* s) override
    {
        source = s;
        played = 0;
        return true;
    }
    void suspend() override { suspended = true; }
    void resume() override { suspended = false; }
    void stop() override { source = nullptr; }
    qint64 playedUSecs() const override { return played / 2 * 1'000'000 / format.sampleRate(); }
    // Pulls everything the stream has, like a sound card playing to the end.
    qint64 drain()
    {
        qint64 total = 0;
        QByteArray chunk;
        while (source && !(chunk = source->read(4096)).isEmpty()) {
            total += chunk.size();
            played += chunk.size();
        }
        if (source && source->atEnd() && onIdle) {
            onIdle();
        }
        return total;
    }

    QAudioFormat format;
    QIODevice* source = nullptr;
    qint64 played = 0;
    bool suspended = false;
};

class ListenPlayerTest : public ::testing::Test {
protected:
    FakeOutput* output = nullptr;
    ListenPlayer player{[this](const QAudioFormat& f) {
        auto o = std::make_unique<FakeOutput>(f);
        output = o.get();
        return o;
    }};

    void loadAndWait(const QString& path)
    {
        player.load(path);
        ASSERT_TRUE(
            TestSupport::spinUntil([&] { return player.state() != ListenPlayer::State::loading; }));
    }
};

TEST_F(ListenPlayerTest, PlaysTheWholeRecordingAndStopsAtItsEnd)
{
    loadAndWait(speech);
    ASSERT_EQ(player.state(), ListenPlayer::State::ready) << player.problem().toStdString();
    EXPECT_GT(player.duration(), 3.0);

    player.play();
    ASSERT_EQ(player.state(), ListenPlayer::State::playing);
    EXPECT_EQ(output->format.sampleRate(), 16000);
    EXPECT_EQ(output->format.channelCount(), 1);
    const qint64 bytes = output->drain();
    EXPECT_EQ(bytes, qint64(player.duration() * 16000) * 2);
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return player.state() != ListenPlayer::State::playing; }));
    EXPECT_EQ(player.state(), ListenPlayer::State::paused);
    EXPECT_DOUBLE_EQ(player.position(), player.duration());

    // Play again from the start after the end.
    player.play();
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return player.state() == ListenPlayer::State::playing; }));
    EXPECT_LT(player.position(), 0.1);
}

TEST_F(ListenPlayerTest, SeekContinuesFromThere)
{
    loadAndWait(speech);
    player.play();
    player.seek(0.5);
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return player.state() == ListenPlayer::State::playing; }));
    EXPECT_NEAR(player.position(), player.duration() / 2, 0.05);
    const qint64 rest = output->drain();
    EXPECT_NEAR(double(rest) / 2 / 16000, player.duration() / 2, 0.05);

    player.pause();
    EXPECT_EQ(player.state(), ListenPlayer::State::paused);
}

TEST_F(ListenPlayerTest, PlaysFromAMomentAlsoWhenAskedWhileOpening)
{
    player.load(speech);
    player.playFrom(2.0); // still opening: taken up once open
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return player.state() == ListenPlayer::State::playing; }));
    EXPECT_NEAR(player.position(), 2.0, 0.05);
    EXPECT_NEAR(double(output->drain()) / 2 / 16000, player.duration() - 2.0, 0.05);

    player.playFrom(0.5); // open: at once
    ASSERT_TRUE(
        TestSupport::spinUntil([&] { return player.state() == ListenPlayer::State::playing; }));
    EXPECT_NEAR(player.position(), 0.5, 0.05);
}

TEST_F(ListenPlayerTest, SaysWhyARecordingCannotBePlayed)
{
    QTemporaryDir dir;
    const QString garbage = dir.filePath(QStringLiteral("garbage.ogg"));
    {
        QFile f(garbage);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QByteArray(4000, 'x'));
    }
    loadAndWait(dir.filePath(QStringLiteral("missing.ogg")));
    EXPECT_EQ(player.state(), ListenPlayer::State::failed);
    EXPECT_EQ(player.problem(), QStringLiteral("本机没有这条录音的 ogg 留档，放不了。"));

    loadAndWait(garbage);
    EXPECT_EQ(player.state(), ListenPlayer::State::failed);
    EXPECT_TRUE(player.problem().startsWith(QStringLiteral("这条录音解不出来：")))
        << player.problem().toStdString();

    ListenPlayer mute([](const QAudioFormat&) { return std::unique_ptr<PcmOutput>(); });
    mute.load(speech);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return mute.state() == ListenPlayer::State::ready; }));
    mute.play();
    EXPECT_EQ(mute.state(), ListenPlayer::State::failed);
    EXPECT_EQ(mute.problem(), QStringLiteral("这台电脑没有可用的声音输出，放不了。"));
}

} // namespace
