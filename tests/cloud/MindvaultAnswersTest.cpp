#include "VaultFixture.h"

using namespace Qt::Literals::StringLiterals;

namespace {
class MindvaultAnswers : public VaultFixture {};
} // namespace

// Every call that reads an answer, given one that is not JSON or not of the shape it needs:
// each ends in the sentence the user is shown, never in a crash or a success with nothing in it.
TEST_F(MindvaultAnswers, AnswersOfTheWrongKindBecomeErrors)
{
    signedIn();
    const QString session =
        TestSupport::run(vault->upload(QByteArray(100, 'a'), u"周会"_s, 90, u"mac-ble-answers"_s,
                                       u"audio/ogg"_s, QDateTime::currentDateTimeUtc()))
            .sessionId;
    const QString transcript = *TestSupport::run(vault->sessionState(session)).transcriptId;
    const SpeakerRow speaker = TestSupport::run(vault->speakers(transcript)).first();
    // Cached from here on, so a broken table answer below reaches only the read it is meant for.
    ASSERT_EQ(TestSupport::run(vault->recordingSessionId(transcript)), session);

    enum class Call { signIn, refresh, organisation, create, ticket, state, tableRead, assign };
    struct Case {
        Call call;
        const char* step;
        const char* body;
        QString expected;
    };
    const QString bad = u"应答不符合预期："_s;
    const Case cases[] = {
        {Call::signIn, "password", "<html>502</html>", u"登录 失败 HTTP 200：登录失败"_s},
        {Call::signIn, "password", R"({"access_token":"","refresh_token":"r"})",
         u"登录 失败 HTTP 200：登录失败"_s},
        {Call::refresh, "refresh", "",
         u"刷新登录 失败 HTTP 200：应答里缺少 access_token 或 refresh_token"_s},
        {Call::refresh, "refresh", R"([{"access_token":"a","refresh_token":"r"}])",
         u"刷新登录 失败 HTTP 200：应答里缺少 access_token 或 refresh_token"_s},
        {Call::organisation, "memberships", "org-test", bad + u"查询组织 的应答不是 JSON"_s},
        {Call::organisation, "memberships", R"({"org_id":"org-test"})",
         bad + u"这个账号没有任何组织"_s},
        {Call::organisation, "memberships", R"([{"org_id":""}])", bad + u"这个账号没有任何组织"_s},
        {Call::create, "create", "{\"session\":", bad + u"建会话 的应答不是 JSON"_s},
        {Call::create, "create", R"({"id":"rs-1","status":"recording"})",
         bad + u"建会话没返回 id"_s},
        {Call::ticket, "ticket", "https://cos.example/put",
         bad + u"申请上传地址 的应答不是 JSON"_s},
        {Call::ticket, "ticket", R"({"uploadUrl":["https://cos.example/put"]})",
         bad + u"ticket 没有 uploadUrl"_s},
        {Call::state, "status", "ready", bad + u"查会话 的应答不是 JSON"_s},
        {Call::state, "status", R"({"status":"ready"})", bad + u"没有 session"_s},
        {Call::tableRead, "rest", "\xff\xfe", bad + u"查询 speakers 的应答不是 JSON"_s},
        {Call::tableRead, "rest", R"({"rows":[]})", bad + u"查询 speakers 没有返回数组"_s},
        {Call::assign, "speakers", "ok", bad + u"写入说话人身份 的应答不是 JSON"_s},
        {Call::assign, "speakers", "[]", bad + u"写入说话人身份的应答里没有 updated"_s},
        {Call::assign, "speakers", R"({"updated":0})",
         bad + u"Mindvault没找到标签「S1」，这条没写进去"_s},
    };
    int upload = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.step) + " answering " + c.body);
        server.answerStepRaw(c.step, 200, c.body);
        const auto push = [&] {
            return vault->upload(QByteArray(10, 'b'), u"t"_s, 1,
                                 u"mac-ble-bad-"_s + QString::number(upload++), u"audio/ogg"_s,
                                 QDateTime::currentDateTimeUtc());
        };
        MindvaultError e = MindvaultError::notLoggedIn();
        switch (c.call) {
        case Call::signIn:
            e = errorOf(vault->signIn(email, password));
            break;
        case Call::refresh:
            e = errorOf(vault->connect());
            break;
        case Call::organisation:
            store.clear(); // no organisation on record: the sign-in asks for it
            e = errorOf(vault->signIn(email, password));
            break;
        case Call::create:
        case Call::ticket:
            e = errorOf(push());
            break;
        case Call::state:
            e = errorOf(vault->sessionState(session));
            break;
        case Call::tableRead:
            e = errorOf(vault->speakers(transcript));
            break;
        case Call::assign:
            e = errorOf(vault->assignSpeaker(transcript, speaker, u"王小明"_s, std::nullopt));
            break;
        }
        EXPECT_EQ(e.description(), c.expected);
    }
}
