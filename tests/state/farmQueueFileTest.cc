// The farm queue's own file: what a stop without a state file kept for the
// farm comes back once at the next start, and nothing else is taken for it.
#include "state/farmQueueFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "state/stateFile.h"
#include "state/warmRestart.h"
#include "tests/support/traceCapture.h"

namespace {

const std::uint8_t kQueueKey[kStateKeySize] = {1, 2, 3};
const std::uint8_t kStateKey[kStateKeySize] = {4, 5, 6};
constexpr std::int32_t kStopTime = 2'000'000'000;

class FarmQueueFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lc-queue-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        path = directory + "/" + kFarmQueueFileName;
        logoff.identity.fill(7);
        logoff.times = {kStopTime, kStopTime, 0, 30, 60, 1};
    }
    void TearDown() override {
        std::remove(path.c_str());
        std::remove(stateFileAsideName(path).c_str());
        rmdir(directory.c_str());
    }

    lctest::TraceCapture trace{"8"};
    StateKey queueKey{kQueueKey};
    std::string directory;
    std::string path;
    FarmLogoff logoff;
};

TEST_F(FarmQueueFile, KeptLogoffsComeBackOnceWhateverTheirAge) {
    FarmLogoff other = logoff;
    other.identity.fill(8);
    ASSERT_TRUE(farmQueue_save(path, queueKey, kStopTime - 86400 * 30, {logoff, other}));
    EXPECT_EQ(trace.count("kept 2 logoffs not yet published to the farm in " + path), 1);

    std::vector<FarmLogoff> back = farmQueue_load(path, queueKey);
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(back[0].identity, logoff.identity);
    EXPECT_EQ(back[0].times.cookieKind, 1);
    EXPECT_EQ(back[1].identity, other.identity);
    EXPECT_EQ(trace.count("2 farm logoffs kept at the stop taken from " + path), 1);
    EXPECT_TRUE(farmQueue_load(path, queueKey).empty()) << "taken once only";
}

TEST_F(FarmQueueFile, NeitherFileIsTakenForTheOther) {
    ASSERT_TRUE(farmQueue_save(path, queueKey, kStopTime, {logoff}));
    StateKey stateKey(kStateKey);
    StateConfig config;
    config.path = path;
    StateLoad load = logoffCookieState_load(config, stateKey, kStopTime);
    EXPECT_FALSE(load.warm);
    EXPECT_TRUE(load.queued.empty());

    ASSERT_TRUE(logoffCookieState_save(config, stateKey, kStopTime, {}, {logoff}));
    EXPECT_TRUE(farmQueue_load(path, queueKey).empty());
    EXPECT_EQ(trace.count("1 farm logoffs discarded: " + path + " does not verify"), 1);
}

TEST_F(FarmQueueFile, DamagedFileOrOpenDirectoryIsNotTaken) {
    ASSERT_TRUE(farmQueue_save(path, queueKey, kStopTime, {logoff}));
    ASSERT_EQ(chmod(directory.c_str(), 0777), 0);
    EXPECT_TRUE(farmQueue_load(path, queueKey).empty());
    ASSERT_EQ(chmod(directory.c_str(), 0700), 0);
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0) << "left where it was";

    {
        std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(info.st_size - 30);
        file.put('\x55');
    }
    EXPECT_TRUE(farmQueue_load(path, queueKey).empty());
    EXPECT_EQ(trace.count("1 farm logoffs discarded: " + path + " does not verify"), 1);
}

}  // namespace
