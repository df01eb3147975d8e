#include <random>

#include <gtest/gtest.h>

#include "driver/Crypto.h"
#include "driver/VolumeTestSupport.h"

namespace {

class SectorModes : public ::testing::Test {
protected:
    void SetUp() override {
        std::mt19937_64 rng(104);
        key_ = ref::RandomBytes(rng, 32);
        secondary_ = ref::RandomBytes(rng, 32);
        plain_ = ref::RandomBytes(rng, 512 * 300);
    }

    ref::Info Make(uint32_t mode) { return ref::MakeInfo(key_.data(), secondary_.data(), mode); }

    // Reference ciphertext of count sectors from sector s (LRW or CBC by the definitions).
    ref::Bytes Reference(uint32_t mode, uint64_t s, size_t count, bool encrypt, const ref::Bytes& input) {
        ref::Bytes out(input.begin(), input.begin() + count * 512);
        if (mode == MODE_LRW) {
            ref::Lrw(key_.data(), secondary_.data(), out.data(), out.size(), (s - 1) * 32 + 1, encrypt);
        } else {
            for (size_t k = 0; k < count; ++k) {
                ref::CbcSector(key_.data(), secondary_.data(), s + k, out.data() + k * 512, encrypt);
            }
        }
        return out;
    }

    ref::Bytes key_;
    ref::Bytes secondary_;
    ref::Bytes plain_;
};

ref::Bytes Head(const ref::Bytes& b, size_t n) {
    return ref::Bytes(b.begin(), b.begin() + n);
}

} // namespace

TEST_F(SectorModes, LrwSectorsMatchTheDefinition) {
    auto ci = Make(MODE_LRW);
    for (uint64_t s : {uint64_t{1}, uint64_t{2}, uint64_t{5}, uint64_t{1000}, uint64_t{1} << 40}) {
        ref::Bytes data = Head(plain_, 3 * 512);
        ASSERT_TRUE(EncryptSectors(data.data(), s, data.size(), ci.get()));
        EXPECT_EQ(data, Reference(MODE_LRW, s, 3, true, plain_)) << s;
        ASSERT_TRUE(DecryptSectors(data.data(), s, data.size(), ci.get()));
        EXPECT_EQ(data, Head(plain_, 3 * 512)) << s;
    }
}

TEST_F(SectorModes, LrwIndexWrapsAroundTwoToThe64) {
    // Sector 0 covers the indexes 2^64 - 31 .. 2^64 - 1 and sector 1 continues with 0, 1, ... (u64 wrapping).
    auto ci = Make(MODE_LRW);
    ref::Bytes data = Head(plain_, 2 * 512);
    ASSERT_TRUE(EncryptSectors(data.data(), 0, data.size(), ci.get()));
    ref::Bytes expected = Head(plain_, 2 * 512);
    ref::Lrw(key_.data(), secondary_.data(), expected.data(), expected.size(), ~uint64_t{0} - 30, true);
    EXPECT_EQ(data, expected);
}

TEST_F(SectorModes, LrwRunsLongerThanOneLibraryCall) {
    auto ci = Make(MODE_LRW);
    ref::Bytes data = plain_; // 300 sectors: more than one 64 KiB piece
    ASSERT_TRUE(EncryptSectors(data.data(), 7, data.size(), ci.get()));
    EXPECT_EQ(data, Reference(MODE_LRW, 7, 300, true, plain_));
    ASSERT_TRUE(DecryptSectors(data.data(), 7, data.size(), ci.get()));
    EXPECT_EQ(data, plain_);
}

TEST_F(SectorModes, LrwHeaderBufferStartsAtIndexOne) {
    auto ci = Make(MODE_LRW);
    ref::Bytes data = Head(plain_, 448);
    ASSERT_TRUE(EncryptBuffer(data.data(), data.size(), ci.get()));
    ref::Bytes expected = Head(plain_, 448);
    ref::Lrw(key_.data(), secondary_.data(), expected.data(), expected.size(), 1, true);
    EXPECT_EQ(data, expected);
    ASSERT_TRUE(DecryptBuffer(data.data(), data.size(), ci.get()));
    EXPECT_EQ(data, Head(plain_, 448));
}

TEST_F(SectorModes, HeaderBlockZeroAndSectorOneShareTweakIndexOneUnderDifferentKeys) {
    std::mt19937_64 rng(7);
    const ref::Bytes headerKey = ref::RandomBytes(rng, 32);
    const ref::Bytes headerSecondary = ref::RandomBytes(rng, 32);
    auto header = ref::MakeInfo(headerKey.data(), headerSecondary.data(), MODE_LRW);
    auto data = Make(MODE_LRW);

    ref::Bytes h = Head(plain_, 448);
    ref::Bytes s = Head(plain_, 512);
    ASSERT_TRUE(EncryptBuffer(h.data(), h.size(), header.get()));
    ASSERT_TRUE(EncryptSectors(s.data(), 1, s.size(), data.get()));

    // Both first blocks: C = E(P ^ K2*1) ^ K2*1, each under its own keys.
    ref::Bytes h0 = Head(plain_, 16);
    ref::Lrw(headerKey.data(), headerSecondary.data(), h0.data(), 16, 1, true);
    ref::Bytes s0 = Head(plain_, 16);
    ref::Lrw(key_.data(), secondary_.data(), s0.data(), 16, 1, true);
    EXPECT_EQ(Head(h, 16), h0);
    EXPECT_EQ(Head(s, 16), s0);
    EXPECT_NE(h0, s0);
}

TEST_F(SectorModes, CbcChainingIsOpenSslCbcThenWhitening) {
    auto ci = Make(MODE_CBC);
    for (uint64_t s : {uint64_t{1}, uint64_t{9}, (uint64_t{1} << 32) + 5, ~uint64_t{0}}) {
        ref::Bytes data = Head(plain_, 512);
        ASSERT_TRUE(EncryptSectors(data.data(), s, 512, ci.get()));

        // Strip the whitening, then the rest must be OpenSSL's AES-256-CBC with IV = t[0..15].
        const ref::CbcSeeds seeds = ref::SectorSeeds(secondary_.data(), s);
        ref::Bytes chained = data;
        ref::Whiten(chained.data(), 512, seeds.W);
        ref::Bytes expected = Head(plain_, 512);
        ref::AesCbc(key_.data(), seeds.Iv, expected.data(), 512, true);
        EXPECT_EQ(chained, expected) << s;

        ASSERT_TRUE(DecryptSectors(data.data(), s, 512, ci.get()));
        EXPECT_EQ(data, Head(plain_, 512)) << s;
    }
}

TEST_F(SectorModes, CbcRunsOfManySectorsMatchTheDefinition) {
    auto ci = Make(MODE_CBC);
    ref::Bytes data = plain_; // 300 sectors: decryption works in pieces of 128
    ASSERT_TRUE(EncryptSectors(data.data(), 3, data.size(), ci.get()));
    EXPECT_EQ(data, Reference(MODE_CBC, 3, 300, true, plain_));
    const ref::Bytes cipher = data;
    ASSERT_TRUE(DecryptSectors(data.data(), 3, data.size(), ci.get()));
    EXPECT_EQ(data, plain_);
    EXPECT_EQ(Reference(MODE_CBC, 3, 300, false, cipher), plain_);
}

TEST_F(SectorModes, CbcHighSectorBitsChangeBytesFourToSevenOfEveryQuarter) {
    const uint64_t low = 5;
    const uint64_t high = low | (uint64_t{0xA1B2C3D4} << 32);
    // The seeds of the definition differ exactly in bytes 4..7 of the IV's quarters, and in the whitening.
    const ref::CbcSeeds a = ref::SectorSeeds(secondary_.data(), low);
    const ref::CbcSeeds b = ref::SectorSeeds(secondary_.data(), high);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(a.Iv[i] != b.Iv[i], (i % 8) >= 4) << i;
    }
    EXPECT_NE(0, std::memcmp(a.W, b.W, 8));
    auto ci = Make(MODE_CBC);
    ref::Bytes x = Head(plain_, 512);
    ref::Bytes y = Head(plain_, 512);
    ASSERT_TRUE(EncryptSectors(x.data(), low, 512, ci.get()));
    ASSERT_TRUE(EncryptSectors(y.data(), high, 512, ci.get()));
    EXPECT_NE(x, y);
    EXPECT_EQ(y, Reference(MODE_CBC, high, 1, true, plain_));
}

TEST_F(SectorModes, CbcHeaderBufferUsesSecondaryKeyAsIvAndWhitening) {
    auto ci = Make(MODE_CBC);
    ref::Bytes data = Head(plain_, 448);
    ASSERT_TRUE(EncryptBuffer(data.data(), data.size(), ci.get()));
    ref::Bytes expected = Head(plain_, 448);
    ref::AesCbc(key_.data(), secondary_.data(), expected.data(), 448, true);
    ref::Whiten(expected.data(), 448, secondary_.data() + 8);
    EXPECT_EQ(data, expected);
    ASSERT_TRUE(DecryptBuffer(data.data(), data.size(), ci.get()));
    EXPECT_EQ(data, Head(plain_, 448));
}

TEST_F(SectorModes, EqualPlaintextSectorsEncryptDifferently) {
    for (uint32_t mode : {MODE_LRW, MODE_CBC}) {
        auto ci = Make(mode);
        ref::Bytes data(4 * 512);
        for (size_t k = 0; k < 4; ++k) {
            std::copy(plain_.begin(), plain_.begin() + 512, data.begin() + k * 512);
        }
        ASSERT_TRUE(EncryptSectors(data.data(), 10, data.size(), ci.get()));
        for (size_t a = 0; a < 4; ++a) {
            for (size_t b = a + 1; b < 4; ++b) {
                EXPECT_NE(0, std::memcmp(data.data() + a * 512, data.data() + b * 512, 512)) << mode;
            }
        }
    }
}

TEST_F(SectorModes, SectorsFiveToSevenAtOnceEqualEachAlone) {
    for (uint32_t mode : {MODE_LRW, MODE_CBC}) {
        auto ci = Make(mode);
        ref::Bytes together = Head(plain_, 3 * 512);
        ASSERT_TRUE(EncryptSectors(together.data(), 5, together.size(), ci.get()));
        ref::Bytes alone = Head(plain_, 3 * 512);
        for (uint64_t k = 0; k < 3; ++k) {
            ASSERT_TRUE(EncryptSectors(alone.data() + k * 512, 5 + k, 512, ci.get()));
        }
        EXPECT_EQ(together, alone) << mode;

        ref::Bytes decrypted = together;
        ASSERT_TRUE(DecryptSectors(decrypted.data(), 5, decrypted.size(), ci.get()));
        for (uint64_t k = 0; k < 3; ++k) {
            ASSERT_TRUE(DecryptSectors(alone.data() + k * 512, 5 + k, 512, ci.get()));
        }
        EXPECT_EQ(decrypted, alone) << mode;
        EXPECT_EQ(decrypted, Head(plain_, 3 * 512)) << mode;
    }
}

// Encrypting a copy gives what encrypting in place gives, over runs longer than one library call, and leaves
// the source alone; a partial sector is refused with the destination untouched.
TEST_F(SectorModes, EncryptingFromASourceEqualsEncryptingInPlace) {
    const ref::Bytes before = plain_;
    for (uint32_t mode : {MODE_LRW, MODE_CBC}) {
        auto ci = Make(mode);
        for (size_t sectors : {size_t{1}, size_t{3}, size_t{300}}) {
            ref::Bytes copy(sectors * 512, 0xEE);
            ASSERT_TRUE(EncryptSectorsFrom(plain_.data(), copy.data(), 9, copy.size(), ci.get()));
            EXPECT_EQ(copy, Reference(mode, 9, sectors, true, plain_)) << mode << " " << sectors;
        }
        ref::Bytes untouched(1024, 0xEE);
        EXPECT_FALSE(EncryptSectorsFrom(plain_.data(), untouched.data(), 1, 1000, ci.get()));
        EXPECT_EQ(untouched, ref::Bytes(1024, 0xEE));
    }
    EXPECT_EQ(plain_, before);
}

TEST_F(SectorModes, PartialSectorsAreRefusedAndLeftUntouched) {
    for (uint32_t mode : {MODE_LRW, MODE_CBC}) {
        auto ci = Make(mode);
        for (size_t length : {size_t{1}, size_t{16}, size_t{511}, size_t{513}, size_t{1000}, size_t{1535}}) {
            ref::Bytes data = Head(plain_, 2048);
            EXPECT_FALSE(EncryptSectors(data.data(), 1, length, ci.get())) << length;
            EXPECT_EQ(data, Head(plain_, 2048)) << length;
            EXPECT_FALSE(DecryptSectors(data.data(), 1, length, ci.get())) << length;
            EXPECT_EQ(data, Head(plain_, 2048)) << length;
        }
        ref::Bytes data = Head(plain_, 448);
        EXPECT_FALSE(EncryptBuffer(data.data(), 447, ci.get()));
        EXPECT_FALSE(DecryptBuffer(data.data(), 440, ci.get()));
        EXPECT_EQ(data, Head(plain_, 448));
    }
}

TEST_F(SectorModes, EmptyRequestsAndUnusableContexts) {
    auto ci = Make(MODE_LRW);
    EXPECT_TRUE(EncryptSectors(nullptr, 1, 0, ci.get()));
    EXPECT_FALSE(EncryptSectors(plain_.data(), 1, 512, nullptr));

    ref::Info fresh(CryptoAlloc()); // no key yet
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->Algorithm, CRYPTO_EA_NEW);
    ref::Bytes data = Head(plain_, 512);
    EXPECT_FALSE(EncryptSectors(data.data(), 1, 512, fresh.get()));

    ci->Mode = 3; // unknown mode
    EXPECT_FALSE(EncryptSectors(data.data(), 1, 512, ci.get()));
    EXPECT_FALSE(EncryptBuffer(data.data(), 448, ci.get()));
    EXPECT_EQ(data, Head(plain_, 512));
}

TEST(CryptoTables, OneAlgorithmOfAesWithLrwThenCbc) {
    const uint32_t ea = CryptoFirstAlgorithm();
    EXPECT_EQ(ea, EA_AES);
    EXPECT_EQ(CryptoNextAlgorithm(ea), 0u);
    EXPECT_EQ(CryptoAlgorithmCipher(ea, 0), CIPHER_AES);
    EXPECT_EQ(CryptoAlgorithmCipher(ea, 1), 0u);
    EXPECT_EQ(CryptoAlgorithmKeySize(ea), 32u);
    EXPECT_EQ(CryptoFirstMode(ea), MODE_LRW);
    EXPECT_EQ(CryptoNextMode(ea, MODE_LRW), MODE_CBC);
    EXPECT_EQ(CryptoNextMode(ea, MODE_CBC), 0u);
    const CRYPTO_CIPHER_INFO* aes = CryptoCipherInfo(CIPHER_AES);
    ASSERT_NE(aes, nullptr);
    EXPECT_STREQ(aes->Name, "AES");
    EXPECT_EQ(aes->BlockSize, 16u);
    EXPECT_EQ(aes->KeySize, 32u);
    EXPECT_EQ(aes->KeyScheduleSize, 488u);
    EXPECT_EQ(CryptoCipherInfo(2), nullptr);
}
