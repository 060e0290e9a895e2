// The stand-in service's routes: gateway, tables, application API, storage, web page.

#include "DevServerImpl.h"

using namespace devserver;

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
