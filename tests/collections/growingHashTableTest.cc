// A table that changes its bucket count a step at a time must answer every
// lookup alike before, during and after the change.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "support/collections/RWGrowingHashTable.h"
#include "tests/collections/keyedElement.h"

namespace {

class GrowingHashTable : public ::testing::Test {
  protected:
    GrowingHashTable() {
        for (std::uint32_t key = 0; key < kElements; ++key) {
            elements.push_back(std::make_unique<KeyedElement>(key));
        }
    }

    // Every element found as itself, by an equal probe.
    void expectAllFound(const char* when) {
        for (const auto& element : elements) {
            KeyedElement probe(element->key());
            ASSERT_EQ(table.find(&probe), element.get()) << when << " key " << element->key();
        }
        EXPECT_EQ(table.entries(), kElements) << when;
    }

    static constexpr std::uint32_t kElements = 200;
    std::vector<std::unique_ptr<KeyedElement>> elements;
    RWGrowingHashTable table{4};
};

TEST_F(GrowingHashTable, FindsEveryElementBeforeDuringAndAfterAResize) {
    for (const auto& element : elements) {
        table.insert(element.get());
    }
    expectAllFound("before");

    table.beginResize(std::make_unique<RWHashTable>(97));
    EXPECT_TRUE(table.resizing());
    EXPECT_EQ(table.buckets(), 97u);
    expectAllFound("at the start");

    // One old bucket per step: the last step hands back the emptied table.
    std::unique_ptr<RWHashTable> drained;
    int steps = 0;
    while (!drained) {
        drained = table.step(1);
        ++steps;
        expectAllFound("during");
    }
    EXPECT_EQ(steps, 4);
    EXPECT_FALSE(table.resizing());
    EXPECT_EQ(drained->entries(), 0u);
    EXPECT_EQ(drained->buckets(), 4u);
    EXPECT_EQ(table.step(1), nullptr) << "nothing to hand back twice";
    expectAllFound("after");
}

TEST_F(GrowingHashTable, InsertAndRemoveReachBothTablesDuringAResize) {
    for (std::uint32_t key = 0; key < kElements / 2; ++key) {
        table.insert(elements[key].get());
    }
    table.beginResize(std::make_unique<RWHashTable>(97));
    ASSERT_EQ(table.step(2), nullptr);  // half the old buckets moved

    // The rest go to the new table; removal finds each where it is.
    for (std::uint32_t key = kElements / 2; key < kElements; ++key) {
        table.insert(elements[key].get());
    }
    expectAllFound("mid-resize");
    for (std::uint32_t key = 0; key < kElements; key += 2) {
        ASSERT_EQ(table.removeReference(elements[key].get()), elements[key].get()) << key;
    }
    EXPECT_EQ(table.entries(), kElements / 2);
    // A distinct but equal element is not the one held: nothing removed.
    KeyedElement equal(1);
    EXPECT_EQ(table.removeReference(&equal), nullptr);

    ASSERT_NE(table.step(2), nullptr);
    for (std::uint32_t key = 0; key < kElements; ++key) {
        KeyedElement probe(key);
        EXPECT_EQ(table.find(&probe), key % 2 == 0 ? nullptr : elements[key].get()) << key;
    }
}

TEST_F(GrowingHashTable, SwapExchangesAResizeUnderWay) {
    for (const auto& element : elements) {
        table.insert(element.get());
    }
    table.beginResize(std::make_unique<RWHashTable>(97));
    ASSERT_EQ(table.step(1), nullptr);

    RWGrowingHashTable other;
    other.swap(table);
    EXPECT_EQ(table.entries(), 0u);
    EXPECT_FALSE(table.resizing());
    EXPECT_TRUE(other.resizing());
    EXPECT_EQ(other.entries(), kElements);
    std::uint32_t visited = 0;
    other.apply([](RWCollectable*, void* count) { ++*static_cast<std::uint32_t*>(count); },
                &visited);
    EXPECT_EQ(visited, kElements);
}

// A caller under a lock takes the links out with their elements and frees
// them after it: from either table of a resize, leaving the rest found.
TEST_F(GrowingHashTable, RemovalHandsTheLinksOverFromEitherTable) {
    for (const auto& element : elements) {
        table.insert(element.get());
    }
    table.beginResize(std::make_unique<RWHashTable>(97));
    ASSERT_EQ(table.step(2), nullptr);  // half the older buckets moved
    RWSlist unlinked;
    for (std::uint32_t key = 0; key < kElements; key += 2) {
        EXPECT_EQ(table.removeReference(elements[key].get(), unlinked), elements[key].get());
    }
    EXPECT_EQ(unlinked.count(), kElements / 2);
    EXPECT_EQ(table.entries(), kElements / 2);
    KeyedElement twin(0);
    EXPECT_EQ(table.removeReference(&twin, unlinked), nullptr) << "an equal one is not it";
    for (std::uint32_t key = 0; key < kElements; ++key) {
        KeyedElement probe(key);
        EXPECT_EQ(table.find(&probe), key % 2 == 0 ? nullptr : elements[key].get()) << key;
    }
    unlinked.clear();
}

}  // namespace
