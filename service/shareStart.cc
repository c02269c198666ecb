#include "service/shareStart.h"

#include <cstdio>
#include <cstdlib>

#include "crypto/secureMemory.h"
#include "diag/traceLog.h"
#include "share/farmSharing.h"
#include "share/shareConfig.h"
#include "share/sharePublisher.h"

namespace {

// Read in the launcher, used in the worker: the forks carry it across.
ShareConfig shareConfig;
bool sharingConfigured = false;

}  // namespace

void requireShareConfig() {
    std::string error;
    switch (readShareConfig(shareConfig, error)) {
        case ShareConfigResult::Off:
            return;
        case ShareConfigResult::On:
            sharingConfigured = true;
            return;
        case ShareConfigResult::Refused:
            TRACE_LOG(TRACE_DETAIL, "logoffCookieAPI_ServerMain() -- %s", error.c_str());
            std::fprintf(stderr, "logoffCookieAPI_ServerMain() -- %s\n", error.c_str());
            std::exit(1);
    }
}

void startConfiguredSharing() {
    if (sharingConfigured) {
        startFarmSharing(shareConfig);
    }
}

void flushConfiguredSharing() {
    if (sharingConfigured) {
        shareFlushPublisher(SHARE_STOP_FLUSH);
    }
}

void forgetShareSecrets() {
    if (!shareConfig.secret.empty()) {
        secureZero(shareConfig.secret.data(), shareConfig.secret.size());
        shareConfig.secret.clear();
    }
    for (std::string* password :
         {&shareConfig.endpoint.password, &shareConfig.endpoint.sentinelPassword}) {
        if (!password->empty()) {
            secureZero(password->data(), password->size());
            password->clear();
        }
    }
}
