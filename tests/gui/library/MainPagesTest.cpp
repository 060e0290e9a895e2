#include "library/MainPages.h"

#include "AppModel.h"
#include "GuiHarness.h"
#include "audit/ArchiveAuditPanel.h"
#include "cloud/MindvaultConfig.h"
#include "cloud/UploadQueue.h"
#include "device/BindMismatchCard.h"
#include "device/DevicePage.h"
#include "device/SideRail.h"
#include "library/LibraryPage.h"
#include "library/ListenPlayer.h"
#include "library/RecordingFilter.h"
#include "library/RecordingListView.h"
#include "library/TranscriptHitList.h"
#include "library/TranscriptReader.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"
#include "sync/SyncManifest.h"
#include "transcripts/TranscriptStore.h"
#include "window/MainWindowView.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QToolButton>
#include <QtTest/QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class MainPagesTest : public ::testing::Test {
protected:
    MainPagesTest()
    {
        view.resize(1000, 640);
        view.show();
    }
    MainPages& pages() { return *view.findChild<MainPages*>(); }

    GuiHarness h;
    MainWindowView view{h.model(), h.dialogs()};
};

TEST_F(MainPagesTest, BindingCardStaysOpenOnARejectedNameAndCancelDismissesIt)
{
    QList<std::optional<QString>> names;
    int dismissed = 0;
    h.model().actions.resolveBindMismatch = [&](std::optional<QString> name) -> QCoro::Task<bool> {
        names << name;
        co_return false;
    };
    h.model().actions.dismissBindMismatch = [&] {
        ++dismissed;
        h.engine().setPendingBindMismatch(std::nullopt);
    };
    EXPECT_EQ(pages().bindCard(), nullptr);

    h.engine().setPendingBindMismatch(
        BindMismatch{u"C0:11"_s, u"QX27-7A01"_s, u"old@example.com"_s, u"new@example.com"_s});
    ASSERT_TRUE(TestSupport::spinUntil([&] { return pages().bindCard() != nullptr; }));
    BindMismatchCard* card = pages().bindCard();
    EXPECT_TRUE(card->isVisible());
    card->findChild<QLineEdit*>(u"name"_s)->setText(u"我的笔"_s);
    QTest::mouseClick(card->findChild<QPushButton*>(u"confirm"_s), Qt::LeftButton);
    auto* error = card->findChild<QLabel*>(u"error"_s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return error->isVisible(); }));
    EXPECT_EQ(names, (QList<std::optional<QString>>{u"我的笔"_s}));
    EXPECT_EQ(pages().bindCard(), card);
    EXPECT_EQ(card->findChild<QLabel*>(u"text"_s)->text().left(9), u"这支笔上次同步到「"_s);

    QTest::mouseClick(card->findChild<QPushButton*>(u"cancel"_s), Qt::LeftButton);
    EXPECT_EQ(dismissed, 1);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return pages().bindCard() == nullptr; }));
}

TEST_F(MainPagesTest, AuditPanelOpensOverTheWindowAndClosingKeepsTheReport)
{
    int audits = 0;
    h.model().actions.runAudit = [&] {
        ++audits;
        ArchiveAudit::Report report;
        ArchiveAudit::Item item;
        item.base = u"20240301-090000"_s;
        item.status = ArchiveAudit::Status::notDownloaded;
        item.detail = u"只是还没从云端下载到本机"_s;
        report.items << item;
        h.model().setAuditReport(report);
    };
    h.model().setPanel(AppModel::Panel::audit);
    ArchiveAuditPanel* panel = pages().auditPanel();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->findChild<QLabel*>(u"summary"_s)->text(), u"还没体检过"_s);

    QTest::mouseClick(panel->findChild<QPushButton*>(u"rerun"_s), Qt::LeftButton);
    EXPECT_EQ(audits, 1);
    EXPECT_EQ(panel->findChild<QLabel*>(u"summary"_s)->text(), h.model().auditReport()->summary());

    QTest::mouseClick(panel->findChild<QPushButton*>(u"close"_s), Qt::LeftButton);
    EXPECT_FALSE(h.model().panel());
    EXPECT_EQ(pages().auditPanel(), nullptr);
    EXPECT_TRUE(h.model().auditReport());
}

TEST_F(MainPagesTest, RailNamesThePenStateAndTheDevicePageOpensRecordingsInTheLibrary)
{
    auto* deviceEntry = pages().rail().findChild<QToolButton*>(u"railDevice"_s);
    EXPECT_EQ(deviceEntry->accessibleName(), u"设备，录音笔未连接"_s);
    DeviceInfo d;
    d.connected = true;
    h.engine().setDevice(d);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.model().device().connected; }));
    EXPECT_EQ(deviceEntry->accessibleName(), u"设备，录音笔已连接"_s);

    QTest::mouseClick(deviceEntry, Qt::LeftButton);
    EXPECT_EQ(pages().rail().section(), SideRail::Section::device);
    Q_EMIT pages().device().openRecording(u"20240301-090000"_s);
    EXPECT_EQ(pages().rail().section(), SideRail::Section::library);
    EXPECT_EQ(h.model().selection(), u"20240301-090000"_s);
}

TEST_F(MainPagesTest, NamingTheLastSpeakerClearsTheListCounterWithoutWaitingForAPoll)
{
    h.state().wire();
    const QString base = u"20240301-090000"_s;
    SyncEngine& engine = h.engine();
    TestSupport::writeFile(engine.paths().dest() + u'/' + base + u".ogg"_s, "OggS");
    SyncManifest ledger;
    ledger.uploaded[base] = u"s1"_s;
    ledger.save(engine.paths().manifest());
    h.queue().noteServiceState(base, {u"ready"_s, u"t1"_s, std::nullopt});
    h.queue().noteSpeakersNamed(u"t1"_s, 2);
    auto* counter = view.findChild<QToolButton*>(u"speakersCounter"_s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !counter->isHidden(); }));
    EXPECT_EQ(counter->text(), u"待认人 1"_s);

    Q_EMIT view.findChild<TranscriptReader*>()->speakersNamed(u"t1"_s, 0);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return counter->isHidden(); }));
}

TEST_F(MainPagesTest, BlockedBannerOffersSigningInAgainWhenTheLoginExpired)
{
    int signOuts = 0;
    QStringList logs;
    h.model().actions.signOut = [&] {
        ++signOuts;
    };
    h.model().actions.openLog = [&] {
        logs << u"log"_s;
    };
    auto* banner = view.findChild<QWidget*>(u"blockedBanner"_s);
    EXPECT_FALSE(banner->isVisible());

    h.engine().setUploadBlocked(u"推送暂停：网络不通"_s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return banner->isVisible(); }));
    auto* button = banner->findChild<QPushButton*>(u"blockedAction"_s);
    EXPECT_EQ(button->text(), u"查看日志"_s);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(logs.size(), 1);

    h.engine().setNeedsSignIn(true);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.model().needsSignIn(); }));
    EXPECT_EQ(button->text(), u"重新登录"_s);
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(signOuts, 1);
    EXPECT_EQ(h.model().sessionNotice(),
              u"登录已失效，请重新登录。登录后积压的录音会自动推上去。"_s);
}

TEST_F(MainPagesTest, OverlaysKeepTheKeyboardInsideAndCloseOnEscape)
{
    QApplication::setActiveWindow(&view);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&view));
    const auto focused = [] {
        return QApplication::focusWidget();
    };
    // Tab and Shift+Tab go round the panel's own controls.
    const auto staysInside = [&](QWidget* panel) {
        for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Tab, Qt::Key_Backtab,
                            Qt::Key_Backtab, Qt::Key_Backtab, Qt::Key_Backtab}) {
            QTest::keyClick(focused(), key);
            if (!panel->isAncestorOf(focused())) {
                return false;
            }
        }
        return true;
    };
    auto* behind = view.findChild<QPushButton*>(u"syncNow"_s);
    behind->setFocus();

    h.model().setPanel(AppModel::Panel::audit);
    ArchiveAuditPanel* panel = pages().auditPanel();
    ASSERT_TRUE(panel);
    EXPECT_TRUE(panel->isAncestorOf(focused()));
    EXPECT_TRUE(staysInside(panel));
    QTest::keyClick(focused(), Qt::Key_Escape);
    EXPECT_FALSE(h.model().panel());
    EXPECT_EQ(pages().auditPanel(), nullptr);
    EXPECT_EQ(focused(), behind); // back where it was

    int dismissed = 0;
    h.model().actions.dismissBindMismatch = [&] {
        ++dismissed;
        h.engine().setPendingBindMismatch(std::nullopt);
    };
    h.engine().setPendingBindMismatch(
        BindMismatch{u"C0:11"_s, u"QX27-7A01"_s, u"old@example.com"_s, u"new@example.com"_s});
    ASSERT_TRUE(TestSupport::spinUntil([&] { return pages().bindCard() != nullptr; }));
    BindMismatchCard* card = pages().bindCard();
    EXPECT_EQ(focused(), card->findChild<QLineEdit*>(u"name"_s));
    EXPECT_TRUE(staysInside(card));
    QTest::keyClick(focused(), Qt::Key_Escape);
    EXPECT_EQ(dismissed, 1);
    EXPECT_TRUE(TestSupport::spinUntil([&] { return pages().bindCard() == nullptr; }));
}

TEST_F(MainPagesTest, WebAddressIsReadWhenAPageIsOpened)
{
    h.state().wire();
    auto* open = view.findChild<QWidget*>(u"deviceBar"_s)->findChild<QPushButton*>(u"openVault"_s);
    QTest::mouseClick(open, Qt::LeftButton);
    EXPECT_TRUE(h.shell().opened.isEmpty()); // no service configured yet

    // The configuration arrives while the application runs.
    const MindvaultConfig config{u"http://127.0.0.1:9/"_s, u"http://127.0.0.1:9"_s, u"anon"_s};
    TestSupport::writeFile(h.engine().paths().mindvaultConfig(), config.encode());
    QTest::mouseClick(open, Qt::LeftButton);
    ASSERT_EQ(h.shell().opened.size(), 1);
    EXPECT_EQ(h.shell().opened[0], QUrl(config.apiBase));
}

} // namespace

TEST_F(MainPagesTest, ChoosingATranscriptHitSelectsTheRecordingAndPlaysFromThere)
{
    h.state().wire();
    SyncEngine& engine = h.engine();
    const QString said = u"20240301-090000"_s, other = u"20240302-090000"_s;
    SyncManifest ledger;
    for (const QString& base : {said, other}) {
        TestSupport::writeFile(
            engine.paths().dest() + u'/' + base + u".ogg"_s,
            TestSupport::readFile(QStringLiteral(KESTREL_FIXTURES "/audio/speech-opusenc.ogg")));
        ledger.uploaded[base] = u"s-"_s + base;
    }
    ledger.save(engine.paths().manifest());
    engine.refreshLocalView();
    StoredTranscript t;
    t.base = said;
    t.transcriptId = u"t-"_s + said;
    t.fetchedAt = QDateTime::currentDateTime();
    t.segments = {{u"1"_s, u"S1"_s, u"先说别的"_s, 0, 2000},
                  {u"2"_s, u"S2"_s, u"下面讨论预算的事"_s, 2000, 3500}};
    t.speakers = {{u"S2"_s, u"王芳"_s, true, {}}};
    TranscriptStore::open(TranscriptStore::pathIn(h.model().projectRoot),
                          TranscriptStore::Mode::write)
        ->put(t);

    auto* library = view.findChild<LibraryPage*>();
    ASSERT_NE(library, nullptr);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return h.model().items().size() == 2; }));
    // Neither title nor date holds the words: only the transcript does.
    library->list().search()->setText(u"讨论预算"_s);
    QListWidget* hits = library->transcriptHits().list();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return hits->count() == 1; }));
    EXPECT_TRUE(library->transcriptHits().isVisible());
    const QString snippet = hits->item(0)->data(TranscriptHitList::SnippetRole).toString();
    EXPECT_TRUE(snippet.contains(u"下面<b>讨论预算</b>的事"_s)) << snippet.toStdString();
    const QString caption = hits->item(0)->data(TranscriptHitList::CaptionRole).toString();
    EXPECT_TRUE(caption.startsWith(u"王芳 · 0:02"_s)) << caption.toStdString();
    EXPECT_EQ(library->list().filter().rowCount(), 1); // the list shows that recording too

    QTest::mouseClick(hits->viewport(), Qt::LeftButton, {},
                      hits->visualItemRect(hits->item(0)).center());
    EXPECT_EQ(h.model().selection(), said);
    ListenPlayer& player = library->player();
    EXPECT_TRUE(player.path().endsWith(said + u".ogg"_s));
    ASSERT_TRUE(TestSupport::spinUntil(
        [&] { return player.state() != ListenPlayer::State::loading && player.duration() > 0; }));
    EXPECT_NEAR(player.position(), 2.0, 0.1);
}
