// Mindvault: transcript and speaker table reads, and the speaker identity write.
#include "cloud/JsonFields.h"
#include "cloud/Mindvault.h"
#include "cloud/MindvaultError.h"

#include <algorithm>

using JsonFields::integer;
using JsonFields::string;
using namespace Qt::Literals::StringLiterals;

namespace {

// Placeholder titles the service gives before a real one exists are not worth showing.
std::optional<QString> shownTitle(const std::optional<QString>& title)
{
    if (!title || title->isEmpty() || title->startsWith(u"note2"))
        return std::nullopt;
    return title;
}

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
    const nlohmann::json rows = json(r.status, r.data, what);
    if (!rows.is_array())
        throw MindvaultError::badResponse(what + u" 没有返回数组");
    QList<nlohmann::json> out;
    for (const auto& row : rows)
        if (row.is_object())
            out.append(row);
    co_return out;
}

QCoro::Task<QMap<QString, int>> Mindvault::unconfirmedSpeakerCounts(QStringList transcriptIds)
{
    QMap<QString, int> counts;
    for (const QStringList& batch : batches(transcriptIds)) {
        const auto rows = co_await restGet(u"speakers?transcript_id=in.(" + batch.join(u',') +
                                           u")&confirmed=is.false&select=transcript_id");
        for (const auto& row : rows)
            if (auto id = string(row, "transcript_id"))
                ++counts[*id];
    }
    co_return counts;
}

QCoro::Task<QMap<QString, QString>> Mindvault::transcriptTitles(QStringList ids)
{
    QMap<QString, QString> titles;
    for (const QStringList& batch : batches(ids)) {
        const auto rows =
            co_await restGet(u"transcripts?id=in.(" + batch.join(u',') + u")&select=id,title");
        for (const auto& row : rows) {
            const auto id = string(row, "id");
            const auto title = shownTitle(string(row, "title"));
            if (id && title)
                titles.insert(*id, *title);
        }
    }
    co_return titles;
}

QCoro::Task<std::optional<QString>> Mindvault::transcriptTitle(QString id)
{
    const auto rows = co_await restGet(u"transcripts?id=eq." + id + u"&select=title");
    if (rows.isEmpty())
        co_return std::nullopt;
    co_return shownTitle(string(rows.front(), "title"));
}

QCoro::Task<QList<SpeakerRow>> Mindvault::speakers(QString transcriptId)
{
    const auto rows = co_await restGet(
        u"speakers?transcript_id=eq." + transcriptId +
        u"&select=id,label,inferred_identity,confirmed,user_profile_id&order=label");
    QList<SpeakerRow> out;
    for (const auto& row : rows) {
        const auto id = string(row, "id");
        const auto label = string(row, "label");
        if (!id || !label)
            continue;
        const auto confirmed = row.find("confirmed");
        out.append({*id, *label, string(row, "inferred_identity"),
                    confirmed != row.end() && confirmed->is_boolean() && confirmed->get<bool>(),
                    string(row, "user_profile_id")});
    }
    co_return out;
}

QCoro::Task<QList<PersonProfile>> Mindvault::personProfiles(int limit)
{
    const auto rows = co_await restGet(
        u"user_profiles?select=id,display_name&order=display_name&limit=" + QString::number(limit));
    QList<PersonProfile> out;
    for (const auto& row : rows) {
        const auto id = string(row, "id");
        const auto name = string(row, "display_name");
        if (id && name)
            out.append({*id, *name});
    }
    co_return out;
}

QCoro::Task<QList<ProjectEntry>> Mindvault::projects()
{
    const auto rows = co_await restGet(u"projects?select=id,name&order=updated_at.desc&limit=50"_s);
    QList<ProjectEntry> out;
    for (const auto& row : rows) {
        const auto id = string(row, "id");
        const auto name = string(row, "name");
        if (id && name)
            out.append({*id, *name});
    }
    co_return out;
}

QCoro::Task<QList<TranscriptSegment>> Mindvault::segments(QString transcriptId)
{
    const auto rows = co_await restGet(u"transcripts?id=eq." + transcriptId + u"&select=segments");
    QList<TranscriptSegment> out;
    if (rows.isEmpty() || !rows.front().contains("segments") ||
        !rows.front()["segments"].is_array())
        co_return out;
    int index = 0;
    for (const auto& item : rows.front()["segments"]) {
        const auto speaker = string(item, "speaker");
        const auto text = string(item, "text");
        const auto start = integer(item, "start_ms");
        const auto end = integer(item, "end_ms");
        if (speaker && text && start && end) {
            auto id = string(item, "id");
            if (!id)
                id = integer(item, "id").has_value() ? QString::number(*integer(item, "id"))
                                                     : QString::number(index);
            out.append({*id, *speaker, *text, *start, *end});
        }
        ++index;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.startMs < b.startMs; });
    co_return out;
}

QCoro::Task<QMap<QString, SpeakerSample>> Mindvault::speakerSamples(QString transcriptId)
{
    // The longest thing each speaker said shows the voice best; ties go to the earlier one.
    QMap<QString, TranscriptSegment> best;
    for (const auto& s : co_await segments(transcriptId)) {
        if (s.speaker.isEmpty() || s.text.trimmed().isEmpty())
            continue;
        auto it = best.find(s.speaker);
        if (it == best.end() || s.durationMs() > it->durationMs())
            best.insert(s.speaker, s);
    }
    QMap<QString, SpeakerSample> out;
    for (const auto& s : best)
        out.insert(s.speaker, {s.speaker, s.text, s.startMs});
    co_return out;
}

QCoro::Task<std::optional<QString>> Mindvault::recordingSessionId(QString transcriptId)
{
    if (auto cached = m_sessionIdCache.constFind(transcriptId); cached != m_sessionIdCache.cend())
        co_return *cached;
    const auto rows = co_await restGet(u"recording_sessions?final_transcript_id=eq." +
                                       transcriptId + u"&select=id&limit=1");
    if (rows.isEmpty())
        co_return std::nullopt;
    const auto id = string(rows.front(), "id");
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
