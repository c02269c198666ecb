// Connection threads that have finished their connection and wait a while for
// the next one, so that the client loop need not make, register and hand-shake
// a new thread for every connection. Each connection still has a thread of its
// own while it lasts; a thread only ever serves one connection at a time.
#pragma once

#include <pthread.h>
#include <sched.h>
#include <semaphore.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>

#include "service/clientConnection.h"

// How long a connection thread waits for its next connection before it ends.
inline constexpr std::chrono::milliseconds kConnectionThreadIdleWait{10'000};

// Connection threads of the process at one moment. Read without a lock: each
// figure is exact, the two together may be a moment apart.
struct ConnectionThreadCounts {
    int32_t live;     // running, whether serving or waiting
    int32_t waiting;  // waiting for their next connection
};

class WaitingConnectionThreads {
  public:
    explicit WaitingConnectionThreads(std::chrono::milliseconds idleWait);
    WaitingConnectionThreads(const WaitingConnectionThreads&) = delete;
    WaitingConnectionThreads& operator=(const WaitingConnectionThreads&) = delete;

    // On the client loop: moves `connection` to the thread that began
    // waiting last (it is the likeliest to be still in the processor's
    // caches). False, with `connection` left where it was, when no thread
    // waits, or after close(): the caller starts a new thread. When no other
    // connection is being served, the thread is woken on the loop's processor
    // (see moveToThisProcessor).
    bool handOver(ClientConnection& connection);

    // On a connection thread whose connection has ended: joins the waiting
    // threads, then lets `ended` go, which gives back its connection slot
    // (joining first means that a loop which takes that slot finds this
    // thread waiting instead of starting another). True with the next
    // connection in `ended`; false when the idle wait passed or close()
    // dismissed the thread, which is to end.
    bool awaitNext(ClientConnection& ended);

    // Dismisses every waiting thread, turns later ones away at once, and
    // returns once the dismissed ones have left the registry of running
    // threads (at most `bound` for all of them), so that the exit's shutdown
    // neither waits for them nor pauses after each. Returns how many it
    // dismissed. Later calls dismiss none.
    int close(std::chrono::milliseconds bound);

    // As close(), but later threads may wait again: ends the threads waiting
    // now, for a caller that needs every connection thread gone.
    int dismissWaiting(std::chrono::milliseconds bound);

    // The whole life of a connection thread: serve `first`, then each
    // connection handed over, until the wait ends. `serve` gets the
    // connection without its slot, which stays with the thread until it
    // waits again (see awaitNext). The thread counts as live throughout,
    // however it ends.
    void serveUntilIdle(ClientConnection first, void (*serve)(ClientConnection));

    // Kept by the connection threads themselves, from their first step to
    // their last (serveUntilIdle does it).
    void threadStarted() { live.fetch_add(1, std::memory_order_relaxed); }
    void threadEnded() { live.fetch_sub(1, std::memory_order_relaxed); }

    ConnectionThreadCounts counts() const {
        return {live.load(std::memory_order_relaxed), waiting.load(std::memory_order_relaxed)};
    }

  private:
    // Wakes one waiting thread. Unlike RWSemaphore it never lets others run
    // before it sleeps: a waiting thread usually waits far longer than a few
    // turns of the scheduler, and with many of them waiting those turns were
    // a quarter of the worker's processor time.
    class Wakeup {
      public:
        Wakeup() { sem_init(&semaphore, 0, 0); }
        ~Wakeup() { sem_destroy(&semaphore); }
        Wakeup(const Wakeup&) = delete;
        Wakeup& operator=(const Wakeup&) = delete;
        void post() { sem_post(&semaphore); }
        void wait();
        // False when `milliseconds` passed first.
        bool waitFor(std::chrono::milliseconds milliseconds);

      private:
        sem_t semaphore;
    };

    // One waiting thread, on that thread's stack while it waits.
    struct Waiter {
        Wakeup woken;
        ClientConnection connection;
        bool handed = false;     // taken off the stack by handOver or close
        bool dismissed = false;  // by close: no descriptor, end
        pthread_t thread{};
        pid_t tid = 0;
        bool moved = false;  // woken on the loop's processor: restore on waking
        Waiter* older = nullptr;
        Waiter* newer = nullptr;
    };

    static void moveToThisProcessor(Waiter* waiter);
    int dismiss(bool closing, std::chrono::milliseconds bound);
    void push(Waiter* waiter);
    void unlink(Waiter* waiter);

    const std::chrono::milliseconds idleWait;
    std::mutex mutex;
    Waiter* newest = nullptr;  // guarded by mutex
    bool closed = false;       // guarded by mutex
    std::atomic<int32_t> live{0};
    std::atomic<int32_t> waiting{0};
};

// The process's connection threads. Never destroyed: threads may wait in it
// while the process exits. Its first use arranges for close() to run at exit
// before the registry of running threads shuts down.
WaitingConnectionThreads& waitingConnectionThreads();

// The accessor for the figures of the process's connection threads.
ConnectionThreadCounts connectionThreadCounts();
