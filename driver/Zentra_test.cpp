// The driver end to end: installed as a service, started in the kernel host, driven through its devices by this
// program and a second one. What it writes is checked on disk by an independent reader built only on OpenSSL.
#include "driver/VolumeReaderTestSupport.h"
#include "driver/ZentraIoctl.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/unique_handle.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/kernel/service_store.h"
#include "platform/kernel/services.h"
#include "platform/registry/registry.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>

namespace {

using namespace volumereader;

constexpr DWORD kErrorInvalidUserBuffer = 1784;
constexpr uint64_t kImageSize = 8u << 20;

Bytes ReadHostFile(const std::string& path) {
    std::error_code error;
    Bytes data(std::filesystem::file_size(path, error));
    std::ifstream in(path, std::ios::binary);
    in.read(reinterpret_cast<char*>(data.data()), static_cast<std::streamsize>(data.size()));
    return data;
}

// ---- Client side ------------------------------------------------------------------------------------------------

Bytes MountRecord(bool createNew, const std::string& password, bool encrypted, ULONG drive, const std::u16string& path,
                  uint64_t size, bool cdrom = false, ULONG physicalDisk = 0) {
    Bytes record(path.size() * 2 + ZENTRA_DEVICE_RECORD_EXTRA, 0);
    auto* r = reinterpret_cast<ZENTRA_DEVICE_RECORD*>(record.data());
    r->CreateNew = createNew;
    r->PasswordLength = static_cast<USHORT>(password.size());
    memcpy(r->Password, password.data(), std::min<size_t>(password.size(), sizeof(r->Password)));
    r->CdRom = cdrom;
    r->Encrypted = encrypted;
    r->DriveNumber = drive;
    r->PhysicalDiskNumber = physicalDisk;
    r->ImageSize = size;
    r->PathLength = static_cast<USHORT>(path.size() * 2);
    memcpy(r->Path, path.data(), path.size() * 2);
    return record;
}

Bytes PasswordRecord(ULONG drive, const std::string& oldPassword, const std::string& newPassword) {
    Bytes record(sizeof(ZENTRA_PASSWD_RECORD), 0);
    auto* r = reinterpret_cast<ZENTRA_PASSWD_RECORD*>(record.data());
    r->DriveNumber = drive;
    r->OldPasswordLength = static_cast<USHORT>(oldPassword.size());
    memcpy(r->OldPassword, oldPassword.data(), std::min<size_t>(oldPassword.size(), sizeof(r->OldPassword)));
    r->NewPasswordLength = static_cast<USHORT>(newPassword.size());
    memcpy(r->NewPassword, newPassword.data(), std::min<size_t>(newPassword.size(), sizeof(r->NewPassword)));
    return record;
}

// A string value of a key below HKEY_LOCAL_MACHINE, read through the registry; empty when it is missing.
std::u16string MachineString(const char16_t* key, const char16_t* value) {
    HKEY opened = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return {};
    WCHAR text[64] = {};
    DWORD size = sizeof(text) - sizeof(WCHAR);
    DWORD type = 0;
    const LSTATUS status = RegQueryValueExW(opened, value, nullptr, &type, reinterpret_cast<BYTE*>(text), &size);
    RegCloseKey(opened);
    return status == ERROR_SUCCESS && type == REG_SZ ? std::u16string(text) : std::u16string();
}

HANDLE Open(const char16_t* name, DWORD access = GENERIC_READ | GENERIC_WRITE) {
    return CreateFileW(name, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
}

// Sends a control code to a device by name; returns 0 or the Win32 error.
DWORD Control(const char16_t* name, DWORD code, Bytes input, Bytes* output = nullptr, DWORD* returned = nullptr,
              DWORD inputLength = 0xFFFFFFFF) {
    HANDLE device = Open(name);
    if (device == INVALID_HANDLE_VALUE)
        return GetLastError();
    DWORD count = 0;
    const BOOL ok = DeviceIoControl(device, code, input.empty() ? nullptr : input.data(),
                                    inputLength == 0xFFFFFFFF ? static_cast<DWORD>(input.size()) : inputLength,
                                    output ? output->data() : nullptr, output ? static_cast<DWORD>(output->size()) : 0,
                                    &count, nullptr);
    const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
    CloseHandle(device);
    if (returned)
        *returned = count;
    return error;
}

DWORD Mount(const Bytes& record, DWORD inputLength = 0xFFFFFFFF) {
    return Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_MOUNT, record, nullptr, nullptr, inputLength);
}

DWORD Dismount(ULONG drive) {
    Bytes input(4);
    memcpy(input.data(), &drive, 4);
    return Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_DISMOUNT, input);
}

// Reads or writes through a disk letter; returns 0 or the Win32 error.
DWORD Transfer(const char16_t* disk, bool write, uint64_t offset, Bytes& data) {
    HANDLE device = Open(disk);
    if (device == INVALID_HANDLE_VALUE)
        return GetLastError();
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD done = 0;
    // A write is flushed, so that the image holds it when this returns: the disk may keep writes behind.
    const BOOL ok = write ? WriteFile(device, data.data(), static_cast<DWORD>(data.size()), &done, &at) &&
                                FlushFileBuffers(device)
                          : ReadFile(device, data.data(), static_cast<DWORD>(data.size()), &done, &at);
    const DWORD error = ok ? (done == data.size() ? ERROR_SUCCESS : ERROR_HANDLE_EOF) : GetLastError();
    CloseHandle(device);
    return error;
}

Bytes Pattern(size_t size, uint8_t seed) {
    Bytes data(size);
    for (size_t i = 0; i < size; ++i)
        data[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
    return data;
}

class ZentraTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::kernel::EnableDeviceAccess();
        folder = machine.Scratch("images");
        std::filesystem::copy_file(ZENTRA_DRIVER, folder + "/Zentra.sys");
        platform::fs::DriveInfo drive;
        drive.letter = u'T';
        drive.hostRoot = folder;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
        manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
        ASSERT_NE(manager, nullptr);
        service = CreateServiceW(manager, u"Zentra", u"Zentra", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                 SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"T:\\Zentra.sys", nullptr, nullptr,
                                 nullptr, nullptr, nullptr);
        ASSERT_NE(service, nullptr);
        ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    }
    void TearDown() override {
        if (service)
            CloseServiceHandle(service);
        if (manager)
            CloseServiceHandle(manager);
        EXPECT_TRUE(platform::kernel::StopHost()); // The host writes its error output beside its socket: a sanitizer
                                                   // report there is a fault of the host.
        std::ifstream errors(platform::machine::PathOf("kernel/host.err"));
        const std::string text((std::istreambuf_iterator<char>(errors)), std::istreambuf_iterator<char>());
        EXPECT_EQ(text.find("Sanitizer"), std::string::npos) << text;
        EXPECT_EQ(text.find("runtime error"), std::string::npos) << text;
    }

    platform::machine::ScopedTestMachine machine;
    std::string folder;
    SC_HANDLE manager = nullptr;
    SC_HANDLE service = nullptr;
};

} // namespace

// ---- One encrypted disk, from its creation to the service's stop, a step per test ------------------------------

namespace {

constexpr const char16_t* kSecurePath = u"\\??\\T:\\secure.img";
constexpr const char16_t* kServiceKey = u"System\\CurrentControlSet\\Services\\Zentra";
const Bytes kFirst = Pattern(64 * 1024, 1);   // written at offset 0
const Bytes kSecond = Pattern(64 * 1024, 99); // written at offset 1 MiB

// A new encrypted image mounted on Z: (physical disk 7, password "secret") holding kFirst and kSecond.
class SecureDiskTest : public ZentraTest {
protected:
    void SetUp() override {
        ZentraTest::SetUp();
        ASSERT_EQ(Mount(MountRecord(true, "secret", true, 25, kSecurePath, kImageSize, false, 7)), ERROR_SUCCESS);
        Bytes data = kFirst;
        ASSERT_EQ(Transfer(u"\\\\.\\Z:", true, 0, data), ERROR_SUCCESS);
        data = kSecond;
        ASSERT_EQ(Transfer(u"\\\\.\\Z:", true, 1 << 20, data), ERROR_SUCCESS);
    }

    Bytes Image() const { return ReadHostFile(folder + "/secure.img"); }
};

} // namespace

TEST_F(ZentraTest, StartWritesTheVersionValuesEveryTime) {
    using platform::kernel::service_store::GetString;
    EXPECT_EQ(GetString(u"Zentra", u"Version"), u"1.0.0.2");
    EXPECT_EQ(GetString(u"Zentra", u"Build"), u"1028");
    // The driver wrote them in the kernel host, into the machine's registry where every program finds them.
    EXPECT_EQ(MachineString(kServiceKey, u"Version"), u"1.0.0.2");
    EXPECT_EQ(MachineString(kServiceKey, u"Build"), u"1028");

    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kServiceKey, 0, KEY_SET_VALUE, &key), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, u"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"0"), sizeof(u"0")),
              ERROR_SUCCESS);
    RegCloseKey(key);
    EXPECT_EQ(MachineString(kServiceKey, u"Version"), u"0");
    ASSERT_TRUE(StartServiceW(service, 0, nullptr)) << GetLastError();
    EXPECT_EQ(MachineString(kServiceKey, u"Version"), u"1.0.0.2");
}

TEST_F(SecureDiskTest, ReadsBackWhatWasWritten) {
    Bytes data(kFirst.size());
    ASSERT_EQ(Transfer(u"\\\\.\\Z:", false, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(data, kFirst);
    ASSERT_EQ(Transfer(u"\\\\.\\Z:", false, 1 << 20, data), ERROR_SUCCESS);
    EXPECT_EQ(data, kSecond);
    // The image holds none of it in clear.
    const Bytes image = Image();
    EXPECT_NE(Bytes(image.begin() + 512, image.begin() + 1024), Bytes(kFirst.begin(), kFirst.begin() + 512));
}

TEST_F(SecureDiskTest, LetterIsARawDiskInTheDriveTable) {
    EXPECT_TRUE(GetLogicalDrives() & (1u << 25));
    EXPECT_EQ(GetDriveTypeW(u"Z:\\"), DRIVE_FIXED);
    EXPECT_FALSE(GetVolumeInformationW(u"Z:\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
    EXPECT_EQ(GetFileAttributesW(u"Z:\\file.txt"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetLastError(), ERROR_UNRECOGNIZED_VOLUME);
}

// The handle's position and the disk's size, as a program that reads sectors uses them.
TEST_F(SecureDiskTest, HandlePositionAndSizeFollowTheDisk) {
    HANDLE disk = Open(u"\\\\.\\Z:");
    ASSERT_NE(disk, INVALID_HANDLE_VALUE);
    LARGE_INTEGER size{};
    ASSERT_TRUE(GetFileSizeEx(disk, &size)) << GetLastError();
    EXPECT_EQ(size.QuadPart, static_cast<LONGLONG>(kImageSize - 1024));
    LARGE_INTEGER at{}, position{};
    at.QuadPart = 1 << 20;
    ASSERT_TRUE(SetFilePointerEx(disk, at, &position, FILE_BEGIN));
    EXPECT_EQ(position.QuadPart, 1 << 20);
    Bytes read(4096);
    DWORD done = 0;
    ASSERT_TRUE(ReadFile(disk, read.data(), 4096, &done, nullptr));
    EXPECT_EQ(read, Bytes(kSecond.begin(), kSecond.begin() + 4096));
    at.QuadPart = -4096 - 512;
    ASSERT_TRUE(SetFilePointerEx(disk, at, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, (1 << 20) - 512);
    at.QuadPart = -512;
    ASSERT_TRUE(SetFilePointerEx(disk, at, &position, FILE_END));
    EXPECT_EQ(position.QuadPart, size.QuadPart - 512);
    // A move before the start is refused and leaves the position where it was.
    at.QuadPart = -1;
    EXPECT_FALSE(SetFilePointerEx(disk, at, &position, FILE_BEGIN));
    EXPECT_EQ(GetLastError(), 131u);
    ASSERT_TRUE(SetFilePointerEx(disk, LARGE_INTEGER{}, &position, FILE_CURRENT));
    EXPECT_EQ(position.QuadPart, size.QuadPart - 512);
    EXPECT_FALSE(SetEndOfFile(disk));
    CloseHandle(disk);
}

TEST_F(SecureDiskTest, AnswersControlCodesFromItsOwnData) {
    GET_LENGTH_INFORMATION length{};
    Bytes out(sizeof(length));
    ASSERT_EQ(Control(u"\\\\.\\Z:", IOCTL_DISK_GET_LENGTH_INFO, {}, &out), ERROR_SUCCESS);
    memcpy(&length, out.data(), sizeof(length));
    EXPECT_EQ(length.Length.QuadPart, static_cast<LONGLONG>(kImageSize - 1024));
    out.assign(sizeof(STORAGE_DEVICE_NUMBER), 0);
    ASSERT_EQ(Control(u"\\\\.\\Z:", IOCTL_STORAGE_GET_DEVICE_NUMBER, {}, &out), ERROR_SUCCESS);
    const auto* number = reinterpret_cast<const STORAGE_DEVICE_NUMBER*>(out.data());
    EXPECT_EQ(number->DeviceType, 36u);
    EXPECT_EQ(number->DeviceNumber, 7u);
    out.assign(sizeof(DISK_GEOMETRY), 0);
    ASSERT_EQ(Control(u"\\\\.\\Z:", IOCTL_DISK_GET_DRIVE_GEOMETRY, {}, &out), ERROR_SUCCESS);
    const auto* geometry = reinterpret_cast<const DISK_GEOMETRY*>(out.data());
    EXPECT_EQ(geometry->Cylinders.QuadPart, static_cast<LONGLONG>((kImageSize - 1024) / 512 / 32 / 2));
    EXPECT_EQ(geometry->MediaType, FixedMedia);
    out.assign(sizeof(ULONG) + 64, 0);
    ASSERT_EQ(Control(u"\\\\.\\Z:", IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, {}, &out), ERROR_SUCCESS);
    const auto* name = reinterpret_cast<const MOUNTDEV_NAME*>(out.data());
    EXPECT_EQ(std::u16string(name->Name, name->NameLength / 2), u"\\Device\\Zentra\\VyxDiskZ");

    const DWORD replySize = static_cast<DWORD>(std::u16string(kSecurePath).size() * 2 + ZENTRA_QUERY_REPLY_EXTRA);
    out.assign(replySize - 1, 0);
    DWORD returned = 0;
    EXPECT_EQ(Control(u"\\\\.\\Z:", IOCTL_VYXDISK_QUERY_DEVICE, {}, &out, &returned), kErrorInvalidUserBuffer);
    EXPECT_EQ(returned, replySize);
    out.assign(replySize, 0);
    ASSERT_EQ(Control(u"\\\\.\\Z:", IOCTL_VYXDISK_QUERY_DEVICE, {}, &out, &returned), ERROR_SUCCESS);
    const auto* reply = reinterpret_cast<const ZENTRA_QUERY_REPLY*>(out.data());
    EXPECT_EQ(reply->Encrypted, 1);
    EXPECT_EQ(reply->ReadOnly, 0);
    EXPECT_EQ(reply->DriveNumber, 25u);
    EXPECT_EQ(reply->PhysicalDiskNumber, 7u);
    EXPECT_EQ(reply->ImageSize, kImageSize);
    EXPECT_EQ(std::u16string(reply->Path, reply->PathLength / 2), kSecurePath);
}

TEST_F(SecureDiskTest, SecondProgramFindsTheDiskMounted) {
    std::string output;
    FILE* pipe = popen((std::string(ZENTRA_TEST_CLIENT) + " Z").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[512];
    while (size_t n = fread(buffer, 1, sizeof(buffer), pipe))
        output.append(buffer, n);
    EXPECT_EQ(pclose(pipe), 0) << output;
    EXPECT_EQ(output.rfind("drive=25 encrypted=1 size=8388608 path=\\??\\T:\\secure.img data=", 0), 0u) << output;
    EXPECT_EQ(output.substr(output.find("data=") + 5), std::string(reinterpret_cast<const char*>(kFirst.data()), 16));
}

TEST_F(SecureDiskTest, DismountTakesTheDiskAndItsLetterAway) {
    ASSERT_EQ(Dismount(25), ERROR_SUCCESS);
    EXPECT_EQ(Open(u"\\\\.\\Z:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Dismount(25), ERROR_NO_MEDIA_IN_DRIVE);
    EXPECT_FALSE(GetLogicalDrives() & (1u << 25));
    EXPECT_EQ(GetDriveTypeW(u"Z:\\"), DRIVE_NO_ROOT_DIR);
}

// Programs that read the disk while it is dismounted: every request ends, served or refused; none is left waiting
// on a disk that is gone.
TEST_F(SecureDiskTest, DismountWhileProgramsReadEndsEveryRequest) {
    constexpr int kReaders = 4;
    std::mutex lock;
    std::condition_variable changed;
    int reading = 0;
    int finished = 0;
    std::vector<DWORD> errors(kReaders, ERROR_SUCCESS);
    std::vector<std::thread> readers;
    for (int i = 0; i < kReaders; ++i) {
        readers.emplace_back([&, i] {
            HANDLE disk = Open(u"\\\\.\\Z:");
            Bytes sector(512);
            for (int n = 0; disk != INVALID_HANDLE_VALUE && n < 1000000; ++n) {
                OVERLAPPED at{};
                DWORD done = 0;
                if (!ReadFile(disk, sector.data(), 512, &done, &at)) {
                    errors[i] = GetLastError();
                    break;
                }
                if (n == 0) {
                    std::lock_guard guard(lock);
                    ++reading;
                    changed.notify_all();
                }
            }
            if (disk != INVALID_HANDLE_VALUE)
                CloseHandle(disk);
            std::lock_guard guard(lock);
            ++finished;
            changed.notify_all();
        });
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    {
        std::unique_lock guard(lock);
        ASSERT_TRUE(changed.wait_until(guard, deadline, [&] { return reading + finished == kReaders; }));
        EXPECT_EQ(reading, kReaders);
    }
    EXPECT_EQ(Dismount(25), ERROR_SUCCESS);
    bool ended;
    {
        std::unique_lock guard(lock);
        ended = changed.wait_until(guard, deadline, [&] { return finished == kReaders; });
    }
    for (auto& reader : readers) {
        if (ended)
            reader.join();
        else
            reader.detach(); // a reader stuck in a request: the test fails and the process ends with it
    }
    ASSERT_TRUE(ended) << "a read on the dismounted disk never completed";
    for (DWORD error : errors)
        EXPECT_TRUE(error == ERROR_NO_MEDIA_IN_DRIVE || error == ERROR_ACCESS_DENIED) << error;
}

// On disk: the specified header, opened by an independent reader, and sectors encrypted with the master key.
TEST_F(SecureDiskTest, ImageHasTheVolumeFormat) {
    ASSERT_EQ(Dismount(25), ERROR_SUCCESS);
    const Bytes image = Image();
    ASSERT_EQ(image.size(), kImageSize);
    const DecodedVolume volume = DecodeHeader(image, "secret");
    ASSERT_TRUE(volume.opened);
    EXPECT_EQ(volume.requiredVersion, 0x0410);
    EXPECT_FALSE(DecodeHeader(image, "Secret").opened);
    EXPECT_EQ(DecryptSector(image, volume, 1), Bytes(kFirst.begin(), kFirst.begin() + 512));
    EXPECT_EQ(DecryptSector(image, volume, 1 + 2048 + 127), Bytes(kSecond.end() - 512, kSecond.end()));
}

// Requests far larger than a sector, starting and ending at odd sectors: read back in pieces of other sizes they
// match, and every sector is encrypted where an independent reader finds it.
TEST_F(SecureDiskTest, LargeRequestsLandSectorBySector) {
    const uint64_t at = (3u << 20) + 7 * 512;
    const Bytes data = Pattern((1u << 20) + 3 * 512, 42);
    platform::OwnedHandle disk(Open(u"\\\\.\\Z:"));
    ASSERT_TRUE(disk);
    const auto transfer = [&](bool write, size_t piece, Bytes& bytes) {
        bytes.assign(data.size(), 0);
        if (write)
            bytes = data;
        for (size_t offset = 0; offset < data.size(); offset += piece) {
            OVERLAPPED where{};
            where.Offset = static_cast<DWORD>(at + offset);
            const DWORD length = static_cast<DWORD>(std::min(piece, data.size() - offset));
            DWORD done = 0;
            ASSERT_TRUE(write ? WriteFile(disk.get(), bytes.data() + offset, length, &done, &where)
                              : ReadFile(disk.get(), bytes.data() + offset, length, &done, &where))
                << GetLastError();
            ASSERT_EQ(done, length);
        }
    };
    Bytes written;
    transfer(true, 256 * 1024 + 512, written);
    EXPECT_EQ(written, data); // the caller's data stays as it was
    for (const size_t piece : {96 * 1024 + 512, 160 * 1024 + 1536}) {
        Bytes back;
        transfer(false, piece, back);
        EXPECT_EQ(back, data) << piece;
    }
    disk.reset();

    ASSERT_EQ(Dismount(25), ERROR_SUCCESS);
    const Bytes image = Image();
    const DecodedVolume volume = DecodeHeader(image, "secret");
    ASSERT_TRUE(volume.opened);
    Bytes decrypted;
    for (uint64_t sector = 1 + at / 512; decrypted.size() < data.size(); ++sector) {
        const Bytes clear = DecryptSector(image, volume, sector);
        decrypted.insert(decrypted.end(), clear.begin(), clear.end());
    }
    EXPECT_EQ(decrypted, data);
}

// Runs of reads that follow each other (which the disk reads ahead of), writes into and just ahead of them, and
// jumps, in requests of several sizes: every read gives what the writes before it left, and once the disk is
// flushed the image holds every write, encrypted where an independent reader finds it.
TEST_F(SecureDiskTest, ReadsAheadAndWritesBehindKeepEveryRequestInOrder) {
    constexpr uint64_t kBase = 4u << 20;
    constexpr uint64_t kArea = 3u << 20;
    Bytes model(kArea, 0);
    platform::OwnedHandle disk(Open(u"\\\\.\\Z:"));
    ASSERT_TRUE(disk);
    uint32_t seed = 2027;
    const auto random = [&](uint32_t below) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % below;
    };
    uint8_t stamp = 0;
    const auto transfer = [&](bool write, uint64_t offset, size_t length) {
        offset = std::min<uint64_t>(offset, kArea - length);
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(kBase + offset);
        DWORD done = 0;
        if (write) {
            ++stamp;
            for (size_t i = 0; i < length; ++i)
                model[offset + i] = static_cast<uint8_t>(stamp + i * 13 + (i >> 9));
            ASSERT_TRUE(WriteFile(disk.get(), model.data() + offset, static_cast<DWORD>(length), &done, &where))
                << GetLastError();
        } else {
            Bytes back(length);
            ASSERT_TRUE(ReadFile(disk.get(), back.data(), static_cast<DWORD>(length), &done, &where))
                << GetLastError();
            ASSERT_TRUE(std::equal(back.begin(), back.end(), model.begin() + static_cast<ptrdiff_t>(offset)))
                << "read of " << length << " at " << offset;
        }
        ASSERT_EQ(done, length);
    };
    for (uint64_t offset = 0; offset < kArea; offset += 64 * 1024)
        transfer(true, offset, 64 * 1024);
    const size_t lengths[] = {4096, 64 * 1024, 128 * 1024 + 512, 512 * 1024};
    for (int run = 0; run < 120 && !HasFatalFailure(); ++run) {
        const size_t length = lengths[random(4)];
        uint64_t offset = uint64_t{random(static_cast<uint32_t>(kArea / 512))} * 512;
        const int requests = 4 + static_cast<int>(random(8));
        for (int i = 0; i < requests && !HasFatalFailure(); ++i, offset += length) {
            if (offset + length > kArea)
                break;
            if (random(4) == 0) {
                // Into the stretches read ahead (or behind), at odd sectors and lengths.
                const uint64_t ahead = offset + length * random(4);
                const size_t size = (1 + random(256)) * 512;
                transfer(true, ahead >= length ? ahead - length / 2 / 512 * 512 : ahead, size);
            }
            if (random(6) == 0)
                transfer(true, offset, length); // the next read of the run finds it written behind
            transfer(false, offset, length);
        }
    }
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(FlushFileBuffers(disk.get())) << GetLastError();
    const Bytes image = Image();
    const DecodedVolume volume = DecodeHeader(image, "secret");
    ASSERT_TRUE(volume.opened);
    for (uint64_t sector = 0; sector < kArea / 512; ++sector) {
        const Bytes clear = DecryptSector(image, volume, 1 + kBase / 512 + sector);
        ASSERT_TRUE(std::equal(clear.begin(), clear.end(), model.begin() + static_cast<ptrdiff_t>(sector * 512)))
            << "sector " << sector;
    }
}

// A new image takes its space at once: a host disk too full for it refuses the image, not its later writes.
TEST_F(SecureDiskTest, ANewImageHasItsSpaceAllocated) {
    struct stat info {};
    ASSERT_EQ(stat((folder + "/secure.img").c_str(), &info), 0);
    EXPECT_EQ(info.st_size, static_cast<off_t>(kImageSize));
    EXPECT_GE(static_cast<uint64_t>(info.st_blocks) * 512, kImageSize);
}

// An image cut short under the mounted disk: a large read gives the whole sectors up to the cut, decrypted, and a
// read that starts beyond it fails at the end of the file.
TEST_F(SecureDiskTest, ReadOfAShortenedImageEndsAtItsEnd) {
    const uint64_t at = 2u << 20;
    Bytes data = Pattern(128 * 1024, 5);
    ASSERT_EQ(Transfer(u"\\\\.\\Z:", true, at, data), ERROR_SUCCESS);
    std::filesystem::resize_file(folder + "/secure.img", 512 + at + 40 * 1024 + 100);
    const platform::OwnedHandle disk(Open(u"\\\\.\\Z:"));
    ASSERT_TRUE(disk);
    Bytes back(data.size());
    OVERLAPPED offset{};
    offset.Offset = static_cast<DWORD>(at);
    DWORD done = 0;
    EXPECT_TRUE(ReadFile(disk.get(), back.data(), static_cast<DWORD>(back.size()), &done, &offset)) << GetLastError();
    EXPECT_EQ(done, 40u * 1024);
    EXPECT_EQ(Bytes(back.begin(), back.begin() + done), Bytes(data.begin(), data.begin() + 40 * 1024));
    offset.Offset = static_cast<DWORD>(at + 64 * 1024);
    EXPECT_FALSE(ReadFile(disk.get(), back.data(), 64 * 1024, &done, &offset));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_HANDLE_EOF));
}

TEST_F(SecureDiskTest, WrongPasswordIsRefusedAndTheRightOneBringsTheDataBack) {
    ASSERT_EQ(Dismount(25), ERROR_SUCCESS);
    EXPECT_EQ(Mount(MountRecord(false, "wrong", true, 25, kSecurePath, 0)), ERROR_INVALID_PASSWORD);
    EXPECT_EQ(Open(u"\\\\.\\Z:"), INVALID_HANDLE_VALUE);
    ASSERT_EQ(Mount(MountRecord(false, "secret", true, 25, kSecurePath, 0)), ERROR_SUCCESS);
    Bytes data(kFirst.size());
    ASSERT_EQ(Transfer(u"\\\\.\\Z:", false, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(data, kFirst);
}

// The record must name this disk and carry the old password; the master key stays, so the mounted disk keeps
// serving and the data survives a mount with the new password.
TEST_F(SecureDiskTest, PasswordChangeKeepsTheMasterKey) {
    const Bytes before = Image();
    EXPECT_EQ(Control(u"\\\\.\\Z:", IOCTL_VYXDISK_CHANGE_PASSWD, PasswordRecord(24, "secret", "n3w")),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Control(u"\\\\.\\Z:", IOCTL_VYXDISK_CHANGE_PASSWD, PasswordRecord(25, "nope", "n3w")),
              ERROR_INVALID_PASSWORD);
    EXPECT_EQ(Control(u"\\\\.\\Z:", IOCTL_VYXDISK_CHANGE_PASSWD, PasswordRecord(25, "secret", std::string(65, 'x'))),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(
        Control(u"\\\\.\\Z:", IOCTL_VYXDISK_CHANGE_PASSWD, PasswordRecord(25, "secret", "n3w"), nullptr, nullptr, 139),
        kErrorInvalidUserBuffer);
    ASSERT_EQ(Control(u"\\\\.\\Z:", IOCTL_VYXDISK_CHANGE_PASSWD, PasswordRecord(25, "secret", "n3w")), ERROR_SUCCESS);
    Bytes data(kSecond.size());
    ASSERT_EQ(Transfer(u"\\\\.\\Z:", false, 1 << 20, data), ERROR_SUCCESS);
    EXPECT_EQ(data, kSecond);

    ASSERT_EQ(Dismount(25), ERROR_SUCCESS);
    const Bytes after = Image();
    EXPECT_NE(Bytes(after.begin(), after.begin() + 64), Bytes(before.begin(), before.begin() + 64)); // a new salt
    EXPECT_FALSE(DecodeHeader(after, "secret").opened);
    EXPECT_EQ(DecodeHeader(after, "n3w").keyArea, DecodeHeader(before, "secret").keyArea);
    EXPECT_EQ(Mount(MountRecord(false, "secret", true, 25, kSecurePath, 0)), ERROR_INVALID_PASSWORD);
    ASSERT_EQ(Mount(MountRecord(false, "n3w", true, 25, kSecurePath, 0)), ERROR_SUCCESS);
    ASSERT_EQ(Transfer(u"\\\\.\\Z:", false, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(data, kFirst);
}

// The program's own raw definition of the letter lives beside the driver's link.
TEST_F(SecureDiskTest, RawDefinitionOfTheLetterLivesBesideTheDriverLink) {
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH, u"Z:", u"\\Device\\Zentra\\VyxDiskZ"));
    WCHAR targets[256] = {};
    ASSERT_GT(QueryDosDeviceW(u"Z:", targets, 256), 0u);
    EXPECT_EQ(std::u16string(targets), u"\\Device\\Zentra\\VyxDiskZ");
    ASSERT_TRUE(DefineDosDeviceW(DDD_RAW_TARGET_PATH | DDD_REMOVE_DEFINITION | DDD_EXACT_MATCH_ON_REMOVE, u"Z:",
                                 u"\\Device\\Zentra\\VyxDiskZ"));
    const auto letters = platform::kernel::DeviceDriveLetters();
    ASSERT_EQ(letters.size(), 1u);
    EXPECT_EQ(letters[0].drive, 25);
    EXPECT_EQ(letters[0].device, u"\\Device\\Zentra\\VyxDiskZ");
}

namespace {

constexpr ULONG IOCTL_TESTFS_MOUNT = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG IOCTL_TESTFS_LOG = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x901, METHOD_BUFFERED, FILE_ANY_ACCESS);

// The secure disk with a file system mounted on it (the tests' own, which keeps no files but answers the volume
// requests as a file system does).
class MountedFileSystemTest : public SecureDiskTest {
protected:
    void SetUp() override {
        SecureDiskTest::SetUp();
        std::filesystem::copy_file(TEST_FILE_SYSTEM_DRIVER, folder + "/TestFs.sys");
        fileSystem = CreateServiceW(manager, u"TestFs", u"TestFs", SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                                    SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, u"T:\\TestFs.sys", nullptr, nullptr,
                                    nullptr, nullptr, nullptr);
        ASSERT_NE(fileSystem, nullptr);
        ASSERT_TRUE(StartServiceW(fileSystem, 0, nullptr)) << GetLastError();
        const std::u16string disk = u"\\Device\\Zentra\\VyxDiskZ";
        Bytes name((disk.size() + 1) * 2, 0);
        memcpy(name.data(), disk.c_str(), disk.size() * 2);
        ASSERT_EQ(Control(u"\\\\.\\TestFs", IOCTL_TESTFS_MOUNT, name), ERROR_SUCCESS);
    }
    void TearDown() override {
        if (fileSystem)
            CloseServiceHandle(fileSystem);
        SecureDiskTest::TearDown();
    }
    std::string Log() {
        Bytes text(256);
        DWORD returned = 0;
        EXPECT_EQ(Control(u"\\\\.\\TestFs", IOCTL_TESTFS_LOG, {}, &text, &returned), ERROR_SUCCESS);
        return std::string(text.begin(), text.begin() + returned);
    }
    SC_HANDLE fileSystem = nullptr;
};

} // namespace

// A dismount locks the file system and dismounts it first; while a file is open on it the lock is refused and the
// disk stays mounted with its data, instead of being pulled from under the file.
TEST_F(MountedFileSystemTest, DismountWaitsForTheFileSystemToLetGo) {
    HANDLE user = Open(u"\\\\.\\Z:");
    ASSERT_NE(user, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Dismount(25), static_cast<DWORD>(ERROR_ACCESS_DENIED));
    EXPECT_EQ(Log(), "lock-refused ");
    // Still there, and reads reach the disk through the file system.
    Bytes data(kFirst.size());
    ASSERT_EQ(Transfer(u"\\\\.\\Z:", false, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(data, kFirst);

    CloseHandle(user);
    ASSERT_EQ(Dismount(25), ERROR_SUCCESS);
    EXPECT_EQ(Log(), "lock-refused lock dismount ");
    EXPECT_EQ(Open(u"\\\\.\\Z:"), INVALID_HANDLE_VALUE);
}

TEST_F(SecureDiskTest, StoppingTheServiceDismountsEverything) {
    SERVICE_STATUS status{};
    ASSERT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status)) << GetLastError();
    EXPECT_EQ(Open(u"\\\\.\\Z:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Open(u"\\\\.\\VyxCtrl"), INVALID_HANDLE_VALUE);
    EXPECT_TRUE(platform::kernel::DeviceDriveLetters().empty());
    WCHAR targets[256] = {};
    EXPECT_EQ(QueryDosDeviceW(u"Z:", targets, 256), 0u);
}

TEST_F(ZentraTest, RecordsAreLengthChecked) {
    const std::u16string path = u"\\??\\T:\\plain.img";
    const Bytes good = MountRecord(true, "", false, 24, path, 1 << 20);
    struct Case {
        const char* what;
        Bytes record;
        DWORD length;
    };
    Bytes longPassword = MountRecord(true, std::string(65, 'p'), true, 24, path, 1 << 20);
    Bytes unterminated = good;
    unterminated[98 + path.size() * 2] = 'x';
    Bytes oddPath = good;
    reinterpret_cast<ZENTRA_DEVICE_RECORD*>(oddPath.data())->PathLength = static_cast<USHORT>(path.size() * 2 - 1);
    Bytes overrun = good;
    reinterpret_cast<ZENTRA_DEVICE_RECORD*>(overrun.data())->PathLength = 4000;
    Bytes emptyPath = MountRecord(true, "", false, 24, u"", 1 << 20);
    const Case refused[] = {
        {"one byte short", good, static_cast<DWORD>(good.size() - 1)},
        {"shorter than the fixed part", good, 97},
        {"no input", good, 0},
        {"password over 64 bytes", longPassword, static_cast<DWORD>(longPassword.size())},
        {"path without terminator", unterminated, static_cast<DWORD>(unterminated.size())},
        {"odd path length", oddPath, static_cast<DWORD>(oddPath.size())},
        {"path longer than the input", overrun, static_cast<DWORD>(overrun.size())},
        {"empty path", emptyPath, static_cast<DWORD>(emptyPath.size())},
        {"drive 26", MountRecord(true, "", false, 26, path, 1 << 20), static_cast<DWORD>(good.size())},
    };
    for (const Case& c : refused)
        EXPECT_EQ(Mount(c.record, c.length), ERROR_INVALID_PARAMETER) << c.what;
    EXPECT_EQ(Open(u"\\\\.\\Y:"), INVALID_HANDLE_VALUE);

    // Exactly path bytes + 102 is enough; the same letter cannot be mounted twice and the first disk stays.
    ASSERT_EQ(Mount(good, static_cast<DWORD>(good.size())), ERROR_SUCCESS);
    Bytes data = Pattern(4096, 5);
    ASSERT_EQ(Transfer(u"\\\\.\\Y:", true, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(Mount(MountRecord(true, "", false, 24, u"\\??\\T:\\other.img", 1 << 20)), ERROR_ALREADY_EXISTS);
    data.assign(4096, 0);
    ASSERT_EQ(Transfer(u"\\\\.\\Y:", false, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(data, Pattern(4096, 5));
    // A plain image holds the data as written, after its header.
    const Bytes image = ReadHostFile(folder + "/plain.img");
    ASSERT_EQ(image.size(), 1u << 20);
    EXPECT_EQ(Bytes(image.begin() + 512, image.begin() + 512 + 4096), Pattern(4096, 5));

    // Transfers: whole sectors inside the volume only; a read ending exactly at its end is fine.
    const uint64_t volume = (1 << 20) - 1024;
    struct Io {
        const char* what;
        bool write;
        uint64_t offset;
        size_t size;
        DWORD error;
    } transfers[] = {
        {"last sector", false, volume - 512, 512, ERROR_SUCCESS},
        {"past the end", false, volume, 512, ERROR_IO_DEVICE},
        {"crossing the end", true, volume - 512, 1024, ERROR_IO_DEVICE},
        {"unaligned offset", false, 100, 512, ERROR_INVALID_PARAMETER},
        {"unaligned length", true, 0, 100, ERROR_INVALID_PARAMETER},
        {"zero length", true, 0, 0, ERROR_SUCCESS},
    };
    for (const Io& io : transfers) {
        Bytes buffer(io.size, 0xAB);
        EXPECT_EQ(Transfer(u"\\\\.\\Y:", io.write, io.offset, buffer), io.error) << io.what;
    }

    // Dismount records.
    EXPECT_EQ(Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_DISMOUNT, Bytes(3, 0)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Dismount(26), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Dismount(3), ERROR_NO_MEDIA_IN_DRIVE);

    // Drive-letter links on request: K: leads to the Y: disk until the link is removed.
    auto linkRecord = [](ULONG operation, ULONG drive, const std::u16string& target, bool terminate) {
        Bytes record(10 + target.size() * 2 + 2, 0);
        memcpy(record.data(), &operation, 4);
        memcpy(record.data() + 4, &drive, 4);
        const USHORT bytes = static_cast<USHORT>(target.size() * 2);
        memcpy(record.data() + 8, &bytes, 2);
        memcpy(record.data() + 10, target.data(), bytes);
        if (!terminate)
            record.back() = 'x';
        return record;
    };
    EXPECT_EQ(Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_CREATE_GDOSNAME, Bytes(11, 0)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_CREATE_GDOSNAME,
                      linkRecord(0, 10, u"\\Device\\Zentra\\VyxDiskY", false)),
              ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_CREATE_GDOSNAME,
                      linkRecord(0, 26, u"\\Device\\Zentra\\VyxDiskY", true)),
              ERROR_INVALID_PARAMETER);
    ASSERT_EQ(Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_CREATE_GDOSNAME,
                      linkRecord(0, 10, u"\\Device\\Zentra\\VyxDiskY", true)),
              ERROR_SUCCESS);
    data.assign(4096, 0);
    ASSERT_EQ(Transfer(u"\\\\.\\K:", false, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(data, Pattern(4096, 5));
    ASSERT_EQ(Control(u"\\\\.\\VyxCtrl", IOCTL_VYXDISK_CREATE_GDOSNAME, linkRecord(1, 10, u"", true)), ERROR_SUCCESS);
    EXPECT_EQ(Open(u"\\\\.\\K:"), INVALID_HANDLE_VALUE);

    // The control device opens and closes; reads on it succeed with no data; mounting needs read and write access.
    HANDLE control = Open(u"\\\\.\\VyxCtrl", GENERIC_READ);
    ASSERT_NE(control, INVALID_HANDLE_VALUE);
    char byte;
    DWORD read = 1;
    EXPECT_TRUE(ReadFile(control, &byte, 1, &read, nullptr));
    EXPECT_EQ(read, 0u);
    Bytes record = good;
    EXPECT_FALSE(DeviceIoControl(control, IOCTL_VYXDISK_MOUNT, record.data(), static_cast<DWORD>(record.size()),
                                 nullptr, 0, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_TRUE(CloseHandle(control));
    EXPECT_EQ(Dismount(24), ERROR_SUCCESS);
}

// An image with no room for a sector besides its header and tail is refused at mount, whether it is to be created
// or found so; it used to mount as a disk of 0 bytes whose every write failed.
TEST_F(ZentraTest, ImagesWithoutRoomForDataAreRefused) {
    const std::u16string path = u"\\??\\T:\\small.img";
    const std::string host = folder + "/small.img";
    // Creating one is refused before anything is written: a file of that name stays as it was.
    std::ofstream(host) << "keep";
    EXPECT_EQ(Mount(MountRecord(true, "secret", true, 20, path, 1535)), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(ReadHostFile(host), Bytes({'k', 'e', 'e', 'p'}));
    EXPECT_EQ(Open(u"\\\\.\\U:"), INVALID_HANDLE_VALUE);

    // A good image cut down to its header (and part of a sector) is refused when it is mounted.
    ASSERT_EQ(Mount(MountRecord(true, "secret", true, 20, path, 1 << 20)), ERROR_SUCCESS);
    ASSERT_EQ(Dismount(20), ERROR_SUCCESS);
    for (const uintmax_t size : {512u, 1024u, 1535u}) {
        std::filesystem::resize_file(host, size);
        EXPECT_EQ(Mount(MountRecord(false, "secret", true, 20, path, 0)), ERROR_FILE_CORRUPT) << size;
        EXPECT_EQ(Open(u"\\\\.\\U:"), INVALID_HANDLE_VALUE) << size;
    }
    // One sector besides header and tail is a disk of one sector.
    std::filesystem::resize_file(host, 1536);
    ASSERT_EQ(Mount(MountRecord(false, "secret", true, 20, path, 0)), ERROR_SUCCESS);
    Bytes sector = Pattern(512, 3);
    EXPECT_EQ(Transfer(u"\\\\.\\U:", true, 0, sector), ERROR_SUCCESS);
    EXPECT_EQ(Dismount(20), ERROR_SUCCESS);
    // A CD-ROM image has no reserved areas, but less than a sector is no disk either.
    std::ofstream(folder + "/tiny.iso") << "tiny";
    EXPECT_EQ(Mount(MountRecord(false, "", false, 20, u"\\??\\T:\\tiny.iso", 0, true)), ERROR_FILE_CORRUPT);
}

TEST_F(ZentraTest, CdRomImagesAreReadOnly) {
    // A CD-ROM image has no header: its data starts at byte 0.
    const Bytes content = Pattern(64 * 1024, 42);
    {
        std::ofstream out(folder + "/disc.iso", std::ios::binary);
        out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
    }
    ASSERT_EQ(Mount(MountRecord(false, "", false, 3, u"\\??\\T:\\disc.iso", 0, true)), ERROR_SUCCESS);
    Bytes data(4096);
    ASSERT_EQ(Transfer(u"\\\\.\\D:", false, 0, data), ERROR_SUCCESS);
    EXPECT_EQ(data, Bytes(content.begin(), content.begin() + 4096));
    EXPECT_EQ(GetDriveTypeW(u"D:\\"), DRIVE_CDROM);
    EXPECT_EQ(Transfer(u"\\\\.\\D:", true, 0, data), ERROR_ACCESS_DENIED);
    EXPECT_EQ(Control(u"\\\\.\\D:", IOCTL_DISK_IS_WRITABLE, {}), ERROR_WRITE_PROTECT);
    Bytes toc(sizeof(CDROM_TOC));
    ASSERT_EQ(Control(u"\\\\.\\D:", IOCTL_CDROM_READ_TOC, {}, &toc), ERROR_SUCCESS);
    EXPECT_EQ(toc[1], 0x12);
    EXPECT_EQ(toc[5], 0x14);
    // A missing image fails the mount and leaves nothing behind.
    EXPECT_EQ(Mount(MountRecord(false, "", false, 4, u"\\??\\T:\\missing.iso", 0, true)), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Open(u"\\\\.\\E:"), INVALID_HANDLE_VALUE);
    EXPECT_EQ(Dismount(3), ERROR_SUCCESS);
}
