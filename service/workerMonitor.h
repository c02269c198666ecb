// The monitor process: waits for the worker, passes a stop on to it and ends
// with it.
#pragma once

#include <signal.h>
#include <sys/types.h>

// How long a stopping worker may take before the monitor kills it: enough
// for its orderly stop (the last answers, the farm queue's last chance, the
// state save, the exit's wait for its threads), under the packaged unit's
// TimeoutStopSec of 20 seconds.
inline constexpr int kWorkerStopBoundSeconds = 15;

// Blocks the signals the monitor takes in turn (SIGINT, SIGTERM, SIGUSR1,
// SIGCHLD) and leaves the mask it found in `previous`. Called before the
// fork of the worker, so that none arrives before the monitor waits for it;
// the worker restores `previous` at once.
void blockMonitorSignals(sigset_t* previous);

// The monitor's whole work, with the signals blocked by blockMonitorSignals:
//   SIGTERM, SIGINT: "signal N received" on standard error; the same signal
//     goes to the worker, which stops in order; a worker still running
//     after `stopBoundSeconds` is killed with SIGKILL.
//   SIGUSR1 (reset): "reset N received"; the worker is killed at once and
//     SIGTERM is ignored from then on.
// Returns once the worker has ended; another child that ends meanwhile is
// reported as a "wait error" line.
void logoffCookieService_superviseWorker(pid_t worker, int stopBoundSeconds);
