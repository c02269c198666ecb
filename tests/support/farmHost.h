// Hosts of a farm on one machine: each service runs in PID and mount
// namespaces of its own (unshare, as root), where it is the only instance
// and finds no other. Its install directory, socket and trace stay on the
// shared file system, so the test talks to it as to a local service.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>

#include "tests/support/hostTestLock.h"
#include "tests/support/processTable.h"
#include "tests/support/scratchDirectory.h"
#include "tests/support/serviceProcess.h"

namespace lctest {

class FarmHost {
  public:
    explicit FarmHost(std::string name);
    ~FarmHost();  // stops the namespace; the directory goes after it
    FarmHost(const FarmHost&) = delete;
    FarmHost& operator=(const FarmHost&) = delete;

    // Starts the service in new namespaces with `env` added to a fresh
    // WA_INSTALL_PATH and tracing; true once its socket answers and its
    // launcher has ended, leaving the monitor and its worker.
    bool start(const EnvChanges& env);
    // The address space its processes get at the next start (ulimit -v).
    void limitAddressSpace(std::size_t kilobytes) { addressSpaceKb_ = kilobytes; }
    // The worker: the monitor's child, once the launcher has ended; -1
    // before that and when none runs.
    pid_t workerPid() const;
    // Ends every process of the namespace (SIGKILL to its holder, by pid).
    void stop();
    // The orderly stop of the packaged unit: SIGTERM to the worker; once
    // worker and monitor have ended, the namespace goes as with stop().
    // True when they ended within `timeout`.
    bool stopWorker(std::chrono::milliseconds timeout);

    const std::string& name() const { return name_; }
    std::string socketPath() const { return install_.path() + "/logoffCookieSocket"; }
    std::string readTrace() const;
    std::string readStderr() const;
    // Until `text` appears in the trace or `timeout` passes.
    bool waitForTrace(const std::string& text, std::chrono::milliseconds timeout) const;

  private:
    std::string name_;
    ScratchDirectory install_{"lc-farm"};
    pid_t holder_ = -1;               // unshare, our child; the namespace ends with it
    std::size_t addressSpaceKb_ = 0;  // 0: unlimited
};

}  // namespace lctest
