#include "share/shareNotice.h"

#include <cstdio>

#include "diag/keyedOncePerInterval.h"
#include "diag/traceLog.h"

namespace {

// Far more than the reasons sharing meets at once (a refusal per command,
// a TLS failure or a flagged replica per node, a few about the stream).
constexpr std::size_t kNoticeReasons = 64;

}  // namespace

void shareSay(const std::string& line) {
    TRACE_LOG(TRACE_DETAIL, "%s", line.c_str());
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

bool shareNotice(const std::string& reason, const std::string& line) {
    // Never destroyed: a thread may still say something while the process ends.
    static auto* notices = new KeyedOncePerInterval(kShareNoticePeriod.count(), kNoticeReasons);
    if (!notices->due(reason, OncePerInterval::monotonicNow())) {
        return false;
    }
    shareSay(line);
    return true;
}
