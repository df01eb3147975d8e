#include <random>

#include <gtest/gtest.h>

#include "driver/Crc.h"
#include "driver/VolumeTestSupport.h"

TEST(Crc32, CheckValueOfIeee8023) {
    EXPECT_EQ(Crc32("123456789", 9), 0xCBF43926u);
}

TEST(Crc32, ReferenceGivesTheCheckValueToo) {
    EXPECT_EQ(ref::Crc(reinterpret_cast<const uint8_t*>("123456789"), 9), 0xCBF43926u);
}

TEST(Crc32, EmptyInputIsZero) {
    EXPECT_EQ(Crc32("", 0), 0u);
}

TEST(Crc32, MatchesTheBitwiseDefinitionOnRandomData) {
    std::mt19937_64 rng(6);
    for (size_t n : {1u, 3u, 4u, 5u, 255u, 256u, 1000u}) {
        const ref::Bytes data = ref::RandomBytes(rng, n);
        EXPECT_EQ(Crc32(data.data(), data.size()), ref::Crc(data.data(), data.size())) << n;
    }
}

TEST(Crc32, UpdateContinuesARun) {
    const char* text = "123456789";
    EXPECT_EQ(Crc32Update(Crc32(text, 4), text + 4, 5), 0xCBF43926u);
}
