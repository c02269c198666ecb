#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/cacheCeiling.h"
#include "service/addAllowList.h"
#include "service/addLimits.h"
#include "tests/support/parseOutcome.h"

namespace {

using Groups = std::vector<gid_t>;

AddAllowList parsed(const char* value) {
    return lctest::expectParsed<AddAllowList>(parseAddAllowList, value);
}

std::string refusal(const char* value) {
    return lctest::expectRefused<AddAllowList>(parseAddAllowList, value);
}

TEST(AddAllowList, TakesNamesIdsAndGroupsBetweenBlanks) {
    AddAllowList list = parsed(" daemon , 1234,@adm , @50,nobody");
    EXPECT_FALSE(list.everyone);
    EXPECT_EQ(list.users, (std::vector<uid_t>{1, 1234, 65534}));
    EXPECT_EQ(list.groups, (std::vector<gid_t>{4, 50}));
}

TEST(AddAllowList, WhatDoesNotResolveIsRefusedByName) {
    EXPECT_NE(refusal("daemon,no-such-user-lc").find("no user named \"no-such-user-lc\""),
              std::string::npos);
    EXPECT_NE(refusal("@no-such-group-lc").find("no group named \"no-such-group-lc\""),
              std::string::npos);
    EXPECT_NE(refusal("daemon,,adm").find("empty entry"), std::string::npos);
    EXPECT_NE(refusal("daemon,").find("empty entry"), std::string::npos);
    EXPECT_NE(refusal(" ").find("names no one"), std::string::npos);
    EXPECT_NE(refusal("4294967295").find("out of range"), std::string::npos);
    EXPECT_NE(refusal("@").find("no group named"), std::string::npos);
}

TEST(AddAllowList, PermitsEveryoneWhenUnsetElseRootAndWhatIsListedAlone) {
    AddAllowList list = parsed("daemon,@adm");
    Groups supplementary = {20, 4};
    int asked = 0;
    auto groups = [&](Groups& out) {
        ++asked;
        out = supplementary;
        return true;
    };
    EXPECT_TRUE(addAllowList_permits(parsed(nullptr), 4321, 4321, groups));
    EXPECT_TRUE(addAllowList_permits(list, 0, 0, groups));
    EXPECT_TRUE(addAllowList_permits(list, 1, 65534, groups));
    EXPECT_TRUE(addAllowList_permits(list, 65534, 4, groups));
    EXPECT_EQ(asked, 0) << "the supplementary groups are asked for only when needed";
    EXPECT_TRUE(addAllowList_permits(list, 65534, 65534, groups));
    supplementary = {20, 65534};
    EXPECT_FALSE(addAllowList_permits(list, 65534, 65534, groups));
    // Groups that cannot be had allow nothing.
    EXPECT_FALSE(addAllowList_permits(list, 65534, 65534, [](Groups&) { return false; }));
}

TEST(MaxCookies, DefaultsToFourMillionAndTakesOnlyAPositive32BitCount) {
    std::uint32_t max = 0;
    std::string error;
    ASSERT_TRUE(parseMaxCookies(nullptr, max, error));
    EXPECT_EQ(max, kCacheDefaultMaxCookies);
    ASSERT_TRUE(parseMaxCookies("1000", max, error));
    EXPECT_EQ(max, 1000u);
    ASSERT_TRUE(parseMaxCookies("4294967295", max, error));
    EXPECT_EQ(max, 4294967295u);
    for (const char* bad :
         {"", "0", "-1", "1e6", "12abc", " 5", "4294967296", "99999999999999999999"}) {
        EXPECT_FALSE(parseMaxCookies(bad, max, error)) << bad;
        EXPECT_NE(error.find("VOKLOGOFFMAXCOOKIES"), std::string::npos);
    }
}

}  // namespace
