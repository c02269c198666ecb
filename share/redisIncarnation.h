// Which Redis the publisher writes to, so that it can tell when it is no
// longer the one that took this host's last entries: after a failover the
// promoted replica may never have received them, and a Redis restarted
// without persistence has lost them all.
#pragma once

#include <string>

#include "share/redisLink.h"

class RedisIncarnation {
  public:
    enum class Finding {
        Unknown,  // the first look, or Redis would not say (its refusal in `why`)
        Same,
        Another,  // with the reason in `why`
    };

    // Asks the Redis at `link` for its run_id (INFO server) and whether the
    // stream still holds the last entry this host was given. Another when
    // the run_id changed (a restart, a promoted replica), or when that entry
    // is gone: the stream deleted, or its last id now behind ours. Replies
    // are a few hundred bytes at most, whatever the stream holds. A link
    // that fails is left closed, with the reason in `error`.
    Finding check(RedisLink& link, const std::string& streamKey, std::string& why,
                  std::string& error);
    // XADD gave this host's entry `id`.
    void published(const std::string& id) { lastPublished_ = id; }

  private:
    std::string runId_;          // as last seen; empty: never
    std::string lastPublished_;  // empty: nothing published yet
};
