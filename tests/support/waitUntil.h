// Waiting on a condition that another thread brings about, without a lock
// to wait on: polled, with a generous limit so a stuck test fails instead of
// hanging.
#pragma once

#include <chrono>
#include <thread>

namespace lctest {

// `every` spaces the polls of a condition that costs a round trip.
template <class Condition>
bool waitUntil(Condition condition, std::chrono::milliseconds limit = std::chrono::seconds(20),
               std::chrono::milliseconds every = std::chrono::milliseconds(1)) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(every);
    }
    return true;
}

}  // namespace lctest
