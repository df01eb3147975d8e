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

TEST(Modules, SystemModulesAnswerByNameAndOfferOnlyTheirFunctions) {
    HMODULE user32 = GetModuleHandleW(u"USER32.DLL");
    HMODULE kernel32 = GetModuleHandleW(u"KERNEL32.DLL");
    ASSERT_NE(user32, nullptr);
    ASSERT_NE(kernel32, nullptr);
    EXPECT_NE(user32, kernel32);
    EXPECT_NE(user32, GetModuleHandleW(nullptr));
    struct Case {
        const char16_t* name;
        HMODULE expected;
    };
    const Case names[] = {
        {u"user32", user32},      {u"User32.Dll", user32},     {u"C:\\Windows\\System32\\user32.dll", user32},
        {u"kernel32", kernel32},  {u"KERNEL32.dll", kernel32}, {u"gdi32.dll", nullptr},
        {u"user32.exe", nullptr}, {u"user", nullptr},
    };
    for (const Case& c : names) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.name));
        SetLastError(0);
        EXPECT_EQ(GetModuleHandleW(c.name), c.expected);
        if (!c.expected) {
            EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
        }
    }
    // LoadLibraryW gives the same handle; freeing it changes nothing.
    EXPECT_EQ(LoadLibraryW(u"USER32"), user32);
    EXPECT_TRUE(FreeLibrary(user32));
    EXPECT_EQ(GetModuleHandleW(u"user32.dll"), user32);

    // Only the listed functions, and only where a layer of the process offers them: this program has no window
    // layer and no system-information layer, and its other functions do not leak out under the system's names.
    struct Proc {
        HMODULE module;
        const char* name;
    };
    const Proc missing[] = {
        {user32, "SetLayeredWindowAttributes"},
        {kernel32, "GetUserDefaultUILanguage"},
        {user32, "GetUserDefaultUILanguage"},
        {kernel32, "SetLayeredWindowAttributes"},
        {kernel32, "GetProcAddress"},
        {user32, "malloc"},
        {user32, ""},
    };
    for (const Proc& p : missing) {
        SCOPED_TRACE(p.name);
        SetLastError(0);
        EXPECT_EQ(GetProcAddress(p.module, p.name), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    }
    SetLastError(0);
    EXPECT_EQ(GetProcAddress(user32, reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(2))), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
    // No object of this process offers their functions, so they have no file.
    WCHAR buffer[64];
    EXPECT_EQ(GetModuleFileNameW(user32, buffer, 64), 0u);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(Modules, AModuleOfTheSystemsNameThatWasLoadedTakesPrecedence) {
    // A copy of the test module named like the system's USER32, in a folder of its own.
    char folder[] = "/tmp/winlayer-system-XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string copy = std::string(folder) + "/user32.dll";
    const std::string original = platform::Utf16ToUtf8(ModuleName(nullptr));
    const std::string source = original.substr(0, original.find_last_of('/') + 1) + "base_test_module.dll";
    ASSERT_EQ(std::system(("cp '" + source + "' '" + copy + "'").c_str()), 0);

    HMODULE system = GetModuleHandleW(u"USER32.DLL");
    HMODULE own = LoadLibraryW(platform::Utf8ToUtf16(copy).c_str());
    ASSERT_NE(own, nullptr);
    EXPECT_NE(own, system);
    // Found by the system's name while it is loaded, by GetModuleHandleW and LoadLibraryW alike, with its own
    // functions.
    EXPECT_EQ(GetModuleHandleW(u"USER32.DLL"), own);
    EXPECT_EQ(GetModuleHandleW(u"user32"), own);
    HMODULE again = LoadLibraryW(u"user32");
    EXPECT_EQ(again, own);
    EXPECT_NE(GetProcAddress(GetModuleHandleW(u"USER32.DLL"), "AddNumbers"), nullptr);
    EXPECT_TRUE(FreeLibrary(again));
    EXPECT_EQ(GetModuleHandleW(u"USER32.DLL"), own);
    EXPECT_TRUE(FreeLibrary(own));
    // Once it is gone, the name means the system module again.
    EXPECT_EQ(GetModuleHandleW(u"USER32.DLL"), system);
    EXPECT_EQ(GetProcAddress(system, "AddNumbers"), nullptr);
    unlink(copy.c_str());
    rmdir(folder);
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
