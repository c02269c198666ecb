#include <gtest/gtest.h>

#include <atomic>
#include <sstream>

#include "client/cli/benchProgress.h"

namespace lctest {
namespace {

using namespace logoffcookie::cli;
using namespace std::chrono_literals;

TEST(BenchProgress, LineShowsElapsedDoneAndRateWithThousandsGrouped) {
    EXPECT_EQ(formatBenchProgress(3456ms, 1234567, 8123.4), "3.5 s  1,234,567 requests  8,123/s");
    EXPECT_EQ(formatBenchProgress(0ms, 0, 0), "0.0 s  0 requests  0/s");
    EXPECT_EQ(formatBenchProgress(100ms, 999, 999.6), "0.1 s  999 requests  1,000/s");
}

TEST(BenchProgress, DrawsAtOnceAndErasesItsLineWhenStopped) {
    std::ostringstream out;
    std::atomic<int64_t> done{42};
    {
        // An interval far longer than the test: stop() must not wait for it.
        BenchProgress progress(out, 1h);
        progress.start(done);
        progress.stop();
    }
    const std::string text = out.str();
    EXPECT_EQ(text.rfind("\r\033[K", 0), 0u) << text;
    EXPECT_NE(text.find("42 requests"), std::string::npos) << text;
    // The report that follows starts on a clean line.
    ASSERT_GE(text.size(), 4u);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
}

}  // namespace
}  // namespace lctest
