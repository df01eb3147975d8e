#include "platform/system/sysinfo.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

void WriteMachineFile(const char* name, const std::string& text) {
    std::ofstream(platform::machine::PathOf(name)) << text;
}

TEST(Version, ComesFromTheMachineFolder) {
    platform::machine::ScopedTestMachine machine;
    const struct {
        const char* file; // null: no file
        DWORD platform, major, minor, build;
        std::u16string csd;
        BYTE product;
        DWORD version;
    } cases[] = {
        {nullptr, 2, 6, 0, 6002, u"Service Pack 2", 1, 0x17720006},
        {"major=5\nminor=1\nbuild=2600\ncsd=Service Pack 3\nspmajor=3\n", 2, 5, 1, 2600, u"Service Pack 3", 1,
         0x0A280105},
        {"# Windows 7\nmajor = 6\nminor = 1\nbuild = 7601\n", 2, 6, 1, 7601, u"Service Pack 2", 1, 0x1DB10106},
        {"major=5\nminor=2\nbuild=3790\nproduct=3\ncsd=\n", 2, 5, 2, 3790, u"", 3, 0x0ECE0205},
        {"platform=1\nmajor=4\nminor=10\nbuild=2222\ncsd= A \n", 1, 4, 10, 0x040A08AE, u"A", 1, 0x88AE0A04},
        {"platform=2\nmajor=4\nminor=0\nbuild=1381\n", 2, 4, 0, 1381, u"Service Pack 2", 1, 0x05650004},
        {"major=seven\n", 2, 6, 0, 6002, u"Service Pack 2", 1, 0x17720006},
        {"colour=blue\n", 2, 6, 0, 6002, u"Service Pack 2", 1, 0x17720006},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file ? c.file : "(no file)");
        std::remove(platform::machine::PathOf("version").c_str());
        if (c.file)
            WriteMachineFile("version", c.file);
        OSVERSIONINFOEXW info{};
        info.dwOSVersionInfoSize = sizeof info;
        ASSERT_TRUE(GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&info)));
        EXPECT_EQ(c.platform, info.dwPlatformId);
        EXPECT_EQ(c.major, info.dwMajorVersion);
        EXPECT_EQ(c.minor, info.dwMinorVersion);
        EXPECT_EQ(c.build, info.dwBuildNumber);
        EXPECT_EQ(c.csd, std::u16string(info.szCSDVersion));
        EXPECT_EQ(c.product, info.wProductType);
        EXPECT_EQ(c.version, GetVersion());

        OSVERSIONINFOW plain{};
        plain.dwOSVersionInfoSize = sizeof plain;
        ASSERT_TRUE(GetVersionExW(&plain));
        EXPECT_EQ(c.major, plain.dwMajorVersion);
    }
    OSVERSIONINFOW wrong{};
    wrong.dwOSVersionInfoSize = sizeof wrong - 4;
    EXPECT_FALSE(GetVersionExW(&wrong));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
}

TEST(Version, UiLanguageComesFromTheMachineFolder) {
    platform::machine::ScopedTestMachine machine;
    EXPECT_EQ(0x0409, GetUserDefaultUILanguage());
    WriteMachineFile("uilanguage", "0x0411\n");
    EXPECT_EQ(0x0411, GetUserDefaultUILanguage());
    WriteMachineFile("uilanguage", "1031");
    EXPECT_EQ(1031, GetUserDefaultUILanguage());
    WriteMachineFile("uilanguage", "German");
    EXPECT_EQ(0x0409, GetUserDefaultUILanguage());
}

TEST(Names, ComputerAndUserNamesUseWindowsSizes) {
    char host[HOST_NAME_MAX + 1] = {};
    ASSERT_EQ(0, gethostname(host, sizeof host - 1));
    std::u16string expected = platform::Utf8ToUtf16(std::string(host).substr(0, std::string(host).find('.')));
    for (auto& c : expected)
        c = platform::FoldUpper(c);
    expected = expected.substr(0, MAX_COMPUTERNAME_LENGTH);

    WCHAR name[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    ASSERT_TRUE(GetComputerNameW(name, &size));
    EXPECT_EQ(expected, std::u16string(name, size));
    size = static_cast<DWORD>(expected.size());
    EXPECT_FALSE(GetComputerNameW(name, &size));
    EXPECT_EQ(ERROR_BUFFER_OVERFLOW, GetLastError());
    EXPECT_EQ(expected.size() + 1, size);

    WCHAR user[260];
    size = 260;
    ASSERT_TRUE(GetUserNameW(user, &size));
    const std::u16string userName(user);
    EXPECT_FALSE(userName.empty());
    EXPECT_EQ(userName.size() + 1, size);
    size = static_cast<DWORD>(userName.size());
    EXPECT_FALSE(GetUserNameW(user, &size));
    EXPECT_EQ(ERROR_INSUFFICIENT_BUFFER, GetLastError());
    EXPECT_EQ(userName.size() + 1, size);
}

} // namespace
