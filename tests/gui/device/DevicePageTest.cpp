#include "device/DevicePage.h"

#include "AppModel.h"
#include "GuiHarness.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class DevicePageTest : public ::testing::Test {
protected:
    QString text(const QString& name) { return page.findChild<QLabel*>(name)->text(); }
    bool shown(const QString& name) { return !page.findChild<QWidget*>(name)->isHidden(); }

    // The model copies the engine on the next event-loop turn.
    void publish(const DeviceInfo& device, const SyncPhase& phase = SyncPhase::idle())
    {
        h.engine().setDevice(device);
        h.engine().setPhase(phase);
        ASSERT_TRUE(TestSupport::spinUntil(
            [&] { return h.model().device() == device && h.model().phase() == phase; }));
    }

    GuiHarness h;
    QDateTime now = QDateTime::fromString(u"2024-03-15T14:00:00"_s, Qt::ISODate);
    DevicePage page{h.model(), [this] {
                        return now;
                    }};
};

TEST_F(DevicePageTest, ConnectionAndReadingsAgeFollowThePenAndTheClock)
{
    DeviceInfo d;
    d.name = u"QX27-7A01"_s;
    d.lastSeenAt = now.addSecs(-300);
    d.readingsAt = now.addSecs(-2 * 3600);
    d.battery = 87;
    d.firmware = u"V1.2"_s;
    publish(d);
    EXPECT_EQ(text(u"connectionLine"_s),
              u"没在广播（5 分钟前还在）——录音笔空闲几分钟会休眠，按一下按键就会醒"_s);
    EXPECT_EQ(text(u"readingsAge"_s), u"电量、容量、固件读于 2 小时前读的"_s);
    EXPECT_EQ(text(u"battery"_s), u"87%"_s);
    EXPECT_EQ(text(u"capacity"_s), u"—"_s);
    EXPECT_EQ(text(u"firmware"_s), u"V1.2"_s);

    d.connected = true;
    publish(d, SyncPhase::downloading(u"20240315-093005.opus"_s, 42));
    EXPECT_EQ(text(u"connectionLine"_s),
              u"正在同步 42%——录音笔每传十几秒会断开一次再自动连上，这是它的正常节奏"_s);
    EXPECT_EQ(text(u"readingsAge"_s), u"同步中，稍后读"_s);
}

TEST_F(DevicePageTest, ArchiveCardShowsTheLastAuditAndRulesFollowTheSettings)
{
    page.show();
    EXPECT_TRUE(shown(u"archiveText"_s));
    EXPECT_FALSE(shown(u"archiveResult"_s));
    EXPECT_FALSE(shown(u"archiveUnlisted"_s));

    ArchiveAudit::Report report;
    for (int i = 0; i < 12; ++i) {
        ArchiveAudit::Item item;
        item.base = u"r%1"_s.arg(i);
        item.status = i == 3 ? ArchiveAudit::Status::damaged : ArchiveAudit::Status::ok;
        report.items << item;
    }
    report.unlistedRawPackets = {u"x"_s, u"y"_s};
    h.model().setAuditReport(report);
    EXPECT_FALSE(shown(u"archiveText"_s));
    EXPECT_EQ(text(u"archiveResult"_s), u"12 条里 1 条有问题"_s);
    EXPECT_EQ(text(u"archiveUnlisted"_s), u"另有 2 条裸包在磁盘上但清单没记账"_s);

    report.items[3].status = ArchiveAudit::Status::ok;
    report.unlistedRawPackets.clear();
    h.model().setAuditReport(report);
    EXPECT_EQ(text(u"archiveResult"_s), u"12 条留档全部完好"_s);
    EXPECT_FALSE(shown(u"archiveUnlisted"_s));

    EXPECT_EQ(text(u"rulesText"_s),
              u"只导入，不删录音笔上的原件。不足 5 分钟的不推给Mindvault。"_s);
    QList<bool> cleanup;
    h.model().actions.setCleanup = [&](bool on) {
        cleanup << on;
        h.model().setCleanupEnabled(on);
    };
    h.model().setMinUploadMinutes(10);
    QTest::mouseClick(page.findChild<QCheckBox*>(u"cleanupToggle"_s), Qt::LeftButton);
    EXPECT_EQ(cleanup, QList<bool>{true});
    EXPECT_EQ(
        text(u"rulesText"_s),
        u"同步成功、且已进Mindvault满 3 天的，才会从录音笔上删。不足 10 分钟的不推给Mindvault。"_s);
}

TEST_F(DevicePageTest, RenameShowsWhyItWasRefused)
{
    page.show();
    QStringList asked;
    h.model().actions.renameDevice = [&](QString name) -> QCoro::Task<AppActions::ErrorText> {
        asked << name;
        co_return u"这个名字已经有别的笔在用"_s;
    };
    page.findChild<QLineEdit*>(u"draftName"_s)->setText(u" 会议室 "_s);
    QTest::mouseClick(page.findChild<QPushButton*>(u"rename"_s), Qt::LeftButton);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return shown(u"renameNote"_s); }));
    EXPECT_EQ(asked, QStringList{u"会议室"_s});
    EXPECT_EQ(text(u"renameNote"_s), u"这个名字已经有别的笔在用"_s);
}

TEST_F(DevicePageTest, IdentityCardShowsTheBoundNameAndKeepsADraftUntilSavedOrAbandoned)
{
    DeviceInfo d;
    d.name = u"QX27-7A01"_s;
    d.peripheralId = u"C0:11:22:33:44:55"_s;
    d.bindingName = u"C01122-mac"_s;
    publish(d);
    auto* field = page.findChild<QLineEdit*>(u"draftName"_s);
    auto* button = page.findChild<QPushButton*>(u"rename"_s);
    EXPECT_EQ(text(u"deviceName"_s), u"C01122-mac"_s);
    EXPECT_EQ(field->text(), u"C01122-mac"_s);

    // Short enough that the controls further down need scrolling.
    page.resize(640, 300);
    page.show();
    QApplication::setActiveWindow(&page);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&page));
    QScrollBar* scroll = page.findChild<QScrollArea*>()->verticalScrollBar();
    ASSERT_GT(scroll->maximum(), 0);

    QList<std::optional<QString>> answers{u"这个名字已被占用"_s, std::nullopt};
    h.model().actions.renameDevice = [&](QString name) -> QCoro::Task<AppActions::ErrorText> {
        const std::optional<QString> answer = answers.takeFirst();
        if (!answer) {
            DeviceInfo renamed = h.engine().device();
            renamed.bindingName = name;
            h.engine().setDevice(renamed);
        }
        co_return answer;
    };
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, u"meeting-room"_s);
    button->setFocus();
    QTest::keyClick(button, Qt::Key_Space);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return shown(u"renameNote"_s); }));
    EXPECT_EQ(text(u"renameNote"_s), u"这个名字已被占用"_s);
    // Refused: focus waits in the field with the draft, and the page did not move.
    EXPECT_EQ(QApplication::focusWidget(), field);
    EXPECT_EQ(scroll->value(), 0);

    // Neither the clock's tick nor news from the pen overwrites the draft, focused or not.
    page.findChild<QCheckBox*>(u"cleanupToggle"_s)->setFocus();
    page.refresh();
    d.battery = 80;
    publish(d);
    EXPECT_EQ(field->text(), u"meeting-room"_s);

    // Abandoned with Escape: the bound name is back.
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Escape);
    EXPECT_EQ(field->text(), u"C01122-mac"_s);
    EXPECT_FALSE(shown(u"renameNote"_s));

    // Saved: the header and the field show the new name.
    field->selectAll();
    QTest::keyClicks(field, u"meeting-room"_s);
    QTest::keyClick(field, Qt::Key_Return);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return text(u"deviceName"_s) == u"meeting-room"_s; }));
    EXPECT_EQ(field->text(), u"meeting-room"_s);
    EXPECT_FALSE(shown(u"renameNote"_s));
    EXPECT_TRUE(answers.isEmpty());
}

} // namespace
