// Message bytes of the configuration service; see cfg_codec.h.

#include "config/cfg_codec.h"

#include <cctype>
#include <cstring>
#include <limits>

namespace {

std::uint32_t LoadLe32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreLe32(std::uint8_t* p, std::uint32_t value)
{
    p[0] = static_cast<std::uint8_t>(value);
    p[1] = static_cast<std::uint8_t>(value >> 8);
    p[2] = static_cast<std::uint8_t>(value >> 16);
    p[3] = static_cast<std::uint8_t>(value >> 24);
}

constexpr std::string_view KEYWORD_ERROR = "error";

struct Keyword
{
    std::string_view text;
    std::uint32_t kind;
};

// The order decides: a message that holds "error" anywhere is an error reply,
// whatever else it holds.
constexpr Keyword KEYWORDS[] = {
    {KEYWORD_ERROR, CFG_REPLY_ERROR},
    {"ok", CFG_REPLY_OK},
    {"status", CFG_REPLY_STATUS},
    {"info", CFG_REPLY_INFO},
};

}  // namespace

std::uint32_t EncryptBuffer(const BlowfishContext& cipher, std::uint8_t* buffer, std::uint32_t length)
{
    const std::uint32_t padded = (length + CFG_BLOCK_SIZE - 1) / CFG_BLOCK_SIZE * CFG_BLOCK_SIZE;
    std::memset(buffer + length, 0, padded - length);
    for (std::uint32_t offset = 0; offset < padded; offset += CFG_BLOCK_SIZE) {
        std::uint32_t left = LoadLe32(buffer + offset);
        std::uint32_t right = LoadLe32(buffer + offset + 4);
        BlowfishEncrypt(&cipher, &left, &right);
        StoreLe32(buffer + offset, left);
        StoreLe32(buffer + offset + 4, right);
    }
    return padded;
}

void DecryptBuffer(const BlowfishContext& cipher, std::uint8_t* buffer, std::uint32_t length)
{
    const std::uint32_t whole = length / CFG_BLOCK_SIZE * CFG_BLOCK_SIZE;
    for (std::uint32_t offset = 0; offset < whole; offset += CFG_BLOCK_SIZE) {
        std::uint32_t left = LoadLe32(buffer + offset);
        std::uint32_t right = LoadLe32(buffer + offset + 4);
        BlowfishDecrypt(&cipher, &left, &right);
        StoreLe32(buffer + offset, left);
        StoreLe32(buffer + offset + 4, right);
    }
}

std::int32_t ParseReply(std::string_view text, CfgFields& fields, std::uint32_t& kind)
{
    std::memset(&fields, 0, sizeof fields);
    if (const auto nul = text.find('\0'); nul != std::string_view::npos) {
        text = text.substr(0, nul);
    }

    kind = CFG_REPLY_NONE;
    std::size_t position = std::string_view::npos;
    std::size_t keywordLength = 0;
    for (const auto& keyword : KEYWORDS) {
        position = text.find(keyword.text);
        if (position != std::string_view::npos) {
            kind = keyword.kind;
            keywordLength = keyword.text.size();
            break;
        }
    }
    if (kind == CFG_REPLY_NONE) {
        return 0;
    }
    const std::string_view rest = text.substr(position + keywordLength);

    if (kind == CFG_REPLY_ERROR) {
        // The whole area is one text here; keep its last byte for the NUL.
        const std::size_t length = std::min(rest.size(), sizeof fields - 1);
        std::memcpy(&fields.m_szField[0][0], rest.data(), length);
        return CFG_RESULT_ERROR;
    }

    std::uint32_t count = 0;  // "|" seen after the keyword
    std::size_t fieldLength = 0;
    for (const char c : rest) {
        if (c == '|') {
            if (count == CFG_MAX_FIELDS) {
                break;  // the 16th field has just been ended
            }
            ++count;
            fieldLength = 0;
        } else if (count > 0 && fieldLength < CFG_FIELD_SIZE - 1) {
            fields.m_szField[count - 1][fieldLength++] = c;
        }
    }
    return static_cast<std::int32_t>(count);
}

std::int32_t CfgFieldToInt(const char* text)
{
    while (std::isspace(static_cast<unsigned char>(*text))) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    std::int64_t value = 0;
    constexpr std::int64_t LIMIT = static_cast<std::int64_t>(std::numeric_limits<std::int32_t>::max()) + 1;
    while (std::isdigit(static_cast<unsigned char>(*text))) {
        value = std::min<std::int64_t>(value * 10 + (*text - '0'), LIMIT);
        ++text;
    }
    if (negative) {
        value = -value;
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(value, LIMIT - 1));
}
