#include "support/threads/RWThreadFunction.h"

RWThreadFunction RWThreadFunction::make(void (*function)(int), int argument) {
    return make(RWFunctor0(new RWTFunctor0GA1Imp<void, int>(function, argument)));
}

RWThreadFunction RWThreadFunction::make(void (*function)()) {
    return make(RWFunctor0(new RWTFunctor0GImp<void>(function)));
}

RWThreadFunction RWThreadFunction::make(const RWFunctor0& functor) {
    return RWThreadFunction(RWThreadFunctionImp::make(functor));
}

RWThreadFunctionImp* RWThreadFunction::body() const {
    if (!handle.isValid()) {
        throw RWTHRInvalidPointer("Invalid pointer");
    }
    return handle.body();
}

int RWThreadFunction::start() {
    return body()->start();
}

int RWThreadFunction::executionState() const {
    return body()->executionState();
}

int RWThreadFunction::completionState() const {
    return body()->completionState();
}

std::unique_ptr<RWTHRxmsg> RWThreadFunction::exception() const {
    return body()->exception();
}

int RWThreadFunction::waitExecutionState(int mask) const {
    return body()->waitExecutionState(mask);
}

int RWThreadFunction::waitExecutionState(int mask, unsigned long milliseconds) const {
    return body()->waitExecutionState(mask, milliseconds);
}

int RWThreadFunction::requestCancellation(unsigned long timeOut) const {
    return body()->requestCancellation(timeOut);
}

void RWThreadFunction::serviceCancellation() const {
    body()->serviceCancellation();
}
