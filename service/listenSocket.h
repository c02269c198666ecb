// The worker's listening socket file.
#pragma once

#include <cstddef>

#include "protocol/socketPath.h"

// Fills `path` (of `capacity` bytes) with "<WA_INSTALL_PATH>/logoffCookieSocket".
// Returns false, with a one-line reason in `error`, when the variable is unset
// or empty or the path is too long for the socket address.
bool composeSocketPath(char* path, size_t capacity, char* error, size_t errorCapacity);

// Returns false, with a one-line reason in `error`, when WA_INSTALL_PATH does
// not name an existing directory: the socket could not be bound there, and
// the launcher must say so before it reports a start.
bool checkSocketDirectory(char* error, size_t errorCapacity);

// Replaces any file at `path` by a socket created with mode 0777 and listening
// with a backlog of 128. Warns, on stderr and in the trace, when the directory
// may be written by group or others and has no sticky bit. On failure traces
// and reports the failing call, removes a socket file it created, and returns
// -1. Call before any other thread exists: it clears the process-wide
// file-mode mask for the bind.
int createListeningSocket(const char* path);
