#include "client/cli/benchProgress.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

namespace logoffcookie::cli {

namespace {

// Carriage return to redraw the line, and erase what a longer line left.
constexpr const char kEraseLine[] = "\r\033[K";

std::string withThousands(int64_t value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            grouped += ',';
        }
        grouped += digits[i];
    }
    return value < 0 ? "-" + grouped : grouped;
}

}  // namespace

bool benchProgressWanted(bool quiet, const std::ostream& err) {
    return !quiet && &err == &std::cerr && isatty(STDERR_FILENO) == 1;
}

std::string formatBenchProgress(std::chrono::milliseconds elapsed, int64_t done,
                                double currentRate) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(elapsed.count()) / 1000);
    return std::string(seconds) + "  " + withThousands(done) + " requests  " +
           withThousands(static_cast<int64_t>(currentRate + 0.5)) + "/s";
}

BenchProgress::BenchProgress(std::ostream& out, std::chrono::milliseconds interval)
    : out_(out), interval_(interval) {}

BenchProgress::~BenchProgress() {
    stop();
}

void BenchProgress::start(const std::atomic<int64_t>& done) {
    started_ = Clock::now();
    previousTime_ = started_;
    previousDone_ = done.load(std::memory_order_relaxed);
    // The first line at once, before any load: a run shorter than the
    // interval still shows that it is running.
    draw(started_, previousDone_, 0);
    thread_ = std::thread([this, &done] { run(done); });
}

void BenchProgress::stop() {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard<std::mutex> guard(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
    out_ << kEraseLine << std::flush;
}

void BenchProgress::draw(Clock::time_point now, int64_t done, double rate) {
    out_ << kEraseLine
         << formatBenchProgress(
                std::chrono::duration_cast<std::chrono::milliseconds>(now - started_), done, rate)
         << std::flush;
}

void BenchProgress::run(const std::atomic<int64_t>& done) {
    std::unique_lock<std::mutex> guard(lock_);
    while (!wake_.wait_for(guard, interval_, [this] { return stopping_; })) {
        Clock::time_point now = Clock::now();
        int64_t count = done.load(std::memory_order_relaxed);
        double seconds = std::chrono::duration<double>(now - previousTime_).count();
        // The rate over the last interval, not the whole run: a stall shows.
        double rate = seconds > 0 ? static_cast<double>(count - previousDone_) / seconds : 0;
        previousTime_ = now;
        previousDone_ = count;
        draw(now, count, rate);
    }
}

}  // namespace logoffcookie::cli
