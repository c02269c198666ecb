// A shared reference count. It holds the number of references minus one:
// a new object starts at -1 and its first holder raises it to 0. Changes
// are atomic read-modify-write operations.
#pragma once

#include <atomic>
#include <cstdint>

class RWReference {
  public:
    RWReference() = default;
    RWReference(const RWReference&) = delete;
    RWReference& operator=(const RWReference&) = delete;

    void addReference() { count_.fetch_add(1, std::memory_order_relaxed); }
    // Returns the count before the decrement: 0 means the last reference went.
    std::int32_t removeReference() { return count_.fetch_sub(1, std::memory_order_acq_rel); }
    std::int32_t references() const { return count_.load(std::memory_order_relaxed); }

  private:
    std::atomic<std::int32_t> count_{-1};
};
