#include "share/shareEntry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

namespace {

const std::string kSecret(40, 'k');

FarmLogoff sampleLogoff() {
    FarmLogoff logoff;
    for (std::size_t i = 0; i < logoff.identity.size(); ++i) {
        logoff.identity[i] = static_cast<std::uint8_t>(0xa0 + i);
    }
    logoff.times = {1800000000, 1800000100, -3600, 30, 120, 2};
    return logoff;
}

using Fields = std::vector<std::pair<std::string_view, std::string_view>>;

Fields view(const ShareEntryFields& fields) {
    Fields out;
    for (const auto& [name, value] : fields) {
        out.emplace_back(name, value);
    }
    return out;
}

class ShareEntryTest : public ::testing::Test {
  protected:
    FarmKey key_{reinterpret_cast<const std::uint8_t*>(kSecret.data()), kSecret.size()};
    ShareRunId sender_{1, 2, 3};
    ShareRunId receiver_{9, 9, 9};
};

TEST_F(ShareEntryTest, RoundTripGivesTheSameLogoff) {
    ShareEntryFields fields = encodeShareEntry(key_, sampleLogoff(), sender_);
    FarmLogoff out;
    ASSERT_EQ(decodeShareEntry(key_, view(fields), receiver_, out), ShareEntryCheck::Accepted);
    FarmLogoff in = sampleLogoff();
    EXPECT_EQ(out.identity, in.identity);
    EXPECT_EQ(out.times.creationTime, in.times.creationTime);
    EXPECT_EQ(out.times.lastUseTime, in.times.lastUseTime);
    EXPECT_EQ(out.times.timeOffset, in.times.timeOffset);
    EXPECT_EQ(out.times.idleTimeoutMinutes, in.times.idleTimeoutMinutes);
    EXPECT_EQ(out.times.maxLifetimeMinutes, in.times.maxLifetimeMinutes);
    EXPECT_EQ(out.times.cookieKind, in.times.cookieKind);
}

TEST_F(ShareEntryTest, FieldOrderDoesNotMatterButOwnRunIsSkipped) {
    ShareEntryFields encoded = encodeShareEntry(key_, sampleLogoff(), sender_);
    Fields fields = view(encoded);
    std::reverse(fields.begin(), fields.end());
    FarmLogoff out;
    EXPECT_EQ(decodeShareEntry(key_, fields, receiver_, out), ShareEntryCheck::Accepted);
    EXPECT_EQ(decodeShareEntry(key_, fields, sender_, out), ShareEntryCheck::OwnRun);
}

TEST_F(ShareEntryTest, EveryChangedValueFailsTheCheck) {
    ShareEntryFields genuine = encodeShareEntry(key_, sampleLogoff(), sender_);
    for (std::size_t field = 0; field < kShareEntryFields; ++field) {
        ShareEntryFields tampered = genuine;
        std::string& value = tampered[field].second;
        // A digit changed within its kind keeps the entry readable.
        value.back() = value.back() == '1' ? '2' : '1';
        FarmLogoff out;
        ShareEntryCheck check = decodeShareEntry(key_, view(tampered), receiver_, out);
        EXPECT_NE(check, ShareEntryCheck::Accepted) << tampered[field].first;
        if (field != 0) {  // another version is unreadable, not forged
            EXPECT_EQ(check, ShareEntryCheck::BadMac) << tampered[field].first;
        }
    }
}

TEST_F(ShareEntryTest, AnotherSecretFailsTheCheck) {
    const std::string other(40, 'x');
    FarmKey otherKey(reinterpret_cast<const std::uint8_t*>(other.data()), other.size());
    ShareEntryFields forged = encodeShareEntry(otherKey, sampleLogoff(), sender_);
    FarmLogoff out;
    EXPECT_EQ(decodeShareEntry(key_, view(forged), receiver_, out), ShareEntryCheck::BadMac);
}

TEST_F(ShareEntryTest, MissingRepeatedUnknownOrUnreadableFieldsAreMalformed) {
    ShareEntryFields encoded = encodeShareEntry(key_, sampleLogoff(), sender_);
    Fields fields = view(encoded);
    FarmLogoff out;
    Fields missing(fields.begin() + 1, fields.end());
    EXPECT_EQ(decodeShareEntry(key_, missing, receiver_, out), ShareEntryCheck::Malformed);
    Fields repeated = fields;
    repeated.push_back(fields[2]);
    EXPECT_EQ(decodeShareEntry(key_, repeated, receiver_, out), ShareEntryCheck::Malformed);
    Fields unknown = fields;
    unknown.emplace_back("text", "cookie");
    EXPECT_EQ(decodeShareEntry(key_, unknown, receiver_, out), ShareEntryCheck::Malformed);
    for (std::string_view bad : {"", "12x", "99999999999", "ABCDEF"}) {
        Fields unreadable = fields;
        unreadable[2].second = bad;  // ct
        EXPECT_EQ(decodeShareEntry(key_, unreadable, receiver_, out), ShareEntryCheck::Malformed)
            << bad;
    }
}

// Hosts of two releases share one stream: the MAC of an entry must not
// change with the code that computes it.
TEST_F(ShareEntryTest, MacIsTheOneEarlierReleasesWrote) {
    ShareEntryFields fields = encodeShareEntry(key_, sampleLogoff(), sender_);
    EXPECT_EQ(fields[9].first, "mac");
    EXPECT_EQ(fields[9].second, "0f9aefa5ebbb581b9fe6598ac99068f2102cd5d5");
}

TEST(FarmIdentity, LengthsKeepAMovedByteFromMatching) {
    FarmKey key(reinterpret_cast<const std::uint8_t*>(kSecret.data()), kSecret.size());
    char textAB[64] = "ab";
    char bytesC[64] = "c";
    char textA[64] = "a";
    char bytesBC[64] = "bc";
    FarmIdentity first;
    FarmIdentity second;
    computeFarmIdentity(key, textAB, bytesC, 100, first);
    computeFarmIdentity(key, textA, bytesBC, 100, second);
    EXPECT_NE(first, second);
    computeFarmIdentity(key, textAB, bytesC, 101, second);
    EXPECT_NE(first, second);
    computeFarmIdentity(key, textAB, bytesC, 100, second);
    EXPECT_EQ(first, second);
}

}  // namespace
