// Throughput of a mounted secure disk against the same I/O on a plain file.
//
// Writes and then reads 256 MiB through "\\.\Z:" (an encrypted image mounted by Zentra.sys in the kernel host) in
// 64 KiB requests, and the same amount with pwrite/pread on a plain file in the same folder, in one run. Prints the
// throughputs and "mounted read vs plain file ratio: X.XX" (ours / plain), and the same for write. A plain
// (unencrypted) mounted image is measured too, to tell the cost of the device path from that of the encryption.
//
// The sector encryption alone is timed side by side: the same 256 MiB in 64 KiB requests encrypted and decrypted
// in place on one thread, with a key set up as the driver sets up a new volume's (AES in LRW mode). "mounted read
// vs crypto ratio: X.XX" is the mounted disk's read throughput over that decryption's, and the same for write over
// encryption: 1.0 would mean the device path costs nothing beyond the encryption it has to do.
//
// A new image's space is reserved when it is made, so the encrypted disk keeps writes behind (encrypted and written
// by helper threads) and reads ahead of the sequential stream; the write time includes the flush that lands the
// last of them. Both sides work on files of the host's page cache: the plain file's writes and reads stay in memory, and so do
// the image's underneath the driver, so the ratio compares the device path (two process hops, the driver's worker
// thread and the sector encryption) with the cheapest possible file I/O of the same data. Each side runs a few
// rounds, interleaved, and the median round counts, so that one disturbed round does not decide the figure.
#include "driver/Crypto.h"
#include "driver/CryptoLibrary.h"
#include "driver/Volumes.h"
#include "driver/ZentraIoctl.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/services.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr uint64_t kTotal = 256ull << 20;
constexpr DWORD kRequest = 64 * 1024;
constexpr int kRounds = 5;

double Seconds(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double MiBPerSecond(double seconds) {
    return static_cast<double>(kTotal) / (1 << 20) / seconds;
}

bool Mount(ULONG drive, const std::u16string& path, bool encrypted) {
    std::vector<uint8_t> record(path.size() * 2 + ZENTRA_DEVICE_RECORD_EXTRA, 0);
    auto* r = reinterpret_cast<ZENTRA_DEVICE_RECORD*>(record.data());
    r->CreateNew = 1;
    r->Encrypted = encrypted;
    r->PasswordLength = 8;
    memcpy(r->Password, "benchpwd", 8);
    r->DriveNumber = drive;
    r->ImageSize = kTotal + 1024;
    r->PathLength = static_cast<USHORT>(path.size() * 2);
    memcpy(r->Path, path.data(), path.size() * 2);
    const platform::OwnedHandle control(CreateFileW(u"\\\\.\\VyxCtrl", GENERIC_READ | GENERIC_WRITE,
                                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                    nullptr));
    if (!control)
        return false;
    DWORD returned = 0;
    return DeviceIoControl(control.get(), IOCTL_VYXDISK_MOUNT, record.data(), static_cast<DWORD>(record.size()),
                           nullptr, 0, &returned, nullptr);
}

// Writes then reads the whole disk; returns {write seconds, read seconds}, negative on failure.
std::pair<double, double> RunDisk(const char16_t* name, std::vector<uint8_t>& buffer) {
    const platform::OwnedHandle owner(CreateFileW(
        name, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr));
    if (!owner)
        return {-1, -1};
    const HANDLE disk = owner.get();
    DWORD done = 0;
    auto start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < kTotal; offset += kRequest) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        buffer[0] = static_cast<uint8_t>(offset >> 16);
        if (!WriteFile(disk, buffer.data(), kRequest, &done, &at) || done != kRequest)
            return {-1, -1};
    }
    // The disk may keep the last writes behind: they count once they are in the image.
    if (!FlushFileBuffers(disk))
        return {-1, -1};
    const double write = Seconds(start);
    start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < kTotal; offset += kRequest) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        if (!ReadFile(disk, buffer.data(), kRequest, &done, &at) || done != kRequest)
            return {-1, -1};
    }
    const double read = Seconds(start);
    return {write, read};
}

std::pair<double, double> RunPlainFile(const std::string& path, std::vector<uint8_t>& buffer) {
    // Like the image, the file keeps its blocks from one round to the next.
    const int fd = open(path.c_str(), O_RDWR | O_CREAT, 0600);
    if (fd < 0)
        return {-1, -1};
    auto start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < kTotal; offset += kRequest) {
        buffer[0] = static_cast<uint8_t>(offset >> 16);
        if (pwrite(fd, buffer.data(), kRequest, static_cast<off_t>(offset)) != kRequest)
            return {-1, -1};
    }
    const double write = Seconds(start);
    start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < kTotal; offset += kRequest) {
        if (pread(fd, buffer.data(), kRequest, static_cast<off_t>(offset)) != kRequest)
            return {-1, -1};
    }
    const double read = Seconds(start);
    close(fd);
    return {write, read};
}

// Encrypts then decrypts the same amount in place, as the driver does for each request; {encrypt seconds,
// decrypt seconds}, negative on failure.
std::pair<double, double> RunCrypto(CRYPTO_INFO* ci, std::vector<uint8_t>& buffer) {
    constexpr uint64_t kSector = 512;
    auto start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < kTotal; offset += kRequest) {
        buffer[0] = static_cast<uint8_t>(offset >> 16);
        if (!EncryptSectors(buffer.data(), offset / kSector, kRequest, ci))
            return {-1, -1};
    }
    const double encrypt = Seconds(start);
    start = std::chrono::steady_clock::now();
    for (uint64_t offset = 0; offset < kTotal; offset += kRequest) {
        if (!DecryptSectors(buffer.data(), offset / kSector, kRequest, ci))
            return {-1, -1};
    }
    const double decrypt = Seconds(start);
    return {encrypt, decrypt};
}

// A context keyed as the driver keys a new volume.
CRYPTO_INFO* NewVolumeCrypto() {
    ZENTRA_VOLUME_HEADER header{};
    VOLUME_PASSWORD password{};
    password.Length = 8;
    memcpy(password.Text, "benchpwd", 8);
    CRYPTO_INFO* ci = nullptr;
    if (VolumeWriteHeader(&header, EA_AES, MODE_LRW, &password, PRF_SHA1, nullptr, &ci, true) != VOLUME_OK)
        return nullptr;
    return ci;
}

// The median write time and the median read time of the rounds; negative when any round failed.
std::pair<double, double> Median(const std::vector<std::pair<double, double>>& rounds) {
    std::vector<double> writes, reads;
    for (const auto& [write, read] : rounds) {
        if (write < 0 || read < 0)
            return {-1, -1};
        writes.push_back(write);
        reads.push_back(read);
    }
    std::sort(writes.begin(), writes.end());
    std::sort(reads.begin(), reads.end());
    return {writes[writes.size() / 2], reads[reads.size() / 2]};
}

} // namespace

int main() {
    platform::machine::ScopedTestMachine machine;
    platform::kernel::EnableDeviceAccess();
    const std::string folder = machine.Scratch("bench");
    std::filesystem::copy_file(ZENTRA_DRIVER, folder + "/Zentra.sys");
    platform::fs::DriveInfo drive;
    drive.letter = u'T';
    drive.hostRoot = folder;
    platform::fs::SetDrive(drive);

    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    SC_HANDLE service =
        CreateServiceW(manager, u"Zentra", u"Zentra", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER, SERVICE_DEMAND_START,
                       SERVICE_ERROR_NORMAL, u"T:\\Zentra.sys", nullptr, nullptr, nullptr, nullptr, nullptr);
    int result = 1;
    if (!service || !StartServiceW(service, 0, nullptr)) {
        fprintf(stderr, "cannot start the driver: %u\n", GetLastError());
    } else if (!Mount(25, u"\\??\\T:\\secure.img", true) || !Mount(24, u"\\??\\T:\\plain.img", false)) {
        fprintf(stderr, "cannot mount the images: %u\n", GetLastError());
    } else {
        std::vector<uint8_t> buffer(kRequest);
        for (size_t i = 0; i < buffer.size(); ++i)
            buffer[i] = static_cast<uint8_t>(i * 31);
        std::vector<std::pair<double, double>> plains, secures, clears, cryptos;
        CRYPTO_INFO* ci = NewVolumeCrypto();
        for (int round = 0; round < kRounds; ++round) {
            plains.push_back(RunPlainFile(folder + "/reference.bin", buffer));
            secures.push_back(RunDisk(u"\\\\.\\Z:", buffer));
            clears.push_back(RunDisk(u"\\\\.\\Y:", buffer));
            cryptos.push_back(ci ? RunCrypto(ci, buffer) : std::pair<double, double>{-1, -1});
        }
        CryptoFree(ci);
        const auto plain = Median(plains);
        const auto secure = Median(secures);
        const auto clear = Median(clears);
        const auto crypto = Median(cryptos);
        if (plain.first < 0 || secure.first < 0 || clear.first < 0 || crypto.first < 0) {
            fprintf(stderr, "a transfer failed: %u\n", GetLastError());
        } else {
            printf("256 MiB in 64 KiB requests, median of %d rounds (MiB/s)\n", kRounds);
            printf("                                         write      read\n");
            printf("plain file (pwrite/pread)            %8.1f  %8.1f\n", MiBPerSecond(plain.first),
                   MiBPerSecond(plain.second));
            printf("mounted encrypted image (\\\\.\\Z:)    %8.1f  %8.1f\n", MiBPerSecond(secure.first),
                   MiBPerSecond(secure.second));
            printf("mounted plain image (\\\\.\\Y:)        %8.1f  %8.1f\n", MiBPerSecond(clear.first),
                   MiBPerSecond(clear.second));
            printf("sector encryption alone, one thread  %8.1f  %8.1f\n", MiBPerSecond(crypto.first),
                   MiBPerSecond(crypto.second));
            printf("mounted read vs plain file ratio: %.2f\n", plain.second / secure.second);
            printf("mounted write vs plain file ratio: %.2f\n", plain.first / secure.first);
            printf("mounted plain-image read vs plain file ratio: %.2f\n", plain.second / clear.second);
            printf("mounted plain-image write vs plain file ratio: %.2f\n", plain.first / clear.first);
            printf("mounted read vs crypto ratio: %.2f\n", crypto.second / secure.second);
            printf("mounted write vs crypto ratio: %.2f\n", crypto.first / secure.first);
            result = 0;
        }
    }
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
