// A second program for the kernel tests: "write OFFSET TEXT" writes through "\\.\KernelTest", "read OFFSET LEN"
// prints what it reads, "count" prints the driver's request count. Exit code 0 on success, else the Win32 error.
#include "platform/base/errors.h"
#include "platform/fs/files.h"
#include "platform/kernel/device_io.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 2)
        return 87;
    platform::kernel::EnableDeviceAccess();
    HANDLE device = CreateFileW(u"\\\\.\\KernelTest", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
    if (device == INVALID_HANDLE_VALUE)
        return static_cast<int>(GetLastError());
    const std::string verb = argv[1];
    int result = 0;
    if (verb == "write" && argc == 4) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(atoi(argv[2]));
        DWORD written = 0;
        if (!WriteFile(device, argv[3], static_cast<DWORD>(strlen(argv[3])), &written, &at))
            result = static_cast<int>(GetLastError());
    } else if (verb == "read" && argc == 4) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(atoi(argv[2]));
        std::string text(static_cast<size_t>(atoi(argv[3])), '\0');
        DWORD read = 0;
        if (!ReadFile(device, text.data(), static_cast<DWORD>(text.size()), &read, &at))
            result = static_cast<int>(GetLastError());
        else
            printf("%.*s", static_cast<int>(read), text.c_str());
    } else {
        result = 87;
    }
    CloseHandle(device);
    return result;
}
