#include "cloud/Mindvault.h"

#include "cloud/JsonFields.h"
#include "cloud/MindvaultError.h"
#include "cloud/MindvaultReplies.h"
#include "cloud/NetworkError.h"

#include <QCoro/QCoroNetworkReply>
#include <QCoro/QCoroTimer>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>
#include <chrono>

using namespace Qt::Literals::StringLiterals;

namespace {

QString bodyText(const QByteArray& data)
{
    return QString::fromUtf8(data); // invalid bytes become U+FFFD
}

QByteArray dumpJson(const nlohmann::json& j)
{
    return QByteArray::fromStdString(j.dump());
}

QString trimOneSlash(QString s)
{
    if (s.endsWith(u'/'))
        s.chop(1);
    return s;
}

// A gateway reply for an error text: whatever it says about tokens stays out, since error texts
// reach the log and the screen.
QString withoutTokens(const QByteArray& data)
{
    auto parsed = JsonFields::parse(data);
    if (!parsed || !parsed->is_object())
        return bodyText(data);
    for (auto& [key, value] : parsed->items()) {
        if (key.find("token") != std::string::npos)
            value = "…";
    }
    return QString::fromStdString(parsed->dump());
}

bool sameAccount(const std::optional<QString>& stored, const QString& email)
{
    return stored && stored->trimmed().compare(email.trimmed(), Qt::CaseInsensitive) == 0;
}

} // namespace

Mindvault::Mindvault(MindvaultConfig config, TokenStore store, QNetworkAccessManager* nam,
                     Timing timing)
    : m_config(std::move(config)), m_store(std::move(store)), m_timing(timing),
      m_ownedNam(nam ? nullptr : std::make_unique<QNetworkAccessManager>()),
      m_nam(nam ? nam : m_ownedNam.get())
{}

Mindvault::~Mindvault() = default;

QString Mindvault::gatewayBase() const
{
    return trimOneSlash(m_config.supabaseUrl);
}

// --- transport ---

QCoro::Task<Mindvault::Response> Mindvault::send(QByteArray method, QString url, Headers headers,
                                                 std::optional<QByteArray> body, double timeout)
{
    QNetworkRequest request{QUrl(url)};
    request.setTransferTimeout(int((timeout > 0 ? timeout : m_timing.request) * 1000));
    for (const auto& [name, value] : headers)
        request.setRawHeader(name, value);

    QNetworkReply* raw = nullptr;
    if (method == "GET")
        raw = m_nam->get(request);
    else if (method == "POST")
        raw = m_nam->post(request, body.value_or(QByteArray()));
    else if (method == "PUT")
        raw = m_nam->put(request, body.value_or(QByteArray()));
    else
        raw = body ? m_nam->sendCustomRequest(request, method, *body)
                   : m_nam->sendCustomRequest(request, method);
    std::unique_ptr<QNetworkReply, void (*)(QNetworkReply*)> reply(
        raw, [](QNetworkReply* r) { r->deleteLater(); });
    // Reply bodies are read with a limit; the flag lives on the reply, which outlives the
    // connection whatever happens to this coroutine.
    constexpr const char* tooLarge = "kestrelTooLarge";
    QObject::connect(reply.get(), &QNetworkReply::downloadProgress, reply.get(),
                     [r = reply.get(), limit = m_timing.replyLimit](qint64 received, qint64 total) {
                         if (received > limit || total > limit) {
                             r->setProperty(tooLarge, true);
                             r->abort();
                         }
                     });
    m_inFlight.append(reply.get());
    co_await reply.get();
    m_inFlight.removeAll(reply.get());

    if (reply->property(tooLarge).toBool()) {
        throw MindvaultError::badResponse(u"应答超过 "_s +
                                          QString::number(m_timing.replyLimit / 1024 / 1024) +
                                          u" MiB，没有读下去"_s);
    }
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        throw NetworkError(int(reply->error()), reply->errorString());
    co_return Response{status.toInt(), reply->readAll()};
}

void Mindvault::abortRequests()
{
    // abort() finishes the reply at once, so each waiting send() resumes inside this loop.
    for (const QPointer<QObject>& r : std::exchange(m_inFlight, {})) {
        if (auto* reply = qobject_cast<QNetworkReply*>(r.data()))
            reply->abort();
    }
}

// The gateway's own grants: the public key, no Authorization.
Mindvault::Headers Mindvault::gatewayHeaders() const
{
    return {{"apikey", m_config.supabaseAnonKey.toUtf8()}, {"Content-Type", "application/json"}};
}

Mindvault::Headers Mindvault::authHeaders() const
{
    if (!m_token || !m_org)
        throw MindvaultError::notLoggedIn();
    return {{"Authorization", "Bearer " + m_token->toUtf8()},
            {"x-mindvault-org-id", m_org->toUtf8()}};
}

Mindvault::Headers Mindvault::restHeaders() const
{
    if (!m_token)
        throw MindvaultError::notLoggedIn();
    return {{"apikey", m_config.supabaseAnonKey.toUtf8()},
            {"Authorization", "Bearer " + m_token->toUtf8()}};
}

QCoro::Task<Mindvault::Response> Mindvault::authed(QByteArray method, QString url, HeaderFn headers,
                                                   std::optional<nlohmann::json> json,
                                                   std::optional<QByteArray> body, double timeout)
{
    std::optional<QByteArray> payload = body;
    Headers extra;
    if (json) {
        payload = dumpJson(*json);
        extra = {{"Content-Type", "application/json"}};
    }
    const std::optional<QString> sentWith = m_token;
    Response response = co_await send(method, url, headers() + extra, payload, timeout);
    if (response.status != 401)
        co_return response;
    // The access token expired or was rejected: one refresh, one resend, never more. Requests
    // that met the same expiry share one refresh (a rotated refresh token can be spent only
    // once); when another request has already refreshed since this one was sent, resend.
    if (m_refreshing || m_token == sentWith)
        co_await connect();
    co_return co_await send(method, url, headers() + extra, payload, timeout);
}

nlohmann::json Mindvault::json(int status, const QByteArray& data, const QString& what)
{
    if (status > 399)
        throw MindvaultError::http(what, status, bodyText(data));
    auto parsed = JsonFields::parse(data);
    if (!parsed)
        throw MindvaultError::badResponse(what + u" 的应答不是 JSON");
    return std::move(*parsed);
}

// --- sign-in and session ---

QCoro::Task<> Mindvault::signIn(QString email, QString password)
{
    const QString url = trimOneSlash(m_config.supabaseUrl) + u"/auth/v1/token?grant_type=password";
    const nlohmann::json request = {{"email", email.toStdString()},
                                    {"password", password.toStdString()}};
    const Response r =
        co_await send("POST", url, gatewayHeaders(), dumpJson(request), m_timing.request);

    const auto granted = MindvaultReplies::tokens(r.data);
    if (r.status >= 400 || !granted)
        throw MindvaultError::http(u"登录"_s, r.status,
                                   r.data.contains("Invalid login") ? u"邮箱或密码不对"_s
                                                                    : u"登录失败"_s);

    // One write for the whole credential. The organisation belongs to the account: another
    // account resolves its own, or every push would go to an organisation it is not in.
    const TokenStore::Blob previous = m_store.read();
    TokenStore::Blob blob{granted->refresh, email, std::nullopt};
    if (sameAccount(previous.email, email))
        blob.orgId = previous.orgId;
    if (!m_store.write(blob))
        throw MindvaultError::credentialNotSaved(m_store.path());
    const QString org = co_await resolveOrg(granted->access);
    m_token = granted->access;
    m_org = org;
}

QCoro::Task<> Mindvault::connect()
{
    if (m_refreshing) {
        // Another caller is spending the refresh token right now: its outcome is ours.
        while (m_refreshing)
            co_await QCoro::sleepFor(std::chrono::milliseconds(10));
        if (m_refreshError)
            std::rethrow_exception(m_refreshError);
        co_return;
    }
    m_refreshing = true;
    m_refreshError = nullptr;
    try {
        co_await refreshGrant();
    } catch (...) {
        m_refreshError = std::current_exception();
    }
    m_refreshing = false;
    if (m_refreshError)
        std::rethrow_exception(m_refreshError);
}

QCoro::Task<> Mindvault::refreshGrant()
{
    std::optional<QString> stored = m_store.get(u"refresh_token"_s);
    if (!stored)
        throw MindvaultError::notLoggedIn();
    const QString url = m_config.supabaseUrl + u"/auth/v1/token?grant_type=refresh_token";
    Response r;
    for (bool retried = false;; retried = true) {
        const nlohmann::json request = {{"refresh_token", stored->toStdString()}};
        r = co_await send("POST", url, gatewayHeaders(), dumpJson(request), m_timing.request);
        if (r.status != 400 && r.status != 401)
            break;
        // Another process (a sign-in, the status verb) may have stored a new token while this
        // one was on the wire: that one gets a try of its own before the sign-in counts as lost.
        const std::optional<QString> now = m_store.get(u"refresh_token"_s);
        if (retried || !now || now == stored) {
            m_refusedRefreshToken = stored;
            throw MindvaultError::sessionRevoked();
        }
        stored = now;
    }
    if (r.status >= 400)
        throw MindvaultError::http(u"刷新登录"_s, r.status, withoutTokens(r.data));
    const auto granted = MindvaultReplies::tokens(r.data);
    if (!granted)
        throw MindvaultError::http(u"刷新登录"_s, r.status,
                                   u"应答里缺少 access_token 或 refresh_token"_s);

    m_token = granted->access;
    // The gateway rotates refresh tokens: the old one is dead now, so losing the new one means
    // the next refresh fails. The session goes on with the access token either way.
    if (!m_store.set(granted->refresh, u"refresh_token"_s))
        m_credentialWriteFailed = true;
    m_org = co_await resolveOrg(granted->access);
}

QCoro::Task<QString> Mindvault::resolveOrg(QString accessToken)
{
    if (auto known = m_store.get(u"org_id"_s))
        co_return *known;
    const QString url =
        m_config.supabaseUrl + u"/rest/v1/memberships?select=org_id&order=created_at.asc&limit=1";
    const Headers headers{{"apikey", m_config.supabaseAnonKey.toUtf8()},
                          {"Authorization", "Bearer " + accessToken.toUtf8()}};
    const Response r = co_await send("GET", url, headers, std::nullopt, m_timing.request);
    const auto org = MindvaultReplies::firstOrg(json(r.status, r.data, u"查询组织"_s));
    if (!org)
        throw MindvaultError::badResponse(u"这个账号没有任何组织"_s);
    m_store.set(*org, u"org_id"_s);
    co_return *org;
}

void Mindvault::signOut()
{
    m_store.clear();
}

std::optional<QString> Mindvault::signedInEmail(const TokenStore& store)
{
    return store.get(u"email"_s);
}

bool Mindvault::hasCredentials(const TokenStore& store)
{
    return store.get(u"refresh_token"_s).has_value();
}

QCoro::Task<Mindvault::AuthState> Mindvault::checkSession(MindvaultConfig config, TokenStore store,
                                                          QNetworkAccessManager* nam, Timing timing)
{
    if (!hasCredentials(store))
        co_return AuthState::none;
    Mindvault client(std::move(config), std::move(store), nam, timing);
    try {
        co_await client.connect();
        co_return AuthState::valid;
    } catch (const MindvaultError& e) {
        const bool rejected =
            e.kind() == MindvaultError::Kind::sessionRevoked ||
            (e.kind() == MindvaultError::Kind::http && e.status() >= 400 && e.status() <= 499);
        co_return rejected ? AuthState::expired : AuthState::unreachable;
    } catch (const std::exception&) {
        co_return AuthState::unreachable;
    }
}
