// A state file the worker cannot hold in memory: set aside like any other
// file that cannot be used, so that the next start does not fail on it the
// same way. An executable of its own: it replaces operator new.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "state/stateFile.h"
#include "state/warmRestart.h"
#include "tests/support/faultInjection.h"
#include "tests/support/traceCapture.h"

namespace {

const std::uint8_t kKeyBytes[kStateKeySize] = {3, 1, 4, 1, 5};
constexpr std::int32_t kStopTime = 2'000'000'000;

TEST(StateReadFault, FileTooLargeForMemoryIsSetAsideAndTheStartGoesOnCold) {
    char pattern[] = "/tmp/lc-state-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    std::string directory = pattern;
    StateConfig config;
    config.path = directory + "/state";
    StateKey key(kKeyBytes);
    lctest::TraceCapture trace{"8"};
    ASSERT_TRUE(logoffCookieState_save(config, key, kStopTime, {}, {}));

    lctest::failAllocationsOfAtLeast(kStateHeaderSize);
    StateLoad load;
    EXPECT_NO_THROW(load = logoffCookieState_load(config, key, kStopTime));
    lctest::disarmFaults();

    EXPECT_FALSE(load.warm);
    EXPECT_EQ(
        trace.count("started cold: state file " + config.path + " cannot be read: std::bad_alloc"),
        1);
    struct stat info {};
    EXPECT_NE(stat(config.path.c_str(), &info), 0) << "the next start must not meet it again";
    EXPECT_EQ(stat(stateFileAsideName(config.path).c_str(), &info), 0);
    std::remove(stateFileAsideName(config.path).c_str());
    rmdir(directory.c_str());
}

}  // namespace
