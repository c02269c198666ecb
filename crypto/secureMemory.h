// Handling of secrets: wipes the compiler may not drop, comparisons whose time
// does not depend on where the first difference lies.
#pragma once

#include <cstddef>

// Overwrites `len` bytes at `p` with zeros, even when `p` is never read again.
void secureZero(void* p, size_t len);

// True when the `len` bytes at `a` and `b` are equal; the time taken depends
// on `len` only.
bool constantTimeEqual(const void* a, const void* b, size_t len);
