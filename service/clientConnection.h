// One accepted client connection: its descriptor and the connection slot the
// client loop took for it.
#pragma once

class RWSemaphore;

// The one owner of a connection. Move-only; whoever holds it last closes the
// descriptor if it is still open and gives the slot back, once, on every
// path: a normal end, an exception, or a thread that never ran because it
// could not be started. Whoever finds the connection broken closes it
// through close(); nothing else closes it.
class ClientConnection {
  public:
    ClientConnection() = default;
    // Takes over `descriptor` (-1 when accept failed: nothing to close) and,
    // when `slots` is given, one slot already taken from it.
    explicit ClientConnection(int descriptor, RWSemaphore* slots = nullptr) noexcept;
    ClientConnection(ClientConnection&& other) noexcept;
    ClientConnection& operator=(ClientConnection&& other) noexcept;
    ClientConnection(const ClientConnection&) = delete;
    ClientConnection& operator=(const ClientConnection&) = delete;
    ~ClientConnection();

    // The descriptor, or -1 once it is closed.
    int descriptor() const { return fd; }
    bool isOpen() const { return fd >= 0; }

    // Closes the descriptor now; later calls do nothing. The slot stays
    // taken until the owner goes.
    void close() noexcept;
    // For a descriptor the system reports as not open (EBADF): let go
    // without a close, which could hit a descriptor opened since.
    void forget() noexcept;

    // Accepted connections (those holding a slot) whose descriptor is still
    // open, in the whole process. A connection is closed only after its
    // reply is written, so when this is 0 and no connection is accepted any
    // more, every request has been answered.
    static int openAccepted() noexcept;

  private:
    void end() noexcept;
    void countClosed() noexcept;

    int fd = -1;
    RWSemaphore* slots = nullptr;
};
