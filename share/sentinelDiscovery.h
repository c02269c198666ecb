// Finding the farm's primary through Sentinel. Redis's replication and its
// sentinels do the failover; a host only asks them who the primary is now,
// whenever its connection fails or a write finds a replica.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "share/redisLink.h"
#include "share/shareConfig.h"

// How long one sentinel may take to connect and answer before the next is
// asked: a sentinel that does not answer is skipped, not waited for.
inline constexpr std::chrono::milliseconds SHARE_SENTINEL_TIMEOUT{1000};

// Outcomes as RedisLink::connect has them: Refused carries Redis's error
// reply alone in `error` (a wrong password, a user without a right), which
// an operator must mend; Unreachable carries the reasons.
using ShareConnectOutcome = RedisLink::Outcome;

// Asks the sentinel `index` of `config` (a sentinel:// endpoint) for the
// primary's address. Connected with `primary` set to the data node: the
// address the sentinel gave, with the database and credentials of `config`.
ShareConnectOutcome askSentinel(const ShareEndpoint& config, std::size_t index,
                                ShareEndpoint& primary, std::string& error);

// Checks with ROLE that `link` reached a primary, not a replica or sentinel;
// closes it when not.
ShareConnectOutcome reachedPrimary(RedisLink& link, std::string& error);

// One sentinel's answer: the primary's address, and the data node's
// endpoint made of it.
struct SentinelAnswer {
    std::string host;
    int port = 0;
    ShareEndpoint endpoint;
};
// The answers' indexes in the order their addresses are tried: each address
// once (where it was first named), the one most answers name first, ties in
// the order answered.
std::vector<std::size_t> rankSentinelAnswers(const std::vector<SentinelAnswer>& answers);

// Connects `link` to the primary of a sentinel:// `config`: asks the
// sentinels in turn, from one picked at random, until most of them name the
// same address (or all were asked), then tries the addresses from the one
// most named down, and takes the first that is a primary now.
// `primary` is where the link went. Otherwise the link is closed, and
// `error` holds every sentinel's reason, or, when Redis refused us
// somewhere, the first refusal. `failingOver` tells an Unreachable where a
// sentinel answered, but named a node that is down or no longer a primary:
// a failover under way, which ends within seconds.
ShareConnectOutcome connectThroughSentinels(RedisLink& link, const ShareEndpoint& config,
                                            std::chrono::milliseconds ioTimeout,
                                            ShareEndpoint& primary, std::string& error,
                                            bool& failingOver);
