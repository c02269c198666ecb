#include "support/collections/RWHashTable.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "support/collections/RWSlistCollectables.h"
#include "support/collections/collectableDefinitions.h"

namespace {

using BucketArray = std::unique_ptr<RWSlistCollectables[]>;

}  // namespace

RWHashTable::RWHashTable(std::uint32_t buckets)
    : bucketCount_(buckets == 0 ? 2 : buckets),
      buckets_(new RWSlistCollectables[bucketCount_]),
      entries_(0) {}

// Should an allocation fail, the array member releases every link copied so far.
RWHashTable::RWHashTable(const RWHashTable& other)
    : RWCollection(other),
      bucketCount_(other.bucketCount_),
      buckets_(new RWSlistCollectables[bucketCount_]),
      entries_(other.entries_) {
    for (std::uint32_t index = 0; index < bucketCount_; ++index) {
        const RWSlistCollectables& list = other.buckets_[index];
        for (RWSlistLink* link = list.firstLink(); link != list.end(); link = link->next) {
            buckets_[index].RWSlist::append(link->element);
        }
    }
}

RWHashTable::~RWHashTable() = default;

LC_DEFINE_COLLECTABLE(RWHashTable, RW_HASH_TABLE_CLASS_ID)

void RWHashTable::clear() {
    for (std::uint32_t index = 0; index < bucketCount_; ++index) {
        buckets_[index].RWSlist::clear();
    }
    entries_ = 0;
}

void RWHashTable::swap(RWHashTable& other) noexcept {
    std::swap(bucketCount_, other.bucketCount_);
    std::swap(buckets_, other.buckets_);
    std::swap(entries_, other.entries_);
}

// The bucket lists are called non-virtually: they are never anything but
// RWSlistCollectables, and this is the lookup path of every query.
RWCollectable* RWHashTable::find(const RWCollectable* probe) const {
    return buckets_[bucketIndex(probe)].RWSlistCollectables::find(probe);
}

RWCollectable* RWHashTable::insert(RWCollectable* element) {
    return insertAt(bucketIndex(element), element);
}

RWCollectable* RWHashTable::insertAt(std::uint32_t index, RWCollectable* element) {
    // Counted only once the link exists, so a failed allocation leaves the
    // count true.
    buckets_[index].RWSlist::append(element);
    ++entries_;
    return element;
}

RWCollectable* RWHashTable::remove(const RWCollectable* probe) {
    RWCollectable* removed = buckets_[bucketIndex(probe)].RWSlistCollectables::remove(probe);
    if (removed != nullptr) {
        --entries_;
    }
    return removed;
}

RWCollectable* RWHashTable::removeReference(const RWCollectable* element) {
    RWCollectable* removed = buckets_[bucketIndex(element)].removeReference(element);
    if (removed != nullptr) {
        --entries_;
    }
    return removed;
}

RWCollectable* RWHashTable::removeReference(const RWCollectable* element, RWSlist& unlinked) {
    RWCollectable* removed = buckets_[bucketIndex(element)].removeReference(element, unlinked);
    if (removed != nullptr) {
        --entries_;
    }
    return removed;
}

void RWHashTable::moveBucketTo(std::uint32_t index, RWHashTable& target) {
    RWSlistCollectables& list = buckets_[index];
    while (list.count() != 0) {
        RWSlistLink* link = list.unlinkFirst();
        --entries_;
        target.buckets_[target.bucketIndex(link->element)].appendLink(link);
        ++target.entries_;
    }
}

void RWHashTable::apply(RWapplyCollectable function, void* data) const {
    for (std::uint32_t index = 0; index < bucketCount_; ++index) {
        buckets_[index].RWSlistCollectables::apply(function, data);
    }
}

// Two passes: the first allocates the new array, hashes every element once
// and notes its new bucket, the only steps that can fail, so a failure
// leaves the table as it was; the second moves the existing links over
// without allocating or hashing again. Walking the old buckets in order and
// appending keeps equal elements (which share a bucket in both arrays) in
// their relative order.
void RWHashTable::resize(std::uint32_t buckets) {
    if (buckets == 0) {
        buckets = entries_ > 11 ? static_cast<std::uint32_t>(std::uint64_t{entries_} * 3 / 2) : 16;
    }
    BucketArray fresh(new RWSlistCollectables[buckets]);
    std::vector<std::uint32_t> targets;
    targets.reserve(entries_);
    for (std::uint32_t index = 0; index < bucketCount_; ++index) {
        const RWSlistCollectables& list = buckets_[index];
        for (RWSlistLink* link = list.firstLink(); link != list.end(); link = link->next) {
            targets.push_back(link->element->hash() % buckets);
        }
    }

    std::size_t next = 0;
    for (std::uint32_t index = 0; index < bucketCount_; ++index) {
        RWSlistCollectables& list = buckets_[index];
        while (list.count() != 0) {
            fresh[targets[next++]].appendLink(list.unlinkFirst());
        }
    }
    buckets_ = std::move(fresh);
    bucketCount_ = buckets;
}
