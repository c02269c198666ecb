// One accepted client connection: its descriptor and the connection slot the
// client loop took for it.
#pragma once

#include <sys/types.h>

#include <cstddef>

#include "service/connectionSlots.h"

// The one owner of a connection, and the only closer of its descriptor.
// Move-only; whoever holds it last closes the descriptor if it is still open
// and gives the slot back, once, on every path: a normal end, an exception, or
// a thread that never ran because it could not be started. The steps that
// read and write the connection only report a broken connection; it closes
// when its owner goes.
class ClientConnection {
  public:
    ClientConnection() = default;
    // Takes over `descriptor` (-1 when accept failed: nothing to close) and,
    // when `slots` is given, one slot already taken from it.
    explicit ClientConnection(int descriptor, RWSemaphore* slots = nullptr) noexcept;
    // No descriptor, only the slot of a connection served elsewhere.
    explicit ClientConnection(ConnectionSlot slot) noexcept;
    ClientConnection(ClientConnection&& other) noexcept;
    ClientConnection& operator=(ClientConnection&& other) noexcept;
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;
    ~ClientConnection();

    // The descriptor, or -1 once it is closed.
    int descriptor() const { return fd; }
    bool isOpen() const { return fd >= 0; }

    // read(2) and send(2) without SIGPIPE on the descriptor, with errno set
    // as they left it. A descriptor the system reports as not open (EBADF)
    // is let go without a close, which could hit a descriptor opened since.
    // receive() may be cut off by the exit's termination of its thread (it
    // runs inside a CancellableWait scope): the thread then unwinds out of
    // it, which a noexcept function would turn into std::terminate.
    ssize_t receive(char* buffer, size_t capacity);
    ssize_t send(const char* data, size_t length) noexcept;

    // A client that connects and stays silent gives up its thread after
    // `seconds`. False, with errno set, when the system refused the time-out:
    // the connection would then hold its thread for as long as the client
    // likes.
    bool limitReceiveWait(int seconds) noexcept;

    // Closes the descriptor now; later calls do nothing. The slot stays
    // taken until the owner goes.
    void close() noexcept;
    // Lets the descriptor go without a close, as receive and send do on EBADF.
    void forget() noexcept;

    // Hands the slot to a new owner; the connection still counts as accepted
    // (see openAccepted) until its descriptor is closed.
    ConnectionSlot takeSlot() noexcept;

    // Accepted connections (those given a slot) whose descriptor is still
    // open, in the whole process. A connection is closed only after its
    // reply is written, so when this is 0 and no connection is accepted any
    // more, every request has been answered.
    static int openAccepted() noexcept;

  private:
    void countClosed() noexcept;

    int fd = -1;
    bool counted = false;  // counted in openAccepted
    ConnectionSlot slot;
};
