// Helpers of the abuse and fault tests: descriptor limits, a look at the
// worker from outside, and cookies recorded before a fault to be asked for
// after it.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <chrono>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"
#include "tests/support/waitUntil.h"

namespace lctest {

// Raises this process's soft descriptor limit to `wanted`, or as far as the
// hard limit allows; returns the soft limit in force afterwards.
inline rlim_t raiseOwnDescriptorLimit(rlim_t wanted) {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_cur < wanted) {
        limit.rlim_cur =
            limit.rlim_max == RLIM_INFINITY || limit.rlim_max >= wanted ? wanted : limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return limit.rlim_cur;
}

// Threads of a running process, from its status file; -1 when it is gone.
inline int threadCount(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Threads:", 0) == 0) {
            return std::stoi(line.substr(8));
        }
    }
    return -1;
}

// Open descriptors of a running process; -1 when it is gone.
inline int descriptorCount(pid_t pid) {
    DIR* dir = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
    if (dir == nullptr) {
        return -1;
    }
    int count = 0;
    while (dirent* entry = readdir(dir)) {
        count += entry->d_name[0] != '.';
    }
    closedir(dir);
    return count;
}

// waitUntil() with polls 20 ms apart: each look at the worker reads /proc.
inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    return waitUntil(condition, timeout, std::chrono::milliseconds(20));
}

inline int32_t secondsNow() {
    return static_cast<int32_t>(std::time(nullptr));
}

// A cookie created after the service started, so only the cache can answer
// for it: a later start time would answer 1 for it without looking.
inline CookieFields laterCookie(const std::string& text) {
    CookieFields cookie = freshCookie(text, std::chrono::hours(1));
    cookie.bytes = "bytes-of-" + text;
    cookie.maxLifetimeMinutes = 24 * 60;
    cookie.idleTimeoutMinutes = 0;
    return cookie;
}

// Cookies logged off before a fault; every one must still be answered as
// logged off after it.
class RecordedCookies {
  public:
    void record(const std::string& socket, const std::string& prefix, int count) {
        for (int i = 0; i < count; ++i) {
            CookieFields cookie = laterCookie(prefix + "-" + std::to_string(i));
            ASSERT_EQ(ask(socket, addPayload(cookie)), -1) << cookie.text;
            cookies_.push_back(cookie);
        }
    }
    void add(const CookieFields& cookie) { cookies_.push_back(cookie); }
    const std::vector<CookieFields>& cookies() const { return cookies_; }

    // The cookies not answered 1, by text; empty when all are.
    std::vector<std::string> notAnswered(const std::string& socket) const {
        std::vector<std::string> missing;
        for (const CookieFields& cookie : cookies_) {
            if (ask(socket, queryPayload(cookie)) != 1) {
                missing.push_back(cookie.text);
            }
        }
        return missing;
    }

  private:
    std::vector<CookieFields> cookies_;
};

// One service for a whole suite (starting one costs more than a test), and
// cookies logged off at its start that every test must leave answered by
// the same worker.
class ServiceSuite : public ::testing::Test {
  protected:
    // For SetUpTestSuite().
    static void startSuite(const EnvChanges& env, const std::string& recordedPrefix,
                           int recordedCount) {
        service_ = new ServiceProcess;
        ASSERT_TRUE(service_->start(env));
        recorded_ = new RecordedCookies;
        recorded_->record(socket(), recordedPrefix, recordedCount);
    }
    static void TearDownTestSuite() {
        delete recorded_;
        recorded_ = nullptr;
        delete service_;
        service_ = nullptr;
    }
    void SetUp() override { ASSERT_NE(service_, nullptr); }
    void TearDown() override {
        EXPECT_GT(threadCount(service_->workerPid()), 0) << "the worker has gone";
        EXPECT_EQ(recorded_->notAnswered(socket()), std::vector<std::string>{});
    }

    static std::string socket() { return service_->socketPath(); }

    inline static ServiceProcess* service_ = nullptr;
    inline static RecordedCookies* recorded_ = nullptr;
};

}  // namespace lctest
