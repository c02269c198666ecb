#include "support/collections/RWCollectable.h"

#include "support/collections/RWFactory.h"
#include "support/collections/collectableDefinitions.h"

LC_DEFINE_COLLECTABLE(RWCollectable, RW_COLLECTABLE_CLASS_ID)
LC_DEFINE_SELF_AS_COLLECTABLE(RWCollectable)

RWCollectable::~RWCollectable() = default;

std::uint32_t RWCollectable::storeSize() const {
    return 0;
}

int RWCollectable::compareTo(const RWCollectable* other) const {
    auto self = reinterpret_cast<std::uintptr_t>(this);
    auto them = reinterpret_cast<std::uintptr_t>(other);
    if (self == them) {
        return 0;
    }
    return them < self ? 1 : -1;
}

// The low 32 bits of the address, XORed with themselves shifted right by 3
// with the sign copied in: the top bit of the result is always 0, and the
// low bits, always 0 for aligned objects, take in higher address bits.
std::uint32_t RWCollectable::hash() const {
    auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(this));
    auto signedLow = static_cast<std::int32_t>(low);
    return low ^ static_cast<std::uint32_t>(signedLow >> 3);
}

bool RWCollectable::isEqual(const RWCollectable* other) const {
    return other == this;
}

RWCollectable* rwCreateRWCollectable() {
    return new RWCollectable;
}

namespace {

// Every program that holds a collectable links this file (it carries the
// base's virtual table), so the base class is registered from program start
// to exit. The factory's locks are constant-initialised, so this works
// whichever static objects of other files are built first.
const RWFactoryRegistration rwCollectableRegistration(rwCreateRWCollectable,
                                                      RW_COLLECTABLE_CLASS_ID,
                                                      RW_COLLECTABLE_STRING_ID);

}  // namespace
