// The cost of one connection thread as the client loop pays it: make a thread
// object and start it (which returns only once the new thread has registered
// and reached the start handshake), against a bare detached POSIX thread, the
// floor server's way, started anywhere or on this processor as the floor
// does by default. Measured in real time, since the handshake's cost is
// mostly waiting for the new thread to be scheduled, with counters that are
// less noisy on a shared machine: the launching thread's sleeps and
// preemptions, and the processor time of the whole process, per launch.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "bench/detachedThread.h"
#include "support/threads/RWThreadFunction.h"

namespace {

std::atomic<int> liveThreads{0};

void finishOne(int) {
    liveThreads.fetch_sub(1, std::memory_order_release);
}

cpu_set_t launcherAffinity;

void* finishOneDetached(void*) {
    finishOne(0);
    return nullptr;
}

void* widenThenFinishOne(void*) {
    pthread_setaffinity_np(pthread_self(), sizeof launcherAffinity, &launcherAffinity);
    finishOne(0);
    return nullptr;
}

double microseconds(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

class LaunchCounters {
  public:
    LaunchCounters() {
        getrusage(RUSAGE_THREAD, &thread);
        getrusage(RUSAGE_SELF, &process);
    }
    // After every launched thread has ended.
    void report(benchmark::State& state) const {
        rusage threadEnd{}, processEnd{};
        getrusage(RUSAGE_THREAD, &threadEnd);
        getrusage(RUSAGE_SELF, &processEnd);
        auto perLaunch = [](double value) {
            return benchmark::Counter(value, benchmark::Counter::kAvgIterations);
        };
        state.counters["sleeps"] =
            perLaunch(static_cast<double>(threadEnd.ru_nvcsw - thread.ru_nvcsw));
        state.counters["preempted"] =
            perLaunch(static_cast<double>(threadEnd.ru_nivcsw - thread.ru_nivcsw));
        state.counters["cpu_us"] =
            perLaunch(microseconds(processEnd.ru_utime) + microseconds(processEnd.ru_stime) -
                      microseconds(process.ru_utime) - microseconds(process.ru_stime));
    }

  private:
    rusage thread{};
    rusage process{};
};

// Every thread of one benchmark has ended before the next begins.
void waitForAll() {
    while (liveThreads.load(std::memory_order_acquire) != 0) {
        std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
}

void launchDetached(benchmark::State& state, bool onThisProcessor) {
    pthread_getaffinity_np(pthread_self(), sizeof launcherAffinity, &launcherAffinity);
    LaunchCounters counters;
    for (auto _ : state) {
        liveThreads.fetch_add(1, std::memory_order_relaxed);
        int rc = startDetachedThread(onThisProcessor ? widenThenFinishOne : finishOneDetached,
                                     nullptr, onThisProcessor);
        if (rc != 0) {
            // Not started, so never counted down: waitForAll would wait for ever.
            finishOne(0);
            state.SkipWithError("pthread_create failed");
            break;
        }
    }
    waitForAll();
    counters.report(state);
}

void BM_DetachedPthread(benchmark::State& state) {
    launchDetached(state, false);
}
BENCHMARK(BM_DetachedPthread)->UseRealTime();

void BM_DetachedPthreadOnThisProcessor(benchmark::State& state) {
    launchDetached(state, true);
}
BENCHMARK(BM_DetachedPthreadOnThisProcessor)->UseRealTime();

// As the client loop does it: the new thread object replaces the previous one
// in one long-lived handle.
void BM_ThreadFunctionStart(benchmark::State& state) {
    RWThreadFunction handle;
    int argument = 0;
    LaunchCounters counters;
    for (auto _ : state) {
        liveThreads.fetch_add(1, std::memory_order_relaxed);
        handle = RWThreadFunction::make(finishOne, argument++);
        handle.start();
    }
    waitForAll();
    counters.report(state);
}
BENCHMARK(BM_ThreadFunctionStart)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
