// The boot record codec against the layouts the system's tools write.
#include "platform/devices/mbr.h"

#include <gtest/gtest.h>

#include <cstring>

using namespace platform::devices;

namespace {

std::vector<uint8_t> Layout(DWORD signature, std::initializer_list<PARTITION_INFORMATION> entries) {
    std::vector<uint8_t> out(8 + entries.size() * sizeof(PARTITION_INFORMATION));
    const DWORD count = static_cast<DWORD>(entries.size());
    memcpy(out.data(), &count, 4);
    memcpy(out.data() + 4, &signature, 4);
    size_t at = 8;
    for (const auto& e : entries) {
        memcpy(out.data() + at, &e, sizeof(e));
        at += sizeof(e);
    }
    return out;
}

PARTITION_INFORMATION Entry(uint64_t offset, uint64_t length, BYTE type) {
    PARTITION_INFORMATION e{};
    e.StartingOffset.QuadPart = static_cast<LONGLONG>(offset);
    e.PartitionLength.QuadPart = static_cast<LONGLONG>(length);
    e.PartitionType = type;
    e.RewritePartition = TRUE;
    return e;
}

} // namespace

TEST(MbrTest, TwoPartitionLayoutRoundTripsThroughTheSector) {
    // The layout of a 64,000,000,000-byte disk with a public part of 6000 MB, one free track between the parts.
    const uint64_t disk = 64000000000ull;
    const auto record =
        Layout(0x5A454456, {Entry(32256, 6291403776ull, 0x06), Entry(6291468288ull, 57708499968ull, 0x63),
                            Entry(0, 0, 0), Entry(0, 0, 0)});
    const auto mbr = MbrFromLayout(record.data(), record.size(), disk);
    ASSERT_TRUE(mbr);
    uint8_t sector[512];
    memset(sector, 0xCC, sizeof(sector)); // boot code that must survive
    WriteMbr(*mbr, sector);
    EXPECT_EQ(sector[0], 0xCC);
    EXPECT_EQ(sector[510], 0x55);
    EXPECT_EQ(sector[511], 0xAA);
    const Mbr parsed = ParseMbr(sector);
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.signature, 0x5A454456u);
    const auto parts = PartitionsOf(parsed);
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].offset, 32256u);
    EXPECT_EQ(parts[0].length, 6291403776ull);
    EXPECT_EQ(parts[1].number, 2u);
    EXPECT_EQ(parts[1].offset, 6291468288ull);
    EXPECT_EQ(parts[1].type, 0x63);
    // CHS of the first partition's start: cylinder 0, head 1, sector 1; the second ends past cylinder 1023.
    EXPECT_EQ(sector[446 + 1], 1);
    EXPECT_EQ(sector[446 + 2], 1);
    EXPECT_EQ(sector[446 + 16 + 5], 0xFE);
    EXPECT_EQ(sector[446 + 16 + 6], 0xFF);

    const auto back = LayoutRecord(parsed);
    ASSERT_EQ(back.size(), 8u + 4 * sizeof(PARTITION_INFORMATION));
    PARTITION_INFORMATION second;
    memcpy(&second, back.data() + 8 + sizeof(PARTITION_INFORMATION), sizeof(second));
    EXPECT_EQ(second.PartitionNumber, 2u);
    EXPECT_EQ(second.HiddenSectors, 12288024u);
    EXPECT_FALSE(second.RecognizedPartition);
    PARTITION_INFORMATION first;
    memcpy(&first, back.data() + 8, sizeof(first));
    EXPECT_TRUE(first.RecognizedPartition);
    EXPECT_EQ(first.HiddenSectors, 63u);
}

TEST(MbrTest, RefusesLayoutsTheDiskCannotHold) {
    const uint64_t disk = 100 * 512;
    struct Case {
        const char* what;
        std::vector<uint8_t> record;
    } cases[] = {
        {"past the end", Layout(1, {Entry(512, 100 * 512, 7)})},
        {"overlapping", Layout(1, {Entry(512, 50 * 512, 7), Entry(40 * 512, 10 * 512, 7)})},
        {"not whole sectors", Layout(1, {Entry(512, 1000, 7)})},
        {"over the boot record", Layout(1, {Entry(0, 10 * 512, 7)})},
        {"five partitions", Layout(1, {Entry(512, 512, 7), Entry(1024, 512, 7), Entry(1536, 512, 7),
                                       Entry(2048, 512, 7), Entry(2560, 512, 7)})},
    };
    for (const auto& c : cases)
        EXPECT_FALSE(MbrFromLayout(c.record.data(), c.record.size(), disk)) << c.what;
    // A count larger than the record is refused rather than read past its end.
    auto shortRecord = Layout(1, {Entry(512, 512, 7)});
    const DWORD count = 4;
    memcpy(shortRecord.data(), &count, 4);
    EXPECT_FALSE(MbrFromLayout(shortRecord.data(), shortRecord.size(), disk));
    // Empty entries are skipped, not laid out.
    const auto sparse = Layout(7, {Entry(0, 0, 0), Entry(1024, 2048, 0x07)});
    const auto mbr = MbrFromLayout(sparse.data(), sparse.size(), disk);
    ASSERT_TRUE(mbr);
    EXPECT_EQ(PartitionsOf(*mbr).size(), 1u);
    EXPECT_EQ(PartitionsOf(*mbr)[0].number, 1u);
}

TEST(MbrTest, SectorWithoutBootMarkHasNoPartitions) {
    uint8_t sector[512] = {};
    sector[446 + 4] = 0x07;
    sector[446 + 12] = 8;
    const Mbr mbr = ParseMbr(sector);
    EXPECT_FALSE(mbr.valid);
    EXPECT_TRUE(PartitionsOf(mbr).empty());
    const auto ex = LayoutRecordEx(mbr);
    ASSERT_EQ(ex.size(), 48u + 4 * 144u);
}
