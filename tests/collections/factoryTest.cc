#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/collections/RWFactory.h"

namespace {

using namespace std::string_view_literals;

constexpr RWClassID kSampleId = 301;
constexpr const char* kSampleStringId = "FactorySample";

class Sample : public RWCollectable {
  public:
    RWClassID classId() const override { return kSampleId; }
};

RWCollectable* createSample() {
    return new Sample;
}
RWCollectable* createOther() {
    return new RWCollectable;
}

// Registered from a static object of this file, like an application class.
const RWFactoryRegistration sampleRegistration(createSample, kSampleId, kSampleStringId);

// Takes away the registrations made at program start so the factory can
// empty, and puts them back afterwards.
class EmptyFactoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        removeStartRegistrations();
        ASSERT_FALSE(RWFactory::instanceExists());
    }
    void TearDown() override {
        RWFactory::addCreator(rwCreateRWCollectable, RW_COLLECTABLE_CLASS_ID, "RWCollectable");
        RWFactory::addCreator(createSample, kSampleId, kSampleStringId);
    }
    static void removeStartRegistrations() {
        RWFactory::removeCreatorById(RW_COLLECTABLE_CLASS_ID);
        RWFactory::removeCreatorByStringId("RWCollectable");
        RWFactory::removeCreatorById(kSampleId);
        RWFactory::removeCreatorByStringId(kSampleStringId);
    }
};

TEST(FactoryTest, ClassesAreRegisteredAtProgramStart) {
    std::unique_ptr<RWCollectable> base(RWFactory::create(RW_COLLECTABLE_CLASS_ID));
    ASSERT_NE(base, nullptr);
    EXPECT_EQ(base->classId(), 32775);
    std::unique_ptr<RWCollectable> byName(RWFactory::create("RWCollectable"));
    ASSERT_NE(byName, nullptr);
    EXPECT_EQ(byName->classId(), 32775);

    std::unique_ptr<RWCollectable> sample(RWFactory::create(kSampleStringId));
    ASSERT_NE(sample, nullptr);
    EXPECT_EQ(sample->classId(), kSampleId);
}

TEST(FactoryTest, EachRemovalUndoesOneRegistration) {
    RWFactory::addCreator(createOther, 400, "Twice");
    RWFactory::addCreator(createSample, 400, "Twice");
    // The second registration counts; the first creator stays.
    EXPECT_EQ(RWFactory::getCreator(400), createOther);

    RWFactory::removeCreatorById(400);
    EXPECT_EQ(RWFactory::getCreator(400), createOther);
    RWFactory::removeCreatorById(400);
    EXPECT_EQ(RWFactory::getCreator(400), nullptr);

    // The string entry keeps its own count.
    EXPECT_EQ(RWFactory::getCreator("Twice"), createOther);
    RWFactory::removeCreatorByStringId("Twice");
    EXPECT_EQ(RWFactory::getCreator("Twice"), createOther);
    RWFactory::removeCreatorByStringId("Twice");
    EXPECT_EQ(RWFactory::getCreator("Twice"), nullptr);
}

TEST(FactoryTest, NoStringIdTextsMakeNoStringEntry) {
    for (const char* none : {"NoID", "No_RWStringID"}) {
        RWFactory::addCreator(createOther, 401, none);
        EXPECT_EQ(RWFactory::getCreator(none), nullptr) << none;
        RWFactory::removeCreatorByStringId(none);
        EXPECT_EQ(RWFactory::getCreator(401), createOther) << none;
        RWFactory::removeCreatorById(401);
        EXPECT_EQ(RWFactory::getCreator(401), nullptr) << none;
    }
}

TEST(FactoryTest, RemovingAnUnregisteredClassDoesNothing) {
    RWFactory::removeCreatorById(402);
    RWFactory::removeCreatorByStringId("NeverRegistered");
    EXPECT_EQ(RWFactory::create(402), nullptr);
    EXPECT_EQ(RWFactory::getCreator(RW_COLLECTABLE_CLASS_ID), rwCreateRWCollectable);
}

TEST(FactoryTest, EntryKindsDoNotMatchEachOther) {
    // The class entry of 403 and a string entry hashing to 403 would be
    // found by the same probe hash.
    const std::string_view hashes403 = "\x13\x01\0\0"sv;
    RWFactory::addCreator(createOther, 403, "NoID");
    EXPECT_EQ(RWFactory::getCreator(hashes403), nullptr);
    RWFactory::removeCreatorByStringId(hashes403);
    EXPECT_EQ(RWFactory::getCreator(403), createOther);
    RWFactory::removeCreatorById(403);
}

TEST_F(EmptyFactoryTest, InstanceGoesWithItsLastEntryAndComesBack) {
    RWFactory::addCreator(createOther, 404, "Comeback");
    EXPECT_TRUE(RWFactory::instanceExists());
    RWFactory::removeCreatorById(404);
    EXPECT_TRUE(RWFactory::instanceExists()) << "the string entry remains";
    RWFactory::removeCreatorByStringId("Comeback");
    EXPECT_FALSE(RWFactory::instanceExists());

    RWFactory::addCreator(createOther, 404, "NoID");
    EXPECT_TRUE(RWFactory::instanceExists());
    EXPECT_EQ(RWFactory::getCreator(404), createOther);
    RWFactory::removeCreatorById(404);
    EXPECT_FALSE(RWFactory::instanceExists());
}

TEST_F(EmptyFactoryTest, ConcurrentRegistrationsAcrossInstanceLifetimes) {
    // Every thread empties the factory over and over while others register,
    // so instances are created and destroyed under contention.
    std::vector<std::thread> threads;
    for (RWClassID id = 500; id < 504; ++id) {
        threads.emplace_back([id] {
            const std::string name = "Concurrent" + std::to_string(id);
            for (int round = 0; round < 2000; ++round) {
                RWFactory::addCreator(createOther, id, name);
                ASSERT_EQ(RWFactory::getCreator(id), createOther);
                RWFactory::removeCreatorById(id);
                RWFactory::removeCreatorByStringId(name);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_FALSE(RWFactory::instanceExists());
}

}  // namespace
