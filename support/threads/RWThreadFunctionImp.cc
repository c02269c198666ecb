#include "support/threads/RWThreadFunctionImp.h"

RWThreadFunctionImp::RWThreadFunctionImp(const RWFunctor0& functor) : functor(functor) {}

RWTHandle<RWThreadFunctionImp> RWThreadFunctionImp::make(const RWFunctor0& functor) {
    return RWTHandle<RWThreadFunctionImp>(new RWThreadFunctionImp(functor));
}

void RWThreadFunctionImp::run() {
    RWFunctor0 work;
    {
        MonitorGuard guard(*this);
        work = functor;
    }
    if (work.isValid()) {
        work.body()->run();
    }
}
