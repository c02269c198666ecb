#include "share/shareState.h"

RWThreadFunction sharePublisherHandle;
RWThreadFunction shareReceiverHandle;

ShareState& shareState() {
    // Never destroyed: the threads may still use it while static destructors run.
    static ShareState* state = new ShareState;
    return *state;
}
