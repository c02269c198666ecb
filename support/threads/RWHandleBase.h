// Reference-counted bodies shared through handles. A body counts its
// references minus one (a fresh body holds -1) in an atomic counter and is
// deleted by whoever drops the last handle. The counter needs no lock: taking
// the body's monitor for it made every new connection thread wait for the
// thread starting it before it could take its own reference.
#pragma once

#include <atomic>
#include <cstdint>

#include "support/threads/RWMutexLock.h"

class RWBodyBase {
  public:
    RWBodyBase();
    virtual ~RWBodyBase();
    RWBodyBase(const RWBodyBase&) = delete;
    RWBodyBase& operator=(const RWBodyBase&) = delete;

    // Both return the old count; decrementRefs() returning 0 means the last
    // reference is gone and the caller deletes the body.
    int32_t incrementRefs();
    int32_t decrementRefs();

    // Guards the body's own fields.
    RWMutexLock& monitor() { return monitorMutex; }

  private:
    RWMutexLock monitorMutex;
    std::atomic<int32_t> refs;
};

class RWHandleBase {
  public:
    RWHandleBase() : bodyPointer(nullptr) {}
    // Adds a reference to `body` (which may be null).
    explicit RWHandleBase(RWBodyBase* body);
    RWHandleBase(const RWHandleBase& other);
    RWHandleBase(RWHandleBase&& other) noexcept;
    // The new body gains its reference before the old one loses its own, so
    // assigning a handle to itself or to a handle of the same body is safe.
    RWHandleBase& operator=(const RWHandleBase& other);
    ~RWHandleBase();

    bool isValid() const { return bodyPointer != nullptr; }
    RWBodyBase* body() const { return bodyPointer; }

  private:
    RWBodyBase* bodyPointer;
};

// A handle that knows the class of its body.
template <class Body>
class RWTHandle : public RWHandleBase {
  public:
    RWTHandle() = default;
    explicit RWTHandle(Body* body) : RWHandleBase(body) {}

    Body* body() const { return static_cast<Body*>(RWHandleBase::body()); }
};
