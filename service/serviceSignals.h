// Stop and reset signals of the launcher, monitor and worker processes.
#pragma once

#include <signal.h>

// The second fork's result: the worker's pid in the monitor, 0 elsewhere.
extern volatile pid_t ServicePid2;

// SIGINT, SIGTERM and SIGUSR1 in the launcher, and in the worker until its
// signal thread runs: ends the process with 0 after a second. The monitor
// blocks these signals and takes them in turn (workerMonitor.h).
extern "C" void logoffCookieAPI_signalHandler(int signo);

// SIGINT, SIGTERM and SIGUSR1 (the reset): what stops a process of the service.
sigset_t stopSignals();

// Installs `handler` for one signal. Interrupted calls fail with EINTR.
void installSignalHandler(int signo, void (*handler)(int));

// The worker's way of stopping: the stop signals are blocked in every thread
// and one thread waits for them, so that ending the process (which runs the
// exit handlers, the thread registry's shutdown among them) never happens
// inside a signal handler. Call before the worker starts any other thread.
void startWorkerSignalThread();
