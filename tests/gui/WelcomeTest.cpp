// The welcome page's sign-in against the stand-in service, and the sign-in check at start.

#include "GuiHarness.h"
#include "cloud/Mindvault.h"
#include "design/DSButton.h"
#include "support/TestSupport.h"
#include "sync/SyncEngine.h"
#include "welcome/WelcomeView.h"
#include "window/MainWindow.h"
#include "window/MainWindowView.h"
#include "window/RootContentView.h"

#include <QApplication>
#include <QCoro/QCoroTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

GuiHarness::Options withService()
{
    GuiHarness::Options o;
    o.service = true;
    o.password = "right password";
    return o;
}

// The window shown, its stored sign-in checked.
RootContentView& openWindow(GuiHarness& h)
{
    h.state().wire();
    h.state().showMainWindow();
    RootContentView& root = h.state().window()->root();
    TestSupport::spinUntil([&] { return h.model().signedIn().has_value(); });
    return root;
}

void signIn(WelcomeView& page, const QString& email, const QString& password)
{
    page.email().setText(email);
    page.password().setText(password);
    QTest::mouseClick(&page.signInButton(), Qt::LeftButton);
}

} // namespace

TEST(Welcome, WrongPasswordKeepsTheEmailRightPasswordOpensTheWindow)
{
    GuiHarness h(withService());
    RootContentView& root = openWindow(h);
    ASSERT_EQ(root.currentWidget(), &root.welcome());
    WelcomeView& page = root.welcome();
    EXPECT_FALSE(page.signInButton().isEnabled()); // nothing typed yet

    signIn(page, u"demo@example.com"_s, u"wrong"_s);
    EXPECT_TRUE(page.busy());
    EXPECT_EQ(page.signInButton().text(), u"登录中"_s);
    TestSupport::spinUntil([&] { return !page.busy(); });
    EXPECT_TRUE(page.errorText().contains(u"邮箱或密码不对"_s)) << page.errorText().toStdString();
    EXPECT_EQ(page.email().text(), u"demo@example.com"_s);
    EXPECT_TRUE(page.password().text().isEmpty());
    EXPECT_FALSE(QFile::exists(h.dataFolder() + u"/credentials.json"_s));

    signIn(page, u"demo@example.com"_s, u"right password"_s);
    EXPECT_TRUE(page.errorText().isEmpty()); // cleared as the second attempt starts
    TestSupport::spinUntil([&] { return root.currentWidget() == &root.main(); });
    EXPECT_EQ(root.currentWidget(), &root.main());
    EXPECT_EQ(h.model().signedInEmail(), u"demo@example.com"_s);
    EXPECT_TRUE(page.password().text().isEmpty());
    const QByteArray stored = TestSupport::readFile(h.dataFolder() + u"/credentials.json"_s);
    EXPECT_FALSE(stored.contains("right password"));
}

TEST(Welcome, WithoutAServiceConfigurationSaysSo)
{
    GuiHarness h;
    RootContentView& root = openWindow(h);
    signIn(root.welcome(), u"demo@example.com"_s, u"pw"_s);
    TestSupport::spinUntil([&] { return !root.welcome().busy(); });
    EXPECT_EQ(root.welcome().errorText(), u"读不到Mindvault配置"_s);
}

TEST(Welcome, ExpiredSessionSignsOutWithANotice)
{
    GuiHarness h(withService());
    TokenStore(h.dataFolder())
        .write({u"refresh-token-the-service-forgot"_s, u"demo@example.com"_s, u"org-dev"_s});
    RootContentView& root = openWindow(h);
    TestSupport::spinUntil([&] { return h.model().sessionNotice().has_value(); });
    EXPECT_EQ(h.model().sessionNotice(), u"登录已失效，请重新登录"_s);
    EXPECT_EQ(h.model().signedIn(), false);
    EXPECT_EQ(root.currentWidget(), &root.welcome());
    EXPECT_EQ(root.welcome().errorText(), u"登录已失效，请重新登录"_s);
    EXPECT_FALSE(QFile::exists(h.dataFolder() + u"/credentials.json"_s));
}

TEST(Welcome, StoredSignInSurvivesTheStartUpCheck)
{
    GuiHarness h(withService());
    // A sign-in made before the application started (the sign-in verb, or the last run).
    {
        Mindvault client(MindvaultConfig::load(h.archive() + u"/importer/mindvault.json"_s),
                         TokenStore(h.dataFolder()));
        TestSupport::run(client.signIn(u"demo@example.com"_s, u"right password"_s));
    }
    RootContentView& root = openWindow(h);
    EXPECT_EQ(h.model().signedIn(), true);
    // The engine's client connects at wiring while the window checks the sign-in: both must
    // end up trusting the one stored credential.
    TestSupport::spinUntil([&] { return h.model().vault() != nullptr; });
    TestSupport::spinUntil([] { return false; }, std::chrono::milliseconds(300));
    EXPECT_EQ(h.model().signedIn(), true);
    EXPECT_EQ(h.model().sessionNotice(), std::nullopt);
    EXPECT_EQ(root.currentWidget(), &root.main());
    EXPECT_TRUE(QFile::exists(h.dataFolder() + u"/credentials.json"_s));
    EXPECT_EQ(TestSupport::run(h.model().actions.checkSession()), Mindvault::AuthState::valid);
}

TEST(Welcome, KeyboardGoesBackToTheFieldThatNeedsInput)
{
    GuiHarness h;
    RootContentView& root = openWindow(h);
    ASSERT_EQ(root.currentWidget(), &root.welcome());
    QApplication::setActiveWindow(h.state().window());
    ASSERT_TRUE(QTest::qWaitForWindowActive(h.state().window()));
    WelcomeView& page = root.welcome();
    EXPECT_EQ(QApplication::focusWidget(), &page.email()); // nothing typed yet

    h.model().actions.signIn = [](QString, QString) -> QCoro::Task<AppActions::ErrorText> {
        co_await QCoro::sleepFor(std::chrono::milliseconds(20));
        co_return u"邮箱或密码不对"_s;
    };
    page.email().setText(u"demo@example.com"_s);
    page.password().setText(u"wrong"_s);
    QTest::keyClick(&page.password(), Qt::Key_Return);
    EXPECT_TRUE(page.signInButton().busy()); // the progress indicator beside "登录中"
    ASSERT_TRUE(TestSupport::spinUntil([&] { return !page.busy(); }));
    EXPECT_FALSE(page.signInButton().busy());
    EXPECT_EQ(QApplication::focusWidget(), &page.password()); // the e-mail is kept

    // Signed out from the main page: the control that had the keyboard went with it.
    h.model().setSignedIn(true);
    ASSERT_EQ(root.currentWidget(), &root.main());
    root.main().setFocus();
    h.model().actions.signOut();
    ASSERT_EQ(root.currentWidget(), &root.welcome());
    EXPECT_EQ(QApplication::focusWidget(), &page.password());
}

TEST(Welcome, StepsAreMarkedDoneAsTheyHappen)
{
    GuiHarness h; // not wired: the engine does nothing by itself
    WelcomeView page(h.model());
    const auto done = [&] {
        QList<bool> marks;
        for (QLabel* mark : page.findChildren<QLabel*>(u"stepDone"_s))
            marks << !mark->isHidden();
        return marks;
    };
    EXPECT_EQ(done(), (QList<bool>{false, false, false}));
    h.engine().setPhase(SyncPhase::waitingForDevice()); // the radio listens
    ASSERT_TRUE(TestSupport::spinUntil([&] { return done()[1]; }));
    EXPECT_EQ(done(), (QList<bool>{false, true, false}));
    DeviceInfo d;
    d.lastSeenAt = QDateTime::currentDateTime(); // the pen was heard
    h.engine().setDevice(d);
    h.engine().setPhase(SyncPhase::idle());
    ASSERT_TRUE(TestSupport::spinUntil([&] { return done()[2]; }));
    h.model().setSignedIn(true);
    EXPECT_EQ(done(), (QList<bool>{true, true, true}));
}
