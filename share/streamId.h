// Stream entry ids: milliseconds and a sequence number, "1700000000000-0".
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct StreamId {
    std::uint64_t ms = 0;
    std::uint64_t seq = 0;

    auto operator<=>(const StreamId&) const = default;
    std::string text() const;
};

// The id `text` stands for; nullopt for anything else (a missing part, a
// sign, a blank, a number beyond 64 bits).
std::optional<StreamId> parseStreamId(std::string_view text);
