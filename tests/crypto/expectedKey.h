// The pipe key written out from its definition, to check the library against.
#pragma once

#include <string>
#include <vector>

#include "crypto/sha1.h"
#include "tests/crypto/hex.h"

namespace lctest {

// Bytes 2..17 of SHA-1(32-byte seed || salt), as hex.
inline std::string expectedPipeKey(std::string seedText) {
    seedText.resize(32, '\0');
    std::vector<uint8_t> block(seedText.begin(), seedText.end());
    std::vector<uint8_t> salt = fromHex("f00dfa1a573962cab7aacb8bea8acb27");
    block.insert(block.end(), salt.begin(), salt.end());
    uint8_t digest[kSha1DigestSize];
    sha1Digest(block.data(), block.size(), digest);
    return toHex(digest + 2, 16);
}

}  // namespace lctest
