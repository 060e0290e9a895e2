#pragma once

#include <nlohmann/json.hpp>
#include <string>

// The stand-in's web pages: what a browser shows for the service's address and for one
// transcript.
namespace DevWebPage {

std::string index(const nlohmann::json& transcripts);
// transcript: a row of the transcripts table (id, title, segments); nullptr-json when unknown.
std::string transcript(const nlohmann::json& row);

} // namespace DevWebPage
