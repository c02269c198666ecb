// Collects the messages the trace log writes while a test runs.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

namespace lctest {

// The trace log switches itself off for good when it first finds the level
// unset; a level of 0 keeps it quiet but able to start capturing later.
inline const bool traceLevelPresent = (setenv("VOKTRACELEVEL", "0", 0), true);

// Trace lines up to `level` go to a fresh file for the life of the object;
// the log is quiet again after it.
class TraceCapture {
  public:
    explicit TraceCapture(const char* level = "14") {
        char pattern[] = "/tmp/lc-trace-capture-XXXXXX";
        int fd = mkstemp(pattern);
        if (fd >= 0) {
            close(fd);
        }
        path_ = pattern;
        setenv("VOKTRACEDEST", path_.c_str(), 1);
        setenv("VOKTRACELEVEL", level, 1);
    }
    ~TraceCapture() {
        setenv("VOKTRACELEVEL", "0", 1);
        unsetenv("VOKTRACEDEST");
        std::remove(path_.c_str());
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // The messages written since the start or the last clear, without pid,
    // time and source position.
    std::vector<std::string> messages() const {
        std::ifstream in(path_);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find(" # ");
            result.push_back(at == std::string::npos ? line : line.substr(at + 3));
        }
        return result;
    }
    // How many messages are exactly `message`.
    int count(std::string_view message) const {
        int n = 0;
        for (const std::string& line : messages()) {
            n += line == message ? 1 : 0;
        }
        return n;
    }
    void clear() const { std::fclose(std::fopen(path_.c_str(), "w")); }

  private:
    std::string path_;
};

}  // namespace lctest
