// The abstract collection of collectable pointers. No collection owns its
// elements: inserting stores a pointer, removing hands it back, and clearing
// or destroying releases only the collection's own storage. None of them
// locks anything; callers provide mutual exclusion.
#pragma once

#include <cstdint>

#include "support/collections/RWCollectable.h"

// Called once per element by apply(), with the caller's data.
using RWapplyCollectable = void (*)(RWCollectable* element, void* data);

class RWCollection : public RWCollectable {
  public:
    virtual void clear() = 0;
    virtual std::uint32_t entries() const = 0;
    // The first stored element e for which e->isEqual(probe), or nullptr.
    virtual RWCollectable* find(const RWCollectable* probe) const = 0;
    // Returns the element now held for `element` (nullptr if refused).
    virtual RWCollectable* insert(RWCollectable* element) = 0;
    virtual bool isEmpty() const = 0;
    // Unlinks the first stored element equal to `probe` and returns it;
    // it need not be the probe itself.
    virtual RWCollectable* remove(const RWCollectable* probe) = 0;
    virtual void apply(RWapplyCollectable function, void* data) const = 0;
};
