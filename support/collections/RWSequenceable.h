// A collection whose elements stand in an order of their own.
#pragma once

#include "support/collections/RWCollection.h"

class RWSequenceable : public RWCollection {
  public:
    virtual RWCollectable* append(RWCollectable* element) = 0;
    // The front and back elements, or nullptr when empty.
    virtual RWCollectable* first() const = 0;
    virtual RWCollectable* last() const = 0;
};
