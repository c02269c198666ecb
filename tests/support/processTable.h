// What /proc says about processes: tests find the processes a service
// started, and see them end, by pid.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace lctest {

// The pids of every process visible here.
std::vector<pid_t> allPids();
// The parent of a process that runs; nullopt when it is gone or a zombie.
std::optional<pid_t> parentOf(pid_t pid);
// True while the process runs (neither gone nor a zombie).
bool isAlive(pid_t pid);
// The identity of the process's PID namespace; "" when it cannot be read
// (a zombie's no longer can).
std::string pidNamespaceOf(pid_t pid);
// A line of /proc/PID/status in kilobytes ("VmHWM", "VmPeak"); -1 when
// there is none.
long processStatusKb(pid_t pid, const std::string& field);

// A process of the service: its name, or the program it runs, is the
// service's.
bool isServiceProcess(pid_t pid);
// The worker of the service started under `first` (the process that ran
// the launcher and adopts the monitor when the launcher ends): the monitor's
// child. -1 when none runs, and while a launcher that has started monitor
// and worker still lives (its exit may take a while under a sanitizer):
// then the launcher's child is the monitor, which a rule that takes "a
// service whose parent is a service" mistakes for the worker. The caller
// knows whether the launcher ended before the worker started.
pid_t serviceWorkerUnder(pid_t first);

}  // namespace lctest
