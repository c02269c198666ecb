// Whole files as text, for tests that read what a process wrote.
#pragma once

#include <chrono>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/support/waitUntil.h"

namespace lctest {

// The file's contents; "" when it cannot be read.
inline std::string readFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// How often `part` occurs in `text` (overlaps counted): a trace line that
// must be written exactly once.
inline size_t occurrences(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

// Until `text` appears in the file (a trace line, a message on standard
// error) or `timeout` passes.
inline bool waitForText(const std::string& path, const std::string& text,
                        std::chrono::milliseconds timeout) {
    return waitUntil([&] { return readFile(path).find(text) != std::string::npos; }, timeout,
                     std::chrono::milliseconds(10));
}

}  // namespace lctest
