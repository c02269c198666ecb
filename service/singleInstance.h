// Finding another running instance of the service on this host.
#pragma once

#include <sys/types.h>
#include <cstddef>

// What the check stands for, shown to operators in the trace and on stderr.
extern const char checkserver[];

// True when a process command line (NUL-separated arguments, as in
// /proc/<pid>/cmdline) starts a program called `processName`.
bool isServiceCommandLine(const char* cmdline, size_t length, const char* processName);

inline constexpr pid_t kProcUnreadable = -1;
inline constexpr pid_t kNoInstance = 0;

// Whose instances count: only a process of the same user in the same PID
// namespace can be this host's service. Any local user can start a process
// of that name, and an instance inside a container serves the container.
struct InstanceOwner {
    uid_t uid = 0;
    // The PID namespace as `stat` of <proc>/<pid>/ns/pid gives it;
    // namespaceKnown is false where the kernel shows none.
    bool namespaceKnown = false;
    dev_t namespaceDevice = 0;
    ino_t namespaceInode = 0;
};

// The calling process's user (its real uid) and PID namespace under `procRoot`.
InstanceOwner ownInstanceOwner(const char* procRoot);

// The lowest pid other than `self` running `processName` under `procRoot`
// whose real uid and PID namespace are `owner`'s, kNoInstance when there is
// none, kProcUnreadable when the directory cannot be listed. Processes that
// vanish while being read, and those whose uid or namespace cannot be read,
// are skipped.
pid_t findRunningInstance(const char* procRoot, const char* processName, pid_t self,
                          const InstanceOwner& owner);
