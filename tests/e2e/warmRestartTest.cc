// The warm restart through the real processes: an orderly stop of the worker
// saves the cache, the next start takes it back; anything doubtful (a damaged
// or stale file, a killed worker) starts cold, refusing every cookie made
// before the start, and says why in one line.
#include <gtest/gtest.h>
#include <signal.h>

#include <ctime>
#include <fstream>
#include <sstream>

#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {
namespace {

class WarmRestartService : public ::testing::Test {
  protected:
    std::string statePath() const { return service.installPath() + "/state"; }

    EnvChanges env(EnvChanges extra = {}) const {
        extra.emplace_back("VOKLOGOFFSTATE", statePath());
        return extra;
    }

    // Starts, then records one cookie and leaves another unrecorded, both
    // created after the start: the cache alone knows which is which.
    void startAndRecord() {
        ASSERT_TRUE(service.start(env()));
        created = static_cast<int32_t>(time(nullptr)) + 1;
        for (CookieFields* cookie : {&recorded, &neverRecorded}) {
            cookie->creationTime = created;
            cookie->lastUseTime = created;
        }
        recorded.text = "recorded";
        neverRecorded.text = "never recorded";
        ASSERT_EQ(ask(service.socketPath(), addPayload(recorded)), -1);
        ASSERT_EQ(answer(recorded), 1);
        ASSERT_EQ(answer(neverRecorded), 0);
    }

    // A start after both cookies were made: a cold one refuses them both.
    void restart(EnvChanges extra = {}) {
        ASSERT_TRUE(waitUntil([this] { return time(nullptr) > created; }));
        ASSERT_TRUE(service.start(env(std::move(extra))));
    }

    std::optional<int32_t> answer(const CookieFields& cookie) const {
        return ask(service.socketPath(), queryPayload(cookie));
    }

    // The line the last start said about the state file.
    std::string lastStartLine() const {
        std::istringstream lines(service.readStderr());
        std::string last;
        for (std::string line; std::getline(lines, line);) {
            if (line.rfind("started cold: ", 0) == 0 || line.rfind("restarted warm: ", 0) == 0) {
                last = line;
            }
        }
        return last;
    }

    void expectBothRefused() {
        EXPECT_EQ(answer(recorded), 1);
        EXPECT_EQ(answer(neverRecorded), 1);
    }

    // The stop saved the one recorded cookie; the restart answers as before it.
    void expectSavedAndRestartedWarm() {
        EXPECT_NE(service.readStderr().find("state saved to " + statePath() + ": 1 cookies"),
                  std::string::npos);
        restart();

        EXPECT_EQ(answer(recorded), 1);
        EXPECT_EQ(answer(neverRecorded), 0);
        EXPECT_EQ(lastStartLine(), "restarted warm: 1 cookies, 0 farm logoffs kept");
    }

    ServiceProcess service;
    CookieFields recorded;
    CookieFields neverRecorded;
    int32_t created = 0;
};

TEST_F(WarmRestartService, OrderlyStopKeepsWhatTheCacheKnew) {
    startAndRecord();
    ASSERT_TRUE(service.signalWorker(SIGTERM));
    expectSavedAndRestartedWarm();
    EXPECT_NE(service.readTrace().find("restarted warm: 1 cookies, 0 farm logoffs kept"),
              std::string::npos);
}

// The pid the launcher prints is the monitor's: the stop sent to it reaches
// the worker, which stops in order.
TEST_F(WarmRestartService, StopSentToTheMonitorKeepsWhatTheCacheKnew) {
    startAndRecord();
    ASSERT_TRUE(service.stop());
    expectSavedAndRestartedWarm();
}

TEST_F(WarmRestartService, DamagedStateStartsCold) {
    startAndRecord();
    ASSERT_TRUE(service.signalWorker(SIGTERM));
    {
        std::fstream file(statePath(), std::ios::in | std::ios::out | std::ios::binary);
        file.seekg(100);
        char byte = 0;
        file.get(byte);
        file.seekp(100);
        file.put(static_cast<char>(byte ^ 0x20));
        ASSERT_TRUE(file.good());
    }
    restart();

    expectBothRefused();
    EXPECT_EQ(lastStartLine(), "started cold: state file " + statePath() + " does not verify");
}

TEST_F(WarmRestartService, StaleStateStartsCold) {
    startAndRecord();
    ASSERT_TRUE(service.signalWorker(SIGTERM));
    int32_t stopped = static_cast<int32_t>(time(nullptr));
    ASSERT_TRUE(waitUntil([stopped] { return time(nullptr) > stopped; }));
    restart({{"VOKLOGOFFSTATEMAXAGE", "0"}});

    expectBothRefused();
    EXPECT_EQ(lastStartLine().rfind("started cold: state file " + statePath() + " is too old: ", 0),
              0u)
        << lastStartLine();
}

TEST_F(WarmRestartService, KilledWorkerSavesNothing) {
    startAndRecord();
    ASSERT_TRUE(service.signalWorker(SIGKILL));
    restart();

    expectBothRefused();
    EXPECT_EQ(lastStartLine(), "started cold: no state file " + statePath());
}

TEST_F(WarmRestartService, BadMaximumAgeIsRefusedBeforeForking) {
    LaunchResult result = service.launch(env({{"VOKLOGOFFSTATEMAXAGE", "five minutes"}}));
    EXPECT_TRUE(result.exitedWith(1));
    EXPECT_NE(service.readStderr().find("VOKLOGOFFSTATEMAXAGE must be a number of seconds"),
              std::string::npos);
}

}  // namespace
}  // namespace lctest
