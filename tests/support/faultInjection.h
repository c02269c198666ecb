// Faults injected into the threads a test process makes: its allocations
// through operator new and its thread creations can be made to fail. Every
// thread created in the process counts, the process's main thread does not,
// so a test's own steps on the main thread are never hit.
//
// Linking this replaces the global operator new and pthread_create of the
// whole test executable: give such a test an executable of its own.
#pragma once

#include <cstddef>

namespace lctest {

// The allocation after `granted` more on created threads fails with
// std::bad_alloc; with `persistent`, every allocation after it fails too
// until disarmed.
void failAllocationAfter(long granted, bool persistent = false);

// As failAllocationAfter (not persistent), with the main thread's
// allocations counted and failed too: for a test whose own step is the one
// to fail.
void failAnyAllocationAfter(long granted);

// Every allocation of at least `size` bytes fails with std::bad_alloc, on
// every thread, until disarmed: memory for one large object that is not to
// be had, as when a file is far larger than the free memory.
void failAllocationsOfAtLeast(std::size_t size);

// The thread creation after `granted` more by created threads fails with
// EAGAIN, as when the system has no thread to give.
void failThreadCreationAfter(long granted);

// No more injected failures; the counts below start again from zero.
void disarmFaults();

// Threads started by pthread_create in this process whose start routine has
// not yet returned (or been cancelled).
long createdThreadsRunning();

// Allocations through operator new so far, on every thread.
long allocationsMade();

// Failures injected since the last arming.
long injectedAllocationFailures();
long injectedThreadCreationFailures();

}  // namespace lctest
