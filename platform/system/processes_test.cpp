#include "platform/system/processes.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/system/command_line.h"
#include "platform/testing/scratch_drive.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// Waits are bounded: a process that does not end fails the test instead of hanging it.
constexpr DWORD kDeadlineMs = 60'000;

TEST(CommandLine, SplitsAsTheCRuntimeDoes) {
    const struct {
        std::u16string line;
        std::vector<std::u16string> arguments;
    } cases[] = {
        {u"prog", {u"prog"}},
        {u"  prog  a   b ", {u"prog", u"a", u"b"}},
        {u"\"C:\\Program Files\\x.exe\" /min", {u"C:\\Program Files\\x.exe", u"/min"}},
        {u"C:\\dir\\\"q\" a", {u"C:\\dir\\q", u"a"}},
        {u"p \"a b\" c", {u"p", u"a b", u"c"}},
        {u"p a\\\\b \\\\\"x y\"", {u"p", u"a\\\\b", u"\\x y"}},
        {u"p \\\"a\\\\\\\"b", {u"p", u"\"a\\\"b"}},
        {u"p \"\" x", {u"p", u"", u"x"}},
        {u"p \"a\"\"b\"", {u"p", u"a\"b"}},
        {u"p \"unterminated arg", {u"p", u"unterminated arg"}},
        {u"", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.line));
        EXPECT_EQ(c.arguments, platform::system::SplitCommandLine(c.line));
    }
}

class ProcessTest : public testsupport::ScratchDriveTest {
protected:
    void SetUp() override { m_drive.MakeFolder("My Tools"); }

    // Starts a command line; the handles are closed at the end of the test.
    PROCESS_INFORMATION Start(std::u16string commandLine, LPCWSTR directory = nullptr, LPVOID environment = nullptr,
                              DWORD flags = 0) {
        STARTUPINFOW startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        EXPECT_TRUE(CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, flags, environment, directory,
                                   &startup, &info))
            << GetLastError();
        m_handles.push_back(info.hProcess);
        m_handles.push_back(info.hThread);
        return info;
    }

    DWORD ExitCodeOf(const PROCESS_INFORMATION& info) {
        EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hProcess, kDeadlineMs));
        DWORD code = 0;
        EXPECT_TRUE(GetExitCodeProcess(info.hProcess, &code));
        return code;
    }

    void TearDown() override {
        for (HANDLE handle : m_handles) {
            if (handle) {
                EXPECT_TRUE(CloseHandle(handle));
            }
        }
    }

    std::vector<HANDLE> m_handles;
};

// The process test the programs run: every process id, opened for query and read, its first module's name.
DWORD FindByBaseName(const std::u16string& wanted) {
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    EXPECT_TRUE(EnumProcesses(ids.data(), static_cast<DWORD>(ids.size() * sizeof(DWORD)), &bytes));
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (!process)
            continue;
        HMODULE module = nullptr;
        DWORD needed = 0;
        WCHAR name[2048] = {};
        if (EnumProcessModules(process, &module, sizeof module, &needed))
            GetModuleBaseNameW(process, module, name, 2048);
        CloseHandle(process);
        if (wanted == name)
            return ids[i];
    }
    return 0;
}

TEST_F(ProcessTest, StartFindTerminateAndWait) {
    // A program of our own name, so that no other process on the machine can be mistaken for it.
    const std::string name = "idler" + std::to_string(::getpid());
    std::filesystem::copy_file("/bin/sleep", m_drive.Root() + "/My Tools/" + name);
    const std::u16string baseName = platform::Utf8ToUtf16(name);
    const PROCESS_INFORMATION info = Start(u"\"T:\\My Tools\\" + baseName + u"\" 1000");
    ASSERT_NE(nullptr, info.hProcess);
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(info.hProcess, 0));
    DWORD code = 0;
    ASSERT_TRUE(GetExitCodeProcess(info.hProcess, &code));
    EXPECT_EQ(STILL_ACTIVE, code);

    EXPECT_EQ(info.dwProcessId, FindByBaseName(baseName));

    // A second handle to the same process sees the same end.
    HANDLE other = OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION, FALSE, info.dwProcessId);
    ASSERT_NE(nullptr, other);
    m_handles.push_back(other);
    HMODULE module = nullptr;
    DWORD needed = 0;
    EXPECT_FALSE(EnumProcessModules(other, &module, sizeof module, &needed));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(TerminateProcess(other, 1));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());

    ASSERT_TRUE(TerminateProcess(info.hProcess, 7));
    const HANDLE all[] = {info.hProcess, info.hThread, other};
    EXPECT_EQ(WAIT_OBJECT_0, WaitForMultipleObjects(3, all, TRUE, kDeadlineMs));
    EXPECT_EQ(7u, ExitCodeOf(info));
    ASSERT_TRUE(GetExitCodeProcess(other, &code));
    EXPECT_EQ(7u, code);
    EXPECT_FALSE(TerminateProcess(info.hProcess, 1));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
    EXPECT_FALSE(EnumProcessModules(info.hProcess, &module, sizeof module, &needed));
    EXPECT_NE(info.dwProcessId, FindByBaseName(baseName));
}

TEST_F(ProcessTest, CommandLinesDirectoriesAndEnvironment) {
    EXPECT_EQ(3u, ExitCodeOf(Start(u"sh -c \"exit 3\"")));

    // The program's path may hold blanks, quoted or not; a name without ".exe" is found either way.
    {
        std::ofstream script(m_drive.Root() + "/My Tools/run me");
        script << "#!/bin/sh\nexit 5\n";
    }
    chmod((m_drive.Root() + "/My Tools/run me").c_str(), 0755);
    EXPECT_EQ(5u, ExitCodeOf(Start(u"\"T:\\My Tools\\run me.exe\" /min")));
    EXPECT_EQ(5u, ExitCodeOf(Start(u"T:\\my tools\\RUN ME /min")));

    // The current directory and the environment block reach the child, and so does the whole command line.
    const std::u16string block = std::u16string(u"GREETING=hello world") + u'\0' + u'\0';
    Start(u"sh -c \"pwd > out.txt; echo $GREETING >> out.txt; echo $WINLAYER_CMDLINE >> out.txt\"", u"T:\\",
          const_cast<char16_t*>(block.c_str()), CREATE_UNICODE_ENVIRONMENT);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(m_handles[m_handles.size() - 2], kDeadlineMs));
    EXPECT_EQ(std::filesystem::canonical(m_drive.Root()).string() + "\nhello world\n" +
                  "sh -c \"pwd > out.txt; echo $GREETING >> out.txt; echo $WINLAYER_CMDLINE >> out.txt\"\n",
              m_drive.Read("out.txt"));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::u16string missing = u"T:\\no-such-program.exe";
    EXPECT_FALSE(
        CreateProcessW(nullptr, missing.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
    std::u16string sleep = u"sleep 1";
    EXPECT_FALSE(
        CreateProcessW(nullptr, sleep.data(), nullptr, nullptr, FALSE, 0, nullptr, u"T:\\Missing", &startup, &info));
    EXPECT_EQ(ERROR_DIRECTORY, GetLastError());
    EXPECT_FALSE(CreateProcessW(nullptr, sleep.data(), nullptr, nullptr, FALSE, 0x4 /* CREATE_SUSPENDED */, nullptr,
                                nullptr, &startup, &info));
    EXPECT_EQ(ERROR_NOT_SUPPORTED, GetLastError());
}

TEST_F(ProcessTest, StandardHandlesAndApplicationName) {
    {
        std::ofstream script(m_drive.Root() + "/My Tools/say");
        script << "#!/bin/sh\necho \"$0|$1|$2\"\n";
    }
    chmod((m_drive.Root() + "/My Tools/say").c_str(), 0755);
    HANDLE output = CreateFileW(u"T:\\said.txt", GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, output);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = output;
    PROCESS_INFORMATION info{};
    // The application name picks the program; the command line is only what the program is told.
    std::u16string commandLine = u"anything \"two words\" a\\\"b";
    ASSERT_TRUE(CreateProcessW(u"T:\\My Tools\\say.exe", commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                               nullptr, &startup, &info));
    m_handles.push_back(info.hProcess);
    m_handles.push_back(info.hThread);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(info.hThread, kDeadlineMs));
    EXPECT_EQ(0u, ExitCodeOf(info));
    EXPECT_TRUE(CloseHandle(output));
    EXPECT_EQ(m_drive.Root() + "/My Tools/say|two words|a\"b\n", m_drive.Read("said.txt"));
}

TEST_F(ProcessTest, OwnProcessAndBadIds) {
    WCHAR name[256];
    const DWORD length = GetModuleBaseNameW(GetCurrentProcess(), nullptr, name, 256);
    EXPECT_EQ(u"system_tests", std::u16string(name, length));
    EXPECT_EQ(4u, GetModuleBaseNameW(GetCurrentProcess(), nullptr, name, 5));
    EXPECT_EQ(u"syst", std::u16string(name));

    // Every module handle names a module; the first is the program.
    std::vector<HMODULE> modules(512);
    DWORD needed = 0;
    ASSERT_TRUE(EnumProcessModules(GetCurrentProcess(), modules.data(), 512 * sizeof(HMODULE), &needed));
    ASSERT_GT(needed / sizeof(HMODULE), 1u);
    EXPECT_EQ(u"system_tests", std::u16string(name, GetModuleBaseNameW(GetCurrentProcess(), modules[0], name, 256)));
    EXPECT_NE(0u, GetModuleBaseNameW(GetCurrentProcess(), modules[1], name, 256));
    EXPECT_EQ(0u, GetModuleBaseNameW(GetCurrentProcess(), reinterpret_cast<HMODULE>(uintptr_t{8}), name, 256));
    EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());

    HANDLE self = OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, GetCurrentProcessId());
    ASSERT_NE(nullptr, self);
    m_handles.push_back(self);
    DWORD code = 0;
    EXPECT_TRUE(GetExitCodeProcess(self, &code));
    EXPECT_EQ(STILL_ACTIVE, code);

    EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
    EXPECT_EQ(nullptr, OpenProcess(PROCESS_QUERY_INFORMATION, FALSE, 0x7FFFFFF0));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
}

} // namespace
