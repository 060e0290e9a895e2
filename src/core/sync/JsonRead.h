#pragma once

#include <cstdint>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>

// Strict reads of JSON values for the lenient, per-key decoders of our files.
namespace JsonRead {

// An integer that fits in int; anything else (fractions, strings, out of range) is absent.
inline std::optional<int> toInt(const nlohmann::json& v)
{
    constexpr auto lo = std::numeric_limits<int>::min();
    constexpr auto hi = std::numeric_limits<int>::max();
    if (v.is_number_unsigned()) {
        const auto u = v.get<uint64_t>();
        return u <= static_cast<uint64_t>(hi) ? std::optional<int>(static_cast<int>(u))
                                              : std::nullopt;
    }
    if (v.is_number_integer()) {
        const auto n = v.get<int64_t>();
        return n >= lo && n <= hi ? std::optional<int>(static_cast<int>(n)) : std::nullopt;
    }
    return std::nullopt;
}

} // namespace JsonRead
