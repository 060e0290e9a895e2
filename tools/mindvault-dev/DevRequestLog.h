#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

// The latest requests of each step, for tests that check what a client sent. Bounded, so a
// long demo run does not grow it. Not thread-safe; the server serialises access.
class DevRequestLog {
public:
    struct Seen {
        std::string target; // path and query as received
        std::string body;
    };
    static constexpr size_t kept = 256; // per step

    void add(const std::string& step, std::string target, std::string body);
    std::vector<Seen> latest(const std::string& step) const;

private:
    std::map<std::string, std::deque<Seen>> m_seen;
};
