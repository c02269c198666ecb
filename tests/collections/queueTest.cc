#include <gtest/gtest.h>

#include "support/collections/RWSlistCollectablesQueue.h"
#include "tests/collections/keyedElement.h"

namespace {

class QueueTest : public ::testing::Test {
  protected:
    KeyedElement a_{1};
    KeyedElement b_{2};
    KeyedElement c_{3};
};

TEST_F(QueueTest, GetReturnsElementsInOrderOfAppending) {
    RWSlistCollectablesQueue queue;
    queue.append(&a_);
    queue.append(&b_);
    queue.append(&c_);
    RWSlistCollectablesQueue copy(queue);

    EXPECT_EQ(queue.first(), &a_);
    EXPECT_EQ(queue.entries(), 3u);
    EXPECT_EQ(queue.get(), &a_);
    EXPECT_EQ(queue.get(), &b_);
    EXPECT_EQ(queue.get(), &c_);
    EXPECT_EQ(queue.get(), nullptr);
    EXPECT_TRUE(queue.isEmpty());

    EXPECT_EQ(copy.entries(), 3u);
    EXPECT_EQ(copy.get(), &a_);
    EXPECT_EQ(copy.get(), &b_);
    EXPECT_EQ(copy.get(), &c_);
}

TEST_F(QueueTest, AppendAfterDrainingStartsAFreshChain) {
    RWSlistCollectablesQueue queue;
    queue.append(&a_);
    EXPECT_EQ(queue.get(), &a_);
    queue.append(&b_);
    queue.append(&c_);
    EXPECT_EQ(queue.first(), &b_);
    EXPECT_EQ(queue.last(), &c_);
    EXPECT_EQ(queue.entries(), 2u);
}

TEST_F(QueueTest, RemovingTheLastElementMovesTheEndBack) {
    RWSlistCollectablesQueue queue;
    queue.append(&a_);
    queue.append(&b_);
    KeyedElement probe(2);
    EXPECT_EQ(queue.remove(&probe), &b_);
    queue.append(&c_);
    EXPECT_EQ(queue.get(), &a_);
    EXPECT_EQ(queue.get(), &c_);
    EXPECT_EQ(queue.get(), nullptr);
}

TEST_F(QueueTest, ClearEmptiesTheQueue) {
    RWSlistCollectablesQueue queue;
    queue.append(&a_);
    queue.append(&b_);
    queue.clear();
    EXPECT_EQ(queue.entries(), 0u);
    EXPECT_EQ(queue.first(), nullptr);
    EXPECT_EQ(queue.get(), nullptr);
    queue.append(&c_);
    EXPECT_EQ(queue.first(), &c_);
}

TEST_F(QueueTest, CopyEndsAtTheFirstNullElement) {
    RWSlistCollectablesQueue queue;
    queue.append(&a_);
    queue.append(nullptr);
    queue.append(&b_);
    RWSlistCollectablesQueue copy(queue);
    EXPECT_EQ(copy.entries(), 1u);
    EXPECT_EQ(copy.first(), &a_);
}

TEST_F(QueueTest, ListFindAndRemoveSkipNullElements) {
    RWSlistCollectablesQueue queue;
    queue.append(nullptr);
    queue.append(&a_);
    KeyedElement probe(1);
    EXPECT_EQ(queue.find(&probe), &a_);
    EXPECT_EQ(queue.removeReference(&a_), &a_);
    EXPECT_EQ(queue.find(&probe), nullptr);
    EXPECT_EQ(queue.entries(), 1u);
}

TEST_F(QueueTest, AppendAllFromMovesEveryElementInOrder) {
    RWSlistCollectablesQueue source;
    RWSlistCollectablesQueue destination;
    destination.appendAllFrom(source);
    EXPECT_TRUE(destination.isEmpty());

    source.append(&a_);
    source.append(&b_);
    destination.append(&c_);
    destination.appendAllFrom(source);
    EXPECT_TRUE(source.isEmpty());
    EXPECT_EQ(source.first(), nullptr);
    EXPECT_EQ(destination.entries(), 3u);
    EXPECT_EQ(destination.last(), &b_);

    // Both ends still work: the moved chain now ends where the destination does.
    source.append(&c_);
    destination.append(&a_);
    RWSlistCollectablesQueue copy(destination);
    EXPECT_EQ(copy.entries(), 4u);
    for (KeyedElement* expected : {&c_, &a_, &b_, &a_}) {
        EXPECT_EQ(destination.get(), expected);
    }
    EXPECT_EQ(destination.get(), nullptr);
    EXPECT_EQ(source.get(), &c_);
    EXPECT_EQ(source.get(), nullptr);
}

TEST_F(QueueTest, MoveFirstToTakesTheFrontToTheOtherQueuesEnd) {
    RWSlistCollectablesQueue from;
    RWSlistCollectablesQueue to;
    EXPECT_EQ(from.moveFirstTo(to), nullptr);
    from.append(&a_);
    from.append(&b_);
    to.append(&c_);

    EXPECT_EQ(from.moveFirstTo(to), &a_);
    EXPECT_EQ(from.moveFirstTo(to), &b_);
    EXPECT_TRUE(from.isEmpty());
    EXPECT_EQ(from.moveFirstTo(to), nullptr);
    from.append(&c_);
    EXPECT_EQ(from.first(), &c_);

    EXPECT_EQ(to.entries(), 3u);
    EXPECT_EQ(to.last(), &b_);
    for (KeyedElement* expected : {&c_, &a_, &b_}) {
        EXPECT_EQ(to.get(), expected);
    }
    EXPECT_TRUE(to.isEmpty());
}

}  // namespace
