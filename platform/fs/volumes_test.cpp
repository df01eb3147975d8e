#include "platform/fs/volumes.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/fs_test_support.h"
#include "platform/fs/paths.h"

#include <mutex>

using namespace fstest;

namespace {

// The letters the test's drive provider offers; the provider is registered once for the whole program.
std::mutex g_providedMutex;
std::vector<platform::fs::DriveInfo> g_provided;

void Provide(std::vector<platform::fs::DriveInfo> drives) {
    static const bool registered = (platform::fs::RegisterDriveProvider([] {
                                        std::lock_guard lock(g_providedMutex);
                                        return g_provided;
                                    }),
                                    true);
    (void)registered;
    std::lock_guard lock(g_providedMutex);
    g_provided = std::move(drives);
}

platform::fs::DriveInfo RawDisk(WCHAR letter, platform::fs::DriveKind kind = platform::fs::DriveKind::Fixed) {
    platform::fs::DriveInfo info;
    info.letter = letter;
    info.kind = kind;
    info.raw = true;
    info.fileSystem.clear();
    return info;
}

class VolumesTest : public FsTest {
protected:
    void TearDown() override { Provide({}); }
};

TEST_F(VolumesTest, TypesAndLettersComeFromTheDriveTable) {
    ASSERT_TRUE(
        platform::fs::SetDrive(fstest::Letter(u'R', m_machine.Scratch("r"), platform::fs::DriveKind::Removable)));
    ASSERT_TRUE(platform::fs::SetDrive(fstest::Letter(u'N', m_machine.Scratch("n"), platform::fs::DriveKind::Remote)));
    EXPECT_EQ(GetDriveTypeW(u"T:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeW(u"r:\\"), DRIVE_REMOVABLE);
    EXPECT_EQ(GetDriveTypeW(u"N:\\"), DRIVE_REMOTE);
    EXPECT_EQ(GetDriveTypeW(u"Q:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeW(u"T:\\sub\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetDriveTypeW(nullptr), DRIVE_FIXED); // the current folder's drive
    const DWORD mask = GetLogicalDrives();
    EXPECT_EQ(mask, (1u << ('C' - 'A')) | (1u << ('N' - 'A')) | (1u << ('R' - 'A')) | (1u << ('T' - 'A')));
    WCHAR strings[64];
    EXPECT_EQ(GetLogicalDriveStringsW(64, strings), 16u);
    EXPECT_EQ(std::u16string(strings, 16), std::u16string(u"C:\\\0N:\\\0R:\\\0T:\\\0", 16));
    EXPECT_EQ(GetLogicalDriveStringsW(4, strings), 17u);
}

TEST_F(VolumesTest, VolumeInformationOnlyForRoots) {
    WCHAR label[32];
    WCHAR fs[16];
    DWORD serial = 0, maxComponent = 0, flags = 0;
    ASSERT_TRUE(GetVolumeInformationW(u"T:\\", label, 32, &serial, &maxComponent, &flags, fs, 16));
    EXPECT_EQ(std::u16string(label), u"");
    EXPECT_EQ(std::u16string(fs), u"NTFS");
    EXPECT_EQ(maxComponent, 255u);
    // The default serial is stable for a letter and folder and differs between folders.
    EXPECT_EQ(serial, platform::fs::Drive(u'T')->serial);
    ASSERT_TRUE(platform::fs::SetDrive(fstest::Letter(u'U', m_machine.Scratch("u"))));
    DWORD other = 0;
    ASSERT_TRUE(GetVolumeInformationW(u"U:\\", nullptr, 0, &other, nullptr, nullptr, nullptr, 0));
    EXPECT_NE(serial, other);

    ASSERT_TRUE(SetVolumeLabelW(u"T:\\", u"Backup"));
    ASSERT_TRUE(GetVolumeInformationW(u"\\\\?\\T:\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(std::u16string(label), u"Backup");
    EXPECT_FALSE(GetVolumeInformationW(u"T:\\", label, 3, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);

    EXPECT_FALSE(GetVolumeInformationW(u"T:", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(GetVolumeInformationW(u"T:\\sub\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(GetVolumeInformationW(u"T:\\sub", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_FALSE(GetVolumeInformationW(u"Q:\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    // A letter whose folder is gone is a drive without its medium.
    ASSERT_TRUE(platform::fs::SetDrive(fstest::Letter(u'V', m_machine.Folder() + "/gone")));
    EXPECT_FALSE(GetVolumeInformationW(u"V:\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_NOT_READY);
}

TEST_F(VolumesTest, FreeSpaceOfTheHostFileSystem) {
    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExW(u"T:\\", &available, &total, &free));
    EXPECT_GT(total.QuadPart, 0u);
    EXPECT_LE(free.QuadPart, total.QuadPart);
    EXPECT_LE(available.QuadPart, free.QuadPart);
    EXPECT_FALSE(GetDiskFreeSpaceExW(u"T:\\missing\\", &available, &total, &free));
    DWORD spc, bps, freeClusters, clusters;
    EXPECT_TRUE(GetDiskFreeSpaceW(u"T:\\", &spc, &bps, &freeClusters, &clusters));
    EXPECT_EQ(bps, 512u);
}

TEST_F(VolumesTest, ProvidedRawDisksJoinTheTableWhileTheyExist) {
    // A provided letter the table already has keeps the table's entry.
    Provide({RawDisk(u'Z'), RawDisk(u'e', platform::fs::DriveKind::CdRom), RawDisk(u'T')});
    const DWORD base = (1u << ('C' - 'A')) | (1u << ('T' - 'A'));
    EXPECT_EQ(GetLogicalDrives(), base | (1u << ('E' - 'A')) | (1u << ('Z' - 'A')));
    WCHAR strings[64];
    EXPECT_EQ(GetLogicalDriveStringsW(64, strings), 16u);
    EXPECT_EQ(std::u16string(strings, 16), std::u16string(u"C:\\\0E:\\\0T:\\\0Z:\\\0", 16));
    EXPECT_EQ(GetDriveTypeW(u"Z:\\"), DRIVE_FIXED);
    EXPECT_EQ(GetDriveTypeW(u"e:\\"), DRIVE_CDROM);
    ASSERT_TRUE(platform::fs::Drive(u'z'));
    EXPECT_TRUE(platform::fs::Drive(u'Z')->raw);
    EXPECT_FALSE(platform::fs::Drive(u'T')->raw);
    EXPECT_TRUE(GetVolumeInformationW(u"T:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));

    // A raw disk has no file system: no volume information, no label, no free space, no names below its root.
    WCHAR label[32];
    EXPECT_FALSE(GetVolumeInformationW(u"Z:\\", label, 32, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
    EXPECT_FALSE(SetVolumeLabelW(u"Z:\\", u"Name"));
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
    ULARGE_INTEGER available;
    EXPECT_FALSE(GetDiskFreeSpaceExW(u"Z:\\", &available, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
    EXPECT_EQ(CreateFileW(u"Z:\\file.txt", GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
    EXPECT_EQ(GetFileAttributesW(u"Z:\\"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);

    // The letters go with their provider's disks; the table's own letters stay.
    Provide({});
    EXPECT_EQ(GetLogicalDrives(), base);
    EXPECT_EQ(GetDriveTypeW(u"Z:\\"), DRIVE_NO_ROOT_DIR);
    EXPECT_EQ(GetFileAttributesW(u"Z:\\file.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_PATH_NOT_FOUND);
}

} // namespace
