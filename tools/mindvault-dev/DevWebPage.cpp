#include "DevWebPage.h"

#include <cstdio>

namespace {

std::string escape(const std::string& s)
{
    std::string out;
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        default:
            out += c;
        }
    }
    return out;
}

std::string page(const std::string& title, const std::string& body)
{
    return "<!doctype html><html lang=\"zh\"><head><meta charset=\"utf-8\"><title>" +
           escape(title) +
           "</title><style>body{font-family:sans-serif;max-width:48em;margin:2em auto;}"
           ".t{color:#888;font-size:.85em}.s{font-weight:bold}</style></head><body>" +
           body + "</body></html>";
}

std::string clock(int64_t ms)
{
    char buf[48];
    std::snprintf(buf, sizeof buf, "%02lld:%02lld", static_cast<long long>(ms / 60000),
                  static_cast<long long>(ms / 1000 % 60));
    return buf;
}

} // namespace

namespace DevWebPage {

std::string index(const nlohmann::json& transcripts)
{
    std::string body = "<h1>Mindvault (dev)</h1><ul>";
    for (const auto& t : transcripts) {
        const std::string id = t.value("id", "");
        body += "<li><a href=\"/zh/transcript/" + escape(id) + "\">" +
                escape(t.value("title", id)) + "</a></li>";
    }
    return page("Mindvault (dev)", body + "</ul>");
}

std::string transcript(const nlohmann::json& row)
{
    if (!row.is_object())
        return page("Mindvault (dev)", "<h1>没有这条转写</h1>");
    const std::string title = row.value("title", row.value("id", ""));
    std::string body = "<p><a href=\"/\">Mindvault (dev)</a></p><h1>" + escape(title) + "</h1>";
    for (const auto& s : row.value("segments", nlohmann::json::array()))
        body += "<p><span class=\"t\">" + clock(s.value("start_ms", int64_t(0))) +
                "</span> <span class=\"s\">" + escape(s.value("speaker", "")) + "</span> " +
                escape(s.value("text", "")) + "</p>";
    return page(title, body);
}

} // namespace DevWebPage
