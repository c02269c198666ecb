// The values that docs/protocol.md gives client writers, read from the
// document itself and recomputed: a change of the format or of the document
// that leaves the two apart fails here.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "crypto/base64.h"
#include "crypto/byteOrder.h"
#include "crypto/hmacSha1.h"
#include "crypto/hostKeySeed.h"
#include "crypto/logoffCookiePipe_crypt.h"
#include "crypto/rc5.h"
#include "crypto/sha1.h"
#include "tests/crypto/fakeHostFacts.h"
#include "tests/crypto/hex.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Values = std::map<std::string, std::string>;
using lctest::fromHex;
using lctest::toHex;

std::string readDocument() {
    std::ifstream file(LC_PROTOCOL_DOCUMENT);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

std::string trimmed(const std::string& text) {
    size_t first = text.find_first_not_of(' ');
    size_t last = text.find_last_not_of(' ');
    return first == std::string::npos ? "" : text.substr(first, last - first + 1);
}

// The "name = value" lines of the code blocks of the section headed
// `heading`. A quoted value is taken between its quotes, any other up to the
// first blank; a line "= value" under a named one is stored as name + "Hex".
Values exampleValues(const std::string& document, const std::string& heading) {
    Values values;
    size_t start = document.find("\n" + heading + "\n");
    if (start == std::string::npos) {
        ADD_FAILURE() << "no section " << heading;
        return values;
    }
    size_t end = document.find("\n##", start + 1);
    std::istringstream section(document.substr(start, end - start));
    std::string line, last;
    bool inCode = false;
    while (std::getline(section, line)) {
        if (line.rfind("```", 0) == 0) {
            inCode = !inCode;
            continue;
        }
        size_t equals = line.find('=');
        if (!inCode || equals == std::string::npos) {
            continue;
        }
        std::string name = trimmed(line.substr(0, equals));
        std::string value = trimmed(line.substr(equals + 1));
        if (!value.empty() && value[0] == '"') {
            value = value.substr(1, value.find('"', 1) - 1);
        } else {
            value = value.substr(0, value.find(' '));
        }
        if (name.empty()) {
            name = last + "Hex";
        } else {
            last = name;
        }
        values[name] = value;
    }
    return values;
}

Bytes labelledDigest(const Bytes& key, const char* labelHex) {
    Bytes input = key;
    Bytes label = fromHex(labelHex);
    input.insert(input.end(), label.begin(), label.end());
    uint8_t digest[kSha1DigestSize];
    sha1Digest(input.data(), input.size(), digest);
    return Bytes(digest, digest + 16);
}

// Seals `payload` as the document's sender steps do, with bytes 4..7 zero
// and the example's per-packet value.
Bytes sealAsDocumented(const Bytes& rc5Key, const Bytes& macKey, const Bytes& random,
                       const Bytes& payload) {
    uint8_t padding = static_cast<uint8_t>(8 - payload.size() % 8);
    Bytes packet = {2, 0, 0, 0, 0, 0, 0, 0};
    packet.insert(packet.end(), random.begin(), random.end());
    packet.insert(packet.end(), payload.begin(), payload.end());
    packet.insert(packet.end(), padding, padding);
    RC5_state rc5;
    RC5_setKey(&rc5, rc5Key.data());
    RC5_setChainValue(&rc5, random.data());
    RC5_chainEncrypt(&rc5, packet.data() + 4, packet.size() - 4);
    store32_be(packet.data() + 4, static_cast<uint32_t>(packet.size() + 10));
    uint8_t innerPad[kSha1BlockSize], outerPad[kSha1BlockSize], mac[kSha1DigestSize];
    hmacSha1Pads(macKey.data(), macKey.size(), innerPad, outerPad);
    hmacSha1(innerPad, outerPad, packet.data(), packet.size(), mac);
    packet.insert(packet.end(), mac, mac + 10);
    return packet;
}

class ProtocolDocument : public ::testing::TestWithParam<const char*> {
  protected:
    static void SetUpTestSuite() { document = readDocument(); }
    static std::string document;
};

std::string ProtocolDocument::document;

TEST_P(ProtocolDocument, ExampleKeyFollowsFromTheHostFacts) {
    Values v = exampleValues(document, GetParam());
    lctest::FakeHostFacts facts(v["machine"], v["version"], v.count("swap") ? v["swap"] : "0",
                                v["host"]);
    lctest::InjectedHostFacts injected(&facts);
    uint8_t seed[kHashKeySeedSize];
    fillHashKeySeed(seed, false);
    std::string expectedSeed = v["seed"];
    expectedSeed.resize(kHashKeySeedSize, '\0');
    EXPECT_EQ(std::string(reinterpret_cast<char*>(seed), sizeof seed), expectedSeed);
    EXPECT_EQ(toHex(seed, sizeof seed), v["seedHex"]);

    uint8_t key[PIPE_KEY_SIZE];
    ASSERT_EQ(getHostPipeKey(key), 0);
    EXPECT_EQ(toHex(key, sizeof key), v["key"]);
    EXPECT_EQ(toHex(labelledDigest(fromHex(v["key"]), "5a0c93e1b7462df8")), v["rc5Key"]);
    EXPECT_EQ(toHex(labelledDigest(fromHex(v["key"]), "c41e7b2990f3a65d")), v["macKey"]);
}

TEST_P(ProtocolDocument, ExampleTextFollowsFromTheKeysAndOpens) {
    Values v = exampleValues(document, GetParam());
    Bytes payload = fromHex(v["payload"]);
    Bytes packet =
        sealAsDocumented(fromHex(v["rc5Key"]), fromHex(v["macKey"]), fromHex(v["random"]), payload);
    EXPECT_EQ(toHex(packet), v["header"] + v["body"] + v["check"]);

    // The text is the packet and the zero fill up to L + 49 bytes.
    const std::string& text = v["text"];
    Bytes block(text.size());
    int blockLength = static_cast<int>(block.size());
    ASSERT_EQ(base64Decode(text.data(), static_cast<int>(text.size()), block.data(), &blockLength),
              0);
    packet.resize(payload.size() + 49, 0);
    EXPECT_EQ(toHex(block.data(), static_cast<size_t>(blockLength)), toHex(packet));

    static Bytes exampleKey;
    exampleKey = fromHex(v["key"]);
    std::string buffer = text;
    buffer.resize(512, '\0');
    int length = static_cast<int>(text.size());
    auto keyOfExample = [](unsigned char* key) {
        std::copy(exampleKey.begin(), exampleKey.end(), key);
        return 0;
    };
    ASSERT_EQ(decryptPipeDataWith(keyOfExample, buffer.data(), &length,
                                  static_cast<int>(buffer.size()), ENCRYPTION_KAE5),
              0);
    EXPECT_EQ(toHex(reinterpret_cast<const uint8_t*>(buffer.data()), payload.size()), v["payload"]);
}

INSTANTIATE_TEST_SUITE_P(
    WorkedExamples, ProtocolDocument,
    ::testing::Values("### First example: the version text fills the seed",
                      "### Second example: swap size and host name enter the seed"),
    [](const ::testing::TestParamInfo<const char*>& info) {
        return info.index == 0 ? "First" : "Second";
    });

template <int Rounds>
std::string rc5Encrypt(const std::string& keyHex, const std::string& plainHex, bool decryptBack) {
    RC5_keyTable<Rounds> table;
    RC5_keySchedule<Rounds>(fromHex(keyHex).data(), &table);
    Bytes block = fromHex(plainHex);
    RC5_encryptBlock<Rounds>(table, block.data());
    if (decryptBack) {
        RC5_decryptBlock<Rounds>(table, block.data());
    }
    return toHex(block);
}

TEST(ProtocolDocumentRc5, EveryVectorOfTheTableHoldsBothWays) {
    std::istringstream table(readDocument());
    std::string line;
    int rows = 0;
    while (std::getline(table, line)) {
        // | rounds | `key` | `plain` | `cipher` | source |
        std::vector<std::string> cells;
        std::istringstream row(line);
        for (std::string cell; std::getline(row, cell, '|');) {
            cells.push_back(trimmed(cell));
        }
        if (cells.size() < 5 || (cells[1] != "12" && cells[1] != "16") || cells[2][0] != '`') {
            continue;
        }
        auto unquoted = [](const std::string& cell) { return cell.substr(1, cell.size() - 2); };
        std::string key = unquoted(cells[2]), plain = unquoted(cells[3]);
        std::string cipher = unquoted(cells[4]);
        bool twelve = cells[1] == "12";
        EXPECT_EQ(twelve ? rc5Encrypt<12>(key, plain, false) : rc5Encrypt<16>(key, plain, false),
                  cipher)
            << line;
        EXPECT_EQ(twelve ? rc5Encrypt<12>(key, plain, true) : rc5Encrypt<16>(key, plain, true),
                  plain)
            << line;
        ++rows;
    }
    EXPECT_EQ(rows, 3);
}

}  // namespace
