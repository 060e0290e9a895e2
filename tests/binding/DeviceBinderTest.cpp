// Binding the pen to the signed-in organisation: the binding file, the registration request and
// the binder inside real rounds against the virtual pen and the stand-in service.

#include "cloud/DeviceBinder.h"

#include "EngineHarness.h"
#include "VaultFixture.h"
#include "cloud/DeviceBinding.h"
#include "support/TestSupport.h"

#include <QFile>
#include <QRegularExpression>
#include <algorithm>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString penName = u"QX27-7A01"_s;
const QString defaultNo = u"C01122-testhost"_s; // the pen's address C0:11:22:33:44:55

class DeviceBinderTest : public VaultFixture {
protected:
    DeviceBinderTest()
    {
        h.pen().addFile(u"20260301-090000.opus"_s, VirtualPen::generatePackets(40, 1));
        makeBinder({});
    }

    void makeBinder(std::function<int()> randomSuffix, bool acceptRebind = false)
    {
        binder.reset();
        binder.emplace(h.engine(), provider, store,
                       DeviceBinder::Options{u"testhost"_s, std::move(randomSuffix), acceptRebind});
        binder->install();
    }

    // Signs the fixture's client in and hands it to the binder.
    void signIn()
    {
        signedIn();
        provided = vault.get();
    }

    bool imported() const { return !h.manifest().imported.empty(); }
    std::optional<DeviceBinding::Binding> bound()
    {
        return binder->bindings().binding(h.pen().address());
    }

    EngineHarness h;
    Mindvault* provided = nullptr;
    VaultProvider provider = [this]() -> QCoro::Task<Mindvault*> {
        co_return provided;
    };
    std::optional<DeviceBinder> binder;
};

} // namespace

TEST(DeviceBindingFile, KeepsOtherPensAndReadsBrokenFilesAsUnbound)
{
    QTemporaryDir dir;
    const DeviceBinding file(dir.path() + u"/Mindvault"_s);
    EXPECT_FALSE(file.binding(u"A"_s)); // no file yet

    file.bind(u"A"_s, u"org-1"_s, u"a@example.com"_s, u"no-a"_s);
    file.bind(u"B"_s, u"org-2"_s, u"b@example.com"_s, u"no-b"_s);
    file.bind(u"A"_s, u"org-3"_s, u"a@example.com"_s, u"no-a2"_s);
    EXPECT_EQ(file.binding(u"A"_s),
              (DeviceBinding::Binding{u"org-3"_s, u"a@example.com"_s, u"no-a2"_s}));
    EXPECT_EQ(file.binding(u"B"_s),
              (DeviceBinding::Binding{u"org-2"_s, u"b@example.com"_s, u"no-b"_s}));
    const auto stored = nlohmann::json::parse(TestSupport::readFile(file.path()).toStdString());
    EXPECT_EQ(
        stored["B"],
        (nlohmann::json{{"orgId", "org-2"}, {"email", "b@example.com"}, {"deviceNo", "no-b"}}));

    // An entry of the wrong shape drops out alone; a file that is not JSON holds nothing.
    QFile f(file.path());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(R"({"A": {"orgId": "o", "email": "e"}, "B": {"orgId": "o", "email": "e",
               "deviceNo": "n"}})");
    f.close();
    EXPECT_FALSE(file.binding(u"A"_s));
    EXPECT_TRUE(file.binding(u"B"_s));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("{not json");
    f.close();
    EXPECT_FALSE(file.binding(u"B"_s));
    file.bind(u"C"_s, u"o"_s, u"e"_s, u"n"_s);
    EXPECT_TRUE(file.binding(u"C"_s));
}

TEST_F(VaultFixture, SelfRegisterOutcomes)
{
    Mindvault& client = signedIn();
    server.takeDeviceNo("someone-elses");
    const auto outcome = [&](const QString& no) {
        return TestSupport::run(client.selfRegisterDevice(u"qx27"_s, no));
    };

    EXPECT_EQ(outcome(u"pen-1"_s), DeviceBindOutcome::ok());
    EXPECT_EQ(outcome(u"pen-1"_s), DeviceBindOutcome::ok()); // the same organisation again
    EXPECT_EQ(outcome(u"someone-elses"_s), DeviceBindOutcome::deviceTaken());
    EXPECT_EQ(outcome(u"a b"_s),
              DeviceBindOutcome::failed(u"这个名字里有空格或特殊字符，换一个"_s));
    server.failStep("register", 403);
    EXPECT_EQ(outcome(u"pen-2"_s), DeviceBindOutcome::unauthorized());
    server.failStep("register", 500);
    EXPECT_EQ(outcome(u"pen-2"_s), DeviceBindOutcome::failed(u"绑定失败（HTTP 500）"_s));

    // Nothing is thrown, whatever happens before an answer.
    auto unconnected = makeClient();
    EXPECT_EQ(TestSupport::run(unconnected->selfRegisterDevice(u"qx27"_s, u"pen-3"_s)),
              DeviceBindOutcome::failed(u"尚未登录Mindvault"_s));
    server.revokeRefreshTokens();
    server.unauthorizedNext();
    EXPECT_EQ(outcome(u"pen-3"_s),
              DeviceBindOutcome::failed(MindvaultError::sessionRevoked().description()));
    MindvaultConfig nowhere = config();
    nowhere.apiBase = u"http://127.0.0.1:1"_s;
    auto unreachable = makeClient(nowhere);
    TestSupport::run(unreachable->signIn(email, password));
    const DeviceBindOutcome down =
        TestSupport::run(unreachable->selfRegisterDevice(u"qx27"_s, u"pen-4"_s));
    EXPECT_TRUE(down.is(DeviceBindOutcome::Kind::failed));
    EXPECT_FALSE(down.reason().isEmpty());
}

TEST_F(DeviceBinderTest, NotSignedInSkipsTheCheckAndTheRoundGoesOn)
{
    provided = vault.get(); // a client, but no credential
    h.round();
    EXPECT_TRUE(h.logged(u"绑定检查跳过：还没登录，先只下载不做账号核对"_s));
    EXPECT_TRUE(imported());
    EXPECT_EQ(server.requestCount("register"), 0);
    EXPECT_FALSE(bound());
}

TEST_F(DeviceBinderTest, FirstSightRegistersTheDefaultNumberOnce)
{
    signedIn();
    // Signed in but the service cannot be reached: the round goes on, binding waits.
    h.round();
    EXPECT_TRUE(
        h.logged(u"首次绑定「"_s + penName +
                 u"」暂时跳过：Mindvault接不通（登录可能失效了），本轮先同步，下次连接再试绑定"_s));
    EXPECT_TRUE(imported());
    EXPECT_FALSE(bound());

    EXPECT_FALSE(h.engine().device().bindingName);

    provided = vault.get();
    h.round();
    EXPECT_EQ(bound(), (DeviceBinding::Binding{u"org-test"_s, email, defaultNo}));
    EXPECT_EQ(h.engine().device().bindingName, defaultNo); // the window shows it
    EXPECT_TRUE(h.logged(u"首次绑定「"_s + penName + u"」到当前账号「"_s + email +
                         u"」，命名为「"_s + defaultNo + u"」"_s));
    h.round();
    EXPECT_EQ(server.requestCount("register"), 1);
}

TEST_F(DeviceBinderTest, SameOrganisationUnderAnotherEmailPasses)
{
    signIn();
    binder->bindings().bind(h.pen().address(), u"org-test"_s, u"colleague@example.com"_s,
                            u"old-no"_s);
    h.round();
    EXPECT_TRUE(imported());
    EXPECT_FALSE(h.engine().pendingBindMismatch());
    EXPECT_EQ(server.requestCount("register"), 0);
    EXPECT_EQ(bound()->email, u"colleague@example.com"_s);
    EXPECT_EQ(h.engine().device().bindingName, u"old-no"_s);
}

TEST_F(DeviceBinderTest, OtherOrganisationBlocksTheRoundUntilConfirmed)
{
    signIn();
    binder->bindings().bind(h.pen().address(), u"org-old"_s, u"old@example.com"_s, u"C01122-old"_s);
    const BindMismatch expected{h.pen().address(), penName, u"old@example.com"_s, email};
    const QString blocked = u"拦下同步：「"_s + penName +
                            u"」上次同步到「old@example.com」，现在登录的是「"_s + email +
                            u"」——打开「设备」页确认后才会继续同步"_s;

    h.round();
    EXPECT_EQ(h.engine().pendingBindMismatch(), expected);
    EXPECT_TRUE(h.importRequests().isEmpty());
    EXPECT_FALSE(h.engine().device().bindingName); // another account's number is not shown
    EXPECT_FALSE(imported());
    EXPECT_TRUE(h.logged(blocked));
    EXPECT_EQ(h.engine().phase().label(),
              u"失败："_s + penName + u" 绑定的账号跟当前登录的不一致，等待人手确认"_s);
    ASSERT_EQ(h.notes().size(), 1);
    EXPECT_EQ(h.notes()[0].title, u"Mindvault · 需要确认"_s);
    EXPECT_EQ(h.notes()[0].body,
              u"「"_s + penName + u"」上次绑的是别的账号，打开Mindvault确认后才会继续同步"_s);

    // Seen again: blocked and logged again, but the user is told once while the question stands.
    h.round();
    EXPECT_EQ(h.loggedCount(blocked), 2);
    EXPECT_EQ(h.notes().size(), 1);
    // Dismissed: the binding stands, so the next sighting asks (and notifies) again.
    binder->dismissBindMismatch();
    EXPECT_FALSE(h.engine().pendingBindMismatch());
    h.round();
    EXPECT_EQ(h.engine().pendingBindMismatch(), expected);
    EXPECT_EQ(h.notes().size(), 2);
    EXPECT_FALSE(imported());

    // A taken name is refused and the question stays.
    server.takeDeviceNo("taken-no");
    EXPECT_FALSE(TestSupport::run(binder->resolveBindMismatch(u"taken-no"_s)));
    EXPECT_TRUE(h.logged(u"换绑「"_s + penName + u"」失败：这个名字已被占用"_s));
    EXPECT_TRUE(h.engine().pendingBindMismatch());

    // Confirmed under the old number: rebound to the signed-in account, next round goes through.
    EXPECT_TRUE(TestSupport::run(binder->resolveBindMismatch()));
    EXPECT_FALSE(h.engine().pendingBindMismatch());
    EXPECT_EQ(bound(), (DeviceBinding::Binding{u"org-test"_s, email, u"C01122-old"_s}));
    EXPECT_TRUE(
        h.logged(u"确认换绑「"_s + penName + u"」到「"_s + email + u"」，命名为「C01122-old」"_s));
    EXPECT_FALSE(h.engine().phase().is(SyncPhase::Kind::Failed));
    EXPECT_EQ(h.engine().device().bindingName, u"C01122-old"_s);
    h.round();
    EXPECT_TRUE(imported());
}

TEST_F(DeviceBinderTest, AStationThatAcceptsRebindsSyncsInTheSameRound)
{
    makeBinder({}, /*acceptRebind=*/true);
    signIn();
    binder->bindings().bind(h.pen().address(), u"org-old"_s, u"old@example.com"_s, u"C01122-old"_s);

    h.round();
    EXPECT_TRUE(imported());
    EXPECT_FALSE(h.engine().pendingBindMismatch());
    EXPECT_EQ(bound(), (DeviceBinding::Binding{u"org-test"_s, email, u"C01122-old"_s}));
    EXPECT_TRUE(
        h.logged(u"确认换绑「"_s + penName + u"」到「"_s + email + u"」，命名为「C01122-old」"_s));
    EXPECT_EQ(h.loggedCount(u"拦下同步："_s), 0);
    EXPECT_TRUE(std::none_of(h.notes().cbegin(), h.notes().cend(),
                             [](const auto& n) { return n.title == u"Mindvault · 需要确认"_s; }));

    // When the rebind itself fails, the round stops with the question as usual.
    binder->bindings().bind(h.pen().address(), u"org-old"_s, u"old@example.com"_s, u"taken-no"_s);
    server.takeDeviceNo("taken-no");
    h.pen().addFile(u"20260301-100000.opus"_s, VirtualPen::generatePackets(40, 2));
    h.round();
    EXPECT_TRUE(h.engine().pendingBindMismatch());
    EXPECT_EQ(h.loggedCount(u"拦下同步："_s), 1);
    EXPECT_EQ(h.manifest().imported.size(), 1u);
}

TEST_F(DeviceBinderTest, TakenNumberLeadsToAtMostTwoAlternates)
{
    const QRegularExpression suffixed(u"^"_s + defaultNo + u"-[1-9][0-9]{2}$"_s);
    signIn();
    server.takeDeviceNo(defaultNo.toStdString());

    // The real random source: the first alternate is free.
    h.round();
    ASSERT_TRUE(bound());
    EXPECT_TRUE(suffixed.match(bound()->deviceNo).hasMatch()) << bound()->deviceNo.toStdString();
    EXPECT_TRUE(h.logged(u"首次绑定「"_s + penName + u"」到「"_s + email + u"」，命名为「"_s +
                         bound()->deviceNo + u"」（原名字被占用）"_s));
    EXPECT_EQ(server.requestCount("register"), 2);

    // Every alternate taken: two of them are tried, then the round goes on unbound.
    binder->bindings().writeAll({});
    server.takeDeviceNo(QString(defaultNo + u"-123"_s).toStdString());
    server.takeDeviceNo(QString(defaultNo + u"-456"_s).toStdString());
    QList<int> draws{123, 456, 789};
    makeBinder([&draws] { return draws.takeFirst(); });
    h.round();
    EXPECT_EQ(server.requestCount("register"), 5);
    EXPECT_EQ(draws, QList<int>{789});
    EXPECT_FALSE(bound());
    EXPECT_TRUE(h.logged(u"绑定「"_s + penName +
                         u"」失败：换名后仍不成——这个名字已被占用。本轮跳过绑定，照常同步"_s));
    EXPECT_EQ(h.manifest().imported.size(), 1u);
}

TEST_F(DeviceBinderTest, RenameRegistersTheNewNumberFirst)
{
    const auto rename = [&](const QString& to) {
        return TestSupport::run(binder->renameDevice(to));
    };
    const auto refused = [&](const QString& to) {
        return rename(to).why;
    };
    signIn();
    EXPECT_EQ(refused(u"new"_s), u"还没连上这支笔，连上之后才能改名"_s);
    h.round();
    ASSERT_TRUE(bound());
    const int registered = server.requestCount("register");

    EXPECT_EQ(refused(u"   "_s), u"名字不能是空的"_s);
    EXPECT_EQ(server.requestCount("register"), registered);
    EXPECT_EQ(refused(u"a/b"_s), u"这个名字里有空格或特殊字符，换一个"_s);
    EXPECT_TRUE(h.logged(u"改名失败「"_s + defaultNo +
                         u"」→「a/b」：这个名字里有空格或特殊字符，换一个"_s));
    server.takeDeviceNo("taken-no");
    EXPECT_EQ(refused(u"taken-no"_s), u"这个名字已被占用"_s);
    EXPECT_EQ(bound()->deviceNo, defaultNo);
    EXPECT_EQ(h.engine().device().bindingName, defaultNo);

    const DeviceBinder::RenameResult done = rename(u"  会议室 笔 "_s);
    EXPECT_TRUE(done.ok);
    EXPECT_EQ(done.why, QString());
    EXPECT_EQ(bound(), (DeviceBinding::Binding{u"org-test"_s, email, u"会议室-笔"_s}));
    EXPECT_EQ(h.engine().device().bindingName, u"会议室-笔"_s);
    EXPECT_TRUE(h.logged(u"改名「"_s + defaultNo + u"」→「会议室-笔」"_s));

    provided = nullptr;
    EXPECT_EQ(refused(u"other"_s), u"连不上Mindvault，改名要登记到服务端才算数"_s);
}
