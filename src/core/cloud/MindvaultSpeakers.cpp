// Mindvault: transcript and speaker table reads, and the speaker identity write.
#include "cloud/Mindvault.h"
#include "cloud/MindvaultError.h"
#include "cloud/MindvaultReplies.h"

using namespace Qt::Literals::StringLiterals;

namespace {

// Ids for an "in.(...)" filter, a bounded number per query: the URL would otherwise grow
// with the archive until the gateway refuses it.
QList<QStringList> batches(const QStringList& ids)
{
    QList<QStringList> out;
    for (qsizetype i = 0; i < ids.size(); i += Mindvault::idsPerQuery)
        out.append(ids.mid(i, Mindvault::idsPerQuery));
    return out;
}

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
    for (const QStringList& batch : batches(transcriptIds)) {
        const auto rows = co_await restGet(u"speakers?transcript_id=in.(" + batch.join(u',') +
                                           u")&confirmed=is.false&select=transcript_id");
        const QMap<QString, int> counted = MindvaultReplies::unconfirmedCounts(rows);
        for (auto it = counted.cbegin(); it != counted.cend(); ++it)
            counts[it.key()] += it.value();
    }
    co_return counts;
}

QCoro::Task<QMap<QString, QString>> Mindvault::transcriptTitles(QStringList ids)
{
    QMap<QString, QString> titles;
    for (const QStringList& batch : batches(ids)) {
        const auto rows =
            co_await restGet(u"transcripts?id=in.(" + batch.join(u',') + u")&select=id,title");
        titles.insert(MindvaultReplies::titles(rows));
    }
    co_return titles;
}

QCoro::Task<std::optional<QString>> Mindvault::transcriptTitle(QString id)
{
    co_return MindvaultReplies::firstTitle(
        co_await restGet(u"transcripts?id=eq." + id + u"&select=title"));
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
    co_return MindvaultReplies::samples(co_await segments(transcriptId));
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
    MindvaultReplies::assigned(json(r.status, r.data, u"写入说话人身份"_s), row.label);
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
