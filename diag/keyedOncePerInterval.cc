#include "diag/keyedOncePerInterval.h"

KeyedOncePerInterval::KeyedOncePerInterval(std::int64_t intervalSeconds, std::size_t keys)
    : interval_(intervalSeconds), room_(keys), beyondRoom_(intervalSeconds) {
    held_.reserve(room_);
}

bool KeyedOncePerInterval::due(std::string_view key, std::int64_t now) {
    std::uint64_t skipped = 0;
    std::lock_guard guard(lock_);
    std::unique_ptr<Held>* spare = nullptr;
    for (std::unique_ptr<Held>& held : held_) {
        if (held->key == key) {
            return held->limit.due(now, skipped);
        }
        if (spare == nullptr && !held->limit.saidWithin(now)) {
            spare = &held;
        }
    }
    if (held_.size() < room_) {
        held_.push_back(std::make_unique<Held>(key, interval_));
        return held_.back()->limit.due(now, skipped);
    }
    if (spare != nullptr) {
        *spare = std::make_unique<Held>(key, interval_);
        return (*spare)->limit.due(now, skipped);
    }
    return beyondRoom_.due(now, skipped);
}

std::size_t KeyedOncePerInterval::keysHeld() {
    std::lock_guard guard(lock_);
    return held_.size();
}
