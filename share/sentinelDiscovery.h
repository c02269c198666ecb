// Finding the farm's primary through Sentinel. Redis's replication and its
// sentinels do the failover; a host only asks them who the primary is now,
// whenever its connection fails or a write finds a replica.
#pragma once

#include <chrono>
#include <string>

#include "share/redisLink.h"
#include "share/shareConfig.h"

// How long one sentinel may take to connect and answer before the next is
// asked: a sentinel that does not answer is skipped, not waited for.
inline constexpr std::chrono::milliseconds SHARE_SENTINEL_TIMEOUT{1000};

// Asks the sentinel `index` of `config` (a sentinel:// endpoint) for the
// primary's address. True with `primary` set to the data node: the address
// the sentinel gave, with the database and credentials of `config`.
bool askSentinel(const ShareEndpoint& config, std::size_t index, ShareEndpoint& primary,
                 std::string& error);

// Checks with ROLE that `link` reached a primary, not a replica or sentinel.
bool reachedPrimary(RedisLink& link, std::string& error);

// Connects `link` to the primary of a sentinel:// `config`: asks the
// sentinels in turn and takes the first address that is a primary now.
// `primary` is where the link went. False with every sentinel's reason in
// `error`; the link is then closed.
bool connectThroughSentinels(RedisLink& link, const ShareEndpoint& config,
                             std::chrono::milliseconds ioTimeout, ShareEndpoint& primary,
                             std::string& error);
