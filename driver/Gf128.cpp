#include "driver/Gf128.h"

#include <cstring>

#include <openssl/crypto.h>

namespace {

struct Element {
    uint64_t Hi; // bytes 0..7, big-endian: coefficients of x^127 .. x^64
    uint64_t Lo; // bytes 8..15, big-endian: coefficients of x^63 .. x^0
};

uint64_t LoadBe64(const uint8_t* p) {
    uint64_t v = 0;
    for (int i = 0; i < 8; ++i) {
        v = (v << 8) | p[i];
    }
    return v;
}

void StoreBe64(uint8_t* p, uint64_t v) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

Element Load(const uint8_t* p) {
    return Element{LoadBe64(p), LoadBe64(p + 8)};
}

void Store(uint8_t* p, const Element& e) {
    StoreBe64(p, e.Hi);
    StoreBe64(p + 8, e.Lo);
}

// Multiplication by x: shift towards the high end; a coefficient of x^128 shifted out is reduced as
// x^7 + x^2 + x + 1 (0x87).
Element MulX(const Element& a) {
    const uint64_t carry = a.Hi >> 63;
    Element r;
    r.Hi = (a.Hi << 1) | (a.Lo >> 63);
    r.Lo = (a.Lo << 1) ^ (carry * 0x87u);
    return r;
}

} // namespace

bool Gf128BuildLrwTable(const uint8_t key[16], GF128_LRW_TABLE* table, GF128_LRW_STEPS* steps) {
    if (key == nullptr || table == nullptr || steps == nullptr) {
        return false;
    }

    // powers[k] = K2 * x^k for the 64 bit positions an index can occupy.
    Element powers[64];
    powers[0] = Load(key);
    for (int k = 1; k < 64; ++k) {
        powers[k] = MulX(powers[k - 1]);
    }

    for (int j = 0; j < 8; ++j) {
        for (int h = 0; h < 2; ++h) {
            const int base = (7 - j) * 8 + 4 * h; // bit position of the nibble's lowest bit in the index
            for (int n = 0; n < 16; ++n) {
                Element e{0, 0};
                for (int b = 0; b < 4; ++b) {
                    if ((n >> b) & 1) {
                        e.Hi ^= powers[base + b].Hi;
                        e.Lo ^= powers[base + b].Lo;
                    }
                }
                Store(table->Entry[2 * j + h][n], e);
            }
        }
    }

    Element acc{0, 0};
    for (int k = 0; k < 64; ++k) {
        acc.Hi ^= powers[k].Hi;
        acc.Lo ^= powers[k].Lo;
        Store(steps->Step[k], acc);
    }

    OPENSSL_cleanse(powers, sizeof(powers));
    OPENSSL_cleanse(&acc, sizeof(acc));
    return true;
}

void Gf128LrwTweak(const GF128_LRW_TABLE* table, uint64_t index, uint8_t out[16]) {
    uint64_t t0 = 0;
    uint64_t t1 = 0;
    for (int j = 0; j < 8; ++j) {
        const unsigned byte = static_cast<unsigned>(index >> (8 * (7 - j))) & 0xFFu;
        if (byte == 0) {
            continue;
        }
        uint64_t lo[2];
        uint64_t hi[2];
        std::memcpy(lo, table->Entry[2 * j][byte & 0x0F], 16);
        std::memcpy(hi, table->Entry[2 * j + 1][byte >> 4], 16);
        t0 ^= lo[0] ^ hi[0];
        t1 ^= lo[1] ^ hi[1];
    }
    std::memcpy(out, &t0, 8);
    std::memcpy(out + 8, &t1, 8);
}
