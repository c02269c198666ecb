// The warm restart: the worker saves what the cache (and farm sharing) held
// at an orderly stop and takes it back at the next start, when the file
// verifies and is fresh. Every outcome is said in one line on standard error
// and in the trace.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "cache/farmLogoff.h"
#include "state/stateConfig.h"
#include "state/stateFormat.h"

// The key of this host's state files, derived from the host key; nullptr
// when the host key seed has not been set.
std::unique_ptr<StateKey> hostStateKey();
// The key of this host's farm queue file (state/farmQueueFile.h), apart from
// the state file's.
std::unique_ptr<StateKey> hostFarmQueueKey();

// The logoffs a verified file had queued for the farm, front first.
std::vector<FarmLogoff> stateQueuedLogoffs(const StateView& view);

// What a start took from the state file; all empty for a cold start.
struct StateLoad {
    bool warm = false;
    std::uint32_t cookies = 0;
    std::uint32_t farmLogoffs = 0;
    StatePosition position;
    std::vector<FarmLogoff> queued;
};

// At start, after initLogoffCookieCache and before any request: when the
// file at config.path verifies under `key` and was written at most
// config.maxAgeSeconds before `now`, sets it aside, fills the cache from it
// and says "restarted warm: N cookies, M farm logoffs kept". Otherwise the
// cache stays as initialised (a cold start) and one line says why; a file
// that was read is set aside all the same, so no later start tries it again.
// A file in a directory that others may write is not read at all. The farm
// logoffs a verified file had queued come back in `queued` whatever its age;
// those of a file that does not verify are said to be discarded.
StateLoad logoffCookieState_load(const StateConfig& config, const StateKey& key, std::int32_t now);

// At an orderly stop, once no request is under way: writes the cache's state
// with `position` and `queued` to config.path, stamped `now`, and says how
// much was saved, or why nothing was. True when the file was written.
bool logoffCookieState_save(const StateConfig& config, const StateKey& key, std::int32_t now,
                            const StatePosition& position, const std::vector<FarmLogoff>& queued);
