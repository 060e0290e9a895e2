#pragma once

#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

// The stand-in's tables, read with PostgREST-style queries: column filters "eq.", "in.(...)",
// "is.true|false|null", "select" of plain columns, "order=col[.asc|.desc]" (comma list) and
// "limit". Rows carry an "org_id" the reader must match (row-level security); tables without
// it are open to every signed-in user. Not thread-safe; the server serialises access.
class DevTables {
public:
    using Row = nlohmann::json;
    using Params = std::multimap<std::string, std::string>;

    void insert(const std::string& table, Row row);
    std::vector<Row>& rows(const std::string& table) { return m_tables[table]; }
    bool hasTable(const std::string& table) const { return m_tables.count(table) != 0; }

    // The rows a user of orgId sees for the query, projected to the selected columns.
    nlohmann::json query(const std::string& table, const Params& params,
                         const std::string& orgId) const;
    // The rows (of orgId) matching the query's filters, for updates.
    std::vector<Row*> match(const std::string& table, const Params& params,
                            const std::string& orgId);

    // True when every filter in params holds for the row.
    static bool matches(const Row& row, const Params& params);

private:
    std::map<std::string, std::vector<Row>> m_tables;
};
