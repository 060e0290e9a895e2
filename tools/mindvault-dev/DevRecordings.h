#pragma once

#include "DevSpeechCheck.h"
#include "DevTables.h"

#include <chrono>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <random>
#include <string>
#include <variant>
#include <vector>

// The stand-in's recording sessions: idempotent creation by client request id, chunk tickets,
// the object store behind the upload URLs (files in a folder, so big recordings stay out of
// memory), confirmation, stop, finalize and a processing simulation that ends "ready" with a
// transcript in the tables or "failed" with a code. Not thread-safe; the server serialises.
class DevRecordings {
public:
    using Clock = std::chrono::steady_clock;

    struct Reply {
        int status = 200;
        nlohmann::json body;
    };

    // The biggest chunk a ticket is issued for: the client cuts 8 MiB chunks.
    static constexpr int64_t maxChunkBytes = 8 * 1024 * 1024;

    DevRecordings(DevTables& tables, std::filesystem::path storage,
                  std::chrono::milliseconds processing);

    Reply create(const std::string& orgId, const nlohmann::json& body);
    // storageBase: the URL prefix of the object store ("http://127.0.0.1:port").
    Reply ticket(const std::string& orgId, const std::string& id, const nlohmann::json& body,
                 const std::string& storageBase);
    // An object upload in two steps, so the bytes stream to disk outside the server's lock:
    // beginPut checks the ticket and names the file to write (or answers with an error),
    // finishPut checks what arrived and stores it.
    std::variant<Reply, std::filesystem::path> beginPut(const std::string& token,
                                                        const std::string& contentType);
    Reply finishPut(const std::string& token, const std::filesystem::path& written);
    Reply complete(const std::string& orgId, const std::string& id, int seq);
    Reply stop(const std::string& orgId, const std::string& id, const nlohmann::json& body);
    Reply finalize(const std::string& orgId, const std::string& id);
    Reply get(const std::string& orgId, const std::string& id);
    Reply assignSpeakers(const std::string& orgId, const std::string& id,
                         const nlohmann::json& body);

    // Moves sessions whose processing time has passed to "ready" or "failed"; a session whose
    // speech check has not settled stays "processing".
    void advance();

    // With speech detection on, finalize leaves a check due; the server takes it (once), runs it
    // outside its lock and settles it. No speech fails the session with ASR_NO_SPEECH, audio
    // that does not decode with PROVIDER_REJECTED, as the service does.
    struct SpeechCheck {
        std::vector<std::filesystem::path> parts; // the uploaded object's chunks, in order
        std::filesystem::path scratch;            // where the check may assemble them
    };
    void setDetectSpeech(bool on) { m_detectSpeech = on; }
    std::optional<SpeechCheck> takeSpeechCheck(const std::string& id);
    void settleSpeechCheck(const std::string& id, DevSpeechCheck::Verdict verdict);

    // Control.
    void setProcessing(std::chrono::milliseconds processing) { m_processing = processing; }
    bool fail(const std::string& id, const std::string& code);
    void failNextProcessing(const std::string& code) { m_failNext = code; }
    bool remove(const std::string& id);
    bool markAnalyzed(const std::string& id);
    std::optional<std::string> sessionFor(const std::string& clientRequestId) const;
    std::optional<nlohmann::json> describe(const std::string& id) const;
    // Every session as describe() shows it, with its clientRequestId and the bytes stored for
    // its chunks ("stored_bytes"): what a soak checks for recordings pushed twice or cut short.
    nlohmann::json describeAll() const;
    // Bytes stored for a chunk, or nullopt when none were put.
    std::optional<int64_t> storedBytes(const std::string& id, int seq) const;

private:
    struct Chunk {
        int64_t byteLength = 0;
        int64_t startedAtMs = 0; // the chunk's time span within the recording
        int64_t endedAtMs = 0;
        std::string idempotencyKey;
        bool uploaded = false;
        bool verified = false;
    };
    struct Ticket {
        std::string sessionId;
        int seq = 0;
        int64_t byteLength = 0;
        std::string mime;
    };
    struct Session {
        std::string id;
        std::string orgId;
        std::string clientRequestId;
        std::string title;
        std::string startedAt;
        std::optional<std::string> projectId;
        std::string status = "recording";
        std::optional<int64_t> expectedChunks;
        int64_t durationMs = 0;
        std::map<int, Chunk> chunks;
        Clock::time_point readyAt;
        std::optional<std::string> failWith;
        std::optional<std::string> transcriptId;
        std::optional<std::string> lastErrorCode;
        bool analyzed = false;
        enum class Check { none, due, running } speechCheck = Check::none;
    };

    Session* find(const std::string& orgId, const std::string& id);
    static bool spanFits(const Session& s, int seq, int64_t from, int64_t to);
    static nlohmann::json toJson(const Session& s);
    std::filesystem::path objectPath(const std::string& id, int seq) const;
    void makeTranscript(Session& s);

    DevTables& m_tables;
    std::filesystem::path m_storage;
    std::chrono::milliseconds m_processing;
    std::optional<std::string> m_failNext;
    bool m_detectSpeech = false;
    std::map<std::string, Session> m_sessions;
    std::map<std::string, Ticket> m_tickets; // upload token -> ticket
    std::mt19937_64 m_random{std::random_device{}()};
    int m_nextId = 1;
};
