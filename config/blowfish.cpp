// Blowfish: the published algorithm over the tables of blowfish_tables.cpp.

#include "config/blowfish.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr std::size_t MAX_KEY_BYTES = 56;

inline std::uint32_t Feistel(const BlowfishContext* context, std::uint32_t x)
{
    const std::uint32_t a = (x >> 24) & 0xFF;
    const std::uint32_t b = (x >> 16) & 0xFF;
    const std::uint32_t c = (x >> 8) & 0xFF;
    const std::uint32_t d = x & 0xFF;
    return ((context->S[0][a] + context->S[1][b]) ^ context->S[2][c]) + context->S[3][d];
}

}  // namespace

void BlowfishEncrypt(const BlowfishContext* context, std::uint32_t* left, std::uint32_t* right)
{
    std::uint32_t xl = *left;
    std::uint32_t xr = *right;
    for (int round = 0; round < BLOWFISH_ROUNDS; ++round) {
        xl ^= context->P[round];
        xr ^= Feistel(context, xl);
        std::swap(xl, xr);
    }
    std::swap(xl, xr);  // undo the last swap
    xr ^= context->P[BLOWFISH_ROUNDS];
    xl ^= context->P[BLOWFISH_ROUNDS + 1];
    *left = xl;
    *right = xr;
}

void BlowfishDecrypt(const BlowfishContext* context, std::uint32_t* left, std::uint32_t* right)
{
    std::uint32_t xl = *left;
    std::uint32_t xr = *right;
    for (int round = BLOWFISH_ROUNDS + 1; round > 1; --round) {
        xl ^= context->P[round];
        xr ^= Feistel(context, xl);
        std::swap(xl, xr);
    }
    std::swap(xl, xr);
    xr ^= context->P[1];
    xl ^= context->P[0];
    *left = xl;
    *right = xr;
}

void BlowfishSetKey(BlowfishContext* context, const std::uint8_t* key, std::size_t keyLength)
{
    std::memcpy(context->P, BLOWFISH_INIT_P, sizeof context->P);
    std::memcpy(context->S, BLOWFISH_INIT_S, sizeof context->S);

    keyLength = std::min(keyLength, MAX_KEY_BYTES);
    if (keyLength > 0) {
        // The key bytes are taken cyclically, the first as the most
        // significant byte of each 32-bit word.
        std::size_t position = 0;
        for (auto& word : context->P) {
            std::uint32_t data = 0;
            for (int i = 0; i < 4; ++i) {
                data = (data << 8) | key[position];
                position = (position + 1) % keyLength;
            }
            word ^= data;
        }
    }

    std::uint32_t left = 0;
    std::uint32_t right = 0;
    for (std::size_t i = 0; i < BLOWFISH_ROUNDS + 2; i += 2) {
        BlowfishEncrypt(context, &left, &right);
        context->P[i] = left;
        context->P[i + 1] = right;
    }
    for (auto& box : context->S) {
        for (std::size_t i = 0; i < 256; i += 2) {
            BlowfishEncrypt(context, &left, &right);
            box[i] = left;
            box[i + 1] = right;
        }
    }
}

void BlowfishInit(std::uint32_t keyLength, BlowfishContext* context)
{
    const auto length = std::min(keyLength, CFG_BLOWFISH_KEY_LENGTH);
    BlowfishSetKey(context, reinterpret_cast<const std::uint8_t*>(CFG_BLOWFISH_KEY), length);
}
