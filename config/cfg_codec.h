#pragma once
// The configuration messages as bytes: padding and encryption of a payload,
// splitting a decrypted reply into fields, and the parameter syntax of the
// commands. Pure functions without I/O or shared state; CCfgClt (cfg_clt.h)
// and the simulated box build on them.
//
// A message is a NUL-terminated text, padded with zero bytes to a multiple of
// 8 and encrypted block by block (ECB). Within a block, bytes 0-3 are the left
// half and bytes 4-7 the right half, each little-endian: the boxes know only
// this order.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "config/blowfish.h"

inline constexpr std::uint32_t CFG_BLOCK_SIZE = 8;
inline constexpr std::uint32_t CFG_MAX_FIELDS = 16;
inline constexpr std::uint32_t CFG_FIELD_SIZE = 256;  // 255 characters and a NUL
// A command text of up to 1023 characters, its NUL and the padding.
inline constexpr std::uint32_t CFG_COMMAND_BUFFER_SIZE = 1024;

// Kinds of message found by ParseReply.
inline constexpr std::uint32_t CFG_REPLY_NONE = 0;
inline constexpr std::uint32_t CFG_REPLY_ERROR = 1;
inline constexpr std::uint32_t CFG_REPLY_OK = 2;
inline constexpr std::uint32_t CFG_REPLY_STATUS = 3;
inline constexpr std::uint32_t CFG_REPLY_INFO = 4;

// ParseReply's result for an "error" message (it carries text, not fields).
inline constexpr std::int32_t CFG_RESULT_ERROR = static_cast<std::int32_t>(0x80000001u);

// The fields of one message. The area is contiguous: the text of an "error"
// message starts in slot 0 and may continue over the following slots.
struct CfgFields
{
    char m_szField[CFG_MAX_FIELDS][CFG_FIELD_SIZE];
};

// Payload length of a text of textLength characters: text, NUL, padding.
constexpr std::uint32_t CfgPayloadLength(std::uint32_t textLength)
{
    return (textLength + 1 + CFG_BLOCK_SIZE - 1) / CFG_BLOCK_SIZE * CFG_BLOCK_SIZE;
}

// Pads buffer[0, length) with zero bytes to the next multiple of 8 and
// encrypts it in place. The buffer must have room for the padding. Returns
// the padded length.
[[nodiscard]] std::uint32_t EncryptBuffer(const BlowfishContext& cipher, std::uint8_t* buffer,
                                          std::uint32_t length);

// Decrypts the length / 8 whole blocks of buffer in place; a trailing partial
// block is left untouched.
void DecryptBuffer(const BlowfishContext& cipher, std::uint8_t* buffer, std::uint32_t length);

// Splits a decrypted message text (it ends at its first NUL or at the end of
// the view) into fields, clearing the whole area first. Sets kind to one of
// the CFG_REPLY_ values and returns the number of fields (0 to 16), or
// CFG_RESULT_ERROR for an "error" message, whose text (everything after the
// keyword, cut to the area's 4095 characters) then starts in slot 0. Fields
// longer than 255 characters are cut to 255.
std::int32_t ParseReply(std::string_view text, CfgFields& fields, std::uint32_t& kind);

// A decimal field as the box sends it: leading blanks and one sign allowed,
// conversion stops at the first other character, 0 without digits. Values
// beyond the 32-bit range are clamped.
std::int32_t CfgFieldToInt(const char* text);
