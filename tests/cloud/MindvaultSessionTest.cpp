#include "VaultFixture.h"
#include "cloud/NetworkError.h"

using namespace Qt::Literals::StringLiterals;
using AuthState = Mindvault::AuthState;

namespace {
class MindvaultSession : public VaultFixture {};
} // namespace

TEST_F(MindvaultSession, SignInStoresTheCredentialButNeverThePassword)
{
    auto c = config();
    c.supabaseUrl += u'/'; // sign-in tolerates one trailing slash
    vault = makeClient(c);
    TestSupport::run(vault->signIn(email, password));

    EXPECT_TRUE(vault->token().has_value());
    EXPECT_EQ(vault->org(), u"org-test"_s);
    const auto blob = store.read();
    EXPECT_TRUE(blob.refreshToken.has_value());
    EXPECT_EQ(blob.email, email);
    EXPECT_EQ(blob.orgId, u"org-test"_s);
    const QByteArray file = TestSupport::readFile(store.path());
    EXPECT_FALSE(file.contains(password.toUtf8()));
    EXPECT_FALSE(file.contains(vault->token()->toUtf8())); // the access token stays in memory

    vault->signOut();
    EXPECT_FALSE(QFile::exists(store.path()));
    EXPECT_FALSE(Mindvault::hasCredentials(store));
}

TEST_F(MindvaultSession, SignInFailuresSayWhy)
{
    EXPECT_EQ(errorOf(vault->signIn(email, u"wrong"_s)).description(),
              u"登录 失败 HTTP 400：邮箱或密码不对"_s);
    EXPECT_FALSE(QFile::exists(store.path()));

    server.addUser("lonely@example.com", "pw", "");
    EXPECT_EQ(errorOf(vault->signIn(u"lonely@example.com"_s, u"pw"_s)).description(),
              u"应答不符合预期：这个账号没有任何组织"_s);

    store.clear();
    EXPECT_EQ(errorOf(vault->connect()).kind(), MindvaultError::Kind::notLoggedIn);
    EXPECT_EQ(errorOf(vault->sessionState(u"rs-1"_s)).kind(), MindvaultError::Kind::notLoggedIn);
}

TEST_F(MindvaultSession, A401IsAnsweredByExactlyOneRefreshAndOneResend)
{
    Mindvault& v = signedIn();
    const auto before = store.get(u"refresh_token"_s);
    const QString url = config().apiBase + u"/api/recordings/rs-none"_s;
    const auto auth = [&v] {
        return v.authHeaders();
    };

    server.unauthorizedNext(1);
    auto r = TestSupport::run(v.authed("GET", url, auth));
    EXPECT_EQ(r.status, 404); // the resend reached the service
    EXPECT_EQ(server.requestCount("refresh"), 1);
    EXPECT_EQ(server.requestCount("status"), 2);
    EXPECT_NE(store.get(u"refresh_token"_s), before);

    // A second 401 goes back to the caller as a status; no second refresh.
    server.unauthorizedNext(2);
    r = TestSupport::run(v.authed("GET", url, auth));
    EXPECT_EQ(r.status, 401);
    EXPECT_EQ(server.requestCount("refresh"), 2);
    EXPECT_EQ(server.requestCount("status"), 4);

    // The access token expired: the refresh picks up a new one and the call goes through.
    server.expireAccessTokens();
    EXPECT_EQ(TestSupport::run(v.authed("GET", url, auth)).status, 404);
    EXPECT_EQ(server.requestCount("refresh"), 3);
}

TEST_F(MindvaultSession, RequestsMeetingTheSameExpiryShareOneRefresh)
{
    Mindvault& v = signedIn();
    server.expireAccessTokens();
    const QString url = config().apiBase + u"/api/recordings/rs-none"_s;
    const Mindvault::HeaderFn auth = [&v] {
        return v.authHeaders();
    };

    // Two flows (say the poller and a push) both get 401 for the expired token. Each spending
    // the rotating refresh token would make the second refresh look like a revoked sign-in.
    QList<int> statuses;
    const auto both = [&]() -> QCoro::Task<> {
        auto first = v.authed("GET", url, auth);
        auto second = v.authed("GET", url, auth);
        statuses.append((co_await std::move(first)).status);
        statuses.append((co_await std::move(second)).status);
    };
    TestSupport::run(both());

    EXPECT_EQ(statuses, QList<int>({404, 404}));
    EXPECT_EQ(server.requestCount("refresh"), 1);

    // A refused refresh reaches every flow as the revoked sign-in it is.
    server.expireAccessTokens();
    server.revokeRefreshTokens();
    QList<MindvaultError::Kind> kinds;
    const auto revoked = [&]() -> QCoro::Task<> {
        auto first = v.authed("GET", url, auth);
        auto second = v.authed("GET", url, auth);
        for (auto* task : {&first, &second}) {
            try {
                co_await std::move(*task);
            } catch (const MindvaultError& e) {
                kinds.append(e.kind());
            }
        }
    };
    TestSupport::run(revoked());
    EXPECT_EQ(kinds, QList<MindvaultError::Kind>({MindvaultError::Kind::sessionRevoked,
                                                  MindvaultError::Kind::sessionRevoked}));
}

TEST_F(MindvaultSession, RotatedRefreshTokenIsStoredAndTheOldOneIsDead)
{
    signedIn();
    const QString old = *store.get(u"refresh_token"_s);
    auto other = makeClient();
    TestSupport::run(other->connect());
    const QString rotated = *store.get(u"refresh_token"_s);
    EXPECT_NE(rotated, old);
    EXPECT_FALSE(other->credentialWriteFailed());
    EXPECT_EQ(store.get(u"email"_s), email); // rotation keeps the rest of the credential
    EXPECT_EQ(store.get(u"org_id"_s), u"org-test"_s);

    // Someone still holding the old token is refused.
    store.set(old, u"refresh_token"_s);
    EXPECT_EQ(errorOf(makeClient()->connect()).kind(), MindvaultError::Kind::sessionRevoked);
    store.set(rotated, u"refresh_token"_s);
    TestSupport::run(makeClient()->connect());
}

TEST_F(MindvaultSession, RevokedRefreshMakesTheSessionExpired)
{
    signedIn();
    server.revokeRefreshTokens(); // a sign-out on the web
    const MindvaultError e = errorOf(vault->connect());
    EXPECT_EQ(e.kind(), MindvaultError::Kind::sessionRevoked);
    EXPECT_EQ(e.description(),
              u"登录已失效——在网页或别的设备上点「退出登录」会连带让这里失效，重新登录一次即可"_s);
    EXPECT_TRUE(Mindvault::hasCredentials(store)); // kept until the user signs in again
    EXPECT_EQ(TestSupport::run(Mindvault::checkSession(config(), store, &nam)), AuthState::expired);
}

TEST_F(MindvaultSession, CheckSessionTellsExpiredFromUnreachable)
{
    signedIn();
    struct Case {
        const char* name;
        int refreshStatus; // 0: no fault
        AuthState expected;
    };
    for (const Case& c :
         {Case{"healthy", 0, AuthState::valid}, Case{"forbidden", 403, AuthState::expired},
          Case{"server error", 500, AuthState::unreachable}}) {
        SCOPED_TRACE(c.name);
        if (c.refreshStatus)
            server.failStep("refresh", c.refreshStatus);
        EXPECT_EQ(TestSupport::run(Mindvault::checkSession(config(), store, &nam)), c.expected);
    }

    server.failStep("refresh", 500);
    const MindvaultError e = errorOf(vault->connect());
    EXPECT_EQ(e.kind(), MindvaultError::Kind::http);
    EXPECT_EQ(e.whatText(), u"刷新登录"_s);
    EXPECT_EQ(e.status(), 500);

    MindvaultConfig nowhere{u"http://127.0.0.1:1"_s, u"http://127.0.0.1:1"_s, u"k"_s};
    EXPECT_THROW(TestSupport::run(makeClient(nowhere)->connect()), NetworkError);
    EXPECT_EQ(TestSupport::run(Mindvault::checkSession(nowhere, store, &nam)),
              AuthState::unreachable);
}

TEST_F(MindvaultSession, SigningInAsAnotherAccountResolvesItsOwnOrganisation)
{
    signedIn();
    ASSERT_EQ(store.get(u"org_id"_s), u"org-test"_s);
    server.addUser("second@example.com", "pw2", "org-second");

    auto other = makeClient();
    TestSupport::run(other->signIn(u"second@example.com"_s, u"pw2"_s));
    EXPECT_EQ(other->org(), u"org-second"_s);
    EXPECT_EQ(store.get(u"org_id"_s), u"org-second"_s);
    EXPECT_EQ(store.get(u"email"_s), u"second@example.com"_s);

    // The same account again keeps what it knows.
    const int lookups = server.requestCount("memberships");
    TestSupport::run(makeClient()->signIn(u"second@example.com"_s, u"pw2"_s));
    EXPECT_EQ(store.get(u"org_id"_s), u"org-second"_s);
    EXPECT_EQ(server.requestCount("memberships"), lookups);
}

TEST_F(MindvaultSession, ASignInThisComputerCannotKeepIsAFailure)
{
    // The credential folder cannot be created: a file stands where it would go.
    TestSupport::writeFile(store.folder(), "not a folder");
    const MindvaultError e = errorOf(vault->signIn(email, password));
    EXPECT_EQ(e.kind(), MindvaultError::Kind::credentialNotSaved);
    EXPECT_EQ(e.description(), u"登录凭据没能写进 "_s + store.path() +
                                   u"，这次登录没有生效：确认这个文件夹可以写入，再登录一次。"_s);
    EXPECT_FALSE(vault->token());
    EXPECT_FALSE(Mindvault::hasCredentials(store));
}

TEST_F(MindvaultSession, ATokenRotatedElsewhereWhileRefreshingIsNoRevocation)
{
    signedIn();
    const QString spent = *store.get(u"refresh_token"_s);
    TestSupport::run(makeClient()->connect()); // rotates: `spent` is dead now
    const QString current = *store.get(u"refresh_token"_s);

    // This client reads the old token and sends it; another process stores the current one
    // while the refresh is on the wire.
    store.set(spent, u"refresh_token"_s);
    auto refreshing = vault->connect();
    store.set(current, u"refresh_token"_s);
    TestSupport::run(std::move(refreshing));
    EXPECT_TRUE(vault->token());
    EXPECT_FALSE(vault->refusedRefreshToken());

    // A token that stays refused is recorded as the one refused.
    server.revokeRefreshTokens();
    const QString revoked = *store.get(u"refresh_token"_s);
    EXPECT_EQ(errorOf(vault->connect()).kind(), MindvaultError::Kind::sessionRevoked);
    EXPECT_EQ(vault->refusedRefreshToken(), revoked);
}

TEST_F(MindvaultSession, NoTokenReachesAnErrorText)
{
    signedIn();
    struct Case {
        const char* name;
        int status;
        nlohmann::json body;
    };
    const Case cases[] = {
        {"success without a refresh token", 200, {{"access_token", "at-leaked"}}},
        {"refusal echoing tokens", 500, {{"error", "boom"}, {"refresh_token", "rt-leaked"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        server.answerStep("refresh", c.status, c.body);
        const MindvaultError e = errorOf(makeClient()->connect());
        EXPECT_EQ(e.whatText(), u"刷新登录"_s);
        EXPECT_EQ(e.status(), c.status);
        EXPECT_FALSE(e.description().contains(u"leaked"_s)) << e.what();
    }

    // A reply beyond the client's limit is not read to its end.
    Mindvault::Timing small{5, 5, 4096};
    Mindvault limited(config(), store, &nam, small);
    TestSupport::run(limited.connect());
    server.answerStep("status", 200, {{"session", {{"pad", std::string(100000, 'x')}}}});
    const MindvaultError e = errorOf(limited.sessionState(u"rs-1"_s));
    EXPECT_EQ(e.kind(), MindvaultError::Kind::badResponse);
    EXPECT_TRUE(e.description().startsWith(u"应答不符合预期：应答超过"_s)) << e.what();
}
