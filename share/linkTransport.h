// The byte stream under a Redis link: a plain socket, or TLS over one. The
// link formats commands and reads replies itself; a transport only moves
// bytes, and no wait of it lasts longer than the link's time-out.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

struct ShareEndpoint;

class LinkTransport {
  public:
    virtual ~LinkTransport() = default;

    // Writes all of `data`; false with the reason in `error`.
    virtual bool send(std::string_view data, std::string& error) = 0;
    // Reads from one to `size` bytes; 0 with the reason in `error` when the
    // peer closed, the time-out passed or the stream failed.
    virtual std::size_t receive(char* buffer, std::size_t size, std::string& error) = 0;
    // Whether the last failure was the peer closing or resetting the
    // connection, rather than a time-out or an error of ours.
    virtual bool closedByPeer() const = 0;
    // TLS refused by either side (a certificate, a protocol): what to mend,
    // said with the failure in `error`. Never for a plain socket.
    virtual bool tlsRefused() const { return false; }
};

// A connected socket in non-blocking mode; the descriptor is closed with it.
class SocketTransport final : public LinkTransport {
  public:
    SocketTransport(int fd, std::chrono::milliseconds timeout) : fd_(fd), timeout_(timeout) {}
    ~SocketTransport() override;
    SocketTransport(const SocketTransport&) = delete;
    SocketTransport& operator=(const SocketTransport&) = delete;

    int fd() const { return fd_; }
    std::chrono::milliseconds timeout() const { return timeout_; }

    bool send(std::string_view data, std::string& error) override;
    std::size_t receive(char* buffer, std::size_t size, std::string& error) override;
    bool closedByPeer() const override { return closedByPeer_; }

  private:
    int fd_;
    std::chrono::milliseconds timeout_;
    bool closedByPeer_ = false;
};

// Connects to the endpoint's Unix socket, or its host and port (each address
// the name resolves to in turn), within `timeout` for each. The descriptor,
// non-blocking, or -1 with the reason in `error`.
int connectSocket(const ShareEndpoint& endpoint, std::chrono::milliseconds timeout,
                  std::string& error);

// Waits until `fd` is ready for `events` (POLLIN, POLLOUT) or `timeout`
// passes; false with the reason in `error`.
bool waitReady(int fd, short events, std::chrono::milliseconds timeout, std::string& error);

// Whether the server at the endpoint answers a command in clear: asked when
// a TLS handshake went unanswered, which is how a server in clear meets one.
// Sends PING alone.
bool serverAnswersInClear(const ShareEndpoint& endpoint, std::chrono::milliseconds timeout);
