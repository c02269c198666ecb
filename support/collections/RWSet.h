// A hashed collection that refuses an element equal to one it holds.
#pragma once

#include "support/collections/RWHashTable.h"
#include "support/collections/collectableDefinitions.h"

class RWSet : public RWHashTable {
  public:
    explicit RWSet(std::uint32_t buckets = DEFAULT_CAPACITY) : RWHashTable(buckets) {}
    RWSet(const RWSet& other) = default;
    RWSet& operator=(const RWSet&) = delete;

    LC_COLLECTABLE_OVERRIDES;

    // Returns the stored element equal to `element` and changes nothing, or
    // inserts `element` and returns it.
    RWCollectable* insert(RWCollectable* element) override;
};
