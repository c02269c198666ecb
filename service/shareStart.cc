#include "service/shareStart.h"

#include <string>

#include "crypto/secureMemory.h"
#include "service/startRefusal.h"
#include "share/farmSharing.h"
#include "share/shareConfig.h"
#include "share/sharePublisher.h"

namespace {

// Read and drawn in the launcher, used in the worker: the forks carry them
// across.
ShareConfig shareConfig;
ShareRunId shareRun{};
bool sharingConfigured = false;

}  // namespace

void requireShareConfig() {
    sharingConfigured = requireSetting(readShareConfig, shareConfig);
    std::string error;
    if (sharingConfigured && !drawShareRunId(shareRun, error)) {
        refuseStart(error);
    }
}

void startConfiguredSharing() {
    if (sharingConfigured) {
        startFarmSharing(shareConfig, shareRun);
    }
}

void flushConfiguredSharing() {
    if (sharingConfigured) {
        shareFlushPublisher(kShareStopFlush);
    }
}

void forgetShareSecrets() {
    if (!shareConfig.secret.empty()) {
        secureZero(shareConfig.secret.data(), shareConfig.secret.size());
        shareConfig.secret.clear();
    }
    wipeShareCredentials(shareConfig.endpoint);
}
