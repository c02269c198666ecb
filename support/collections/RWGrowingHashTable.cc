#include "support/collections/RWGrowingHashTable.h"

#include <algorithm>
#include <utility>

RWGrowingHashTable::RWGrowingHashTable(std::uint32_t buckets)
    : current_(std::make_unique<RWHashTable>(buckets)) {}

RWCollectable* RWGrowingHashTable::find(const RWCollectable* probe) const {
    if (RWCollectable* found = current_->find(probe)) {
        return found;
    }
    return older_ != nullptr ? older_->find(probe) : nullptr;
}

RWCollectable* RWGrowingHashTable::insert(RWCollectable* element) {
    return current_->insert(element);
}

RWCollectable* RWGrowingHashTable::removeReference(const RWCollectable* element) {
    if (RWCollectable* removed = current_->removeReference(element)) {
        return removed;
    }
    return older_ != nullptr ? older_->removeReference(element) : nullptr;
}

RWCollectable* RWGrowingHashTable::removeReference(const RWCollectable* element,
                                                   RWSlist& unlinked) {
    if (RWCollectable* removed = current_->removeReference(element, unlinked)) {
        return removed;
    }
    return older_ != nullptr ? older_->removeReference(element, unlinked) : nullptr;
}

std::uint32_t RWGrowingHashTable::entries() const {
    return current_->entries() + (older_ != nullptr ? older_->entries() : 0);
}

void RWGrowingHashTable::apply(RWapplyCollectable function, void* data) const {
    if (older_ != nullptr) {
        older_->apply(function, data);
    }
    current_->apply(function, data);
}

namespace {

// Elements come bucket by bucket from apply: a chain is a run of one index.
struct ChainRun {
    std::uint32_t buckets;
    std::uint32_t index = 0;
    std::uint32_t length = 0;
    std::uint32_t longest = 0;
};

void countChainRun(RWCollectable* element, void* data) {
    auto* run = static_cast<ChainRun*>(data);
    std::uint32_t index = element->hash() % run->buckets;
    run->length = run->length != 0 && index == run->index ? run->length + 1 : 1;
    run->index = index;
    run->longest = std::max(run->longest, run->length);
}

std::uint32_t longestChainOf(const RWHashTable& table) {
    ChainRun run{table.buckets()};
    table.apply(countChainRun, &run);
    return run.longest;
}

}  // namespace

std::uint32_t RWGrowingHashTable::longestChain() const {
    std::uint32_t longest = longestChainOf(*current_);
    return older_ != nullptr ? std::max(longest, longestChainOf(*older_)) : longest;
}

void RWGrowingHashTable::beginResize(std::unique_ptr<RWHashTable> fresh) {
    older_ = std::exchange(current_, std::move(fresh));
    nextOlderBucket_ = 0;
}

std::unique_ptr<RWHashTable> RWGrowingHashTable::step(std::uint32_t buckets) {
    if (older_ == nullptr) {
        return nullptr;
    }
    const std::uint32_t end = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(older_->buckets(), std::uint64_t{nextOlderBucket_} + buckets));
    for (; nextOlderBucket_ < end; ++nextOlderBucket_) {
        older_->moveBucketTo(nextOlderBucket_, *current_);
    }
    if (nextOlderBucket_ < older_->buckets()) {
        return nullptr;
    }
    nextOlderBucket_ = 0;
    return std::move(older_);
}

void RWGrowingHashTable::swap(RWGrowingHashTable& other) noexcept {
    std::swap(current_, other.current_);
    std::swap(older_, other.older_);
    std::swap(nextOlderBucket_, other.nextOlderBucket_);
}
