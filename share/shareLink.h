// What the publishing and the receiving thread have in common: the
// configuration, the farm key, the run id, the queue between the adds and
// the publisher, and the way both connect to Redis, wait to retry, and say
// when Redis is away and back.
#pragma once

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

#include "cache/farmKey.h"
#include "share/redisLink.h"
#include "share/shareConfig.h"
#include "share/shareEntry.h"
#include "share/shareQueue.h"
#include "support/threads/RWThreadFunction.h"

// Retries after a failure wait 1 s, doubling up to 30 s.
inline constexpr int SHARE_FIRST_RETRY_SECONDS = 1;
inline constexpr int SHARE_LAST_RETRY_SECONDS = 30;

struct ShareState {
    ShareEndpoint endpoint;
    std::string streamKey;
    std::unique_ptr<FarmKey> key;
    ShareRunId run{};
    ShareQueue queue;
    // True from the first failure of either connection until both are back;
    // Redis being away is said once, not once per thread or per retry.
    std::atomic<bool> redisAway{false};
};

// The one state, made by startFarmSharing and never freed: the threads use it
// until the process ends.
ShareState& shareState();

// Keeps one thread's link up: connects when it is down, waiting between tries
// as said above. Returns true once connected; false when this try failed (the
// caller loops). `thread` is asked between waits whether to end.
class ShareConnector {
  public:
    ShareConnector(const char* name, std::chrono::milliseconds ioTimeout,
                   const RWThreadFunction& thread)
        : name_(name), ioTimeout_(ioTimeout), thread_(thread) {}

    bool ensureConnected(RedisLink& link);
    // The link failed in use: close it and report.
    void lost(RedisLink& link, const std::string& error);
    // Redis refused a command on a working link (a key of another type, a
    // user without the right): waits before the next try, longer each time
    // up to the last retry pause, so a lasting refusal is not hammered.
    void refused();
    // A command went through: the next refusal waits the first pause again.
    void served() { refusalSeconds_ = 0; }

  private:
    void waitBeforeRetry(int seconds);

    const char* name_;
    std::chrono::milliseconds ioTimeout_;
    const RWThreadFunction& thread_;
    int retrySeconds_ = 0;  // 0: the last try did not fail
    int refusalSeconds_ = 0;
    int quickLosses_ = 0;  // links lost in a row within a second of being made
    std::chrono::steady_clock::time_point connectedAt_;
    bool everConnected_ = false;
};
