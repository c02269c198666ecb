// Which Redis the publisher writes to, so that it can tell when it is no
// longer the one that took this host's last entries: after a failover the
// promoted replica may never have received them, and a Redis restarted
// without persistence has lost them all.
#pragma once

#include <string>

#include "share/redisLink.h"
#include "share/streamFacts.h"

class RedisIncarnation {
  public:
    enum class Finding {
        Unknown,  // the first look, or Redis would not say (its refusal in `why`)
        Same,
        Another,  // with the reason in `why`
    };

    // Asks the Redis at `link` which instance it is (readInstance) and
    // whether the stream still holds the last entry this host was given.
    // Another when the run_id changed (a restart, a promoted replica), or
    // the replication id (a primary demoted to the replica of another, its
    // data now that one's), or when that entry
    // is gone: the stream deleted, or its last id now behind ours. An entry
    // trimmed away is no sign: the same run_id, and a stream that has taken
    // at least as many entries as when ours was last seen in it, tell Same.
    // Replies other than XINFO STREAM's are a few hundred bytes at most,
    // whatever the stream holds; XINFO's, asked once for each entry
    // published and when it is gone, may be given up for what a writer put
    // in the stream (its figures still count). A link that fails or gives a
    // reply up is left closed, with the reason in `error`.
    Finding check(RedisLink& link, const std::string& streamKey, std::string& why,
                  std::string& error);
    // XADD gave this host's entry `id`.
    void published(const std::string& id) { lastPublished_ = id; }

  private:
    // Whether our entry was trimmed from the stream rather than the stream
    // lost: the count of entries added has not gone back.
    bool trimmedAway(RedisLink& link, const std::string& streamKey, std::string& error);

    RedisInstance instance_;     // as last seen; unknown: never
    std::string lastPublished_;  // empty: nothing published yet, or trimmed since
    // XINFO's entries-added when lastPublished_ was last seen in the stream
    // (-1: Redis before 7.0 does not say), and that entry.
    long long added_ = -1;
    std::string addedFor_;
};
