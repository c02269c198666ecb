#include "client/serviceSocket.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "protocol/socketPath.h"

namespace logoffcookie {

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kSocketRetryPause{10};

ClientStatus failure(ClientError error, int systemError = 0) {
    return ClientStatus{error, systemError};
}

// Rounded up, so a wait never ends just before its deadline; at most
// kLongestWait, which poll and the socket time-outs can take.
int millisecondsUntil(Clock::time_point deadline) {
    auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::clamp(left, milliseconds(0), kLongestWait).count());
}

// Bounds a blocking connect or send: both fail with EAGAIN when it passes.
void limitSendWait(int fd, Clock::time_point deadline) {
    int left = millisecondsUntil(deadline);
    timeval wait{left / 1000, (left % 1000) * 1000};
    if (wait.tv_sec == 0 && wait.tv_usec == 0) {
        wait.tv_usec = 1;  // zero would mean no limit at all
    }
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &wait, sizeof wait);
}

bool isTimeOut(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS;
}

// The errors of a service that is not there yet: worth another try.
bool isNotThereYet(int error) {
    return error == ENOENT || error == ECONNREFUSED;
}

// This process, not the service, is short of memory or buffers.
bool isResourceShortage(int error) {
    return error == ENOBUFS || error == ENOMEM;
}

// Connecting to a path that is not a socket (a directory, a regular file) is
// refused like a socket without a listener; no service start changes that.
bool isSomethingElseThanASocket(const sockaddr_un& address) {
    struct stat status;
    return stat(address.sun_path, &status) == 0 && !S_ISSOCK(status.st_mode);
}

ClientError notThereError(int error) {
    if (error == ENOENT) {
        return LC_CLIENT_NO_SOCKET;
    }
    return error == ECONNREFUSED ? LC_CLIENT_REFUSED : LC_CLIENT_CONNECT_FAILED;
}

}  // namespace

ClientStatus resolveSocketAddress(const std::string& socketPath, sockaddr_un& address) {
    std::string path = socketPath;
    if (path.empty()) {
        const char* installPath = socketDirectory();
        if (installPath == nullptr) {
            return failure(LC_CLIENT_NO_INSTALL_PATH);
        }
        path = socketPathIn(installPath);
    }
    static_assert(kMaxSocketPathLength < sizeof address.sun_path);
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (path.size() > kMaxSocketPathLength || path.find('\0') != std::string::npos) {
        return failure(LC_CLIENT_PATH_TOO_LONG);
    }
    std::memcpy(address.sun_path, path.data(), path.size());
    return {};
}

ClientStatus connectToService(const sockaddr_un& address, milliseconds socketWait,
                              milliseconds timeout, int& fd, Clock::time_point& deadline) {
    // Longer waits would overflow the clock's arithmetic and poll's int.
    socketWait = std::min(socketWait, kLongestWait);
    timeout = std::min(timeout, kLongestWait);
    const Clock::time_point waitEnd = Clock::now() + socketWait;
    bool interrupted = false;
    for (;;) {
        int candidate = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (candidate < 0) {
            return failure(LC_CLIENT_SYSTEM_ERROR, errno);
        }
        // An interrupted attempt goes on under its own deadline; a new one
        // gets a whole time-out.
        if (!interrupted) {
            deadline = Clock::now() + timeout;
        }
        interrupted = false;
        limitSendWait(candidate, deadline);
        if (connect(candidate, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
            fd = candidate;
            return {};
        }
        int error = errno;
        close(candidate);
        if (error == EINTR) {
            // A signal cut short the wait for a full backlog: with a send
            // time-out set the system does not restart the call. The wait
            // is the caller's to end, not the signal's: tried again until
            // the deadline, whatever the socket wait.
            if (Clock::now() >= deadline) {
                return failure(LC_CLIENT_TIMED_OUT, ETIMEDOUT);
            }
            interrupted = true;
            continue;
        }
        if (isTimeOut(error)) {
            return failure(LC_CLIENT_TIMED_OUT, error);
        }
        if (isResourceShortage(error)) {
            return failure(LC_CLIENT_SYSTEM_ERROR, error);
        }
        if (!isNotThereYet(error)) {
            return failure(LC_CLIENT_CONNECT_FAILED, error);
        }
        if (error == ECONNREFUSED && isSomethingElseThanASocket(address)) {
            return failure(LC_CLIENT_CONNECT_FAILED, ENOTSOCK);
        }
        Clock::time_point now = Clock::now();
        if (now >= waitEnd) {
            return failure(notThereError(error), error);
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(kSocketRetryPause, waitEnd - now));
    }
}

ClientStatus sendRequest(int fd, const char* text, size_t length, Clock::time_point deadline) {
    limitSendWait(fd, deadline);
    for (;;) {
        // MSG_NOSIGNAL: a service that has closed must not raise SIGPIPE in
        // the agent's process.
        ssize_t sent = send(fd, text, length, MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(length)) {
            return {};
        }
        if (sent >= 0) {
            // Part of a request is no request: the service reads it once.
            return failure(LC_CLIENT_SEND_FAILED);
        }
        if (errno == EINTR) {
            continue;
        }
        return failure(isTimeOut(errno) ? LC_CLIENT_TIMED_OUT : LC_CLIENT_SEND_FAILED, errno);
    }
}

ClientStatus receiveReply(int fd, char* buffer, size_t capacity, Clock::time_point deadline,
                          size_t& length) {
    length = 0;
    for (;;) {
        pollfd ready{fd, POLLIN, 0};
        int polled = poll(&ready, 1, millisecondsUntil(deadline));
        if (polled == 0) {
            return failure(LC_CLIENT_TIMED_OUT);
        }
        if (polled < 0) {
            if (errno == EINTR) {
                continue;
            }
            return failure(LC_CLIENT_RECEIVE_FAILED, errno);
        }
        // One byte of room beyond capacity tells a reply that is too long.
        char overflow;
        char* into = length < capacity ? buffer + length : &overflow;
        size_t room = length < capacity ? capacity - length : 1;
        ssize_t received = read(fd, into, room);
        if (received > 0) {
            if (into == &overflow) {
                return failure(LC_CLIENT_UNEXPECTED_REPLY);
            }
            length += static_cast<size_t>(received);
            continue;
        }
        if (received == 0) {
            return length > 0 ? ClientStatus{} : failure(LC_CLIENT_NO_REPLY);
        }
        if (errno == EINTR || errno == EAGAIN) {
            continue;
        }
        // A service that closes without reading all it was sent resets the
        // connection; what it wrote before is still its whole reply.
        if (errno == ECONNRESET) {
            return length > 0 ? ClientStatus{} : failure(LC_CLIENT_NO_REPLY, ECONNRESET);
        }
        return failure(LC_CLIENT_RECEIVE_FAILED, errno);
    }
}

}  // namespace logoffcookie
