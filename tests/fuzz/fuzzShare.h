// The fixed keys of the fuzz targets of farm sharing and the state file, so
// that committed seed entries and files stay valid on every host.
#pragma once

#include <cstdint>

#include "cache/farmKey.h"
#include "share/shareEntry.h"
#include "state/stateFormat.h"

// The run that reads: entries of this run are its own.
inline constexpr ShareRunId kFuzzOwnRun = {9, 9, 9};
inline constexpr ShareRunId kFuzzSender = {1, 2, 3};

// The farm secret of the tests: 40 times 'k'.
const FarmKey& fuzzFarmKey();
// The state file key of the tests: the bytes 1 to 20.
const StateKey& fuzzStateKey();
