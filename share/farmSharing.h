// Farm sharing: every host of a farm tells the others, through one Redis
// stream, of the logoffs recorded on it, and refuses the cookies they
// recorded. Answers stay local: no request ever waits for Redis.
#pragma once

#include <cstddef>
#include <vector>

#include "cache/farmLogoff.h"
#include "share/shareConfig.h"

// Installs the farm key and the add hook in the cache and starts the
// publishing and the receiving thread. Called once by the worker after the
// cache is initialised and before any request; takes the secret out of
// `config`.
void startFarmSharing(ShareConfig& config);

// What a warm restart carries across besides the receiver's position
// (shareReceivedPosition, shareSetStartPosition): the logoffs still waiting
// to be published, front first; none when sharing never started. Callable
// from any thread.
std::vector<FarmLogoff> shareQueuedLogoffs();
// Queues logoffs an earlier run could not publish behind what is queued, up
// to the queue's capacity; after startFarmSharing. Returns how many were
// taken (none when sharing never started).
std::size_t shareRequeueLogoffs(const std::vector<FarmLogoff>& logoffs);
