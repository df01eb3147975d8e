#include <cstdlib>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include "driver/Crc.h"
#include "driver/CryptoLibrary.h"
#include "driver/VolumeTestSupport.h"
#include "driver/Volumes.h"

namespace {

VOLUME_PASSWORD Password(const std::string& text) {
    VOLUME_PASSWORD p{};
    p.Length = static_cast<uint32_t>(text.size());
    std::memcpy(p.Text, text.data(), std::min<size_t>(text.size(), sizeof(p.Text)));
    return p;
}

uint8_t* Bytes(ZENTRA_VOLUME_HEADER& h) {
    return reinterpret_cast<uint8_t*>(&h);
}

struct Trial {
    uint32_t Prf;
    uint32_t Mode;
    int Verdict;
    bool operator==(const Trial&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Trial& t) {
    return os << "(" << t.Prf << "," << t.Mode << "," << t.Verdict << ")";
}

// Records the trials of VolumeReadHeader while alive.
class TrialLog {
public:
    TrialLog() { VolumeSetTrialObserver(&TrialLog::Record, this); }
    ~TrialLog() { VolumeSetTrialObserver(nullptr, nullptr); }
    std::vector<Trial> Trials;

private:
    static void Record(uint32_t prf, uint32_t mode, int verdict, void* self) {
        static_cast<TrialLog*>(self)->Trials.push_back({prf, mode, verdict});
    }
};

// The header key of a header: PBKDF2 over its salt, keyed into a context in the given mode.
ref::Info HeaderKey(const ZENTRA_VOLUME_HEADER& h, const VOLUME_PASSWORD& password, uint32_t prf, uint32_t mode) {
    uint8_t derived[64];
    EXPECT_TRUE(CryptoDeriveKey(prf, password.Text, password.Length, h.Salt, 64, PrfIterations(prf), derived, 64));
    return ref::MakeInfo(derived + 32, derived, mode);
}

// A header written here (algorithm 1, LRW, PRF 2) with the context it returned.
struct Volume {
    ZENTRA_VOLUME_HEADER Header{};
    ref::Info Info;
};

Volume NewVolume(const VOLUME_PASSWORD& password, uint32_t mode = MODE_LRW, uint32_t prf = PRF_SHA1) {
    Volume v;
    std::memset(&v.Header, 0xAB, sizeof(v.Header)); // a new volume zeroes whatever the buffer held
    CRYPTO_INFO* ci = nullptr;
    EXPECT_EQ(VolumeWriteHeader(&v.Header, EA_AES, mode, &password, prf, nullptr, &ci, true), VOLUME_OK);
    v.Info.reset(ci);
    return v;
}

const std::vector<Trial> kAllTrialsFail = {
    {1, MODE_LRW, VOLUME_TRIAL_BAD_MAGIC}, {1, MODE_CBC, VOLUME_TRIAL_BAD_MAGIC}, {2, MODE_LRW, VOLUME_TRIAL_BAD_MAGIC},
    {2, MODE_CBC, VOLUME_TRIAL_BAD_MAGIC}, {3, MODE_LRW, VOLUME_TRIAL_BAD_MAGIC}, {3, MODE_CBC, VOLUME_TRIAL_BAD_MAGIC},
};

} // namespace

TEST(VolumeHeader, WrittenHeaderOpensOnTheSecondDerivationInLrw) {
    const VOLUME_PASSWORD password = Password("correct horse");
    Volume v = NewVolume(password);
    ASSERT_NE(v.Info, nullptr);
    EXPECT_EQ(v.Info->Algorithm, EA_AES);
    EXPECT_EQ(v.Info->Mode, MODE_LRW);
    EXPECT_EQ(v.Info->PrfId, PRF_SHA1);
    EXPECT_EQ(v.Info->Iterations, 2000u);
    EXPECT_EQ(0, std::memcmp(v.Info->Salt, v.Header.Salt, 64));

    ZENTRA_VOLUME_HEADER opened = v.Header;
    TrialLog log;
    CRYPTO_INFO* raw = nullptr;
    ASSERT_EQ(VolumeReadHeader(&opened, &password, &raw), VOLUME_OK);
    ref::Info ci(raw);
    const std::vector<Trial> expected = {{1, MODE_LRW, VOLUME_TRIAL_BAD_MAGIC},
                                         {1, MODE_CBC, VOLUME_TRIAL_BAD_MAGIC},
                                         {2, MODE_LRW, VOLUME_TRIAL_ACCEPTED}};
    EXPECT_EQ(log.Trials, expected);
    EXPECT_EQ(ci->Mode, MODE_LRW);
    EXPECT_EQ(ci->PrfId, PRF_SHA1);
    EXPECT_EQ(ci->Iterations, 2000u);
    EXPECT_EQ(ci->Algorithm, EA_AES);

    // The decrypted header: the volume header format.
    EXPECT_EQ(0, std::memcmp(opened.Salt, v.Header.Salt, 64)); // the salt stays as it was
    EXPECT_EQ(0, std::memcmp(opened.Magic, "Zentra", 6));
    EXPECT_EQ(opened.HeaderVersion[0], 0x00);
    EXPECT_EQ(opened.HeaderVersion[1], 0x02);
    EXPECT_EQ(opened.RequiredVersion[0], 0x04);
    EXPECT_EQ(opened.RequiredVersion[1], 0x10);
    const uint32_t crc = Crc32(opened.SecondaryKey, 256);
    EXPECT_EQ(opened.KeyAreaCrc[0], crc >> 24);
    EXPECT_EQ(opened.KeyAreaCrc[3], crc & 0xFF);
    for (int i = 78; i < 256; ++i) {
        EXPECT_EQ(Bytes(opened)[i], 0) << i; // times written as 0, reserved zero
    }
    EXPECT_EQ(ci->VolumeCreationTime, 0u);
    EXPECT_EQ(ci->HeaderModificationTime, 0u);
    EXPECT_EQ(0, std::memcmp(ci->KeyArea, opened.SecondaryKey, 256));
    EXPECT_EQ(0, std::memcmp(v.Info->KeyArea, ci->KeyArea, 256));

    // The data key is the key area's: both contexts encrypt sectors alike, and as the definition says.
    std::mt19937_64 rng(5);
    const ref::Bytes plain = ref::RandomBytes(rng, 4 * 512);
    ref::Bytes a = plain;
    ref::Bytes b = plain;
    ASSERT_TRUE(EncryptSectors(a.data(), 1, a.size(), v.Info.get()));
    ASSERT_TRUE(EncryptSectors(b.data(), 1, b.size(), ci.get()));
    EXPECT_EQ(a, b);
    ref::Bytes expectedData = plain;
    ref::Lrw(opened.MasterKey, opened.SecondaryKey, expectedData.data(), expectedData.size(), 1, true);
    EXPECT_EQ(a, expectedData);
}

TEST(VolumeHeader, FormatCheckedWithReferenceDerivationAndLrw) {
    const VOLUME_PASSWORD password = Password("reference");
    Volume v = NewVolume(password);
    // PBKDF2-HMAC-SHA-1 from OpenSSL's default context and LRW from the definition.
    uint8_t derived[64];
    ASSERT_EQ(PKCS5_PBKDF2_HMAC_SHA1(reinterpret_cast<const char*>(password.Text), password.Length, v.Header.Salt, 64,
                                     2000, 64, derived),
              1);
    ref::Bytes area(Bytes(v.Header) + 64, Bytes(v.Header) + 512);
    ref::Lrw(derived + 32, derived, area.data(), area.size(), 1, false);
    EXPECT_EQ(0, std::memcmp(area.data(), "Zentra", 6));
    EXPECT_EQ(0, std::memcmp(area.data() + 192, v.Info->KeyArea, 256));
}

TEST(VolumeHeader, WrongPasswordTriesAllSixAndFails) {
    Volume v = NewVolume(Password("right"));
    const VOLUME_PASSWORD wrong = Password("wrong");
    ZENTRA_VOLUME_HEADER h = v.Header;
    TrialLog log;
    CRYPTO_INFO dummy{};
    CRYPTO_INFO* ci = &dummy; // must be cleared
    EXPECT_EQ(VolumeReadHeader(&h, &wrong, &ci), VOLUME_ERR_WRONG_PASSWORD);
    EXPECT_EQ(ci, nullptr);
    EXPECT_EQ(log.Trials, kAllTrialsFail);
    EXPECT_EQ(0, std::memcmp(&h, &v.Header, sizeof(h))); // the caller's header is untouched
}

TEST(VolumeHeader, EveryPrfAndModeOpensInItsTrial) {
    const VOLUME_PASSWORD password = Password("every trial");
    int position = 0;
    for (uint32_t prf = PRF_FIRST; prf <= PRF_LAST; ++prf) {
        for (uint32_t mode : {MODE_LRW, MODE_CBC}) {
            ++position;
            Volume v = NewVolume(password, mode, prf);
            ZENTRA_VOLUME_HEADER h = v.Header;
            TrialLog log;
            CRYPTO_INFO* raw = nullptr;
            ASSERT_EQ(VolumeReadHeader(&h, &password, &raw), VOLUME_OK) << prf << " " << mode;
            ref::Info ci(raw);
            EXPECT_EQ(ci->PrfId, prf);
            EXPECT_EQ(ci->Mode, mode);
            EXPECT_EQ(ci->Iterations, PrfIterations(prf));
            ASSERT_EQ(log.Trials.size(), static_cast<size_t>(position));
            EXPECT_EQ(log.Trials.back(), (Trial{prf, mode, VOLUME_TRIAL_ACCEPTED}));

            std::mt19937_64 rng(position);
            const ref::Bytes plain = ref::RandomBytes(rng, 3 * 512);
            ref::Bytes a = plain;
            ASSERT_TRUE(EncryptSectors(a.data(), 9, a.size(), v.Info.get()));
            ASSERT_TRUE(DecryptSectors(a.data(), 9, a.size(), ci.get()));
            EXPECT_EQ(a, plain);
        }
    }
}

TEST(VolumeHeader, CrcMismatchMovesOnToTheNextTrial) {
    const VOLUME_PASSWORD password = Password("crc");
    Volume v = NewVolume(password);
    // Decrypt with the header key, change one key-area byte (magic intact, CRC now wrong), encrypt again.
    ref::Info key = HeaderKey(v.Header, password, PRF_SHA1, MODE_LRW);
    ZENTRA_VOLUME_HEADER h = v.Header;
    ASSERT_TRUE(DecryptBuffer(Bytes(h) + 64, 448, key.get()));
    ASSERT_EQ(0, std::memcmp(h.Magic, "Zentra", 6));
    h.KeyMaterial[100] ^= 0x01;
    ASSERT_TRUE(EncryptBuffer(Bytes(h) + 64, 448, key.get()));

    TrialLog log;
    CRYPTO_INFO* ci = nullptr;
    EXPECT_EQ(VolumeReadHeader(&h, &password, &ci), VOLUME_ERR_WRONG_PASSWORD);
    EXPECT_EQ(ci, nullptr);
    std::vector<Trial> expected = kAllTrialsFail;
    expected[2].Verdict = VOLUME_TRIAL_BAD_CRC; // PRF 2 in LRW found the magic, not the CRC, and went on
    EXPECT_EQ(log.Trials, expected);
}

namespace {

// Re-encrypts a written header with another required version.
ZENTRA_VOLUME_HEADER WithRequiredVersion(const Volume& v, const VOLUME_PASSWORD& password, uint16_t version) {
    ref::Info key = HeaderKey(v.Header, password, PRF_SHA1, MODE_LRW);
    ZENTRA_VOLUME_HEADER h = v.Header;
    EXPECT_TRUE(DecryptBuffer(Bytes(h) + 64, 448, key.get()));
    h.RequiredVersion[0] = static_cast<uint8_t>(version >> 8);
    h.RequiredVersion[1] = static_cast<uint8_t>(version);
    EXPECT_TRUE(EncryptBuffer(Bytes(h) + 64, 448, key.get()));
    return h;
}

} // namespace

TEST(VolumeHeader, NewerRequiredVersionIsRefusedWithoutFurtherTrials) {
    const VOLUME_PASSWORD password = Password("version");
    Volume v = NewVolume(password);
    for (uint16_t version : {uint16_t{0x0411}, uint16_t{0x0500}, uint16_t{0xFFFF}}) {
        ZENTRA_VOLUME_HEADER h = WithRequiredVersion(v, password, version);
        TrialLog log;
        CRYPTO_INFO* ci = nullptr;
        EXPECT_EQ(VolumeReadHeader(&h, &password, &ci), VOLUME_ERR_NEWER_VERSION) << version;
        EXPECT_EQ(ci, nullptr);
        const std::vector<Trial> expected = {{1, MODE_LRW, VOLUME_TRIAL_BAD_MAGIC},
                                             {1, MODE_CBC, VOLUME_TRIAL_BAD_MAGIC},
                                             {2, MODE_LRW, VOLUME_TRIAL_ACCEPTED}};
        EXPECT_EQ(log.Trials, expected) << version;
    }
    for (uint16_t version : {uint16_t{0x0410}, uint16_t{0x0400}, uint16_t{0x0001}}) {
        ZENTRA_VOLUME_HEADER h = WithRequiredVersion(v, password, version);
        CRYPTO_INFO* ci = nullptr;
        EXPECT_EQ(VolumeReadHeader(&h, &password, &ci), VOLUME_OK) << version;
        CryptoFree(ci);
    }
}

TEST(VolumeHeader, PasswordChangeKeepsMasterKeyAndData) {
    const VOLUME_PASSWORD oldPassword = Password("old password");
    const VOLUME_PASSWORD newPassword = Password("new password!");
    Volume v = NewVolume(oldPassword);

    // Data written under the volume's context.
    std::mt19937_64 rng(1024);
    const ref::Bytes plain = ref::RandomBytes(rng, 8 * 512);
    ref::Bytes disk = plain;
    ASSERT_TRUE(EncryptSectors(disk.data(), 1, disk.size(), v.Info.get()));

    // ZentraDiskChangePasswd: open with the old password (its context freed at once), then build a header from
    // the decrypted buffer with the master key area it holds.
    ZENTRA_VOLUME_HEADER h = v.Header;
    CRYPTO_INFO* raw = nullptr;
    ASSERT_EQ(VolumeReadHeader(&h, &oldPassword, &raw), VOLUME_OK);
    CryptoFree(raw);
    const ZENTRA_VOLUME_HEADER decryptedOld = h;
    ASSERT_EQ(VolumeWriteHeader(&h, EA_AES, MODE_LRW, &newPassword, PRF_SHA1, h.SecondaryKey, &raw, false), VOLUME_OK);
    ref::Info changed(raw);
    const ZENTRA_VOLUME_HEADER onDisk = h;

    EXPECT_NE(0, std::memcmp(onDisk.Salt, v.Header.Salt, 64)); // a fresh salt
    EXPECT_EQ(0, std::memcmp(changed->KeyArea, v.Info->KeyArea, 256));

    ZENTRA_VOLUME_HEADER tryOld = onDisk;
    CRYPTO_INFO* ci = nullptr;
    EXPECT_EQ(VolumeReadHeader(&tryOld, &oldPassword, &ci), VOLUME_ERR_WRONG_PASSWORD);
    EXPECT_EQ(ci, nullptr);

    ZENTRA_VOLUME_HEADER tryNew = onDisk;
    ASSERT_EQ(VolumeReadHeader(&tryNew, &newPassword, &ci), VOLUME_OK);
    ref::Info reopened(ci);
    EXPECT_EQ(0, std::memcmp(reopened->KeyArea, v.Info->KeyArea, 256)); // the master key is unchanged
    EXPECT_EQ(0, std::memcmp(Bytes(tryNew) + 64, Bytes(const_cast<ZENTRA_VOLUME_HEADER&>(decryptedOld)) + 64,
                             448)); // bytes 64..511 as before, 78..255 kept from the old header
    ref::Bytes readBack = disk;
    ASSERT_TRUE(DecryptSectors(readBack.data(), 1, readBack.size(), reopened.get()));
    EXPECT_EQ(readBack, plain);
}

TEST(VolumeHeader, EmptyPasswordWorks) {
    const VOLUME_PASSWORD empty = Password("");
    Volume v = NewVolume(empty);
    ASSERT_NE(v.Info, nullptr);
    ZENTRA_VOLUME_HEADER h = v.Header;
    CRYPTO_INFO* ci = nullptr;
    ASSERT_EQ(VolumeReadHeader(&h, &empty, &ci), VOLUME_OK);
    CryptoFree(ci);
    h = v.Header;
    // (HMAC pads its key with zeros, so passwords that differ only by trailing zero bytes derive the same key.)
    const VOLUME_PASSWORD one = Password("a");
    EXPECT_EQ(VolumeReadHeader(&h, &one, &ci), VOLUME_ERR_WRONG_PASSWORD);
}

TEST(VolumeHeader, FullLengthPasswordWorksAndLongerIsRefused) {
    const VOLUME_PASSWORD full = Password(std::string(64, 'p'));
    Volume v = NewVolume(full);
    ZENTRA_VOLUME_HEADER h = v.Header;
    CRYPTO_INFO* ci = nullptr;
    ASSERT_EQ(VolumeReadHeader(&h, &full, &ci), VOLUME_OK);
    CryptoFree(ci);

    VOLUME_PASSWORD tooLong = full;
    tooLong.Length = 65;
    EXPECT_EQ(VolumeReadHeader(&h, &tooLong, &ci), VOLUME_ERR_WRONG_PASSWORD);
    EXPECT_EQ(VolumeWriteHeader(&h, EA_AES, MODE_LRW, &tooLong, PRF_SHA1, nullptr, &ci, true),
              VOLUME_ERR_WRONG_PASSWORD);
    EXPECT_EQ(ci, nullptr);
}

TEST(VolumeHeader, SaltAndKeyAreaAreUnpredictableAndIndependent) {
    // Written back to back (within one tick of any clock): every draw must still be fresh.
    const VOLUME_PASSWORD password = Password("random");
    Volume a = NewVolume(password);
    Volume b = NewVolume(password);
    EXPECT_NE(0, std::memcmp(a.Header.Salt, b.Header.Salt, 64));
    EXPECT_NE(0, std::memcmp(a.Info->KeyArea, b.Info->KeyArea, 256));
    for (const Volume* v : {&a, &b}) {
        // The salt repeats no part of the key area (a generator re-seeded per draw would repeat its bytes).
        for (int offset = 0; offset + 64 <= 256; offset += 4) {
            EXPECT_NE(0, std::memcmp(v->Header.Salt, v->Info->KeyArea + offset, 64)) << offset;
        }
        // Not a 4-byte pattern repeated.
        bool repeats = true;
        for (int i = 4; i < 256; ++i) {
            repeats = repeats && v->Info->KeyArea[i] == v->Info->KeyArea[i % 4];
        }
        EXPECT_FALSE(repeats);
    }
}

TEST(VolumeHeader, UnknownAlgorithmModeOrPrfIsRefused) {
    const VOLUME_PASSWORD password = Password("x");
    ZENTRA_VOLUME_HEADER h{};
    CRYPTO_INFO* ci = nullptr;
    EXPECT_EQ(VolumeWriteHeader(&h, 2, MODE_LRW, &password, PRF_SHA1, nullptr, &ci, true), VOLUME_ERR_CIPHER_INIT);
    EXPECT_EQ(VolumeWriteHeader(&h, EA_AES, 3, &password, PRF_SHA1, nullptr, &ci, true), VOLUME_ERR_MODE_INIT);
    EXPECT_EQ(VolumeWriteHeader(&h, EA_AES, MODE_LRW, &password, 4, nullptr, &ci, true), VOLUME_ERR_CIPHER_INIT);
    EXPECT_EQ(ci, nullptr);
}

// ---- memory: exhaustion and wiping

namespace {

struct AllocationLog {
    int FailAfter = -1; // number of allocations that succeed before failures start; -1 never fails
    int Allocations = 0;
    int Frees = 0;
    int DirtyFrees = 0;
};
AllocationLog g_log;

void* CountingAlloc(size_t size) {
    if (g_log.FailAfter >= 0 && g_log.Allocations >= g_log.FailAfter) {
        return nullptr;
    }
    ++g_log.Allocations;
    return std::malloc(size);
}

void CheckingFree(void* memory, size_t size) {
    ++g_log.Frees;
    const auto* p = static_cast<const uint8_t*>(memory);
    for (size_t i = 0; i < size; ++i) {
        if (p[i] != 0) {
            ++g_log.DirtyFrees;
            break;
        }
    }
    std::free(memory);
}

class VolumeMemory : public ::testing::Test {
protected:
    void SetUp() override {
        g_log = AllocationLog{};
        VolumeSetAllocator(CountingAlloc, CheckingFree);
    }
    void TearDown() override { VolumeSetAllocator(nullptr, nullptr); }
};

} // namespace

TEST_F(VolumeMemory, ContextsAndKeyBuffersAreWipedBeforeRelease) {
    const VOLUME_PASSWORD password = Password("wipe");
    ZENTRA_VOLUME_HEADER h{};
    CRYPTO_INFO* ci = nullptr;
    ASSERT_EQ(VolumeWriteHeader(&h, EA_AES, MODE_LRW, &password, PRF_SHA1, nullptr, &ci, true), VOLUME_OK);
    CryptoFree(ci);
    CRYPTO_INFO* opened = nullptr;
    ZENTRA_VOLUME_HEADER copy = h;
    ASSERT_EQ(VolumeReadHeader(&copy, &password, &opened), VOLUME_OK);
    CryptoFree(opened);
    copy = h;
    const VOLUME_PASSWORD wrong = Password("wrong");
    ASSERT_EQ(VolumeReadHeader(&copy, &wrong, &opened), VOLUME_ERR_WRONG_PASSWORD);
    EXPECT_EQ(g_log.Allocations, 6); // context and key buffer, three times
    EXPECT_EQ(g_log.Frees, 6);
    EXPECT_EQ(g_log.DirtyFrees, 0);
}

TEST_F(VolumeMemory, ExhaustionYieldsNoMemory) {
    const VOLUME_PASSWORD password = Password("memory");
    ZENTRA_VOLUME_HEADER h{};
    CRYPTO_INFO* ci = nullptr;
    for (int failAfter : {0, 1}) { // no context; context but no key buffer
        g_log = AllocationLog{};
        g_log.FailAfter = failAfter;
        EXPECT_EQ(VolumeWriteHeader(&h, EA_AES, MODE_LRW, &password, PRF_SHA1, nullptr, &ci, true),
                  VOLUME_ERR_NO_MEMORY);
        EXPECT_EQ(ci, nullptr);
        EXPECT_EQ(g_log.Allocations, failAfter);
        EXPECT_EQ(g_log.Frees, g_log.Allocations);

        g_log = AllocationLog{};
        g_log.FailAfter = failAfter;
        EXPECT_EQ(VolumeReadHeader(&h, &password, &ci), VOLUME_ERR_NO_MEMORY);
        EXPECT_EQ(ci, nullptr);
        EXPECT_EQ(g_log.Allocations, failAfter);
        EXPECT_EQ(g_log.Frees, g_log.Allocations);
        EXPECT_EQ(g_log.DirtyFrees, 0);
    }
}
