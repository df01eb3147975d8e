// Encrypted volume format and key derivation.
//
// An encrypted volume (a whole partition or an image file) begins with a 512-byte header: a random salt in plain
// and, encrypted under a key derived from the password, the volume's master key material. Data starts at image
// byte 512; the last 512 bytes are reserved. The sector modes are in Crypto.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "driver/Crypto.h"

// ZENTRA_VOLUME_HEADER (512 bytes; multi-byte fields big-endian). Bytes 64..511 are encrypted as one buffer whose
// first block has LRW block index 1 (or in the header form of CBC).
struct ZENTRA_VOLUME_HEADER {
    uint8_t Salt[64];                  //   0: plain; 64 random bytes
    uint8_t Magic[6];                  //  64: "Zentra" (ASCII, no terminator); encrypted from here to 511
    uint8_t HeaderVersion[2];          //  70: 2 (read, not tested)
    uint8_t RequiredVersion[2];        //  72: version required to read the volume: 0x0410
    uint8_t KeyAreaCrc[4];             //  74: CRC-32 of bytes 256..511
    uint8_t VolumeCreationTime[8];     //  78: written as 0
    uint8_t HeaderModificationTime[8]; //  86: written as 0
    uint8_t Reserved[162];             //  94: zero
    uint8_t SecondaryKey[32];          // 256: LRW tweak key in its first 16 bytes; CBC IV and whitening seed
    uint8_t MasterKey[32];             // 288: AES-256 master key
    uint8_t KeyMaterial[192];          // 320: further random key material, covered by the CRC-32, not read
};
static_assert(sizeof(ZENTRA_VOLUME_HEADER) == 512, "the volume header is 512 bytes");
static_assert(offsetof(ZENTRA_VOLUME_HEADER, Magic) == 64 && offsetof(ZENTRA_VOLUME_HEADER, KeyAreaCrc) == 74 &&
                  offsetof(ZENTRA_VOLUME_HEADER, Reserved) == 94 && offsetof(ZENTRA_VOLUME_HEADER, SecondaryKey) == 256,
              "header field offsets of the volume format");

constexpr uint32_t ZENTRA_HEADER_SIZE = 512;
constexpr uint32_t ZENTRA_HEADER_ENCRYPTED_OFFSET = 64;
constexpr uint32_t ZENTRA_HEADER_ENCRYPTED_SIZE = 448;
constexpr uint32_t ZENTRA_HEADER_KEY_AREA_OFFSET = 256;
constexpr uint16_t ZENTRA_HEADER_VERSION = 0x0002;
constexpr uint16_t ZENTRA_REQUIRED_VERSION = 0x0410; // written
constexpr uint16_t ZENTRA_NEWER_VERSION = 0x0411;    // required versions from here on are refused
constexpr uint32_t ZENTRA_VOLUME_TAIL_SIZE = 512;    // reserved bytes at the end of the image
constexpr uint32_t ZENTRA_MAX_PASSWORD = 64;

// Password: a counted byte string of at most 64 bytes (the text as the client sent it, no terminator, no
// conversion). A length above 64 is refused by the header routines (VOLUME_ERR_WRONG_PASSWORD), never cut.
struct VOLUME_PASSWORD {
    uint32_t Length;
    uint8_t Text[ZENTRA_MAX_PASSWORD];
};

// Opens an encrypted header with the password. Trials: PRF 1, 2, 3 (RIPEMD-160, SHA-1, Whirlpool), and for each
// the modes LRW then CBC; the first trial whose bytes 64..69 read "Zentra" and whose CRC-32 at 74 matches the key
// area is taken. On success (VOLUME_OK) the caller's header holds the decrypted bytes 64..511 (the salt stays as
// it was) and *info a new crypto context keyed with the volume's master key, in the mode that succeeded. On
// failure *info is nullptr: VOLUME_ERR_WRONG_PASSWORD when no trial opened it, VOLUME_ERR_NEWER_VERSION when the
// opened header requires version 0x0411 or more (no further trials), VOLUME_ERR_NO_MEMORY,
// VOLUME_ERR_CIPHER_INIT (also when the cryptography library failed its start-up), VOLUME_ERR_MODE_INIT.
int VolumeReadHeader(ZENTRA_VOLUME_HEADER* header, const VOLUME_PASSWORD* password, CRYPTO_INFO** info);

// Builds and encrypts a header in the buffer and returns in *info a context keyed with the volume's master key.
// For a new volume the buffer is zeroed first and the key area is 256 fresh random bytes; when masterKeyArea
// (256 bytes) is given (password change) that area is kept, and bytes 78..255 keep what the buffer held (the
// decrypted old header). The salt is always 64 fresh random bytes. The header is encrypted with PBKDF2 over the
// PRF prfId in the mode given. The driver always passes EA_AES, MODE_LRW and PRF_SHA1. Results: VOLUME_OK,
// VOLUME_ERR_NO_MEMORY, VOLUME_ERR_CIPHER_INIT (unknown algorithm or PRF, key set-up, derivation or random
// generator failed), VOLUME_ERR_MODE_INIT (unknown mode), VOLUME_ERR_WRONG_PASSWORD (password longer than 64).
int VolumeWriteHeader(ZENTRA_VOLUME_HEADER* header, uint32_t algorithm, uint32_t mode, const VOLUME_PASSWORD* password,
                      uint32_t prfId, const uint8_t* masterKeyArea, CRYPTO_INFO** info, bool newVolume);

// Diagnostics: an observer told of every trial of VolumeReadHeader (PRF id, mode and verdict). nullptr removes it.
enum VolumeTrialVerdict : int {
    VOLUME_TRIAL_ACCEPTED = 0,
    VOLUME_TRIAL_BAD_MAGIC = 1,
    VOLUME_TRIAL_BAD_CRC = 2,
};
using VolumeTrialObserver = void (*)(uint32_t prfId, uint32_t mode, int verdict, void* context);
void VolumeSetTrialObserver(VolumeTrialObserver observer, void* context);
