#include "service/metricsWriter.h"

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>

#include "diag/metricsExposition.h"
#include "diag/metricsFile.h"
#include "diag/serviceMetrics.h"
#include "diag/traceLog.h"
#include "service/waitingConnectionThreads.h"
#include "support/threads/RWThreadFunction.h"
#include "support/threads/RWxmsg.h"

namespace {

constexpr std::chrono::seconds kWriteInterval{10};

// Never destroyed: the last write runs from an exit handler, after which
// static destructors run while other threads may still be alive.
struct WriterState {
    std::mutex lock;
    std::condition_variable wake;
    std::string path;       // empty while metrics are off
    bool stopping = false;  // guarded by lock
};

WriterState& writerState() {
    static WriterState* state = new WriterState;
    return *state;
}

RWThreadFunction metricsWriterHandle;

// Numbers that other units keep are read here, just before the text is made,
// rather than pushed on every change. Only atomics: this also runs from the
// exit handler, when a thread may have died holding a lock.
void sampleStoredMetrics() {
    ConnectionThreadCounts threads = connectionThreadCounts();
    metrics_set(StoredMetric::ConnectionThreadsLive, threads.live);
    metrics_set(StoredMetric::ConnectionThreadsWaiting, threads.waiting);
}

// Called with state.lock held, so two writes never interleave. Returns 1
// when the file was written, 0 with the reason in `error`.
int writeLocked(const WriterState& state, char* error, size_t errorSize) {
    // A cancellation in the middle would leave the temporary file behind.
    int previous = 0;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &previous);
    sampleStoredMetrics();
    std::string text = metrics_renderText();
    int written =
        metrics_replaceFile(state.path.c_str(), text.data(), text.size(), error, errorSize);
    if (written != 1) {
        TRACE_LOG(TRACE_DETAIL, "logoffCookieService_metricsWriter() -- %s", error);
    }
    pthread_setcancelstate(previous, nullptr);
    return written;
}

void writeLocked(const WriterState& state) {
    char error[512];
    writeLocked(state, error, sizeof error);
}

void runMetricsWriter() {
    WriterState& state = writerState();
    std::unique_lock<std::mutex> guard(state.lock);
    while (!state.wake.wait_for(guard, kWriteInterval, [&state] { return state.stopping; })) {
        writeLocked(state);
    }
}

// Runs before the thread registry's shutdown (registered after the writer's
// thread made the registry exist): the writer is told to end and the file
// gets the counts of the whole run.
void writeMetricsAtExit() {
    WriterState& state = writerState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.stopping = true;
    state.wake.notify_all();
    writeLocked(state);
}

}  // namespace

void logoffCookieService_initMetrics() {
    const char* path = std::getenv("VOKLOGOFFMETRICS");
    if (path == nullptr || *path == '\0') {
        return;
    }
    metrics_enable();
    metrics_set(StoredMetric::ProcessStartTime, static_cast<std::int64_t>(std::time(nullptr)));
    TRACE_LOG(TRACE_DETAIL, "logoffCookieService_initMetrics() -- metrics file: %s", path);
    WriterState& state = writerState();
    std::lock_guard<std::mutex> guard(state.lock);
    state.path = path;
    char error[512];
    if (writeLocked(state, error, sizeof error) != 1) {
        // Said once, where the operator starting the service sees it; the
        // writer tries again every time.
        std::fprintf(stderr, "logoffCookieService_initMetrics() -- %s\n", error);
    }
}

void logoffCookieService_startMetricsWriter() {
    if (!metrics_enabled()) {
        return;
    }
    try {
        metricsWriterHandle = RWThreadFunction::make(runMetricsWriter);
        metricsWriterHandle.start();
    } catch (const RWxmsg& failure) {
        // Without the thread the file is still written when the worker ends.
        TRACE_LOG(TRACE_DETAIL,
                  "logoffCookieService_startMetricsWriter() -- Could not start the writer: %s",
                  failure.message());
    }
    std::atexit(writeMetricsAtExit);
}
