// Image disks as programs see them: plugged with the tool, opened as physical drives and partitions, partitioned
// through the disk control codes (and read back by fdisk), refused removal while in use, and plugged again.
#include "platform/devices/disks.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using platform::devices::DiskIdentity;

constexpr uint64_t kDiskBytes = 64ull << 20;
constexpr uint64_t kTrack = 63 * 512;

std::string RunCommand(const std::string& command, int* exitCode = nullptr) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string text;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
        text.append(buffer, n);
    const int status = pclose(pipe);
    if (exitCode)
        *exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return text;
}

struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    explicit Handle(const std::u16string& name, DWORD access = GENERIC_READ | GENERIC_WRITE)
        : h(CreateFileW(name.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr)) {
    }
    ~Handle() { Close(); }
    void Close() {
        if (h != INVALID_HANDLE_VALUE)
            CloseHandle(h);
        h = INVALID_HANDLE_VALUE;
    }
    bool Valid() const { return h != INVALID_HANDLE_VALUE; }
    template <class T> bool Get(DWORD code, T& out) {
        DWORD returned = 0;
        return DeviceIoControl(h, code, nullptr, 0, &out, sizeof(T), &returned, nullptr) && returned == sizeof(T);
    }
};

class DisksTest : public ::testing::Test {
protected:
    void SetUp() override { platform::kernel::EnableDeviceAccess(); }
    void TearDown() override {
        EXPECT_TRUE(platform::kernel::StopHost());
        std::ifstream errors(platform::machine::PathOf("kernel/host.err"));
        const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
        EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
    }

    std::string NewImage(const char* name, uint64_t bytes = kDiskBytes) {
        const std::string path = machine.Scratch("disks") + "/" + name;
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(ftruncate(fd, static_cast<off_t>(bytes)), 0);
        close(fd);
        return path;
    }

    DWORD Plug(const std::string& image) {
        DiskIdentity id;
        id.hardwareId = u"USB\\VID_152D&PID_2338";
        id.serial = u"0123456789AB";
        DWORD number = 0;
        EXPECT_EQ(platform::devices::PlugDisk(image, id, number), ERROR_SUCCESS);
        return number;
    }

    // Two partitions as the suite lays them out: the first of `publicBytes` from one track in (a type the system
    // mounts), one free track, the rest as the second (a type it leaves alone).
    static bool MakeTwoPartitions(Handle& disk, uint64_t publicBytes) {
        CREATE_DISK create{};
        create.PartitionStyle = PARTITION_STYLE_MBR;
        create.Mbr.Signature = 0x5A454456;
        DWORD returned = 0;
        if (!DeviceIoControl(disk.h, IOCTL_DISK_CREATE_DISK, &create, sizeof(create), nullptr, 0, &returned, nullptr))
            return false;
        alignas(8) uint8_t record[168] = {};
        auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION*>(record);
        layout->PartitionCount = 4;
        layout->Signature = 0x5A454456;
        auto* entries = layout->PartitionEntry;
        const uint64_t first = (publicBytes - kTrack) / kTrack * kTrack;
        const uint64_t second = kTrack + first + kTrack;
        entries[0].StartingOffset.QuadPart = kTrack;
        entries[0].PartitionLength.QuadPart = static_cast<LONGLONG>(first);
        entries[0].PartitionType = 0x06;
        entries[1].StartingOffset.QuadPart = static_cast<LONGLONG>(second);
        entries[1].PartitionLength.QuadPart = static_cast<LONGLONG>((kDiskBytes - second) / kTrack * kTrack);
        entries[1].PartitionType = 0x63;
        for (int i = 0; i < 4; ++i)
            entries[i].RewritePartition = TRUE;
        return DeviceIoControl(disk.h, IOCTL_DISK_SET_DRIVE_LAYOUT, record, sizeof(record), nullptr, 0, &returned,
                               nullptr) &&
               DeviceIoControl(disk.h, IOCTL_DISK_UPDATE_PROPERTIES, nullptr, 0, nullptr, 0, &returned, nullptr);
    }

    platform::machine::ScopedTestMachine machine;
};

} // namespace

TEST_F(DisksTest, PlugToolMakesAPhysicalDriveWithItsIdentity) {
    const std::string image = NewImage("enclosure.img");
    int code = -1;
    const std::string printed =
        RunCommand(std::string(DISKPLUG_PATH) + " plug " + image +
                       " --hwid 'USB\\VID_152D&PID_2338' --serial S123 --vendor JMicron --product"
                       " 'Twin Disk'",
                   &code);
    ASSERT_EQ(code, 0) << printed;
    EXPECT_EQ(printed, "1\n");
    const std::string listed = RunCommand(std::string(DISKPLUG_PATH) + " list");
    EXPECT_NE(listed.find("1\t" + image + "\tUSB\\VID_152D&PID_2338\tJMicron Twin Disk USB Device\tfixed"),
              std::string::npos)
        << listed;

    const auto disks = platform::devices::ListDisks();
    ASSERT_EQ(disks.size(), 1u);
    EXPECT_EQ(disks[0].parentId, u"USB\\VID_152D&PID_2338\\S123");
    EXPECT_EQ(disks[0].instanceId, u"USBSTOR\\DISK&VEN_JMICRON&PROD_TWIN_DISK&REV_1.00\\S123&0");

    Handle drive(u"\\\\.\\PhysicalDrive1");
    ASSERT_TRUE(drive.Valid()) << GetLastError();
    STORAGE_DEVICE_NUMBER number{};
    ASSERT_TRUE(drive.Get(IOCTL_STORAGE_GET_DEVICE_NUMBER, number));
    EXPECT_EQ(number.DeviceType, FILE_DEVICE_DISK);
    EXPECT_EQ(number.DeviceNumber, 1u);
    EXPECT_EQ(number.PartitionNumber, 0u);
    DISK_GEOMETRY geometry{};
    ASSERT_TRUE(drive.Get(IOCTL_DISK_GET_DRIVE_GEOMETRY, geometry));
    EXPECT_EQ(geometry.BytesPerSector, 512u);
    EXPECT_EQ(geometry.SectorsPerTrack, 63u);
    EXPECT_EQ(geometry.TracksPerCylinder, 255u);
    EXPECT_EQ(geometry.MediaType, FixedMedia);
    EXPECT_EQ(geometry.Cylinders.QuadPart, static_cast<LONGLONG>(kDiskBytes / (255 * 63 * 512)));
    alignas(8) uint8_t ex[64] = {};
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(drive.h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, ex, sizeof(ex), &returned, nullptr));
    EXPECT_EQ(reinterpret_cast<DISK_GEOMETRY_EX*>(ex)->DiskSize.QuadPart, static_cast<LONGLONG>(kDiskBytes));

    STORAGE_PROPERTY_QUERY query{StorageDeviceProperty, PropertyStandardQuery, {0}};
    alignas(8) uint8_t descriptor[4096] = {};
    ASSERT_TRUE(DeviceIoControl(drive.h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof(query), descriptor,
                                sizeof(descriptor), &returned, nullptr));
    const auto* device = reinterpret_cast<STORAGE_DEVICE_DESCRIPTOR*>(descriptor);
    EXPECT_FALSE(device->RemovableMedia);
    EXPECT_EQ(device->BusType, BusTypeUsb);
    EXPECT_STREQ(reinterpret_cast<const char*>(descriptor + device->VendorIdOffset), "JMicron");
    EXPECT_STREQ(reinterpret_cast<const char*>(descriptor + device->SerialNumberOffset), "S123");

    // The disk interface path opens the same disk.
    Handle byInterface(disks[0].interfacePath);
    ASSERT_TRUE(byInterface.Valid()) << GetLastError();
    ASSERT_TRUE(byInterface.Get(IOCTL_STORAGE_GET_DEVICE_NUMBER, number));
    EXPECT_EQ(number.DeviceNumber, 1u);
}

TEST_F(DisksTest, LayoutWrittenThroughControlCodesIsWhatFdiskReads) {
    const std::string image = NewImage("layout.img");
    ASSERT_EQ(Plug(image), 1u);
    Handle disk(u"\\\\.\\PhysicalDrive1");
    ASSERT_TRUE(disk.Valid());
    ASSERT_TRUE(MakeTwoPartitions(disk, 32ull << 20)) << GetLastError();

    const std::string fdisk = RunCommand("fdisk -l " + image);
    EXPECT_NE(fdisk.find("Disk identifier: 0x5a454456"), std::string::npos) << fdisk;
    const std::string dump = RunCommand("sfdisk --dump " + image);
    const uint64_t first = ((32ull << 20) - kTrack) / kTrack * kTrack;
    const uint64_t second = (kTrack + first + kTrack) / 512;
    EXPECT_NE(dump.find("start=          63, size=" + std::string(12 - std::to_string(first / 512).size(), ' ') +
                        std::to_string(first / 512) + ", type=6"),
              std::string::npos)
        << dump;
    EXPECT_NE(dump.find("start=" + std::string(12 - std::to_string(second).size(), ' ') + std::to_string(second)),
              std::string::npos)
        << dump;
    EXPECT_NE(dump.find("type=63"), std::string::npos) << dump;

    // The layout reads back as written, with the partitions numbered.
    alignas(8) uint8_t record[168] = {};
    DWORD returned = 0;
    ASSERT_TRUE(
        DeviceIoControl(disk.h, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, record, sizeof(record), &returned, nullptr));
    const auto* layout = reinterpret_cast<DRIVE_LAYOUT_INFORMATION*>(record);
    EXPECT_EQ(layout->Signature, 0x5A454456u);
    EXPECT_EQ(layout->PartitionCount, 4u);
    EXPECT_EQ(layout->PartitionEntry[1].PartitionNumber, 2u);
    EXPECT_EQ(layout->PartitionEntry[1].StartingOffset.QuadPart, static_cast<LONGLONG>(second * 512));
    // A buffer too small for four entries is refused, not cut.
    EXPECT_FALSE(DeviceIoControl(disk.h, IOCTL_DISK_GET_DRIVE_LAYOUT, nullptr, 0, record, 100, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    // The second partition is a device of its own, at its place on the disk.
    Handle partition(u"\\\\.\\Harddisk1Partition2");
    ASSERT_TRUE(partition.Valid()) << GetLastError();
    STORAGE_DEVICE_NUMBER number{};
    ASSERT_TRUE(partition.Get(IOCTL_STORAGE_GET_DEVICE_NUMBER, number));
    EXPECT_EQ(number.PartitionNumber, 2u);
    VOLUME_DISK_EXTENTS extents{};
    ASSERT_TRUE(partition.Get(IOCTL_VOLUME_GET_VOLUME_DISK_EXTENTS, extents));
    EXPECT_EQ(extents.Extents[0].DiskNumber, 1u);
    EXPECT_EQ(extents.Extents[0].StartingOffset.QuadPart, static_cast<LONGLONG>(second * 512));

    // The first partition has a drive letter; the second, of a type the system leaves alone, has none.
    const auto disks = platform::devices::ListDisks();
    ASSERT_EQ(disks.size(), 1u);
    ASSERT_EQ(disks[0].letters.size(), 1u);
    const char16_t letter = disks[0].letters[0];
    EXPECT_TRUE(GetLogicalDrives() & (1u << (letter - u'A')));
    Handle volume(std::u16string(u"\\\\.\\") + letter + u":", 0);
    ASSERT_TRUE(volume.Valid()) << GetLastError();
    ASSERT_TRUE(volume.Get(IOCTL_STORAGE_GET_DEVICE_NUMBER, number));
    EXPECT_EQ(number.DeviceNumber, 1u);
    EXPECT_EQ(number.PartitionNumber, 1u);

    // A sector written through the disk lands in the image at its place: the one right after partition 1.
    uint8_t marker[512] = {0x56, 0x44, 0x45, 0x5A};
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(kTrack + first);
    ASSERT_TRUE(SetFilePointerEx(disk.h, at, nullptr, FILE_BEGIN));
    DWORD done = 0;
    ASSERT_TRUE(WriteFile(disk.h, marker, sizeof(marker), &done, nullptr));
    uint8_t onDisk[4] = {};
    const int fd = open(image.c_str(), O_RDONLY);
    ASSERT_EQ(pread(fd, onDisk, 4, static_cast<off_t>(kTrack + first)), 4);
    close(fd);
    EXPECT_EQ(memcmp(onDisk, marker, 4), 0);
    // Raw transfers are whole sectors.
    uint8_t odd[513];
    EXPECT_FALSE(ReadFile(disk.h, odd, sizeof(odd), &done, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST_F(DisksTest, UnplugWaitsForHandlesAndReplugKeepsLayoutAndLetter) {
    const std::string image = NewImage("replug.img");
    const DWORD number = Plug(image);
    std::u16string letters;
    {
        Handle disk(u"\\\\.\\PhysicalDrive1");
        ASSERT_TRUE(MakeTwoPartitions(disk, 16ull << 20));
        letters = platform::devices::ListDisks().at(0).letters;
        ASSERT_EQ(letters.size(), 1u);
        // An open handle that no program watches keeps the disk in.
        EXPECT_EQ(platform::devices::UnplugDisk(number), platform::devices::ERROR_DEVICE_IN_USE);
        EXPECT_EQ(platform::devices::ListDisks().size(), 1u);
    }
    {
        Handle volume(std::u16string(u"\\\\.\\") + letters[0] + u":", 0);
        ASSERT_TRUE(volume.Valid());
        EXPECT_EQ(platform::devices::UnplugDisk(number), platform::devices::ERROR_DEVICE_IN_USE);
    }
    EXPECT_EQ(platform::devices::UnplugDisk(number), ERROR_SUCCESS);
    EXPECT_TRUE(platform::devices::ListDisks().empty());
    EXPECT_FALSE(Handle(u"\\\\.\\PhysicalDrive1").Valid());
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(GetLogicalDrives() & (1u << (letters[0] - u'A')));
    EXPECT_EQ(platform::devices::UnplugDisk(number), ERROR_FILE_NOT_FOUND);

    ASSERT_EQ(Plug(image), 1u);
    const auto again = platform::devices::ListDisks();
    ASSERT_EQ(again.size(), 1u);
    EXPECT_EQ(again[0].letters, letters);

    // A surprise removal asks nothing; the handle still open fails from then on.
    Handle disk(u"\\\\.\\PhysicalDrive1");
    ASSERT_TRUE(disk.Valid());
    EXPECT_EQ(platform::devices::UnplugDisk(1, true), ERROR_SUCCESS);
    uint8_t sector[512];
    DWORD done = 0;
    EXPECT_FALSE(ReadFile(disk.h, sector, sizeof(sector), &done, nullptr));
}

TEST_F(DisksTest, PlugRefusesWhatIsNotADiskImage) {
    const std::string image = NewImage("twice.img", 4096);
    DWORD number = 0;
    struct Case {
        std::string path;
        DWORD error;
    } cases[] = {
        {machine.Scratch("disks") + "/missing.img", ERROR_FILE_NOT_FOUND},
        {machine.Scratch("disks"), ERROR_INVALID_PARAMETER},
        {"/dev/null", ERROR_INVALID_PARAMETER},
        {NewImage("tiny.img", 100), ERROR_INVALID_PARAMETER},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::devices::PlugDisk(c.path, {}, number), c.error) << c.path;
    ASSERT_EQ(platform::devices::PlugDisk(image, {}, number), ERROR_SUCCESS);
    EXPECT_EQ(platform::devices::PlugDisk(image, {}, number), ERROR_ALREADY_EXISTS);
}
