// Test helper: opens a file through the layer in a process of its own, reports the outcome on standard output
// ("ok" or "error <code>") and holds the handle until its standard input ends.
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 4)
        return 2;
    const std::u16string path = platform::Utf8ToUtf16(argv[1]);
    const DWORD access = static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10));
    const DWORD share = static_cast<DWORD>(std::strtoul(argv[3], nullptr, 10));
    HANDLE h = CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        std::printf("error %u\n", GetLastError());
    else
        std::printf("ok\n");
    std::fflush(stdout);
    char buf[16];
    while (read(0, buf, sizeof buf) > 0) {
    }
    if (h != INVALID_HANDLE_VALUE)
        CloseHandle(h);
    return 0;
}
