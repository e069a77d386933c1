#pragma once
// The Blowfish block cipher (16 rounds, the standard tables and key schedule)
// as the configuration service uses it. Pure code: no I/O, no shared state;
// a keyed context may be read by several threads at once.
//
// The block functions work on the two 32-bit halves. How the halves are read
// from and written to the 8 bytes of a block is the caller's business: the
// configuration messages use the little-endian order of cfg_codec.h, the
// published test vectors the big-endian one.

#include <cstddef>
#include <cstdint>

#include "config/blowfish_tables.h"

// The key every box expects: 6 ASCII characters, no terminator.
inline constexpr char CFG_BLOWFISH_KEY[] = "704913";
inline constexpr std::uint32_t CFG_BLOWFISH_KEY_LENGTH = 6;

struct BlowfishContext
{
    std::uint32_t P[BLOWFISH_ROUNDS + 2];
    std::uint32_t S[4][256];
};

// Keys the context with the first keyLength bytes of CFG_BLOWFISH_KEY. A
// length above 6 is taken as 6; a length of 0 leaves the tables unkeyed apart
// from the self-encryption of the schedule.
void BlowfishInit(std::uint32_t keyLength, BlowfishContext* context);

// The standard key schedule over any key of 1 to 56 bytes (longer keys are
// cut to 56, the cipher's limit).
void BlowfishSetKey(BlowfishContext* context, const std::uint8_t* key, std::size_t keyLength);

void BlowfishEncrypt(const BlowfishContext* context, std::uint32_t* left, std::uint32_t* right);
void BlowfishDecrypt(const BlowfishContext* context, std::uint32_t* left, std::uint32_t* right);
