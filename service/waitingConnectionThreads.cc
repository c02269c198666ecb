#include "service/waitingConnectionThreads.h"

#include <sched.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "support/threads/RWThreadManagerImp.h"
#include "support/threads/cancellationScope.h"
#include "support/threads/semaphoreSanitizer.h"

namespace {

constexpr std::chrono::milliseconds kCloseBoundAtExit{2'000};

// A thread that has returned from its function leaves the registry within
// microseconds; polled, since nothing signals it.
bool waitUntilDeregistered(pthread_t thread, std::chrono::steady_clock::time_point deadline) {
    RWThreadManagerImp& registry = RWThreadManagerImp::instance();
    const timespec nap{0, 200'000};
    while (registry.isRegistered(thread)) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        nanosleep(&nap, nullptr);
    }
    return true;
}

// The processors this thread may run on when nobody has moved it: those of
// the process, as the thread found them at its first wait.
const cpu_set_t& ownProcessors() {
    thread_local cpu_set_t processors = [] {
        cpu_set_t found;
        CPU_ZERO(&found);
        if (sched_getaffinity(0, sizeof found, &found) != 0) {
            CPU_ZERO(&found);
        }
        return found;
    }();
    return processors;
}

void closeAtExit() {
    try {
        waitingConnectionThreads().close(kCloseBoundAtExit);
    } catch (...) {
        // An exit handler that throws would end the process abnormally.
    }
}

}  // namespace

// The waiting thread sleeps where it last ran. When the service is otherwise
// idle (one client, requests one after the other) the other processor is
// usually busy with that client or with other work, and a thread woken there
// waited for that processor's next scheduler tick, milliseconds, as a newly
// started thread did. Woken on the loop's processor it runs as soon as the
// loop waits in select again. Under concurrent load the threads are left to
// the scheduler, which spreads them better. Two system calls per such hand-
// over: far less than the wait they spare.
void WaitingConnectionThreads::moveToThisProcessor(Waiter* waiter) {
    int cpu = sched_getcpu();
    if (cpu < 0 || cpu >= CPU_SETSIZE || waiter->tid <= 0) {
        return;
    }
    cpu_set_t here;
    CPU_ZERO(&here);
    CPU_SET(cpu, &here);
    waiter->moved = sched_setaffinity(waiter->tid, sizeof here, &here) == 0;
}

void WaitingConnectionThreads::Wakeup::wait() {
    while (sem_wait(&semaphore) != 0 && errno == EINTR) {
    }
}

bool WaitingConnectionThreads::Wakeup::waitFor(std::chrono::milliseconds milliseconds) {
    // The monotonic clock: a change of the time of day neither shortens nor
    // stretches the wait.
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    const long kNanosPerSecond = 1'000'000'000L;
    long nanos = deadline.tv_nsec + static_cast<long>(milliseconds.count() % 1000) * 1'000'000L;
    deadline.tv_sec += static_cast<time_t>(milliseconds.count() / 1000) + nanos / kNanosPerSecond;
    deadline.tv_nsec = nanos % kNanosPerSecond;
    while (sem_clockwait(&semaphore, CLOCK_MONOTONIC, &deadline) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    markSemaphoreAcquired(&semaphore);
    return true;
}

WaitingConnectionThreads::WaitingConnectionThreads(std::chrono::milliseconds idleWait)
    : idleWait(idleWait) {}

void WaitingConnectionThreads::push(Waiter* waiter) {
    waiter->older = newest;
    waiter->newer = nullptr;
    if (newest != nullptr) {
        newest->newer = waiter;
    }
    newest = waiter;
    waiting.fetch_add(1, std::memory_order_relaxed);
}

void WaitingConnectionThreads::unlink(Waiter* waiter) {
    if (waiter->newer != nullptr) {
        waiter->newer->older = waiter->older;
    } else {
        newest = waiter->older;
    }
    if (waiter->older != nullptr) {
        waiter->older->newer = waiter->newer;
    }
    waiter->older = waiter->newer = nullptr;
    waiting.fetch_sub(1, std::memory_order_relaxed);
}

bool WaitingConnectionThreads::handOver(ClientConnection& connection) {
    Waiter* waiter = nullptr;
    bool noneServing = false;
    {
        NoCancellation noCancellation;
        std::lock_guard<std::mutex> lock(mutex);
        if (closed || newest == nullptr) {
            return false;
        }
        waiter = newest;
        noneServing =
            live.load(std::memory_order_relaxed) <= waiting.load(std::memory_order_relaxed);
        unlink(waiter);
        waiter->connection = std::move(connection);
        waiter->handed = true;
    }
    if (noneServing) {
        moveToThisProcessor(waiter);
    }
    // Outside the lock: the woken thread does not run into it. The waiter
    // stays alive until it has taken this wake-up.
    waiter->woken.post();
    return true;
}

bool WaitingConnectionThreads::awaitNext(ClientConnection& ended) {
    Waiter self;
    self.thread = pthread_self();
    const cpu_set_t& processors = ownProcessors();
    // With only one processor to run on there is nowhere to be moved to.
    thread_local const pid_t tid = gettid();
    self.tid = CPU_COUNT(&processors) > 1 ? tid : 0;
    bool joined = false;
    {
        NoCancellation noCancellation;
        std::lock_guard<std::mutex> lock(mutex);
        if (!closed) {
            push(&self);
            joined = true;
        }
    }
    ended = ClientConnection();
    if (!joined) {
        return false;
    }
    if (!self.woken.waitFor(idleWait)) {
        NoCancellation noCancellation;
        std::unique_lock<std::mutex> lock(mutex);
        if (!self.handed) {
            unlink(&self);
            return false;
        }
        // Handed over just as the wait ran out: its wake-up is on the way.
        lock.unlock();
        self.woken.wait();
    }
    if (self.moved) {
        sched_setaffinity(0, sizeof processors, &processors);
    }
    if (self.dismissed) {
        return false;
    }
    ended = std::move(self.connection);
    return true;
}

void WaitingConnectionThreads::serveUntilIdle(ClientConnection first,
                                              void (*serve)(ClientConnection)) {
    struct LiveThread {
        explicit LiveThread(WaitingConnectionThreads& threads) : threads(threads) {
            threads.threadStarted();
        }
        ~LiveThread() { threads.threadEnded(); }
        WaitingConnectionThreads& threads;
    } liveThread(*this);
    ClientConnection current = std::move(first);
    do {
        // The connection goes to the work, which ends it; its slot stays
        // here, for awaitNext to give back once this thread waits.
        ClientConnection served = std::move(current);
        current = ClientConnection(served.takeSlot());
        serve(std::move(served));
    } while (awaitNext(current));
}

int WaitingConnectionThreads::close(std::chrono::milliseconds bound) {
    return dismiss(true, bound);
}

int WaitingConnectionThreads::dismissWaiting(std::chrono::milliseconds bound) {
    return dismiss(false, bound);
}

int WaitingConnectionThreads::dismiss(bool closing, std::chrono::milliseconds bound) {
    const auto deadline = std::chrono::steady_clock::now() + bound;
    std::vector<Waiter*> dismissed;
    std::vector<pthread_t> threads;
    {
        NoCancellation noCancellation;
        std::lock_guard<std::mutex> lock(mutex);
        closed = closed || closing;
        dismissed.reserve(static_cast<size_t>(waiting.load(std::memory_order_relaxed)));
        while (newest != nullptr) {
            Waiter* waiter = newest;
            unlink(waiter);
            waiter->handed = true;
            waiter->dismissed = true;
            dismissed.push_back(waiter);
        }
    }
    // Each thread id is read before its release: after it the waiter may be gone.
    threads.reserve(dismissed.size());
    for (Waiter* waiter : dismissed) {
        threads.push_back(waiter->thread);
        waiter->woken.post();
    }
    for (pthread_t thread : threads) {
        if (!waitUntilDeregistered(thread, deadline)) {
            break;
        }
    }
    return static_cast<int>(threads.size());
}

WaitingConnectionThreads& waitingConnectionThreads() {
    static WaitingConnectionThreads* const threads = [] {
        // The registry exists first, so this exit handler, registered after
        // the registry's, runs before it.
        RWThreadManagerImp::instance();
        auto* made = new WaitingConnectionThreads(kConnectionThreadIdleWait);
        std::atexit(closeAtExit);
        return made;
    }();
    return *threads;
}

ConnectionThreadCounts connectionThreadCounts() {
    return waitingConnectionThreads().counts();
}
