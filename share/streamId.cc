#include "share/streamId.h"

#include <charconv>

std::string StreamId::text() const {
    return std::to_string(ms) + "-" + std::to_string(seq);
}

std::optional<StreamId> parseStreamId(std::string_view text) {
    StreamId id;
    const char* end = text.data() + text.size();
    auto [dash, failure] = std::from_chars(text.data(), end, id.ms);
    if (failure != std::errc() || dash == text.data() || dash == end || *dash != '-') {
        return std::nullopt;
    }
    auto [last, failure2] = std::from_chars(dash + 1, end, id.seq);
    if (failure2 != std::errc() || last == dash + 1 || last != end) {
        return std::nullopt;
    }
    return id;
}
