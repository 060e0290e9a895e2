#include "DevTables.h"

#include <algorithm>
#include <sstream>

namespace {

std::vector<std::string> split(const std::string& s, char sep)
{
    std::vector<std::string> out;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep))
        out.push_back(part);
    return out;
}

bool isControlParam(const std::string& key)
{
    return key == "select" || key == "order" || key == "limit" || key == "offset";
}

// A column value as PostgREST compares it in filters: its text form.
std::string text(const nlohmann::json& v)
{
    if (v.is_string())
        return v.get<std::string>();
    if (v.is_null())
        return "null";
    return v.dump();
}

bool holds(const nlohmann::json& row, const std::string& column, const std::string& filter)
{
    const auto it = row.find(column);
    const nlohmann::json value = it == row.end() ? nlohmann::json(nullptr) : *it;
    if (filter.rfind("eq.", 0) == 0)
        return !value.is_null() && text(value) == filter.substr(3);
    if (filter.rfind("neq.", 0) == 0)
        return !value.is_null() && text(value) != filter.substr(4);
    if (filter.rfind("in.(", 0) == 0 && filter.back() == ')') {
        const auto items = split(filter.substr(4, filter.size() - 5), ',');
        return !value.is_null() &&
               std::find(items.begin(), items.end(), text(value)) != items.end();
    }
    if (filter == "is.null")
        return value.is_null();
    if (filter == "is.true")
        return value.is_boolean() && value.get<bool>();
    if (filter == "is.false")
        return value.is_boolean() && !value.get<bool>();
    return false; // an operator we do not know matches nothing rather than everything
}

bool visible(const nlohmann::json& row, const std::string& orgId)
{
    const auto it = row.find("org_id");
    return it == row.end() || (it->is_string() && it->get<std::string>() == orgId);
}

} // namespace

void DevTables::insert(const std::string& table, Row row)
{
    m_tables[table].push_back(std::move(row));
}

bool DevTables::matches(const Row& row, const Params& params)
{
    for (const auto& [key, value] : params)
        if (!isControlParam(key) && !holds(row, key, value))
            return false;
    return true;
}

std::vector<DevTables::Row*> DevTables::match(const std::string& table, const Params& params,
                                              const std::string& orgId)
{
    std::vector<Row*> out;
    for (auto& row : m_tables[table])
        if (visible(row, orgId) && matches(row, params))
            out.push_back(&row);
    return out;
}

nlohmann::json DevTables::query(const std::string& table, const Params& params,
                                const std::string& orgId) const
{
    std::vector<Row> found;
    if (auto t = m_tables.find(table); t != m_tables.end())
        for (const auto& row : t->second)
            if (visible(row, orgId) && matches(row, params))
                found.push_back(row);

    if (auto order = params.find("order"); order != params.end()) {
        auto keys = split(order->second, ',');
        std::reverse(keys.begin(), keys.end()); // stable sorts, last key first
        for (const auto& key : keys) {
            const auto parts = split(key, '.');
            const bool desc = parts.size() > 1 && parts[1] == "desc";
            std::stable_sort(found.begin(), found.end(), [&](const Row& a, const Row& b) {
                const auto va = a.value(parts[0], nlohmann::json());
                const auto vb = b.value(parts[0], nlohmann::json());
                return desc ? vb < va : va < vb;
            });
        }
    }
    if (auto limit = params.find("limit"); limit != params.end()) {
        const auto n = std::stoul(limit->second);
        if (found.size() > n)
            found.resize(n);
    }

    nlohmann::json out = nlohmann::json::array();
    const auto select = params.find("select");
    for (const auto& row : found) {
        if (select == params.end() || select->second == "*") {
            out.push_back(row);
            continue;
        }
        nlohmann::json projected = nlohmann::json::object();
        for (const auto& column : split(select->second, ','))
            projected[column] = row.value(column, nlohmann::json());
        out.push_back(projected);
    }
    return out;
}
