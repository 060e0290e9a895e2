// Mindvault: transcript and speaker table reads, and the speaker identity write.
#include "cloud/JsonFields.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultError.h"
#include "cloud/MindvaultReplies.h"

#include <algorithm>

using JsonFields::integer;
using namespace Qt::Literals::StringLiterals;

namespace {

nlohmann::json nullable(const std::optional<QString>& s)
{
    return s ? nlohmann::json(s->toStdString()) : nlohmann::json(nullptr);
}

} // namespace

QCoro::Task<QList<nlohmann::json>> Mindvault::restGet(QString path)
{
    const QString what = u"查询 " + path.section(u'?', 0, 0);
    const Response r = co_await authed("GET", gatewayBase() + u"/rest/v1/" + path,
                                       [this]() { return restHeaders(); });
    co_return MindvaultReplies::rows(json(r.status, r.data, what), what);
}

QCoro::Task<QMap<QString, int>> Mindvault::unconfirmedSpeakerCounts(QStringList transcriptIds)
{
    QMap<QString, int> counts;
    if (transcriptIds.isEmpty())
        co_return counts;
    const auto rows = co_await restGet(u"speakers?transcript_id=in.(" + transcriptIds.join(u',') +
                                       u")&confirmed=is.false&select=transcript_id");
    co_return MindvaultReplies::unconfirmedCounts(rows);
}

QCoro::Task<QMap<QString, QString>> Mindvault::transcriptTitles(QStringList ids)
{
    QMap<QString, QString> titles;
    if (ids.isEmpty())
        co_return titles;
    const auto rows =
        co_await restGet(u"transcripts?id=in.(" + ids.join(u',') + u")&select=id,title");
    co_return MindvaultReplies::titles(rows);
}

QCoro::Task<std::optional<QString>> Mindvault::transcriptTitle(QString id)
{
    const auto rows = co_await restGet(u"transcripts?id=eq." + id + u"&select=title");
    co_return MindvaultReplies::firstTitle(rows);
}

QCoro::Task<QList<SpeakerRow>> Mindvault::speakers(QString transcriptId)
{
    const auto rows = co_await restGet(
        u"speakers?transcript_id=eq." + transcriptId +
        u"&select=id,label,inferred_identity,confirmed,user_profile_id&order=label");
    co_return MindvaultReplies::speakers(rows);
}

QCoro::Task<QList<PersonProfile>> Mindvault::personProfiles(int limit)
{
    const auto rows = co_await restGet(
        u"user_profiles?select=id,display_name&order=display_name&limit=" + QString::number(limit));
    co_return MindvaultReplies::profiles(rows);
}

QCoro::Task<QList<ProjectEntry>> Mindvault::projects()
{
    const auto rows = co_await restGet(u"projects?select=id,name&order=updated_at.desc&limit=50"_s);
    co_return MindvaultReplies::projects(rows);
}

QCoro::Task<QList<TranscriptSegment>> Mindvault::segments(QString transcriptId)
{
    const auto rows = co_await restGet(u"transcripts?id=eq." + transcriptId + u"&select=segments");
    co_return MindvaultReplies::segments(rows);
}

QCoro::Task<QMap<QString, SpeakerSample>> Mindvault::speakerSamples(QString transcriptId)
{
    const QList<TranscriptSegment> all = co_await segments(transcriptId);
    co_return MindvaultReplies::samples(all);
}

QCoro::Task<std::optional<QString>> Mindvault::recordingSessionId(QString transcriptId)
{
    if (auto cached = m_sessionIdCache.constFind(transcriptId); cached != m_sessionIdCache.cend())
        co_return *cached;
    const auto rows = co_await restGet(u"recording_sessions?final_transcript_id=eq." +
                                       transcriptId + u"&select=id&limit=1");
    const auto id = MindvaultReplies::firstId(rows);
    if (id)
        m_sessionIdCache.insert(transcriptId, *id);
    co_return id;
}

QCoro::Task<> Mindvault::assignSpeaker(QString transcriptId, SpeakerRow row, QString identity,
                                       std::optional<QString> profile)
{
    const auto sessionId = co_await recordingSessionId(transcriptId);
    if (!sessionId) {
        co_await assignSpeakerDirect(row.id, identity, profile);
        co_return;
    }
    nlohmann::json assignment = {{"label", row.label.toStdString()},
                                 {"name", identity.toStdString()}};
    if (profile)
        assignment["profileId"] = profile->toStdString();
    const nlohmann::json assignments = {{"assignments", {assignment}}};
    const Response r = co_await authed(
        "PATCH", m_config.apiBase + u"/api/recordings/" + *sessionId + u"/speakers",
        [this]() { return authHeaders(); }, assignments);

    if (r.status == 404 && r.data.contains("SESSION_NOT_FOUND")) {
        co_await assignSpeakerDirect(row.id, identity, profile);
        co_return;
    }
    if (r.status == 409 && r.data.contains("已经分析过"))
        throw MindvaultError::alreadyAnalyzed();
    const nlohmann::json reply = json(r.status, r.data, u"写入说话人身份"_s);
    if (integer(reply, "updated") == 0)
        throw MindvaultError::badResponse(u"Mindvault没找到标签「" + row.label +
                                          u"」，这条没写进去");
}

QCoro::Task<> Mindvault::assignSpeakerDirect(QString rowId, std::optional<QString> identity,
                                             std::optional<QString> profile)
{
    const nlohmann::json change = {{"confirmed", true},
                                   {"inferred_identity", nullable(identity)},
                                   {"user_profile_id", nullable(profile)}};
    const Response r = co_await authed(
        "PATCH", gatewayBase() + u"/rest/v1/speakers?id=eq." + rowId,
        [this]() { return restHeaders(); }, change);
    if (r.status < 400)
        co_return;
    if (r.data.contains(canonicalGuardCode) || r.data.contains("service-role write only"))
        throw MindvaultError::canonicalReadOnly();
    throw MindvaultError::http(u"写入说话人身份"_s, r.status, QString::fromUtf8(r.data));
}
