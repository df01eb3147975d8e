#include "driver/Volumes.h"

#include <atomic>
#include <cstring>

#include "driver/Crc.h"
#include "driver/CryptoLibrary.h"

namespace {

const uint8_t kMagic[6] = {'Z', 'e', 'n', 't', 'r', 'a'};

// The key buffer of one header operation: password, salt, derived bytes, key-area copy and the trial copy of the
// header. It comes from the volume allocator, starts zeroed, and is wiped (0xFF, then zeros) at the end.
struct KEY_BUFFER {
    uint8_t Password[ZENTRA_MAX_PASSWORD];
    uint32_t PasswordLength;
    uint8_t Salt[CRYPTO_SALT_SIZE];
    uint8_t Derived[CRYPTO_DERIVED_KEY_SIZE];
    uint8_t KeyArea[CRYPTO_KEY_AREA_SIZE];
    uint8_t Trial[ZENTRA_HEADER_SIZE];
};

KEY_BUFFER* AllocKeyBuffer(const VOLUME_PASSWORD* password) {
    auto* kb = static_cast<KEY_BUFFER*>(VolumeAlloc(sizeof(KEY_BUFFER)));
    if (kb != nullptr) {
        std::memset(kb, 0, sizeof(*kb));
        kb->PasswordLength = password->Length;
        std::memcpy(kb->Password, password->Text, password->Length);
    }
    return kb;
}

void FreeKeyBuffer(KEY_BUFFER* kb) {
    if (kb != nullptr) {
        CryptoBurn(kb, sizeof(*kb));
        VolumeFree(kb, sizeof(*kb));
    }
}

uint16_t LoadBe16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}

uint32_t LoadBe32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}

uint64_t LoadBe64(const uint8_t* p) {
    return (uint64_t{LoadBe32(p)} << 32) | LoadBe32(p + 4);
}

void StoreBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void StoreBe32(uint8_t* p, uint32_t v) {
    for (int i = 3; i >= 0; --i) {
        p[i] = static_cast<uint8_t>(v);
        v >>= 8;
    }
}

std::atomic<VolumeTrialObserver> g_observer{nullptr};
std::atomic<void*> g_observerContext{nullptr};

void Observe(uint32_t prfId, uint32_t mode, int verdict) {
    VolumeTrialObserver observer = g_observer.load();
    if (observer != nullptr) {
        observer(prfId, mode, verdict, g_observerContext.load());
    }
}

bool ModeOffered(uint32_t algorithm, uint32_t mode) {
    for (uint32_t m = CryptoFirstMode(algorithm); m != 0; m = CryptoNextMode(algorithm, m)) {
        if (m == mode) {
            return true;
        }
    }
    return false;
}

// Keys the context for the volume's data from the key area: key schedule from bytes 32..63, secondary key from
// bytes 0..31 and, in LRW, the table for it. In CBC the table of the header key is wiped instead.
int KeyForData(CRYPTO_INFO* ci, uint32_t algorithm, const uint8_t* keyArea, int tableFailure) {
    const int r = CryptoInitKeys(ci, algorithm, keyArea + CRYPTO_SECONDARY_KEY_SIZE);
    if (r != VOLUME_OK) {
        return r;
    }
    CryptoLoadSecondaryKey(ci, keyArea);
    if (ci->Mode == MODE_LRW) {
        if (!CryptoBuildLrwTable(ci)) {
            return tableFailure;
        }
    } else {
        CryptoBurn(&ci->LrwTable, sizeof(ci->LrwTable));
        CryptoBurn(&ci->LrwSteps, sizeof(ci->LrwSteps));
    }
    std::memcpy(ci->KeyArea, keyArea, CRYPTO_KEY_AREA_SIZE);
    return VOLUME_OK;
}

} // namespace

void VolumeSetTrialObserver(VolumeTrialObserver observer, void* context) {
    g_observerContext.store(context);
    g_observer.store(observer);
}

int VolumeReadHeader(ZENTRA_VOLUME_HEADER* header, const VOLUME_PASSWORD* password, CRYPTO_INFO** info) {
    if (info == nullptr) {
        return VOLUME_ERR_CIPHER_INIT;
    }
    *info = nullptr;
    if (header == nullptr || password == nullptr || !CryptoLibraryInit()) {
        return VOLUME_ERR_CIPHER_INIT;
    }
    if (password->Length > ZENTRA_MAX_PASSWORD) {
        return VOLUME_ERR_WRONG_PASSWORD;
    }
    auto* h = reinterpret_cast<uint8_t*>(header);

    CRYPTO_INFO* ci = CryptoAlloc();
    if (ci == nullptr) {
        return VOLUME_ERR_NO_MEMORY;
    }
    KEY_BUFFER* kb = AllocKeyBuffer(password);
    if (kb == nullptr) {
        CryptoFree(ci);
        return VOLUME_ERR_NO_MEMORY;
    }
    std::memcpy(kb->Salt, h, CRYPTO_SALT_SIZE);

    int result = VOLUME_ERR_WRONG_PASSWORD;
    bool done = false;
    for (uint32_t prf = PRF_FIRST; prf <= PRF_LAST && !done; ++prf) {
        if (!CryptoDeriveKey(prf, kb->Password, kb->PasswordLength, kb->Salt, CRYPTO_SALT_SIZE, PrfIterations(prf),
                             kb->Derived, CRYPTO_DERIVED_KEY_SIZE)) {
            result = VOLUME_ERR_CIPHER_INIT;
            break;
        }
        bool tableBuilt = false; // the LRW table depends only on the derived secondary key: once per PRF
        for (uint32_t ea = CryptoFirstAlgorithm(); ea != 0 && !done; ea = CryptoNextAlgorithm(ea)) {
            const int keyed = CryptoInitKeys(ci, ea, kb->Derived + CRYPTO_SECONDARY_KEY_SIZE);
            if (keyed != VOLUME_OK) {
                result = keyed;
                done = true;
                break;
            }
            for (uint32_t mode = CryptoFirstMode(ea); mode != 0 && !done; mode = CryptoNextMode(ea, mode)) {
                std::memcpy(kb->Trial, h, ZENTRA_HEADER_SIZE);
                CryptoLoadSecondaryKey(ci, kb->Derived);
                if (mode == MODE_LRW && !tableBuilt) {
                    if (!CryptoBuildLrwTable(ci)) {
                        result = VOLUME_ERR_MODE_INIT;
                        done = true;
                        break;
                    }
                    tableBuilt = true;
                }
                ci->Mode = mode;
                uint8_t* area = kb->Trial + ZENTRA_HEADER_ENCRYPTED_OFFSET;
                if (!DecryptBuffer(area, ZENTRA_HEADER_ENCRYPTED_SIZE, ci)) {
                    result = VOLUME_ERR_MODE_INIT;
                    done = true;
                    break;
                }
                const uint8_t* keyArea = kb->Trial + ZENTRA_HEADER_KEY_AREA_OFFSET;
                int verdict = VOLUME_TRIAL_ACCEPTED;
                if (std::memcmp(area, kMagic, sizeof(kMagic)) != 0) {
                    verdict = VOLUME_TRIAL_BAD_MAGIC;
                } else if (LoadBe32(kb->Trial + 74) != Crc32(keyArea, CRYPTO_KEY_AREA_SIZE)) {
                    verdict = VOLUME_TRIAL_BAD_CRC;
                }
                Observe(prf, mode, verdict);
                if (verdict != VOLUME_TRIAL_ACCEPTED) {
                    continue;
                }

                // The first accepted trial ends the search, whatever follows.
                done = true;
                if (LoadBe16(kb->Trial + 72) >= ZENTRA_NEWER_VERSION) {
                    result = VOLUME_ERR_NEWER_VERSION;
                    break;
                }
                ci->VolumeCreationTime = LoadBe64(kb->Trial + 78);
                ci->HeaderModificationTime = LoadBe64(kb->Trial + 86);
                std::memcpy(kb->KeyArea, keyArea, CRYPTO_KEY_AREA_SIZE);
                std::memcpy(ci->Salt, kb->Salt, CRYPTO_SALT_SIZE);
                ci->PrfId = prf;
                ci->Iterations = PrfIterations(prf);
                result = KeyForData(ci, ea, kb->KeyArea, VOLUME_ERR_MODE_INIT);
                if (result == VOLUME_OK) {
                    std::memcpy(h + ZENTRA_HEADER_ENCRYPTED_OFFSET, area, ZENTRA_HEADER_ENCRYPTED_SIZE);
                }
            }
        }
    }

    FreeKeyBuffer(kb); // derived bytes, password, salt, key-area and trial copies
    if (result != VOLUME_OK) {
        CryptoFree(ci);
        return result;
    }
    *info = ci;
    return VOLUME_OK;
}

int VolumeWriteHeader(ZENTRA_VOLUME_HEADER* header, uint32_t algorithm, uint32_t mode, const VOLUME_PASSWORD* password,
                      uint32_t prfId, const uint8_t* masterKeyArea, CRYPTO_INFO** info, bool newVolume) {
    if (info == nullptr) {
        return VOLUME_ERR_CIPHER_INIT;
    }
    *info = nullptr;
    if (header == nullptr || password == nullptr || !CryptoLibraryInit() || CryptoAlgorithmKeySize(algorithm) == 0 ||
        PrfIterations(prfId) == 0) {
        return VOLUME_ERR_CIPHER_INIT;
    }
    if (!ModeOffered(algorithm, mode)) {
        return VOLUME_ERR_MODE_INIT;
    }
    if (password->Length > ZENTRA_MAX_PASSWORD) {
        return VOLUME_ERR_WRONG_PASSWORD;
    }
    auto* h = reinterpret_cast<uint8_t*>(header);

    CRYPTO_INFO* ci = CryptoAlloc();
    if (ci == nullptr) {
        return VOLUME_ERR_NO_MEMORY;
    }
    KEY_BUFFER* kb = AllocKeyBuffer(password);
    if (kb == nullptr) {
        CryptoFree(ci);
        return VOLUME_ERR_NO_MEMORY;
    }

    int result = VOLUME_OK;
    // Key area first, salt second, each drawn fresh from the system's secure generator. The area is copied
    // before the buffer is touched: it may lie in the header buffer itself (a password change).
    if (masterKeyArea != nullptr) {
        std::memcpy(kb->KeyArea, masterKeyArea, CRYPTO_KEY_AREA_SIZE);
    } else if (!CryptoRandomBytes(kb->KeyArea, CRYPTO_KEY_AREA_SIZE)) {
        result = VOLUME_ERR_CIPHER_INIT;
    }
    if (result == VOLUME_OK && !CryptoRandomBytes(kb->Salt, CRYPTO_SALT_SIZE)) {
        result = VOLUME_ERR_CIPHER_INIT;
    }
    if (result == VOLUME_OK) {
        std::memcpy(ci->Salt, kb->Salt, CRYPTO_SALT_SIZE);
        ci->PrfId = prfId;
        ci->Iterations = PrfIterations(prfId);
        ci->Mode = mode;
        if (!CryptoDeriveKey(prfId, kb->Password, kb->PasswordLength, kb->Salt, CRYPTO_SALT_SIZE, ci->Iterations,
                             kb->Derived, CRYPTO_DERIVED_KEY_SIZE)) {
            result = VOLUME_ERR_CIPHER_INIT;
        }
    }
    if (result == VOLUME_OK) {
        if (newVolume) {
            std::memset(h, 0, ZENTRA_HEADER_SIZE);
        }
        std::memcpy(h, kb->Salt, CRYPTO_SALT_SIZE);
        std::memcpy(h + 64, kMagic, sizeof(kMagic));
        StoreBe16(h + 70, ZENTRA_HEADER_VERSION);
        StoreBe16(h + 72, ZENTRA_REQUIRED_VERSION);
        StoreBe32(h + 74, Crc32(kb->KeyArea, CRYPTO_KEY_AREA_SIZE));
        std::memcpy(h + ZENTRA_HEADER_KEY_AREA_OFFSET, kb->KeyArea, CRYPTO_KEY_AREA_SIZE);
        ci->VolumeCreationTime = LoadBe64(h + 78);
        ci->HeaderModificationTime = LoadBe64(h + 86);

        result = CryptoInitKeys(ci, algorithm, kb->Derived + CRYPTO_SECONDARY_KEY_SIZE);
        if (result == VOLUME_OK) {
            CryptoLoadSecondaryKey(ci, kb->Derived);
            if (!CryptoBuildLrwTable(ci)) {
                result = VOLUME_ERR_NO_MEMORY;
            } else if (!EncryptBuffer(h + ZENTRA_HEADER_ENCRYPTED_OFFSET, ZENTRA_HEADER_ENCRYPTED_SIZE, ci)) {
                result = VOLUME_ERR_CIPHER_INIT;
            }
        }
        if (result == VOLUME_OK) {
            result = KeyForData(ci, algorithm, kb->KeyArea, VOLUME_ERR_NO_MEMORY);
        }
        if (result != VOLUME_OK) {
            // Never leave a plain key area behind in the caller's buffer.
            CryptoBurn(h, ZENTRA_HEADER_SIZE);
        }
    }

    FreeKeyBuffer(kb);
    if (result != VOLUME_OK) {
        CryptoFree(ci);
        return result;
    }
    *info = ci;
    return VOLUME_OK;
}
