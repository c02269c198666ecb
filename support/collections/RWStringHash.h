// The hash the system uses for texts: cookie texts and the factory's string
// identifiers. Case-sensitive; the same on every host.
#pragma once

#include <cstdint>
#include <string_view>

// h starts as the length; each whole 4-byte group, read least significant
// byte first, is mixed in as h = rotl5(h) ^ group. A tail of 1 to 3 bytes is
// gathered most significant first with each byte sign-extended, so a byte of
// 0x80 or above sets the upper bits of the tail word.
std::uint32_t rwStringHash(std::string_view text);
