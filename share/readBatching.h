// Batched reads: after a read that brought entries but not a full batch,
// the receiver waits a moment before it reads again, so that a busy stream
// is read many entries per round trip. Without it Redis wakes, answers and
// blocks every host's read again for nearly every logoff; the moment is
// added to each logoff's way to the other hosts.
//   VOKLOGOFFSHAREBATCHMS  that moment in milliseconds, 0 (read again at
//                          once) to kShareBatchWaitMost; default
//                          kShareBatchWaitDefault
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

class RWThreadFunction;

inline constexpr std::chrono::milliseconds kShareBatchWaitDefault{5};
// A logoff must still reach the other hosts in a fraction of a second.
inline constexpr std::chrono::milliseconds kShareBatchWaitMost{100};

// Reads VOKLOGOFFSHAREBATCHMS into `out` (the default when unset). False
// with one line naming the variable in `error`.
bool readShareBatchWait(std::chrono::milliseconds& out, std::string& error);

// The wait after a read that brought `entries` of at most `batch`: `wait`
// after a short read; none after an empty one (the read waited in Redis
// already) or a full one (more may be there now).
std::chrono::milliseconds batchWaitAfter(std::size_t entries, std::size_t batch,
                                         std::chrono::milliseconds wait);

// Waits `wait` on `thread`'s own thread. A request to end the thread ends
// the wait, and the thread, within kShareBatchWaitDefault.
void waitForBatch(std::chrono::milliseconds wait, const RWThreadFunction& thread);
