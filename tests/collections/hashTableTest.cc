#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <stdexcept>
#include <utility>

#include "support/collections/RWHashTable.h"
#include "support/collections/RWSet.h"
#include "tests/collections/keyedElement.h"

namespace {

// Owns the elements the tests put into tables, which never own them.
class HashTableTest : public ::testing::Test {
  protected:
    KeyedElement* element(std::uint32_t key) { return &elements_.emplace_back(key); }
    // Two equal elements of `key` inserted into `table`, the older first.
    std::pair<KeyedElement*, KeyedElement*> insertedEqualPair(RWHashTable& table,
                                                              std::uint32_t key) {
        KeyedElement* older = element(key);
        KeyedElement* newer = element(key);
        table.insert(older);
        table.insert(newer);
        return {older, newer};
    }

    std::deque<KeyedElement> elements_;
};

TEST_F(HashTableTest, EmptyTableFindsAndRemovesNothing) {
    RWHashTable table;
    KeyedElement probe(7);
    EXPECT_EQ(table.buckets(), DEFAULT_CAPACITY);
    EXPECT_EQ(table.entries(), 0u);
    EXPECT_TRUE(table.isEmpty());
    EXPECT_EQ(table.find(&probe), nullptr);
    EXPECT_EQ(table.remove(&probe), nullptr);
    EXPECT_EQ(table.entries(), 0u);
}

TEST_F(HashTableTest, ZeroBucketsAskedForGivesTwo) {
    RWHashTable table(0);
    EXPECT_EQ(table.buckets(), 2u);
    table.insert(element(1));
    table.insert(element(2));
    EXPECT_EQ(table.find(element(1))->hash(), 1u);
    EXPECT_EQ(table.find(element(2))->hash(), 2u);
}

TEST_F(HashTableTest, SameElementTwiceIsHeldTwice) {
    RWHashTable table;
    KeyedElement* stored = element(5);
    EXPECT_EQ(table.insert(stored), stored);
    EXPECT_EQ(table.insert(stored), stored);
    EXPECT_EQ(table.entries(), 2u);

    EXPECT_EQ(table.remove(stored), stored);
    EXPECT_EQ(table.entries(), 1u);
    EXPECT_EQ(table.find(stored), stored);
    EXPECT_EQ(table.remove(stored), stored);
    EXPECT_EQ(table.find(stored), nullptr);
    EXPECT_TRUE(table.isEmpty());
}

TEST_F(HashTableTest, EqualProbeFindsAndRemovesTheStoredElement) {
    RWHashTable table;
    KeyedElement* stored = element(9);
    table.insert(stored);
    KeyedElement probe(9);
    EXPECT_EQ(table.find(&probe), stored);
    EXPECT_EQ(table.remove(&probe), stored);
    EXPECT_EQ(table.entries(), 0u);
}

TEST_F(HashTableTest, SharedBucketIsSearchedByEquality) {
    RWHashTable table(64);
    KeyedElement* low = element(3);
    KeyedElement* high = element(3 + 64 * 1000);
    KeyedElement* wrapped = element(3 + 64 * (0xFFFFFFFFu / 64));
    table.insert(low);
    table.insert(high);
    table.insert(wrapped);

    KeyedElement probe(3 + 64 * 1000);
    EXPECT_EQ(table.find(&probe), high);
    EXPECT_EQ(table.find(element(3 + 64 * 2)), nullptr);
    EXPECT_EQ(table.remove(&probe), high);
    EXPECT_EQ(table.find(low), low);
    EXPECT_EQ(table.find(wrapped), wrapped);
    EXPECT_EQ(table.entries(), 2u);
}

TEST_F(HashTableTest, RemoveTakesTheFirstEqualElement) {
    RWHashTable table;
    auto [older, newer] = insertedEqualPair(table, 11);
    EXPECT_EQ(table.remove(newer), older);
    EXPECT_EQ(table.find(older), newer);
}

TEST_F(HashTableTest, RemoveReferenceTakesThatVeryElement) {
    RWHashTable table;
    auto [older, newer] = insertedEqualPair(table, 12);
    EXPECT_EQ(table.removeReference(newer), newer);
    EXPECT_EQ(table.removeReference(newer), nullptr);
    EXPECT_EQ(table.entries(), 1u);
    EXPECT_EQ(table.find(newer), older);
}

TEST_F(HashTableTest, ResizeKeepsEveryElementFindable) {
    RWHashTable table;
    for (std::uint32_t key = 0; key < 1000; ++key) {
        table.insert(element(key * 7919));
    }
    for (std::uint32_t buckets : {1013u, 3u, 64u}) {
        table.resize(buckets);
        EXPECT_EQ(table.buckets(), buckets);
        EXPECT_EQ(table.entries(), 1000u);
        for (std::uint32_t key = 0; key < 1000; ++key) {
            KeyedElement probe(key * 7919);
            ASSERT_NE(table.find(&probe), nullptr) << key << " in " << buckets;
        }
    }
}

TEST_F(HashTableTest, ResizeToZeroChoosesFromTheEntries) {
    RWHashTable table;
    for (std::uint32_t key = 0; key < 11; ++key) {
        table.insert(element(key));
    }
    table.resize(0);
    EXPECT_EQ(table.buckets(), 16u);
    table.insert(element(11));
    table.insert(element(12));
    table.resize();
    EXPECT_EQ(table.buckets(), 13u * 3 / 2);
    EXPECT_EQ(table.find(element(12))->hash(), 12u);
}

TEST_F(HashTableTest, ResizeKeepsTheOrderOfEqualElements) {
    RWHashTable table(4);
    KeyedElement* older = element(21);
    KeyedElement* newer = element(21);
    table.insert(element(1));
    table.insert(older);
    table.insert(element(5));
    table.insert(newer);
    table.resize(7);
    EXPECT_EQ(table.remove(newer), older);
    EXPECT_EQ(table.remove(older), newer);
}

// Stands for any failure during a resize, such as running out of memory.
class FailingHashElement : public KeyedElement {
  public:
    using KeyedElement::KeyedElement;
    std::uint32_t hash() const override {
        if (failing) {
            throw std::runtime_error("hash failed");
        }
        return KeyedElement::hash();
    }
    bool failing = false;
};

TEST_F(HashTableTest, FailedResizeLeavesTheTableAsItWas) {
    RWHashTable table(8);
    for (std::uint32_t key = 0; key < 40; ++key) {
        table.insert(element(key));
    }
    FailingHashElement failing(100);
    table.insert(&failing);
    failing.failing = true;
    EXPECT_THROW(table.resize(97), std::runtime_error);
    failing.failing = false;

    EXPECT_EQ(table.buckets(), 8u);
    EXPECT_EQ(table.entries(), 41u);
    for (std::uint32_t key = 0; key < 40; ++key) {
        KeyedElement probe(key);
        ASSERT_NE(table.find(&probe), nullptr) << key;
    }
    EXPECT_EQ(table.find(&failing), &failing);
}

TEST_F(HashTableTest, ClearReleasesBucketsButNotElements) {
    RWHashTable table;
    KeyedElement* stored = element(30);
    table.insert(stored);
    table.insert(element(94));
    table.clear();
    EXPECT_EQ(table.entries(), 0u);
    EXPECT_EQ(table.find(stored), nullptr);
    EXPECT_EQ(stored->key(), 30u);
    table.insert(stored);
    EXPECT_EQ(table.find(stored), stored);
}

TEST_F(HashTableTest, ApplyVisitsEveryElement) {
    RWHashTable table(8);
    for (std::uint32_t key = 0; key < 20; ++key) {
        table.insert(element(key));
    }
    std::uint32_t sum = 0;
    table.apply(
        [](RWCollectable* visited, void* total) {
            *static_cast<std::uint32_t*>(total) += static_cast<KeyedElement*>(visited)->key();
        },
        &sum);
    EXPECT_EQ(sum, 190u);
}

TEST_F(HashTableTest, CopyHoldsTheSameElementsIndependently) {
    RWHashTable table(16);
    KeyedElement* first = element(40);
    table.insert(first);
    table.insert(element(56));
    std::unique_ptr<RWCollectable> copied(table.copy());
    auto& copy = static_cast<RWHashTable&>(*copied);
    EXPECT_EQ(copy.buckets(), 16u);
    EXPECT_EQ(copy.entries(), 2u);
    EXPECT_EQ(copy.find(first), first);
    table.remove(first);
    EXPECT_EQ(copy.find(first), first);
}

TEST_F(HashTableTest, SetRefusesAnEqualElement) {
    RWSet set;
    KeyedElement* stored = element(60);
    KeyedElement* equal = element(60);
    EXPECT_EQ(set.insert(stored), stored);
    EXPECT_EQ(set.insert(equal), stored);
    EXPECT_EQ(set.entries(), 1u);
    KeyedElement* sameBucket = element(60 + 64);
    EXPECT_EQ(set.insert(sameBucket), sameBucket);
    EXPECT_EQ(set.entries(), 2u);
}

}  // namespace
