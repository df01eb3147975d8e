// Real NTFS on a plugged disk: formatted through FormatEx, written through the layer's file calls, seen in the
// mount folder by ordinary tools, kept across unplugging, and locked only when nothing of it is open.
#include "platform/devices/disks.h"
#include "platform/devices/fmifs.h"
#include "platform/devices/volumenames.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/wait.h>

#include <csignal>
#include <unistd.h>

namespace {

std::vector<DWORD> g_progress;
std::vector<int> g_done;

BOOLEAN Callback(CALLBACKCOMMAND command, DWORD, PVOID info) {
    if (command == PROGRESS)
        g_progress.push_back(*static_cast<DWORD*>(info));
    if (command == DONE)
        g_done.push_back(*static_cast<BOOLEAN*>(info) ? 1 : 0);
    return TRUE;
}

std::string Shell(const std::string& command) {
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    std::string text;
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
        text.append(buffer, n);
    pclose(pipe);
    return text;
}

bool WriteWhole(const std::u16string& path, const std::string& content) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const bool ok = WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) &&
                    written == content.size();
    return CloseHandle(file) && ok;
}

std::string ReadWhole(const std::u16string& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return "<" + std::to_string(GetLastError()) + ">";
    std::string content;
    char buffer[65536];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read)
        content.append(buffer, read);
    CloseHandle(file);
    return content;
}

class NtfsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/dev/fuse", R_OK | W_OK) != 0)
            FAIL() << "these tests mount file systems and need /dev/fuse";
        platform::kernel::EnableDeviceAccess();
        g_progress.clear();
        g_done.clear();
        image = machine.Scratch("disks") + "/ntfs.img";
        const int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_EQ(ftruncate(fd, 64 << 20), 0);
        // One partition of a type the system mounts, from sector 2048, as a freshly partitioned disk has.
        uint8_t mbr[512] = {};
        const uint32_t first = 2048, count = (64 << 20) / 512 - 2048;
        mbr[446 + 4] = 0x07;
        memcpy(mbr + 446 + 8, &first, 4);
        memcpy(mbr + 446 + 12, &count, 4);
        const uint32_t signature = 0x5A454456;
        memcpy(mbr + 440, &signature, 4);
        mbr[510] = 0x55;
        mbr[511] = 0xAA;
        ASSERT_EQ(pwrite(fd, mbr, sizeof(mbr), 0), 512);
        close(fd);
        Plug();
    }
    void TearDown() override {
        EXPECT_TRUE(platform::kernel::StopHost());
        std::ifstream errors(platform::machine::PathOf("kernel/host.err"));
        const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
        EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
    }

    void Plug() {
        platform::devices::DiskIdentity id;
        id.hardwareId = u"USB\\VID_152D&PID_2338";
        DWORD number = 0;
        ASSERT_EQ(platform::devices::PlugDisk(image, id, number), ERROR_SUCCESS);
        const auto disks = platform::devices::ListDisks();
        ASSERT_EQ(disks.size(), 1u);
        ASSERT_EQ(disks[0].letters.size(), 1u);
        letter = disks[0].letters[0];
        root = std::u16string(1, letter) + u":\\";
    }

    // The host folder where the volume's files are.
    std::string MountFolder() {
        WCHAR name[64];
        if (!GetVolumeNameForVolumeMountPointW(root.c_str(), name, 64))
            return {};
        std::u16string volume = name; // "\\?\Volume{...}\"
        return platform::machine::PathOf("volumes/" + platform::Utf16ToUtf8(volume.substr(4, volume.size() - 5)));
    }

    void Format(const char16_t* label) {
        // The way a program reaches it: the system module, by name.
        HMODULE fmifs = LoadLibraryW(u"FMIFS.DLL");
        ASSERT_NE(fmifs, nullptr);
        auto formatEx = reinterpret_cast<decltype(&FormatEx)>(GetProcAddress(fmifs, "FormatEx"));
        ASSERT_NE(formatEx, nullptr);
        ASSERT_NE(GetProcAddress(fmifs, "ChkdskEx"), nullptr);
        std::u16string rootText = root, fs = u"NTFS", labelText = label;
        formatEx(rootText.data(), FMIFS_HARDDISK, fs.data(), labelText.data(), TRUE, 0, Callback);
        FreeLibrary(fmifs);
    }

    platform::machine::ScopedTestMachine machine;
    std::string image;
    char16_t letter = 0;
    std::u16string root;
};

} // namespace

TEST_F(NtfsTest, FormattedVolumeHoldsFilesThatOrdinaryToolsSeeAndThatSurviveReplugging) {
    // Unformatted, the letter is a raw volume.
    WCHAR label[MAX_PATH], fileSystem[MAX_PATH];
    DWORD serial = 0;
    EXPECT_FALSE(GetVolumeInformationW(root.c_str(), label, MAX_PATH, &serial, nullptr, nullptr, fileSystem, MAX_PATH));

    Format(u"PUBLIC");
    ASSERT_EQ(g_done, std::vector<int>{1});
    ASSERT_FALSE(g_progress.empty());
    EXPECT_EQ(g_progress.front(), 0u);
    EXPECT_EQ(g_progress.back(), 100u);
    ASSERT_TRUE(GetVolumeInformationW(root.c_str(), label, MAX_PATH, &serial, nullptr, nullptr, fileSystem, MAX_PATH))
        << GetLastError();
    EXPECT_EQ(std::u16string(label), u"PUBLIC");
    EXPECT_EQ(std::u16string(fileSystem), u"NTFS");
    EXPECT_NE(serial, 0u);
    EXPECT_EQ(GetDriveTypeW(root.c_str()), DRIVE_FIXED);

    // Files written through the layer...
    ASSERT_TRUE(CreateDirectoryW((root + u"Folder").c_str(), nullptr)) << GetLastError();
    ASSERT_TRUE(WriteWhole(root + u"Folder\\note.txt", "written through the layer"));
    std::string large(3 << 20, '\0');
    for (size_t i = 0; i < large.size(); ++i)
        large[i] = static_cast<char>(i * 7 + i / 4096);
    ASSERT_TRUE(WriteWhole(root + u"Folder\\large.bin", large));
    ASSERT_TRUE(MoveFileW((root + u"Folder\\note.txt").c_str(), (root + u"Folder\\Note Renamed.txt").c_str()));
    // ...are ordinary files in the mount folder, and the other way round.
    const std::string folder = MountFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(Shell("cat '" + folder + "/Folder/Note Renamed.txt'"), "written through the layer");
    EXPECT_EQ(Shell("ls '" + folder + "/Folder'"), "Note Renamed.txt\nlarge.bin\n");
    EXPECT_EQ(Shell("cmp - '" + folder + "/Folder/large.bin' < /dev/null | head -c 0; stat -c %s '" + folder +
                    "/Folder/large.bin'"),
              std::to_string(large.size()) + "\n");
    Shell("echo from the host > '" + folder + "/host.txt'");
    EXPECT_EQ(ReadWhole(root + u"host.txt"), "from the host\n");

    // Unplugged and plugged again: the same letter and the same files.
    const char16_t before = letter;
    ASSERT_EQ(platform::devices::UnplugDisk(1), ERROR_SUCCESS);
    EXPECT_EQ(GetFileAttributesW((root + u"Folder").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(access(folder.c_str(), F_OK) == 0 ? Shell("ls '" + folder + "'") : std::string("gone"), "host.txt\n");
    Plug();
    EXPECT_EQ(letter, before);
    EXPECT_EQ(ReadWhole(root + u"Folder\\Note Renamed.txt"), "written through the layer");
    EXPECT_EQ(ReadWhole(root + u"Folder\\large.bin"), large);
}

TEST_F(NtfsTest, LockIsRefusedWhileAFileIsOpenAndADismountedVolumeComesBack) {
    Format(u"DATA");
    ASSERT_EQ(g_done, std::vector<int>{1});
    ASSERT_TRUE(WriteWhole(root + u"open.txt", "kept open"));
    HANDLE file =
        CreateFileW((root + u"open.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const std::u16string device = std::u16string(u"\\\\.\\") + letter + u":";
    HANDLE volume = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(volume, INVALID_HANDLE_VALUE);
    DWORD returned = 0;
    EXPECT_FALSE(DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    // Nor does a dismount without the lock pull the file away, and a format gives up.
    EXPECT_FALSE(DeviceIoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    CloseHandle(volume);
    g_done.clear();
    Format(u"AGAIN");
    EXPECT_EQ(g_done, std::vector<int>{0});
    EXPECT_EQ(ReadWhole(root + u"open.txt"), "kept open");
    // Raw writes to a mounted volume are refused.
    volume = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_EXISTING, 0, nullptr);
    uint8_t sector[512] = {};
    EXPECT_FALSE(WriteFile(volume, sector, sizeof(sector), &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);

    // Once the file is closed the lock holds, the dismount takes the files away, and the volume mounts again when
    // the lock goes.
    CloseHandle(file);
    ASSERT_TRUE(DeviceIoControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr))
        << GetLastError();
    ASSERT_TRUE(DeviceIoControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetFileAttributesW((root + u"open.txt").c_str()), INVALID_FILE_ATTRIBUTES);
    // A second handle on a locked volume is refused.
    EXPECT_EQ(CreateFileW(device.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                          nullptr),
              INVALID_HANDLE_VALUE);
    ASSERT_TRUE(DeviceIoControl(volume, FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(ReadWhole(root + u"open.txt"), "kept open");
    CloseHandle(volume);
}

TEST_F(NtfsTest, AHostThatDiedLeavesNoMountInTheWayOfTheNext) {
    Format(u"KEEP");
    ASSERT_EQ(g_done, std::vector<int>{1});
    ASSERT_TRUE(WriteWhole(root + u"kept.txt", "still here"));
    const std::string folder = MountFolder();
    // The host is killed outright: its mount stays behind, dead.
    const int fd = platform::kernel::ConnectHost(false);
    ASSERT_GE(fd, 0);
    ucred peer{};
    socklen_t size = sizeof(peer);
    ASSERT_EQ(getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size), 0);
    close(fd);
    const int process = static_cast<int>(syscall(SYS_pidfd_open, peer.pid, 0));
    ASSERT_GE(process, 0);
    ASSERT_EQ(kill(peer.pid, SIGKILL), 0);
    pollfd ended{process, POLLIN, 0};
    ASSERT_EQ(poll(&ended, 1, 10000), 1);
    close(process);
    // The next host plugs the disks again and mounts the volume where the dead mount was.
    const int again = platform::kernel::ConnectHost(true);
    ASSERT_GE(again, 0);
    close(again);
    EXPECT_EQ(ReadWhole(root + u"kept.txt"), "still here");
    EXPECT_EQ(Shell("cat '" + folder + "/kept.txt'"), "still here");
}
