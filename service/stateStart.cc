#include "service/stateStart.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "cache/logoffCookieAPI.h"
#include "diag/operatorLine.h"
#include "service/clientConnection.h"
#include "service/startRefusal.h"
#include "share/farmSharing.h"
#include "share/shareReceiver.h"
#include "share/streamId.h"
#include "state/farmQueueFile.h"
#include "state/stateConfig.h"
#include "state/warmRestart.h"

namespace {

// A connection lasts at most the receive time-out (5 s) and its answer.
constexpr std::chrono::milliseconds kAnswerWait{6000};
constexpr std::chrono::milliseconds kAnswerPoll{1};

// Read in the launcher, used in the worker: the forks carry it across.
StateConfig stateConfig;
bool stateConfigured = false;
bool restartedWarm = false;
// Taken from the state file at the load, queued again once sharing runs.
std::vector<FarmLogoff> queuedForTheFarm;

bool waitForOpenConnections() {
    auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
    while (ClientConnection::openAccepted() > 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(kAnswerPoll);
    }
    return true;
}

std::int32_t now() {
    return static_cast<std::int32_t>(std::time(nullptr));
}

// What the state file keeps for the farm: the last minute's published
// logoffs first, as a Redis restarted or failed over while this host was
// stopped may have lost them (a logoff published twice is the same
// logoff), then the queue.
std::vector<FarmLogoff> farmLogoffsToKeep() {
    std::vector<FarmLogoff> logoffs = shareRecentlyPublishedLogoffs();
    std::vector<FarmLogoff> queued = shareQueuedLogoffs();
    logoffs.insert(logoffs.end(), queued.begin(), queued.end());
    return logoffs;
}

// The farm queue's file, in the service's directory beside its socket.
std::string farmQueuePath() {
    const char* directory = std::getenv("WA_INSTALL_PATH");
    return std::string(directory != nullptr ? directory : ".") + "/" + kFarmQueueFileName;
}

// What an earlier stop kept in the farm queue's file, whether warm restarts
// are on or not: queued behind what the state file held.
void loadKeptFarmQueue() {
    std::unique_ptr<StateKey> key = hostFarmQueueKey();
    if (!key) {
        return;
    }
    std::vector<FarmLogoff> kept = farmQueue_load(farmQueuePath(), *key);
    queuedForTheFarm.insert(queuedForTheFarm.end(), kept.begin(), kept.end());
}

// The logoffs still queued at a stop that saved no state file go to a file
// of their own, so that a stop never drops what the farm has not yet had.
void keepFarmQueue(const std::vector<FarmLogoff>& queued) {
    if (queued.empty()) {
        return;
    }
    std::unique_ptr<StateKey> key = hostFarmQueueKey();
    if (!key) {
        traceAndSay("%zu logoffs not yet published to the farm are lost: no host key",
                    queued.size());
        return;
    }
    farmQueue_save(farmQueuePath(), *key, now(), queued);
}

// The state file, when warm restarts are on.
void loadStateFile() {
    if (!stateConfigured) {
        return;
    }
    std::unique_ptr<StateKey> key = hostStateKey();
    if (!key) {
        // Without the host key there is no reply to any request either.
        traceAndSay("started cold: no host key to verify the state file with");
        return;
    }
    StateLoad load = logoffCookieState_load(stateConfig, *key, now());
    restartedWarm = load.warm;
    // The receiver reads on after the last entry the earlier run took, so
    // logoffs made on other hosts while this one was stopped arrive.
    if (load.warm && (load.position.milliseconds != 0 || load.position.sequence != 0)) {
        shareSetStartPosition(StreamId{load.position.milliseconds, load.position.sequence}.text());
    }
    queuedForTheFarm = std::move(load.queued);
}

// True when the state file now holds `queued`.
bool saveStateFile(const std::vector<FarmLogoff>& queued) {
    std::unique_ptr<StateKey> key = hostStateKey();
    if (!key) {
        traceAndSay("state not saved: %s", "no host key to sign the state file with");
        return false;
    }
    // The position before the cache: every entry up to it is recorded by
    // then, and one taken meanwhile is read again, which changes nothing.
    StatePosition position;
    if (std::optional<StreamId> reached = parseStreamId(shareReceivedPosition())) {
        position = {reached->ms, reached->seq};
    }
    return logoffCookieState_save(stateConfig, *key, now(), position, queued);
}

}  // namespace

void requireStateConfig() {
    stateConfigured = requireSetting(readStateConfig, stateConfig);
}

void loadConfiguredState() {
    loadStateFile();
}

void resumeConfiguredState() {
    if (restartedWarm) {
        logoffCookieCache_launchCleanupThreadOnce();
    }
    // Left for a start that shares: taken without sharing, they would be
    // dropped.
    if (shareIsRunning()) {
        loadKeptFarmQueue();
    }
    // Published whether the cache came back or not: what the stop queued
    // for the farm never reached it.
    if (!queuedForTheFarm.empty()) {
        std::size_t taken = shareRequeueLogoffs(queuedForTheFarm);
        traceAndSay("queued for the farm again: %zu of %zu logoffs saved at the stop", taken,
                    queuedForTheFarm.size());
        queuedForTheFarm = {};
    }
}

void saveConfiguredState() {
    bool saved = false;
    if (stateConfigured) {
        if (waitForOpenConnections()) {
            saved = saveStateFile(farmLogoffsToKeep());
        } else {
            traceAndSay("state not saved: %s", "a connection was still open at the stop");
        }
    }
    if (!saved) {
        keepFarmQueue(shareQueuedLogoffs());
    }
}
