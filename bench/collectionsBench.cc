// Costs of the cache's collection operations with cookie-like elements:
// bucket hash over a text, equality over a 20-byte digest.
#include <benchmark/benchmark.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/collections/RWHashTable.h"
#include "support/collections/RWSlistCollectablesQueue.h"
#include "support/collections/RWStringHash.h"

namespace {

class CookieLike : public RWCollectable {
  public:
    explicit CookieLike(std::uint32_t serial)
        : text_("session-" + std::to_string(serial) + "-0123456789abcdef0123456789") {
        std::memset(digest_, 0, sizeof digest_);
        std::memcpy(digest_, &serial, sizeof serial);
    }
    std::uint32_t hash() const override { return rwStringHash(text_); }
    bool isEqual(const RWCollectable* other) const override {
        return std::memcmp(static_cast<const CookieLike*>(other)->digest_, digest_,
                           sizeof digest_) == 0;
    }

  private:
    unsigned char digest_[20];
    std::string text_;
};

// `count` cookies, the first `held` of them in a table of the default capacity.
struct HeldCookies {
    HeldCookies(std::uint32_t count, std::uint32_t held) {
        for (std::uint32_t serial = 0; serial < count; ++serial) {
            cookies.push_back(std::make_unique<CookieLike>(serial));
        }
        for (std::uint32_t serial = 0; serial < held; ++serial) {
            table.insert(cookies[serial].get());
        }
    }

    std::vector<std::unique_ptr<CookieLike>> cookies;
    RWHashTable table{DEFAULT_CAPACITY};
};

// Arguments: cookies held, and 1 to grow the table to entries × 3 / 2.
void BM_FindHit(benchmark::State& state) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    HeldCookies held(count, count);
    if (state.range(1) != 0) {
        held.table.resize();
    }
    std::uint32_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(held.table.find(held.cookies[next].get()));
        next = next + 1 == count ? 0 : next + 1;
    }
}
BENCHMARK(BM_FindHit)->ArgsProduct({{64, 1000, 10000}, {0, 1}});

void BM_InsertRemove(benchmark::State& state) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    HeldCookies held(count + 1, count);
    held.table.resize();
    CookieLike* extra = held.cookies[count].get();
    for (auto _ : state) {
        held.table.insert(extra);
        benchmark::DoNotOptimize(held.table.remove(extra));
    }
}
BENCHMARK(BM_InsertRemove)->Arg(1000)->Arg(10000);

void BM_Resize(benchmark::State& state) {
    auto count = static_cast<std::uint32_t>(state.range(0));
    HeldCookies held(count, count);
    std::uint32_t buckets[2] = {count * 3 / 2, count * 2};
    std::uint32_t flip = 0;
    for (auto _ : state) {
        held.table.resize(buckets[flip]);
        flip ^= 1;
    }
    state.SetItemsProcessed(state.iterations() * count);
}
BENCHMARK(BM_Resize)->Arg(1000)->Arg(100000);

void BM_QueueAppendGet(benchmark::State& state) {
    RWSlistCollectablesQueue queue;
    CookieLike cookie(1);
    for (int held = 0; held < 1000; ++held) {
        queue.append(&cookie);
    }
    for (auto _ : state) {
        queue.append(&cookie);
        benchmark::DoNotOptimize(queue.get());
    }
}
BENCHMARK(BM_QueueAppendGet);

void BM_StringHash64(benchmark::State& state) {
    std::string text(64, 'q');
    for (auto _ : state) {
        benchmark::DoNotOptimize(rwStringHash(text));
    }
}
BENCHMARK(BM_StringHash64);

}  // namespace

BENCHMARK_MAIN();
