// Files that hold secrets (the farm secret, the Redis credentials): taken
// only when nobody but the service's user can have read or changed them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Reads the file at `path` whole into `out`: a regular file (not a link, not
// a FIFO or device, which are never opened so as to block), owned by the
// effective user, neither readable nor writable by group or others, of
// `smallest` to `largest` bytes. False with the reason in `error`, which
// names the path but never the content. Whatever was read is wiped on every
// path but the one that hands it to `out`.
bool readPrivateFile(const std::string& path, std::size_t smallest, std::size_t largest,
                     std::vector<std::uint8_t>& out, std::string& error);
