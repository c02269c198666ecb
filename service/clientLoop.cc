#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <mutex>

#include "diag/traceLog.h"
#include "service/connectionSlots.h"
#include "service/logoffCookieAPIServer.h"
#include "support/threads/RWThreadFunction.h"
#include "support/threads/RWxmsg.h"

namespace {

// The most recently started connection thread. Assigning a new one only
// releases the previous thread object; that thread runs on and frees it.
RWThreadFunction connectionThreadHandle;

constexpr int kReceiveTimeoutSeconds = 5;
constexpr long kAcceptRetryPauseNanos = 10'000'000;

// Lets the connection bound, not the descriptor limit, decide how many
// clients are served at once.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

// A client that connects and stays silent is dropped after the time-out
// instead of holding its thread for ever.
void limitReceiveWait(int fd) {
    timeval timeout{kReceiveTimeoutSeconds, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

void serveConnection(int fd_client) {
    // On the connection's thread, not in the loop: the loop starts every
    // connection one after the other, so what it leaves out runs in parallel.
    if (fd_client >= 0) {
        limitReceiveWait(fd_client);
    }
    logoffCookieAPI_serviceDispatcher(fd_client);
    connectionSlots().release();
}

void launchConnectionThread(int fd_client) {
    try {
        connectionThreadHandle = RWThreadFunction::make(serveConnection, fd_client);
        connectionThreadHandle.start();
    } catch (const RWxmsg& failure) {
        // The system refused another thread: drop this client, keep serving.
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_ServerMain() -- Could not start a thread for fd_client %d: %s",
                  fd_client, failure.message());
        if (fd_client >= 0) {
            close(fd_client);
        }
        connectionSlots().release();
    }
}

// Guards the launch of connection threads against the worker's exit: once
// the exit has begun, no thread is started and the global handle is left
// alone, since the exit handlers and static destructors run on another thread.
// Never destroyed, for the same reason.
std::mutex& launchMutex() {
    static std::mutex* mutex = new std::mutex;
    return *mutex;
}
bool acceptingStopped = false;  // guarded by launchMutex()

[[noreturn]] void parkForever() {
    for (;;) {
        pause();
    }
}

void acceptOneConnection(int fd_socket) {
    connectionSlots().acquire();
    int fd_client = accept(fd_socket, nullptr, nullptr);
    std::unique_lock<std::mutex> lock(launchMutex());
    if (acceptingStopped) {
        if (fd_client >= 0) {
            close(fd_client);
        }
        lock.unlock();
        parkForever();
    }
    // A failed accept still gets its thread: its read fails on the invalid
    // descriptor and the socket check traces why.
    launchConnectionThread(fd_client);
    lock.unlock();
    if (fd_client < 0) {
        // Out of descriptors, for example: do not spin while it lasts.
        timespec pause{0, kAcceptRetryPauseNanos};
        nanosleep(&pause, nullptr);
    }
}

}  // namespace

void logoffCookieAPI_stopAccepting() {
    std::lock_guard<std::mutex> lock(launchMutex());
    acceptingStopped = true;
}

RWSemaphore& connectionSlots() {
    // Never destroyed: connection threads may still release slots while the
    // process exits.
    static RWSemaphore* slots = new RWSemaphore(kMaxConnectionThreads);
    return *slots;
}

void logoffCookieAPI_clientLoop(int fd_socket) {
    raiseDescriptorLimit();
    int fd_hwm = fd_socket > 0 ? fd_socket : 0;
    fd_set master_set;
    FD_ZERO(&master_set);
    FD_SET(fd_socket, &master_set);

    for (;;) {
        fd_set read_set = master_set;
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- Read_set has been set.");
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- fd_socket: %d.", fd_socket);
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- fd_hwm   : %d.", fd_hwm);
        if (select(fd_hwm + 1, &read_set, nullptr, nullptr, nullptr) < 0) {
            continue;
        }
        for (int fd = 0; fd <= fd_hwm; ++fd) {
            if (!FD_ISSET(fd, &read_set)) {
                continue;
            }
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieAPI_ServerMain() -- Select finds %d to be a member of read_set.",
                      fd);
            if (fd == fd_socket) {
                acceptOneConnection(fd_socket);
            }
        }
    }
}
