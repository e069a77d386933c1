// The cipher against the published Blowfish test vectors. They are given in
// the big-endian block order, so the halves are loaded big-endian here; the
// little-endian order of the configuration messages is tested in
// cfg_codec_test.cpp.

#include "config/blowfish.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex)
{
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

std::uint64_t FromHex64(const std::string& hex)
{
    return std::stoull(hex, nullptr, 16);
}

std::uint64_t EncryptBigEndian(const BlowfishContext& context, std::uint64_t block)
{
    auto left = static_cast<std::uint32_t>(block >> 32);
    auto right = static_cast<std::uint32_t>(block);
    BlowfishEncrypt(&context, &left, &right);
    return static_cast<std::uint64_t>(left) << 32 | right;
}

std::uint64_t DecryptBigEndian(const BlowfishContext& context, std::uint64_t block)
{
    auto left = static_cast<std::uint32_t>(block >> 32);
    auto right = static_cast<std::uint32_t>(block);
    BlowfishDecrypt(&context, &left, &right);
    return static_cast<std::uint64_t>(left) << 32 | right;
}

struct Vector
{
    const char* key;
    const char* plain;
    const char* cipher;
};

// A selection of the published ECB vectors: all-zero and all-one blocks, a
// single bit, and mixed keys, so that every round and table is exercised.
constexpr Vector ECB_VECTORS[] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
};

TEST(Blowfish, MatchesPublishedEcbVectors)
{
    for (const auto& vector : ECB_VECTORS) {
        SCOPED_TRACE(std::string("key ") + vector.key + " plain " + vector.plain);
        const auto key = FromHex(vector.key);
        BlowfishContext context;
        BlowfishSetKey(&context, key.data(), key.size());
        EXPECT_EQ(EncryptBigEndian(context, FromHex64(vector.plain)), FromHex64(vector.cipher));
        EXPECT_EQ(DecryptBigEndian(context, FromHex64(vector.cipher)), FromHex64(vector.plain));
    }
}

// The published variable-key-length series: the first n bytes of one long key
// encrypt FEDCBA9876543210. Length 6 is the length of the boxes' key, so the
// cyclic use of a key shorter than a word is covered.
TEST(Blowfish, MatchesPublishedVariableKeyLengthVectors)
{
    const auto key = FromHex("F0E1D2C3B4A5968778695A4B3C2D1E0F0011223344556677");
    const char* expected[] = {
        "F9AD597C49DB005E", "E91D21C1D961A6D6", "E9C2B70A1BC65CF3", "BE1E639408640F05",
        "B39E44481BDB1E6E", "9457AA83B1928C0D", "8BB77032F960629D", "E87A244E2CC85E82",
    };
    for (std::size_t length = 1; length <= std::size(expected); ++length) {
        SCOPED_TRACE("key length " + std::to_string(length));
        BlowfishContext context;
        BlowfishSetKey(&context, key.data(), length);
        EXPECT_EQ(EncryptBigEndian(context, 0xFEDCBA9876543210ull), FromHex64(expected[length - 1]));
    }
}

TEST(Blowfish, InitUsesTheBoxKey)
{
    BlowfishContext fromInit;
    BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &fromInit);
    BlowfishContext fromKey;
    BlowfishSetKey(&fromKey, reinterpret_cast<const std::uint8_t*>("704913"), 6);
    EXPECT_EQ(0, std::memcmp(&fromInit, &fromKey, sizeof fromInit));

    // A length beyond the key must not read past it.
    BlowfishContext tooLong;
    BlowfishInit(100, &tooLong);
    EXPECT_EQ(0, std::memcmp(&tooLong, &fromKey, sizeof tooLong));
}

}  // namespace
