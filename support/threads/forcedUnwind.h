// Letting glibc's cancellation unwind pass through a catch.
#pragma once

#include <cxxabi.h>

// Cancellation unwinds a thread with abi::__forced_unwind, which carries no
// object: catching it by reference binds a reference to null, which the
// undefined-behaviour checker reports, although it is the documented way to
// rethrow it. Functions holding such a catch carry this attribute.
#define RW_CATCHES_FORCED_UNWIND __attribute__((no_sanitize("null")))
