#include "tests/support/faultInjection.h"

#include <dlfcn.h>
#include <pthread.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>

namespace {

// Set on every thread that pthread_create below starts.
thread_local bool createdThread = false;

// A budget of operations still granted before one fails: -1 none is armed.
struct Budget {
    std::atomic<long> left{-1};
    std::atomic<bool> persistent{false};
    std::atomic<long> injected{0};

    void arm(long granted, bool persist) {
        injected.store(0);
        persistent.store(persist);
        left.store(granted);
    }
    void disarm() {
        left.store(-1);
        injected.store(0);
    }
    // True when this operation is the one to fail.
    bool failsNow() {
        long current = left.load();
        while (current >= 0) {
            if (current == 0) {
                if (!persistent.load()) {
                    left.store(-1);
                }
                injected.fetch_add(1);
                return true;
            }
            if (left.compare_exchange_weak(current, current - 1)) {
                return false;
            }
        }
        return false;
    }
};

Budget allocations;
Budget threadCreations;

// The armed allocation budget counts the main thread's allocations too.
std::atomic<bool> everyThreadAllocates{false};
std::atomic<long> allocationCount{0};

std::atomic<long> runningThreads{0};

// Allocations of at least this many bytes fail, on every thread; 0: none.
std::atomic<std::size_t> largestGranted{0};

// Counts a created thread while its start routine runs; a cancellation
// unwinds through it too.
struct RunningThread {
    RunningThread() { runningThreads.fetch_add(1); }
    ~RunningThread() { runningThreads.fetch_sub(1); }
    RunningThread(const RunningThread&) = delete;
    RunningThread& operator=(const RunningThread&) = delete;
};

struct ThreadStart {
    void* (*routine)(void*);
    void* argument;
};

void* startCreatedThread(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    std::free(raw);
    createdThread = true;
    RunningThread running;
    return start.routine(start.argument);
}

using CreateFunction = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

CreateFunction systemCreate() {
    static const CreateFunction create =
        reinterpret_cast<CreateFunction>(dlsym(RTLD_NEXT, "pthread_create"));
    return create;
}

}  // namespace

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attributes,
                              void* (*routine)(void*), void* argument) noexcept {
    if (createdThread && threadCreations.failsNow()) {
        return EAGAIN;
    }
    // From malloc, not operator new: the trampoline must not count as an
    // allocation of the thread that creates it.
    auto* start = static_cast<ThreadStart*>(std::malloc(sizeof(ThreadStart)));
    if (start == nullptr) {
        return EAGAIN;
    }
    *start = ThreadStart{routine, argument};
    int rc = systemCreate()(thread, attributes, startCreatedThread, start);
    if (rc != 0) {
        std::free(start);
    }
    return rc;
}

void* operator new(std::size_t size) {
    allocationCount.fetch_add(1);
    if ((createdThread || everyThreadAllocates.load()) && allocations.failsNow()) {
        throw std::bad_alloc();
    }
    if (std::size_t largest = largestGranted.load(); largest != 0 && size >= largest) {
        throw std::bad_alloc();
    }
    if (void* memory = std::malloc(size == 0 ? 1 : size)) {
        return memory;
    }
    throw std::bad_alloc();
}

// The replaced operator new takes its memory from malloc.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
void operator delete(void* memory) noexcept {
    std::free(memory);
}

void operator delete(void* memory, std::size_t) noexcept {
    std::free(memory);
}
#pragma GCC diagnostic pop

namespace lctest {

void failAllocationAfter(long granted, bool persistent) {
    everyThreadAllocates.store(false);
    allocations.arm(granted, persistent);
}

void failAnyAllocationAfter(long granted) {
    everyThreadAllocates.store(true);
    allocations.arm(granted, false);
}

void failThreadCreationAfter(long granted) {
    threadCreations.arm(granted, false);
}

void failAllocationsOfAtLeast(std::size_t size) {
    largestGranted.store(size);
}

void disarmFaults() {
    allocations.disarm();
    largestGranted.store(0);
    everyThreadAllocates.store(false);
    threadCreations.disarm();
}

long createdThreadsRunning() {
    return runningThreads.load();
}

long injectedAllocationFailures() {
    return allocations.injected.load();
}

long allocationsMade() {
    return allocationCount.load();
}

long injectedThreadCreationFailures() {
    return threadCreations.injected.load();
}

}  // namespace lctest
