// How a failing POSIX call becomes an exception: the operation prefix, the
// call prefix and the detail, in the class the failure belongs to. Internal to
// the threads library.
#pragma once

[[noreturn]] void throwPosixFailure(const char* operationPrefix, const char* callPrefix, int code);

// Initialisation of a mutex or condition: lack of resources or memory is a
// resource limit with a fixed detail, anything else an internal error.
[[noreturn]] void throwInitFailure(const char* operationPrefix, const char* callPrefix, int code);

// Preparing attributes for a new thread or creating it.
[[noreturn]] void throwThreadCreationFailure(const char* callPrefix, int code);
