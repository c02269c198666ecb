#include "support/threads/RWHandleBase.h"

#include <exception>

#include "support/threads/RWxmsg.h"

RWBodyBase::RWBodyBase() : monitorMutex(), refs(-1) {}

RWBodyBase::~RWBodyBase() = default;

int32_t RWBodyBase::incrementRefs() {
    // A new reference is made from one the caller already holds, so nothing
    // needs to be ordered against it.
    return refs.fetch_add(1, std::memory_order_relaxed);
}

int32_t RWBodyBase::decrementRefs() {
    // Release, so this handle's use of the body happens before the deletion
    // by whoever drops the last reference; acquire, for that deleter.
    return refs.fetch_sub(1, std::memory_order_acq_rel);
}

namespace {

void dropReference(RWBodyBase* body) {
    if (body != nullptr && body->decrementRefs() == 0) {
        delete body;
    }
}

}  // namespace

RWHandleBase::RWHandleBase(RWBodyBase* body) : bodyPointer(body) {
    if (bodyPointer != nullptr) {
        bodyPointer->incrementRefs();
    }
}

RWHandleBase::RWHandleBase(const RWHandleBase& other) : RWHandleBase(other.bodyPointer) {}

RWHandleBase::RWHandleBase(RWHandleBase&& other) noexcept : bodyPointer(other.bodyPointer) {
    other.bodyPointer = nullptr;
}

RWHandleBase& RWHandleBase::operator=(const RWHandleBase& other) {
    if (this == &other) {
        return *this;
    }
    if (other.bodyPointer != nullptr) {
        other.bodyPointer->incrementRefs();
    }
    dropReference(bodyPointer);
    bodyPointer = other.bodyPointer;
    return *this;
}

RWHandleBase::~RWHandleBase() {
    try {
        dropReference(bodyPointer);
    } catch (const RWxmsg&) {
        // The monitor failed: the body stays, which is better than ending the
        // process from a destructor.
    } catch (const std::exception&) {
    }
}
