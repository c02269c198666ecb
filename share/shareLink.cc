#include "share/shareLink.h"

#include <cstdio>
#include <thread>

#include "diag/traceLog.h"
#include "share/shareCounters.h"

namespace {

void reportAway(ShareState& state, const std::string& error) {
    if (state.redisAway.exchange(true)) {
        return;
    }
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieShare -- Redis at %s unreachable (%s); serving from the local cache "
              "and retrying.",
              state.endpoint.describe().c_str(), error.c_str());
    std::fprintf(stderr,
                 "logoffCookieShare -- Redis at %s unreachable (%s); serving from the local cache "
                 "and retrying.\n",
                 state.endpoint.describe().c_str(), error.c_str());
    std::fflush(stderr);
}

}  // namespace

bool ShareConnector::ensureConnected(RedisLink& link) {
    if (link.connected()) {
        return true;
    }
    if (retrySeconds_ > 0) {
        waitBeforeRetry(retrySeconds_);
    }
    ShareState& state = shareState();
    std::string error;
    if (!link.connect(state.endpoint, ioTimeout_, error)) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connect to %s failed: %s", name_,
                  state.endpoint.describe().c_str(), error.c_str());
        reportAway(state, error);
        retrySeconds_ = retrySeconds_ == 0 ? SHARE_FIRST_RETRY_SECONDS
                                           : std::min(2 * retrySeconds_, SHARE_LAST_RETRY_SECONDS);
        return false;
    }
    if (everConnected_ || retrySeconds_ > 0) {
        countShare(shareCounters().reconnects);
    }
    everConnected_ = true;
    retrySeconds_ = 0;
    connectedAt_ = std::chrono::steady_clock::now();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connected to %s.", name_,
              state.endpoint.describe().c_str());
    if (state.redisAway.exchange(false)) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- Redis at %s reachable again.",
                  state.endpoint.describe().c_str());
    }
    return true;
}

void ShareConnector::lost(RedisLink& link, const std::string& error) {
    link.close();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connection lost: %s", name_, error.c_str());
    reportAway(shareState(), error);
    // A link that served a while is tried again at once: a restarted Redis
    // is often back already. One lost as soon as made (a proxy without a
    // server behind it) waits as a failed connect does, or the thread would
    // spin.
    bool servedAWhile = std::chrono::steady_clock::now() - connectedAt_ >=
                        std::chrono::seconds(SHARE_FIRST_RETRY_SECONDS);
    quickLosses_ = servedAWhile ? 0 : std::min(quickLosses_ + 1, 8);
    retrySeconds_ = quickLosses_ == 0 ? 0
                                      : std::min(SHARE_FIRST_RETRY_SECONDS << (quickLosses_ - 1),
                                                 SHARE_LAST_RETRY_SECONDS);
}

void ShareConnector::refused() {
    refusalSeconds_ = refusalSeconds_ == 0
                          ? SHARE_FIRST_RETRY_SECONDS
                          : std::min(2 * refusalSeconds_, SHARE_LAST_RETRY_SECONDS);
    waitBeforeRetry(refusalSeconds_);
}

void ShareConnector::waitBeforeRetry(int seconds) {
    // In short steps, so that a stop at exit does not wait for the whole pause.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        thread_.serviceCancellation();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
