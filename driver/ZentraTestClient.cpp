// A second program for the driver tests: opens "\\.\X:" for the letter given, asks the disk who it is and reads
// its first sector. Prints "drive=N encrypted=E size=S path=P data=TEXT" (TEXT: the first 16 bytes) and exits 0,
// or exits with the Win32 error of the step that failed.
#include "driver/ZentraIoctl.h"

#include "platform/base/errors.h"
#include "platform/base/formatmessage.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/kernel/device_io.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr const char* kUsage =
    "ZentraTestClient LETTER: opens the secure disk mounted at LETTER (\\\\.\\X:), asks it who it is and prints\n"
    "\"drive=N encrypted=E size=S path=P data=TEXT\" (TEXT: the first 16 bytes of its first sector). Exits 0 on\n"
    "success, else with the Win32 error of the step that failed (also printed on standard error).\n";

int Failed(const char* step, DWORD error) {
    fprintf(stderr, "ZentraTestClient: %s: %s\n", step, platform::ErrorText(error).c_str());
    return static_cast<int>(error);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc != 2 || !argv[1][0]) {
        fputs(kUsage, stderr);
        return ERROR_INVALID_PARAMETER;
    }
    platform::kernel::EnableDeviceAccess();
    const std::u16string name = std::u16string(u"\\\\.\\") + static_cast<char16_t>(argv[1][0]) + u":";
    HANDLE disk = CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (disk == INVALID_HANDLE_VALUE)
        return Failed("open", GetLastError());
    std::vector<uint8_t> reply(552, 0);
    DWORD returned = 0;
    if (!DeviceIoControl(disk, IOCTL_VYXDISK_QUERY_DEVICE, nullptr, 0, reply.data(), static_cast<DWORD>(reply.size()),
                         &returned, nullptr))
        return Failed("query", GetLastError());
    const auto* query = reinterpret_cast<const ZENTRA_QUERY_REPLY*>(reply.data());
    std::vector<uint8_t> sector(512);
    DWORD read = 0;
    OVERLAPPED at{};
    if (!ReadFile(disk, sector.data(), 512, &read, &at))
        return Failed("read", GetLastError());
    CloseHandle(disk);
    const std::string path = platform::Utf16ToUtf8(std::u16string(query->Path, query->PathLength / sizeof(WCHAR)));
    printf("drive=%u encrypted=%u size=%llu path=%s data=%.16s", query->DriveNumber, query->Encrypted,
           static_cast<unsigned long long>(query->ImageSize), path.c_str(), reinterpret_cast<char*>(sector.data()));
    return 0;
}
