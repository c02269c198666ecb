// Farm sharing's two threads, the publishing and the receiving one: their
// handles, and what they have in common (ShareCommon): the configuration,
// the farm key, the run id, and the queue between the adds and the
// publisher.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "cache/farmKey.h"
#include "share/shareConfig.h"
#include "share/shareEntry.h"
#include "share/shareQueue.h"
#include "support/threads/RWThreadFunction.h"

struct ShareCommon {
    ShareEndpoint endpoint;
    std::string streamKey;
    std::chrono::milliseconds readBatchWait{0};
    std::unique_ptr<FarmKey> key;  // null until sharing starts
    ShareRunId run{};
    ShareQueue queue;
    // True from the first failure of either connection until both are back;
    // Redis being away is said once, not once per thread or per retry.
    std::atomic<bool> redisAway{false};
};

// The one ShareCommon, made on first use and never freed: the threads use it until
// the process ends. Empty, with no key, until startFarmSharing fills it.
ShareCommon& shareCommon();

// The two threads; each asks its own handle whether to end.
extern RWThreadFunction sharePublisherHandle;
extern RWThreadFunction shareReceiverHandle;
