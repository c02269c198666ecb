// The host-wide lock that keeps service tests of all checkouts apart: only
// one instance of the service may run per host.
#pragma once

#include "support/threads/uncopyable.h"

namespace lctest {

// Held for the life of the object. ServiceProcess holds one; a test that
// starts services without it (farm hosts) takes its own, but never together
// with a ServiceProcess in the same process: that would wait for itself.
class HostTestLock : private Uncopyable {
  public:
    HostTestLock();
    ~HostTestLock();

  private:
    int fd_ = -1;
};

}  // namespace lctest
