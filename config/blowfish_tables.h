#pragma once
// The cipher's initial tables, generated into blowfish_tables.cpp by
// tools/blowfish-tables (the fractional hexadecimal digits of pi).

#include <cstdint>

inline constexpr int BLOWFISH_ROUNDS = 16;

extern const std::uint32_t BLOWFISH_INIT_P[BLOWFISH_ROUNDS + 2];
extern const std::uint32_t BLOWFISH_INIT_S[4][256];
