#include "share/sharePublisher.h"

#include <algorithm>
#include <ctime>
#include <deque>
#include <exception>
#include <new>
#include <span>
#include <thread>

#include "diag/shareMetrics.h"
#include "diag/traceLog.h"
#include "share/publishedRing.h"
#include "share/redisIncarnation.h"
#include "share/shareLink.h"
#include "share/shareNotice.h"
#include "share/shareThreads.h"

namespace {

using namespace std::chrono_literals;

// Second of the last trace of a full queue: one line a second at most.
std::atomic<std::int64_t> lastFullQueueTrace{0};

using Clock = std::chrono::steady_clock;

// While connected, the publisher looks this often whether Redis is still the
// incarnation that took its entries (it always looks after connecting).
constexpr auto kIncarnationCheckEvery = 5s;

// What one round trip of XADDs came to.
struct PublishOutcome {
    std::size_t accepted = 0;  // the batch's first entries, in the stream now
    std::string lastId;        // the id Redis gave the last of them
    bool linkFailed = false;   // with the reason in `error`
    std::string error;         // else: the first error reply, if any
};

// What the publishing thread keeps from one round to the next.
struct Publisher {
    ShareConnector connector{"publisher", 5s, sharePublisherHandle};
    RedisLink link;
    std::vector<FarmLogoff> batch;
    PublishedRing ring;
    RedisIncarnation incarnation;
    // Taken from the ring for a new incarnation; published before the queue.
    std::deque<FarmLogoff> again;
    Clock::time_point lastCheck;
};

// Appends the whole batch in one round trip. Entries from the first refused
// one on stay queued and are sent again; so are all after a failed link.
// An entry that had gone through is then in the stream twice, which
// receivers take as the same logoff.
PublishOutcome publishBatch(RedisLink& link, const std::vector<FarmLogoff>& batch) {
    PublishOutcome outcome;
    ShareCommon& common = shareCommon();
    for (const FarmLogoff& logoff : batch) {
        ShareEntryFields fields = encodeShareEntry(*common.key, logoff, common.run);
        std::vector<std::string_view> args = {"XADD", common.streamKey,   "MAXLEN",
                                              "~",    kShareStreamLength, "*"};
        for (const auto& [name, value] : fields) {
            args.push_back(name);
            args.push_back(value);
        }
        if (!link.append(args, outcome.error)) {
            outcome.linkFailed = true;
            return outcome;
        }
    }
    bool refused = false;
    for (std::size_t i = 0; i < batch.size(); ++i) {
        RedisReply reply = link.nextReply(outcome.error);
        if (!reply) {
            outcome.linkFailed = true;
            return outcome;
        }
        if (reply->type == REDIS_REPLY_ERROR) {
            if (!refused) {
                outcome.error.assign(reply->str, reply->len);
            }
            refused = true;
        } else if (!refused) {
            ++outcome.accepted;
            if (reply->type == REDIS_REPLY_STRING) {
                outcome.lastId.assign(reply->str, reply->len);
            }
        }
    }
    return outcome;
}

// After each connection and every few seconds: a Redis that is not the
// incarnation which took this host's last entries (a promoted replica, a
// restart without persistence, a stream deleted) may have lost them, so the
// last minute of them is published again, before the queue.
void checkIncarnation(Publisher& p) {
    std::string why;
    std::string error;
    RedisIncarnation::Finding finding =
        p.incarnation.check(p.link, shareCommon().streamKey, why, error);
    p.lastCheck = Clock::now();
    if (!p.link.connected()) {
        p.connector.lost(p.link, error);
        return;
    }
    if (finding == RedisIncarnation::Finding::Unknown && !why.empty()) {
        shareNotice("incarnation",
                    "logoffCookieShare -- Redis at " + shareCommon().endpoint.describe() +
                        " refuses what tells a failover or restart apart (" + why +
                        "): grant the farm's user +info, +xrange and +xinfo, or logoffs taken "
                        "by Redis just before one may be lost.");
    }
    if (finding != RedisIncarnation::Finding::Another) {
        return;
    }
    // The ring still holds whatever an earlier change left in `again`.
    std::vector<FarmLogoff> logoffs = p.ring.takeForRepublishing();
    p.again.assign(logoffs.begin(), logoffs.end());
    metrics_count(ShareMetric::IncarnationChanges);
    std::string line = "logoffCookieShare -- Redis at " + shareCommon().endpoint.describe() +
                       " is not the one that took this host's last logoffs (" + why +
                       "): publishing again the " + std::to_string(logoffs.size()) +
                       " of the last minute.";
    // Said where an operator looks only when this host had something to
    // give again; the counter and the trace have every change.
    if (logoffs.empty()) {
        TRACE_LOG(TRACE_DETAIL, "%s", line.c_str());
    } else {
        shareSay(line);
    }
}

// The next batch: what a new incarnation must be given again, else the
// logoffs at the front of the queue (which stay queued until Redis took
// them). False when there is nothing to send.
bool takeBatch(Publisher& p) {
    p.batch.clear();
    if (!p.again.empty()) {
        std::size_t count = std::min(p.again.size(), kSharePublishBatch);
        p.batch.assign(p.again.begin(), p.again.begin() + static_cast<std::ptrdiff_t>(count));
        return true;
    }
    ShareQueue& queue = shareCommon().queue;
    if (queue.peekBatch(p.batch, kSharePublishBatch, 1s) == 0) {
        return false;
    }
    // A moment for the adds that follow to join this round trip: under load
    // a batch then carries many entries instead of one, and the thread,
    // Redis and every receiver wake once for all.
    if (p.batch.size() < kSharePublishBatch) {
        std::this_thread::sleep_for(kSharePublishLinger);
        p.batch.clear();
        queue.peekBatch(p.batch, kSharePublishBatch, 0ms);
    }
    return true;
}

// Publishes one batch when connected.
void publishOnce(Publisher& p) {
    bool wasConnected = p.link.connected();
    if (!p.connector.ensureConnected(p.link)) {
        return;
    }
    if (!wasConnected || Clock::now() - p.lastCheck >= kIncarnationCheckEvery) {
        checkIncarnation(p);
        if (!p.link.connected()) {
            return;
        }
    }
    bool again = !p.again.empty();
    if (!takeBatch(p)) {
        return;
    }
    PublishOutcome outcome = publishBatch(p.link, p.batch);
    if (again) {
        p.again.erase(p.again.begin(),
                      p.again.begin() + static_cast<std::ptrdiff_t>(outcome.accepted));
        metrics_count(ShareMetric::Republished, outcome.accepted);
    } else {
        shareCommon().queue.dropFront(outcome.accepted);
        metrics_count(ShareMetric::Published, outcome.accepted);
        p.ring.add(std::span<const FarmLogoff>(p.batch.data(), outcome.accepted), Clock::now());
    }
    if (!outcome.lastId.empty()) {
        p.incarnation.published(outcome.lastId);
    }
    if (outcome.linkFailed) {
        p.connector.lost(p.link, outcome.error);
    } else if (outcome.accepted < p.batch.size()) {
        if (outcome.error.rfind("READONLY", 0) == 0) {
            // The primary of a moment ago, demoted: the sentinels know the new
            // one, and a name the new one took over resolves to it anew. A
            // refusal all the same, counted and said, until a write goes in.
            metrics_setPublishingRefused(true);
            p.connector.noteRefusal("publishing", outcome.error);
            p.connector.foundReplica(p.link, outcome.error);
            return;
        }
        metrics_setPublishingRefused(true);
        p.connector.refused("publishing", outcome.error);
    } else {
        metrics_setPublishingRefused(false);
        p.connector.served();
    }
}

}  // namespace

void shareQueueLogoff(const FarmLogoff& logoff) {
    bool queued = false;
    try {
        queued = shareCommon().queue.push(logoff);
    } catch (const std::bad_alloc&) {
        // The add is recorded here already; only its publishing is lost.
    }
    if (queued) {
        return;
    }
    metrics_count(ShareMetric::DroppedQueueFull);
    auto now = static_cast<std::int64_t>(std::time(nullptr));
    std::int64_t last = lastFullQueueTrace.load(std::memory_order_relaxed);
    if (now != last && lastFullQueueTrace.compare_exchange_strong(last, now)) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieShare -- Publish queue full (%zu entries): logoffs dropped, %llu "
                  "so far.",
                  kShareQueueCapacity,
                  static_cast<unsigned long long>(metrics_value(ShareMetric::DroppedQueueFull)));
        shareNotice("queue-full",
                    "logoffCookieShare -- Publish queue full: logoffs of this host are "
                    "dropped from publishing until Redis takes the queued ones.");
    }
}

void sharePublisherThread() {
    Publisher publisher;
    publisher.batch.reserve(kSharePublishBatch);
    for (;;) {
        sharePublisherHandle.serviceCancellation();
        try {
            publishOnce(publisher);
        } catch (const std::exception& failure) {
            // Out of memory, most likely: the batch is tried again.
            TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- publisher: %s", failure.what());
        }
    }
}

bool shareFlushPublisher(std::chrono::milliseconds most) {
    ShareCommon& common = shareCommon();
    auto deadline = std::chrono::steady_clock::now() + most;
    std::size_t left = common.queue.size();
    while (left != 0 && !common.redisAway.load() &&
           metrics_value(ShareGauge::PublishingRefused) == 0 &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        left = common.queue.size();
    }
    if (left != 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieShare -- Stopping with %zu logoffs not yet published to the farm.",
                  left);
    }
    return left == 0;
}
