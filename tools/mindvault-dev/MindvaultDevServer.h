#pragma once

#include "DevRequestLog.h"

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

// A stand-in for the Mindvault service on 127.0.0.1: the authentication gateway, the table
// reads, the application API, object storage for chunk uploads and a minimal web page per
// transcript, with fault switches for tests. Every rule the client relies on is enforced, so a
// client that passes here passes against the service.
//
// start() serves on a background thread; every control method is safe to call from any thread
// while it runs. The same switches are reachable over HTTP under /_control/ (see README.md).
class MindvaultDevServer {
public:
    struct Options {
        std::string email = "dev@example.com";
        std::string password = "dev-password";
        std::string orgId = "org-dev"; // empty: the account has no organisation
        std::chrono::milliseconds processing = std::chrono::seconds(5);
        std::chrono::milliseconds accessTokenLifetime = std::chrono::hours(1);
        std::string anonKey = "dev-anon-key";
        // Finalized recordings without speech end "failed" with ASR_NO_SPEECH, as at the
        // service; off, every complete recording gets a transcript.
        bool detectSpeech = false;
    };

    MindvaultDevServer();
    explicit MindvaultDevServer(Options options);
    ~MindvaultDevServer();
    MindvaultDevServer(const MindvaultDevServer&) = delete;
    MindvaultDevServer& operator=(const MindvaultDevServer&) = delete;

    // Binds 127.0.0.1:port (0 picks a free port), serves on a background thread and returns the
    // port; -1 when it cannot bind.
    int start(int port = 0);
    // Serves on the calling thread until stop() (from another thread or a signal).
    bool listen(int port);
    // Binds without serving yet (for listen_after_bind in the executable); returns the port.
    int bind(int port);
    bool serveBound();
    void stop();

    std::string baseUrl() const;
    // The client configuration (apiBase, supabaseUrl, supabaseAnonKey) pointing here.
    std::string clientConfigJson() const;

    // --- control ---
    // After `after` more requests of a step pass, the next `count` answer `status`. Steps:
    // password, refresh, memberships, create, ticket, put, complete, stop, finalize, status,
    // speakers, register, rest, rest-patch.
    void failStep(const std::string& step, int status, int count = 1, int after = 0);
    // The same, answering `body` instead of the fault marker: a reply the service would never
    // send, to see what the client makes of it.
    void answerStep(const std::string& step, int status, nlohmann::json body, int count = 1);
    // The same with a body that need not be JSON at all.
    void answerStepRaw(const std::string& step, int status, std::string body, int count = 1);
    // The next `count` application API or table requests answer 401 (as for an expired token).
    void unauthorizedNext(int count = 1);
    // Every answer waits this long first.
    void setDelay(std::chrono::milliseconds delay);
    // Every refresh token is revoked at once, as a sign-out on the web does.
    void revokeRefreshTokens();
    void expireAccessTokens();
    void setProcessing(std::chrono::milliseconds processing);
    // The session is "failed" with this code from now on.
    bool failSession(const std::string& sessionId, const std::string& code);
    // For sessions finalized from now on (see Options::detectSpeech).
    void setDetectSpeech(bool on);
    // The next session to finish processing ends "failed" with this code.
    void failNextProcessing(const std::string& code);
    // The session is gone: its reads answer 404 and speaker writes "SESSION_NOT_FOUND".
    bool deleteSession(const std::string& sessionId);
    // Speaker writes through the session answer 409 "已经分析过".
    bool markAnalyzed(const std::string& sessionId);
    // The device number is registered to another organisation ("device_taken").
    void takeDeviceNo(const std::string& deviceNo);
    // Adds an account (orgId empty: no organisation).
    void addUser(const std::string& email, const std::string& password, const std::string& orgId);

    // --- inspection ---
    // Requests seen per step (same names as failStep).
    int requestCount(const std::string& step) const;
    // The latest requests of a step (at most 256 are kept), oldest first: the request target
    // (path and query) and the body as received.
    using Seen = DevRequestLog::Seen;
    std::vector<Seen> requests(const std::string& step) const;
    std::optional<std::string> sessionIdFor(const std::string& clientRequestId) const;
    // The session as GET /api/recordings/{id} would show it.
    std::optional<nlohmann::json> session(const std::string& sessionId) const;
    // Every session, each with its clientRequestId and "stored_bytes" (its chunks' bytes).
    nlohmann::json sessions() const;
    std::optional<int64_t> storedChunkBytes(const std::string& sessionId, int seq) const;

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
