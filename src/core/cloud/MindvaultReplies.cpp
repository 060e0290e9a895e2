#include "cloud/MindvaultReplies.h"

#include "cloud/JsonFields.h"
#include "cloud/MindvaultError.h"

#include <algorithm>
#include <limits>

using JsonFields::integer;
using JsonFields::string;
using namespace Qt::Literals::StringLiterals;

namespace MindvaultReplies {

namespace {

// Placeholder titles the service gives before a real one exists are not worth showing.
std::optional<QString> shownTitle(const std::optional<QString>& title)
{
    if (!title || title->isEmpty() || title->startsWith(u"note2"))
        return std::nullopt;
    return title;
}

} // namespace

std::optional<Tokens> tokens(const QByteArray& data)
{
    const auto reply = JsonFields::parse(data);
    if (!reply)
        return std::nullopt;
    auto access = string(*reply, "access_token");
    auto refresh = string(*reply, "refresh_token");
    // An empty token is no grant: it would be sent, refused and spent on a refresh that cannot
    // succeed.
    if (!access || !refresh || access->isEmpty() || refresh->isEmpty())
        return std::nullopt;
    return Tokens{std::move(*access), std::move(*refresh)};
}

std::optional<QString> firstOrg(const nlohmann::json& rows)
{
    if (!rows.is_array() || rows.empty())
        return std::nullopt;
    // An empty id names no organisation: every request made under it would be refused.
    auto org = string(rows.front(), "org_id");
    if (org && org->isEmpty())
        return std::nullopt;
    return org;
}

CreatedSession createdSession(const nlohmann::json& reply)
{
    const auto it = reply.is_object() ? reply.find("session") : reply.end();
    const nlohmann::json session = it != reply.end() ? *it : nlohmann::json();
    const auto id = string(session, "id");
    const auto status = string(session, "status");

    if (status == u"failed")
        throw MindvaultError::badResponse(
            u"Mindvault那边这条会话是 failed 状态（" + id.value_or(QString()) +
            u"）。它挡着重传——换一个幂等键重推，或先在Mindvault里删掉这条会话。");
    // Checked before "already done" too: a finished session without an id would be recorded as
    // pushed under an empty id and could never be followed.
    if (!id || id->isEmpty())
        throw MindvaultError::badResponse(u"建会话没返回 id"_s);
    CreatedSession out{*id, status.value_or(QString())};
    if (status && *status != u"recording" && *status != u"uploading") {
        out.alreadyDone = true;
        const qint64 expected = integer(session, "expected_chunk_count").value_or(0);
        out.expectedChunks = int(std::clamp<qint64>(expected, 0, std::numeric_limits<int>::max()));
    }
    return out;
}

std::optional<QString> uploadUrl(const nlohmann::json& reply)
{
    return string(reply, "uploadUrl");
}

SessionState sessionState(const nlohmann::json& reply)
{
    const auto it = reply.is_object() ? reply.find("session") : reply.end();
    if (it == reply.end() || !it->is_object())
        throw MindvaultError::badResponse(u"没有 session"_s);
    return SessionState{string(*it, "status").value_or(u"未知"_s),
                        string(*it, "final_transcript_id"), string(*it, "last_error_code")};
}

std::optional<QString> errorCode(const QByteArray& data)
{
    const auto reply = JsonFields::parse(data);
    return reply ? string(*reply, "error") : std::nullopt;
}

QList<nlohmann::json> rows(const nlohmann::json& reply, const QString& what)
{
    if (!reply.is_array())
        throw MindvaultError::badResponse(what + u" 没有返回数组");
    QList<nlohmann::json> out;
    for (const auto& row : reply)
        if (row.is_object())
            out.append(row);
    return out;
}

QMap<QString, int> unconfirmedCounts(const QList<nlohmann::json>& rows)
{
    QMap<QString, int> counts;
    for (const auto& row : rows)
        if (auto id = string(row, "transcript_id"))
            ++counts[*id];
    return counts;
}

QMap<QString, QString> titles(const QList<nlohmann::json>& rows)
{
    QMap<QString, QString> out;
    for (const auto& row : rows) {
        const auto id = string(row, "id");
        const auto title = shownTitle(string(row, "title"));
        if (id && title)
            out.insert(*id, *title);
    }
    return out;
}

std::optional<QString> firstTitle(const QList<nlohmann::json>& rows)
{
    if (rows.isEmpty())
        return std::nullopt;
    return shownTitle(string(rows.front(), "title"));
}

QList<SpeakerRow> speakers(const QList<nlohmann::json>& rows)
{
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
    return out;
}

QList<PersonProfile> profiles(const QList<nlohmann::json>& rows)
{
    QList<PersonProfile> out;
    for (const auto& row : rows) {
        const auto id = string(row, "id");
        const auto name = string(row, "display_name");
        if (id && name)
            out.append({*id, *name});
    }
    return out;
}

QList<ProjectEntry> projects(const QList<nlohmann::json>& rows)
{
    QList<ProjectEntry> out;
    for (const auto& row : rows) {
        const auto id = string(row, "id");
        const auto name = string(row, "name");
        if (id && name)
            out.append({*id, *name});
    }
    return out;
}

QList<TranscriptSegment> segments(const QList<nlohmann::json>& rows)
{
    QList<TranscriptSegment> out;
    if (rows.isEmpty())
        return out;
    const auto list = rows.front().find("segments");
    if (list == rows.front().end() || !list->is_array())
        return out;
    int index = 0;
    for (const auto& item : *list) {
        const auto speaker = string(item, "speaker");
        const auto text = string(item, "text");
        const auto start = integer(item, "start_ms");
        const auto end = integer(item, "end_ms");
        if (speaker && text && start && end) {
            auto id = string(item, "id");
            if (!id) {
                const auto number = integer(item, "id");
                id = QString::number(number ? *number : index);
            }
            out.append({*id, *speaker, *text, *start, *end});
        }
        ++index;
    }
    std::stable_sort(out.begin(), out.end(),
                     [](const auto& a, const auto& b) { return a.startMs < b.startMs; });
    return out;
}

QMap<QString, SpeakerSample> samples(const QList<TranscriptSegment>& segments)
{
    QMap<QString, TranscriptSegment> best;
    for (const auto& s : segments) {
        if (s.speaker.isEmpty() || s.text.trimmed().isEmpty())
            continue;
        auto it = best.find(s.speaker);
        if (it == best.end() || s.durationMs() > it->durationMs())
            best.insert(s.speaker, s);
    }
    QMap<QString, SpeakerSample> out;
    for (const auto& s : best)
        out.insert(s.speaker, {s.speaker, s.text, s.startMs});
    return out;
}

std::optional<QString> firstId(const QList<nlohmann::json>& rows)
{
    if (rows.isEmpty())
        return std::nullopt;
    return string(rows.front(), "id");
}

void assigned(const nlohmann::json& reply, const QString& label)
{
    const auto updated = integer(reply, "updated");
    // Without a count the service has not said that it wrote anything.
    if (!updated)
        throw MindvaultError::badResponse(u"写入说话人身份的应答里没有 updated"_s);
    if (*updated <= 0)
        throw MindvaultError::badResponse(u"Mindvault没找到标签「" + label + u"」，这条没写进去");
}

} // namespace MindvaultReplies
