#include "support/threads/exitState.h"

#include <atomic>

namespace {
// Constant-initialised and trivially destructible: usable by any static
// object's destructor, whatever the order of destruction.
std::atomic<bool> terminatedAtExit{false};
}  // namespace

void noteThreadTerminatedAtExit() {
    terminatedAtExit.store(true, std::memory_order_release);
}

bool threadTerminatedAtExit() {
    return terminatedAtExit.load(std::memory_order_acquire);
}
