// Copying files into a secure disk's NTFS against the same copy into NTFS on a plain image mounted by the packaged
// ntfs-3g, and into a plain folder, in one run.
//
// The secure disk is an encrypted image mounted by Zentra.sys in the kernel host and formatted NTFS through
// FormatEx; its letter leads to the folder where the host mounts its file system. The same tree is copied with
// `cp -r` into that folder, into an ntfs-3g mount of a plain image of the same size formatted by mkntfs (the same
// file system without any of our layers or the encryption), and into a plain folder: 8 files of 128 MiB, then
// 20,000 files of 4 KiB in 200 folders. Every image and the source live in the same folder, in the host's page
// cache; the dirty data of one copy is written back (sync) before the next starts. Prints the times and
// "secure disk large files vs ntfs-3g ratio: X.XX" and "secure disk small files vs ntfs-3g ratio: X.XX" (ntfs-3g's
// time over ours: higher is faster), and "secure disk large files vs plain folder ratio: X.XX" for information.
#include "driver/ZentraIoctl.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/unique_handle.h"
#include "platform/devices/fmifs.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/services.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uint64_t kVolumeBytes = 1536ull << 20;
constexpr int kLargeFiles = 8;
constexpr size_t kLargeSize = 128u << 20;
constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 100;
constexpr size_t kSmallSize = 4096;

bool g_formatted = false;
std::string g_errors = "/dev/null"; // where a timed command's error output goes

BOOLEAN FormatCallback(CALLBACKCOMMAND command, DWORD, PVOID info) {
    if (command == DONE)
        g_formatted = *static_cast<BOOLEAN*>(info) != 0;
    return TRUE;
}

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

double Timed(const std::string& command) {
    Run("sync");
    const auto start = std::chrono::steady_clock::now();
    if (std::system((command + " >/dev/null 2>" + g_errors).c_str()) != 0) {
        fprintf(stderr, "failed: %s\n", command.c_str());
        std::system(("head -5 " + g_errors + " >&2").c_str());
        return -1;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool WriteSource(const std::string& path, size_t size, unsigned seed) {
    std::vector<char> data(std::min<size_t>(size, 1u << 20));
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>((i * 2654435761u + seed) >> 13);
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (fd < 0)
        return false;
    bool ok = true;
    for (size_t done = 0; ok && done < size; done += data.size())
        ok = write(fd, data.data(), std::min(data.size(), size - done)) > 0;
    close(fd);
    return ok;
}

bool MakeSource(const std::string& root) {
    std::filesystem::create_directories(root + "/large");
    for (int i = 0; i < kLargeFiles; ++i) {
        if (!WriteSource(root + "/large/big" + std::to_string(i) + ".bin", kLargeSize, static_cast<unsigned>(i)))
            return false;
    }
    for (int d = 0; d < kFolders; ++d) {
        const std::string folder = root + "/small/folder" + std::to_string(d);
        std::filesystem::create_directories(folder);
        for (int f = 0; f < kFilesPerFolder; ++f) {
            if (!WriteSource(folder + "/file" + std::to_string(f) + ".txt", kSmallSize,
                             static_cast<unsigned>(d * kFilesPerFolder + f)))
                return false;
        }
    }
    return true;
}

bool MountSecureDisk(ULONG drive, const std::u16string& path) {
    std::vector<uint8_t> record(path.size() * 2 + ZENTRA_DEVICE_RECORD_EXTRA, 0);
    auto* r = reinterpret_cast<ZENTRA_DEVICE_RECORD*>(record.data());
    r->CreateNew = 1;
    r->Encrypted = 1;
    r->PasswordLength = 8;
    memcpy(r->Password, "benchpwd", 8);
    r->DriveNumber = drive;
    r->ImageSize = kVolumeBytes + 1024;
    r->PathLength = static_cast<USHORT>(path.size() * 2);
    memcpy(r->Path, path.data(), path.size() * 2);
    const platform::OwnedHandle control(CreateFileW(u"\\\\.\\VyxCtrl", GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                    nullptr));
    DWORD returned = 0;
    return control && DeviceIoControl(control.get(), IOCTL_VYXDISK_MOUNT, record.data(),
                                      static_cast<DWORD>(record.size()), nullptr, 0, &returned, nullptr);
}

// Formats the letter's volume NTFS the way programs do, through the system's format module.
bool Format(WCHAR letter) {
    HMODULE fmifs = LoadLibraryW(u"FMIFS.DLL");
    auto formatEx = fmifs ? reinterpret_cast<decltype(&FormatEx)>(GetProcAddress(fmifs, "FormatEx")) : nullptr;
    if (!formatEx)
        return false;
    std::u16string root = std::u16string(1, letter) + u":\\", fileSystem = u"NTFS", label = u"Secure";
    formatEx(root.data(), FMIFS_HARDDISK, fileSystem.data(), label.data(), TRUE, 0, FormatCallback);
    return g_formatted;
}

} // namespace

int main() {
    platform::machine::ScopedTestMachine machine;
    platform::kernel::EnableDeviceAccess();
    if (access("/dev/fuse", R_OK | W_OK) != 0) {
        fprintf(stderr, "the benchmark mounts file systems and needs /dev/fuse\n");
        return 1;
    }
    const std::string folder = machine.Scratch("bench");
    g_errors = folder + "/errors.txt";
    std::filesystem::copy_file(ZENTRA_DRIVER, folder + "/Zentra.sys");
    platform::fs::DriveInfo drive;
    drive.letter = u'T';
    drive.hostRoot = folder;
    platform::fs::SetDrive(drive);

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        CreateServiceW(manager, u"Zentra", u"Zentra", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, u"T:\\Zentra.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
    const std::string plainImage = folder + "/plain.img";
    const std::string ntfs3g = folder + "/ntfs-3g";
    const std::string plainFolder = folder + "/plain";
    bool ntfs3gMounted = false;
    int result = 1;
    std::string secureRoot;
    if (!service || !StartServiceW(service, 0, nullptr)) {
        fprintf(stderr, "cannot start the driver: %u\n", GetLastError());
    } else if (!MountSecureDisk(18, u"\\??\\T:\\secure.img") || !Format(u'S')) {
        fprintf(stderr, "cannot mount and format the secure disk: %u\n", GetLastError());
    } else if (WCHAR name[16] = {}; !GetVolumeInformationW(u"S:\\", nullptr, 0, nullptr, nullptr, nullptr, name, 16) ||
                                    !platform::fs::Drive(u'S') || (secureRoot = platform::fs::Drive(u'S')->hostRoot).empty()) {
        fprintf(stderr, "the secure disk's file system is not mounted\n");
    } else if (!Run("truncate -s " + std::to_string(kVolumeBytes) + " '" + plainImage + "' && mkntfs -q -Q -F '" +
                    plainImage + "'")) {
        fprintf(stderr, "cannot format the plain image (mkntfs)\n");
    } else if (mkdir(ntfs3g.c_str(), 0755), !(ntfs3gMounted = Run("ntfs-3g '" + plainImage + "' '" + ntfs3g + "'"))) {
        fprintf(stderr, "cannot mount the plain image with ntfs-3g\n");
    } else if (!MakeSource(folder + "/source")) {
        fprintf(stderr, "cannot write the source tree\n");
    } else {
        mkdir(plainFolder.c_str(), 0755);
        const std::string source = "'" + folder + "/source/";
        const std::string targets[3] = {ntfs3g, secureRoot, plainFolder};
        double large[3], small[3];
        for (int i = 0; i < 3; ++i)
            large[i] = Timed("cp -r " + source + "large' '" + targets[i] + "/large'");
        for (int i = 0; i < 3; ++i)
            small[i] = Timed("cp -r " + source + "small' '" + targets[i] + "/small'");
        if (large[0] > 0 && large[1] > 0 && large[2] > 0 && small[0] > 0 && small[1] > 0 && small[2] > 0) {
            printf("cp -r, seconds                 %d x 128 MiB   %d x 4 KiB\n", kLargeFiles,
                   kFolders * kFilesPerFolder);
            printf("NTFS by ntfs-3g (plain image)  %12.2f  %12.2f\n", large[0], small[0]);
            printf("secure disk NTFS               %12.2f  %12.2f\n", large[1], small[1]);
            printf("plain folder                   %12.2f  %12.2f\n", large[2], small[2]);
            printf("secure disk large files vs ntfs-3g ratio: %.2f\n", large[0] / large[1]);
            printf("secure disk small files vs ntfs-3g ratio: %.2f\n", small[0] / small[1]);
            printf("secure disk large files vs plain folder ratio: %.2f\n", large[2] / large[1]);
            result = 0;
        }
    }
    if (ntfs3gMounted)
        umount2(ntfs3g.c_str(), MNT_DETACH);
    if (service) {
        SERVICE_STATUS status{};
        ControlService(service, SERVICE_CONTROL_STOP, &status);
        CloseServiceHandle(service);
    }
    if (manager)
        CloseServiceHandle(manager);
    platform::kernel::StopHost();
    return result;
}
