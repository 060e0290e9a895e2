// The stand-in service's /_control/ routes (see README.md).

#include "DevServerImpl.h"

using namespace devserver;

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
