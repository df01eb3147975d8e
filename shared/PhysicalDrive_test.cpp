// The disk-drive classes on plugged image disks: the device record, raw sectors, and the two layouts the disk
// configuration writes, read back from the image file itself.
#include "shared/DiskTestSupport.h"
#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"

#include "platform/fs/files.h"

#include <memory>

namespace {

using storagetest::PartitionSpec;

constexpr uint64_t kTrack = 63 * 512;

struct MbrPartition {
    uint8_t type;
    uint64_t offset;
    uint64_t length;
};

// The four entries and the signature of the image's boot record, read from the file.
struct ImageMbr {
    uint32_t signature = 0;
    bool bootMark = false;
    std::vector<MbrPartition> partitions;
};

class PhysicalDriveTest : public storagetest::StorageTest {
protected:
    std::unique_ptr<CPhysicalDrive> OpenDisk(DWORD number, DWORD flags = 0) {
        for (const auto& disk : platform::devices::ListDisks()) {
            if (disk.number != number)
                continue;
            DiskDriveInfo info;
            if (!CPhysicalDrive::GetPhysicalDriveInfo(disk.interfacePath.c_str(), info, flags))
                return nullptr;
            return std::make_unique<CPhysicalDrive>(info, u"", u"", u"", disk.interfacePath.c_str(), u"");
        }
        return nullptr;
    }

    ImageMbr ReadMbr(const std::string& image) {
        const auto sector = ReadImage(image, 0, 512);
        ImageMbr mbr;
        memcpy(&mbr.signature, sector.data() + 440, 4);
        mbr.bootMark = sector[510] == 0x55 && sector[511] == 0xAA;
        for (int i = 0; i < 4; ++i) {
            const uint8_t* entry = sector.data() + 446 + 16 * i;
            uint32_t first = 0, count = 0;
            memcpy(&first, entry + 8, 4);
            memcpy(&count, entry + 12, 4);
            if (entry[4])
                mbr.partitions.push_back({entry[4], uint64_t{first} * 512, uint64_t{count} * 512});
        }
        return mbr;
    }
};

} // namespace

TEST_F(PhysicalDriveTest, TheRecordTellsNumberTypeGeometryAndRemovableMedia) {
    const DWORD fixed = Plug(NewImage("fixed.img", 200ull << 20), storagetest::kEnclosureBridge, u"F1");
    const DWORD stick = Plug(NewImage("stick.img", 64ull << 20), u"USB\\VID_0781&PID_5567", u"S1", true);
    auto disk = OpenDisk(fixed, DRIVE_MONITOR_NO_REMOVABLE);
    ASSERT_TRUE(disk);
    EXPECT_EQ(disk->GetIndex(), static_cast<int>(fixed));
    EXPECT_EQ(disk->GetDeviceType(), static_cast<DWORD>(FILE_DEVICE_DISK));
    const DISK_GEOMETRY& g = disk->GetInfo().geometry;
    EXPECT_EQ(g.BytesPerSector, 512u);
    EXPECT_EQ(disk->GetCapacity(),
              static_cast<ULONGLONG>(g.Cylinders.QuadPart) * g.TracksPerCylinder * g.SectorsPerTrack * 512);
    EXPECT_GT(disk->GetCapacity(), 190ull << 20);
    EXPECT_EQ(disk->GetInfo().dwRemovable, 0u);
    CString description = disk->GetDescription();
    CString expected;
    expected.Format(u"Physical disk %d - 0GB", static_cast<int>(fixed));
    EXPECT_TRUE(description == expected);
    expected.Format(u"\\Device\\Harddisk%d\\Partition2", static_cast<int>(fixed));
    EXPECT_TRUE(disk->GetSecurePartitionName() == expected);

    // A stick of removable media is left out when the flags say so, and taken otherwise.
    EXPECT_FALSE(OpenDisk(stick, DRIVE_MONITOR_NO_REMOVABLE));
    auto taken = OpenDisk(stick, 0);
    ASSERT_TRUE(taken);
    EXPECT_EQ(taken->GetInfo().dwRemovable, 0u); // the property query runs only with the flag
}

TEST_F(PhysicalDriveTest, RawSectorsReadAndWriteWholeSectorsOnly) {
    const std::string image = NewImage("raw.img", 16ull << 20);
    auto disk = OpenDisk(Plug(image));
    ASSERT_TRUE(disk);
    std::vector<uint8_t> data(4096);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<uint8_t>(i * 13 + 7);
    ASSERT_EQ(disk->Write(1 << 20, data.data(), 4096), ERROR_SUCCESS);
    EXPECT_EQ(ReadImage(image, 1 << 20, 4096), data);
    std::vector<uint8_t> back(4096);
    ASSERT_EQ(disk->Read(1 << 20, back.data(), 4096), ERROR_SUCCESS);
    EXPECT_EQ(back, data);

    // 513 bytes on a disk of 512-byte sectors: refused, nothing read or written.
    std::vector<uint8_t> odd(513, 0xEE);
    EXPECT_EQ(disk->Read(0, odd.data(), 513), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(odd, std::vector<uint8_t>(513, 0xEE));
    EXPECT_EQ(disk->Write(1 << 20, odd.data(), 513), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_EQ(ReadImage(image, 1 << 20, 4096), data);

    // A closed drive touches nothing and says why.
    disk->CloseDevice();
    EXPECT_NE(disk->Read(0, back.data(), 512), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(disk->MakeOnePartition(ZENTRA_ONE_PARTITION_SIGNATURE));
    EXPECT_FALSE(ReadMbr(image).bootMark);
}

TEST_F(PhysicalDriveTest, TwoPartitionsLeaveOneTrackBetweenThem) {
    // A 64,000,000,000-byte disk with a public partition of 6000 megabytes.
    const std::string image = NewImage("enclosure.img", 64000000000ull);
    const DWORD number = Plug(image);
    auto disk = OpenDisk(number);
    ASSERT_TRUE(disk);
    ASSERT_TRUE(disk->MakeTwoPartitions(ZENTRA_DISK_SIGNATURE, 6000)) << GetLastError();

    const ImageMbr mbr = ReadMbr(image);
    EXPECT_TRUE(mbr.bootMark);
    EXPECT_EQ(mbr.signature, ZENTRA_DISK_SIGNATURE);
    ASSERT_EQ(mbr.partitions.size(), 2u);
    EXPECT_EQ(mbr.partitions[0].type, 0x06);
    EXPECT_EQ(mbr.partitions[0].offset, 32256u);
    EXPECT_EQ(mbr.partitions[0].length, 6291403776u);
    EXPECT_EQ(mbr.partitions[1].type, 0x63);
    EXPECT_EQ(mbr.partitions[1].offset, 6291468288u); // 12,288,024 hidden sectors
    // The secure partition runs to the last whole track of the disk's capacity.
    const uint64_t end = mbr.partitions[1].offset + mbr.partitions[1].length;
    EXPECT_LE(end, disk->GetCapacity());
    EXPECT_GT(end + kTrack, disk->GetCapacity());
    EXPECT_EQ(mbr.partitions[1].length % kTrack, 0u);
    EXPECT_TRUE(disk->HasDiskSignature(ZENTRA_DISK_SIGNATURE));
    // The public partition is a volume with a letter; the secure one is no volume of the system's.
    EXPECT_EQ(LettersOf(number).size(), 1u);

    ASSERT_TRUE(disk->MakeOnePartition(ZENTRA_ONE_PARTITION_SIGNATURE));
    const ImageMbr one = ReadMbr(image);
    EXPECT_EQ(one.signature, ZENTRA_ONE_PARTITION_SIGNATURE);
    ASSERT_EQ(one.partitions.size(), 1u);
    EXPECT_EQ(one.partitions[0].offset, kTrack);
    EXPECT_EQ(one.partitions[0].length, (disk->GetCapacity() - kTrack) / kTrack * kTrack);
}

TEST_F(PhysicalDriveTest, ALayoutThatCannotBeBuiltLeavesTheDiskAsItWas) {
    // 32 cylinders: a public partition of 251 megabytes leaves less than a track after the free one.
    const std::string image = NewImage("small.img", 32ull * 255 * 63 * 512, 0x11223344, {{0x07, 63, 2048}});
    const DWORD number = Plug(image);
    auto disk = OpenDisk(number);
    ASSERT_TRUE(disk);
    const ULONGLONG capacityMegabytes = disk->GetCapacity() >> 20;
    ASSERT_EQ(capacityMegabytes, 251u);
    // A public partition of nothing, one that leaves no track for the secure partition, one larger than the disk.
    for (ULONGLONG publicMegabytes : {ULONGLONG{0}, capacityMegabytes, capacityMegabytes + 1}) {
        SetLastError(0);
        EXPECT_FALSE(disk->MakeTwoPartitions(ZENTRA_DISK_SIGNATURE, publicMegabytes)) << publicMegabytes;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
        const ImageMbr mbr = ReadMbr(image);
        EXPECT_EQ(mbr.signature, 0x11223344u);
        EXPECT_EQ(mbr.partitions.size(), 1u);
    }

    // A volume of the disk in use: the disk refuses the new boot record and keeps its layout.
    const std::u16string letters = LettersOf(number);
    ASSERT_EQ(letters.size(), 1u);
    const std::u16string volumePath = std::u16string(u"\\\\.\\") + letters[0] + u":";
    HANDLE volume = CreateFileW(volumePath.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(disk->MakeTwoPartitions(ZENTRA_DISK_SIGNATURE, 40));
    EXPECT_EQ(ReadMbr(image).signature, 0x11223344u);
    CloseHandle(volume);
    EXPECT_TRUE(disk->MakeTwoPartitions(ZENTRA_DISK_SIGNATURE, 40));
    EXPECT_EQ(ReadMbr(image).signature, ZENTRA_DISK_SIGNATURE);
}

TEST_F(PhysicalDriveTest, AVolumeWhoseDiskWentHasNoParent) {
    auto disk = OpenDisk(Plug(NewImage("parent.img", 16ull << 20)));
    ASSERT_TRUE(disk);
    DiskDriveInfo info;
    auto volume = std::make_unique<CLogicalDrive>(4, u"E:", nullptr, info);
    EXPECT_EQ(volume->GetParent(), nullptr);
    disk->AddLogicalDrive(volume.get());
    EXPECT_EQ(volume->GetParent(), disk.get());
    EXPECT_EQ(disk->GetLogicalDrivesBitmap(), 1u << 4);
    disk.reset();
    EXPECT_EQ(volume->GetParent(), nullptr);
    EXPECT_TRUE(volume->GetRoot() == u"E:\\");
}
