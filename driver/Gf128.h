// GF(2^128) arithmetic of the LRW sector mode.
//
// An element is a 16-byte string read as a 128-bit big-endian integer; bit k of that integer is the coefficient
// of x^k, and products are reduced modulo x^128 + x^7 + x^2 + x + 1. An LRW block index (a u64) is the element
// whose first 8 bytes are zero and whose last 8 bytes are the index, big-endian.
#pragma once

#include <bit>
#include <cstdint>

// The LRW multiplication table for one tweak key K2: sixteen tables of sixteen entries (4096 bytes). Entry
// [2j + h][n] holds K2 times the element whose index byte j (0 = most significant of the 8 index bytes) carries
// the nibble n in its low half (h = 0) or its high half (h = 1), all other bits zero. Entries are elements in
// their 16-byte memory form.
struct GF128_LRW_TABLE {
    uint8_t Entry[16][16][16];
};

// The steps between successive tweaks: Step[k] = K2 times (2^(k+1) - 1). Since I XOR (I + 1) = 2^(k+1) - 1
// where k is the number of trailing zero bits of I + 1 (63 when I + 1 wraps to 0), and multiplication by K2 is
// linear, T(I + 1) = T(I) XOR Step[k]: one 16-byte XOR per block instead of a field multiplication.
struct GF128_LRW_STEPS {
    uint8_t Step[64][16];
};

static_assert(sizeof(GF128_LRW_TABLE) == 4096, "LRW table is 4096 bytes");
static_assert(sizeof(GF128_LRW_STEPS) == 1024, "LRW steps are 1024 bytes");

// Builds the table and the steps for the tweak key K2 (16 bytes). The construction needs no working memory of
// its own and always succeeds; it returns false only for null arguments. Intermediate key multiples are wiped.
bool Gf128BuildLrwTable(const uint8_t key[16], GF128_LRW_TABLE* table, GF128_LRW_STEPS* steps);

// out = K2 times the block index, by the table: the XOR of the entries selected by the 16 nibbles of the index
// (index bytes that are zero are skipped; their entries are zero).
void Gf128LrwTweak(const GF128_LRW_TABLE* table, uint64_t index, uint8_t out[16]);

// Number of the step to XOR into T(I) to get T(I + 1) (see GF128_LRW_STEPS).
inline unsigned Gf128LrwStepIndex(uint64_t nextIndex) {
    return nextIndex == 0 ? 63u : static_cast<unsigned>(std::countr_zero(nextIndex));
}
