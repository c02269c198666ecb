// A thread whose work is a functor: a global function with or without one
// bound argument.
#pragma once

#include "support/threads/RWFunctor0.h"
#include "support/threads/RWThreadImp.h"

class RWThreadFunctionImp : public RWThreadImp {
  public:
    // A new thread body in state 1 (initial) with default attributes.
    static RWTHandle<RWThreadFunctionImp> make(const RWFunctor0& functor);

  protected:
    // Runs the functor; an empty functor makes the run do nothing.
    void run() override;

  private:
    explicit RWThreadFunctionImp(const RWFunctor0& functor);

    RWFunctor0 functor;
};
