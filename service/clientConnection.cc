#include "service/clientConnection.h"

#include <unistd.h>

#include <atomic>
#include <utility>

#include "support/threads/RWSemaphore.h"
#include "support/threads/RWxmsg.h"

namespace {

std::atomic<int> openAcceptedConnections{0};

}  // namespace

ClientConnection::ClientConnection(int descriptor, RWSemaphore* slots) noexcept
    : fd(descriptor), slots(slots) {
    if (fd >= 0 && slots != nullptr) {
        openAcceptedConnections.fetch_add(1, std::memory_order_relaxed);
    }
}

int ClientConnection::openAccepted() noexcept {
    return openAcceptedConnections.load(std::memory_order_acquire);
}

ClientConnection::ClientConnection(ClientConnection&& other) noexcept
    : fd(std::exchange(other.fd, -1)), slots(std::exchange(other.slots, nullptr)) {}

ClientConnection& ClientConnection::operator=(ClientConnection&& other) noexcept {
    if (this != &other) {
        end();
        fd = std::exchange(other.fd, -1);
        slots = std::exchange(other.slots, nullptr);
    }
    return *this;
}

ClientConnection::~ClientConnection() {
    end();
}

void ClientConnection::close() noexcept {
    // Forgotten before the close: a thread terminated in between leaves the
    // descriptor open rather than closing it twice.
    int closing = std::exchange(fd, -1);
    if (closing >= 0) {
        ::close(closing);
        countClosed();
    }
}

void ClientConnection::forget() noexcept {
    if (std::exchange(fd, -1) >= 0) {
        countClosed();
    }
}

void ClientConnection::countClosed() noexcept {
    if (slots != nullptr) {
        // Release: whatever the connection's thread did, the recording of
        // its request included, is seen by whoever reads the count as 0.
        openAcceptedConnections.fetch_sub(1, std::memory_order_release);
    }
}

void ClientConnection::end() noexcept {
    close();
    if (RWSemaphore* taken = std::exchange(slots, nullptr)) {
        try {
            taken->release();
        } catch (const RWxmsg&) {
            // A semaphore that cannot count up: the slot is lost, which is
            // better than ending the worker from a destructor.
        }
    }
}
