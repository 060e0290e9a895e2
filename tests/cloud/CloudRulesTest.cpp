#include "cloud/MindvaultConfig.h"
#include "cloud/MindvaultError.h"
#include "cloud/Speakers.h"
#include "cloud/VaultFailure.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

TEST(VaultFailure, ClassifiesAndExplainsEveryCode)
{
    struct Case {
        std::optional<QString> code;
        bool retryable;
        bool noSpeech;
        QString explanation;
    };
    const Case cases[] = {
        {u"INVALID_ASR_TIMELINE"_s, false, true,
         u"转写没能识别出任何语音。这段录音里可能没有清晰人声（比如放在包里、只有环境噪音），重推同一份音频结果不会变。"_s},
        {u"ASR_NO_SPEECH"_s, false, true,
         u"这段录音里没有检测到人声，不是故障——多半是误按了录音键，或者笔放在包里。"_s},
        {u"PROVIDER_REJECTED"_s, false, false,
         u"转写服务拒绝了这份音频，多半是格式或时长不被支持。"_s},
        {u"ASR_TASK_EVIDENCE_MISSING"_s, false, false, u"转写任务丢了凭据，无法确认结果。"_s},
        {u"MANIFEST_INCOMPLETE"_s, false, false, u"分片清单不完整，音频没能拼齐。"_s},
        {u"OBJECT_MISMATCH"_s, false, false, u"Mindvault侧失败：OBJECT_MISMATCH"_s},
        {u"PROVIDER_UNAVAILABLE"_s, true, false, u"转写服务暂时不可用，属于临时故障，可以重推。"_s},
        {u"FINALIZATION_FAILED"_s, true, false, u"Mindvault收尾时出错，属于临时故障，可以重推。"_s},
        {u"INTERNAL_ERROR"_s, true, false, u"Mindvault收尾时出错，属于临时故障，可以重推。"_s},
        {u"SOMETHING_NEW"_s, true, false, u"Mindvault侧失败：SOMETHING_NEW"_s},
        {u""_s, true, false, u"Mindvault侧失败，原因未知。"_s},
        {std::nullopt, true, false, u"Mindvault侧失败，原因未知。"_s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code.value_or(u"<none>"_s).toStdString());
        EXPECT_EQ(VaultFailure::retryable(c.code), c.retryable);
        EXPECT_EQ(VaultFailure::isNoSpeech(c.code), c.noSpeech);
        EXPECT_EQ(VaultFailure::explain(c.code), c.explanation);
    }
}

TEST(MindvaultError, DescriptionsAreTheUserFacingSentences)
{
    const QString body1000 = QString(1000, u'x');
    const QString emoji = QString(199, u'a') + u"😀😀"_s; // a surrogate pair straddles 200
    const std::pair<MindvaultError, QString> cases[] = {
        {MindvaultError::notFound(u"查会话 rs-1"_s),
         u"查会话 rs-1：Mindvault里已经没有这条记录了"_s},
        {MindvaultError::http(u"建会话"_s, 500, body1000),
         u"建会话 失败 HTTP 500："_s + QString(200, u'x')},
        {MindvaultError::http(u"建会话"_s, 500, emoji),
         u"建会话 失败 HTTP 500："_s + QString(199, u'a') + u"😀"_s},
        {MindvaultError::http(u"登录"_s, 400, u"邮箱或密码不对"_s),
         u"登录 失败 HTTP 400：邮箱或密码不对"_s},
        {MindvaultError::badResponse(u"没有 session"_s), u"应答不符合预期：没有 session"_s},
        {MindvaultError::notLoggedIn(), u"尚未登录Mindvault"_s},
        {MindvaultError::sessionRevoked(),
         u"登录已失效——在网页或别的设备上点「退出登录」会连带让这里失效，重新登录一次即可"_s},
        {MindvaultError::canonicalReadOnly(),
         u"这条录音的说话人只能在Mindvault网页里指认——录音链路的数据是权威数据，客户端改不了。"_s},
        {MindvaultError::alreadyAnalyzed(),
         u"这条已经分析过了，改名要连洞察里的归属一起重挂，得在Mindvault网页里改。"_s},
    };
    for (const auto& [error, text] : cases)
        EXPECT_EQ(error.description(), text);
}

TEST(MindvaultConfig, RequiresAllThreeKeys)
{
    const auto config = MindvaultConfig::decode(
        R"({"apiBase":"https://a","supabaseUrl":"https://g/","supabaseAnonKey":"k","extra":1})");
    EXPECT_EQ(config, (MindvaultConfig{u"https://a"_s, u"https://g/"_s, u"k"_s}));
    EXPECT_EQ(MindvaultConfig::decode(config.encode()), config);

    for (const char* bad : {R"({"apiBase":"a","supabaseUrl":"g"})",
                            R"({"apiBase":"a","supabaseUrl":"g","supabaseAnonKey":3})", "[]", "{"})
        EXPECT_THROW(MindvaultConfig::decode(bad), MindvaultConfig::LoadError) << bad;
    EXPECT_THROW(MindvaultConfig::load(u"/nonexistent/mindvault.json"_s),
                 MindvaultConfig::LoadError);
}

TEST(SpeakerStats, SharesCountSpeakingTimeOfLabelledSegments)
{
    const QList<TranscriptSegment> segments = {
        {u"1"_s, u"S1"_s, u"a"_s, 0, 3000},
        {u"2"_s, u"S2"_s, u"b"_s, 3000, 4000},
        {u"3"_s, u"S1"_s, u"c"_s, 5000, 4000}, // ends before it starts: counts nothing
        {u"4"_s, u""_s, u"d"_s, 0, 9000},      // no label: not a speaker
    };
    EXPECT_EQ(segments[2].durationMs(), 0);
    const auto shares = SpeakerStats::shares(segments);
    ASSERT_EQ(shares.size(), 2);
    EXPECT_EQ(shares[0], (SpeakerShare{u"S1"_s, 3.0, 0.75}));
    EXPECT_EQ(shares[1], (SpeakerShare{u"S2"_s, 1.0, 0.25}));
}
