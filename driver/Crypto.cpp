#include "driver/Crypto.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>

#include "driver/Crc.h"
#include "driver/CryptoLibrary.h"

// ---------------------------------------------------------------------------------------------------------------
// Tables of the crypto layer

namespace {

const CRYPTO_CIPHER_INFO kCiphers[] = {
    {CIPHER_AES, "AES", 16, 32, 488},
};

struct AlgorithmInfo {
    uint32_t Id;
    uint32_t Ciphers[4]; // zero-terminated
    uint32_t Modes[4];   // zero-terminated, in trial order
};

const AlgorithmInfo kAlgorithms[] = {
    {EA_AES, {CIPHER_AES, 0, 0, 0}, {MODE_LRW, MODE_CBC, 0, 0}},
};

const AlgorithmInfo* FindAlgorithm(uint32_t id) {
    for (const AlgorithmInfo& a : kAlgorithms) {
        if (a.Id == id) {
            return &a;
        }
    }
    return nullptr;
}

} // namespace

uint32_t CryptoFirstAlgorithm() {
    return kAlgorithms[0].Id;
}

uint32_t CryptoNextAlgorithm(uint32_t algorithm) {
    for (size_t i = 0; i + 1 < std::size(kAlgorithms); ++i) {
        if (kAlgorithms[i].Id == algorithm) {
            return kAlgorithms[i + 1].Id;
        }
    }
    return 0;
}

uint32_t CryptoAlgorithmCipher(uint32_t algorithm, uint32_t index) {
    const AlgorithmInfo* a = FindAlgorithm(algorithm);
    if (a == nullptr || index >= std::size(a->Ciphers)) {
        return 0;
    }
    return a->Ciphers[index];
}

uint32_t CryptoAlgorithmKeySize(uint32_t algorithm) {
    const AlgorithmInfo* a = FindAlgorithm(algorithm);
    if (a == nullptr) {
        return 0;
    }
    uint32_t size = 0;
    for (uint32_t i = 0; i < std::size(a->Ciphers) && a->Ciphers[i] != 0; ++i) {
        const CRYPTO_CIPHER_INFO* c = CryptoCipherInfo(a->Ciphers[i]);
        size += c != nullptr ? c->KeySize : 0;
    }
    return size;
}

uint32_t CryptoFirstMode(uint32_t algorithm) {
    const AlgorithmInfo* a = FindAlgorithm(algorithm);
    return a != nullptr ? a->Modes[0] : 0;
}

uint32_t CryptoNextMode(uint32_t algorithm, uint32_t mode) {
    const AlgorithmInfo* a = FindAlgorithm(algorithm);
    if (a == nullptr) {
        return 0;
    }
    for (size_t i = 0; i + 1 < std::size(a->Modes) && a->Modes[i] != 0; ++i) {
        if (a->Modes[i] == mode) {
            return a->Modes[i + 1];
        }
    }
    return 0;
}

const CRYPTO_CIPHER_INFO* CryptoCipherInfo(uint32_t cipher) {
    for (const CRYPTO_CIPHER_INFO& c : kCiphers) {
        if (c.Id == cipher) {
            return &c;
        }
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------------------------------
// Memory

namespace {

void* DefaultAlloc(size_t size) {
    return std::malloc(size);
}

void DefaultFree(void* memory, size_t) {
    std::free(memory);
}

std::atomic<VolumeAllocFunction> g_alloc{DefaultAlloc};
std::atomic<VolumeFreeFunction> g_free{DefaultFree};

} // namespace

void VolumeSetAllocator(VolumeAllocFunction allocate, VolumeFreeFunction release) {
    g_alloc.store(allocate != nullptr ? allocate : DefaultAlloc);
    g_free.store(release != nullptr ? release : DefaultFree);
}

void* VolumeAlloc(size_t size) {
    return g_alloc.load()(size);
}

void VolumeFree(void* memory, size_t size) {
    if (memory != nullptr) {
        g_free.load()(memory, size);
    }
}

// ---------------------------------------------------------------------------------------------------------------
// Context and keys

CRYPTO_INFO* CryptoAlloc() {
    if (!CryptoLibraryInit()) {
        return nullptr;
    }
    auto* ci = static_cast<CRYPTO_INFO*>(VolumeAlloc(sizeof(CRYPTO_INFO)));
    if (ci == nullptr) {
        return nullptr;
    }
    std::memset(ci, 0, sizeof(*ci));
    ci->Algorithm = CRYPTO_EA_NEW;
    ci->KeySchedule.EcbEncrypt = EVP_CIPHER_CTX_new();
    ci->KeySchedule.EcbDecrypt = EVP_CIPHER_CTX_new();
    ci->KeySchedule.CbcEncrypt = EVP_CIPHER_CTX_new();
    ci->KeySchedule.CbcDecrypt = EVP_CIPHER_CTX_new();
    if (ci->KeySchedule.EcbEncrypt == nullptr || ci->KeySchedule.EcbDecrypt == nullptr ||
        ci->KeySchedule.CbcEncrypt == nullptr || ci->KeySchedule.CbcDecrypt == nullptr) {
        CryptoFree(ci);
        return nullptr;
    }
    return ci;
}

void CryptoFree(CRYPTO_INFO* ci) {
    if (ci == nullptr) {
        return;
    }
    // The library's cipher contexts wipe their key schedules when freed.
    EVP_CIPHER_CTX_free(ci->KeySchedule.EcbEncrypt);
    EVP_CIPHER_CTX_free(ci->KeySchedule.EcbDecrypt);
    EVP_CIPHER_CTX_free(ci->KeySchedule.CbcEncrypt);
    EVP_CIPHER_CTX_free(ci->KeySchedule.CbcDecrypt);
    CryptoBurn(ci, sizeof(*ci));
    VolumeFree(ci, sizeof(*ci));
}

CRYPTO_INFO* CryptoClone(const CRYPTO_INFO* ci) {
    if (ci == nullptr) {
        return nullptr;
    }
    CRYPTO_INFO* copy = CryptoAlloc();
    if (copy == nullptr) {
        return nullptr;
    }
    const CRYPTO_KEY_SCHEDULE own = copy->KeySchedule;
    std::memcpy(copy, ci, sizeof(*copy));
    copy->KeySchedule = own;
    const CRYPTO_KEY_SCHEDULE& from = ci->KeySchedule;
    if (EVP_CIPHER_CTX_copy(own.EcbEncrypt, from.EcbEncrypt) != 1 ||
        EVP_CIPHER_CTX_copy(own.EcbDecrypt, from.EcbDecrypt) != 1 ||
        EVP_CIPHER_CTX_copy(own.CbcEncrypt, from.CbcEncrypt) != 1 ||
        EVP_CIPHER_CTX_copy(own.CbcDecrypt, from.CbcDecrypt) != 1) {
        CryptoFree(copy);
        return nullptr;
    }
    return copy;
}

namespace {

bool KeyCipher(EVP_CIPHER_CTX* c, const EVP_CIPHER* cipher, const uint8_t* key, int encrypt) {
    return c != nullptr && cipher != nullptr && EVP_CipherInit_ex2(c, cipher, key, nullptr, encrypt, nullptr) == 1 &&
           EVP_CIPHER_CTX_set_padding(c, 0) == 1;
}

} // namespace

int CryptoInitKeys(CRYPTO_INFO* ci, uint32_t algorithm, const uint8_t* key) {
    if (ci == nullptr || key == nullptr || FindAlgorithm(algorithm) == nullptr) {
        return VOLUME_ERR_CIPHER_INIT;
    }
    // Algorithm 1 is AES alone; further algorithms would key their ciphers from consecutive key bytes here.
    const EVP_CIPHER* ecb = CryptoAes256Ecb();
    const EVP_CIPHER* cbc = CryptoAes256Cbc();
    CRYPTO_KEY_SCHEDULE& ks = ci->KeySchedule;
    if (!KeyCipher(ks.EcbEncrypt, ecb, key, 1) || !KeyCipher(ks.EcbDecrypt, ecb, key, 0) ||
        !KeyCipher(ks.CbcEncrypt, cbc, key, 1) || !KeyCipher(ks.CbcDecrypt, cbc, key, 0)) {
        ci->Algorithm = CRYPTO_EA_NEW;
        return VOLUME_ERR_CIPHER_INIT;
    }
    ci->Algorithm = algorithm;
    return VOLUME_OK;
}

void CryptoLoadSecondaryKey(CRYPTO_INFO* ci, const uint8_t key[CRYPTO_SECONDARY_KEY_SIZE]) {
    std::memcpy(ci->SecondaryKey, key, CRYPTO_SECONDARY_KEY_SIZE);
}

bool CryptoBuildLrwTable(CRYPTO_INFO* ci) {
    return ci != nullptr && Gf128BuildLrwTable(ci->SecondaryKey, &ci->LrwTable, &ci->LrwSteps);
}

// ---------------------------------------------------------------------------------------------------------------
// LRW (mode 1)

namespace {

// Blocks handed to the library in one call: the run is XORed with its tweaks, encrypted or decrypted as a whole
// (the library pipelines the blocks), and XORed again. 64 KiB stays in the core's cache between the passes.
constexpr uint64_t kLrwChunkBlocks = 4096;

// XORs every block of the run (read from `in`, written to `out`, which may be the same) with its tweak
// T(index + b). T(index) comes from the table; each next tweak is one XOR with a precomputed step.
void LrwXorTweaks(const uint8_t* in, uint8_t* out, uint64_t blocks, uint64_t index, const CRYPTO_INFO* ci) {
    uint8_t first[16];
    Gf128LrwTweak(&ci->LrwTable, index, first);
    uint64_t t0;
    uint64_t t1;
    std::memcpy(&t0, first, 8);
    std::memcpy(&t1, first + 8, 8);
    for (uint64_t b = 0; b < blocks; ++b, in += 16, out += 16) {
        uint64_t d0;
        uint64_t d1;
        std::memcpy(&d0, in, 8);
        std::memcpy(&d1, in + 8, 8);
        d0 ^= t0;
        d1 ^= t1;
        std::memcpy(out, &d0, 8);
        std::memcpy(out + 8, &d1, 8);
        ++index;
        const uint8_t* step = ci->LrwSteps.Step[Gf128LrwStepIndex(index)];
        uint64_t s0;
        uint64_t s1;
        std::memcpy(&s0, step, 8);
        std::memcpy(&s1, step + 8, 8);
        t0 ^= s0;
        t1 ^= s1;
    }
    OPENSSL_cleanse(first, sizeof(first));
}

// The run of `blocks` at `data`, taken from `source` when it is not null (the copy is the first pass's reading).
bool LrwRun(const uint8_t* source, uint8_t* data, uint64_t blocks, uint64_t index, CRYPTO_INFO* ci, bool encrypt) {
    EVP_CIPHER_CTX* c = encrypt ? ci->KeySchedule.EcbEncrypt : ci->KeySchedule.EcbDecrypt;
    while (blocks > 0) {
        const uint64_t n = std::min(blocks, kLrwChunkBlocks);
        const int bytes = static_cast<int>(n * CRYPTO_BLOCK_SIZE);
        LrwXorTweaks(source ? source : data, data, n, index, ci);
        if (source)
            source += bytes;
        int out = 0;
        if (EVP_CipherUpdate(c, data, &out, data, bytes) != 1 || out != bytes) {
            return false;
        }
        LrwXorTweaks(data, data, n, index, ci);
        data += bytes;
        index += n;
        blocks -= n;
    }
    return true;
}

// ---------------------------------------------------------------------------------------------------------------
// CBC with whitening (mode 2)

// IV and whitening of one sector: t = secondary key with each 8-byte quarter XORed with the sector number
// (8 bytes little-endian); IV = t[0..15]; W = LE32(CRC(t[16..19]) ^ CRC(t[28..31])) ||
// LE32(CRC(t[20..23]) ^ CRC(t[24..27])), doubled to a 16-byte block.
void CbcSectorSeeds(const CRYPTO_INFO* ci, uint64_t sector, uint8_t iv[16], uint8_t whitening[16]) {
    uint8_t t[CRYPTO_SECONDARY_KEY_SIZE];
    std::memcpy(t, ci->SecondaryKey, sizeof(t));
    for (int q = 0; q < 4; ++q) {
        for (int b = 0; b < 8; ++b) {
            t[8 * q + b] ^= static_cast<uint8_t>(sector >> (8 * b));
        }
    }
    std::memcpy(iv, t, 16);
    const uint32_t w0 = Crc32(t + 16, 4) ^ Crc32(t + 28, 4);
    const uint32_t w1 = Crc32(t + 20, 4) ^ Crc32(t + 24, 4);
    for (int b = 0; b < 4; ++b) {
        whitening[b] = whitening[8 + b] = static_cast<uint8_t>(w0 >> (8 * b));
        whitening[4 + b] = whitening[12 + b] = static_cast<uint8_t>(w1 >> (8 * b));
    }
    OPENSSL_cleanse(t, sizeof(t));
}

void XorBlock(uint8_t* data, const uint8_t* with) {
    uint64_t d[2];
    uint64_t w[2];
    std::memcpy(d, data, 16);
    std::memcpy(w, with, 16);
    d[0] ^= w[0];
    d[1] ^= w[1];
    std::memcpy(data, d, 16);
}

void Whiten(uint8_t* data, uint64_t length, const uint8_t whitening[16]) {
    for (uint64_t i = 0; i < length; i += 16) {
        XorBlock(data + i, whitening);
    }
}

bool CbcUpdate(EVP_CIPHER_CTX* c, uint8_t* data, uint64_t length) {
    const int bytes = static_cast<int>(length);
    int out = 0;
    return EVP_CipherUpdate(c, data, &out, data, bytes) == 1 && out == bytes;
}

bool SetIv(EVP_CIPHER_CTX* c, const uint8_t iv[16], int encrypt) {
    return EVP_CipherInit_ex2(c, nullptr, nullptr, iv, encrypt, nullptr) == 1;
}

// CBC encryption is serial within a sector, so one sector alone is bound by the latency of AES. Up to
// kCbcEncryptGroup sectors are therefore encrypted side by side: step j gathers block j of every sector of the
// group, XORed with that sector's chaining value, and encrypts the gathered blocks in one library call (where the
// blocks are pipelined); the results become the chaining values and, whitened, the ciphertext.
constexpr uint64_t kCbcEncryptGroup = 16;

bool CbcEncryptSectors(uint8_t* data, uint64_t sector, uint64_t count, CRYPTO_INFO* ci) {
    EVP_CIPHER_CTX* c = ci->KeySchedule.EcbEncrypt;
    constexpr uint64_t kBlocks = ZENTRA_SECTOR_SIZE / CRYPTO_BLOCK_SIZE;
    uint8_t chain[kCbcEncryptGroup][16]; // IV, then the last (unwhitened) ciphertext block of each sector
    uint8_t whitening[kCbcEncryptGroup][16];
    uint8_t gathered[kCbcEncryptGroup][16];
    bool ok = true;
    while (count > 0 && ok) {
        const uint64_t n = std::min(count, kCbcEncryptGroup);
        for (uint64_t g = 0; g < n; ++g) {
            CbcSectorSeeds(ci, sector + g, chain[g], whitening[g]);
        }
        const int bytes = static_cast<int>(n * CRYPTO_BLOCK_SIZE);
        for (uint64_t j = 0; j < kBlocks && ok; ++j) {
            for (uint64_t g = 0; g < n; ++g) {
                std::memcpy(gathered[g], data + g * ZENTRA_SECTOR_SIZE + j * CRYPTO_BLOCK_SIZE, 16);
                XorBlock(gathered[g], chain[g]);
            }
            int out = 0;
            ok = EVP_CipherUpdate(c, gathered[0], &out, gathered[0], bytes) == 1 && out == bytes;
            for (uint64_t g = 0; g < n; ++g) {
                uint8_t* block = data + g * ZENTRA_SECTOR_SIZE + j * CRYPTO_BLOCK_SIZE;
                std::memcpy(chain[g], gathered[g], 16);
                std::memcpy(block, gathered[g], 16);
                XorBlock(block, whitening[g]);
            }
        }
        data += n * ZENTRA_SECTOR_SIZE;
        sector += n;
        count -= n;
    }
    OPENSSL_cleanse(chain, sizeof(chain));
    OPENSSL_cleanse(whitening, sizeof(whitening));
    OPENSSL_cleanse(gathered, sizeof(gathered));
    return ok;
}

// Decryption runs over many sectors in one library call (CBC decryption is parallel): whiten every sector, keep
// for each sector after the first the correction X_last(k-1) ^ IV(k) of its first block, decrypt the run as one
// CBC chain from the first sector's IV, then apply the corrections.
constexpr uint64_t kCbcChunkSectors = 128;

bool CbcDecryptSectors(uint8_t* data, uint64_t sector, uint64_t count, CRYPTO_INFO* ci) {
    EVP_CIPHER_CTX* c = ci->KeySchedule.CbcDecrypt;
    uint8_t fix[kCbcChunkSectors][16];
    uint8_t iv[16];
    uint8_t first[16];
    uint8_t whitening[16];
    bool ok = true;
    while (count > 0 && ok) {
        const uint64_t n = std::min(count, kCbcChunkSectors);
        for (uint64_t k = 0; k < n; ++k) {
            uint8_t* s = data + k * ZENTRA_SECTOR_SIZE;
            CbcSectorSeeds(ci, sector + k, k == 0 ? first : iv, whitening);
            Whiten(s, ZENTRA_SECTOR_SIZE, whitening);
            if (k > 0) {
                std::memcpy(fix[k], s - 16, 16);
                XorBlock(fix[k], iv);
            }
        }
        ok = SetIv(c, first, 0) && CbcUpdate(c, data, n * ZENTRA_SECTOR_SIZE);
        for (uint64_t k = 1; k < n && ok; ++k) {
            XorBlock(data + k * ZENTRA_SECTOR_SIZE, fix[k]);
        }
        data += n * ZENTRA_SECTOR_SIZE;
        sector += n;
        count -= n;
    }
    OPENSSL_cleanse(fix, sizeof(fix));
    OPENSSL_cleanse(iv, sizeof(iv));
    OPENSSL_cleanse(first, sizeof(first));
    OPENSSL_cleanse(whitening, sizeof(whitening));
    return ok;
}

// Header form: one run, IV = secondary key bytes 0..15, W = bytes 8..15.
bool CbcBuffer(uint8_t* data, uint64_t length, CRYPTO_INFO* ci, bool encrypt) {
    uint8_t whitening[16];
    std::memcpy(whitening, ci->SecondaryKey + 8, 8);
    std::memcpy(whitening + 8, ci->SecondaryKey + 8, 8);
    bool ok;
    if (encrypt) {
        ok = SetIv(ci->KeySchedule.CbcEncrypt, ci->SecondaryKey, 1) &&
             CbcUpdate(ci->KeySchedule.CbcEncrypt, data, length);
        Whiten(data, length, whitening);
    } else {
        Whiten(data, length, whitening);
        ok = SetIv(ci->KeySchedule.CbcDecrypt, ci->SecondaryKey, 0) &&
             CbcUpdate(ci->KeySchedule.CbcDecrypt, data, length);
    }
    OPENSSL_cleanse(whitening, sizeof(whitening));
    return ok;
}

// Largest run handed over in one piece by the buffer routines (the library takes int lengths).
constexpr uint64_t kMaxBufferLength = 1u << 30;

bool Keyed(const CRYPTO_INFO* ci) {
    return ci != nullptr && ci->Algorithm != CRYPTO_EA_NEW;
}

// Transforms the sectors at `buffer` in place, or those at `source` into `buffer` when it is not null.
bool TransformSectors(const uint8_t* source, uint8_t* buffer, uint64_t firstSector, uint64_t length,
                      CRYPTO_INFO* ci, bool encrypt) {
    if (!Keyed(ci) || length % ZENTRA_SECTOR_SIZE != 0 || (buffer == nullptr && length != 0)) {
        return false;
    }
    const uint64_t count = length / ZENTRA_SECTOR_SIZE;
    switch (ci->Mode) {
    case MODE_LRW: {
        // Sector s covers the block indexes (s - 1) * 32 + 1 to s * 32 (u64, wrapping); a run continues the count.
        const uint64_t blocksPerSector = ZENTRA_SECTOR_SIZE / CRYPTO_BLOCK_SIZE;
        const uint64_t index = (firstSector - 1) * blocksPerSector + 1;
        return count == 0 || LrwRun(source, buffer, count * blocksPerSector, index, ci, encrypt);
    }
    case MODE_CBC:
        if (source && count != 0) {
            std::memcpy(buffer, source, length);
        }
        return count == 0 || (encrypt ? CbcEncryptSectors(buffer, firstSector, count, ci)
                                      : CbcDecryptSectors(buffer, firstSector, count, ci));
    default:
        return false;
    }
}

bool TransformBuffer(uint8_t* buffer, uint64_t length, CRYPTO_INFO* ci, bool encrypt) {
    if (!Keyed(ci) || length % CRYPTO_BLOCK_SIZE != 0 || length > kMaxBufferLength ||
        (buffer == nullptr && length != 0)) {
        return false;
    }
    if (length == 0) {
        return ci->Mode == MODE_LRW || ci->Mode == MODE_CBC;
    }
    switch (ci->Mode) {
    case MODE_LRW:
        return LrwRun(nullptr, buffer, length / CRYPTO_BLOCK_SIZE, 1, ci, encrypt);
    case MODE_CBC:
        return CbcBuffer(buffer, length, ci, encrypt);
    default:
        return false;
    }
}

} // namespace

bool EncryptSectors(uint8_t* buffer, uint64_t firstSector, uint64_t length, CRYPTO_INFO* ci) {
    return TransformSectors(nullptr, buffer, firstSector, length, ci, true);
}

bool DecryptSectors(uint8_t* buffer, uint64_t firstSector, uint64_t length, CRYPTO_INFO* ci) {
    return TransformSectors(nullptr, buffer, firstSector, length, ci, false);
}

bool EncryptSectorsFrom(const uint8_t* source, uint8_t* buffer, uint64_t firstSector, uint64_t length,
                        CRYPTO_INFO* ci) {
    if (source == nullptr && length != 0) {
        return false;
    }
    return TransformSectors(source, buffer, firstSector, length, ci, true);
}

bool EncryptBuffer(uint8_t* buffer, uint64_t length, CRYPTO_INFO* ci) {
    return TransformBuffer(buffer, length, ci, true);
}

bool DecryptBuffer(uint8_t* buffer, uint64_t length, CRYPTO_INFO* ci) {
    return TransformBuffer(buffer, length, ci, false);
}
