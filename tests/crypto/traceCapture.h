// Collects the messages the trace log writes while a test runs.
#pragma once

#include <unistd.h>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace lctest {

// The trace log switches itself off for good when it first finds the level
// unset; a level of 0 keeps it quiet but able to start capturing later.
inline const bool traceLevelPresent = (setenv("VOKTRACELEVEL", "0", 0), true);

class TraceCapture {
  public:
    TraceCapture() {
        char pattern[] = "/tmp/lc-crypto-trace-XXXXXX";
        int fd = mkstemp(pattern);
        if (fd >= 0) {
            close(fd);
        }
        path_ = pattern;
        setenv("VOKTRACEDEST", path_.c_str(), 1);
        setenv("VOKTRACELEVEL", "14", 1);
    }
    ~TraceCapture() {
        setenv("VOKTRACELEVEL", "0", 1);
        std::remove(path_.c_str());
    }

    // The messages written so far, without pid, time and source position.
    std::vector<std::string> messages() const {
        std::ifstream in(path_);
        std::vector<std::string> result;
        for (std::string line; std::getline(in, line);) {
            size_t at = line.find(" # ");
            result.push_back(at == std::string::npos ? line : line.substr(at + 3));
        }
        return result;
    }

  private:
    std::string path_;
};

}  // namespace lctest
