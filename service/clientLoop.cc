#include "service/clientLoop.h"

#include <sys/resource.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <mutex>
#include <utility>

#include "diag/errnoName.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "service/clientConnection.h"
#include "service/connectionSlots.h"
#include "service/readyRequest.h"
#include "service/serviceDispatcher.h"
#include "service/waitingConnectionThreads.h"
#include "support/threads/RWFunctor0.h"
#include "support/threads/RWThreadFunction.h"
#include "support/threads/RWxmsg.h"
#include "support/threads/forcedUnwind.h"

namespace {

// The most recently started connection thread. Assigning a new one only
// releases the previous thread object; that thread runs on and frees it.
RWThreadFunction connectionThreadHandle;

constexpr int kReceiveTimeoutSeconds = 5;
// After a failed accept or select: long enough not to spin while the cause
// lasts (out of descriptors, for example), short enough to go unnoticed.
constexpr long kRetryPauseNanos = 10'000'000;

// Lets the connection bound, not the descriptor limit, decide how many
// clients are served at once.
void raiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

void serveConnection(ClientConnection connection) {
    // On the connection's thread, not in the loop: the loop starts every
    // connection one after the other, so what it leaves out runs in parallel.
    // Without the time-out a silent client would hold the thread for ever:
    // such a connection is closed unserved.
    if (connection.isOpen() && !connection.limitReceiveWait(kReceiveTimeoutSeconds)) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_ServerMain() -- setsockopt SO_RCVTIMEO on fd_client %d: %s",
                  connection.descriptor(), std::strerror(errno));
        return;
    }
    logoffCookieAPI_serviceDispatcher(std::move(connection));
}

// A connection thread serves its first connection and then, while it waits
// briefly for one, each connection the loop hands to it.
void serveConnections(ClientConnection first) {
    waitingConnectionThreads().serveUntilIdle(std::move(first), serveConnection);
}

// The work of one connection's thread, holding the connection until the
// thread runs. A thread that never gets to run it (not started, not
// registered) still ends the connection: it goes with the thread object.
class ConnectionWork : public RWFunctor0Imp {
  public:
    explicit ConnectionWork(ClientConnection connection) : connection(std::move(connection)) {}

    // The one run takes the connection over; run() is const in the functor
    // interface, hence the mutable member.
    void run() const override { serveConnections(std::move(connection)); }

  private:
    mutable ClientConnection connection;
};

// Inside a catch block: what the exception being handled says.
const char* caughtMessage() {
    try {
        throw;
    } catch (const RWxmsg& failure) {
        return failure.message();
    } catch (const std::exception& failure) {
        return failure.what();
    } catch (...) {
        return "Unrecognized exception";
    }
}

// A thread waiting for its next connection takes it; only when none waits is
// a thread made. Whatever goes wrong here ends this one connection, never the
// loop: the system refusing a thread, memory running out for the thread
// object, the new thread failing to register.
RW_CATCHES_FORCED_UNWIND
void launchConnectionThread(ClientConnection connection) {
    const int fd_client = connection.descriptor();
    if (waitingConnectionThreads().handOver(connection)) {
        return;
    }
    try {
        connectionThreadHandle =
            RWThreadFunction::make(RWFunctor0(new ConnectionWork(std::move(connection))));
        connectionThreadHandle.start();
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieAPI_ServerMain() -- Could not start a thread for fd_client %d: %s",
                  fd_client, caughtMessage());
        metrics_count(CountedMetric::ConnectionsRefused);
        // The thread object holds the connection if it got that far: letting
        // it go closes the connection and gives the slot back. Otherwise the
        // connection is still here and goes at the return.
        connectionThreadHandle = RWThreadFunction();
    }
}

// A query that is already there, answered on the loop through the same
// replies as on a connection thread: the hand-over to another thread costs
// more than the answer. The loop looks only at the bytes already received
// and only tries the cache's read hold, so it waits for neither the client
// nor a cleanup pass or an insert; anything else goes to a connection thread
// untouched. The one 72-character reply fits the fresh connection's send
// buffer. What goes wrong ends this one connection, never the loop: true,
// and the connection closes as it goes.
RW_CATCHES_FORCED_UNWIND
bool answeredOnTheLoop(ClientConnection& connection) {
    const int fd_client = connection.descriptor();
    try {
        return logoffCookieService_answerQueryAtOnce(connection, bytesAlreadyReceived(fd_client));
    } catch (abi::__forced_unwind&) {
        throw;
    } catch (...) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- Serving fd_client %d failed: %s",
                  fd_client, caughtMessage());
        return true;
    }
}

// Guards the launch of connection threads against the worker's exit: once
// the exit has begun, no thread is started, no request is answered on the
// loop and the global handle is left alone, since the exit handlers and
// static destructors run on another thread.
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

// A loop that cannot accept serves nobody, and the trace may be off: said
// once on standard error. Only the loop thread calls it.
void sayServingStalledOnce(const char* call, int error) {
    static bool said = false;
    if (!said) {
        said = true;
        std::fprintf(stderr,
                     "logoffCookieAPI_ServerMain() -- %s failed with errno %s, val %d: no client "
                     "is served while this lasts; check the descriptor limit (ulimit -n).\n",
                     call, errnoName(error), error);
    }
}

void pauseBeforeRetrying() {
    timespec pause{0, kRetryPauseNanos};
    nanosleep(&pause, nullptr);
}

// Has `connection` served unless the exit has begun: false then, and the
// connection goes unserved.
bool takeOn(ClientConnection connection) {
    std::lock_guard<std::mutex> lock(launchMutex());
    if (acceptingStopped) {
        return false;
    }
    // A failed accept still gets its thread: its read fails on the invalid
    // descriptor and the socket check traces why.
    const bool accepted = connection.isOpen();
    if (accepted) {
        metrics_count(CountedMetric::ConnectionsAccepted);
    }
    // Under the launch mutex like a launch: the exit waits for the answer
    // rather than taking the cache away beneath it.
    if (!accepted || !answeredOnTheLoop(connection)) {
        launchConnectionThread(std::move(connection));
    }
    return true;
}

void acceptOneConnection(int fd_socket) {
    connectionSlots().acquire();
    ClientConnection connection(accept(fd_socket, nullptr, nullptr), &connectionSlots());
    const bool accepted = connection.isOpen();
    if (!accepted) {
        metrics_count(CountedMetric::LoopAcceptFailures);
        sayServingStalledOnce("accept", errno);
    }
    if (!takeOn(std::move(connection))) {
        parkForever();
    }
    if (!accepted) {
        // Out of descriptors, for example: do not spin while it lasts.
        pauseBeforeRetrying();
    }
}

}  // namespace

void logoffCookieService_stopAccepting() {
    std::lock_guard<std::mutex> lock(launchMutex());
    acceptingStopped = true;
}

void logoffCookieService_clientLoop(int fd_socket) {
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
            // A signal is no failure; anything else would fail again at once.
            const int error = errno;
            if (error != EINTR) {
                TRACE_LOG(TRACE_DETAIL,
                          "logoffCookieAPI_ServerMain() -- select failed with errno %s, val %d -- "
                          "pausing before trying again",
                          errnoName(error), error);
                metrics_count(CountedMetric::LoopSelectFailures);
                sayServingStalledOnce("select", error);
                pauseBeforeRetrying();
            }
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
