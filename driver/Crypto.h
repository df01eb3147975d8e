// The crypto context of an encrypted volume and the sector encryption modes (Parts 7.103 and 7.104).
//
// Both modes encrypt with AES-256 (from the cryptography library, see CryptoLibrary.h) whole 512-byte sectors in
// place: LRW (mode 1), which the driver writes, and CBC with whitening (mode 2), which it also reads and writes
// for volumes whose header opened in that mode. The sector number is the image offset divided by 512: the first
// data sector (image offset 512) is sector 1. The buffer routines encrypt the 448 encrypted bytes of a header.
//
// A crypto context serves one caller at a time (the disk's worker thread): the sector routines keep
// chaining state in its cipher contexts. CryptoClone gives another thread a context of its own.
#pragma once

#include <cstddef>
#include <cstdint>

#include <openssl/types.h>

#include "driver/Gf128.h"

// Result codes of the header and crypto set-up routines. The disk worker maps 0 to success, 3 to
// STATUS_WRONG_PASSWORD and any other code to STATUS_UNSUCCESSFUL.
enum VolumeResult : int {
    VOLUME_OK = 0,
    VOLUME_ERR_NO_MEMORY = 2,      // no memory for the context or the key buffer
    VOLUME_ERR_WRONG_PASSWORD = 3, // no trial opened the header (wrong password or not a volume)
    VOLUME_ERR_NEWER_VERSION = 17, // the volume requires a newer version (required version 0x0411 or more)
    VOLUME_ERR_CIPHER_INIT = 18,   // cipher key set-up failed (also: the library is not ready, no random bytes)
    VOLUME_ERR_MODE_INIT = 39,     // mode set-up failed (LRW table, unknown mode)
};

constexpr uint32_t ZENTRA_SECTOR_SIZE = 512;
constexpr uint32_t CRYPTO_BLOCK_SIZE = 16;
constexpr uint32_t CRYPTO_SECONDARY_KEY_SIZE = 32; // LRW tweak key in the first 16 bytes; CBC IV/whitening seed
constexpr uint32_t CRYPTO_MAX_KEY_SIZE = 32;       // largest key size of the algorithms offered (AES-256)
constexpr uint32_t CRYPTO_KEY_AREA_SIZE = 256;     // header bytes 256..511
constexpr uint32_t CRYPTO_SALT_SIZE = 64;          // header bytes 0..63
constexpr uint32_t CRYPTO_DERIVED_KEY_SIZE = CRYPTO_SECONDARY_KEY_SIZE + CRYPTO_MAX_KEY_SIZE; // 64

// Ciphers, encryption algorithms and modes (tables of the crypto layer).
enum : uint32_t {
    CIPHER_AES = 1, // block 16 bytes, key 32 bytes, key schedule 488 bytes (encryption, then decryption)
};
enum : uint32_t {
    EA_AES = 1,                // encryption algorithm 1: cipher 1 alone, modes LRW then CBC
    CRYPTO_EA_NEW = 0xFFFFFFFF // algorithm id of a context that has no key yet
};
enum : uint32_t {
    MODE_LRW = 1,
    MODE_CBC = 2,
};

struct CRYPTO_CIPHER_INFO {
    uint32_t Id;
    const char* Name;
    uint32_t BlockSize;
    uint32_t KeySize;
    uint32_t KeyScheduleSize;
};

// Generic walks over the tables: 0 ends a list.
uint32_t CryptoFirstAlgorithm();
uint32_t CryptoNextAlgorithm(uint32_t algorithm);
uint32_t CryptoAlgorithmCipher(uint32_t algorithm, uint32_t index); // index-th cipher of the algorithm, 0 at end
uint32_t CryptoAlgorithmKeySize(uint32_t algorithm);                // sum of its ciphers' key sizes; 0 unknown
uint32_t CryptoFirstMode(uint32_t algorithm);
uint32_t CryptoNextMode(uint32_t algorithm, uint32_t mode);
const CRYPTO_CIPHER_INFO* CryptoCipherInfo(uint32_t cipher); // nullptr for an unknown id

// The key schedules of the algorithm's ciphers. The Part's 488-byte AES schedule (encryption, then decryption)
// is held by the library's cipher contexts, keyed once per key: ECB for LRW runs, CBC for the CBC mode, each in
// both directions. The library wipes their schedules when they are freed.
struct CRYPTO_KEY_SCHEDULE {
    EVP_CIPHER_CTX* EcbEncrypt;
    EVP_CIPHER_CTX* EcbDecrypt;
    EVP_CIPHER_CTX* CbcEncrypt;
    EVP_CIPHER_CTX* CbcDecrypt;
};

// Crypto context: one per open volume; fields in the order of the volume format, then the LRW tweak steps.
struct CRYPTO_INFO {
    uint32_t Algorithm;                              // encryption algorithm id; CRYPTO_EA_NEW when new
    uint32_t Mode;                                   // MODE_LRW or MODE_CBC
    uint8_t SecondaryKey[CRYPTO_SECONDARY_KEY_SIZE]; // K2 = first 16 bytes (LRW); all 32 seed CBC
    CRYPTO_KEY_SCHEDULE KeySchedule;                 // key schedules of the algorithm's ciphers
    GF128_LRW_TABLE LrwTable;                        // multiplication table for 16-byte blocks (4096 bytes)
    uint8_t KeyArea[CRYPTO_KEY_AREA_SIZE];           // copy of the header's key area (bytes 256..511)
    uint8_t Salt[CRYPTO_SALT_SIZE];                  // copy of the header's salt
    uint32_t Iterations;                             // PBKDF2 iteration count of the header
    uint32_t PrfId;                                  // PRF id of the header (CryptoLibrary.h)
    uint64_t VolumeCreationTime;                     // header offset 78
    uint64_t HeaderModificationTime;                 // header offset 86
    GF128_LRW_STEPS LrwSteps;                        // K2 times (2^(k+1) - 1): successive tweaks differ by one
};

// Memory for contexts and key buffers. The default is the C heap; the platform layer installs its non-paged pool
// (and tests a failing or checking allocator). Passing nullptr for both restores the default. Free gets the size
// that was allocated; the memory has been wiped (0xFF, then zeros) when it reaches Free.
using VolumeAllocFunction = void* (*)(size_t size);
using VolumeFreeFunction = void (*)(void* memory, size_t size);
void VolumeSetAllocator(VolumeAllocFunction allocate, VolumeFreeFunction release);
void* VolumeAlloc(size_t size);
void VolumeFree(void* memory, size_t size); // does not wipe; callers wipe first

// A new context with no key (Algorithm = CRYPTO_EA_NEW) and its cipher contexts; nullptr when memory is short or
// the library is not ready.
CRYPTO_INFO* CryptoAlloc();

// Frees the cipher contexts, fills the context with 0xFF and then with zeros, and frees it. Null is ignored.
void CryptoFree(CRYPTO_INFO* ci);

// A second context with the same keys and tables and cipher contexts of its own, for another thread to encrypt
// the same volume's sectors at the same time; nullptr when memory is short or the keys cannot be copied.
CRYPTO_INFO* CryptoClone(const CRYPTO_INFO* ci);

// Sets up the key schedules of the algorithm's ciphers from key (the algorithm's key size, 32 bytes for AES) and
// records the algorithm. VOLUME_OK or VOLUME_ERR_CIPHER_INIT.
int CryptoInitKeys(CRYPTO_INFO* ci, uint32_t algorithm, const uint8_t* key);

// Loads the 32-byte secondary key.
void CryptoLoadSecondaryKey(CRYPTO_INFO* ci, const uint8_t key[CRYPTO_SECONDARY_KEY_SIZE]);

// Builds the LRW table and steps from K2 (the secondary key's first 16 bytes). False when it cannot.
bool CryptoBuildLrwTable(CRYPTO_INFO* ci);

// Encrypt or decrypt sectors in place: length bytes starting at sector firstSector, in the context's mode. The
// length must be a whole number of sectors: any other length is refused (false) and the buffer is left as it was,
// so no partial sector is ever left in clear. False also when the context has no key or an unknown mode, or the
// library fails. Every sector is transformed independently, so any run of sectors can be done on its own.
[[nodiscard]] bool EncryptSectors(uint8_t* buffer, uint64_t firstSector, uint64_t length, CRYPTO_INFO* ci);
[[nodiscard]] bool DecryptSectors(uint8_t* buffer, uint64_t firstSector, uint64_t length, CRYPTO_INFO* ci);
// The same encryption, of the sectors at `source` into `buffer` (which must not overlap it): source is left as it
// is, and the copy costs no pass of its own. On a refusal `buffer` is left as it was.
[[nodiscard]] bool EncryptSectorsFrom(const uint8_t* source, uint8_t* buffer, uint64_t firstSector, uint64_t length,
                                      CRYPTO_INFO* ci);

// The header form: length bytes (a whole number of 16-byte blocks, otherwise refused) in place, as one run: LRW
// from block index 1, or CBC with IV = secondary key bytes 0..15 and whitening = bytes 8..15.
[[nodiscard]] bool EncryptBuffer(uint8_t* buffer, uint64_t length, CRYPTO_INFO* ci);
[[nodiscard]] bool DecryptBuffer(uint8_t* buffer, uint64_t length, CRYPTO_INFO* ci);
