#pragma once

#include "cloud/AudioSource.h"
#include "cloud/DeviceBindOutcome.h"
#include "cloud/MindvaultConfig.h"
#include "cloud/MindvaultTiming.h"
#include "cloud/SessionState.h"
#include "cloud/Speakers.h"
#include "cloud/TokenStore.h"
#include "cloud/UploadResult.h"

#include <QByteArray>
#include <QCoro/QCoroTask>
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <exception>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>

class QNetworkAccessManager;

// The client of the Mindvault service. Every call to the service goes through it. Runs on the
// event loop thread; it has no lock, its user serialises calls that change its state.
//
// Throws MindvaultError for everything the service answered, NetworkError when no answer came.
class Mindvault {
public:
    using SessionState = ::SessionState;
    using UploadResult = ::UploadResult;

    enum class AuthState { valid, expired, unreachable, none };

    using Timing = MindvaultTiming;

    // An HTTP answer whose status the caller judges.
    struct Response {
        int status = 0;
        QByteArray data;
    };

    using Headers = QList<QPair<QByteArray, QByteArray>>;
    using HeaderFn = std::function<Headers()>;
    using StepFn = std::function<void(const QString&)>;

    // Size of every chunk but the last (8 MiB).
    static constexpr qint64 maxChunkBytes = 8 * 1024 * 1024;
    // Ids per "in.(...)" table query; more are asked in several queries.
    static constexpr int idsPerQuery = 40;
    // The database's insufficient-privilege code, returned for writes to canonical speakers.
    static constexpr const char* canonicalGuardCode = "42501";

    // nam: shared network manager, or nullptr to own one. store: where the credential lives.
    explicit Mindvault(MindvaultConfig config, TokenStore store = TokenStore(),
                       QNetworkAccessManager* nam = nullptr, Timing timing = Timing());
    ~Mindvault();
    Mindvault(const Mindvault&) = delete;
    Mindvault& operator=(const Mindvault&) = delete;

    const MindvaultConfig& config() const { return m_config; }
    const TokenStore& tokenStore() const { return m_store; }
    const std::optional<QString>& token() const { return m_token; }
    const std::optional<QString>& org() const { return m_org; }
    // A refresh obtained a rotated refresh token but could not store it.
    bool credentialWriteFailed() const { return m_credentialWriteFailed; }
    // The stored refresh token the gateway last refused: a token rotated into the credential by
    // another process meanwhile is not the one that was refused.
    const std::optional<QString>& refusedRefreshToken() const { return m_refusedRefreshToken; }

    // --- sign-in and session ---

    // Exchanges the password for tokens once; the password is kept nowhere.
    QCoro::Task<> signIn(QString email, QString password);
    // Refresh grant (rotating the stored refresh token), then the organisation. A call made
    // while another is under way waits for it and shares its outcome.
    QCoro::Task<> connect();
    QCoro::Task<QString> resolveOrg(QString accessToken);
    // Deletes the credential file; no request, in-memory tokens untouched.
    void signOut();

    static std::optional<QString> signedInEmail(const TokenStore& store = TokenStore());
    static bool hasCredentials(const TokenStore& store = TokenStore());
    static QCoro::Task<AuthState> checkSession(MindvaultConfig config,
                                               TokenStore store = TokenStore(),
                                               QNetworkAccessManager* nam = nullptr,
                                               Timing timing = Timing());

    // --- request core ---

    // "Authorization" + "x-mindvault-org-id", for "/api/..."; throws notLoggedIn.
    Headers authHeaders() const;
    // "apikey" + "Authorization", for "/rest/v1/..."; throws notLoggedIn.
    Headers restHeaders() const;

    // Sends one request; a 401 is answered by one refresh and one resend, whatever that returns.
    // timeout: seconds, <= 0 means the client's request time-out.
    QCoro::Task<Response> authed(QByteArray method, QString url, HeaderFn headers,
                                 std::optional<nlohmann::json> json = std::nullopt,
                                 std::optional<QByteArray> body = std::nullopt, double timeout = 0);
    // Status > 399 -> MindvaultError::http(what, ...); else the parsed body (parse errors throw
    // MindvaultError::badResponse).
    static nlohmann::json json(int status, const QByteArray& data, const QString& what);

    // --- recordings ---

    // Creates or finds the session keyed by clientRequestId and pushes the audio in chunks.
    // Safe to repeat with the same id at any point.
    QCoro::Task<UploadResult> upload(AudioSource audio, QString title, double durationSec,
                                     QString clientRequestId, QString mime, QDateTime startedAt,
                                     std::optional<QString> project = std::nullopt,
                                     StepFn onStep = {});
    // Throws notFound when the session no longer exists.
    QCoro::Task<SessionState> sessionState(QString sessionId);

    // --- devices ---

    // Registers the pen under deviceNo for the signed-in organisation. Never throws: whatever
    // goes wrong comes back as an outcome.
    QCoro::Task<DeviceBindOutcome> selfRegisterDevice(QString provider, QString deviceNo);

    // --- transcripts and speakers ---

    // Rows of a "/rest/v1/" query (path without that prefix); non-object rows are dropped.
    QCoro::Task<QList<nlohmann::json>> restGet(QString path);
    QCoro::Task<QMap<QString, int>> unconfirmedSpeakerCounts(QStringList transcriptIds);
    QCoro::Task<QMap<QString, QString>> transcriptTitles(QStringList ids);
    QCoro::Task<std::optional<QString>> transcriptTitle(QString id);
    QCoro::Task<QList<SpeakerRow>> speakers(QString transcriptId);
    QCoro::Task<QList<PersonProfile>> personProfiles(int limit);
    QCoro::Task<QList<ProjectEntry>> projects();
    QCoro::Task<QList<TranscriptSegment>> segments(QString transcriptId);
    QCoro::Task<QMap<QString, SpeakerSample>> speakerSamples(QString transcriptId);
    QCoro::Task<std::optional<QString>> recordingSessionId(QString transcriptId);

    // Through the recording's session when there is one, else straight into the table.
    // Throws alreadyAnalyzed / canonicalReadOnly where the service guards the speaker.
    QCoro::Task<> assignSpeaker(QString transcriptId, SpeakerRow row, QString identity,
                                std::optional<QString> profile);
    QCoro::Task<> assignSpeakerDirect(QString rowId, std::optional<QString> identity,
                                      std::optional<QString> profile);

    // Ends every request on the wire at once (each fails as cancelled): an owner going away
    // lets the flows waiting on them finish instead of staying parked for good.
    void abortRequests();

private:
    // The refresh grant itself; connect() makes concurrent callers share one.
    QCoro::Task<> refreshGrant();
    QCoro::Task<Response> send(QByteArray method, QString url, Headers headers,
                               std::optional<QByteArray> body, double timeout);
    QString gatewayBase() const;
    Headers gatewayHeaders() const;

    MindvaultConfig m_config;
    TokenStore m_store;
    Timing m_timing;
    std::unique_ptr<QNetworkAccessManager> m_ownedNam;
    QNetworkAccessManager* m_nam;

    std::optional<QString> m_token;
    bool m_credentialWriteFailed = false;
    std::optional<QString> m_refusedRefreshToken;
    bool m_refreshing = false;         // a refresh grant is on the wire
    std::exception_ptr m_refreshError; // how the last refresh ended
    std::optional<QString> m_org;
    QHash<QString, QString> m_sessionIdCache; // transcript id -> recording session id
    QList<QPointer<QObject>> m_inFlight;      // replies awaited by send()
};
