// A first-in first-out queue of collectables: append at the back, first and
// get at the front, all in constant time.
#pragma once

#include "support/collections/RWSlistCollectables.h"

class RWSlistCollectablesQueue : public RWSlistCollectables {
  public:
    RWSlistCollectablesQueue() = default;
    // Appends the elements of `other` in order, up to its first null element:
    // a null element ends the copy.
    RWSlistCollectablesQueue(const RWSlistCollectablesQueue& other);
    RWSlistCollectablesQueue& operator=(const RWSlistCollectablesQueue&) = delete;

    RWCollectable* newInstance() const override;
    RWCollectable* copy() const override;
    RWClassID classId() const override;

    // Takes the front element off and returns it; nullptr when empty.
    RWCollectable* get() { return removeFirst(); }
};
