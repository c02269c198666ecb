// A hashed collection of collectables: an array of buckets, each a list of
// the elements whose hash, modulo the bucket count, selects it. Several
// equal elements may be held. The table never grows by itself; resize
// rehashes it into a new bucket count.
#pragma once

#include <cstdint>
#include <memory>

#include "support/collections/RWCollection.h"
#include "support/collections/RWSlistCollectables.h"
#include "support/collections/collectableDefinitions.h"

// The library-wide default bucket count.
inline constexpr std::uint32_t DEFAULT_CAPACITY = 64;

// Every operation that takes an element or probe requires it to be non-null:
// it is asked for its hash.
class RWHashTable : public RWCollection {
  public:
    // A bucket count of 0 gives 2.
    explicit RWHashTable(std::uint32_t buckets = DEFAULT_CAPACITY);
    // Holds the same element pointers, in the same bucket count and order.
    RWHashTable(const RWHashTable& other);
    RWHashTable& operator=(const RWHashTable&) = delete;
    ~RWHashTable() override;

    LC_COLLECTABLE_OVERRIDES;

    // Releases every bucket list (the elements stay alive).
    void clear() override;
    std::uint32_t entries() const override { return entries_; }
    RWCollectable* find(const RWCollectable* probe) const override;
    // Appends to the element's bucket without looking for an equal one;
    // returns the element.
    RWCollectable* insert(RWCollectable* element) override;
    bool isEmpty() const override { return entries_ == 0; }
    RWCollectable* remove(const RWCollectable* probe) override;
    // Visits the elements bucket by bucket, each bucket in insertion order.
    void apply(RWapplyCollectable function, void* data) const override;

    // Rehashes every element into `buckets` buckets; 0 means entries × 3 / 2
    // when there are more than 11 entries, else 16. Equal elements keep
    // their relative order. If memory runs out, the table is unchanged.
    virtual void resize(std::uint32_t buckets = 0);

    std::uint32_t buckets() const { return bucketCount_; }

    // Exchanges the buckets and elements of two tables; allocates nothing.
    void swap(RWHashTable& other) noexcept;

    // Removes this very pointer, not merely an element equal to it; returns
    // it, or nullptr when it is not held.
    RWCollectable* removeReference(const RWCollectable* element);
    // The same, but the element's link goes to `unlinked`, to be freed by
    // its owner later.
    RWCollectable* removeReference(const RWCollectable* element, RWSlist& unlinked);

    // Moves every element of bucket `index` to its bucket in `target`, link
    // by link: nothing is allocated, so nothing can fail. Equal elements keep
    // their relative order.
    void moveBucketTo(std::uint32_t index, RWHashTable& target);

  protected:
    std::uint32_t bucketIndex(const RWCollectable* element) const {
        return element->hash() % bucketCount_;
    }
    const RWSlistCollectables& bucket(std::uint32_t index) const { return buckets_[index]; }
    // Appends to the bucket the caller already selected for `element`.
    RWCollectable* insertAt(std::uint32_t index, RWCollectable* element);

  private:
    // The bucket lists stand in the array itself, one per bucket: a lookup
    // reaches the first link of its chain with one memory access fewer than
    // through a pointer, and an insert allocates nothing but its link.
    std::uint32_t bucketCount_;
    std::unique_ptr<RWSlistCollectables[]> buckets_;
    std::uint32_t entries_;
};
