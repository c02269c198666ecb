#include "share/shareLink.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "diag/shareMetrics.h"
#include "diag/traceLog.h"
#include "share/redisRefusal.h"
#include "share/sentinelDiscovery.h"
#include "share/shareNotice.h"
#include "share/shareThreads.h"
#include "share/tlsContext.h"

namespace {

void reportAway(ShareCommon& common, const std::string& error) {
    if (common.redisAway.exchange(true)) {
        return;
    }
    shareSay("logoffCookieShare -- Redis at " + common.endpoint.describe() + " unreachable (" +
             error + "); serving from the local cache and retrying.");
}

void reportBack(ShareCommon& common) {
    if (common.redisAway.exchange(false)) {
        shareSay("logoffCookieShare -- Redis at " + common.endpoint.describe() +
                 " reachable again.");
    }
}

// Each connector's bit in the refused gauge.
std::atomic<unsigned> connectorsMade{0};

// What tells that the credentials file changed: a new file renamed over it,
// or one written in place.
struct FileStamp {
    bool exists = false;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
    timespec changed{};

    bool operator==(const FileStamp& other) const {
        return exists == other.exists && inode == other.inode && size == other.size &&
               modified.tv_sec == other.modified.tv_sec &&
               modified.tv_nsec == other.modified.tv_nsec &&
               changed.tv_sec == other.changed.tv_sec && changed.tv_nsec == other.changed.tv_nsec;
    }
};

FileStamp credentialsStamp() {
    FileStamp stamp;
    const char* path = std::getenv("VOKLOGOFFSHAREAUTH");
    struct stat info {};
    if (path != nullptr && stat(path, &info) == 0) {
        stamp = {true, info.st_ino, info.st_size, info.st_mtim, info.st_ctim};
    }
    return stamp;
}

bool isAuthenticationRefusal(std::string_view reply) {
    return reply.rfind("WRONGPASS", 0) == 0 || reply.rfind("NOAUTH", 0) == 0;
}

// Whether the sentinels themselves refuse `endpoint`'s sentinel user: asked
// after a refusal only, so that the operator is told which line to mend.
bool sentinelsRefuse(const ShareEndpoint& endpoint) {
    for (std::size_t i = 0; i < endpoint.sentinels.size(); ++i) {
        ShareEndpoint primary;
        std::string reason;
        switch (askSentinel(endpoint, i, primary, reason)) {
            case RedisLink::Outcome::Refused:
                return true;
            case RedisLink::Outcome::Connected:
            case RedisLink::Outcome::TlsRefused:  // said as TLS's own refusal
                return false;
            case RedisLink::Outcome::Unreachable:
                break;
        }
    }
    return false;
}

// What the host is called: what its preference among replicas hashes.
std::string hostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return {};
    }
    return name;
}

}  // namespace

ShareConnector::ShareConnector(const char* name, std::chrono::milliseconds ioTimeout,
                               const RWThreadFunction& thread, bool reader)
    : name_(name),
      ioTimeout_(ioTimeout),
      thread_(thread),
      refusedSlot_(connectorsMade.fetch_add(1) % kShareRefusedSlots),
      reader_(reader) {}

ShareConnector::~ShareConnector() {
    wipeShareCredentials(endpoint_);
    metrics_setConnectionRefused(refusedSlot_, false);
}

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
    ShareCommon& common = shareCommon();
    if (!haveEndpoint_) {
        endpoint_ = common.endpoint;
        if (endpoint_.tls) {
            // A TLS context of this thread's own: the other thread's
            // handshakes would race with ours in a shared one.
            std::string reason;
            endpoint_.tls = endpoint_.tls->copy(reason);
            if (!endpoint_.tls) {
                wipeShareCredentials(endpoint_);
                TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: %s", name_, reason.c_str());
                reportAway(common, reason);
                pauseSeconds_ = connects_.failed(false, std::chrono::steady_clock::now());
                return false;
            }
        }
        haveEndpoint_ = true;
        if (reader_ && endpoint_.readFromReplicas) {
            reads_ = std::make_unique<ReadEndpoints>(hostName());
        }
    }
    if (rereadCredentials_) {
        rereadCredentials_ = false;
        rereadCredentials();
    }
    std::string error;
    ShareEndpoint primary;
    bool failingOver = false;
    RedisLink::Outcome outcome =
        reads_ ? reads_->connect(link, endpoint_, ioTimeout_, error, failingOver)
        : endpoint_.viaSentinel()
            ? connectThroughSentinels(link, endpoint_, ioTimeout_, primary, error, failingOver)
            : link.connect(endpoint_, ioTimeout_, error);
    std::string primaryAddress = addressOf(endpoint_.viaSentinel() ? primary : endpoint_);
    wipeShareCredentials(primary);
    switch (outcome) {
        case RedisLink::Outcome::Connected:
            break;
        case RedisLink::Outcome::Unreachable:
            TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connect to %s failed: %s", name_,
                      common.endpoint.describe().c_str(), error.c_str());
            reportAway(common, error);
            pauseSeconds_ = connects_.failed(failingOver, std::chrono::steady_clock::now());
            return false;
        case RedisLink::Outcome::Refused:
            // Reached, but not let in: a wrong password or user, most likely.
            reportBack(common);
            connectionRefused(error);
            pauseSeconds_ = 0;  // waited already
            return false;
        case RedisLink::Outcome::TlsRefused:
            tlsRefused(error);
            return false;
    }
    metrics_setConnectionRefused(refusedSlot_, false);
    metrics_setTlsRefused(false);
    if (everConnected_ || connects_.seconds() > 0) {
        metrics_count(ShareMetric::Reconnects);
    }
    everConnected_ = true;
    pauseSeconds_ = 0;
    connectedAt_ = std::chrono::steady_clock::now();
    ReadSpot spot = reads_ ? reads_->spot() : ReadSpot{primaryAddress, false};
    where_ = common.endpoint.describe();
    if (common.endpoint.viaSentinel() || reads_) {
        where_ += " (" + spot.describe() + ")";
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: connected to %s.", name_, where_.c_str());
    reached(spot);
    reportBack(common);
    return true;
}

void ShareConnector::reached(const ReadSpot& spot) {
    bool moved = reads_ && !spot_.address.empty() &&
                 (spot.address != spot_.address || spot.replica != spot_.replica);
    ReadSpot was = spot_;
    spot_ = spot;
    if (!moved) {
        return;
    }
    std::string line = "logoffCookieShare -- The receiver reads from the " + spot.describe() +
                       " now, no longer from the " + was.describe() + ".";
    // Once a minute where an operator looks; every move in the trace.
    if (!shareNotice("read-endpoint", line)) {
        TRACE_LOG(TRACE_DETAIL, "%s", line.c_str());
    }
}

void ShareConnector::againSoon() {
    bool servedAWhile = std::chrono::steady_clock::now() - connectedAt_ >=
                        std::chrono::seconds(kShareFirstRetrySeconds);
    if (servedAWhile) {
        connects_.ended();
        pauseSeconds_ = 0;
    } else {
        pauseSeconds_ = connects_.failed(false, std::chrono::steady_clock::now());
    }
}

void ShareConnector::leaveReadEndpoint(RedisLink& link, const std::string& why) {
    link.close();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: leaving the %s: %s.", name_,
              spot_.describe().c_str(), why.c_str());
    againSoon();
}

void ShareConnector::reviewReadEndpoint(RedisLink& link) {
    if (!reads_ || !link.connected() || !reads_->reviewDue(std::chrono::steady_clock::now())) {
        return;
    }
    std::string why;
    if (reads_->betterElsewhere(endpoint_, why)) {
        leaveReadEndpoint(link, why);
    }
}

void ShareConnector::connectionRefused(const std::string& reply) {
    // A host that cannot get in publishes nothing: the gauge says so
    // whichever connection was refused.
    metrics_setConnectionRefused(refusedSlot_, true);
    std::string advice;
    bool fromFile = credentialsFromFile();
    if (endpoint_.viaSentinel() && sentinelsRefuse(endpoint_)) {
        advice = fromFile ? "the sentinels refuse the user and password of line 2 (\"sentinel "
                            "[USER] PASSWORD\") of the file named by VOKLOGOFFSHAREAUTH; it is "
                            "read again before each retry"
                          : "the sentinels need a user and password: give them on line 2 "
                            "(\"sentinel [USER] PASSWORD\") of a file named by "
                            "VOKLOGOFFSHAREAUTH, and restart the service";
    } else if (isAuthenticationRefusal(reply)) {
        advice = fromFile ? "check the user and password on line 1 of the file named by "
                            "VOKLOGOFFSHAREAUTH; it is read again before each retry"
                          : "check the user and password in VOKLOGOFFSHARE; the environment is "
                            "read at start only, so restart the service once it is mended";
    }
    FileStamp before = credentialsStamp();
    int seconds = pauseFor("the connection", reply, advice);
    rereadCredentials_ = fromFile;
    waitBeforeRetry(seconds, fromFile && before.exists);
}

void ShareConnector::rereadCredentials() {
    std::string error;
    if (!rereadShareCredentials(endpoint_, error)) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: %s", name_, error.c_str());
        shareNotice("credentials", "logoffCookieShare -- " + error +
                                       "; trying again with the credentials read before.");
    }
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
    // A replica lost is no Redis away: the next connection reads elsewhere,
    // and says Redis away only when nothing is left to read.
    if (!(reads_ && spot_.replica)) {
        reportAway(shareCommon(), error);
    }
    // A link that served a while is tried again at once: a restarted Redis
    // is often back already. One lost as soon as made (a proxy without a
    // server behind it) waits as a failed connect does, or the thread would
    // spin.
    againSoon();
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
                        std::chrono::seconds(kShareFirstRetrySeconds);
    pauseSeconds_ = servedAWhile ? 0 : connects_.failed(false, std::chrono::steady_clock::now());
}

void ShareConnector::failedRead(RedisLink& link, const std::string& error) {
    link.close();
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: read failed: %s", name_, error.c_str());
    pauseSeconds_ = connects_.failed(false, std::chrono::steady_clock::now());
}

void ShareConnector::tlsRefused(const std::string& error) {
    ShareCommon& common = shareCommon();
    metrics_count(ShareMetric::RefusedTls);
    metrics_setTlsRefused(true);
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: %s", name_, error.c_str());
    // Said once a minute for each node and reason, whichever thread met it.
    shareNotice("tls " + error, "logoffCookieShare -- Redis at " + common.endpoint.describe() +
                                    " cannot be used: " + error +
                                    ". Nothing is dropped; retrying every " +
                                    std::to_string(kShareLastRetrySeconds) + " s.");
    // Nothing mends itself here but a certificate renewed on the server.
    connects_.failed(false, std::chrono::steady_clock::now());
    pauseSeconds_ = kShareLastRetrySeconds;
}

void ShareConnector::refused(const char* what, std::string_view reply) {
    waitBeforeRetry(pauseFor(what, reply));
}

int ShareConnector::pauseFor(const char* what, std::string_view reply, const std::string& advice) {
    ShareCommon& common = shareCommon();
    RedisRefusal refusal = classifyRedisError(reply, common.streamKey);
    if (!advice.empty()) {
        refusal.kind = RefusalKind::NeedsOperator;
        refusal.advice = advice;
    }
    std::string where = "logoffCookieShare -- Redis at " + common.endpoint.describe() +
                        " refuses " + what + " (" + refusal.text + ")";
    // Per command as well as per reason: a reader's INFO refused must not
    // silence the publisher's refusal of the same kind, which loses logoffs.
    const std::string noticeKey = std::string(what) + " " + refusal.code;
    int seconds = 0;
    if (refusal.kind == RefusalKind::Passing) {
        metrics_count(ShareMetric::RefusedPassing);
        seconds = refusals_.failed();
        shareNotice(noticeKey, where + "; nothing is dropped, retrying.");
    } else {
        metrics_count(ShareMetric::RefusedNeedsOperator);
        refusals_.failed();
        seconds = kShareLastRetrySeconds;
        shareNotice(noticeKey, where + ": " + refusal.advice + ". Retrying every " +
                                   std::to_string(seconds) + " s.");
    }
    TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- %s: %s refused: %s", name_, what,
              refusal.text.c_str());
    return seconds;
}

void ShareConnector::waitBeforeRetry(int seconds, bool untilCredentialsChange) {
    // In short steps, so that a stop at exit does not wait for the whole pause.
    constexpr auto kStep = std::chrono::milliseconds(100);
    constexpr int kStepsBetweenLooks = 10;
    FileStamp stamp = untilCredentialsChange ? credentialsStamp() : FileStamp{};
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (int step = 1; std::chrono::steady_clock::now() < end; ++step) {
        thread_.serviceCancellation();
        std::this_thread::sleep_for(kStep);
        if (untilCredentialsChange && step % kStepsBetweenLooks == 0 &&
            !(credentialsStamp() == stamp)) {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieShare -- %s: the credentials file changed; trying again.",
                      name_);
            return;
        }
    }
}
