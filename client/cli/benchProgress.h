// The progress of a long logoffcookie bench run, redrawn in place on a
// terminal: elapsed time, requests done and the current rate.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <iosfwd>
#include <mutex>
#include <string>
#include <thread>

namespace logoffcookie::cli {

// True when progress belongs on `err`: not asked to be quiet, and `err` is
// the process's standard error on a terminal. Output that goes to a file, a
// pipe or a test's string stream gets none.
bool benchProgressWanted(bool quiet, const std::ostream& err);

// One progress line, without the control characters that redraw it.
std::string formatBenchProgress(std::chrono::milliseconds elapsed, int64_t done,
                                double currentRate);

class BenchProgress {
  public:
    BenchProgress(std::ostream& out, std::chrono::milliseconds interval);
    ~BenchProgress();
    BenchProgress(const BenchProgress&) = delete;
    BenchProgress& operator=(const BenchProgress&) = delete;

    // Draws a first line at once and then one every interval, reading `done`
    // each time, until stop(). `done` must outlive stop().
    void start(const std::atomic<int64_t>& done);
    // Stops drawing and erases the line, so the report starts on a clean one.
    void stop();

  private:
    using Clock = std::chrono::steady_clock;

    void run(const std::atomic<int64_t>& done);
    void draw(Clock::time_point now, int64_t done, double rate);

    std::ostream& out_;
    const std::chrono::milliseconds interval_;
    std::mutex lock_;
    std::condition_variable wake_;
    bool stopping_ = false;  // guarded by lock_
    // Written by start() before the thread exists, then only by the thread.
    Clock::time_point started_;
    Clock::time_point previousTime_;
    int64_t previousDone_ = 0;
    std::thread thread_;
};

}  // namespace logoffcookie::cli
