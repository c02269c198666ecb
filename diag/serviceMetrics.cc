#include "diag/serviceMetrics.h"

#include <sched.h>

MetricShard metricShards[kMetricShards];
std::atomic<std::int64_t> storedMetrics[kStoredMetrics];
std::atomic<bool> metricsOn{false};

unsigned metrics_currentShard() {
    // The processor, not the thread: threads on one processor never count at
    // the same instant, and a thread moved meanwhile only shares a line.
    int cpu = sched_getcpu();
    return cpu < 0 ? 0u : static_cast<unsigned>(cpu) & (kMetricShards - 1);
}

void metrics_enable() {
    metricsOn.store(true, std::memory_order_relaxed);
}

bool metrics_enabled() {
    return metricsOn.load(std::memory_order_relaxed);
}

std::uint64_t metrics_value(CountedMetric metric) {
    std::uint64_t sum = 0;
    for (const MetricShard& shard : metricShards) {
        sum += shard.counts[static_cast<unsigned>(metric)].load(std::memory_order_relaxed);
    }
    return sum;
}

std::int64_t metrics_value(StoredMetric metric) {
    return storedMetrics[static_cast<unsigned>(metric)].load(std::memory_order_relaxed);
}
