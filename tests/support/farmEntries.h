// Entries written straight to the farm's stream, as a host (or a writer
// with another secret) publishes them. Header-only: for the tests that
// link farm sharing.
#pragma once

#include <string>
#include <vector>

#include "cache/farmKey.h"
#include "share/shareEntry.h"

namespace lctest {

// The XADD that adds `logoff` to `stream`, signed with `key`, from no run.
inline std::vector<std::string> xaddOfLogoff(const std::string& stream, const FarmKey& key,
                                             const FarmLogoff& logoff) {
    std::vector<std::string> xadd = {"XADD", stream, "*"};
    for (const auto& [name, value] : encodeShareEntry(key, logoff, ShareRunId{})) {
        xadd.push_back(name);
        xadd.push_back(value);
    }
    return xadd;
}

}  // namespace lctest
