// Mindvault: the recording upload and the session status query.
#include "cloud/Mindvault.h"
#include "cloud/MindvaultError.h"
#include "cloud/MindvaultReplies.h"

#include <QHostAddress>
#include <QUrl>
#include <algorithm>
#include <cmath>

using namespace Qt::Literals::StringLiterals;

namespace {

struct ChunkPlan {
    qint64 durationMs = 1;
    qint64 count = 1;
    qint64 offset(qint64 i, qint64 length) const
    {
        return std::min(i * Mindvault::maxChunkBytes, length);
    }
    qint64 startedAtMs(qint64 i) const { return durationMs * i / count; }
    qint64 endedAtMs(qint64 i) const
    {
        return std::max(startedAtMs(i) + 1, durationMs * (i + 1) / count);
    }
};

ChunkPlan planChunks(double durationSec, qint64 length)
{
    ChunkPlan plan;
    plan.durationMs = std::max<qint64>(1, qint64(durationSec * 1000));
    plan.count =
        std::max<qint64>(1, (length + Mindvault::maxChunkBytes - 1) / Mindvault::maxChunkBytes);
    return plan;
}

// Object storage is reached over https; plain http only to this computer, where the stand-in
// service runs. Anything else (file:, ftp:, http to another host) would let a reply write
// local files or send the recording in the clear.
bool safeUploadTarget(const QUrl& url)
{
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || url.host().isEmpty())
        return false;
    if (scheme == u"https")
        return true;
    if (scheme != u"http")
        return false;
    const QString host = url.host().toLower();
    return host == u"localhost" || QHostAddress(host).isLoopback();
}

// These steps promise only a status below 400; their body (if any) carries nothing we use.
void requireSuccess(const Mindvault::Response& r, const QString& what)
{
    if (r.status > 399)
        throw MindvaultError::http(what, r.status, QString::fromUtf8(r.data));
}

} // namespace

QCoro::Task<UploadResult> Mindvault::upload(AudioSource audio, QString title, double durationSec,
                                            QString clientRequestId, QString mime,
                                            QDateTime startedAt, std::optional<QString> project,
                                            StepFn onStep)
{
    const auto step = [&](const QString& line) {
        if (onStep)
            onStep(line);
    };
    const auto api = [this]() {
        return authHeaders();
    };
    const QString base = m_config.apiBase + u"/api/recordings";

    nlohmann::json create = {
        {"clientRequestId", clientRequestId.toStdString()},
        {"title", title.toStdString()},
        {"captureClient", "macos"},
        {"capabilities", {"mic"}},
        {"startedAt", startedAt.toUTC().toString(Qt::ISODate).toStdString()},
    };
    if (project)
        create["projectId"] = project->toStdString();
    Response r = co_await authed("POST", base, api, create);
    const MindvaultReplies::CreatedSession session =
        MindvaultReplies::createdSession(json(r.status, r.data, u"建会话"_s));
    if (session.alreadyDone) {
        step(u"会话已是 " + session.status + u"，无需重传");
        co_return UploadResult{session.id, session.expectedChunks, true};
    }

    const QString sessionUrl = base + u'/' + session.id;
    const qint64 length = audio.size();
    const ChunkPlan plan = planChunks(durationSec, length);
    for (qint64 i = 0; i < plan.count; ++i) {
        const QString number = QString::number(i + 1);
        step(u"分片 " + number + u'/' + QString::number(plan.count));
        const qint64 from = plan.offset(i, length);
        const qint64 chunkLength = plan.offset(i + 1, length) - from;
        const nlohmann::json ticket = {
            {"sequence", i},
            {"idempotencyKey", QString(clientRequestId + u'-' + QString::number(i)).toStdString()},
            {"mimeType", mime.toStdString()},
            {"byteLength", chunkLength},
            {"startedAtMs", plan.startedAtMs(i)},
            {"endedAtMs", plan.endedAtMs(i)},
            {"uploadMode", "background"},
        };
        r = co_await authed("POST", sessionUrl + u"/chunks/ticket", api, ticket);
        if (r.status == 409 && r.data.contains("CHUNK_ALREADY_VERIFIED")) {
            step(u"分片 " + number + u" 已在服务端，跳过");
            continue;
        }
        const auto uploadUrl =
            MindvaultReplies::uploadUrl(json(r.status, r.data, u"申请上传地址"_s));
        if (!uploadUrl)
            throw MindvaultError::badResponse(u"ticket 没有 uploadUrl"_s);
        const QUrl target(*uploadUrl);
        if (!safeUploadTarget(target)) {
            // The address itself is a credential: only its scheme goes into the text.
            throw MindvaultError::badResponse(u"ticket 给的上传地址不是 https（"_s +
                                              target.scheme() + u"），没有上传"_s);
        }

        // Straight to object storage: no service headers, its own long time-out. The chunk is
        // read only now, so at most one chunk of a file-backed recording is in memory.
        const Headers storageHeaders{{"Content-Type", mime.toUtf8()}};
        const Response put = co_await send("PUT", *uploadUrl, storageHeaders,
                                           audio.read(from, chunkLength), m_timing.objectStorage);
        if (put.status > 399)
            throw MindvaultError::http(u"直传 COS"_s, put.status, QString::fromUtf8(put.data));

        r = co_await authed("POST", sessionUrl + u"/chunks/" + QString::number(i) + u"/complete",
                            api);
        requireSuccess(r, u"确认分片 " + number);
    }

    const nlohmann::json stop = {{"durationMs", plan.durationMs},
                                 {"expectedChunkCount", plan.count}};
    r = co_await authed("POST", sessionUrl + u"/stop", api, stop);
    requireSuccess(r, u"冻结清单"_s);
    r = co_await authed("POST", sessionUrl + u"/finalize", api);
    requireSuccess(r, u"收尾"_s);
    co_return UploadResult{session.id, int(plan.count), false};
}

QCoro::Task<SessionState> Mindvault::sessionState(QString sessionId)
{
    const Response r = co_await authed("GET", m_config.apiBase + u"/api/recordings/" + sessionId,
                                       [this]() { return authHeaders(); });
    if (r.status == 404)
        throw MindvaultError::notFound(u"查会话 " + sessionId);
    co_return MindvaultReplies::sessionState(json(r.status, r.data, u"查会话"_s));
}
