#include "share/sharePublisher.h"

#include <ctime>
#include <exception>
#include <new>
#include <thread>

#include "diag/traceLog.h"
#include "share/shareCounters.h"
#include "share/shareLink.h"
#include "share/shareNotice.h"

extern RWThreadFunction sharePublisherHandle;

namespace {

using namespace std::chrono_literals;

// Second of the last trace of a full queue: one line a second at most.
std::atomic<std::int64_t> lastFullQueueTrace{0};

// What one round trip of XADDs came to.
struct PublishOutcome {
    std::size_t accepted = 0;  // the batch's first entries, in the stream now
    bool linkFailed = false;   // with the reason in `error`
    std::string error;         // else: the first error reply, if any
};

// Appends the whole batch in one round trip. Entries from the first refused
// one on stay queued and are sent again; so are all after a failed link.
// An entry that had gone through is then in the stream twice, which
// receivers take as the same logoff.
PublishOutcome publishBatch(RedisLink& link, const std::vector<FarmLogoff>& batch) {
    PublishOutcome outcome;
    ShareState& state = shareState();
    for (const FarmLogoff& logoff : batch) {
        ShareEntryFields fields = encodeShareEntry(*state.key, logoff, state.run);
        std::vector<std::string_view> args = {"XADD", state.streamKey,     "MAXLEN",
                                              "~",    SHARE_STREAM_LENGTH, "*"};
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
        }
    }
    return outcome;
}

// Sends the logoffs at the front of the queue when connected; they leave the
// queue once Redis has taken them.
void publishOnce(ShareConnector& connector, RedisLink& link, std::vector<FarmLogoff>& batch) {
    if (!connector.ensureConnected(link)) {
        return;
    }
    ShareQueue& queue = shareState().queue;
    batch.clear();
    if (queue.peekBatch(batch, SHARE_PUBLISH_BATCH, 1s) == 0) {
        return;
    }
    // A moment for the adds that follow to join this round trip: under load
    // a batch then carries many entries instead of one, and the thread,
    // Redis and every receiver wake once for all.
    if (batch.size() < SHARE_PUBLISH_BATCH) {
        std::this_thread::sleep_for(SHARE_PUBLISH_LINGER);
        batch.clear();
        queue.peekBatch(batch, SHARE_PUBLISH_BATCH, 0ms);
    }
    PublishOutcome outcome = publishBatch(link, batch);
    queue.dropFront(outcome.accepted);
    countShare(shareCounters().published, outcome.accepted);
    if (outcome.linkFailed) {
        connector.lost(link, outcome.error);
    } else if (outcome.accepted < batch.size()) {
        shareCounters().publishingRefused.store(true, std::memory_order_relaxed);
        connector.refused("publishing", outcome.error);
    } else {
        shareCounters().publishingRefused.store(false, std::memory_order_relaxed);
        connector.served();
    }
}

}  // namespace

void shareQueueLogoff(const FarmLogoff& logoff) {
    bool queued = false;
    try {
        queued = shareState().queue.push(logoff);
    } catch (const std::bad_alloc&) {
        // The add is recorded here already; only its publishing is lost.
    }
    if (queued) {
        return;
    }
    countShare(shareCounters().droppedQueueFull);
    auto now = static_cast<std::int64_t>(std::time(nullptr));
    std::int64_t last = lastFullQueueTrace.load(std::memory_order_relaxed);
    if (now != last && lastFullQueueTrace.compare_exchange_strong(last, now)) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieShare -- Publish queue full (%zu entries): logoffs dropped, %llu "
                  "so far.",
                  SHARE_QUEUE_CAPACITY,
                  static_cast<unsigned long long>(
                      shareCounters().droppedQueueFull.load(std::memory_order_relaxed)));
        shareSayAtMostEvery("queue-full", SHARE_NOTICE_PERIOD,
                            "logoffCookieShare -- Publish queue full: logoffs of this host are "
                            "dropped from publishing until Redis takes the queued ones.");
    }
}

void sharePublisherThread() {
    ShareConnector connector("publisher", 5s, sharePublisherHandle);
    RedisLink link;
    std::vector<FarmLogoff> batch;
    batch.reserve(SHARE_PUBLISH_BATCH);
    for (;;) {
        sharePublisherHandle.serviceCancellation();
        try {
            publishOnce(connector, link, batch);
        } catch (const std::exception& failure) {
            // Out of memory, most likely: the batch is tried again.
            TRACE_LOG(TRACE_DETAIL, "logoffCookieShare -- publisher: %s", failure.what());
        }
    }
}

bool shareFlushPublisher(std::chrono::milliseconds most) {
    ShareState& state = shareState();
    auto deadline = std::chrono::steady_clock::now() + most;
    std::size_t left = state.queue.size();
    while (left != 0 && !state.redisAway.load() &&
           !shareCounters().publishingRefused.load(std::memory_order_relaxed) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
        left = state.queue.size();
    }
    if (left != 0) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieShare -- Stopping with %zu logoffs not yet published to the farm.",
                  left);
    }
    return left == 0;
}
