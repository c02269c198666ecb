#include "share/shareNotice.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "diag/traceLog.h"

void shareSay(const std::string& line) {
    TRACE_LOG(TRACE_DETAIL, "%s", line.c_str());
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool shareSayAtMostEvery(const std::string& reason, std::chrono::seconds period,
                         const std::string& line) {
    // Never destroyed: a thread may still say something while the process ends.
    static std::mutex* lock = new std::mutex;
    static auto* lastSaid = new std::map<std::string, std::chrono::steady_clock::time_point>;
    auto now = std::chrono::steady_clock::now();
    {
        std::lock_guard guard(*lock);
        auto [at, fresh] = lastSaid->try_emplace(reason, now);
        if (!fresh) {
            if (now - at->second < period) {
                return false;
            }
            at->second = now;
        }
    }
    shareSay(line);
    return true;
}
