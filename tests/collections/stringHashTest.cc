#include <gtest/gtest.h>

#include <string_view>

#include "support/collections/RWStringHash.h"

namespace {

using namespace std::string_view_literals;

TEST(StringHashTest, WorkedValues) {
    EXPECT_EQ(rwStringHash(""), 0u);
    EXPECT_EQ(rwStringHash("abc"), 0x00616203u);
    EXPECT_EQ(rwStringHash("abcd"), 0x646362E1u);
    EXPECT_EQ(rwStringHash("abcde"), 0x8C6C5849u);
    EXPECT_EQ(rwStringHash("unknown"), 0xCD02A5C3u);
}

TEST(StringHashTest, HighBytesAreSignExtendedOnlyInTheTail) {
    EXPECT_EQ(rwStringHash("\xE9"), 0xFFFFFFC9u);
    // The extended byte's upper bits cover the tail bytes before it.
    EXPECT_EQ(rwStringHash("a\xE9"), 0xFFFFFFA9u);
    EXPECT_EQ(rwStringHash("\xE9"
                           "a"),
              0xFFFFE921u);
    // Within a whole group the same byte is read unsigned.
    EXPECT_EQ(rwStringHash("\xE9\0\0\0"sv), 0x69u);
}

TEST(StringHashTest, EmbeddedNulBytesCount) {
    EXPECT_NE(rwStringHash("ab\0"sv), rwStringHash("ab"sv));
}

}  // namespace
