#include "share/linkTransport.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "share/shareConfig.h"

namespace {

// A peer that vanished without a word is noticed within about half a
// minute, as with Redis's own clients: probes after 15 s idle, 5 s apart.
constexpr int kKeepAliveIdle = 15;
constexpr int kKeepAliveInterval = 5;
constexpr int kKeepAliveProbes = 3;

void enableKeepAlive(int fd) {
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdle, sizeof kKeepAliveIdle);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveInterval, sizeof kKeepAliveInterval);
    setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
    // Commands are written whole; none waits for a next one to fill a packet.
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// Connects `fd` to `address`, waiting at most `timeout` for the handshake.
bool connectWithin(int fd, const sockaddr* address, socklen_t length,
                   std::chrono::milliseconds timeout, std::string& error) {
    if (::connect(fd, address, length) == 0) {
        return true;
    }
    if (errno != EINPROGRESS) {
        error = std::string("connect: ") + std::strerror(errno);
        return false;
    }
    if (!waitReady(fd, POLLOUT, timeout, error)) {
        error = "connect: " + error;
        return false;
    }
    int failure = 0;
    socklen_t size = sizeof failure;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &size) != 0) {
        failure = errno;
    }
    if (failure != 0) {
        error = std::string("connect: ") + std::strerror(failure);
        return false;
    }
    return true;
}

int connectUnix(const std::string& path, std::chrono::milliseconds timeout, std::string& error) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        error = "connect: socket path too long";
        return -1;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    if (!connectWithin(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address, timeout,
                       error)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connectTcp(const std::string& host, int port, std::chrono::milliseconds timeout,
               std::string& error) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (resolved != 0) {
        error = "connect: " + host + ": " + gai_strerror(resolved);
        return -1;
    }
    int fd = -1;
    for (addrinfo* at = found; at != nullptr && fd < 0; at = at->ai_next) {
        fd = socket(at->ai_family, at->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, at->ai_protocol);
        if (fd < 0) {
            error = std::string("socket: ") + std::strerror(errno);
            continue;
        }
        if (!connectWithin(fd, at->ai_addr, at->ai_addrlen, timeout, error)) {
            ::close(fd);
            fd = -1;
        }
    }
    freeaddrinfo(found);
    if (fd >= 0) {
        enableKeepAlive(fd);
    }
    return fd;
}

}  // namespace

bool waitReady(int fd, short events, std::chrono::milliseconds timeout, std::string& error) {
    pollfd watched{fd, events, 0};
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
        int ready = poll(&watched, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (ready > 0) {
            return true;
        }
        if (ready == 0) {
            error = "timed out after " + std::to_string(timeout.count()) + " ms";
            return false;
        }
        if (errno != EINTR) {
            error = std::string("poll: ") + std::strerror(errno);
            return false;
        }
    }
}

int connectSocket(const ShareEndpoint& endpoint, std::chrono::milliseconds timeout,
                  std::string& error) {
    return endpoint.unixSocket ? connectUnix(endpoint.path, timeout, error)
                               : connectTcp(endpoint.host, endpoint.port, timeout, error);
}

SocketTransport::~SocketTransport() {
    ::close(fd_);
}

bool SocketTransport::send(std::string_view data, std::string& error) {
    closedByPeer_ = false;
    while (!data.empty()) {
        ssize_t sent = ::send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
        if (sent > 0) {
            data.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            closedByPeer_ = errno == EPIPE || errno == ECONNRESET;
            error = std::string("write: ") + std::strerror(errno);
            return false;
        }
        if (!waitReady(fd_, POLLOUT, timeout_, error)) {
            error = "write: " + error;
            return false;
        }
    }
    return true;
}

std::size_t SocketTransport::receive(char* buffer, std::size_t size, std::string& error) {
    closedByPeer_ = false;
    for (;;) {
        ssize_t got = ::recv(fd_, buffer, size, 0);
        if (got > 0) {
            return static_cast<std::size_t>(got);
        }
        if (got == 0) {
            closedByPeer_ = true;
            error = "read: the server closed the connection";
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) {
            closedByPeer_ = errno == ECONNRESET;
            error = std::string("read: ") + std::strerror(errno);
            return 0;
        }
        if (!waitReady(fd_, POLLIN, timeout_, error)) {
            error = "read: " + error;
            return 0;
        }
    }
}

bool serverAnswersInClear(const ShareEndpoint& endpoint, std::chrono::milliseconds timeout) {
    std::string error;
    int fd = connectSocket(endpoint, timeout, error);
    if (fd < 0) {
        return false;
    }
    SocketTransport socket(fd, timeout);
    char first = 0;
    // A status or an error reply (NOAUTH, a protected mode's refusal): Redis
    // in clear either way.
    return socket.send("PING\r\n", error) && socket.receive(&first, 1, error) == 1 &&
           (first == '+' || first == '-');
}
