#pragma once

// The stand-in service's state and routes, shared by its source files.

#include "DevAuth.h"
#include "DevRecordings.h"
#include "DevRequestLog.h"
#include "DevTables.h"
#include "DevWebPage.h"
#include "MindvaultDevServer.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <httplib.h>
#include <map>
#include <mutex>
#include <random>
#include <regex>
#include <thread>

namespace devserver {

using nlohmann::json;

enum class Guard { none, gateway, api, rest };

inline void send(httplib::Response& res, int status, const json& body)
{
    res.status = status;
    res.set_content(body.dump(), "application/json");
}

inline json parseObject(const std::string& text)
{
    auto j = json::parse(text, nullptr, false);
    return j.is_object() ? j : json();
}

inline std::string bearer(const httplib::Request& req)
{
    const std::string h = req.get_header_value("Authorization");
    return h.rfind("Bearer ", 0) == 0 ? h.substr(7) : std::string();
}

// No spaces or special characters; letters of any script are fine.
inline bool validDeviceNo(const std::string& no)
{
    static const std::regex bad(R"([\s!"#$%&'()*+,/:;<=>?@\[\\\]^`{|}~])");
    return !no.empty() && no.size() <= 256 && !std::regex_search(no, bad);
}

inline std::filesystem::path makeStorageDir()
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

} // namespace devserver

struct MindvaultDevServer::Impl {
    explicit Impl(const Options& o)
        : options(o), auth(o.accessTokenLifetime), storage(devserver::makeStorageDir()),
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
                       {"segments", nlohmann::json::array({{{"id", "m1"},
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
    const DevAuth::User* admit(const std::string& step, devserver::Guard guard,
                               const httplib::Request& req, httplib::Response& res)
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
        if ((guard == devserver::Guard::api || guard == devserver::Guard::rest) &&
            unauthorizedLeft > 0) {
            --unauthorizedLeft;
            devserver::send(res, 401, {{"error", "UNAUTHORIZED"}, {"message", "injected"}});
            return nullptr;
        }
        if (auto f = failures.find(step); f != failures.end() && f->second.count > 0) {
            if (f->second.after > 0) {
                --f->second.after;
            } else {
                --f->second.count;
                res.status = f->second.status;
                res.set_content(
                    f->second.body.value_or(
                        nlohmann::json{{"error", "INJECTED_FAULT"}, {"step", step}}.dump()),
                    "application/nlohmann::json");
                return nullptr;
            }
        }
        static const DevAuth::User nobody;
        switch (guard) {
        case devserver::Guard::none:
            return &nobody;
        case devserver::Guard::gateway:
            if (req.get_header_value("apikey") != options.anonKey) {
                devserver::send(res, 401, {{"message", "Invalid API key"}});
                return nullptr;
            }
            return &nobody;
        case devserver::Guard::rest:
            if (req.get_header_value("apikey") != options.anonKey) {
                devserver::send(res, 401, {{"message", "Invalid API key"}});
                return nullptr;
            }
            [[fallthrough]];
        case devserver::Guard::api: {
            const DevAuth::User* user = auth.userForAccess(devserver::bearer(req));
            if (!user) {
                devserver::send(res, 401,
                                {{"code", "PGRST301"}, {"message", "JWT expired or invalid"}});
                return nullptr;
            }
            if (guard == devserver::Guard::api &&
                (user->orgId.empty() ||
                 req.get_header_value("x-mindvault-org-id") != user->orgId)) {
                devserver::send(res, 403, {{"error", "ORG_FORBIDDEN"}});
                return nullptr;
            }
            return user;
        }
        }
        return nullptr;
    }

    // Runs handler(user) under the lock once the request is admitted.
    template <typename F>
    httplib::Server::Handler route(std::string step, devserver::Guard guard, F handler)
    {
        return [this, step, guard, handler](const httplib::Request& req, httplib::Response& res) {
            const DevAuth::User* user = admit(step, guard, req, res);
            if (user)
                handler(*user, req, res); // admit() left the lock released; handlers lock
        };
    }

    void reply(httplib::Response& res, const DevRecordings::Reply& r)
    {
        devserver::send(res, r.status, r.body);
    }

    void routes();
    void controlRoutes();
};
