// What farm sharing has done since start, counted where it happens and
// written out with the service's other metrics. Unlike those they count
// whether metrics are on or not: sharing reads some back itself (its notices
// say how many so far, the publisher asks whether Redis refuses it). Relaxed
// atomics: cheap to bump, read as a snapshot.
#pragma once

#include <cstdint>

#include "diag/serviceMetrics.h"

// Totals; they only grow.
enum class ShareMetric : unsigned {
    Published,             // entries appended to the stream
    Republished,           // appended again, for a new Redis incarnation
    IncarnationChanges,    // Redis found to be another incarnation
    Received,              // entries of other runs taken into the cache
    DroppedQueueFull,      // adds not published: the queue was full
    DroppedBadHmac,        // entries refused: not signed with the farm secret
    DroppedMalformed,      // entries stepped over: not an entry of ours
    RefusedPassing,        // commands refused for a passing reason
    RefusedNeedsOperator,  // commands refused for a reason to mend
    PositionResets,        // read position ahead of the stream, moved back
    Reconnects,            // connections made again after a failure
    MissedLogoffWarnings,  // the stream was trimmed past the next read
    DroppedExpired,        // entries of the farm whose cookie had expired on receipt
    RefusedTls,            // connections TLS refused (a certificate, TLS on one side only)
    Count
};

// Levels, worked out when read from what sharing stored.
enum class ShareGauge : unsigned {
    PublishingRefused,     // 1 while the last publishing try, or a connection, was refused
    ReadLastMinute,        // entries of other runs judged in the last minute
    BadHmacLastMinute,     // of those, not signed with the farm secret
    SecondsSinceLastRead,  // since the last good read, or the start; kMetricUnknown: off
};

void metrics_count(ShareMetric metric, std::uint64_t amount = 1);
std::uint64_t metrics_value(ShareMetric metric);
std::int64_t metrics_value(ShareGauge gauge);

// `now` in seconds since the epoch. Sharing started; a good read of the
// stream; an entry of another run judged (by the receiving thread alone).
void metrics_shareStarted(std::int64_t now);
void metrics_shareRead(std::int64_t now);
void metrics_shareJudged(std::int64_t now, bool badHmac);
void metrics_setPublishingRefused(bool refused);
// Connections are refused before any logoff is offered (a wrong password, a
// sentinel that does not let the host in): the gauge is 1 while the last try
// of any of the host's connections was refused. Each connection has a slot
// of its own, below kShareRefusedSlots.
inline constexpr unsigned kShareRefusedSlots = 32;
void metrics_setConnectionRefused(unsigned slot, bool refused);
// While the last connection TLS refused, no logoff can be published either:
// PublishingRefused reads 1 then too.
void metrics_setTlsRefused(bool refused);
