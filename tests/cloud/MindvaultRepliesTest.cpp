#include "cloud/MindvaultReplies.h"

#include "cloud/JsonFields.h"
#include "cloud/MindvaultError.h"

#include <gtest/gtest.h>
#include <limits>

using namespace Qt::Literals::StringLiterals;
using Json = nlohmann::json;

TEST(MindvaultReplies, ACreatedSessionNeedsAnIdEvenWhenItIsAlreadyDone)
{
    struct Case {
        const char* reply;
        std::optional<QString> refusal; // badResponse detail, or absent when accepted
        bool alreadyDone;
        int expectedChunks;
    };
    const Case cases[] = {
        {R"({"session":{"id":"s1","status":"recording"}})", std::nullopt, false, 0},
        {R"({"session":{"id":"s1","status":"ready","expected_chunk_count":3}})", std::nullopt, true,
         3},
        // Hostile counts: no overflow, no negative chunk count.
        {R"({"session":{"id":"s1","status":"ready","expected_chunk_count":1e300}})", std::nullopt,
         true, 0},
        {R"({"session":{"id":"s1","status":"ready","expected_chunk_count":99999999999}})",
         std::nullopt, true, std::numeric_limits<int>::max()},
        {R"({"session":{"id":"s1","status":"ready","expected_chunk_count":-4}})", std::nullopt,
         true, 0},
        // "Already done" without an id would be an empty success, recorded and never followed.
        {R"({"session":{"status":"ready"}})", u"建会话没返回 id"_s, false, 0},
        {R"({"session":{"id":"","status":"processing"}})", u"建会话没返回 id"_s, false, 0},
        {R"({"session":{"id":5,"status":"recording"}})", u"建会话没返回 id"_s, false, 0},
        {R"({"session":[]})", u"建会话没返回 id"_s, false, 0},
        {R"([1,2])", u"建会话没返回 id"_s, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        const Json reply = Json::parse(c.reply);
        if (c.refusal) {
            try {
                MindvaultReplies::createdSession(reply);
                ADD_FAILURE() << "accepted";
            } catch (const MindvaultError& e) {
                EXPECT_EQ(e.kind(), MindvaultError::Kind::badResponse);
                EXPECT_EQ(e.whatText(), *c.refusal);
            }
            continue;
        }
        const auto session = MindvaultReplies::createdSession(reply);
        EXPECT_EQ(session.id, u"s1"_s);
        EXPECT_EQ(session.alreadyDone, c.alreadyDone);
        EXPECT_EQ(session.expectedChunks, c.expectedChunks);
    }
}

TEST(MindvaultReplies, IntegersOutsideTheRangeAreAbsent)
{
    const std::pair<const char*, std::optional<qint64>> cases[] = {
        {R"(42)", 42},
        {R"("42")", 42},
        {R"(" -7.9 ")", -7},
        {R"(3.99)", 3},
        {R"(-9223372036854775808)", std::numeric_limits<qint64>::min()},
        {R"(18446744073709551615)", std::nullopt},
        {R"(1e300)", std::nullopt},
        {R"(-1e19)", std::nullopt},
        {R"("1e300")", std::nullopt},
        {R"("nan")", std::nullopt},
        {R"("inf")", std::nullopt},
        {R"(true)", std::nullopt},
    };
    for (const auto& [value, expected] : cases) {
        SCOPED_TRACE(value);
        const Json obj = {{"n", Json::parse(value)}};
        EXPECT_EQ(JsonFields::integer(obj, "n"), expected);
    }
}

TEST(MindvaultReplies, SegmentsWithExtremeTimesStayWithinRange)
{
    const Json reply = Json::parse(R"([{"segments":[
        {"speaker":"S1","text":"a","start_ms":-9223372036854775808,"end_ms":9223372036854775807},
        {"speaker":"S1","text":"b","start_ms":0,"end_ms":9223372036854775807},
        {"speaker":"S2","text":"c","start_ms":"1e300","end_ms":5},
        {"speaker":"S2","text":"d","start_ms":0,"end_ms":10}]}])");
    const QList<TranscriptSegment> segments =
        MindvaultReplies::segments(MindvaultReplies::rows(reply, u"查询 transcripts"_s));
    ASSERT_EQ(segments.size(), 3); // the one with an impossible start is left out
    EXPECT_EQ(segments[0].durationMs(), std::numeric_limits<int64_t>::max());
    EXPECT_EQ(segments[0].id, u"0"_s);

    double sum = 0;
    for (const SpeakerShare& share : SpeakerStats::shares(segments)) {
        EXPECT_GE(share.fraction, 0);
        EXPECT_LE(share.fraction, 1);
        sum += share.fraction;
    }
    EXPECT_NEAR(sum, 1.0, 1e-9);
    EXPECT_EQ(MindvaultReplies::samples(segments).value(u"S1"_s).text, u"a"_s);
}
