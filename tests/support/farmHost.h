// Hosts of a farm on one machine: each service runs in PID and mount
// namespaces of its own (unshare, as root), where it is the only instance
// and finds no other. Its install directory, socket and trace stay on the
// shared file system, so the test talks to it as to a local service.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "tests/support/serviceProcess.h"

namespace lctest {

// The host-wide lock that keeps service tests of all checkouts apart, for
// tests that start services without ServiceProcess. Not to be held together
// with a ServiceProcess in the same process: that would wait for itself.
class HostTestLock {
  public:
    HostTestLock();
    ~HostTestLock();
    HostTestLock(const HostTestLock&) = delete;
    HostTestLock& operator=(const HostTestLock&) = delete;

  private:
    int fd_ = -1;
};

class FarmHost {
  public:
    explicit FarmHost(std::string name);
    ~FarmHost();  // stops the namespace, removes the directory
    FarmHost(const FarmHost&) = delete;
    FarmHost& operator=(const FarmHost&) = delete;

    // Starts the service in new namespaces with `env` added to a fresh
    // WA_INSTALL_PATH and tracing; true once its socket answers.
    bool start(const EnvChanges& env);
    // The address space its processes get at the next start (ulimit -v).
    void limitAddressSpace(std::size_t kilobytes) { addressSpaceKb_ = kilobytes; }
    // The worker: the service process whose parent is the monitor; -1 when
    // none runs.
    pid_t workerPid() const;
    // Ends every process of the namespace (SIGKILL to its holder, by pid).
    void stop();

    const std::string& name() const { return name_; }
    std::string socketPath() const { return installPath_ + "/logoffCookieSocket"; }
    std::string readTrace() const;
    std::string readStderr() const;
    // Until `text` appears in the trace or `timeout` passes.
    bool waitForTrace(const std::string& text, std::chrono::milliseconds timeout) const;

  private:
    std::string name_;
    std::string installPath_;
    pid_t holder_ = -1;               // unshare, our child; the namespace ends with it
    std::size_t addressSpaceKb_ = 0;  // 0: unlimited
};

// A line of /proc/PID/status in kilobytes ("VmHWM", "VmPeak"); -1 when
// there is none.
long processStatusKb(pid_t pid, const std::string& field);

}  // namespace lctest
