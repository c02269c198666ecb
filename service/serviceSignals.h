// Stop and reset signals of the launcher, monitor and worker processes.
#pragma once

#include <signal.h>

// The second fork's result: the worker's pid in the monitor, 0 elsewhere.
extern volatile pid_t ServicePid2;

// SIGINT, SIGTERM and SIGUSR1 in every process: ends the process with 0,
// killing and reaping the worker first when run in the monitor.
extern "C" void logoffCookieAPI_signalHandler(int signo);

// SIGUSR1 in the monitor: kills the worker and lets the monitor's wait end.
extern "C" void logoffCookieAPI_resetHandler(int signo);

// Installs `handler` for one signal. Interrupted calls fail with EINTR.
void installSignalHandler(int signo, void (*handler)(int));

// The worker's way of stopping: the stop signals are blocked in every thread
// and one thread waits for them, so that ending the process (which runs the
// exit handlers, the thread registry's shutdown among them) never happens
// inside a signal handler. Call before the worker starts any other thread.
void startWorkerSignalThread();
