#include "bench/steadyLogoffs.h"

#include <algorithm>
#include <cstdlib>
#include <thread>

BenchArguments::BenchArguments(int argc, char** argv) {
    for (int i = 1; i + 1 < argc; i += 2) {
        pairs_.emplace_back(argv[i], argv[i + 1]);
    }
}

std::vector<std::string> BenchArguments::all(const std::string& name) const {
    std::vector<std::string> values;
    for (const auto& [given, value] : pairs_) {
        if (given == name) {
            values.emplace_back(value);
        }
    }
    return values;
}

const char* BenchArguments::text(const std::string& name) const {
    const char* last = nullptr;
    for (const auto& [given, value] : pairs_) {
        if (given == name) {
            last = value;
        }
    }
    return last;
}

int BenchArguments::number(const std::string& name, int otherwise) const {
    const char* value = text(name);
    return value != nullptr ? std::atoi(value) : otherwise;
}

logoffCookieClient_cookie benchCookie(const std::string& text, std::int32_t created) {
    logoffCookieClient_cookie cookie;
    logoffCookieClient_initCookie(&cookie, text.c_str());
    cookie.creationTime = created;
    cookie.lastUseTime = created;
    return cookie;
}

double nearestRankPercentile(std::vector<double> values, double share) {
    if (values.empty()) {
        return 0;
    }
    std::sort(values.begin(), values.end());
    auto rank = static_cast<std::size_t>(share * static_cast<double>(values.size()) + 0.999999);
    return values[std::clamp<std::size_t>(rank, 1, values.size()) - 1];
}

SteadyLogoffs addAtSteadyRate(const logoffCookieClient_options& sender, const std::string& prefix,
                              std::int32_t created, int rate, int count,
                              const std::function<void(int i, const std::string& text)>& added) {
    using Clock = std::chrono::steady_clock;
    SteadyLogoffs sent;
    const auto start = Clock::now();
    const auto interval = std::chrono::nanoseconds(1000000000 / rate);
    for (int i = 0; i < count; ++i) {
        std::this_thread::sleep_until(start + i * interval);
        std::string text = prefix + std::to_string(i);
        logoffCookieClient_cookie cookie = benchCookie(text, created);
        if (logoffCookieClient_addToCache(&sender, &cookie) != LC_CLIENT_OK) {
            ++sent.failures;
            continue;
        }
        added(i, text);
    }
    sent.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return sent;
}
