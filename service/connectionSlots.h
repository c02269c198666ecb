// The bound on connection threads alive at once.
#pragma once

#include <cstdint>

#include "support/threads/RWSemaphore.h"

// Connection threads that may be alive at once; at the bound the client loop
// stops accepting and clients wait in the listen backlog.
inline constexpr int32_t kMaxConnectionThreads = 4096;

// Taken by the client loop before each accept and handed to the connection's
// owner (ClientConnection), which gives it back when the connection ends.
RWSemaphore& connectionSlots();
