// A bare detached POSIX thread, as a plain thread-per-connection server starts
// one: the floor server serves with it, and the thread launch benchmark
// measures the service's threads against it.
#pragma once

// Starts `entry(argument)` on a detached thread with the system's default
// attributes. `onThisProcessor` starts it bound to the caller's current
// processor; the new thread may widen its own affinity afterwards. Returns
// what pthread_create returns: 0 when the thread runs.
int startDetachedThread(void* (*entry)(void*), void* argument, bool onThisProcessor);
