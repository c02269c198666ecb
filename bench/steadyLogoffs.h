// What the farm benchmarks share: their "--name value" command lines,
// logoffs sent to one host at a steady rate through the client library, one
// connection per add as agents make, and the nearest-rank percentiles of
// what they measure.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "client/logoffCookieClient.h"

// The "--name value" pairs of a command line, in order; a name given more
// than once has every value, and counts by its last one.
class BenchArguments {
  public:
    BenchArguments(int argc, char** argv);
    // All values of `name`, in order.
    std::vector<std::string> all(const std::string& name) const;
    // The last value of `name`, or nullptr.
    const char* text(const std::string& name) const;
    // The last value of `name` as a decimal (atoi), or `otherwise`.
    int number(const std::string& name, int otherwise) const;

  private:
    std::vector<std::pair<std::string, const char*>> pairs_;
};

// A cookie of `text` created, and last used, at `created`.
logoffCookieClient_cookie benchCookie(const std::string& text, std::int32_t created);

// The value below which `share` (0 to 1) of `values` lie, by nearest rank;
// 0 for none.
double nearestRankPercentile(std::vector<double> values, double share);

struct SteadyLogoffs {
    int failures = 0;    // adds the service did not acknowledge
    double seconds = 0;  // from the first add's start to the last add's end
};

// Adds `count` cookies, "<prefix><i>" created at `created`, through `sender`,
// the i-th when i / rate seconds have passed; `added(i, text)` runs after
// each add the service acknowledged.
SteadyLogoffs addAtSteadyRate(const logoffCookieClient_options& sender, const std::string& prefix,
                              std::int32_t created, int rate, int count,
                              const std::function<void(int i, const std::string& text)>& added);
