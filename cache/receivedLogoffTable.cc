#include "cache/receivedLogoffTable.h"

#include <cstring>
#include <utility>

#include "cache/receivedLogoffs.h"

namespace {

// A table grows once it holds one entry per bucket; the map would rehash by
// itself, in one go, only at four, which the moves of a growth never let it
// reach: each insert during a growth moves entries of the older table over.
constexpr float kMapLoadBound = 4.0F;

}  // namespace

std::size_t ReceivedLogoffTable::IdentityHash::operator()(
    const FarmIdentity& identity) const noexcept {
    // The identity is an HMAC, so any eight of its bytes are as good a hash
    // as any hash of all twenty.
    std::uint64_t value;
    std::memcpy(&value, identity.data(), sizeof value);
    return static_cast<std::size_t>(value);
}

ReceivedLogoffTable::ReceivedLogoffTable() : current_(makeTable(0)) {}

std::unique_ptr<ReceivedLogoffTable::Map> ReceivedLogoffTable::makeTable(std::size_t entries) {
    auto map = std::make_unique<Map>();
    map->max_load_factor(kMapLoadBound);
    if (entries != 0) {
        map->rehash(entries);
    }
    return map;
}

bool ReceivedLogoffTable::contains(const FarmIdentity& identity) const {
    return current_->find(identity) != current_->end() ||
           (older_ != nullptr && older_->find(identity) != older_->end());
}

std::unique_ptr<ReceivedLogoffTable::Map> ReceivedLogoffTable::insert(const FarmLogoff& logoff,
                                                                      std::size_t moves) {
    Map* holder = current_.get();
    auto at = current_->find(logoff.identity);
    if (at == current_->end() && older_ != nullptr) {
        at = older_->find(logoff.identity);
        holder = at != older_->end() ? older_.get() : current_.get();
    }
    if (at != holder->end()) {
        at->second = mergeReceivedTimes(at->second, logoff.times);
    } else {
        current_->try_emplace(logoff.identity, logoff.times);
    }
    return step(moves);
}

std::size_t ReceivedLogoffTable::size() const {
    return current_->size() + (older_ != nullptr ? older_->size() : 0);
}

std::size_t ReceivedLogoffTable::growthWanted() const {
    return !growing() && current_->size() > current_->bucket_count() ? 2 * current_->size() : 0;
}

void ReceivedLogoffTable::beginGrowth(std::unique_ptr<Map> fresh) {
    older_ = std::exchange(current_, std::move(fresh));
}

std::unique_ptr<ReceivedLogoffTable::Map> ReceivedLogoffTable::step(std::size_t moves) {
    if (older_ == nullptr) {
        return nullptr;
    }
    for (std::size_t moved = 0; moved < moves && !older_->empty(); ++moved) {
        // Relinks the node: nothing is allocated or freed.
        current_->insert(older_->extract(older_->begin()));
    }
    if (!older_->empty()) {
        return nullptr;
    }
    return std::move(older_);
}

void ReceivedLogoffTable::takeOut(const FarmIdentity& identity, Taken& taken) {
    Map::node_type node = current_->extract(identity);
    if (node.empty() && older_ != nullptr) {
        node = older_->extract(identity);
    }
    if (!node.empty()) {
        taken.push_back(std::move(node));
    }
}

std::size_t ReceivedLogoffTable::eraseExpired(std::int32_t serviceNow) {
    std::size_t removed = 0;
    for (Map* map : {older_.get(), current_.get()}) {
        if (map != nullptr) {
            removed += std::erase_if(*map, [serviceNow](const auto& entry) {
                return cookieTimesHaveExpired(entry.second, serviceNow);
            });
        }
    }
    return removed;
}

void ReceivedLogoffTable::swap(ReceivedLogoffTable& other) noexcept {
    std::swap(current_, other.current_);
    std::swap(older_, other.older_);
}
