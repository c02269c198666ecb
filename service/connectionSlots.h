// The bound on connection threads alive at once, and the owner of one slot
// under it.
#pragma once

#include <cstdint>

#include "support/threads/RWSemaphore.h"

// Connection threads that may be alive at once; at the bound the client loop
// stops accepting and clients wait in the listen backlog.
inline constexpr int32_t kMaxConnectionThreads = 4096;

// Taken by the client loop before each accept and handed to the connection's
// owner (ClientConnection), which gives it back when the connection ends.
RWSemaphore& connectionSlots();

// One slot already taken from a semaphore of slots. Move-only; whoever holds
// it last gives it back, once, however it goes. A connection thread keeps the
// slot of the connection it serves apart from the connection itself, so that
// it gives the slot back only once it waits for its next connection.
class ConnectionSlot {
  public:
    ConnectionSlot() = default;
    // Takes over one slot already taken from `slots` (none when null).
    explicit ConnectionSlot(RWSemaphore* slots) noexcept : slots(slots) {}
    ConnectionSlot(ConnectionSlot&& other) noexcept;
    ConnectionSlot& operator=(ConnectionSlot&& other) noexcept;
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;
    ~ConnectionSlot() { giveBack(); }

    bool held() const { return slots != nullptr; }

  private:
    void giveBack() noexcept;

    RWSemaphore* slots = nullptr;
};
