#include "support/collections/RWHashTable.h"

#include <cstddef>
#include <utility>
#include <vector>

#include "support/collections/RWSlistCollectables.h"

namespace {

using BucketArray = std::unique_ptr<RWSlistCollectables*[]>;

void releaseBuckets(RWSlistCollectables** buckets, std::uint32_t count) {
    for (std::uint32_t index = 0; index < count; ++index) {
        delete buckets[index];
        buckets[index] = nullptr;
    }
}

}  // namespace

RWHashTable::RWHashTable(std::uint32_t buckets)
    : bucketCount_(buckets == 0 ? 2 : buckets),
      buckets_(new RWSlistCollectables*[bucketCount_]()),
      entries_(0) {}

RWHashTable::RWHashTable(const RWHashTable& other)
    : RWCollection(other),
      bucketCount_(other.bucketCount_),
      buckets_(new RWSlistCollectables*[bucketCount_]()),
      entries_(other.entries_) {
    try {
        for (std::uint32_t index = 0; index < bucketCount_; ++index) {
            if (other.buckets_[index] != nullptr) {
                buckets_[index] = new RWSlistCollectables(*other.buckets_[index]);
            }
        }
    } catch (...) {
        releaseBuckets(buckets_.get(), bucketCount_);
        throw;
    }
}

RWHashTable::~RWHashTable() {
    releaseBuckets(buckets_.get(), bucketCount_);
}

RWCollectable* RWHashTable::newInstance() const {
    return new RWHashTable;
}

RWCollectable* RWHashTable::copy() const {
    return new RWHashTable(*this);
}

RWClassID RWHashTable::classId() const {
    return RW_HASH_TABLE_CLASS_ID;
}

void RWHashTable::clear() {
    releaseBuckets(buckets_.get(), bucketCount_);
    entries_ = 0;
}

// The bucket lists are called non-virtually: they are never anything but
// RWSlistCollectables, and this is the lookup path of every query.
RWCollectable* RWHashTable::find(const RWCollectable* probe) const {
    const RWSlistCollectables* list = buckets_[bucketIndex(probe)];
    return list == nullptr ? nullptr : list->RWSlistCollectables::find(probe);
}

RWCollectable* RWHashTable::insert(RWCollectable* element) {
    return insertAt(bucketIndex(element), element);
}

RWCollectable* RWHashTable::insertAt(std::uint32_t index, RWCollectable* element) {
    RWSlistCollectables*& list = buckets_[index];
    if (list == nullptr) {
        list = new RWSlistCollectables;
    }
    // Counted only once the link exists, so a failed allocation leaves the
    // count true.
    list->RWSlist::append(element);
    ++entries_;
    return element;
}

RWCollectable* RWHashTable::remove(const RWCollectable* probe) {
    RWSlistCollectables* list = buckets_[bucketIndex(probe)];
    if (list == nullptr) {
        return nullptr;
    }
    RWCollectable* removed = list->RWSlistCollectables::remove(probe);
    if (removed != nullptr) {
        --entries_;
    }
    return removed;
}

RWCollectable* RWHashTable::removeReference(const RWCollectable* element) {
    RWSlistCollectables* list = buckets_[bucketIndex(element)];
    if (list == nullptr) {
        return nullptr;
    }
    RWCollectable* removed = list->removeReference(element);
    if (removed != nullptr) {
        --entries_;
    }
    return removed;
}

void RWHashTable::apply(RWapplyCollectable function, void* data) const {
    for (std::uint32_t index = 0; index < bucketCount_; ++index) {
        if (buckets_[index] != nullptr) {
            buckets_[index]->RWSlistCollectables::apply(function, data);
        }
    }
}

// Two passes: the first hashes every element once, notes its new bucket
// and creates every bucket list the new array needs, the only steps that
// can fail, so a failure leaves the table as it was; the second moves the
// existing links over without allocating or hashing again. Walking the old
// buckets in order and appending keeps equal elements (which share a
// bucket in both arrays) in their relative order.
void RWHashTable::resize(std::uint32_t buckets) {
    if (buckets == 0) {
        buckets = entries_ > 11 ? static_cast<std::uint32_t>(std::uint64_t{entries_} * 3 / 2) : 16;
    }
    BucketArray fresh(new RWSlistCollectables*[buckets]());
    std::vector<std::uint32_t> targets;
    try {
        targets.reserve(entries_);
        for (std::uint32_t index = 0; index < bucketCount_; ++index) {
            const RWSlistCollectables* list = buckets_[index];
            if (list == nullptr) {
                continue;
            }
            for (RWSlistLink* link = list->firstLink(); link != list->end(); link = link->next) {
                std::uint32_t target = link->element->hash() % buckets;
                targets.push_back(target);
                if (fresh[target] == nullptr) {
                    fresh[target] = new RWSlistCollectables;
                }
            }
        }
    } catch (...) {
        releaseBuckets(fresh.get(), buckets);
        throw;
    }

    std::size_t next = 0;
    for (std::uint32_t index = 0; index < bucketCount_; ++index) {
        RWSlistCollectables* list = buckets_[index];
        if (list == nullptr) {
            continue;
        }
        while (list->count() != 0) {
            fresh[targets[next++]]->appendLink(list->unlinkFirst());
        }
    }
    releaseBuckets(buckets_.get(), bucketCount_);
    buckets_ = std::move(fresh);
    bucketCount_ = buckets;
}
