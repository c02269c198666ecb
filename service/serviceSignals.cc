#include "service/serviceSignals.h"

#include <pthread.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "service/clientLoop.h"
#include "service/shareStart.h"
#include "service/stateStart.h"

volatile pid_t ServicePid2 = 0;

namespace {

// Handlers may only use async-signal-safe calls, so the number is formatted
// by hand instead of with printf.
void writeSignalLine(const char* prefix, int signo) {
    char line[64];
    size_t length = std::strlen(prefix);
    std::memcpy(line, prefix, length);
    char digits[16];
    int count = 0;
    unsigned value = signo < 0 ? 0u - static_cast<unsigned>(signo) : static_cast<unsigned>(signo);
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (signo < 0) {
        line[length++] = '-';
    }
    while (count > 0) {
        line[length++] = digits[--count];
    }
    const char suffix[] = " received\n";
    std::memcpy(line + length, suffix, sizeof suffix - 1);
    length += sizeof suffix - 1;
    ssize_t ignored = write(STDERR_FILENO, line, length);
    (void)ignored;
}

// What every stop signal does before the process ends: the process gives
// itself a second. (The monitor takes its signals in turn, without handlers:
// see workerMonitor.h.)
void stopWorkBeforeExit() {
    sleep(1);
}

void* waitForStopSignal(void*) {
    sigset_t set = stopSignals();
    int signo = 0;
    while (sigwait(&set, &signo) != 0) {
    }
    writeSignalLine("signal ", signo);
    stopWorkBeforeExit();
    // The orderly stop, in this order: no new requests; the logoffs still
    // queued for the farm get their last chance; then the exit handlers.
    logoffCookieService_stopAccepting();
    flushConfiguredSharing();
    // What the next start takes back is saved now, once nothing is served.
    saveConfiguredState();
    // Outside signal context, so the exit handlers may run: they stop the
    // worker's registered threads before static objects go away.
    std::exit(0);
}

}  // namespace

sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGUSR1);
    return set;
}

extern "C" void logoffCookieAPI_signalHandler(int signo) {
    writeSignalLine("signal ", signo);
    stopWorkBeforeExit();
    _exit(0);
}

void installSignalHandler(int signo, void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: an interrupted wait returns, and the monitor's loop
    // retries it. Sanitizer runtimes deliver a handler only when the
    // interrupted call returns, which a restarted call never does.
    action.sa_flags = 0;
    sigaction(signo, &action, nullptr);
}

void startWorkerSignalThread() {
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    if (pthread_create(&thread, &attributes, waitForStopSignal, nullptr) != 0) {
        // Without the waiting thread the handlers stay in charge, as in the
        // other processes.
        pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    }
    pthread_attr_destroy(&attributes);
}
