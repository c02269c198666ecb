#include "service/connectionSlots.h"

#include <utility>

#include "support/threads/RWxmsg.h"

RWSemaphore& connectionSlots() {
    // Never destroyed: connection threads may still release slots while the
    // process exits.
    static RWSemaphore* slots = new RWSemaphore(kMaxConnectionThreads);
    return *slots;
}

ConnectionSlot::ConnectionSlot(ConnectionSlot&& other) noexcept
    : slots(std::exchange(other.slots, nullptr)) {}

ConnectionSlot& ConnectionSlot::operator=(ConnectionSlot&& other) noexcept {
    if (this != &other) {
        giveBack();
        slots = std::exchange(other.slots, nullptr);
    }
    return *this;
}

void ConnectionSlot::giveBack() noexcept {
    if (RWSemaphore* taken = std::exchange(slots, nullptr)) {
        try {
            taken->release();
        } catch (const RWxmsg&) {
            // A semaphore that cannot count up: the slot is lost, which is
            // better than ending the worker from a destructor.
        }
    }
}
