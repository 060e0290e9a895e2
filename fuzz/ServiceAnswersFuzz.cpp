// Any body as the service's answer to every call that reads one: sign-in, organisation, session
// creation, upload ticket, session state, device registration, table and speaker reads, speaker
// writes. The client reads its answers only through these readers. A body that is not what was
// expected is a badResponse, never a crash or an empty success.
#include "FuzzCheck.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultError.h"
#include "cloud/MindvaultReplies.h"

#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

// Runs one reader that may refuse the answer; only a badResponse is a refusal.
template <typename F> void refusedOrRead(F read)
{
    try {
        read();
    } catch (const MindvaultError& e) {
        FUZZ_CHECK(e.kind() == MindvaultError::Kind::badResponse);
        FUZZ_CHECK(!e.description().isEmpty());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray body = fuzzBytes(data, size);
    if (const auto granted = MindvaultReplies::tokens(body))
        FUZZ_CHECK(!granted->access.isEmpty() && !granted->refresh.isEmpty());
    MindvaultReplies::errorCode(body);
    try {
        Mindvault::json(500, body, u"查会话"_s);
        FUZZ_CHECK(false);
    } catch (const MindvaultError& e) {
        FUZZ_CHECK(e.kind() == MindvaultError::Kind::http && e.status() == 500);
    }

    nlohmann::json reply;
    try {
        reply = Mindvault::json(200, body, u"查会话"_s);
    } catch (const MindvaultError& e) {
        FUZZ_CHECK(e.kind() == MindvaultError::Kind::badResponse);
        return 0;
    }

    if (const auto org = MindvaultReplies::firstOrg(reply))
        FUZZ_CHECK(!org->isEmpty());
    MindvaultReplies::uploadUrl(reply);
    refusedOrRead([&] {
        const auto session = MindvaultReplies::createdSession(reply);
        FUZZ_CHECK(!session.id.isEmpty());
        FUZZ_CHECK(session.status != u"failed");
        FUZZ_CHECK(!session.alreadyDone ||
                   (session.status != u"recording" && session.status != u"uploading"));
        FUZZ_CHECK(session.expectedChunks >= 0);
    });
    refusedOrRead([&] { MindvaultReplies::assigned(reply, u"S1"_s); });
    refusedOrRead([&] {
        const SessionState state = MindvaultReplies::sessionState(reply);
        FUZZ_CHECK(!state.status.isNull());
    });
    refusedOrRead([&] {
        const QList<nlohmann::json> rows = MindvaultReplies::rows(reply, u"查询 speakers"_s);
        for (const auto& row : rows)
            FUZZ_CHECK(row.is_object());
        MindvaultReplies::unconfirmedCounts(rows);
        MindvaultReplies::titles(rows);
        MindvaultReplies::firstTitle(rows);
        MindvaultReplies::speakers(rows);
        MindvaultReplies::profiles(rows);
        MindvaultReplies::projects(rows);
        MindvaultReplies::firstId(rows);

        const QList<TranscriptSegment> segments = MindvaultReplies::segments(rows);
        for (qsizetype i = 0; i < segments.size(); ++i) {
            FUZZ_CHECK(segments[i].durationMs() >= 0);
            FUZZ_CHECK(i == 0 || segments[i - 1].startMs <= segments[i].startMs);
        }
        const auto samples = MindvaultReplies::samples(segments);
        for (auto it = samples.cbegin(); it != samples.cend(); ++it)
            FUZZ_CHECK(it.key() == it->label && !it->text.trimmed().isEmpty());
        double sum = 0;
        for (const SpeakerShare& share : SpeakerStats::shares(segments)) {
            FUZZ_CHECK(share.seconds >= 0 && share.fraction >= 0 && share.fraction <= 1);
            sum += share.fraction;
        }
        FUZZ_CHECK(sum <= 1 + 1e-9);
    });
    return 0;
}
