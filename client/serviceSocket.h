// The client's side of the service socket, one connection per request: find
// the socket, connect, send the request in one write and read the reply until
// the service closes.
#pragma once

#include <sys/un.h>

#include <chrono>
#include <cstddef>
#include <limits>
#include <string>

#include "client/logoffCookieClient.hpp"

namespace logoffcookie {

using Clock = std::chrono::steady_clock;

// The longest socket wait and time-out: longer ones are shortened to this,
// the most milliseconds an int holds (about 24.8 days).
inline constexpr std::chrono::milliseconds kLongestWait{std::numeric_limits<int>::max()};

// The socket address of `socketPath`, or of $WA_INSTALL_PATH/logoffCookieSocket
// when it is empty.
ClientStatus resolveSocketAddress(const std::string& socketPath, sockaddr_un& address);

// Connects to `address`. A missing socket file or a refusing socket is tried
// again until `socketWait` has passed, for a service that is still starting.
// Both waits are shortened to kLongestWait.
// A service whose backlog is full is waited for up to `timeout`, a wait that
// a signal does not cut short. On success `fd` is the connected descriptor and
// `deadline` the connect attempt's start plus `timeout`, which bounds the rest
// of the exchange.
ClientStatus connectToService(const sockaddr_un& address, std::chrono::milliseconds socketWait,
                              std::chrono::milliseconds timeout, int& fd,
                              Clock::time_point& deadline);

// Sends the whole request in one write: the service reads it with one read.
ClientStatus sendRequest(int fd, const char* text, size_t length, Clock::time_point deadline);

// Reads until the service closes the connection. More than `capacity` bytes
// is not a reply of this service.
ClientStatus receiveReply(int fd, char* buffer, size_t capacity, Clock::time_point deadline,
                          size_t& length);

}  // namespace logoffcookie
