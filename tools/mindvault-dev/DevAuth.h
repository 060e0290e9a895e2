#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <random>
#include <string>

// The stand-in's accounts and tokens: password and refresh grants, rotating refresh tokens
// (a used one is dead), revocation of all of a user's refresh tokens, expiring access tokens.
// Not thread-safe; the server serialises access.
class DevAuth {
public:
    using Clock = std::chrono::steady_clock;

    struct User {
        std::string id;
        std::string email;
        std::string password;
        std::string orgId; // empty: the account belongs to no organisation
    };
    struct Grant {
        std::string accessToken;
        std::string refreshToken;
        int expiresIn = 0;
    };

    explicit DevAuth(std::chrono::milliseconds accessLifetime);

    const User& addUser(std::string email, std::string password, std::string orgId);
    std::optional<Grant> passwordGrant(const std::string& email, const std::string& password);
    // nullopt when the token is unknown, used already (rotated) or revoked.
    std::optional<Grant> refreshGrant(const std::string& refreshToken);
    // The user an access token belongs to, while it is valid.
    const User* userForAccess(const std::string& accessToken) const;

    void revokeAll(); // every refresh token of every user, like a web sign-out
    void expireAccessTokens();
    void setAccessLifetime(std::chrono::milliseconds lifetime) { m_accessLifetime = lifetime; }
    const std::map<std::string, User>& users() const { return m_users; }

private:
    Grant issue(const std::string& userId);
    std::string randomToken(const char* prefix);

    std::chrono::milliseconds m_accessLifetime;
    std::mt19937_64 m_random{std::random_device{}()};
    std::map<std::string, User> m_users;          // by id
    std::map<std::string, std::string> m_refresh; // live refresh token -> user id
    std::map<std::string, std::pair<std::string, Clock::time_point>> m_access; // -> user, expiry
};
