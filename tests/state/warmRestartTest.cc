// Saving the cache to a state file and taking it back, as a stop and the
// next start do, with the refusals a start must make.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <cstdlib>
#include <cstring>
#include <string>

#include "cache/logoffCookieAPI.h"
#include "cache/logoffCookieCacheExport.h"
#include "cache/receivedLogoffs.h"
#include "state/warmRestart.h"
#include "tests/cache/cacheTestSupport.h"

namespace {

using cachetest::CookieFields;

const std::uint8_t kKeyBytes[kStateKeySize] = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0,
                                               1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
constexpr std::int32_t kStopTime = 2'000'000'000;

bool exists(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

class WarmRestart : public cachetest::ProcessCacheTest {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/lc-state-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory = pattern;
        config.path = directory + "/state";
        start = getCacheStartTime();
        copyCookieSalt(salt);
    }
    void TearDown() override {
        std::remove(config.path.c_str());
        std::remove((config.path + ".old").c_str());
        rmdir(directory.c_str());
        forgetFarmLogoffs();
        // The next test finds the start and salt of the process.
        logoffCookieCache_restoreStart(start, salt);
    }

    static void forgetFarmLogoffs() { logoffCookieCache().expireReceived(kStopTime + 1'000'000); }
    static std::uint32_t farmLogoffsHeld() { return logoffCookieCache().receivedLogoffs(); }
    // What a new run does before it loads: a start time and salt of its own.
    static void startAnotherRun() {
        std::uint8_t otherSalt[kLogoffCookieSaltSize];
        std::memset(otherSalt, 0x5a, sizeof otherSalt);
        logoffCookieCache_restoreStart(kStopTime + 10, otherSalt);
        resetCache();
        forgetFarmLogoffs();
    }
    int isCached(const CookieFields& cookie, std::int32_t creationTime) const {
        return logoffCookieAPI_cookieIsCached(cookie.text, cookie.bytes, creationTime, 0,
                                              cookie.attributes);
    }
    bool save() const { return logoffCookieState_save(config, key, kStopTime, {7, 3}, {}); }

    StateKey key{kKeyBytes};
    StateConfig config;
    std::string directory;
    std::int32_t start = 0;
    std::uint8_t salt[kLogoffCookieSaltSize] = {};
    CookieFields recorded{"recorded", "bytes", 60, 30};
    CookieFields neverRecorded{"never recorded", "bytes", 60, 30};
};

TEST_F(WarmRestart, FreshStateBringsBackCookiesFarmLogoffsStartAndSalt) {
    std::int32_t created = kStopTime + 100;
    logoffCookieAPI_addToCache(recorded.text, recorded.bytes, created, created, 0,
                               recorded.attributes, 1);
    FarmLogoff farm;
    farm.identity.fill(3);
    farm.times = {created, created, 0, 30, 60, 0};
    logoffCookieCache_addReceivedLogoff(std::vector<FarmLogoff>{farm});
    ASSERT_TRUE(save());
    struct stat info {};
    ASSERT_EQ(stat(config.path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    startAnotherRun();
    EXPECT_EQ(isCached(recorded, created), 0) << "a new salt finds nothing";
    StateLoad load = logoffCookieState_load(config, key, kStopTime + config.maxAgeSeconds);

    EXPECT_TRUE(load.warm);
    EXPECT_EQ(trace.count("restarted warm: 1 cookies, 1 farm logoffs kept"), 1);
    EXPECT_EQ(load.position.milliseconds, 7u);
    EXPECT_EQ(load.position.sequence, 3u);
    EXPECT_EQ(getCacheStartTime(), start);
    EXPECT_EQ(isCached(recorded, created), 1);
    EXPECT_EQ(isCached(neverRecorded, created), 0);
    EXPECT_EQ(farmLogoffsHeld(), 1u);
    std::vector<LogoffCookie*> queued = cachetest::queuedCookies(logoffCookieCache());
    ASSERT_EQ(queued.size(), 1u) << "the cleanup must find it to free it";
    EXPECT_EQ(queued[0]->cookieKind(), 1);
    EXPECT_FALSE(exists(config.path)) << "a crash later must not take it again";
    EXPECT_TRUE(exists(config.path + ".old"));
}

TEST_F(WarmRestart, StateOlderThanTheLimitStartsCold) {
    std::int32_t created = kStopTime + 100;
    logoffCookieAPI_addToCache(recorded.text, recorded.bytes, created, created, 0,
                               recorded.attributes, 0);
    ASSERT_TRUE(save());
    startAnotherRun();

    StateLoad load = logoffCookieState_load(config, key, kStopTime + config.maxAgeSeconds + 1);

    EXPECT_FALSE(load.warm);
    EXPECT_EQ(getCacheStartTime(), kStopTime + 10);
    EXPECT_EQ(cachetest::cachedCookieCount(logoffCookieCache()), 0u);
    EXPECT_EQ(trace.count("started cold: state file " + config.path +
                          " is too old: 301 seconds, VOKLOGOFFSTATEMAXAGE is 300"),
              1);
    EXPECT_FALSE(exists(config.path)) << "refused once, refused for good";
}

TEST_F(WarmRestart, StateFromTheFutureStartsCold) {
    ASSERT_TRUE(save());
    startAnotherRun();
    EXPECT_FALSE(logoffCookieState_load(config, key, kStopTime - 1).warm);
    EXPECT_EQ(getCacheStartTime(), kStopTime + 10);
}

TEST_F(WarmRestart, MissingFileStartsCold) {
    EXPECT_FALSE(logoffCookieState_load(config, key, kStopTime).warm);
    EXPECT_EQ(trace.count("started cold: no state file " + config.path), 1);
}

TEST_F(WarmRestart, FileOthersMayWriteIsRefused) {
    ASSERT_TRUE(save());
    ASSERT_EQ(chmod(config.path.c_str(), 0620), 0);
    startAnotherRun();
    EXPECT_FALSE(logoffCookieState_load(config, key, kStopTime).warm);
    EXPECT_EQ(getCacheStartTime(), kStopTime + 10);
}

TEST_F(WarmRestart, DirectoryThatCannotHoldTheFileSavesNothing) {
    config.path = directory + "/missing/state";
    EXPECT_FALSE(save());
    std::vector<std::string> lines = trace.messages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("state not saved: mkstemp " + config.path, 0), 0u) << lines[0];
}

TEST_F(WarmRestart, DirectoryOthersMayWriteIsNotReadAtAll) {
    ASSERT_TRUE(save());
    startAnotherRun();
    for (mode_t mode : {0770, 0707}) {
        ASSERT_EQ(chmod(directory.c_str(), mode), 0);
        trace.clear();
        EXPECT_FALSE(logoffCookieState_load(config, key, kStopTime).warm);
        EXPECT_EQ(trace.count("started cold: directory " + directory + " of " + config.path +
                              " may be written by group or others (chmod go-w " + directory + ")"),
                  1)
            << mode;
        EXPECT_TRUE(exists(config.path)) << "a refused directory is not touched";
    }
    ASSERT_EQ(chmod(directory.c_str(), 0700), 0);
    EXPECT_TRUE(logoffCookieState_load(config, key, kStopTime).warm);
}

TEST_F(WarmRestart, FarmQueueOfAFileTooOldOrFromTheFutureIsHandedBackAllTheSame) {
    FarmLogoff first;
    first.identity.fill(1);
    first.times = {kStopTime, kStopTime, 0, 30, 60, 0};
    FarmLogoff second = first;
    second.identity.fill(2);
    for (std::int32_t now : {kStopTime + config.maxAgeSeconds + 1000, kStopTime - 5}) {
        ASSERT_TRUE(logoffCookieState_save(config, key, kStopTime, {7, 3}, {first, second}));
        startAnotherRun();
        StateLoad load = logoffCookieState_load(config, key, now);
        EXPECT_FALSE(load.warm);
        ASSERT_EQ(load.queued.size(), 2u) << now;
        EXPECT_EQ(load.queued[0].identity, first.identity);
        EXPECT_EQ(load.queued[1].identity, second.identity);
        EXPECT_EQ(load.position.milliseconds, 0u) << "the position belongs to a warm start";
    }
}

TEST_F(WarmRestart, FarmLogoffsOfAFileThatDoesNotVerifyAreSaidToBeDiscarded) {
    FarmLogoff logoff;
    logoff.identity.fill(4);
    logoff.times = {kStopTime, kStopTime, 0, 30, 60, 0};
    ASSERT_TRUE(logoffCookieState_save(config, key, kStopTime, {}, {logoff, logoff, logoff}));
    startAnotherRun();
    std::uint8_t otherBytes[kStateKeySize] = {1};
    StateKey otherHost(otherBytes);
    StateLoad load = logoffCookieState_load(config, otherHost, kStopTime);
    EXPECT_FALSE(load.warm);
    EXPECT_TRUE(load.queued.empty());
    EXPECT_EQ(trace.count("started cold: state file " + config.path +
                          " does not verify; 3 farm logoffs discarded"),
              1);
}

}  // namespace
