#include "DevServerImpl.h"

using namespace devserver;

MindvaultDevServer::MindvaultDevServer(Options options) : d(std::make_unique<Impl>(options))
{
    // Answers go out as header and body writes; without this, Nagle's algorithm holds the body
    // until the client's delayed ACK (~40 ms) for every request.
    d->server.set_tcp_nodelay(true);
    d->seed();
    d->routes();
    d->controlRoutes();
}

MindvaultDevServer::MindvaultDevServer() : MindvaultDevServer(Options()) {}

MindvaultDevServer::~MindvaultDevServer()
{
    stop();
}

int MindvaultDevServer::bind(int port)
{
    const int bound = port == 0 ? d->server.bind_to_any_port("127.0.0.1")
                                : (d->server.bind_to_port("127.0.0.1", port) ? port : -1);
    d->port = bound;
    return bound;
}

bool MindvaultDevServer::serveBound()
{
    return d->server.listen_after_bind();
}

bool MindvaultDevServer::listen(int port)
{
    return bind(port) > 0 && serveBound();
}

int MindvaultDevServer::start(int port)
{
    const int bound = bind(port);
    if (bound <= 0)
        return -1;
    d->thread = std::thread([this] { serveBound(); });
    // bind() already listens, so connections made from here on wait in the backlog.
    return bound;
}

void MindvaultDevServer::stop()
{
    d->server.stop();
    if (d->thread.joinable())
        d->thread.join();
}

std::string MindvaultDevServer::baseUrl() const
{
    return d->base();
}

std::string MindvaultDevServer::clientConfigJson() const
{
    return json{
        {"apiBase", d->base()}, {"supabaseUrl", d->base()}, {"supabaseAnonKey", d->options.anonKey}}
        .dump(2);
}

void MindvaultDevServer::failStep(const std::string& step, int status, int count, int after)
{
    std::lock_guard lock(d->mutex);
    d->failures[step] = {status, after, count, std::nullopt};
}

void MindvaultDevServer::answerStep(const std::string& step, int status, json body, int count)
{
    answerStepRaw(step, status, body.dump(), count);
}

void MindvaultDevServer::answerStepRaw(const std::string& step, int status, std::string body,
                                       int count)
{
    std::lock_guard lock(d->mutex);
    d->failures[step] = {status, 0, count, std::move(body)};
}

void MindvaultDevServer::unauthorizedNext(int count)
{
    std::lock_guard lock(d->mutex);
    d->unauthorizedLeft = count;
}

void MindvaultDevServer::setDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(d->mutex);
    d->delay = delay;
}

void MindvaultDevServer::revokeRefreshTokens()
{
    std::lock_guard lock(d->mutex);
    d->auth.revokeAll();
}

void MindvaultDevServer::expireAccessTokens()
{
    std::lock_guard lock(d->mutex);
    d->auth.expireAccessTokens();
}

void MindvaultDevServer::setProcessing(std::chrono::milliseconds processing)
{
    std::lock_guard lock(d->mutex);
    d->recordings.setProcessing(processing);
}

bool MindvaultDevServer::failSession(const std::string& sessionId, const std::string& code)
{
    std::lock_guard lock(d->mutex);
    return d->recordings.fail(sessionId, code);
}

void MindvaultDevServer::setDetectSpeech(bool on)
{
    std::lock_guard lock(d->mutex);
    d->recordings.setDetectSpeech(on);
}

void MindvaultDevServer::failNextProcessing(const std::string& code)
{
    std::lock_guard lock(d->mutex);
    d->recordings.failNextProcessing(code);
}

bool MindvaultDevServer::deleteSession(const std::string& sessionId)
{
    std::lock_guard lock(d->mutex);
    return d->recordings.remove(sessionId);
}

bool MindvaultDevServer::markAnalyzed(const std::string& sessionId)
{
    std::lock_guard lock(d->mutex);
    return d->recordings.markAnalyzed(sessionId);
}

void MindvaultDevServer::takeDeviceNo(const std::string& deviceNo)
{
    std::lock_guard lock(d->mutex);
    d->devices[deviceNo] = "org-someone-else";
}

void MindvaultDevServer::addUser(const std::string& email, const std::string& password,
                                 const std::string& orgId)
{
    std::lock_guard lock(d->mutex);
    d->addMembership(d->auth.addUser(email, password, orgId));
}

int MindvaultDevServer::requestCount(const std::string& step) const
{
    std::lock_guard lock(d->mutex);
    auto it = d->counts.find(step);
    return it == d->counts.end() ? 0 : it->second;
}

std::vector<MindvaultDevServer::Seen> MindvaultDevServer::requests(const std::string& step) const
{
    std::lock_guard lock(d->mutex);
    return d->requests.latest(step);
}

std::optional<std::string>
MindvaultDevServer::sessionIdFor(const std::string& clientRequestId) const
{
    std::lock_guard lock(d->mutex);
    return d->recordings.sessionFor(clientRequestId);
}

std::optional<json> MindvaultDevServer::session(const std::string& sessionId) const
{
    std::lock_guard lock(d->mutex);
    d->recordings.advance();
    return d->recordings.describe(sessionId);
}

nlohmann::json MindvaultDevServer::sessions() const
{
    std::lock_guard lock(d->mutex);
    d->recordings.advance();
    return d->recordings.describeAll();
}

std::optional<int64_t> MindvaultDevServer::storedChunkBytes(const std::string& sessionId,
                                                            int seq) const
{
    std::lock_guard lock(d->mutex);
    return d->recordings.storedBytes(sessionId, seq);
}
