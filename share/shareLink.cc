#include "share/shareLink.h"

#include <algorithm>
#include <thread>

#include "diag/shareMetrics.h"
#include "diag/traceLog.h"
#include "share/redisRefusal.h"
#include "share/sentinelDiscovery.h"
#include "share/shareNotice.h"
#include "share/shareState.h"

namespace {

void reportAway(ShareState& state, const std::string& error) {
    if (state.redisAway.exchange(true)) {
        return;
    }
    shareSay("logoffCookieShare -- Redis at " + state.endpoint.describe() + " unreachable (" +
             error + "); serving from the local cache and retrying.");
}

void reportBack(ShareState& state) {
    if (state.redisAway.exchange(false)) {
        shareSay("logoffCookieShare -- Redis at " + state.endpoint.describe() +
                 " reachable again.");
    }
}

}  // namespace

bool ShareConnector::ensureConnected(RedisLink& link) {
    if (link.connected()) {
        return true;
    }
    if (pauseSeconds_ > 0) {
        waitBeforeRetry(pauseSeconds_);
    }
    return connect(link);
}

bool ShareConnector::connect(RedisLink& link) {
    ShareState& state = shareState();
    std::string error;
    ShareEndpoint primary;
    bool failingOver = false;
    RedisLink::Outcome outcome =
        state.endpoint.viaSentinel()
            ? connectThroughSentinels(link, state.endpoint, ioTimeout_, primary, error, failingOver)
            : link.connect(state.endpoint, ioTimeout_, error);
    switch (outcome) {
        case RedisLink::Outcome::Connected:
            break;
        case RedisLink::Outcome::Unreachable:
            TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connect to %s failed: %s", name_,
                      state.endpoint.describe().c_str(), error.c_str());
            reportAway(state, error);
            // While the sentinels name a primary that is gone, they are about
            // to promote another: asked again each second, not after a pause
            // that doubles, so the host is back within a second of the
            // promotion however long the failover took.
            pauseSeconds_ = failingOver ? SHARE_FIRST_RETRY_SECONDS : connects_.failed();
            return false;
        case RedisLink::Outcome::Refused:
            // Reached, but not let in: a wrong password or user, most likely.
            reportBack(state);
            refused("the connection", error);
            pauseSeconds_ = 0;  // refused() waited already
            return false;
        case RedisLink::Outcome::TlsRefused:
            tlsRefused(error);
            return false;
    }
    metrics_setTlsRefused(false);
    if (everConnected_ || connects_.seconds() > 0) {
        metrics_count(ShareMetric::Reconnects);
    }
    everConnected_ = true;
    pauseSeconds_ = 0;
    connectedAt_ = std::chrono::steady_clock::now();
    where_ = state.endpoint.describe();
    if (state.endpoint.viaSentinel()) {
        where_ += " (primary " + primary.host + ":" + std::to_string(primary.port) + ")";
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connected to %s.", name_, where_.c_str());
    reportBack(state);
    return true;
}

void ShareConnector::lost(RedisLink& link, const std::string& error) {
    link.close();
    if (!link.tlsRefusal().empty()) {
        // A server that said after the handshake that it wants our
        // certificate, or one that speaks TLS alone behind redis://.
        tlsRefused(link.tlsRefusal());
        return;
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connection lost: %s", name_, error.c_str());
    reportAway(shareState(), error);
    // A link that served a while is tried again at once: a restarted Redis
    // is often back already. One lost as soon as made (a proxy without a
    // server behind it) waits as a failed connect does, or the thread would
    // spin.
    bool servedAWhile = std::chrono::steady_clock::now() - connectedAt_ >=
                        std::chrono::seconds(SHARE_FIRST_RETRY_SECONDS);
    if (servedAWhile) {
        connects_.succeeded();
        pauseSeconds_ = 0;
    } else {
        pauseSeconds_ = connects_.failed();
    }
}

void ShareConnector::foundReplica(RedisLink& link, std::string_view reply) {
    link.close();
    TRACE_LOG(TRACE_DETAIL,
              "logoffCookieShare -- %s: %s is a replica now (%.*s); connecting again.", name_,
              where_.c_str(), static_cast<int>(std::min<std::size_t>(reply.size(), 200)),
              reply.data());
    // Asked again at once; a node that keeps answering so as soon as it is
    // reached waits the backoff, or the thread would spin.
    bool servedAWhile = std::chrono::steady_clock::now() - connectedAt_ >=
                        std::chrono::seconds(SHARE_FIRST_RETRY_SECONDS);
    pauseSeconds_ = servedAWhile ? 0 : connects_.failed();
}

void ShareConnector::failedRead(RedisLink& link, const std::string& error) {
    link.close();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: read failed: %s", name_, error.c_str());
    pauseSeconds_ = connects_.failed();
}

void ShareConnector::tlsRefused(const std::string& error) {
    ShareState& state = shareState();
    metrics_count(ShareMetric::RefusedTls);
    metrics_setTlsRefused(true);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: %s", name_, error.c_str());
    // Said once a minute for each node and reason, whichever thread met it.
    shareSayAtMostEvery("tls " + error, SHARE_NOTICE_PERIOD,
                        "logoffCookieShare -- Redis at " + state.endpoint.describe() +
                            " cannot be used: " + error + ". Nothing is dropped; retrying every " +
                            std::to_string(SHARE_LAST_RETRY_SECONDS) + " s.");
    // Nothing mends itself here but a certificate renewed on the server.
    connects_.failed();
    pauseSeconds_ = SHARE_LAST_RETRY_SECONDS;
}

void ShareConnector::refused(const char* what, std::string_view reply) {
    waitBeforeRetry(pauseFor(what, reply));
}

int ShareConnector::pauseFor(const char* what, std::string_view reply) {
    ShareState& state = shareState();
    RedisRefusal refusal = classifyRedisError(reply, state.streamKey);
    std::string where = "logoffCookieShare -- Redis at " + state.endpoint.describe() + " refuses " +
                        what + " (" + refusal.text + ")";
    int seconds = 0;
    if (refusal.kind == RefusalKind::Passing) {
        metrics_count(ShareMetric::RefusedPassing);
        seconds = refusals_.failed();
        shareSayAtMostEvery(refusal.code, SHARE_NOTICE_PERIOD,
                            where + "; nothing is dropped, retrying.");
    } else {
        metrics_count(ShareMetric::RefusedNeedsOperator);
        refusals_.failed();
        seconds = SHARE_LAST_RETRY_SECONDS;
        shareSayAtMostEvery(
            refusal.code, SHARE_NOTICE_PERIOD,
            where + ": " + refusal.advice + ". Retrying every " + std::to_string(seconds) + " s.");
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: %s refused: %s", name_, what,
              refusal.text.c_str());
    return seconds;
}

void ShareConnector::waitBeforeRetry(int seconds) {
    // In short steps, so that a stop at exit does not wait for the whole pause.
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        thread_.serviceCancellation();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}
