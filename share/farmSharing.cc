#include "share/farmSharing.h"

#include <sys/random.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>

#include "cache/farmLogoff.h"
#include "crypto/secureMemory.h"
#include "diag/shareMetrics.h"
#include "diag/traceLog.h"
#include "share/publishedRing.h"
#include "share/shareNotice.h"
#include "share/sharePublisher.h"
#include "share/shareReceiver.h"
#include "share/shareThreads.h"

namespace {

// Set once ShareCommon is complete: the stop's thread, made before sharing
// started, reads it only after seeing it.
std::atomic<bool> started{false};

// A signal during the wait for the kernel's pool is tried again; this many in
// a row is no longer a passing interruption.
constexpr int kInterruptedTries = 100;

}  // namespace

bool drawShareRunId(ShareRunId& run, std::string& error, ShareRandomSource source) {
    std::size_t filled = 0;
    int interrupted = 0;
    while (filled < run.size()) {
        ssize_t got = source(run.data() + filled, run.size() - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
            continue;
        }
        int failure = got < 0 ? errno : EIO;
        if (failure == EINTR && ++interrupted < kInterruptedTries) {
            continue;
        }
        error = std::string("cannot draw the farm run id: getrandom: ") + std::strerror(failure);
        return false;
    }
    return true;
}

void startFarmSharing(ShareConfig& config, const ShareRunId& run) {
    ShareCommon& common = shareCommon();
    common.endpoint = config.endpoint;
    // The connections hold their own copies from here.
    wipeShareCredentials(config.endpoint);
    common.streamKey = config.streamKey;
    common.readBatchWait = config.readBatchWait;
    common.key = std::make_unique<FarmKey>(config.secret.data(), config.secret.size());
    // From here the key's hash states stand for the secret.
    secureZero(config.secret.data(), config.secret.size());
    config.secret.clear();
    common.run = run;
    logoffCookieFarm_enable(common.key.get(), shareQueueLogoff);

    metrics_shareStarted(static_cast<std::int64_t>(std::time(nullptr)));
    shareSay("logoffCookieShare -- Sharing logoffs through " + common.endpoint.describe() +
             ", stream " + common.streamKey + ".");
    // So that the hosts receiving a flood, which name its run, name a host.
    shareSay("logoffCookieShare -- This host publishes as run " +
             toHex(common.run.data(), common.run.size()) + ".");
    sharePublisherHandle = RWThreadFunction::make(sharePublisherThread);
    sharePublisherHandle.start();
    shareReceiverHandle = RWThreadFunction::make(shareReceiverThread);
    shareReceiverHandle.start();
    started.store(true, std::memory_order_release);
}

std::vector<FarmLogoff> shareQueuedLogoffs() {
    if (!started.load(std::memory_order_acquire)) {
        return {};
    }
    return shareCommon().queue.snapshot();
}

bool shareIsRunning() {
    return started.load(std::memory_order_acquire);
}

std::vector<FarmLogoff> shareRecentlyPublishedLogoffs() {
    if (!started.load(std::memory_order_acquire)) {
        return {};
    }
    return PublishedRing::exportCurrent();
}

std::size_t shareRequeueLogoffs(const std::vector<FarmLogoff>& logoffs) {
    if (!started.load(std::memory_order_acquire)) {
        return 0;
    }
    return shareCommon().queue.restore(logoffs);
}
