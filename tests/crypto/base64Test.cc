#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "crypto/base64.h"

namespace {

std::string encode(const std::string& bytes, int capacity = 1024, int* result = nullptr) {
    std::string out(static_cast<size_t>(capacity), '\0');
    int length = capacity;
    int code = base64Encode(reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<int>(bytes.size()), out.data(), &length);
    if (result != nullptr) {
        *result = code;
    }
    return code == 0 ? out.substr(0, static_cast<size_t>(length)) : "";
}

int decode(const std::string& text, std::string* bytes = nullptr, int capacity = 1024) {
    std::vector<unsigned char> out(static_cast<size_t>(capacity));
    int length = capacity;
    int code = base64Decode(text.data(), static_cast<int>(text.size()), out.data(), &length);
    if (code == 0 && bytes != nullptr) {
        bytes->assign(out.begin(), out.begin() + length);
    }
    return code;
}

// RFC 4648, section 10.
const std::pair<std::string, std::string> kVectors[] = {
    {"", ""},
    {"f", "Zg=="},
    {"fo", "Zm8="},
    {"foo", "Zm9v"},
    {"foob", "Zm9vYg=="},
    {"fooba", "Zm9vYmE="},
    {"foobar", "Zm9vYmFy"},
};

TEST(Base64, PublishedVectorsBothWays) {
    for (const auto& [bytes, text] : kVectors) {
        EXPECT_EQ(encode(bytes), text);
        std::string decoded = "unchanged";
        EXPECT_EQ(decode(text, &decoded), 0) << text;
        EXPECT_EQ(decoded, bytes);
    }
}

TEST(Base64, EveryByteValueRoundTrips) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    std::string text = encode(all);
    EXPECT_EQ(text.size(), 344u);
    std::string decoded;
    ASSERT_EQ(decode(text, &decoded), 0);
    EXPECT_EQ(decoded, all);
}

TEST(Base64, EncodingNeedsRoomForEveryGroupOfFour) {
    int result = -1;
    EXPECT_EQ(encode("foobar", 8, &result), "Zm9vYmFy");
    encode("foobar", 7, &result);
    EXPECT_EQ(result, 3);
    encode("foob", 7, &result);  // the padded last group needs all four
    EXPECT_EQ(result, 3);
    char out[4];
    int negative = -1;
    EXPECT_EQ(base64Encode(reinterpret_cast<const unsigned char*>("x"), 1, out, &negative), 3);
}

TEST(Base64, LengthNotAMultipleOfFourIsRefused) {
    EXPECT_EQ(decode("Zm9"), 2);
    EXPECT_EQ(decode("Zm9v\n"), 2);
    EXPECT_EQ(decode(std::string("Zm9v\0", 5)), 2);
}

TEST(Base64, CharactersOutsideTheAlphabetAreRefused) {
    for (const char* text : {"Zm 9", "Zm9\n", "Zm-v", "Zm_v", "Zm9\x80", "\xffm9v"}) {
        EXPECT_EQ(decode(text), 1) << text;
    }
}

// A text, the room given for its bytes, and the result decoding it must have.
struct DecodeCase {
    const char* text;
    int capacity;
    int result;
};

void expectResults(std::initializer_list<DecodeCase> cases) {
    for (const DecodeCase& c : cases) {
        EXPECT_EQ(decode(c.text, nullptr, c.capacity), c.result) << c.text << " in " << c.capacity;
    }
}

TEST(Base64, PaddingOnlyEndsAGroup) {
    expectResults({{"=m9v", 1024, 1}, {"Z=9v", 1024, 1}, {"Zm=v", 1024, 1}, {"Zm==", 1024, 0}});
}

TEST(Base64, DecodingNeedsRoomOnlyForTheBytesAGroupCarries) {
    expectResults({{"Zm9v", 2, 3}, {"Zm8=", 2, 0}, {"Zg==", 1, 0}, {"Zg==", 0, 3}});
}

// Whole groups are decoded in one step; a group that needs the checks gets
// them wherever it stands.
TEST(Base64, EveryGroupIsCheckedWhereverItStands) {
    std::string decoded;
    EXPECT_EQ(decode("Zg==Zm9v", &decoded), 0);
    EXPECT_EQ(decoded, "ffoo");
    expectResults(
        {{"Zm9vYm 9", 1024, 1}, {"Zm9vYm=v", 1024, 1}, {"Zm9vYmFy", 5, 3}, {"Zm9vYmE=", 5, 0}});
}

TEST(Base64, BitsBeyondTheLastByteAreIgnored) {
    std::string decoded;
    ASSERT_EQ(decode("Zh==", &decoded), 0);
    EXPECT_EQ(decoded, "f");
}

}  // namespace
