// An independent reader of the secure disk's on-disk format for the tests: OpenSSL's AES-256 and PBKDF2 and the
// format's own definitions written out here, nothing of the driver. It opens a volume header with a password and
// decrypts data sectors with the volume's master key.
#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace volumereader {

using Bytes = std::vector<uint8_t>;

struct U128 {
    uint64_t hi = 0;
    uint64_t lo = 0;
};

inline U128 Load(const uint8_t* p) {
    U128 v;
    for (int i = 0; i < 8; ++i) {
        v.hi = (v.hi << 8) | p[i];
        v.lo = (v.lo << 8) | p[8 + i];
    }
    return v;
}

inline void Store(U128 v, uint8_t* p) {
    for (int i = 7; i >= 0; --i) {
        p[i] = static_cast<uint8_t>(v.hi);
        p[8 + i] = static_cast<uint8_t>(v.lo);
        v.hi >>= 8;
        v.lo >>= 8;
    }
}

// Product in GF(2^128): bit k of the big-endian integer is the coefficient of x^k, modulo x^128 + x^7 + x^2 + x + 1.
inline U128 Multiply(U128 a, U128 b) {
    U128 result;
    for (int bit = 0; bit < 128; ++bit) {
        const bool set = bit < 64 ? (b.lo >> bit) & 1 : (b.hi >> (bit - 64)) & 1;
        if (set) {
            result.hi ^= a.hi;
            result.lo ^= a.lo;
        }
        const bool carry = a.hi >> 63;
        a.hi = (a.hi << 1) | (a.lo >> 63);
        a.lo <<= 1;
        if (carry)
            a.lo ^= 0x87;
    }
    return result;
}

inline Bytes AesEcb(const uint8_t* key, const uint8_t* data, size_t size, bool encrypt) {
    Bytes out(size + 16);
    EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
    EVP_CipherInit_ex(context, EVP_aes_256_ecb(), nullptr, key, nullptr, encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(context, 0);
    int length = 0;
    EVP_CipherUpdate(context, out.data(), &length, data, static_cast<int>(size));
    EVP_CIPHER_CTX_free(context);
    out.resize(size);
    return out;
}

// LRW decryption of whole blocks starting at block index `first`.
inline Bytes LrwDecrypt(const uint8_t* key, const uint8_t* k2, const uint8_t* data, size_t size, uint64_t first) {
    Bytes out(data, data + size);
    const U128 tweakKey = Load(k2);
    for (size_t block = 0; block < size / 16; ++block) {
        U128 index;
        index.lo = first + block;
        uint8_t tweak[16];
        Store(Multiply(tweakKey, index), tweak);
        uint8_t in[16];
        for (int i = 0; i < 16; ++i)
            in[i] = out[block * 16 + i] ^ tweak[i];
        const Bytes plain = AesEcb(key, in, 16, false);
        for (int i = 0; i < 16; ++i)
            out[block * 16 + i] = plain[i] ^ tweak[i];
    }
    return out;
}

inline uint32_t Crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFF;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

struct DecodedVolume {
    bool opened = false;
    uint16_t requiredVersion = 0;
    Bytes keyArea;
};

// Opens a header written by the driver: PBKDF2-HMAC-SHA-1 (2000 rounds) and LRW from block index 1.
inline DecodedVolume DecodeHeader(const Bytes& image, const std::string& password) {
    DecodedVolume volume;
    uint8_t derived[64];
    PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), image.data(), 64, 2000, EVP_sha1(), 64,
                      derived);
    const Bytes plain = LrwDecrypt(derived + 32, derived, image.data() + 64, 448, 1);
    if (memcmp(plain.data(), "Zentra", 6) != 0)
        return volume;
    volume.requiredVersion = static_cast<uint16_t>(plain[8] << 8 | plain[9]);
    const uint32_t crc = static_cast<uint32_t>(plain[10]) << 24 | plain[11] << 16 | plain[12] << 8 | plain[13];
    volume.keyArea.assign(plain.begin() + 192, plain.end());
    volume.opened = crc == Crc32(volume.keyArea.data(), volume.keyArea.size());
    return volume;
}

// Decrypts one data sector of the image with the volume's master key (sector number = image offset / 512).
inline Bytes DecryptSector(const Bytes& image, const DecodedVolume& volume, uint64_t sector) {
    return LrwDecrypt(volume.keyArea.data() + 32, volume.keyArea.data(), image.data() + sector * 512, 512,
                      (sector - 1) * 32 + 1);
}

} // namespace volumereader
