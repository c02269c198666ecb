// Lines of several kinds (a key each: the reason of the line), each said at
// most once an interval: one OncePerInterval per key. Keys come and go with
// what goes wrong, some carrying names or texts from outside, so only a
// bounded number is held: a key not said for an interval is as good as
// unknown and gives up its room to a new one. Past the room (more keys said
// within one interval than it holds), the keys without room share one
// OncePerInterval: neither memory nor the lines said grow with a stream of
// distinct keys.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "diag/oncePerInterval.h"

class KeyedOncePerInterval {
  public:
    KeyedOncePerInterval(std::int64_t intervalSeconds, std::size_t keys);

    // True when a line of `key` is due at `now` (seconds on any clock that
    // does not go back, as for OncePerInterval). Of several threads at the
    // same moment, one is told to say it.
    bool due(std::string_view key, std::int64_t now);

    // The keys held; never more than the room given.
    std::size_t keysHeld();

  private:
    struct Held {
        Held(std::string_view name, std::int64_t intervalSeconds)
            : key(name), limit(intervalSeconds) {}
        std::string key;
        OncePerInterval limit;
    };

    const std::int64_t interval_;
    const std::size_t room_;
    // Finding or making a key's limit is no hot path: the lines limited
    // are about faults.
    std::mutex lock_;
    std::vector<std::unique_ptr<Held>> held_;  // guarded by lock_
    OncePerInterval beyondRoom_;
};
