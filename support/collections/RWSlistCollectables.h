// A singly linked list of collectables in order of insertion; each bucket of
// a hashed collection is one. Equality is asked of the stored element with
// the probe as argument, in list order.
#pragma once

#include <cstdint>

#include "support/collections/RWSequenceable.h"
#include "support/collections/RWSlist.h"
#include "support/collections/collectableDefinitions.h"

class RWSlistCollectables : public RWSequenceable, protected RWSlist {
  public:
    RWSlistCollectables() = default;
    // Holds the same element pointers in the same order.
    RWSlistCollectables(const RWSlistCollectables& other);
    RWSlistCollectables& operator=(const RWSlistCollectables&) = delete;

    LC_COLLECTABLE_OVERRIDES;

    void clear() override;
    std::uint32_t entries() const override { return count(); }
    RWCollectable* find(const RWCollectable* probe) const override;
    // Appends at the end.
    RWCollectable* insert(RWCollectable* element) override;
    bool isEmpty() const override { return count() == 0; }
    RWCollectable* remove(const RWCollectable* probe) override;
    void apply(RWapplyCollectable function, void* data) const override;

    RWCollectable* append(RWCollectable* element) override;
    RWCollectable* first() const override;
    RWCollectable* last() const override;

    // Takes the front element off and returns it; nullptr when empty.
    RWCollectable* removeFirst();
    // Unlinks the link holding this very pointer, whatever equality says;
    // returns it, or nullptr when it is not held.
    RWCollectable* removeReference(const RWCollectable* element);
    // The same, but the link goes to the end of `unlinked` instead of being
    // freed: its owner frees it when that costs nobody a wait.
    RWCollectable* removeReference(const RWCollectable* element, RWSlist& unlinked);

  private:
    // A hashed collection moves links between its bucket lists.
    friend class RWHashTable;
};
