// The load of logoffcookie bench: C client threads, each sending one request
// per connection, back to back, for a duration or until a request count is
// reached. The requests are encrypted before the clock starts (unless every
// request is to be encrypted anew), so that the clients, which share the
// host's cores with the service, spend as little as they can besides talking
// to it.
#pragma once

#include <iosfwd>

#include "client/cli/benchOptions.h"
#include "client/cli/benchStatistics.h"

namespace logoffcookie::cli {

// The text length of every reply: the envelope of a 4-byte value.
inline constexpr size_t kReplyTextLength = 72;

// Runs the load that `options` describe and fills `tally` and `seconds` (from
// the moment every client may start to the moment the last one ended). A
// status other than success means the load could not be set up; a failed
// prefill is reported to `err` and the run goes on. With `showProgress`, the
// run's progress is drawn on `err` while it lasts.
ClientStatus runBenchLoad(const BenchOptions& options, std::ostream& err, bool showProgress,
                          BenchTally& tally, double& seconds);

}  // namespace logoffcookie::cli
