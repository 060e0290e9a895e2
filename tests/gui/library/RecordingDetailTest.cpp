#include "AppModel.h"
#include "GuiHarness.h"
#include "audio/OggWrap.h"
#include "library/ListenPlayer.h"
#include "library/RecordingDetailView.h"
#include "library/RecordingListModel.h"
#include "library/TranscriptReader.h"
#include "support/TestSupport.h"

#include <QLabel>
#include <QPushButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class RecordingDetailTest : public ::testing::Test {
protected:
    RecordingDetailTest()
    {
        h.state().wire(); // deleteImpact is the engine's own
        AppActions& a = h.model().actions;
        const auto note = [this](const char* name) {
            return [this, name](const RecordingItem& item) {
                calls << QString::fromLatin1(name) + u':' + item.base;
            };
        };
        a.pushNow = note("pushNow");
        a.redownload = note("redownload");
        a.repush = note("repush");
        a.toggleDismissed = note("toggleDismissed");
        a.toggleStar = note("toggleStar");
        a.revealLocal = note("revealLocal");
        a.openVaultSession = note("openVaultSession");
        a.deleteFromDevice = note("deleteFromDevice");
        a.openVaultHome = [this] {
            calls << u"openVaultHome"_s;
        };
    }

    QPushButton* button(const QString& name) { return detail.findChild<QPushButton*>(name); }
    QString text(const QString& label) { return detail.findChild<QLabel*>(label)->text(); }

    GuiHarness h;
    ListenPlayer player{[](const QAudioFormat&) {
        return std::unique_ptr<PcmOutput>();
    }};
    TranscriptReader reader{[] {
        return std::shared_ptr<Mindvault>();
    }};
    RecordingDetailView detail{h.model(), h.dialogs(), player, reader, {}};
    QStringList calls;
};

RecordingItem failedItem()
{
    RecordingItem item(u"20240315-093005"_s, 75, 9600, 9600, u"s1"_s, u"failed"_s);
    item.skippedShortSeconds = 42;
    return item;
}

TEST_F(RecordingDetailTest, EachActionCallsItsActionWithTheShownRecording)
{
    detail.setItem(failedItem(), std::nullopt);
    detail.show();
    EXPECT_EQ(text(u"detailTitle"_s), u"3月15日 09:30:05"_s);
    EXPECT_EQ(text(u"detailDuration"_s), u"1:15"_s);
    EXPECT_EQ(text(u"shortText"_s), u"只有 0:42，短于门槛，只落盘没推Mindvault"_s);

    const std::pair<const char*, const char*> cases[] = {
        {"pushNow", "pushNow"},         {"redownload", "redownload"}, {"repush", "repush"},
        {"dismiss", "toggleDismissed"}, {"star", "toggleStar"},       {"reveal", "revealLocal"},
        {"openVault", "openVaultHome"},
    };
    for (const auto& [name, expected] : cases) {
        calls.clear();
        QPushButton* b = button(QString::fromLatin1(name));
        ASSERT_TRUE(b && b->isVisible()) << name;
        QTest::mouseClick(b, Qt::LeftButton);
        const QString want = QString::fromLatin1(expected) == u"openVaultHome"_s
                                 ? u"openVaultHome"_s
                                 : QString::fromLatin1(expected) + u":20240315-093005"_s;
        EXPECT_EQ(calls, QStringList{want}) << name;
    }
    EXPECT_EQ(button(u"openVault"_s)->toolTip(), u"这条还没转写完，先去Mindvault首页"_s);
    EXPECT_EQ(button(u"repush"_s)->toolTip(), u"换一个幂等键重新建会话推一遍"_s);

    // Transcribed, starred, ignored: the texts turn and the service link opens the recording.
    RecordingItem done(u"20240316-100000"_s, 600, std::nullopt, 9600, u"s2"_s, u"ready"_s, u"t2"_s);
    done.starred = true;
    done.dismissed = true;
    detail.setItem(done, std::nullopt);
    EXPECT_EQ(button(u"openVault"_s)->text(), u"在Mindvault打开"_s);
    EXPECT_EQ(button(u"star"_s)->text(), u"取消收藏"_s);
    EXPECT_EQ(button(u"dismiss"_s)->text(), u"取消忽略"_s);
    EXPECT_FALSE(button(u"repush"_s)->isVisible());
    EXPECT_FALSE(detail.findChild<QWidget*>(u"shortText"_s)->isVisible());
    EXPECT_FALSE(button(u"deleteFromDevice"_s)->isEnabled()); // no longer on the pen
    calls.clear();
    QTest::mouseClick(button(u"openVault"_s), Qt::LeftButton);
    EXPECT_EQ(calls, QStringList{u"openVaultSession:20240316-100000"_s});
}

TEST_F(RecordingDetailTest, DeletionIsConfirmedWithWhatItCosts)
{
    // Only on the pen: no raw file here and never uploaded.
    detail.setItem(RecordingItem(u"20240317-080000"_s, 300, 9600), std::nullopt);
    detail.show();

    h.dialogs().answer = 1;
    QTest::mouseClick(button(u"deleteFromDevice"_s), Qt::LeftButton);
    ASSERT_EQ(h.dialogs().asked.size(), 1);
    const Dialogs::Alert& alert = h.dialogs().asked[0];
    EXPECT_EQ(alert.title, u"从录音笔上删掉这条？"_s);
    EXPECT_EQ(alert.text, u"本机没有留档，也没进过Mindvault。删掉就是永久消失，无法恢复。"_s);
    EXPECT_EQ(alert.buttons, (QStringList{u"删除"_s, u"取消"_s}));
    EXPECT_EQ(alert.destructiveButton, 0);
    EXPECT_TRUE(calls.isEmpty());

    h.dialogs().answer = 0;
    QTest::mouseClick(button(u"deleteFromDevice"_s), Qt::LeftButton);
    EXPECT_EQ(calls, QStringList{u"deleteFromDevice:20240317-080000"_s});
}

TEST_F(RecordingDetailTest, ListAndPlayerShowTheSameLength)
{
    // 150 packets: three seconds on the pen, a few milliseconds less once decoded.
    const QByteArray raw =
        TestSupport::readFile(QStringLiteral(KESTREL_FIXTURES "/audio/speech-188-packets.raw"))
            .left(150 * 40);
    const QByteArray ogg = OggWrap::wrap(raw, 16000, u"test"_s);
    const QString base = u"20240318-070000"_s;
    TestSupport::writeFile(h.model().importFolder + u'/' + base + u".ogg"_s, ogg);
    const RecordingItem item(base, 3, std::nullopt, ogg.size());

    RecordingListModel list;
    list.setItems({item});
    EXPECT_EQ(list.index(0, 0).data(RecordingListModel::DurationTextRole).toString(), u"0:03"_s);

    detail.setItem(item, std::nullopt);
    detail.show();
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return player.state() != ListenPlayer::State::loading && player.duration() > 0; }));
    EXPECT_LT(player.duration(), 3.0);
    EXPECT_EQ(text(u"time"_s), u"0:00 / 0:03"_s);
}

} // namespace
