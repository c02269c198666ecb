// Functor bodies: a global function, with or without one bound argument,
// wrapped so that a thread can run it.
#pragma once

#include "support/threads/RWHandleBase.h"

class RWFunctor0Imp : public RWBodyBase {
  public:
    virtual void run() const = 0;
};

using RWFunctor0 = RWTHandle<RWFunctor0Imp>;

template <class R, class A1>
class RWTFunctor0GA1Imp : public RWFunctor0Imp {
  public:
    using Function = R (*)(A1);

    RWTFunctor0GA1Imp(Function function, A1 argument) : function(function), argument(argument) {}

    void run() const override { function(argument); }

  private:
    Function function;
    A1 argument;  // bound at creation
};

template <class R>
class RWTFunctor0GImp : public RWFunctor0Imp {
  public:
    using Function = R (*)();

    explicit RWTFunctor0GImp(Function function) : function(function) {}

    void run() const override { function(); }

  private:
    Function function;
};
