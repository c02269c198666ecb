#include "share/farmSharing.h"

#include <sys/random.h>

#include <ctime>

#include "cache/farmLogoff.h"
#include "crypto/secureMemory.h"
#include "diag/traceLog.h"
#include "share/shareCounters.h"
#include "share/shareLink.h"
#include "share/shareNotice.h"
#include "share/sharePublisher.h"
#include "share/shareReceiver.h"

// The two threads; each asks its own handle whether to end.
RWThreadFunction sharePublisherHandle;
RWThreadFunction shareReceiverHandle;

namespace {

ShareState* state = nullptr;

// A run id that no other run draws: sixteen bytes from the kernel.
void drawRunId(ShareRunId& run) {
    std::size_t filled = 0;
    while (filled < run.size()) {
        ssize_t got = getrandom(run.data() + filled, run.size() - filled, 0);
        if (got > 0) {
            filled += static_cast<std::size_t>(got);
        }
    }
}

}  // namespace

ShareState& shareState() {
    return *state;
}

void startFarmSharing(ShareConfig& config) {
    state = new ShareState;
    state->endpoint = config.endpoint;
    state->streamKey = config.streamKey;
    state->key = std::make_unique<FarmKey>(config.secret.data(), config.secret.size());
    // From here the key's hash states stand for the secret.
    secureZero(config.secret.data(), config.secret.size());
    config.secret.clear();
    drawRunId(state->run);
    logoffCookieFarm_enable(state->key.get(), shareQueueLogoff);

    shareCounters().startTime.store(static_cast<std::int64_t>(std::time(nullptr)));
    shareSay("logoffCookieShare -- Sharing logoffs through " + state->endpoint.describe() +
             ", stream " + state->streamKey + ".");
    sharePublisherHandle = RWThreadFunction::make(sharePublisherThread);
    sharePublisherHandle.start();
    shareReceiverHandle = RWThreadFunction::make(shareReceiverThread);
    shareReceiverHandle.start();
}
