// The publishing side: the hook the cache tells of each local add, and the
// thread that appends what it queued to the stream.
#pragma once

#include <chrono>

#include "cache/farmLogoff.h"

// At most this many entries go to Redis in one pipelined round trip.
inline constexpr std::size_t kSharePublishBatch = 1000;
// How long a batch waits for more logoffs after its first: a bound on the
// latency it adds, small against the time a logoff takes to matter.
inline constexpr std::chrono::milliseconds kSharePublishLinger{1};
// XADD trims the stream to about this many entries.
inline constexpr const char* kShareStreamLength = "1000000";

// The cache's add hook: queues the logoff, never waits.
void shareQueueLogoff(const FarmLogoff& logoff);

// The thread function; runs until the process ends.
void sharePublisherThread();

// How long an orderly stop waits for the queue to empty.
inline constexpr std::chrono::milliseconds kShareStopFlush{2000};

// Waits until every queued logoff is published, Redis is away, or `most`
// has passed; true when the queue is empty. Called at an orderly stop while
// the publisher still runs.
bool shareFlushPublisher(std::chrono::milliseconds most);
