#include "DevRecordings.h"

#include <cstdio>
#include <regex>

using nlohmann::json;

namespace {

DevRecordings::Reply error(int status, const std::string& code, const std::string& message = {})
{
    json body = {{"error", code}};
    if (!message.empty())
        body["message"] = message;
    return {status, body};
}

std::optional<std::string> stringField(const json& body, const char* key)
{
    auto it = body.find(key);
    if (it == body.end() || !it->is_string())
        return std::nullopt;
    return it->get<std::string>();
}

std::optional<int64_t> intField(const json& body, const char* key)
{
    auto it = body.find(key);
    if (it == body.end() || !it->is_number_integer())
        return std::nullopt;
    return it->get<int64_t>();
}

bool acceptsChunks(const std::string& status)
{
    return status == "recording" || status == "uploading";
}

} // namespace

DevRecordings::DevRecordings(DevTables& tables, std::filesystem::path storage,
                             std::chrono::milliseconds processing)
    : m_tables(tables), m_storage(std::move(storage)), m_processing(processing)
{
    std::filesystem::create_directories(m_storage);
}

json DevRecordings::toJson(const Session& s)
{
    json j = {{"id", s.id},
              {"clientRequestId", s.clientRequestId},
              {"title", s.title},
              {"started_at", s.startedAt},
              {"status", s.status},
              {"expected_chunk_count", s.expectedChunks ? json(*s.expectedChunks) : json()},
              {"final_transcript_id", s.transcriptId ? json(*s.transcriptId) : json()},
              {"last_error_code", s.lastErrorCode ? json(*s.lastErrorCode) : json()}};
    if (s.projectId)
        j["project_id"] = *s.projectId;
    return j;
}

DevRecordings::Session* DevRecordings::find(const std::string& orgId, const std::string& id)
{
    auto it = m_sessions.find(id);
    return it == m_sessions.end() || it->second.orgId != orgId ? nullptr : &it->second;
}

std::filesystem::path DevRecordings::objectPath(const std::string& id, int seq) const
{
    return m_storage / (id + "-" + std::to_string(seq) + ".bin");
}

DevRecordings::Reply DevRecordings::create(const std::string& orgId, const json& body)
{
    const auto requestId = stringField(body, "clientRequestId");
    const auto title = stringField(body, "title");
    const auto startedAt = stringField(body, "startedAt");
    // An internet date-time in UTC to the second, nothing looser.
    static const std::regex isoDate(R"(\d{4}-\d{2}-\d{2}T\d{2}:\d{2}:\d{2}Z)");
    if (!requestId || requestId->empty() || !title || !stringField(body, "captureClient") ||
        !body.contains("capabilities") || !body["capabilities"].is_array() || !startedAt ||
        !std::regex_match(*startedAt, isoDate))
        return error(400, "INVALID_REQUEST",
                     "clientRequestId, title, captureClient, "
                     "capabilities and startedAt (UTC, whole seconds, e.g. "
                     "2024-05-01T08:30:00Z) are required");
    if (body.contains("projectId") && !body["projectId"].is_string())
        return error(400, "INVALID_REQUEST", "projectId must be a string");

    for (auto& [id, s] : m_sessions)
        if (s.orgId == orgId && s.clientRequestId == *requestId)
            return {200, {{"session", toJson(s)}}};

    Session s;
    s.id = "rs-" + std::to_string(m_nextId++);
    s.orgId = orgId;
    s.clientRequestId = *requestId;
    s.title = *title;
    s.startedAt = *startedAt;
    s.projectId = stringField(body, "projectId");
    const json out = toJson(s);
    m_sessions.emplace(s.id, std::move(s));
    return {201, {{"session", out}}};
}

// The first chunk starts at 0; each chunk starts within its predecessor's span (equal spans
// happen when a recording has fewer milliseconds than chunks), never before it or after a gap.
bool DevRecordings::spanFits(const Session& s, int seq, int64_t from, int64_t to)
{
    if (from < 0 || to <= from || (seq == 0 && from != 0))
        return false;
    const auto follows = [](int64_t earlierFrom, int64_t earlierTo, int64_t start) {
        return start >= earlierFrom && start <= earlierTo;
    };
    if (auto prev = s.chunks.find(seq - 1);
        prev != s.chunks.end() && !follows(prev->second.startedAtMs, prev->second.endedAtMs, from))
        return false;
    if (auto next = s.chunks.find(seq + 1);
        next != s.chunks.end() && !follows(from, to, next->second.startedAtMs))
        return false;
    return true;
}

DevRecordings::Reply DevRecordings::ticket(const std::string& orgId, const std::string& id,
                                           const json& body, const std::string& storageBase)
{
    Session* s = find(orgId, id);
    if (!s)
        return error(404, "SESSION_NOT_FOUND");
    const auto seq = intField(body, "sequence");
    const auto key = stringField(body, "idempotencyKey");
    const auto mime = stringField(body, "mimeType");
    const auto length = intField(body, "byteLength");
    const auto from = intField(body, "startedAtMs");
    const auto to = intField(body, "endedAtMs");
    if (!seq || *seq < 0 || !key || key->empty() || !mime || mime->empty() || !length ||
        *length < 0 || !from || !to || !stringField(body, "uploadMode"))
        return error(400, "INVALID_REQUEST", "bad chunk ticket request");
    if (*length > maxChunkBytes)
        return error(400, "CHUNK_TOO_LARGE");
    if (!spanFits(*s, int(*seq), *from, *to))
        return error(400, "INVALID_CHUNK_SPAN",
                     "chunk spans start at 0 and follow each other without gaps");

    auto existing = s->chunks.find(int(*seq));
    if (existing != s->chunks.end() && existing->second.verified)
        return error(409, "CHUNK_ALREADY_VERIFIED",
                     "chunk " + std::to_string(*seq) + " is verified");
    if (!acceptsChunks(s->status))
        return error(409, "SESSION_NOT_ACCEPTING_CHUNKS", "session is " + s->status);
    if (s->expectedChunks && *seq >= *s->expectedChunks)
        return error(409, "MANIFEST_FROZEN");
    if (existing != s->chunks.end() && existing->second.idempotencyKey != *key)
        return error(409, "IDEMPOTENCY_KEY_MISMATCH");

    Chunk& chunk = s->chunks[int(*seq)];
    chunk.byteLength = *length;
    chunk.startedAtMs = *from;
    chunk.endedAtMs = *to;
    chunk.idempotencyKey = *key;
    chunk.uploaded = false; // a new ticket wants new bytes
    s->status = "uploading";

    char token[40];
    std::snprintf(token, sizeof token, "%016llx%016llx",
                  static_cast<unsigned long long>(m_random()),
                  static_cast<unsigned long long>(m_random()));
    m_tickets[token] = Ticket{id, int(*seq), *length, *mime};
    return {200,
            {{"uploadUrl", storageBase + "/_storage/" + token},
             {"sequence", *seq},
             {"expiresIn", 3600}}};
}

std::variant<DevRecordings::Reply, std::filesystem::path>
DevRecordings::beginPut(const std::string& token, const std::string& contentType)
{
    auto it = m_tickets.find(token);
    if (it == m_tickets.end())
        return error(403, "AccessDenied", "unknown or expired upload URL");
    if (contentType != it->second.mime)
        return error(403, "SignatureDoesNotMatch", "Content-Type differs from the ticket's");
    if (!m_sessions.count(it->second.sessionId))
        return error(404, "NoSuchBucket");
    return m_storage / ("incoming-" + token);
}

DevRecordings::Reply DevRecordings::finishPut(const std::string& token,
                                              const std::filesystem::path& written)
{
    std::error_code ec;
    auto it = m_tickets.find(token);
    auto s = it == m_tickets.end() ? m_sessions.end() : m_sessions.find(it->second.sessionId);
    if (s == m_sessions.end()) {
        std::filesystem::remove(written, ec);
        return error(404, "NoSuchBucket");
    }
    const Ticket& t = it->second;
    const auto size = std::filesystem::file_size(written, ec);
    if (ec || int64_t(size) != t.byteLength) {
        std::filesystem::remove(written, ec);
        return error(400, "IncompleteBody", "body length differs from the ticket's byteLength");
    }
    std::filesystem::rename(written, objectPath(t.sessionId, t.seq), ec);
    if (ec)
        return error(500, "InternalError", "could not store the object");
    s->second.chunks[t.seq].uploaded = true;
    return {200, json::object()};
}

DevRecordings::Reply DevRecordings::complete(const std::string& orgId, const std::string& id,
                                             int seq)
{
    Session* s = find(orgId, id);
    if (!s)
        return error(404, "SESSION_NOT_FOUND");
    auto chunk = s->chunks.find(seq);
    if (chunk == s->chunks.end() || !(chunk->second.uploaded || chunk->second.verified))
        return error(409, "OBJECT_NOT_FOUND", "no object was uploaded for this chunk");
    chunk->second.verified = true;
    return {200, {{"sequence", seq}, {"verified", true}}};
}

DevRecordings::Reply DevRecordings::stop(const std::string& orgId, const std::string& id,
                                         const json& body)
{
    Session* s = find(orgId, id);
    if (!s)
        return error(404, "SESSION_NOT_FOUND");
    const auto duration = intField(body, "durationMs");
    const auto expected = intField(body, "expectedChunkCount");
    if (!duration || *duration < 1 || !expected || *expected < 1)
        return error(400, "INVALID_REQUEST", "durationMs and expectedChunkCount must be >= 1");
    if (!acceptsChunks(s->status))
        return error(409, "SESSION_NOT_ACCEPTING_CHUNKS", "session is " + s->status);
    if (s->expectedChunks && *s->expectedChunks != *expected)
        return error(409, "MANIFEST_FROZEN");
    for (const auto& [seq, chunk] : s->chunks) {
        const bool last = seq == *expected - 1;
        if (seq < *expected &&
            (chunk.endedAtMs > *duration || (last && chunk.endedAtMs != *duration)))
            return error(400, "INVALID_CHUNK_SPAN", "the chunks' spans must end at durationMs");
    }
    s->expectedChunks = *expected;
    s->durationMs = *duration;
    return {200, {{"session", toJson(*s)}}};
}

DevRecordings::Reply DevRecordings::finalize(const std::string& orgId, const std::string& id)
{
    Session* s = find(orgId, id);
    if (!s)
        return error(404, "SESSION_NOT_FOUND");
    if (!acceptsChunks(s->status))
        return {200, {{"session", toJson(*s)}}}; // finalized already
    if (!s->expectedChunks)
        return error(409, "NOT_STOPPED", "stop the session before finalizing it");
    for (int i = 0; i < *s->expectedChunks; ++i)
        if (!s->chunks.count(i) || !s->chunks[i].verified)
            return error(409, "MANIFEST_INCOMPLETE", "chunk " + std::to_string(i) + " missing");
    s->status = "processing";
    s->readyAt = Clock::now() + m_processing;
    s->failWith = m_failNext;
    m_failNext.reset();
    if (m_detectSpeech)
        s->speechCheck = Session::Check::due;
    return {200, {{"session", toJson(*s)}}};
}

DevRecordings::Reply DevRecordings::get(const std::string& orgId, const std::string& id)
{
    Session* s = find(orgId, id);
    if (!s)
        return error(404, "SESSION_NOT_FOUND");
    return {200, {{"session", toJson(*s)}}};
}

void DevRecordings::advance()
{
    const auto now = Clock::now();
    for (auto& [id, s] : m_sessions) {
        if (s.status != "processing" || now < s.readyAt || s.speechCheck != Session::Check::none)
            continue;
        if (s.failWith) {
            s.status = "failed";
            s.lastErrorCode = s.failWith;
        } else {
            makeTranscript(s);
            s.status = "ready";
        }
    }
}

std::optional<DevRecordings::SpeechCheck> DevRecordings::takeSpeechCheck(const std::string& id)
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end() || it->second.speechCheck != Session::Check::due)
        return std::nullopt;
    Session& s = it->second;
    s.speechCheck = Session::Check::running;
    SpeechCheck check{{}, m_storage / ("check-" + id + ".ogg")};
    for (int i = 0; i < s.expectedChunks.value_or(0); ++i)
        check.parts.push_back(objectPath(id, i));
    return check;
}

void DevRecordings::settleSpeechCheck(const std::string& id, DevSpeechCheck::Verdict verdict)
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end() || it->second.speechCheck != Session::Check::running)
        return; // deleted meanwhile
    Session& s = it->second;
    s.speechCheck = Session::Check::none;
    if (s.failWith)
        return; // an injected failure wins
    if (verdict == DevSpeechCheck::Verdict::noSpeech)
        s.failWith = "ASR_NO_SPEECH";
    else if (verdict == DevSpeechCheck::Verdict::undecodable)
        s.failWith = "PROVIDER_REJECTED";
}

void DevRecordings::makeTranscript(Session& s)
{
    const std::string tid = "tr-" + s.id.substr(3);
    const int64_t d = std::max<int64_t>(s.durationMs, 3);
    const json segments = json::array({
        {{"id", tid + "-1"},
         {"speaker", "S1"},
         {"text", "大家好，今天我们把项目进度过一遍。"},
         {"start_ms", 0},
         {"end_ms", d / 3}},
        {{"id", tid + "-2"},
         {"speaker", "S2"},
         {"text", "好的，我先说一下上周完成的部分。"},
         {"start_ms", d / 3},
         {"end_ms", 2 * d / 3}},
        {{"id", tid + "-3"},
         {"speaker", "S1"},
         {"text", "那就按这个计划推进，下周再对一次。"},
         {"start_ms", 2 * d / 3},
         {"end_ms", d}},
    });
    m_tables.insert("transcripts",
                    {{"id", tid}, {"org_id", s.orgId}, {"title", s.title}, {"segments", segments}});
    for (const char* label : {"S1", "S2"})
        m_tables.insert("speakers", {{"id", tid + "-" + label},
                                     {"org_id", s.orgId},
                                     {"transcript_id", tid},
                                     {"label", label},
                                     {"inferred_identity", nullptr},
                                     {"confirmed", false},
                                     {"user_profile_id", nullptr},
                                     {"canonical", true}});
    m_tables.insert("recording_sessions",
                    {{"id", s.id}, {"org_id", s.orgId}, {"final_transcript_id", tid}});
    s.transcriptId = tid;
}

DevRecordings::Reply DevRecordings::assignSpeakers(const std::string& orgId, const std::string& id,
                                                   const json& body)
{
    Session* s = find(orgId, id);
    if (!s)
        return error(404, "SESSION_NOT_FOUND");
    if (!body.contains("assignments") || !body["assignments"].is_array())
        return error(400, "INVALID_REQUEST", "assignments must be an array");
    if (!s->transcriptId)
        return error(409, "NOT_READY", "the recording has no transcript yet");
    if (s->analyzed)
        return error(409, "ALREADY_ANALYZED", "这条录音已经分析过，说话人要在网页里改");
    int updated = 0;
    for (const auto& a : body["assignments"]) {
        const auto label = stringField(a, "label");
        const auto name = stringField(a, "name");
        if (!label || !name)
            return error(400, "INVALID_REQUEST", "each assignment needs label and name");
        const auto profile = stringField(a, "profileId");
        const DevTables::Params filter{{"transcript_id", "eq." + *s->transcriptId},
                                       {"label", "eq." + *label}};
        for (auto* row : m_tables.match("speakers", filter, orgId)) {
            (*row)["inferred_identity"] = *name;
            (*row)["user_profile_id"] = profile ? json(*profile) : json();
            (*row)["confirmed"] = true;
            ++updated;
        }
    }
    return {200, {{"updated", updated}}};
}

bool DevRecordings::fail(const std::string& id, const std::string& code)
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return false;
    it->second.status = "failed";
    it->second.lastErrorCode = code;
    return true;
}

bool DevRecordings::remove(const std::string& id)
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return false;
    for (const auto& [seq, chunk] : it->second.chunks)
        std::filesystem::remove(objectPath(id, seq));
    std::erase_if(m_tables.rows("recording_sessions"),
                  [&](const json& row) { return row.value("id", "") == id; });
    m_sessions.erase(it);
    return true;
}

bool DevRecordings::markAnalyzed(const std::string& id)
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return false;
    it->second.analyzed = true;
    return true;
}

std::optional<std::string> DevRecordings::sessionFor(const std::string& clientRequestId) const
{
    for (const auto& [id, s] : m_sessions)
        if (s.clientRequestId == clientRequestId)
            return id;
    return std::nullopt;
}

std::optional<json> DevRecordings::describe(const std::string& id) const
{
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return std::nullopt;
    return toJson(it->second);
}

json DevRecordings::describeAll() const
{
    json out = json::array();
    for (const auto& [id, s] : m_sessions) {
        json j = toJson(s);
        int64_t stored = 0;
        for (const auto& [seq, chunk] : s.chunks)
            stored += storedBytes(id, seq).value_or(0);
        j["stored_bytes"] = stored;
        out.push_back(std::move(j));
    }
    return out;
}

std::optional<int64_t> DevRecordings::storedBytes(const std::string& id, int seq) const
{
    std::error_code ec;
    const auto size = std::filesystem::file_size(objectPath(id, seq), ec);
    if (ec)
        return std::nullopt;
    return int64_t(size);
}
