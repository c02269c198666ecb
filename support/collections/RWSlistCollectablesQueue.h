// A first-in first-out queue of collectables: append at the back, first and
// get at the front, all in constant time.
#pragma once

#include "support/collections/RWSlistCollectables.h"
#include "support/collections/collectableDefinitions.h"

class RWSlistCollectablesQueue : public RWSlistCollectables {
  public:
    RWSlistCollectablesQueue() = default;
    // Appends the elements of `other` in order, up to its first null element:
    // a null element ends the copy.
    RWSlistCollectablesQueue(const RWSlistCollectablesQueue& other);
    RWSlistCollectablesQueue& operator=(const RWSlistCollectablesQueue&) = delete;

    LC_COLLECTABLE_OVERRIDES;

    // Takes the front element off and returns it; nullptr when empty.
    RWCollectable* get() { return removeFirst(); }

    // Moving links instead of copying them allocates nothing, so neither can
    // fail halfway. appendAllFrom moves every element of `source` to the end
    // of this queue, in order and in constant time, leaving `source` empty.
    // moveFirstTo moves the front element to the end of `destination` and
    // returns it; nullptr when this queue is empty.
    void appendAllFrom(RWSlistCollectablesQueue& source) { appendAllLinks(source); }
    RWCollectable* moveFirstTo(RWSlistCollectablesQueue& destination);
};
