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

// The lowest pid other than `self` running `processName` under `procRoot`,
// kNoInstance when there is none, kProcUnreadable when the directory cannot
// be listed. Processes that vanish while being read are skipped.
pid_t findRunningInstance(const char* procRoot, const char* processName, pid_t self);
