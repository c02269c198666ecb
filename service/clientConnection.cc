#include "service/clientConnection.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>

#include "support/threads/cancellationScope.h"

namespace {

std::atomic<int> openAcceptedConnections{0};

}  // namespace

ClientConnection::ClientConnection(int descriptor, RWSemaphore* slots) noexcept
    : fd(descriptor), counted(descriptor >= 0 && slots != nullptr), slot(slots) {
    if (counted) {
        openAcceptedConnections.fetch_add(1, std::memory_order_relaxed);
    }
}

ClientConnection::ClientConnection(ConnectionSlot slot) noexcept : slot(std::move(slot)) {}

int ClientConnection::openAccepted() noexcept {
    return openAcceptedConnections.load(std::memory_order_acquire);
}

ClientConnection::ClientConnection(ClientConnection&& other) noexcept
    : fd(std::exchange(other.fd, -1)),
      counted(std::exchange(other.counted, false)),
      slot(std::move(other.slot)) {}

ClientConnection& ClientConnection::operator=(ClientConnection&& other) noexcept {
    if (this != &other) {
        close();
        fd = std::exchange(other.fd, -1);
        counted = std::exchange(other.counted, false);
        slot = std::move(other.slot);
    }
    return *this;
}

ClientConnection::~ClientConnection() {
    // Closed before the slot goes back: whoever takes the slot finds this
    // connection answered.
    close();
}

ssize_t ClientConnection::receive(char* buffer, size_t capacity) {
    ssize_t received = ::read(fd, buffer, capacity);
    if (received < 0 && errno == EBADF) {
        // Not cut off halfway: forget() is noexcept.
        NoCancellation settling;
        forget();
    }
    return received;
}

bool ClientConnection::limitReceiveWait(int seconds) noexcept {
    timeval timeout{seconds, 0};
    return setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
}

ssize_t ClientConnection::send(const char* data, size_t length) noexcept {
    // MSG_NOSIGNAL: a client that has gone away must not raise SIGPIPE.
    ssize_t written = ::send(fd, data, length, MSG_NOSIGNAL);
    if (written < 0 && errno == EBADF) {
        forget();
    }
    return written;
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

ConnectionSlot ClientConnection::takeSlot() noexcept {
    return std::move(slot);
}

void ClientConnection::countClosed() noexcept {
    if (std::exchange(counted, false)) {
        // Release: whatever the connection's thread did, the recording of
        // its request included, is seen by whoever reads the count as 0.
        openAcceptedConnections.fetch_sub(1, std::memory_order_release);
    }
}
