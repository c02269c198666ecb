// Which sending run brings the logoffs this host receives. A flood of adds on
// one host reaches every host of the farm; counted per run over a minute, the
// flood names its source, and the run names its host (each host says its run
// id when sharing starts).
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "share/shareEntry.h"

class ReceivedRunTally {
  public:
    // At `fastPerMinute` logoffs in a minute or more, the growth is fast.
    explicit ReceivedRunTally(std::uint64_t fastPerMinute);

    struct Flood {
        std::uint64_t received = 0;  // in the window
        std::int64_t seconds = 0;    // since the window began
        ShareRunId topRun{};         // the run that sent the most of them
        std::uint64_t fromTopRun = 0;
    };

    // Counts one logoff from `run` at `now` (seconds on a clock that does not
    // go back). Returns the flood when a line is due: the window holds
    // `fastPerMinute` logoffs, and no line was due in the last minute. The
    // window then starts anew.
    std::optional<Flood> count(const ShareRunId& run, std::int64_t now);

  private:
    const std::uint64_t fastPerMinute;
    std::int64_t windowStart = 0;
    std::uint64_t received = 0;
    // Runs are hosts' starts, a handful in a farm; the bound only keeps
    // memory fixed whatever a holder of the farm secret sends.
    std::map<ShareRunId, std::uint64_t> perRun;
    std::optional<std::int64_t> lastDue;
};

// fastPerMinute for this host: the rate that would fill the cache's ceiling
// within a day, at least 1.
std::uint64_t fastReceivedPerMinute();

// The receiving thread's tally, made at its first use with
// fastReceivedPerMinute() and never destroyed: the thread may still count in
// it while the process runs its exit handlers.
ReceivedRunTally& receivedRunTally();
