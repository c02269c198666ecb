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
inline constexpr std::chrono::milliseconds kShareSentinelTimeout{1000};

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

// What the sentinels said when asked for the primary: their answers, the
// sentinel that gave each, and for those that gave none, why.
struct SentinelPoll {
    std::vector<SentinelAnswer> answers;
    std::vector<std::size_t> answeredBy;  // the sentinel's index in the config
    std::string reasons;
    // The first refusal met (a wrong sentinel password), and its kind.
    std::string refusal;
    ShareConnectOutcome refusalOutcome = ShareConnectOutcome::Refused;
};

// Asks the sentinels of `config` for the primary in turn, from one picked at
// random, until most of them name the same address (or all were asked).
SentinelPoll pollSentinels(const ShareEndpoint& config);

// The sentinels' indexes in the order to ask them for the replicas: those
// that named the address most of them named first, in the order they
// answered; then the others that answered; then those that did not.
std::vector<std::size_t> sentinelsAgreeingFirst(const ShareEndpoint& config,
                                                const SentinelPoll& poll);

// A replica as a sentinel lists it (SENTINEL REPLICAS).
struct SentinelReplica {
    std::string host;
    int port = 0;
    std::string flags;       // "slave" alone when nothing is amiss
    std::string linkStatus;  // master-link-status: "ok" while it follows its primary
    // Neither down (s_down, o_down), nor disconnected from the sentinel, nor
    // cut off from its primary, nor anything else the sentinel flags.
    bool healthy() const { return flags == "slave" && linkStatus == "ok"; }
};

// Asks the sentinel `index` of `config` which replicas its primary has.
// Connected with `replicas` filled; Refused with the sentinel's error reply
// (a sentinel user without +sentinel|replicas); Unreachable with the reason.
ShareConnectOutcome askSentinelReplicas(const ShareEndpoint& config, std::size_t index,
                                        std::vector<SentinelReplica>& replicas, std::string& error);
// The replicas of a reply to SENTINEL REPLICAS: an array of flat lists of
// names and values. Entries without an address that parses are left out.
std::vector<SentinelReplica> parseSentinelReplicas(const redisReply* reply);

// The data node at `host`:`port`, with the database, credentials and TLS
// settings of the sentinel:// `config`.
ShareEndpoint dataNodeOf(const ShareEndpoint& config, const std::string& host, int port);

// Connects `link` to a primary the sentinels of `poll` named, the one most
// named first, and checks it is one (ROLE); as connectThroughSentinels.
ShareConnectOutcome connectToNamedPrimary(RedisLink& link, const ShareEndpoint& config,
                                          const SentinelPoll& poll,
                                          std::chrono::milliseconds ioTimeout,
                                          ShareEndpoint& primary, std::string& error,
                                          bool& failingOver);

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
