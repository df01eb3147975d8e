// References for the volume crypto tests that do not use the code under test: a bit-by-bit GF(2^128)
// multiplication written from the field definition, OpenSSL's AES-256 in the process's default
// library context (ECB block by block, CBC as a whole), a bit-at-a-time CRC-32 written from the IEEE 802.3
// definition, and HMAC/PBKDF2 written from RFC 2104 and RFC 2898 over OpenSSL's bare hash functions.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include "driver/Crypto.h"

namespace ref {

using Block = std::array<uint8_t, 16>;
using Bytes = std::vector<uint8_t>;

inline Bytes RandomBytes(std::mt19937_64& rng, size_t n) {
    Bytes b(n);
    for (auto& x : b) {
        x = static_cast<uint8_t>(rng());
    }
    return b;
}

inline Bytes Hex(const std::string& hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        b.push_back(static_cast<uint8_t>(std::stoul(hex.substr(i, 2), nullptr, 16)));
    }
    return b;
}

// ---- GF(2^128), from the definition: 16 bytes read as a big-endian integer, bit k = coefficient of x^k.
inline bool Coefficient(const Block& a, int k) {
    return (a[15 - k / 8] >> (k % 8)) & 1;
}

inline Block GfMul(const Block& a, const Block& b) {
    uint8_t product[255] = {};
    for (int i = 0; i < 128; ++i) {
        if (!Coefficient(a, i)) {
            continue;
        }
        for (int j = 0; j < 128; ++j) {
            if (Coefficient(b, j)) {
                product[i + j] ^= 1;
            }
        }
    }
    // x^128 = x^7 + x^2 + x + 1
    for (int d = 254; d >= 128; --d) {
        if (product[d]) {
            product[d] = 0;
            product[d - 128 + 7] ^= 1;
            product[d - 128 + 2] ^= 1;
            product[d - 128 + 1] ^= 1;
            product[d - 128] ^= 1;
        }
    }
    Block r{};
    for (int k = 0; k < 128; ++k) {
        if (product[k]) {
            r[15 - k / 8] |= static_cast<uint8_t>(1u << (k % 8));
        }
    }
    return r;
}

// The LRW block index as an element: first 8 bytes zero, last 8 the index big-endian.
inline Block IndexElement(uint64_t index) {
    Block r{};
    for (int b = 0; b < 8; ++b) {
        r[8 + b] = static_cast<uint8_t>(index >> (56 - 8 * b));
    }
    return r;
}

inline Block ToBlock(const uint8_t* p) {
    Block b;
    std::memcpy(b.data(), p, 16);
    return b;
}

// ---- AES-256 from OpenSSL's default context.
inline void AesEcb(const uint8_t key[32], uint8_t* data, size_t length, bool encrypt) {
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_CipherInit_ex(c, EVP_aes_256_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(c, 0);
    for (size_t i = 0; i < length; i += 16) { // one call per block: plain FIPS 197 on each
        int out = 0;
        ASSERT_EQ(EVP_CipherUpdate(c, data + i, &out, data + i, 16), 1);
        ASSERT_EQ(out, 16);
    }
    EVP_CIPHER_CTX_free(c);
}

inline void AesCbc(const uint8_t key[32], const uint8_t iv[16], uint8_t* data, size_t length, bool encrypt) {
    EVP_CIPHER_CTX* c = EVP_CIPHER_CTX_new();
    ASSERT_EQ(EVP_CipherInit_ex(c, EVP_aes_256_cbc(), nullptr, key, iv, encrypt ? 1 : 0), 1);
    EVP_CIPHER_CTX_set_padding(c, 0);
    int out = 0;
    ASSERT_EQ(EVP_CipherUpdate(c, data, &out, data, static_cast<int>(length)), 1);
    ASSERT_EQ(static_cast<size_t>(out), length);
    EVP_CIPHER_CTX_free(c);
}

// ---- LRW by the definition: T_j = K2 * (n + j); C = E(P ^ T) ^ T.
inline void Lrw(const uint8_t key[32], const uint8_t k2[16], uint8_t* data, size_t length, uint64_t index,
                bool encrypt) {
    const Block key2 = ToBlock(k2);
    for (size_t i = 0; i < length; i += 16, ++index) {
        const Block t = GfMul(key2, IndexElement(index));
        for (int b = 0; b < 16; ++b) {
            data[i + b] ^= t[b];
        }
        AesEcb(key, data + i, 16, encrypt);
        for (int b = 0; b < 16; ++b) {
            data[i + b] ^= t[b];
        }
    }
}

// CRC-32 (IEEE 802.3) one bit at a time: reflected polynomial 0xEDB88320, initial value and final XOR all ones.
inline uint32_t Crc(const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; ++i) {
        crc ^= p[i];
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1u) ? 0xEDB88320u : 0u);
        }
    }
    return ~crc;
}

// ---- CBC sector seeds by the definition.
struct CbcSeeds {
    uint8_t Iv[16];
    uint8_t W[8];
};

inline CbcSeeds SectorSeeds(const uint8_t secondaryKey[32], uint64_t sector) {
    uint8_t t[32];
    std::memcpy(t, secondaryKey, 32);
    for (int q = 0; q < 4; ++q) {
        for (int b = 0; b < 8; ++b) {
            t[8 * q + b] ^= static_cast<uint8_t>(sector >> (8 * b));
        }
    }
    CbcSeeds s;
    std::memcpy(s.Iv, t, 16);
    const uint32_t w0 = Crc(t + 16, 4) ^ Crc(t + 28, 4);
    const uint32_t w1 = Crc(t + 20, 4) ^ Crc(t + 24, 4);
    for (int b = 0; b < 4; ++b) {
        s.W[b] = static_cast<uint8_t>(w0 >> (8 * b));
        s.W[4 + b] = static_cast<uint8_t>(w1 >> (8 * b));
    }
    return s;
}

inline void Whiten(uint8_t* data, size_t length, const uint8_t w[8]) {
    for (size_t i = 0; i < length; ++i) {
        data[i] ^= w[i % 8];
    }
}

// CBC with whitening, one sector, by the definition: OpenSSL's CBC for the chaining, then the whitening.
inline void CbcSector(const uint8_t key[32], const uint8_t secondaryKey[32], uint64_t sector, uint8_t* data,
                      bool encrypt) {
    const CbcSeeds s = SectorSeeds(secondaryKey, sector);
    if (encrypt) {
        AesCbc(key, s.Iv, data, 512, true);
        Whiten(data, 512, s.W);
    } else {
        Whiten(data, 512, s.W);
        AesCbc(key, s.Iv, data, 512, false);
    }
}

// ---- HMAC (RFC 2104) and PBKDF2 (RFC 2898) over a bare hash.
// A library context of the test's own with the providers named; the providers are unloaded before the context
// is freed.
class LibCtx {
public:
    explicit LibCtx(std::initializer_list<const char*> providers) : ctx_(OSSL_LIB_CTX_new()) {
        for (const char* p : providers) {
            if (OSSL_PROVIDER* loaded = OSSL_PROVIDER_load(ctx_, p)) {
                providers_.push_back(loaded);
            }
        }
    }
    ~LibCtx() {
        for (OSSL_PROVIDER* p : providers_) {
            OSSL_PROVIDER_unload(p);
        }
        OSSL_LIB_CTX_free(ctx_);
    }
    LibCtx(const LibCtx&) = delete;
    LibCtx& operator=(const LibCtx&) = delete;
    OSSL_LIB_CTX* get() const { return ctx_; }

private:
    OSSL_LIB_CTX* ctx_;
    std::vector<OSSL_PROVIDER*> providers_;
};

inline Bytes Hash(OSSL_LIB_CTX* ctx, const char* name, const Bytes& data) {
    EVP_MD* md = EVP_MD_fetch(ctx, name, nullptr);
    EXPECT_NE(md, nullptr) << name;
    if (md == nullptr) {
        return {};
    }
    Bytes out(EVP_MD_get_size(md));
    unsigned int len = 0;
    EXPECT_EQ(EVP_Digest(data.data(), data.size(), out.data(), &len, md, nullptr), 1);
    EVP_MD_free(md);
    return out;
}

inline Bytes Hmac(OSSL_LIB_CTX* ctx, const char* name, Bytes key, const Bytes& message) {
    constexpr size_t blockSize = 64; // SHA-1, RIPEMD-160 and Whirlpool all hash 64-byte blocks
    if (key.size() > blockSize) {
        key = Hash(ctx, name, key);
    }
    key.resize(blockSize, 0);
    Bytes inner(blockSize);
    Bytes outer(blockSize);
    for (size_t i = 0; i < blockSize; ++i) {
        inner[i] = key[i] ^ 0x36;
        outer[i] = key[i] ^ 0x5C;
    }
    inner.insert(inner.end(), message.begin(), message.end());
    const Bytes innerHash = Hash(ctx, name, inner);
    outer.insert(outer.end(), innerHash.begin(), innerHash.end());
    return Hash(ctx, name, outer);
}

inline Bytes Pbkdf2(OSSL_LIB_CTX* ctx, const char* name, const Bytes& password, const Bytes& salt, uint32_t iterations,
                    size_t length) {
    Bytes dk;
    for (uint32_t block = 1; dk.size() < length; ++block) {
        Bytes message(salt.size() + 4);
        std::copy(salt.begin(), salt.end(), message.begin());
        for (int b = 0; b < 4; ++b) {
            message[salt.size() + b] = static_cast<uint8_t>(block >> (24 - 8 * b));
        }
        Bytes u = Hmac(ctx, name, password, message);
        uint8_t t[64] = {}; // the largest digest (Whirlpool)
        const size_t n = std::min(u.size(), sizeof(t));
        std::memcpy(t, u.data(), n);
        for (uint32_t i = 1; i < iterations; ++i) {
            u = Hmac(ctx, name, password, u);
            for (size_t b = 0; b < n; ++b) {
                t[b] ^= u[b];
            }
        }
        dk.insert(dk.end(), t, t + n);
    }
    dk.resize(length);
    return dk;
}

// ---- Crypto contexts keyed directly, for the sector tests.
struct InfoDeleter {
    void operator()(CRYPTO_INFO* ci) const { CryptoFree(ci); }
};
using Info = std::unique_ptr<CRYPTO_INFO, InfoDeleter>;

inline Info MakeInfo(const uint8_t key[32], const uint8_t secondaryKey[32], uint32_t mode) {
    Info ci(CryptoAlloc());
    EXPECT_NE(ci, nullptr);
    if (ci == nullptr) {
        return ci;
    }
    EXPECT_EQ(CryptoInitKeys(ci.get(), EA_AES, key), VOLUME_OK);
    CryptoLoadSecondaryKey(ci.get(), secondaryKey);
    EXPECT_TRUE(CryptoBuildLrwTable(ci.get()));
    ci->Mode = mode;
    return ci;
}

} // namespace ref
