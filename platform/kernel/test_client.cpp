// A second program for the kernel tests: "write OFFSET TEXT" writes through "\\.\KernelTest", "read OFFSET LEN"
// prints what it reads, "count" prints the driver's request count. Exit code 0 on success, else the Win32 error.
#include "platform/base/errors.h"
#include "platform/base/formatmessage.h"
#include "platform/fs/files.h"
#include "platform/kernel/device_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char* kUsage =
    "kernel_test_client: a second program for the kernel layer's tests; it talks to the test driver's device\n"
    "\\\\.\\KernelTest through the kernel host.\n"
    "\n"
    "  kernel_test_client write OFFSET TEXT   writes TEXT at OFFSET\n"
    "  kernel_test_client read OFFSET LENGTH  prints LENGTH bytes read at OFFSET\n"
    "\n"
    "Exits 0 on success, else with the Win32 error of the step that failed (also printed on standard error).\n";

int Failed(const char* step, DWORD error) {
    fprintf(stderr, "kernel_test_client: %s: %s\n", step, platform::ErrorText(error).c_str());
    return static_cast<int>(error);
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 2 && (!strcmp(argv[1], "--help") || !strcmp(argv[1], "-h"))) {
        fputs(kUsage, stdout);
        return 0;
    }
    if (argc < 2) {
        fputs(kUsage, stderr);
        return ERROR_INVALID_PARAMETER;
    }
    platform::kernel::EnableDeviceAccess();
    HANDLE device = CreateFileW(u"\\\\.\\KernelTest", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return Failed("open \\\\.\\KernelTest", GetLastError());
    const std::string verb = argv[1];
    int result = 0;
    if (verb == "write" && argc == 4) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(atoi(argv[2]));
        DWORD written = 0;
        if (!WriteFile(device, argv[3], static_cast<DWORD>(strlen(argv[3])), &written, &at))
            result = Failed("write", GetLastError());
    } else if (verb == "read" && argc == 4) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(atoi(argv[2]));
        std::string text(static_cast<size_t>(atoi(argv[3])), '\0');
        DWORD read = 0;
        if (!ReadFile(device, text.data(), static_cast<DWORD>(text.size()), &read, &at))
            result = Failed("read", GetLastError());
        else
            printf("%.*s", static_cast<int>(read), text.c_str());
    } else {
        fputs(kUsage, stderr);
        result = ERROR_INVALID_PARAMETER;
    }
    CloseHandle(device);
    return result;
}
