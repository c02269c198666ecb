// A hashed collection whose bucket count changes a little at a time. While it
// changes there are two tables: new elements go to the newer one, and each
// step moves a bounded number of the older one's buckets over, until the
// older one is empty. A lookup asks both. The new bucket array is allocated by
// the caller beforehand, wherever that costs nobody a wait, and the emptied
// one is handed back for the caller to release likewise: nothing here touches
// a whole table at once. Like the other collections it locks nothing and owns
// no element.
#pragma once

#include <cstdint>
#include <memory>

#include "support/collections/RWHashTable.h"

class RWGrowingHashTable {
  public:
    explicit RWGrowingHashTable(std::uint32_t buckets = DEFAULT_CAPACITY);
    RWGrowingHashTable(const RWGrowingHashTable&) = delete;
    RWGrowingHashTable& operator=(const RWGrowingHashTable&) = delete;

    RWCollectable* find(const RWCollectable* probe) const;
    // Into the newer table; returns the element.
    RWCollectable* insert(RWCollectable* element);
    // Removes this very pointer from whichever table holds it.
    RWCollectable* removeReference(const RWCollectable* element);
    // The same, handing the element's link to `unlinked` instead of freeing
    // it: a caller under a lock frees the links after the lock.
    RWCollectable* removeReference(const RWCollectable* element, RWSlist& unlinked);
    std::uint32_t entries() const;
    // The newer table's bucket count: the one the set is moving to.
    std::uint32_t buckets() const { return current_->buckets(); }
    bool resizing() const { return older_ != nullptr; }
    // Visits every element, the older table's first.
    void apply(RWapplyCollectable function, void* data) const;
    // The most elements one bucket of either table holds.
    std::uint32_t longestChain() const;

    // Requires !resizing(). `fresh` (empty) becomes the newer table, and the
    // present one the older, drained by step().
    void beginResize(std::unique_ptr<RWHashTable> fresh);
    // Moves up to `buckets` buckets of the older table over. Once it is
    // empty, hands it back for the caller to release; nullptr before then and
    // when no resize is under way.
    std::unique_ptr<RWHashTable> step(std::uint32_t buckets);

    // Exchanges everything with `other`; allocates nothing.
    void swap(RWGrowingHashTable& other) noexcept;

  private:
    std::unique_ptr<RWHashTable> current_;
    std::unique_ptr<RWHashTable> older_;  // nullptr unless resizing
    std::uint32_t nextOlderBucket_ = 0;   // the older table's buckets below it are empty
};
