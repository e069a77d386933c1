// Message bytes of the configuration service: payload sizes, the
// little-endian block order, the splitting of replies and the parameter
// syntax.

#include "config/cfg_codec.h"

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(CfgCodec, PayloadLengthCountsTheNulAndPadsToWholeBlocks)
{
    struct Case
    {
        std::uint32_t textLength;
        std::uint32_t payload;
    };
    // "appcfg cmd c=2" has 14 characters: 15 with its NUL, one zero byte of
    // padding. 15 characters fill two blocks exactly with the NUL; 16 need a
    // third block for it.
    const Case cases[] = {{0, 8}, {7, 8}, {8, 16}, {14, 16}, {15, 16}, {16, 24}, {1023, 1024}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.textLength);
        EXPECT_EQ(CfgPayloadLength(c.textLength), c.payload);
    }
}

TEST(CfgCodec, EncryptBufferPadsWithZerosAndRoundTrips)
{
    BlowfishContext cipher;
    BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &cipher);
    std::uint8_t buffer[24];
    std::memset(buffer, 0xAA, sizeof buffer);
    std::memcpy(buffer, "appcfg cmd c=2", 15);
    ASSERT_EQ(EncryptBuffer(cipher, buffer, 15), 16u);
    EXPECT_EQ(buffer[16], 0xAA) << "wrote beyond the padded length";
    DecryptBuffer(cipher, buffer, 16);
    EXPECT_STREQ(reinterpret_cast<char*>(buffer), "appcfg cmd c=2");
    EXPECT_EQ(buffer[15], 0) << "the padding must be zero bytes";
}

// A published vector (key FEDCBA9876543210, plain 0123456789ABCDEF, cipher
// 0ACEAB0FC6A0A28D) with each 32-bit half stored least significant byte
// first, as the boxes expect.
TEST(CfgCodec, BlocksUseLittleEndianHalves)
{
    const std::uint8_t key[] = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
    BlowfishContext cipher;
    BlowfishSetKey(&cipher, key, sizeof key);
    std::uint8_t block[8] = {0x67, 0x45, 0x23, 0x01, 0xEF, 0xCD, 0xAB, 0x89};
    ASSERT_EQ(EncryptBuffer(cipher, block, 8), 8u);
    const std::uint8_t expected[8] = {0x0F, 0xAB, 0xCE, 0x0A, 0x8D, 0xA2, 0xA0, 0xC6};
    EXPECT_EQ(0, std::memcmp(block, expected, 8));
    DecryptBuffer(cipher, block, 8);
    EXPECT_EQ(block[0], 0x67);
    EXPECT_EQ(block[7], 0x89);
}

TEST(CfgCodec, DecryptBufferLeavesATrailingPartialBlockAlone)
{
    BlowfishContext cipher;
    BlowfishInit(CFG_BLOWFISH_KEY_LENGTH, &cipher);
    std::uint8_t buffer[12] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    DecryptBuffer(cipher, buffer, 12);
    EXPECT_EQ(buffer[8], 9);
    EXPECT_EQ(buffer[11], 12);
}

struct ParseCase
{
    const char* name;
    std::string text;
    std::uint32_t kind;
    std::int32_t result;
    std::vector<std::string> fields;
};

TEST(CfgCodec, ParseReplySplitsFieldsAfterTheKeyword)
{
    const std::string twentyFields =
        "ok|f1|f2|f3|f4|f5|f6|f7|f8|f9|f10|f11|f12|f13|f14|f15|f16|f17|f18|f19|f20";
    const ParseCase cases[] = {
        {"ok alone has no fields", "ok", CFG_REPLY_OK, 0, {}},
        {"one bar makes one empty field", "ok|", CFG_REPLY_OK, 1, {""}},
        {"two fields", "ok|a|b", CFG_REPLY_OK, 2, {"a", "b"}},
        {"trailing bar adds an empty field", "ok|a|b|", CFG_REPLY_OK, 3, {"a", "b", ""}},
        {"text before the first bar is skipped", "done ok 7|x", CFG_REPLY_OK, 1, {"x"}},
        {"error anywhere wins over ok", "ok|1 error bad", CFG_REPLY_ERROR, CFG_RESULT_ERROR, {" bad"}},
        {"status before info", "status|info", CFG_REPLY_STATUS, 1, {"info"}},
        {"status values", "status|40|100", CFG_REPLY_STATUS, 2, {"40", "100"}},
        {"ninth info field is slot 8",
         "info|0|1|2|3|4|5|6|7|eight",
         CFG_REPLY_INFO,
         9,
         {"0", "1", "2", "3", "4", "5", "6", "7", "eight"}},
        {"no keyword", "hello|a", CFG_REPLY_NONE, 0, {}},
        {"empty text", "", CFG_REPLY_NONE, 0, {}},
        {"keywords are case-sensitive", "OK|a", CFG_REPLY_NONE, 0, {}},
        {"the text ends at its NUL", std::string("ok|a\0|b", 7), CFG_REPLY_OK, 1, {"a"}},
        {"20 fields keep the first 16",
         twentyFields,
         CFG_REPLY_OK,
         16,
         {"f1", "f2", "f3", "f4", "f5", "f6", "f7", "f8", "f9", "f10", "f11", "f12", "f13", "f14", "f15",
          "f16"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CfgFields fields;
        std::memset(&fields, 0x55, sizeof fields);  // leftovers must not survive
        std::uint32_t kind = 99;
        EXPECT_EQ(ParseReply(c.text, fields, kind), c.result);
        EXPECT_EQ(kind, c.kind);
        for (std::size_t i = 0; i < CFG_MAX_FIELDS; ++i) {
            const std::string expected = i < c.fields.size() ? c.fields[i] : "";
            EXPECT_EQ(std::string(fields.m_szField[i], ::strnlen(fields.m_szField[i], CFG_FIELD_SIZE)),
                      expected)
                << "slot " << i;
        }
    }
}

TEST(CfgCodec, ParseReplyCutsLongFieldsTo255Characters)
{
    const std::string longField(300, 'x');
    CfgFields fields;
    std::uint32_t kind = 0;
    EXPECT_EQ(ParseReply("ok|" + longField + "|next", fields, kind), 2);
    EXPECT_EQ(std::string(fields.m_szField[0]), std::string(255, 'x'));
    EXPECT_STREQ(fields.m_szField[1], "next");
}

TEST(CfgCodec, ParseReplyKeepsAnErrorTextOverSeveralSlotsButWithinTheArea)
{
    CfgFields fields;
    std::uint32_t kind = 0;
    const std::string medium(600, 'm');
    EXPECT_EQ(ParseReply("error" + medium, fields, kind), CFG_RESULT_ERROR);
    EXPECT_EQ(std::string(fields.m_szField[0]), medium) << "an error text runs on over the next slots";

    const std::string huge(5000, 'h');
    EXPECT_EQ(ParseReply("error" + huge, fields, kind), CFG_RESULT_ERROR);
    EXPECT_EQ(kind, CFG_REPLY_ERROR);
    EXPECT_EQ(fields.m_szField[CFG_MAX_FIELDS - 1][CFG_FIELD_SIZE - 1], '\0')
        << "the area must stay terminated";
    EXPECT_EQ(std::strlen(fields.m_szField[0]), sizeof fields - 1);
}

TEST(CfgCodec, FieldToIntFollowsDecimalConversionRules)
{
    struct Case
    {
        const char* text;
        std::int32_t value;
    };
    const Case cases[] = {
        {"40", 40},
        {"  100", 100},
        {"-12x", -12},
        {"+7", 7},
        {"abc", 0},
        {"", 0},
        {"- 5", 0},
        {"99999999999", 2147483647},
        {"-99999999999", -2147483647 - 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(CfgFieldToInt(c.text), c.value);
    }
}

}  // namespace
