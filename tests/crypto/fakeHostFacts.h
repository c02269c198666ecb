// Host facts chosen by the test, served through the readers' test hook.
#pragma once

#include <sys/sysinfo.h>
#include <sys/utsname.h>

#include <cstring>
#include <string>
#include <utility>

#include "crypto/hostFacts.h"

namespace lctest {

struct FakeHostFacts {
    FakeHostFacts(std::string machineName = "", std::string versionText = "",
                  std::string swapSize = "0", std::string hostName = "")
        : machine(std::move(machineName)),
          version(std::move(versionText)),
          swap(std::move(swapSize)),
          nodename(std::move(hostName)) {}

    std::string machine, version, swap, nodename;
    bool unameFails = false, sysinfoFails = false;
    int unameCalls = 0, sysinfoCalls = 0;
};

inline FakeHostFacts* activeFacts = nullptr;

inline int fakeUname(struct utsname* names) {
    ++activeFacts->unameCalls;
    if (activeFacts->unameFails) {
        return -1;
    }
    std::strncpy(names->machine, activeFacts->machine.c_str(), sizeof names->machine - 1);
    std::strncpy(names->version, activeFacts->version.c_str(), sizeof names->version - 1);
    std::strncpy(names->nodename, activeFacts->nodename.c_str(), sizeof names->nodename - 1);
    return 0;
}

inline int fakeSysinfo(struct sysinfo* info) {
    ++activeFacts->sysinfoCalls;
    if (activeFacts->sysinfoFails) {
        return -1;
    }
    info->totalswap = std::stoul(activeFacts->swap);
    return 0;
}

// Serves `facts` until destroyed, then the system's calls again.
class InjectedHostFacts {
  public:
    explicit InjectedHostFacts(FakeHostFacts* facts) {
        activeFacts = facts;
        setHostFactCallsForTesting(fakeUname, fakeSysinfo);
    }
    ~InjectedHostFacts() {
        setHostFactCallsForTesting(nullptr, nullptr);
        activeFacts = nullptr;
    }
};

}  // namespace lctest
