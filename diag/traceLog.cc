#include "diag/traceLog.h"
#include "diag/traceLogClock.h"

#include <unistd.h>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// Set in every process until a call finds VOKTRACELEVEL unset; from then on
// tracing costs one load per call. Only ever goes from set to clear.
std::atomic<bool> traceEnabled{true};

// Empty: the real clock. Read once per written line.
std::atomic<TraceLogClock> traceClock{nullptr};

constexpr size_t kTemplateSize = 1024;

timespec lineTime() {
    if (TraceLogClock clock = traceClock.load(std::memory_order_acquire)) {
        return clock();
    }
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return now;
}

const char* baseName(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash ? slash + 1 : path;
}

// The template is cut at 1023 characters; a cut that leaves a lone '%' at
// the end would make the expansion read past the caller's arguments.
void dropDanglingPercent(char* text) {
    size_t length = std::strlen(text);
    size_t percents = 0;
    while (percents < length && text[length - 1 - percents] == '%') {
        ++percents;
    }
    if (percents % 2 == 1) {
        text[length - 1] = '\0';
    }
}

}  // namespace

void setTraceLogClock(TraceLogClock clock) {
    traceClock.store(clock, std::memory_order_release);
}

void traceLog(int mask, const char* file, int line, const char* format, ...) {
    if (!traceEnabled.load(std::memory_order_relaxed)) {
        return;
    }
    const char* level = std::getenv("VOKTRACELEVEL");
    if (level == nullptr) {
        traceEnabled.store(false, std::memory_order_relaxed);
        return;
    }
    if ((std::strtol(level, nullptr, 10) & mask) == 0) {
        return;
    }

    FILE* file_out = nullptr;
    if (const char* dest = std::getenv("VOKTRACEDEST")) {
        // Close-on-exec: a child another thread forks and execs meanwhile
        // (a CGI program of the web server a client library runs in) must
        // not inherit the trace file.
        file_out = std::fopen(dest, "a+e");
    }
    FILE* out = file_out ? file_out : stderr;

    timespec now = lineTime();
    tm local{};
    localtime_r(&now.tv_sec, &local);

    char line_template[kTemplateSize];
    std::snprintf(line_template, sizeof line_template,
                  "[%u] %2u:%02u:%02u.%03u File:%s Line:%d # %s\n", static_cast<unsigned>(getpid()),
                  static_cast<unsigned>(local.tm_hour), static_cast<unsigned>(local.tm_min),
                  static_cast<unsigned>(local.tm_sec), static_cast<unsigned>(now.tv_nsec / 1000000),
                  baseName(file), line, format);
    dropDanglingPercent(line_template);

    va_list args;
    va_start(args, format);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::vfprintf(out, line_template, args);
#pragma GCC diagnostic pop
    va_end(args);

    if (file_out) {
        std::fclose(file_out);
    }
}
