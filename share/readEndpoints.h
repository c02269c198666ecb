// Where a receiving thread reads the farm's stream. With replicas, a replica
// that follows its primary closely: one the sentinels list in good health
// (sentinel://), or one of VOKLOGOFFSHAREREPLICAS (redis://, rediss://,
// unix:); the primary when none does. Every host reads every logoff, so the
// reads are most of a farm's load on Redis, and replicas take them off the
// primary. Writes never come here: the publisher always connects to the
// primary.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "share/redisLink.h"
#include "share/sentinelDiscovery.h"
#include "share/shareConfig.h"
#include "share/streamFacts.h"

// A replica that has not heard from its primary for longer is left: a
// primary pings its replicas every 10 s (repl-ping-replica-period) when
// nothing is written, and with sentinels it is written to every 2 s.
inline constexpr long long kShareReplicaSilenceLimitSeconds = 15;
// While connected, a receiver that may read from replicas looks this often
// (give or take a quarter, so that a farm's hosts do not all ask at once)
// whether it should read elsewhere: its replica flagged by the sentinels, a
// replica it prefers fit to read again, or one fit while it reads the
// primary.
inline constexpr std::chrono::seconds kShareReadReviewEvery{30};

// The node a receiver reads from.
struct ReadSpot {
    std::string address;   // as ReadAddress::text(); empty before the first connection
    bool replica = false;  // chosen as a replica; else the primary (or VOKLOGOFFSHARE's node)

    std::string describe() const { return (replica ? "replica " : "primary ") + address; }
};

// The order in which the host named `hostName` tries the nodes at
// `addresses`, by rendezvous hashing of the name with each address: a host
// keeps its replica across restarts, a farm's hosts spread evenly over the
// replicas, and when a replica goes or comes back only the hosts that read
// it (or will) move.
std::vector<std::size_t> readPreference(const std::string& hostName,
                                        const std::vector<std::string>& addresses);

// A node's address as the receiver names it in its lines ("host:port", or
// "unix:/path"): where it reads, and what it compares named nodes by.
std::string addressOf(const ShareEndpoint& node);

// Whether a replica, as its INFO tells, may be read: it is still a replica,
// its link to its primary is up, and it heard from the primary within
// kShareReplicaSilenceLimitSeconds. False with why not.
bool replicaFitToRead(const RedisInstance& instance, std::string& why);

// The Redis instance a receiver read, and where.
struct ReadInstance {
    std::string address;
    RedisInstance instance;
};
// Whether what `instance` tells may stand for the data it serves: a
// replica's ids do only while its link to its primary is up, since it
// serves what it held before while it syncs.
bool instanceCounts(const RedisInstance& instance);
// Whether a receiver that read at `before` and reads at `now` (both known
// and counting) must read again from before its position, with why:
// another replication id is another history (a failover, a partition
// healed, a restart empty), and another run_id at the same primary a
// restart that may have lost its last moments. Replicas of one replication
// id hold the same entries under the same ids, some later than others: a
// move between them, or to their primary, or a replica restarted and
// synced again, skips nothing and reads nothing again.
bool instanceCallsForRewind(const ReadInstance& before, const ReadInstance& now, std::string& why);

class ReadEndpoints {
  public:
    explicit ReadEndpoints(std::string hostName);

    // Connects `link` where the receiver should read: the first replica in
    // the host's preference that is fit to read, else the primary (through
    // the sentinels, or VOKLOGOFFSHARE's node). Outcomes are those of the
    // primary's connection when no replica served; `failingOver` as
    // connectThroughSentinels says it.
    ShareConnectOutcome connect(RedisLink& link, const ShareEndpoint& config,
                                std::chrono::milliseconds ioTimeout, std::string& error,
                                bool& failingOver);
    // Where the last connection went.
    const ReadSpot& spot() const { return spot_; }

    bool reviewDue(std::chrono::steady_clock::time_point now) const { return now >= nextReview_; }
    // Whether the receiver should read elsewhere than its spot, with why:
    // one question to one sentinel, and a look at each replica it prefers to
    // its spot. Schedules the next review.
    bool betterElsewhere(const ShareEndpoint& config, std::string& why);

  private:
    struct Candidate {
        ShareEndpoint endpoint;
        std::string address;
    };
    // The replicas to try, in the host's preference.
    std::vector<Candidate> ordered(std::vector<Candidate> candidates) const;
    std::vector<Candidate> listed(const ShareEndpoint& config) const;
    std::vector<Candidate> fromSentinels(const ShareEndpoint& config,
                                         const std::vector<SentinelReplica>& replicas,
                                         const std::string& primaryAddress) const;
    // Asks the sentinels at `order` in turn for the replicas until one
    // answers (answeredBy_); false when none did.
    bool askReplicas(const ShareEndpoint& config, const std::vector<std::size_t>& order,
                     std::vector<SentinelReplica>& replicas);
    // Connects `link` to `candidate` and checks that it may be read; false,
    // with the link closed, when not.
    bool fitToRead(RedisLink& link, const Candidate& candidate,
                   std::chrono::milliseconds ioTimeout);
    void scheduleReview();
    // When the primary the sentinels name cannot be reached: connects `link`
    // to a node of `replicas` that says it is a primary (the old primary cut
    // off with this host, as a link made before would still read), with its
    // address in `address`. False, the link closed, when none does.
    bool lastResort(RedisLink& link, const ShareEndpoint& config,
                    const std::vector<SentinelReplica>& replicas,
                    std::chrono::milliseconds ioTimeout, std::string& address);

    std::string hostName_;
    ReadSpot spot_;
    std::chrono::steady_clock::time_point nextReview_;
    std::size_t answeredBy_ = 0;  // the sentinel that listed the replicas last
};
