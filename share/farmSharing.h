// Farm sharing: every host of a farm tells the others, through one Redis
// stream, of the logoffs recorded on it, and refuses the cookies they
// recorded. Answers stay local: no request ever waits for Redis.
#pragma once

#include <sys/random.h>

#include <cstddef>
#include <string>
#include <vector>

#include "cache/farmLogoff.h"
#include "share/shareConfig.h"
#include "share/shareEntry.h"

// Where the run id's bytes come from: getrandom, or a stand-in in the tests.
using ShareRandomSource = ssize_t (*)(void* buffer, std::size_t length, unsigned flags);

// A run id that no other run draws: sixteen bytes from the kernel. False,
// with the reason in `error`, when the kernel gives none: the start is
// refused then, since a run id shared with another host would make each
// skip the other's logoffs as its own.
bool drawShareRunId(ShareRunId& run, std::string& error, ShareRandomSource source = getrandom);

// Installs the farm key and the add hook in the cache and starts the
// publishing and the receiving thread, which publish as `run`. Called once
// by the worker after the cache is initialised and before any request;
// takes the secret out of `config`.
void startFarmSharing(ShareConfig& config, const ShareRunId& run);

// What a warm restart carries across besides the receiver's position
// (shareReceivedPosition, shareSetStartPosition): the logoffs still waiting
// to be published, front first; none when sharing never started. Callable
// from any thread.
std::vector<FarmLogoff> shareQueuedLogoffs();
// True once startFarmSharing has run.
bool shareIsRunning();
// What this host published in the last minute (the ring kept for a new
// Redis incarnation), oldest first: saved with the queue at a stop, so that
// the next start publishes it again should Redis have lost it meanwhile.
// Callable from any thread; empty when sharing never started.
std::vector<FarmLogoff> shareRecentlyPublishedLogoffs();
// Queues logoffs an earlier run could not publish behind what is queued, up
// to the queue's capacity; after startFarmSharing. Returns how many were
// taken (none when sharing never started).
std::size_t shareRequeueLogoffs(const std::vector<FarmLogoff>& logoffs);
