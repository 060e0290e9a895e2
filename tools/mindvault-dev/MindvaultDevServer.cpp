#include "MindvaultDevServer.h"

#include "DevAuth.h"
#include "DevRecordings.h"
#include "DevRequestLog.h"
#include "DevTables.h"
#include "DevWebPage.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <httplib.h>
#include <map>
#include <mutex>
#include <regex>
#include <thread>

using nlohmann::json;

namespace {

enum class Guard { none, gateway, api, rest };

void send(httplib::Response& res, int status, const json& body)
{
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

json parseObject(const std::string& text)
{
    auto j = json::parse(text, nullptr, false);
    return j.is_object() ? j : json();
}

std::string bearer(const httplib::Request& req)
{
    const std::string h = req.get_header_value("Authorization");
    return h.rfind("Bearer ", 0) == 0 ? h.substr(7) : std::string();
}

// No spaces or special characters; letters of any script are fine.
bool validDeviceNo(const std::string& no)
{
    static const std::regex bad(R"([\s!"#$%&'()*+,/:;<=>?@\[\\\]^`{|}~])");
    return !no.empty() && no.size() <= 256 && !std::regex_search(no, bad);
}

std::filesystem::path makeStorageDir()
{
    std::error_code ec;
    auto base = std::filesystem::temp_directory_path(ec);
    if (ec)
        base = "/tmp";
    for (unsigned n = std::random_device{}();; ++n) {
        auto dir = base / ("mindvault-dev-" + std::to_string(n));
        if (std::filesystem::create_directory(dir, ec))
            return dir;
    }
}

} // namespace

struct MindvaultDevServer::Impl {
    explicit Impl(const Options& o)
        : options(o), auth(o.accessTokenLifetime), storage(makeStorageDir()),
          recordings(tables, storage / "objects", o.processing)
    {
        recordings.setDetectSpeech(o.detectSpeech);
    }
    ~Impl()
    {
        std::error_code ec;
        std::filesystem::remove_all(storage, ec);
    }

    Options options;
    httplib::Server server;
    std::thread thread;
    std::atomic<int> port{0};

    mutable std::mutex mutex; // guards everything below
    DevAuth auth;
    DevTables tables;
    std::filesystem::path storage;
    DevRecordings recordings;
    std::map<std::string, std::string> devices; // device number -> org id
    struct Failure {
        int status = 500;
        int after = 0;
        int count = 0;
        std::optional<std::string> body; // absent: the fault marker
    };
    std::map<std::string, Failure> failures;
    std::map<std::string, int> counts;
    DevRequestLog requests;
    int unauthorizedLeft = 0;
    std::chrono::milliseconds delay{0};

    std::string base() const { return "http://127.0.0.1:" + std::to_string(port.load()); }

    void seed()
    {
        const auto& user = auth.addUser(options.email, options.password, options.orgId);
        addMembership(user);
        const std::string org = options.orgId;
        tables.insert("user_profiles",
                      {{"id", "up-1"}, {"org_id", org}, {"display_name", "王小明"}});
        tables.insert("user_profiles", {{"id", "up-2"}, {"org_id", org}, {"display_name", "李华"}});
        tables.insert(
            "projects",
            {{"id", "pj-1"}, {"org_id", org}, {"name", "周会"}, {"updated_at", "2024-05-02"}});
        tables.insert(
            "projects",
            {{"id", "pj-2"}, {"org_id", org}, {"name", "访谈"}, {"updated_at", "2024-05-01"}});
        // A transcript not made from a recording upload: its speakers are written directly.
        tables.insert("transcripts",
                      {{"id", "tr-manual"},
                       {"org_id", org},
                       {"title", "手动导入的会议"},
                       {"segments", json::array({{{"id", "m1"},
                                                  {"speaker", "S1"},
                                                  {"text", "这是一条手动导入的转写。"},
                                                  {"start_ms", 0},
                                                  {"end_ms", 4000}}})}});
        tables.insert("speakers", {{"id", "tr-manual-S1"},
                                   {"org_id", org},
                                   {"transcript_id", "tr-manual"},
                                   {"label", "S1"},
                                   {"inferred_identity", nullptr},
                                   {"confirmed", false},
                                   {"user_profile_id", nullptr},
                                   {"canonical", false}});
    }

    void addMembership(const DevAuth::User& user)
    {
        if (!user.orgId.empty())
            tables.insert("memberships", {{"user_id", user.id},
                                          {"org_id", user.orgId},
                                          {"created_at", "2024-01-01T00:00:00Z"}});
    }

    // Counting, delays, injected faults and the credentials every route of a kind requires.
    // Returns the signed-in user for api and rest routes, nullptr when the answer is already set.
    const DevAuth::User* admit(const std::string& step, Guard guard, const httplib::Request& req,
                               httplib::Response& res)
    {
        std::chrono::milliseconds wait;
        {
            std::lock_guard lock(mutex);
            ++counts[step];
            requests.add(step, req.target, req.body);
            wait = delay;
        }
        if (wait.count() > 0)
            std::this_thread::sleep_for(wait);

        std::lock_guard lock(mutex);
        recordings.advance();
        if ((guard == Guard::api || guard == Guard::rest) && unauthorizedLeft > 0) {
            --unauthorizedLeft;
            send(res, 401, {{"error", "UNAUTHORIZED"}, {"message", "injected"}});
            return nullptr;
        }
        if (auto f = failures.find(step); f != failures.end() && f->second.count > 0) {
            if (f->second.after > 0) {
                --f->second.after;
            } else {
                --f->second.count;
                res.status = f->second.status;
                res.set_content(f->second.body.value_or(
                                    json{{"error", "INJECTED_FAULT"}, {"step", step}}.dump()),
                                "application/json");
                return nullptr;
            }
        }
        static const DevAuth::User nobody;
        switch (guard) {
        case Guard::none:
            return &nobody;
        case Guard::gateway:
            if (req.get_header_value("apikey") != options.anonKey) {
                send(res, 401, {{"message", "Invalid API key"}});
                return nullptr;
            }
            return &nobody;
        case Guard::rest:
            if (req.get_header_value("apikey") != options.anonKey) {
                send(res, 401, {{"message", "Invalid API key"}});
                return nullptr;
            }
            [[fallthrough]];
        case Guard::api: {
            const DevAuth::User* user = auth.userForAccess(bearer(req));
            if (!user) {
                send(res, 401, {{"code", "PGRST301"}, {"message", "JWT expired or invalid"}});
                return nullptr;
            }
            if (guard == Guard::api &&
                (user->orgId.empty() ||
                 req.get_header_value("x-mindvault-org-id") != user->orgId)) {
                send(res, 403, {{"error", "ORG_FORBIDDEN"}});
                return nullptr;
            }
            return user;
        }
        }
        return nullptr;
    }

    // Runs handler(user) under the lock once the request is admitted.
    template <typename F> httplib::Server::Handler route(std::string step, Guard guard, F handler)
    {
        return [this, step, guard, handler](const httplib::Request& req, httplib::Response& res) {
            const DevAuth::User* user = admit(step, guard, req, res);
            if (user)
                handler(*user, req, res); // admit() left the lock released; handlers lock
        };
    }

    void reply(httplib::Response& res, const DevRecordings::Reply& r)
    {
        send(res, r.status, r.body);
    }

    void routes();
    void controlRoutes();
};

void MindvaultDevServer::Impl::routes()
{
    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    using User = const DevAuth::User&;

    server.Post("/auth/v1/token", [this](Req req, Res res) {
        const std::string grant = req.get_param_value("grant_type");
        const bool password = grant == "password";
        const auto handler = [this, password](User, Req rq, Res rs) {
            const json body = parseObject(rq.body);
            std::lock_guard lock(mutex);
            std::optional<DevAuth::Grant> g;
            if (password)
                g = auth.passwordGrant(body.value("email", ""), body.value("password", ""));
            else
                g = auth.refreshGrant(body.value("refresh_token", ""));
            if (!g) {
                send(rs, 400,
                     password ? json{{"error", "invalid_grant"},
                                     {"error_description", "Invalid login credentials"}}
                              : json{{"error", "invalid_grant"},
                                     {"error_description", "Invalid Refresh Token"}});
                return;
            }
            send(rs, 200,
                 {{"access_token", g->accessToken},
                  {"refresh_token", g->refreshToken},
                  {"token_type", "bearer"},
                  {"expires_in", g->expiresIn}});
        };
        if (!password && grant != "refresh_token")
            return send(res, 400, {{"error", "unsupported_grant_type"}});
        route(password ? "password" : "refresh", Guard::gateway, handler)(req, res);
    });

    server.Get(R"(/rest/v1/(\w+))", [this](Req req, Res res) {
        const std::string table = req.matches[1];
        route(table == "memberships" ? "memberships" : "rest", Guard::rest,
              [this, table](User user, Req rq, Res rs) {
                  std::lock_guard lock(mutex);
                  DevTables::Params params(rq.params.begin(), rq.params.end());
                  if (table == "memberships")
                      params.emplace("user_id", "eq." + user.id); // row-level security
                  try {
                      send(rs, 200, tables.query(table, params, user.orgId));
                  } catch (const std::exception&) {
                      send(rs, 400, {{"code", "PGRST100"}, {"message", "bad query"}});
                  }
              })(req, res);
    });

    server.Patch(
        "/rest/v1/speakers", route("rest-patch", Guard::rest, [this](User user, Req req, Res res) {
            const json body = parseObject(req.body);
            DevTables::Params params(req.params.begin(), req.params.end());
            if (body.is_null() || params.empty())
                return send(
                    res, 400,
                    {{"code", "PGRST100"}, {"message", "a filter and a JSON body are required"}});
            for (const auto& [key, value] : body.items())
                if (key != "confirmed" && key != "inferred_identity" && key != "user_profile_id")
                    return send(res, 400,
                                {{"code", "PGRST204"}, {"message", "unknown column " + key}});
            std::lock_guard lock(mutex);
            const auto rows = tables.match("speakers", params, user.orgId);
            for (const auto* row : rows)
                if (row->value("canonical", false))
                    return send(res, 403,
                                {{"code", "42501"},
                                 {"message", "permission denied for table speakers: "
                                             "service-role write only"}});
            for (auto* row : rows)
                for (const auto& [key, value] : body.items())
                    (*row)[key] = value;
            res.status = 204;
        }));

    const std::string rec = R"(/api/recordings/([\w-]+))";
    server.Post("/api/recordings", route("create", Guard::api, [this](User user, Req req, Res res) {
                    std::lock_guard lock(mutex);
                    reply(res, recordings.create(user.orgId, parseObject(req.body)));
                }));
    server.Post(
        rec + "/chunks/ticket", route("ticket", Guard::api, [this](User user, Req req, Res res) {
            std::lock_guard lock(mutex);
            reply(res,
                  recordings.ticket(user.orgId, req.matches[1], parseObject(req.body), base()));
        }));
    server.Post(
        rec + R"(/chunks/(\d+)/complete)",
        route("complete", Guard::api, [this](User user, Req req, Res res) {
            std::lock_guard lock(mutex);
            reply(res, recordings.complete(user.orgId, req.matches[1], std::stoi(req.matches[2])));
        }));
    server.Post(rec + "/stop", route("stop", Guard::api, [this](User user, Req req, Res res) {
                    std::lock_guard lock(mutex);
                    reply(res, recordings.stop(user.orgId, req.matches[1], parseObject(req.body)));
                }));
    server.Post(rec + "/finalize",
                route("finalize", Guard::api, [this](User user, Req req, Res res) {
                    const std::string id = req.matches[1];
                    std::optional<DevRecordings::SpeechCheck> check;
                    {
                        std::lock_guard lock(mutex);
                        reply(res, recordings.finalize(user.orgId, id));
                        check = recordings.takeSpeechCheck(id);
                    }
                    // Decoding runs outside the lock (a short recording takes milliseconds);
                    // the session stays "processing" until the verdict is in.
                    if (check) {
                        const auto verdict = DevSpeechCheck::check(check->parts, check->scratch);
                        std::lock_guard lock(mutex);
                        recordings.settleSpeechCheck(id, verdict);
                    }
                }));
    server.Get(rec, route("status", Guard::api, [this](User user, Req req, Res res) {
                   std::lock_guard lock(mutex);
                   reply(res, recordings.get(user.orgId, req.matches[1]));
               }));
    server.Patch(
        rec + "/speakers", route("speakers", Guard::api, [this](User user, Req req, Res res) {
            std::lock_guard lock(mutex);
            reply(res,
                  recordings.assignSpeakers(user.orgId, req.matches[1], parseObject(req.body)));
        }));

    // Presigned object storage: the URL is the credential; service headers are refused the way
    // object stores refuse a second authentication mechanism. The body streams to disk, so big
    // uploads never sit in memory.
    server.Put(R"(/_storage/(\w+))", [this](Req req, Res res, const httplib::ContentReader& read) {
        const auto drain = [&read] {
            read([](const char*, size_t) { return true; });
        };
        if (!admit("put", Guard::none, req, res))
            return drain();
        if (req.has_header("Authorization") || req.has_header("x-mindvault-org-id") ||
            req.has_header("apikey")) {
            drain();
            return send(
                res, 400,
                {{"error", "InvalidArgument"}, {"message", "only one auth mechanism allowed"}});
        }
        const std::string token = req.matches[1];
        std::variant<DevRecordings::Reply, std::filesystem::path> target;
        {
            std::lock_guard lock(mutex);
            target = recordings.beginPut(token, req.get_header_value("Content-Type"));
        }
        if (auto* refused = std::get_if<DevRecordings::Reply>(&target)) {
            drain();
            return reply(res, *refused);
        }
        const auto path = std::get<std::filesystem::path>(target);
        std::FILE* out = std::fopen(path.c_str(), "wb");
        bool ok = out != nullptr;
        read([&](const char* data, size_t length) {
            ok = ok && std::fwrite(data, 1, length, out) == length;
            return true;
        });
        ok = out && std::fclose(out) == 0 && ok;
        std::lock_guard lock(mutex);
        if (!ok)
            return send(res, 500, {{"error", "InternalError"}, {"message", "could not store"}});
        reply(res, recordings.finishPut(token, path));
    });

    server.Post("/api/devices/self-register",
                route("register", Guard::api, [this](User user, Req req, Res res) {
                    const json body = parseObject(req.body);
                    const std::string provider = body.value("provider", "");
                    const std::string no = body.value("deviceNo", "");
                    if (provider.empty() || !validDeviceNo(no))
                        return send(res, 400, {{"error", "device_no_invalid"}});
                    std::lock_guard lock(mutex);
                    auto [it, added] = devices.emplace(no, user.orgId);
                    if (!added && it->second != user.orgId)
                        return send(res, 409, {{"error", "device_taken"}});
                    send(res, added ? 201 : 200, {{"deviceNo", no}, {"provider", provider}});
                }));

    server.Get("/", [this](Req, Res res) {
        std::lock_guard lock(mutex);
        recordings.advance();
        res.set_content(DevWebPage::index(tables.query("transcripts", {}, options.orgId)),
                        "text/html; charset=utf-8");
    });
    server.Get(R"(/zh/transcript/([\w-]+))", [this](Req req, Res res) {
        std::lock_guard lock(mutex);
        recordings.advance();
        const json rows = tables.query("transcripts", {{"id", "eq." + std::string(req.matches[1])}},
                                       options.orgId);
        res.status = rows.empty() ? 404 : 200;
        res.set_content(DevWebPage::transcript(rows.empty() ? json() : rows[0]),
                        "text/html; charset=utf-8");
    });
}

void MindvaultDevServer::Impl::controlRoutes()
{
    using Req = const httplib::Request&;
    using Res = httplib::Response&;
    // Each switch answers {"ok": true|false}; see README.md.
    const auto control = [this](const char* name, std::function<bool(Req)> action) {
        server.Post(std::string("/_control/") + name, [action](Req req, Res res) {
            try {
                const bool ok = action(req);
                send(res, ok ? 200 : 404, {{"ok", ok}});
            } catch (const std::exception& e) {
                send(res, 400, {{"ok", false}, {"error", e.what()}});
            }
        });
    };
    const auto num = [](Req req, const char* key, const char* fallback) {
        return std::stod(req.has_param(key) ? req.get_param_value(key) : fallback);
    };
    auto* self = this;
    control("fail", [self, num](Req req) {
        std::lock_guard lock(self->mutex);
        std::optional<json> body;
        if (req.has_param("body"))
            body = json::parse(req.get_param_value("body"));
        self->failures[req.get_param_value("step")] = {
            int(num(req, "status", "500")), int(num(req, "after", "0")),
            int(num(req, "count", "1")), std::move(body)};
        return true;
    });
    control("unauthorized", [self, num](Req req) {
        std::lock_guard lock(self->mutex);
        self->unauthorizedLeft = int(num(req, "count", "1"));
        return true;
    });
    control("delay", [self, num](Req req) {
        std::lock_guard lock(self->mutex);
        self->delay = std::chrono::milliseconds(int64_t(num(req, "ms", "0")));
        return true;
    });
    control("revoke", [self](Req) {
        std::lock_guard lock(self->mutex);
        self->auth.revokeAll();
        return true;
    });
    control("expire-access", [self](Req) {
        std::lock_guard lock(self->mutex);
        self->auth.expireAccessTokens();
        return true;
    });
    control("processing", [self, num](Req req) {
        std::lock_guard lock(self->mutex);
        self->recordings.setProcessing(
            std::chrono::milliseconds(int64_t(num(req, "seconds", "0") * 1000)));
        return true;
    });
    control("fail-session", [self](Req req) {
        std::lock_guard lock(self->mutex);
        return self->recordings.fail(req.get_param_value("id"), req.get_param_value("code"));
    });
    control("fail-next-processing", [self](Req req) {
        std::lock_guard lock(self->mutex);
        self->recordings.failNextProcessing(req.get_param_value("code"));
        return true;
    });
    control("delete-session", [self](Req req) {
        std::lock_guard lock(self->mutex);
        return self->recordings.remove(req.get_param_value("id"));
    });
    control("analyzed", [self](Req req) {
        std::lock_guard lock(self->mutex);
        return self->recordings.markAnalyzed(req.get_param_value("id"));
    });
    control("take-device", [self](Req req) {
        std::lock_guard lock(self->mutex);
        self->devices[req.get_param_value("no")] = "org-someone-else";
        return true;
    });
    server.Get("/_control/stats", [self](Req, Res res) {
        std::lock_guard lock(self->mutex);
        send(res, 200, {{"counts", self->counts}});
    });
    server.Get("/_control/session", [self](Req req, Res res) {
        std::lock_guard lock(self->mutex);
        self->recordings.advance();
        std::string id = req.get_param_value("id");
        if (req.has_param("clientRequestId"))
            id = self->recordings.sessionFor(req.get_param_value("clientRequestId")).value_or("");
        const auto s = self->recordings.describe(id);
        send(res, s ? 200 : 404, s ? json{{"session", *s}} : json{{"error", "SESSION_NOT_FOUND"}});
    });
    server.Get("/_control/sessions", [self](Req, Res res) {
        std::lock_guard lock(self->mutex);
        self->recordings.advance();
        send(res, 200, {{"sessions", self->recordings.describeAll()}});
    });
}

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
