#include "client/cli/healthCheck.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <ostream>
#include <random>
#include <sstream>

#include "client/cli/cookieOptions.h"
#include "client/cli/metricsText.h"
#include "client/cli/shareHealth.h"
#include "client/cli/subcommand.h"

namespace logoffcookie::cli {

namespace {

using Clock = std::chrono::steady_clock;

// A cookie nobody has logged off: its text is random and new.
std::string freshCookieText() {
    std::random_device source;
    char text[40];
    std::snprintf(text, sizeof text, "health-%08x%08x%08x", source(), source(), source());
    return text;
}

std::string readWholeFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int fail(std::ostream& err, const std::string& reason) {
    err << "logoffcookie health: " << reason << "\n";
    return kExitFailure;
}

}  // namespace

std::string metricsFileProblem(const std::string& path, std::chrono::system_clock::time_point now,
                               std::chrono::seconds maxAge) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        return "metrics file " + path + ": " + std::strerror(errno);
    }
    auto written = std::chrono::system_clock::time_point(
        std::chrono::seconds(info.st_mtim.tv_sec) + std::chrono::nanoseconds(info.st_mtim.tv_nsec));
    auto age = std::chrono::duration_cast<std::chrono::seconds>(now - written);
    if (age > maxAge) {
        return "metrics file " + path + " was last written " + std::to_string(age.count()) +
               " s ago, more than " + std::to_string(maxAge.count()) + " s";
    }
    return {};
}

std::string metricsContentProblem(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    if (!file) {
        return "metrics file " + path + ": cannot be read";
    }
    std::string problem = metricsTextProblem(text.str(), kServiceMetricFamilies);
    return problem.empty() ? problem : "metrics file " + path + ": " + problem;
}

int runHealthCheck(const HealthOptions& options, std::ostream& out, std::ostream& err) {
    std::string text = freshCookieText();
    Cookie cookie(text);
    // A second ahead: a cookie created in the second the service started is
    // answered 1 without a look into the cache, and a check right after a
    // start must not fail for that.
    cookie.creationTime = currentTime() + 1;
    cookie.lastUseTime = cookie.creationTime;

    ClientOptions connection;
    connection.socketPath = options.socketPath;
    connection.timeout = options.timeout;
    // A check that follows a start at once finds the socket not there yet.
    connection.socketWait = options.timeout;

    bool cached = true;
    Clock::time_point started = Clock::now();
    ClientStatus status = cookieIsCached(cookie, cached, connection);
    auto latency = std::chrono::duration<double, std::milli>(Clock::now() - started);
    if (!status.ok()) {
        return reportFailure(err, "health", status, connection);
    }
    if (latency > options.timeout) {
        // The socket wait and the answer each had the whole time-out.
        return reportFailure(err, "health", ClientStatus{LC_CLIENT_TIMED_OUT, 0}, connection);
    }
    if (cached) {
        // The library takes 1 as an answer; for this cookie it is a wrong one.
        return reportFailure(err, "health (a fresh cookie was answered 1, not 0)",
                             ClientStatus{LC_CLIENT_UNEXPECTED_REPLY, 0}, connection);
    }
    if (!options.metricsPath.empty()) {
        std::string problem = metricsFileProblem(
            options.metricsPath, std::chrono::system_clock::now(), kMetricsFileMaxAge);
        if (problem.empty()) {
            problem = metricsContentProblem(options.metricsPath);
        }
        if (problem.empty()) {
            problem = shareHealthProblem(readWholeFile(options.metricsPath));
        }
        if (!problem.empty()) {
            return fail(err, problem);
        }
    }
    char figure[32];
    std::snprintf(figure, sizeof figure, "%.3f", latency.count());
    out << "ok: answered in " << figure << " ms\n";
    return kExitSuccess;
}

}  // namespace logoffcookie::cli
