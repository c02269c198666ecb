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
#include <thread>
#include <vector>

#include "tests/support/rawRequests.h"
#include "tests/support/serviceProcess.h"

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

inline bool eventually(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

inline int32_t secondsNow() {
    return static_cast<int32_t>(std::time(nullptr));
}

// A cookie created after the service started, so only the cache can answer
// for it: a later start time would answer 1 for it without looking.
inline CookieFields laterCookie(const std::string& text) {
    CookieFields cookie;
    cookie.text = text;
    cookie.bytes = "bytes-of-" + text;
    cookie.creationTime = secondsNow() + 3600;
    cookie.lastUseTime = cookie.creationTime;
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

}  // namespace lctest
