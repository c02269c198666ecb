#include "client/cli/shareHealth.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>

namespace logoffcookie::cli {

namespace {

// Samples without labels, as the service writes them: "name value".
std::map<std::string, double> unlabelledSamples(const std::string& text) {
    std::map<std::string, double> samples;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t blank = line.find(' ');
        if (line.empty() || line[0] == '#' || blank == std::string::npos ||
            line.find('{') < blank) {
            continue;
        }
        std::string value = line.substr(blank + 1);
        samples[line.substr(0, blank)] =
            value == "NaN" ? std::nan("") : std::strtod(value.c_str(), nullptr);
    }
    return samples;
}

double sample(const std::map<std::string, double>& samples, const char* name) {
    auto at = samples.find(name);
    return at == samples.end() ? std::nan("") : at->second;
}

}  // namespace

std::string shareHealthProblem(const std::string& metricsText) {
    std::map<std::string, double> samples = unlabelledSamples(metricsText);
    double sinceRead = sample(samples, "voklogoffcookie_share_seconds_since_last_read");
    if (std::isnan(sinceRead)) {
        return {};  // sharing off
    }
    // A refusal first: it is also why nothing was read, and what to mend.
    if (sample(samples, "voklogoffcookie_share_publishing_refused") == 1) {
        return "sharing: Redis refuses this host's logoffs "
               "(voklogoffcookie_share_publishing_refused is 1; its standard error or trace says "
               "why)";
    }
    char line[200];
    if (sinceRead > kShareReadMaxAgeSeconds) {
        std::snprintf(line, sizeof line, "sharing: no read from Redis for %.0f s", sinceRead);
        return line;
    }
    double read = sample(samples, "voklogoffcookie_share_read_last_minute");
    double bad = sample(samples, "voklogoffcookie_share_bad_hmac_last_minute");
    if (read > 0 && 2 * bad > read) {
        std::snprintf(line, sizeof line,
                      "sharing: %.0f of %.0f entries read in the last minute were not signed with "
                      "the farm secret",
                      bad, read);
        return line;
    }
    return {};
}

}  // namespace logoffcookie::cli
