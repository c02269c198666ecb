#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cstdint>
#include <memory>
#include <new>

#include "support/collections/RWCollectable.h"

namespace {

TEST(CollectableTest, BaseClassIdentity) {
    RWCollectable object;
    EXPECT_EQ(object.classId(), 32775);
    EXPECT_EQ(object.storeSize(), 0u);
    EXPECT_EQ(object.selfAsCollectable(), &object);
    EXPECT_EQ(static_cast<const RWCollectable&>(object).selfAsCollectable(), &object);

    std::unique_ptr<RWCollectable> fresh(object.newInstance());
    std::unique_ptr<RWCollectable> copied(object.copy());
    EXPECT_EQ(fresh->classId(), 32775);
    EXPECT_EQ(copied->classId(), 32775);
    EXPECT_NE(copied.get(), &object);
}

TEST(CollectableTest, EqualityAndOrderAreByIdentity) {
    RWCollectable pair[2];
    EXPECT_TRUE(pair[0].isEqual(&pair[0]));
    EXPECT_FALSE(pair[0].isEqual(&pair[1]));
    EXPECT_EQ(pair[0].compareTo(&pair[0]), 0);
    // pair[0] lies at the lower address.
    EXPECT_EQ(pair[1].compareTo(&pair[0]), 1);
    EXPECT_EQ(pair[0].compareTo(&pair[1]), -1);
}

std::uint32_t expectedAddressHash(const void* address) {
    auto low = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
    return low ^ static_cast<std::uint32_t>(static_cast<std::int32_t>(low) >> 3);
}

TEST(CollectableTest, AddressHashCopiesTheSignBit) {
    RWCollectable object;
    EXPECT_EQ(object.hash(), expectedAddressHash(&object));
    EXPECT_EQ(object.hash() & 0x80000000u, 0u);

    // An object whose address has bit 31 set: the sign copied in by the
    // shift must cancel the top bit.
    // Candidates whose low 32 bits are 0x80000000, tried in turn because
    // sanitizer builds reserve parts of the address space.
    void* page = MAP_FAILED;
    for (std::uintptr_t candidate : {0x380000000ul, 0x600080000000ul, 0x7e0080000000ul}) {
        void* wanted = reinterpret_cast<void*>(candidate);
        page = mmap(wanted, 4096, PROT_READ | PROT_WRITE,
                    MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED_NOREPLACE, -1, 0);
        if (page == wanted) {
            break;
        }
        if (page != MAP_FAILED) {
            munmap(page, 4096);
            page = MAP_FAILED;
        }
    }
    if (page == MAP_FAILED) {
        GTEST_SKIP() << "could not map a page at a chosen address";
    }
    auto* high = new (static_cast<char*>(page) + 64) RWCollectable;
    EXPECT_EQ(high->hash(), expectedAddressHash(high));
    EXPECT_EQ(high->hash(), 0x80000040u ^ 0xF0000008u);
    EXPECT_EQ(high->hash() & 0x80000000u, 0u);
    high->~RWCollectable();
    munmap(page, 4096);
}

}  // namespace
