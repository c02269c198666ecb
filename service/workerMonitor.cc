#include "service/workerMonitor.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "diag/traceLog.h"
#include "service/serviceSignals.h"

namespace {

// The stop signals, and the worker's end.
sigset_t monitorSignals() {
    sigset_t set = stopSignals();
    sigaddset(&set, SIGCHLD);
    return set;
}

timespec monotonicNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return now;
}

// What is left until `deadline`; false once it has passed.
bool timeLeft(const timespec& deadline, timespec* left) {
    timespec now = monotonicNow();
    long long nanos = (static_cast<long long>(deadline.tv_sec) - now.tv_sec) * 1'000'000'000LL +
                      (deadline.tv_nsec - now.tv_nsec);
    if (nanos <= 0) {
        return false;
    }
    left->tv_sec = static_cast<time_t>(nanos / 1'000'000'000LL);
    left->tv_nsec = static_cast<long>(nanos % 1'000'000'000LL);
    return true;
}

class Supervision {
  public:
    Supervision(pid_t worker, int stopBoundSeconds)
        : worker(worker), stopBoundSeconds(stopBoundSeconds) {}

    void run() {
        const sigset_t set = monitorSignals();
        while (!reapChildren()) {
            int signo = nextSignal(set);
            if (signo > 0) {
                take(signo);
            }
        }
    }

  private:
    // True once the worker is reaped. Any other child is reported and
    // forgotten.
    bool reapChildren() {
        for (;;) {
            int status = 0;
            pid_t child = waitpid(-1, &status, WNOHANG);
            if (child == worker) {
                return true;
            }
            if (child == 0) {
                return false;
            }
            if (child < 0) {
                if (errno == EINTR) {
                    continue;
                }
                // No child left at all: the worker is gone, reaped or not.
                return errno == ECHILD;
            }
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieAPI_ServerMain() -- Wait for ServicePid2 not equal, with "
                      "value: %d.",
                      static_cast<int>(child));
            std::fprintf(stderr, "wait error %d status %d \n", static_cast<int>(child), status);
        }
    }

    // The next signal, or 0 when none came: interrupted, or the stop's bound
    // passed (the worker is then killed).
    int nextSignal(const sigset_t& set) {
        siginfo_t info{};
        if (!stopForwarded) {
            return sigwaitinfo(&set, &info);
        }
        timespec left{};
        if (!timeLeft(stopDeadline, &left)) {
            TRACE_LOG(TRACE_DETAIL,
                      "logoffCookieAPI_ServerMain() -- worker %d did not stop within %d seconds: "
                      "killing it",
                      static_cast<int>(worker), stopBoundSeconds);
            std::fprintf(stderr, "worker %d did not stop within %d seconds: killed\n",
                         static_cast<int>(worker), stopBoundSeconds);
            killWorker();
            return 0;
        }
        int signo = sigtimedwait(&set, &info, &left);
        return signo < 0 ? 0 : signo;
    }

    void take(int signo) {
        switch (signo) {
            case SIGCHLD:
                return;
            case SIGUSR1:
                std::fprintf(stderr, "reset %d received\n", signo);
                termIgnored = true;
                killWorker();
                return;
            default:
                if (signo == SIGTERM && termIgnored) {
                    return;
                }
                std::fprintf(stderr, "signal %d received\n", signo);
                forwardStop(signo);
                return;
        }
    }

    // The worker stops in order on the signal; a repeated one changes
    // nothing, and a worker already killed needs none.
    void forwardStop(int signo) {
        if (stopForwarded || workerKilled) {
            return;
        }
        TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- passing signal %d on to worker %d",
                  signo, static_cast<int>(worker));
        kill(worker, signo);
        stopForwarded = true;
        stopDeadline = monotonicNow();
        stopDeadline.tv_sec += stopBoundSeconds;
    }

    void killWorker() {
        kill(worker, SIGKILL);
        workerKilled = true;
        // From here the wait for the worker needs no bound.
        stopForwarded = false;
    }

    const pid_t worker;
    const int stopBoundSeconds;
    bool stopForwarded = false;
    bool workerKilled = false;
    bool termIgnored = false;
    timespec stopDeadline{};
};

}  // namespace

void blockMonitorSignals(sigset_t* previous) {
    // SIGCHLD ignored (a caller may leave it so) would have the system reap
    // the worker behind the monitor's back.
    struct sigaction childDefault {};
    childDefault.sa_handler = SIG_DFL;
    sigemptyset(&childDefault.sa_mask);
    sigaction(SIGCHLD, &childDefault, nullptr);
    sigset_t set = monitorSignals();
    sigprocmask(SIG_BLOCK, &set, previous);
}

void logoffCookieService_superviseWorker(pid_t worker, int stopBoundSeconds) {
    Supervision(worker, stopBoundSeconds).run();
}
