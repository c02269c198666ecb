#include "share/readBatching.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <string_view>
#include <thread>

#include "support/threads/RWThreadFunction.h"

bool readShareBatchWait(std::chrono::milliseconds& out, std::string& error) {
    const char* text = std::getenv("VOKLOGOFFSHAREBATCHMS");
    if (text == nullptr) {
        out = kShareBatchWaitDefault;
        return true;
    }
    std::string_view value(text);
    long long ms = -1;
    auto [end, failure] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (value.empty() || failure != std::errc() || end != value.data() + value.size() || ms < 0 ||
        ms > kShareBatchWaitMost.count()) {
        error = "VOKLOGOFFSHAREBATCHMS: must be a whole number of milliseconds from 0 to " +
                std::to_string(kShareBatchWaitMost.count());
        return false;
    }
    out = std::chrono::milliseconds(ms);
    return true;
}

std::chrono::milliseconds batchWaitAfter(std::size_t entries, std::size_t batch,
                                         std::chrono::milliseconds wait) {
    return entries > 0 && entries < batch ? wait : std::chrono::milliseconds(0);
}

void waitForBatch(std::chrono::milliseconds wait, const RWThreadFunction& thread) {
    // In steps, asking between them whether to end: the thread has no other
    // way to hear it while it sleeps. Each step is a wake-up, so they are
    // not shorter than the default wait, which thus sleeps once.
    constexpr auto kStep = kShareBatchWaitDefault;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + wait;
    for (Clock::time_point now = Clock::now(); now < end; now = Clock::now()) {
        thread.serviceCancellation();
        std::this_thread::sleep_for(std::min<Clock::duration>(kStep, end - now));
    }
}
