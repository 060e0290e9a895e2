#include "DevRequestLog.h"

void DevRequestLog::add(const std::string& step, std::string target, std::string body)
{
    auto& seen = m_seen[step];
    seen.push_back({std::move(target), std::move(body)});
    if (seen.size() > kept)
        seen.pop_front();
}

std::vector<DevRequestLog::Seen> DevRequestLog::latest(const std::string& step) const
{
    auto it = m_seen.find(step);
    if (it == m_seen.end())
        return {};
    return {it->second.begin(), it->second.end()};
}
