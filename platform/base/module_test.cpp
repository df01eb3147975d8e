#include "platform/base/module.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>

namespace {

std::u16string ModuleName(HMODULE module) {
    WCHAR buffer[4096];
    const DWORD n = GetModuleFileNameW(module, buffer, 4096);
    return std::u16string(buffer, n);
}

bool EndsWith(const std::u16string& s, const std::u16string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

} // namespace

// The test library is built beside this program as "base_test_module.dll".
TEST(Modules, LoadFindCallAndFree) {
    HMODULE module = LoadLibraryW(u"base_test_module"); // ".dll" is implied, the folder is the program's
    ASSERT_NE(module, nullptr) << GetLastError();
    using Add = int (*)(int, int);
    auto add = reinterpret_cast<Add>(GetProcAddress(module, "AddNumbers"));
    ASSERT_NE(add, nullptr);
    EXPECT_EQ(add(2, 40), 42);
    auto initialised = reinterpret_cast<int (*)()>(GetProcAddress(module, "WasInitialised"));
    ASSERT_NE(initialised, nullptr);
    EXPECT_EQ(initialised(), 1);
    EXPECT_EQ(GetProcAddress(module, "NoSuchExport"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);

    EXPECT_TRUE(EndsWith(ModuleName(module), u"base_test_module.dll"));
    EXPECT_EQ(GetModuleHandleW(u"BASE_TEST_MODULE.DLL"), module);

    // Loading again gives the same module with one more reference.
    HMODULE again = LoadLibraryW(u"base_test_module.dll");
    EXPECT_EQ(again, module);
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_EQ(GetModuleHandleW(u"base_test_module.dll"), module);
    EXPECT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(u"base_test_module.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_FALSE(FreeLibrary(module));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Modules, MissingAndBrokenModulesFail) {
    EXPECT_EQ(LoadLibraryW(u"no_such_module_anywhere"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
    EXPECT_EQ(LoadLibraryW(u"/no/such/folder/x.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);

    char path[] = "/tmp/winlayer-module-XXXXXX.dll";
    const int fd = mkstemps(path, 4);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(write(fd, "not a shared object", 19), 19);
    close(fd);
    EXPECT_EQ(LoadLibraryW(platform::Utf8ToUtf16(path).c_str()), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_BAD_FORMAT);
    unlink(path);

    EXPECT_EQ(GetProcAddress(reinterpret_cast<HMODULE>(static_cast<uintptr_t>(0x1234)), "AddNumbers"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST(Modules, TheProgramItself) {
    HMODULE self = GetModuleHandleW(nullptr);
    ASSERT_NE(self, nullptr);
    const std::u16string name = ModuleName(nullptr);
    EXPECT_EQ(ModuleName(self), name);
    EXPECT_TRUE(EndsWith(name, u"base_tests"));

    // A buffer that is too small gets the cut name, terminated, and the buffer's size.
    WCHAR small[5];
    EXPECT_EQ(GetModuleFileNameW(nullptr, small, 5), 5u);
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(small[4], 0);
}

TEST(Modules, DebugOutputOnlyWhenAsked) {
    unsetenv("WINLAYER_DEBUG");
    testing::internal::CaptureStderr();
    OutputDebugStringW(u"quiet\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    setenv("WINLAYER_DEBUG", "1", 1);
    testing::internal::CaptureStderr();
    OutputDebugStringW(u"Worker: retry é 3 times.\n");
    OutputDebugStringA("narrow\n");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Worker: retry \xC3\xA9 3 times.\nnarrow\n");
    unsetenv("WINLAYER_DEBUG");
}
