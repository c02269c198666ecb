// Replacing the metrics file so that a reader sees the old text or the new,
// never a part of one.
#pragma once

#include <cstddef>

// Writes `text` to a new file beside `path` and renames it over `path`.
// Returns 1 on success; 0 on failure, with the failing call and the system's
// reason in `error`, `path` left as it was and no temporary file behind.
int metrics_replaceFile(const char* path, const char* text, std::size_t length, char* error,
                        std::size_t errorSize);
