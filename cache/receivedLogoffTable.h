// The logoffs received from the farm, by farm identity. Like the cookies' set
// it grows a little at a time: the larger table is made beforehand with no
// hold (makeTable), and while it takes over, each insert and each step move a
// bounded number of the older table's entries into it; a lookup asks both.
// It locks nothing: the cache's lock guards it.
#pragma once

#include <cstddef>
#include <memory>
#include <unordered_map>
#include <vector>

#include "cache/farmLogoff.h"

class ReceivedLogoffTable {
  public:
    struct IdentityHash {
        std::size_t operator()(const FarmIdentity& identity) const noexcept;
    };
    using Map = std::unordered_map<FarmIdentity, CookieTimes, IdentityHash>;
    // Entries taken out, freed when their owner lets them go.
    using Taken = std::vector<Map::node_type>;

    ReceivedLogoffTable();
    ReceivedLogoffTable(const ReceivedLogoffTable&) = delete;
    ReceivedLogoffTable& operator=(const ReceivedLogoffTable&) = delete;

    // An empty table of room for `entries` without growing. Allocates.
    static std::unique_ptr<Map> makeTable(std::size_t entries);

    bool contains(const FarmIdentity& identity) const;
    // A new identity takes `times`; a held one merges them in
    // (mergeReceivedTimes). Then up to `moves` entries of an older table
    // move over, as step() does, and an emptied older table comes back for
    // the caller to release after the hold. Allocates the new entry's node
    // only.
    [[nodiscard]] std::unique_ptr<Map> insert(const FarmLogoff& logoff, std::size_t moves);
    std::size_t size() const;
    // When the table has outgrown its buckets and is not growing already:
    // the entries the next table is for; 0 otherwise.
    std::size_t growthWanted() const;
    bool growing() const { return older_ != nullptr; }
    // Requires !growing(); `fresh` comes from makeTable.
    void beginGrowth(std::unique_ptr<Map> fresh);
    // Moves up to `moves` entries of the older table over; once it is empty,
    // hands it back for the caller to release after the hold.
    std::unique_ptr<Map> step(std::size_t moves);

    // The newer table's buckets, for a walk a slice at a time.
    std::size_t bucketCount() const { return current_->bucket_count(); }
    std::size_t bucketSize(std::size_t bucket) const { return current_->bucket_size(bucket); }
    // Calls visit(identity, times) for each entry of one bucket of the newer table.
    template <typename Visit>
    void visitBucket(std::size_t bucket, Visit&& visit) const {
        for (auto at = current_->begin(bucket); at != current_->end(bucket); ++at) {
            visit(at->first, at->second);
        }
    }
    // Takes the entry of `identity` out into `taken`, whose spare capacity
    // must hold it: nothing is freed or allocated here.
    void takeOut(const FarmIdentity& identity, Taken& taken);
    // Every entry, the older table's first.
    template <typename Visit>
    void forEach(Visit&& visit) const {
        for (const Map* map : {older_.get(), current_.get()}) {
            if (map != nullptr) {
                for (const auto& [identity, times] : *map) {
                    visit(identity, times);
                }
            }
        }
    }
    // Forgets every entry at expiry time `serviceNow`, in one go: for tests.
    std::size_t eraseExpired(std::int32_t serviceNow);

    void swap(ReceivedLogoffTable& other) noexcept;

  private:
    std::unique_ptr<Map> current_;
    std::unique_ptr<Map> older_;  // nullptr unless growing
};
