// The cost of one connection thread as the client loop pays it: make a thread
// object and start it (which returns only once the new thread has registered
// and reached the start handshake), against a bare detached POSIX thread, the
// floor server's way. Measured in real time: the handshake's cost is mostly
// waiting for the new thread to be scheduled.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <atomic>

#include "support/threads/RWThreadFunction.h"

namespace {

std::atomic<int> liveThreads{0};

void finishOne(int) {
    liveThreads.fetch_sub(1, std::memory_order_release);
}

void* finishOneDetached(void*) {
    finishOne(0);
    return nullptr;
}

// How often the launching thread went to sleep (voluntary switches) and was
// preempted (involuntary) per launch: less noisy than the time on a shared
// machine, and each sleep is a wait to be scheduled again.
class SwitchCounter {
  public:
    SwitchCounter() { getrusage(RUSAGE_THREAD, &start); }
    void report(benchmark::State& state) const {
        rusage end{};
        getrusage(RUSAGE_THREAD, &end);
        auto perLaunch = [&](long count) {
            return benchmark::Counter(static_cast<double>(count),
                                      benchmark::Counter::kAvgIterations);
        };
        state.counters["sleeps"] = perLaunch(end.ru_nvcsw - start.ru_nvcsw);
        state.counters["preempted"] = perLaunch(end.ru_nivcsw - start.ru_nivcsw);
    }

  private:
    rusage start{};
};

// Every thread of one benchmark has ended before the next begins.
void waitForAll() {
    while (liveThreads.load(std::memory_order_acquire) != 0) {
        sched_yield();
    }
}

void BM_DetachedPthread(benchmark::State& state) {
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    SwitchCounter switches;
    for (auto _ : state) {
        liveThreads.fetch_add(1, std::memory_order_relaxed);
        pthread_t thread;
        if (pthread_create(&thread, &attributes, finishOneDetached, nullptr) != 0) {
            state.SkipWithError("pthread_create failed");
            break;
        }
    }
    switches.report(state);
    pthread_attr_destroy(&attributes);
    waitForAll();
}
BENCHMARK(BM_DetachedPthread)->UseRealTime();

// As the client loop does it: the new thread object replaces the previous one
// in one long-lived handle.
void BM_ThreadFunctionStart(benchmark::State& state) {
    RWThreadFunction handle;
    int argument = 0;
    SwitchCounter switches;
    for (auto _ : state) {
        liveThreads.fetch_add(1, std::memory_order_relaxed);
        handle = RWThreadFunction::make(finishOne, argument++);
        handle.start();
    }
    switches.report(state);
    waitForAll();
}
BENCHMARK(BM_ThreadFunctionStart)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
