#include "library/TranscriptReader.h"

#include "../../cloud/VaultFixture.h"
#include "AppModel.h"
#include "GuiHarness.h"
#include "library/LibraryPage.h"
#include "library/TranscriptView.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTextBrowser>
#include <QtTest/QTest>

using namespace Qt::Literals::StringLiterals;

namespace {

class TranscriptReaderTest : public VaultFixture {
protected:
    TranscriptReaderTest()
    {
        signedIn();
        const QString session =
            TestSupport::run(vault->upload(QByteArray(100, 'a'), u"周会"_s, 90, u"mac-ble-r"_s,
                                           u"audio/ogg"_s, QDateTime::currentDateTimeUtc()))
                .sessionId;
        tid = *TestSupport::run(vault->sessionState(session)).transcriptId;
    }

    // The reader shares the fixture's client without owning it.
    std::shared_ptr<Mindvault> shared{vault.get(), [](Mindvault*) {
                                      }};
    TranscriptReader reader{[this] {
        return shared;
    }};
    QString tid;
};

TEST_F(TranscriptReaderTest, ReadsOncePerSessionAndNamingClearsASpeaker)
{
    QSignalSpy loaded(&reader, &TranscriptReader::loaded);
    reader.request(tid);
    EXPECT_TRUE(reader.isLoading(tid));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return loaded.size() == 1; }));
    const TranscriptReader::Transcript* t = reader.cached(tid);
    ASSERT_TRUE(t);
    EXPECT_EQ(t->segments.size(), 3);
    EXPECT_EQ(t->unconfirmed(), 2);
    EXPECT_FALSE(t->shares.isEmpty());

    // Cached: asking again sends nothing.
    const int reads = server.requestCount("rest");
    reader.request(tid);
    EXPECT_FALSE(reader.isLoading(tid));
    EXPECT_EQ(server.requestCount("rest"), reads);

    QSignalSpy named(&reader, &TranscriptReader::speakersNamed);
    EXPECT_EQ(TestSupport::run(reader.nameSpeaker(tid, t->speakers[0], u"  "_s, std::nullopt)),
              u"名字不能是空的。"_s);
    EXPECT_TRUE(named.isEmpty());
    EXPECT_EQ(TestSupport::run(reader.nameSpeaker(tid, t->speakers[0], u" 张三 "_s, std::nullopt)),
              std::nullopt);
    t = reader.cached(tid);
    EXPECT_EQ(t->unconfirmed(), 1);
    EXPECT_EQ(t->nameOf(u"S1"_s), u"张三"_s);
    EXPECT_EQ(t->nameOf(u"S2"_s), u"S2"_s);
    EXPECT_EQ(loaded.size(), 2);
    ASSERT_EQ(named.size(), 1); // the list's count follows at once
    EXPECT_EQ(named[0], (QVariantList{tid, 1}));

    // A refused write comes back as the service's sentence.
    server.markAnalyzed(server.sessionIdFor("mac-ble-r").value());
    const std::optional<QString> refused =
        TestSupport::run(reader.nameSpeaker(tid, t->speakers[1], u"李四"_s, std::nullopt));
    ASSERT_TRUE(refused);
    EXPECT_EQ(*refused, MindvaultError::alreadyAnalyzed().description());
}

TEST_F(TranscriptReaderTest, FailuresAreToldAndCanBeRetried)
{
    QSignalSpy failed(&reader, &TranscriptReader::failed);
    server.failStep("rest", 500);
    reader.request(tid);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return failed.size() == 1; }));
    EXPECT_FALSE(reader.cached(tid));
    EXPECT_TRUE(reader.failure(tid));

    QSignalSpy loaded(&reader, &TranscriptReader::loaded);
    reader.request(tid);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return loaded.size() == 1; }));
    EXPECT_FALSE(reader.failure(tid));

    TranscriptReader signedOut([] { return std::shared_ptr<Mindvault>(); });
    QSignalSpy told(&signedOut, &TranscriptReader::failed);
    signedOut.request(tid);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return told.size() == 1; }));
    EXPECT_EQ(told[0][1].toString(), u"还没登录Mindvault，读不到转写。"_s);
}

TEST_F(TranscriptReaderTest, ReadsAgainWhenTheClientArrivesAndForgetsTheOldAccount)
{
    std::shared_ptr<Mindvault> current;
    TranscriptReader late([&] { return current; });
    TranscriptView view(late);
    view.setTranscriptId(tid);
    view.show();
    auto* status = view.findChild<QLabel*>(u"transcriptStatus"_s);
    auto* text = view.findChild<QTextBrowser*>(u"transcriptText"_s);
    const QString notSignedIn = u"转写没读出来：还没登录Mindvault，读不到转写。"_s;
    ASSERT_TRUE(TestSupport::spinUntil([&] { return status->text() == notSignedIn; }));

    // The client arrives: the open transcript is read without a click.
    current = shared;
    late.clientChanged();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return late.cached(tid) != nullptr; }));
    EXPECT_EQ(status->text(), u"2 位说话人待确认，填上名字就记到Mindvault里"_s);
    EXPECT_TRUE(text->isVisible());

    // Signed out: nothing the old account could read stays on screen or in the cache.
    current = nullptr;
    late.clientChanged();
    EXPECT_FALSE(late.cached(tid));
    ASSERT_TRUE(TestSupport::spinUntil([&] { return status->text() == notSignedIn; }));
    EXPECT_FALSE(text->isVisible());

    // A read under way when the account changes does not land in the new account's cache.
    current = shared;
    late.clientChanged();
    ASSERT_TRUE(late.isLoading(tid));
    current = nullptr;
    late.clientChanged();
    ASSERT_TRUE(TestSupport::spinUntil([&] { return status->text() == notSignedIn; }));
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(100));
    EXPECT_FALSE(late.cached(tid));

    // The library forgets with every change of the model's client.
    GuiHarness h;
    LibraryPage page(h.model(), h.dialogs(), {});
    QSignalSpy forgotten(page.findChild<TranscriptReader*>(), &TranscriptReader::reset);
    h.model().setVault(shared);
    h.model().setVault(nullptr);
    EXPECT_EQ(forgotten.size(), 2);
}

TEST_F(TranscriptReaderTest, ViewShowsTheTextAndNamesASpeakerFromTheKeyboard)
{
    TranscriptView view(reader);
    view.setTranscriptId(tid);
    view.show();
    auto* status = view.findChild<QLabel*>(u"transcriptStatus"_s);
    EXPECT_EQ(status->text(), u"正在读取转写…"_s);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return reader.cached(tid) != nullptr; }));
    EXPECT_EQ(status->text(), u"2 位说话人待确认，填上名字就记到Mindvault里"_s);
    const QString text = view.findChild<QTextBrowser*>(u"transcriptText"_s)->toPlainText();
    EXPECT_TRUE(text.contains(reader.cached(tid)->segments[0].text)) << text.toStdString();

    QWidget* s1 = view.findChild<QWidget*>(u"speaker-S1"_s);
    ASSERT_TRUE(s1);
    auto* name = s1->findChild<QLineEdit*>(u"name"_s);
    name->setText(u"王五"_s);
    QTest::keyClick(name, Qt::Key_Return);
    ASSERT_TRUE(TestSupport::spinUntil([&] { return reader.cached(tid)->unconfirmed() == 1; }));
    EXPECT_EQ(status->text(), u"1 位说话人待确认，填上名字就记到Mindvault里"_s);
    s1 = view.findChild<QWidget*>(u"speaker-S1"_s);
    EXPECT_FALSE(s1->findChild<QLineEdit*>());
    EXPECT_EQ(s1->accessibleName(), u"王五，已确认"_s);
    EXPECT_TRUE(
        view.findChild<QTextBrowser*>(u"transcriptText"_s)->toPlainText().contains(u"王五"_s));
}

} // namespace
