// The farm key's MACs: the identities hosts of a farm compare must not
// change between releases, or hosts of two releases would not recognise
// each other's logoffs.
#include "cache/farmKey.h"

#include <gtest/gtest.h>

#include <string>

#include "cache/farmLogoff.h"
#include "tests/crypto/hex.h"

namespace {

using lctest::toHex;

TEST(FarmKey, FarmIdentityIsTheOneEarlierReleasesComputed) {
    const std::string secret(40, 'k');
    FarmKey key(reinterpret_cast<const std::uint8_t*>(secret.data()), secret.size());
    char text[64] = "cookie-text";
    char bytes[64] = "cookie-bytes";
    FarmIdentity identity;
    computeFarmIdentity(key, text, bytes, 1800000000, identity);
    EXPECT_EQ(toHex(identity.data(), identity.size()), "a1068623ee87a4076f4ff9245d9f3d3777577a16");
}

// RFC 2202's case with a key longer than a block and two blocks of data,
// fed in pieces that straddle a block boundary.
TEST(FarmKey, MacInPiecesIsHmacSha1) {
    const std::string secret(80, '\xaa');
    FarmKey key(reinterpret_cast<const std::uint8_t*>(secret.data()), secret.size());
    const std::string data =
        "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data";
    FarmKey::Mac mac(key);
    mac.update(data.data(), 60);
    mac.update(data.data() + 60, data.size() - 60);
    std::uint8_t out[kSha1DigestSize];
    mac.finish(out);
    EXPECT_EQ(toHex(out, sizeof out), "e8e99d0f45237d786d6bbaa7965c7808bbff1a91");
}

}  // namespace
