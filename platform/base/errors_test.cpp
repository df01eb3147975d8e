#include "platform/base/errors.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>

TEST(LastError, IsPerThread) {
    SetLastError(ERROR_ACCESS_DENIED);
    DWORD seenByOther = 12345;
    std::thread([&] { seenByOther = GetLastError(); }).join();
    EXPECT_EQ(seenByOther, ERROR_SUCCESS);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST(LastError, HostErrorsMapToWin32Codes) {
    const struct {
        int err;
        DWORD win32;
    } cases[] = {
        {0, ERROR_SUCCESS},
        {ENOENT, ERROR_FILE_NOT_FOUND},
        {ENOTDIR, ERROR_PATH_NOT_FOUND},
        {EACCES, ERROR_ACCESS_DENIED},
        {EEXIST, ERROR_ALREADY_EXISTS},
        {ENOTEMPTY, ERROR_DIR_NOT_EMPTY},
        {ENOSPC, ERROR_DISK_FULL},
        {ENAMETOOLONG, ERROR_FILENAME_EXCED_RANGE},
        {EXDEV, ERROR_NOT_SAME_DEVICE},
        {12345, ERROR_GEN_FAILURE},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::FailErrno(c.err), c.win32) << "errno " << c.err;
        EXPECT_EQ(GetLastError(), c.win32) << "errno " << c.err;
    }
}
