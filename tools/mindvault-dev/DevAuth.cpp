#include "DevAuth.h"

#include <cstdio>

DevAuth::DevAuth(std::chrono::milliseconds accessLifetime) : m_accessLifetime(accessLifetime) {}

const DevAuth::User& DevAuth::addUser(std::string email, std::string password, std::string orgId)
{
    const std::string id = "user-" + std::to_string(m_users.size() + 1);
    return m_users[id] = User{id, std::move(email), std::move(password), std::move(orgId)};
}

std::string DevAuth::randomToken(const char* prefix)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%s%016llx%016llx", prefix,
                  static_cast<unsigned long long>(m_random()),
                  static_cast<unsigned long long>(m_random()));
    return buf;
}

DevAuth::Grant DevAuth::issue(const std::string& userId)
{
    Grant g{randomToken("at-"), randomToken("rt-"),
            int(std::chrono::duration_cast<std::chrono::seconds>(m_accessLifetime).count())};
    m_access[g.accessToken] = {userId, Clock::now() + m_accessLifetime};
    m_refresh[g.refreshToken] = userId;
    return g;
}

std::optional<DevAuth::Grant> DevAuth::passwordGrant(const std::string& email,
                                                     const std::string& password)
{
    for (const auto& [id, user] : m_users)
        if (user.email == email && user.password == password)
            return issue(id);
    return std::nullopt;
}

std::optional<DevAuth::Grant> DevAuth::refreshGrant(const std::string& refreshToken)
{
    auto it = m_refresh.find(refreshToken);
    if (it == m_refresh.end())
        return std::nullopt;
    const std::string userId = it->second;
    m_refresh.erase(it); // rotation: a refresh token is good for one exchange
    return issue(userId);
}

const DevAuth::User* DevAuth::userForAccess(const std::string& accessToken) const
{
    auto it = m_access.find(accessToken);
    if (it == m_access.end() || Clock::now() >= it->second.second)
        return nullptr;
    auto user = m_users.find(it->second.first);
    return user == m_users.end() ? nullptr : &user->second;
}

void DevAuth::revokeAll()
{
    m_refresh.clear();
}

void DevAuth::expireAccessTokens()
{
    m_access.clear();
}
