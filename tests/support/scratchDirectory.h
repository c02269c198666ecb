// A directory of its own under /tmp for the life of the object: a service's
// install path, a server's data directory, a test's files.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace lctest {

class ScratchDirectory {
  public:
    // Made as /tmp/`prefix`-XXXXXX; path() is "" when that failed.
    explicit ScratchDirectory(const std::string& prefix) {
        std::string pattern = "/tmp/" + prefix + "-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (char* dir = mkdtemp(name.data())) {
            path_ = dir;
        }
    }
    // Removes it with everything in it.
    ~ScratchDirectory() {
        std::error_code ignored;
        if (!path_.empty()) {
            std::filesystem::remove_all(path_, ignored);
        }
    }
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

}  // namespace lctest
