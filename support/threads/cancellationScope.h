// The threads of this system run with asynchronous cancellation, so that the
// exit can end a thread wherever it is. Work that must not be cut off halfway
// (a cookie on its way between the cache's queue and set, a lock or the heap's
// own bookkeeping held) runs inside a NoCancellation scope: a termination that
// arrives meanwhile waits for the scope's end. A wait inside such work that may
// block for long opens a CancellableWait scope, so the exit still ends it.
#pragma once

#include <pthread.h>

#include <exception>

class NoCancellation {
  public:
    NoCancellation() : unwindingAtStart(std::uncaught_exceptions()) {
        pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    }
    // A termination that arrived meanwhile ends the thread right here, by
    // unwinding out of this destructor, which therefore may throw. While
    // another exception unwinds, a second one would end the process: the
    // termination then waits for the thread's next cancellation point.
    ~NoCancellation() noexcept(false) {
        if (std::uncaught_exceptions() > unwindingAtStart) {
            int type = 0;
            pthread_setcanceltype(PTHREAD_CANCEL_DEFERRED, &type);
        }
        pthread_setcancelstate(previous, &previous);
    }
    NoCancellation(const NoCancellation&) = delete;
    NoCancellation& operator=(const NoCancellation&) = delete;

  private:
    int unwindingAtStart;
    int previous = 0;
};

// Restores the state it found, so that outside any NoCancellation scope it
// changes nothing. A termination may strike anywhere inside the scope and
// unwinds the thread from there: nothing called inside it may be noexcept,
// this destructor included (a destructor is noexcept unless it says not).
class CancellableWait {
  public:
    CancellableWait() { pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, &previous); }
    ~CancellableWait() noexcept(false) { pthread_setcancelstate(previous, &previous); }
    CancellableWait(const CancellableWait&) = delete;
    CancellableWait& operator=(const CancellableWait&) = delete;

  private:
    int previous = 0;
};
