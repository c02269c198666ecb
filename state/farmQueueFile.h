// The farm queue's own file: the logoffs that were still waiting to be
// published at a stop that wrote no state file (warm restarts off, or the
// state not saved), so that the next start publishes them. A logoff made
// while Redis was away or refused this host would otherwise never reach the
// other hosts. It has the state file's layout with no cookies, under a key
// of its own; its age does not matter, since publishing a logoff never
// weakens a cache.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cache/farmLogoff.h"
#include "state/stateFormat.h"

// The file's name in the service's directory.
inline constexpr const char* kFarmQueueFileName = "logoffCookieFarmQueue";

// Writes `queued` to `path` as the state file is written, and says on
// standard error and in the trace "kept N logoffs not yet published to the
// farm in PATH", or why they could not be. True when the file was written.
bool farmQueue_save(const std::string& path, const StateKey& key, std::int32_t now,
                    const std::vector<FarmLogoff>& queued);

// Takes back what farmQueue_save wrote at `path`, front first, setting the
// file aside so that no later start takes it again; says how many, or why
// none were taken. Nothing is said when there is no file.
std::vector<FarmLogoff> farmQueue_load(const std::string& path, const StateKey& key);
