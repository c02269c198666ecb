#include "share/shareThreads.h"

RWThreadFunction sharePublisherHandle;
RWThreadFunction shareReceiverHandle;

ShareCommon& shareCommon() {
    // Never destroyed: the threads may still use it while static destructors run.
    static ShareCommon* common = new ShareCommon;
    return *common;
}
