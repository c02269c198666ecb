#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "diag/metricsExposition.h"
#include "diag/metricsFile.h"
#include "diag/serviceMetrics.h"
#include "diag/shareMetrics.h"
#include "tests/support/fileText.h"
#include "tests/support/metricsReader.h"
#include "tests/support/scratchDirectory.h"

namespace {

using lctest::readFile;

class MetricsTest : public ::testing::Test {
  protected:
    void SetUp() override { path_ = dir_ + "/voklogoffcookie.prom"; }

    std::vector<std::string> directoryEntries() const {
        std::vector<std::string> names;
        if (DIR* dir = opendir(dir_.c_str())) {
            while (dirent* entry = readdir(dir)) {
                std::string name = entry->d_name;
                if (name != "." && name != "..") {
                    names.push_back(name);
                }
            }
            closedir(dir);
        }
        return names;
    }

    bool replace(const std::string& path, const std::string& text) {
        return metrics_replaceFile(path.c_str(), text.data(), text.size(), error_, sizeof error_) ==
               1;
    }

    lctest::ParsedMetrics renderAndParse() {
        EXPECT_TRUE(replace(path_, metrics_renderText())) << error_;
        return lctest::parseMetricsFile(path_);
    }

    lctest::ScratchDirectory scratch_{"lc-metrics"};
    std::string dir_ = scratch_.path();
    std::string path_;
    char error_[256] = "";
};

// Counting is switched on for good, so this runs first in the file (ctest
// runs every test in a process of its own anyway).
TEST_F(MetricsTest, NothingIsCountedWhileMetricsAreOff) {
    ASSERT_FALSE(metrics_enabled());
    metrics_count(CountedMetric::RequestsAdded, 5);
    metrics_set(StoredMetric::CookiesCached, 7);
    metrics_add(StoredMetric::ConnectionThreadsLive, 1);
    EXPECT_EQ(metrics_value(CountedMetric::RequestsAdded), 0u);
    EXPECT_EQ(metrics_value(StoredMetric::CookiesCached), 0);
    EXPECT_EQ(metrics_value(StoredMetric::ConnectionThreadsLive), 0);
}

// Sharing's notices say how many entries were dropped so far, and the
// publisher asks whether Redis refuses it: those must count with metrics off.
TEST_F(MetricsTest, SharingCountsWhetherMetricsAreOnOrNot) {
    ASSERT_FALSE(metrics_enabled());
    metrics_count(ShareMetric::DroppedMalformed, 2);
    metrics_count(ShareMetric::DroppedMalformed);
    metrics_setPublishingRefused(true);
    EXPECT_EQ(metrics_value(ShareMetric::DroppedMalformed), 3u);
    EXPECT_EQ(metrics_value(ShareGauge::PublishingRefused), 1);
    metrics_setPublishingRefused(false);
    EXPECT_EQ(metrics_value(ShareGauge::PublishingRefused), 0);
    // A refused connection counts as refused publishing until that same
    // connection gets in, whatever the others do.
    metrics_setConnectionRefused(3, true);
    metrics_setConnectionRefused(4, false);
    EXPECT_EQ(metrics_value(ShareGauge::PublishingRefused), 1);
    metrics_setConnectionRefused(3, false);
    EXPECT_EQ(metrics_value(ShareGauge::PublishingRefused), 0);
}

TEST_F(MetricsTest, ShareLevelsFollowTheStartTheReadsAndTheLastMinute) {
    EXPECT_EQ(metrics_value(ShareGauge::SecondsSinceLastRead), kMetricUnknown);
    std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    // Started long ago and never read: as stale as the start.
    metrics_shareStarted(now - 1000);
    EXPECT_GE(metrics_value(ShareGauge::SecondsSinceLastRead), 1000);
    EXPECT_LT(metrics_value(ShareGauge::SecondsSinceLastRead), 1100);
    metrics_shareRead(now - 5);
    EXPECT_GE(metrics_value(ShareGauge::SecondsSinceLastRead), 5);
    EXPECT_LT(metrics_value(ShareGauge::SecondsSinceLastRead), 100);

    // An entry judged more than a minute ago no longer counts.
    metrics_shareJudged(now - 61, true);
    metrics_shareJudged(now, true);
    metrics_shareJudged(now, false);
    metrics_shareJudged(now, false);
    EXPECT_EQ(metrics_value(ShareGauge::ReadLastMinute), 3);
    EXPECT_EQ(metrics_value(ShareGauge::BadHmacLastMinute), 1);
}

TEST_F(MetricsTest, RenderedTextIsReadByTheReferenceParserOneFamilyEach) {
    metrics_enable();
    std::string text = metrics_renderText();
    ASSERT_FALSE(text.empty());
    // The textfile collector refuses a file whose last line has no newline.
    EXPECT_EQ(text.back(), '\n');

    lctest::ParsedMetrics parsed = renderAndParse();
    ASSERT_TRUE(parsed.parsed) << parsed.parserOutput;
    std::set<std::string> distinct(parsed.familyOrder.begin(), parsed.familyOrder.end());
    EXPECT_EQ(distinct.size(), parsed.familyOrder.size()) << parsed.parserOutput;

    EXPECT_EQ(parsed.familyTypes["voklogoffcookie_requests"], "counter");
    EXPECT_EQ(parsed.familyTypes["voklogoffcookie_share_dropped"], "counter");
    EXPECT_EQ(parsed.familyTypes["voklogoffcookie_cookies_cached"], "gauge");
    EXPECT_EQ(parsed.familyTypes["voklogoffcookie_start_time_seconds"], "gauge");
    EXPECT_EQ(parsed.value("voklogoffcookie_build_info{version=\"" LC_VERSION "\"}"), 1.0)
        << parsed.parserOutput;
    // One sample for each outcome of a request.
    int outcomes = 0;
    for (const auto& [name, value] : parsed.samples) {
        outcomes += name.rfind("voklogoffcookie_requests_total{outcome=", 0) == 0 ? 1 : 0;
    }
    EXPECT_EQ(outcomes, 8);
}

TEST_F(MetricsTest, FileCarriesEveryCountAndLevelAsMade) {
    metrics_enable();
    struct Expected {
        CountedMetric metric;
        const char* sample;
        std::uint64_t amount;
    };
    const Expected counted[] = {
        {CountedMetric::RequestsLoggedOff, "voklogoffcookie_requests_total{outcome=\"logged_off\"}",
         3},
        {CountedMetric::RequestsNotLoggedOff,
         "voklogoffcookie_requests_total{outcome=\"not_logged_off\"}", 5},
        {CountedMetric::RequestsBeforeStart,
         "voklogoffcookie_requests_total{outcome=\"before_start\"}", 7},
        {CountedMetric::RequestsAdded, "voklogoffcookie_requests_total{outcome=\"added\"}", 11},
        {CountedMetric::RequestsInvalidFunction,
         "voklogoffcookie_requests_total{outcome=\"invalid_function\"}", 13},
        {CountedMetric::RequestsTooShort, "voklogoffcookie_requests_total{outcome=\"too_short\"}",
         17},
        {CountedMetric::RequestsUndecryptable,
         "voklogoffcookie_requests_total{outcome=\"undecryptable\"}", 19},
        {CountedMetric::RequestsClientGone,
         "voklogoffcookie_requests_total{outcome=\"client_gone\"}", 23},
        {CountedMetric::ConnectionsAccepted, "voklogoffcookie_connections_accepted_total{}", 29},
        {CountedMetric::ConnectionsTimedOut, "voklogoffcookie_connections_timed_out_total{}", 31},
        {CountedMetric::ConnectionsRefused, "voklogoffcookie_connections_refused_total{}", 37},
        {CountedMetric::CleanupPasses, "voklogoffcookie_cleanup_passes_total{}", 41},
        {CountedMetric::AddsRefusedNotListed,
         "voklogoffcookie_requests_refused_total{reason=\"not_allowed\"}", 43},
        {CountedMetric::AddsRefusedNoCredentials,
         "voklogoffcookie_requests_refused_total{reason=\"no_credentials\"}", 47},
        {CountedMetric::CacheFlushes, "voklogoffcookie_cache_flushes_total{}", 53},
        {CountedMetric::LoopAcceptFailures, "voklogoffcookie_loop_failures_total{call=\"accept\"}",
         59},
        {CountedMetric::LoopSelectFailures, "voklogoffcookie_loop_failures_total{call=\"select\"}",
         61},
    };
    std::vector<std::uint64_t> before;
    for (const Expected& each : counted) {
        before.push_back(metrics_value(each.metric));
        // One at a time and the rest at once: both paths must add up.
        metrics_count(each.metric);
        metrics_count(each.metric, each.amount - 1);
    }
    metrics_set(StoredMetric::CookiesCached, 1234);
    metrics_set(StoredMetric::ConnectionThreadsLive, 4);
    metrics_add(StoredMetric::ConnectionThreadsLive, -1);
    metrics_set(StoredMetric::CleanupLastPassMicros, 1'500'000);
    metrics_set(StoredMetric::CleanupLastLockMicros, 250);
    metrics_count(ShareMetric::DroppedBadHmac, 9);
    metrics_set(StoredMetric::ProcessStartTime, 1'700'000'000);

    lctest::ParsedMetrics parsed = renderAndParse();
    ASSERT_TRUE(parsed.parsed) << parsed.parserOutput;
    for (size_t i = 0; i < std::size(counted); ++i) {
        EXPECT_EQ(parsed.value(counted[i].sample),
                  static_cast<double>(before[i] + counted[i].amount))
            << counted[i].sample;
    }
    EXPECT_EQ(parsed.value("voklogoffcookie_cookies_cached{}"), 1234.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_connection_threads{}"), 3.0);
    EXPECT_DOUBLE_EQ(parsed.value("voklogoffcookie_cleanup_last_pass_seconds{}"), 1.5);
    EXPECT_DOUBLE_EQ(parsed.value("voklogoffcookie_cleanup_last_pass_lock_seconds{}"), 0.00025);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_dropped_total{reason=\"bad_hmac\"}"), 9.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_share_dropped_total{reason=\"queue_full\"}"), 0.0);
    EXPECT_EQ(parsed.value("voklogoffcookie_start_time_seconds{}"), 1.7e9);
    // Present, but not a number: no successful read yet.
    ASSERT_EQ(parsed.samples.count("voklogoffcookie_share_seconds_since_last_read{}"), 1u);
    EXPECT_TRUE(std::isnan(parsed.value("voklogoffcookie_share_seconds_since_last_read{}")));
}

TEST_F(MetricsTest, CountsFromManyThreadsAtOnceAddUpExactly) {
    metrics_enable();
    constexpr int kThreads = 8;
    constexpr int kCountsEach = 20000;
    std::uint64_t before = metrics_value(CountedMetric::ConnectionsAccepted);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ready] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            for (int i = 0; i < kCountsEach; ++i) {
                metrics_count(CountedMetric::ConnectionsAccepted);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(metrics_value(CountedMetric::ConnectionsAccepted) - before,
              static_cast<std::uint64_t>(kThreads) * kCountsEach);
}

TEST_F(MetricsTest, ReplacedFileHoldsTheNewTextReadableByOthersAndNothingBeside) {
    ASSERT_TRUE(replace(path_, "old 1\n")) << error_;
    ASSERT_TRUE(replace(path_, "new 2\n")) << error_;
    EXPECT_EQ(readFile(path_), "new 2\n");
    struct stat info {};
    ASSERT_EQ(stat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    EXPECT_EQ(directoryEntries(), std::vector<std::string>{"voklogoffcookie.prom"});
}

TEST_F(MetricsTest, FailedRenameLeavesTargetAndNoTemporaryFile) {
    // A directory where the file should be: the rename fails after the write.
    std::string occupied = dir_ + "/occupied.prom";
    ASSERT_EQ(mkdir(occupied.c_str(), 0755), 0);
    ASSERT_EQ(mkdir((occupied + "/keep").c_str(), 0755), 0);
    EXPECT_FALSE(replace(occupied, "x 1\n"));
    EXPECT_EQ(std::string(error_).rfind("rename " + occupied + ".", 0), 0u) << error_;
    struct stat info {};
    EXPECT_EQ(stat((occupied + "/keep").c_str(), &info), 0);
    EXPECT_EQ(directoryEntries(), std::vector<std::string>{"occupied.prom"});
    rmdir((occupied + "/keep").c_str());
    rmdir(occupied.c_str());
}

TEST_F(MetricsTest, ReaderSeesOneWholeTextOrTheOtherNeverAPart) {
    // Long texts, so a write that is not atomic would be seen half done.
    const std::string first(64 * 1024, 'a');
    const std::string second(96 * 1024, 'b');
    ASSERT_TRUE(replace(path_, first)) << error_;
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int i = 0; i < 200; ++i) {
            replace(path_, i % 2 == 0 ? second : first);
        }
        done = true;
    });
    int reads = 0;
    while (!done || reads == 0) {
        std::string seen = readFile(path_);
        ASSERT_TRUE(seen == first || seen == second) << "read " << seen.size() << " bytes";
        ++reads;
    }
    writer.join();
}

}  // namespace
