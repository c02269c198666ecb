#include "service/clientConnection.h"

#include <unistd.h>

#include <utility>

#include "support/threads/RWSemaphore.h"
#include "support/threads/RWxmsg.h"

ClientConnection::ClientConnection(int descriptor, RWSemaphore* slots) noexcept
    : fd(descriptor), slots(slots) {}

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
    }
}

void ClientConnection::forget() noexcept {
    fd = -1;
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
