#include <random>

#include <gtest/gtest.h>

#include "driver/Gf128.h"
#include "driver/VolumeTestSupport.h"

namespace {

ref::Block TableTweak(const GF128_LRW_TABLE& table, uint64_t index) {
    ref::Block out;
    Gf128LrwTweak(&table, index, out.data());
    return out;
}

std::vector<ref::Block> TestKeys() {
    std::mt19937_64 rng(128);
    std::vector<ref::Block> keys;
    ref::Block one{};
    one[15] = 1;
    keys.push_back(one); // K2 = 1: the tweak is the index itself
    ref::Block top{};
    top[0] = 0x80; // x^127: every product is reduced
    keys.push_back(top);
    ref::Block ones;
    ones.fill(0xFF);
    keys.push_back(ones);
    for (int i = 0; i < 5; ++i) {
        ref::Block k;
        for (auto& b : k) {
            b = static_cast<uint8_t>(rng());
        }
        keys.push_back(k);
    }
    return keys;
}

} // namespace

// The reference itself, against facts of the field definition.
TEST(Gf128Reference, ReducesByTheFieldPolynomial) {
    ref::Block top{};
    top[0] = 0x80; // x^127
    ref::Block x{};
    x[15] = 2; // x
    ref::Block expected{};
    expected[15] = 0x87; // x^128 = x^7 + x^2 + x + 1
    EXPECT_EQ(ref::GfMul(top, x), expected);

    ref::Block one{};
    one[15] = 1;
    std::mt19937_64 rng(1);
    ref::Block a;
    for (auto& b : a) {
        b = static_cast<uint8_t>(rng());
    }
    EXPECT_EQ(ref::GfMul(a, one), a);
}

TEST(Gf128, TableTweakEqualsBitByBitProduct) {
    std::mt19937_64 rng(2);
    std::vector<uint64_t> indexes = {
        0, 1, 2, 0x80, 0xFF, 0x100, uint64_t{1} << 63, ~uint64_t{0}, 0x0000FFFFFFFFFFFFull, 0x00FF000000000000ull};
    for (int i = 0; i < 200; ++i) {
        indexes.push_back(rng());
    }
    for (const ref::Block& key : TestKeys()) {
        GF128_LRW_TABLE table;
        GF128_LRW_STEPS steps;
        ASSERT_TRUE(Gf128BuildLrwTable(key.data(), &table, &steps));
        for (uint64_t index : indexes) {
            EXPECT_EQ(TableTweak(table, index), ref::GfMul(key, ref::IndexElement(index))) << std::hex << index;
        }
    }
}

TEST(Gf128, TableEntriesFollowTheDefinition) {
    const ref::Block key = TestKeys()[4];
    GF128_LRW_TABLE table;
    GF128_LRW_STEPS steps;
    ASSERT_TRUE(Gf128BuildLrwTable(key.data(), &table, &steps));
    for (int j = 0; j < 8; ++j) {
        for (int h = 0; h < 2; ++h) {
            for (uint64_t n = 0; n < 16; ++n) {
                const uint64_t element = n << ((7 - j) * 8 + 4 * h);
                EXPECT_EQ(ref::ToBlock(table.Entry[2 * j + h][n]), ref::GfMul(key, ref::IndexElement(element)))
                    << j << " " << h << " " << n;
            }
        }
    }
}

TEST(Gf128, StepsTurnOneTweakIntoTheNext) {
    std::mt19937_64 rng(3);
    std::vector<uint64_t> indexes = {0, 1, 2, 3, 7, 31, 32, 0xFFFF, uint64_t{1} << 63, ~uint64_t{0}, ~uint64_t{0} - 1};
    for (int i = 0; i < 100; ++i) {
        indexes.push_back(rng());
    }
    for (const ref::Block& key : TestKeys()) {
        GF128_LRW_TABLE table;
        GF128_LRW_STEPS steps;
        ASSERT_TRUE(Gf128BuildLrwTable(key.data(), &table, &steps));
        for (uint64_t i : indexes) {
            ref::Block next = ref::GfMul(key, ref::IndexElement(i));
            const uint8_t* step = steps.Step[Gf128LrwStepIndex(i + 1)];
            for (int b = 0; b < 16; ++b) {
                next[b] ^= step[b];
            }
            EXPECT_EQ(next, ref::GfMul(key, ref::IndexElement(i + 1))) << std::hex << i;
        }
    }
}
