#include "app/Utility.h"

#include "app/AppTestSupport.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/sync.h"
#include "platform/crypt/wincrypt.h"
#include "platform/fs/files.h"
#include "platform/help/htmlhelp.h"
#include "platform/registry/registry.h"
#include "platform/shell/browse.h"
#include "platform/system/processes.h"
#include "platform/testing/eventually.h"
#include "platform/ui/broker.h"
#include "platform/ui/message.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/window.h"

#include <sys/stat.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>

namespace {

using UtilityTest = apptest::MachineTest;

TEST(SizeTextTest, UnitsAndRoundingAtEveryCarry) {
    struct Case {
        ULONGLONG bytes;
        const char16_t* number;
        const char16_t* unit;
    };
    const Case cases[] = {
        {0, u"0", u"Byte"},
        {1, u"1", u"Byte"},
        {2, u"2", u"Bytes"},
        {999, u"999", u"Bytes"},
        {1000, u"0.98", u"KB"}, // 0.977: the 7 rounds up
        {1023, u"1.00", u"KB"}, // 0.999 carries into the units
        {1536, u"1.50", u"KB"},
        {2176, u"2.12", u"KB"},  // 2.125: a 5 does not round up
        {10237, u"10.0", u"KB"}, // 9.997 carries past the leading digit
        {126669, u"123", u"KB"}, // 123.700: the decimal point follows, no rounding
        {1048575, u"1.00", u"MB"},
        {104851000, u"100", u"MB"},  // 99.994 carries to three digits
        {104805000, u"99.9", u"MB"}, // 99.950
        {123456789, u"117", u"MB"},
        {1073741824, u"1.00", u"GB"},
        {9999999999, u"9.31", u"GB"},
        {10734000000, u"10.0", u"GB"}, // 9.997
        {99999999999, u"93.1", u"GB"},
        {999999999999, u"931 ", u"GB"},
        {1099511627776, u"1024 ", u"GB"},
    };
    for (const Case& c : cases) {
        CString number = u"old";
        CString unit = u"old";
        FormatSizeText(number, unit, c.bytes);
        EXPECT_EQ(number.Str(), c.number) << c.bytes;
        EXPECT_EQ(unit.Str(), c.unit) << c.bytes;
    }
}

TEST(SizeTextTest, ThousandsAndLongPathPrefix) {
    struct Case {
        LONGLONG count;
        const char16_t* text;
    };
    const Case cases[] = {
        {0, u"0"},          {12, u"12"},          {999, u"999"},
        {1000, u"1,000"},   {123456, u"123,456"}, {1234567, u"1,234,567"},
        {-1234, u"-1,234"}, {-123, u"-123"},      {9223372036854775807LL, u"9,223,372,036,854,775,807"}};
    for (const Case& c : cases) {
        CString text = u"old";
        FormatThousands(text, c.count);
        EXPECT_EQ(text.Str(), c.text) << c.count;
    }

    struct PrefixCase {
        const char16_t* path;
        const char16_t* result;
    };
    const PrefixCase prefixes[] = {{u"\\\\?\\C:\\data", u"C:\\data"},
                                   {u"C:\\\\?\\data", u"C:\\\\?\\data"},
                                   {u"\\\\?", u"\\\\?"},
                                   {u"\\\\server\\share", u"\\\\server\\share"},
                                   {u"", u""}};
    for (const PrefixCase& c : prefixes) {
        CString path = c.path;
        RemoveLongPathPrefix(path);
        EXPECT_EQ(path.Str(), c.result);
    }
}

TEST_F(UtilityTest, PathsFilesAndFolders) {
    m_drive.Write("five.bin", "12345");
    EXPECT_TRUE(PathExists(u"T:\\five.bin"));
    EXPECT_TRUE(PathExists(u"T:\\"));
    EXPECT_FALSE(PathExists(u"T:\\none.bin"));
    EXPECT_FALSE(PathExists(u"T:\\none\\deeper.bin"));

    EXPECT_EQ(GetFileLength(u"T:\\five.bin"), 5u);
    EXPECT_EQ(GetLastError(), ERROR_SUCCESS);
    // A missing file is an error value, not an exception.
    EXPECT_EQ(GetFileLength(u"T:\\none.bin"), 0u);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    EXPECT_FALSE(IsDriveLetterFree(u'T' - u'A'));
    EXPECT_TRUE(IsDriveLetterFree(u'Q' - u'A'));
    EXPECT_FALSE(IsDriveLetterFree(-1));
    EXPECT_FALSE(IsDriveLetterFree(26));
    EXPECT_GT(GetDriveFreeSpace(u"T:\\"), 0u);
    EXPECT_EQ(GetDriveFreeSpace(u"Q:\\"), 0u);

    CString folder;
    ASSERT_TRUE(GetExeFolder(folder));
    EXPECT_EQ(folder[folder.GetLength() - 1], u'\\');
    EXPECT_TRUE(PathExists(folder + apptest::ExeName().c_str()));

    // A tree with a read-only file and an empty folder goes entirely.
    std::filesystem::create_directories(m_drive.Root() + "/tree/sub/empty");
    m_drive.Write("tree/a.txt", "a");
    m_drive.Write("tree/sub/b.txt", "b");
    ASSERT_TRUE(SetFileAttributesW(u"T:\\tree\\sub\\b.txt", FILE_ATTRIBUTE_READONLY));
    EXPECT_TRUE(DeleteFolderTree(u"T:\\tree"));
    EXPECT_FALSE(m_drive.Exists("tree"));
    EXPECT_FALSE(DeleteFolderTree(u"T:\\tree"));
    EXPECT_FALSE(DeleteFolderTree(u"T:\\five.bin"));
}

TEST_F(UtilityTest, WindowsVersionsAsTheMachineSetsThem) {
    struct Case {
        const char* version;
        const char16_t* name;
        int code;
        bool vista;
    };
    EXPECT_TRUE(IsNTPlatform()); // the machine's default: Windows Vista
    const Case cases[] = {
        {"", u"Vista", 106, true}, // the machine's default
        {"platform=2\nmajor=6\nminor=0\nbuild=6000\n", u"Vista", 106, true},
        {"platform=2\nmajor=6\nminor=1\nbuild=7600\n", u"unknown Windows version", 0, false},
        {"platform=2\nmajor=5\nminor=1\nbuild=2600\n", u"Windows XP", 104, false},
        {"platform=2\nmajor=5\nminor=2\nbuild=3790\n", u"Windows 2003", 105, false},
        {"platform=2\nmajor=5\nminor=0\nbuild=2195\n", u"Windows 2000", 103, false},
        {"platform=2\nmajor=4\nminor=0\nbuild=1381\n", u"Windows NT 4", 102, false},
        {"platform=2\nmajor=3\nminor=51\nbuild=1057\n", u"Windows NT 3.51", 101, false},
        {"platform=1\nmajor=4\nminor=0\nbuild=950\n", u"Windows 95", 1, false},
        {"platform=1\nmajor=4\nminor=0\nbuild=1000\n", u"Windows 95 SP1", 2, false},
        {"platform=1\nmajor=4\nminor=3\nbuild=1214\n", u"Windows 95 OSR2", 3, false},
        {"platform=1\nmajor=4\nminor=0\nbuild=900\n", u"unknown Windows version", 0, false},
        {"platform=1\nmajor=4\nminor=10\nbuild=1998\n", u"Windows 98", 4, false},
        {"platform=1\nmajor=4\nminor=10\nbuild=2000\n", u"Windows 98 SP1", 5, false},
        {"platform=1\nmajor=4\nminor=10\nbuild=2222\n", u"Windows 98 SE", 6, false},
        {"platform=1\nmajor=4\nminor=90\nbuild=3000\n", u"Windows ME", 7, false},
        {"platform=3\nmajor=5\nminor=0\nbuild=1\n", u"Windows CE", 201, false},
    };
    for (const Case& c : cases) {
        const std::string file = m_machine.Folder() + "/version";
        if (*c.version)
            std::ofstream(file, std::ios::binary) << c.version;
        else
            std::filesystem::remove(file);
        WCHAR name[64];
        int code = -1;
        EXPECT_TRUE(GetWindowsVersionName(name, 64, &code)) << c.version;
        EXPECT_EQ(std::u16string(name), c.name) << c.version;
        EXPECT_EQ(code, c.code) << c.version;
        EXPECT_EQ(IsWindowsVista() != FALSE, c.vista) << c.version;
    }
    // The name is cut to the buffer.
    WCHAR shortName[8];
    int code = -1;
    EXPECT_TRUE(GetWindowsVersionName(shortName, 8, &code));
    EXPECT_EQ(std::u16string(shortName), u"Windows");
    // The platform test keeps its first answer for the rest of the run.
    EXPECT_TRUE(IsNTPlatform());
}

TEST_F(UtilityTest, ShowHiddenFilesFollowsTheExplorerSetting) {
    EXPECT_FALSE(IsShowHiddenFiles());
    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced", 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr),
              ERROR_SUCCESS);
    struct Case {
        DWORD type;
        DWORD value;
        DWORD size;
        bool shown;
    };
    const Case cases[] = {{REG_DWORD, 1, 4, true},
                          {REG_DWORD, 2, 4, false},
                          {REG_DWORD, 0, 4, false},
                          {REG_BINARY, 1, 4, false},
                          {REG_SZ, 1, 4, false}};
    for (const Case& c : cases) {
        ASSERT_EQ(RegSetValueExW(key, u"Hidden", 0, c.type, reinterpret_cast<const BYTE*>(&c.value), c.size),
                  ERROR_SUCCESS);
        EXPECT_EQ(IsShowHiddenFiles() != FALSE, c.shown) << c.type << " " << c.value;
    }
    RegCloseKey(key);
}

// The RC4 output for 'p' and the text under the pass phrase, straight from the CryptoAPI.
std::string RawCipher(const std::string& plain, const std::string& passPhrase) {
    HCRYPTPROV provider = 0;
    if (!CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_FULL, 0)) {
        EXPECT_TRUE(CryptAcquireContextW(&provider, nullptr, MS_DEF_PROV_W, PROV_RSA_FULL, CRYPT_NEWKEYSET));
    }
    HCRYPTHASH hash = 0;
    HCRYPTKEY key = 0;
    EXPECT_TRUE(CryptCreateHash(provider, CALG_MD5, 0, 0, &hash));
    EXPECT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(passPhrase.data()),
                              static_cast<DWORD>(passPhrase.size()), 0));
    EXPECT_TRUE(CryptDeriveKey(provider, CALG_RC4, hash, 0, &key));
    std::string data = "p" + plain;
    DWORD length = static_cast<DWORD>(data.size());
    EXPECT_TRUE(
        CryptEncrypt(key, 0, TRUE, 0, reinterpret_cast<BYTE*>(data.data()), &length, static_cast<DWORD>(data.size())));
    CryptDestroyKey(key);
    CryptDestroyHash(hash);
    CryptReleaseContext(provider, 0);
    return data;
}

TEST_F(UtilityTest, CipherNeverLosesAPassword) {
    // A pass phrase under which the password's cipher text holds a zero byte, and one under which it does not.
    const std::string secret = "Secret#1";
    std::string zeroPhrase;
    std::string plainPhrase;
    for (int i = 0; i < 5000 && (zeroPhrase.empty() || plainPhrase.empty()); ++i) {
        const std::string candidate = "user" + std::to_string(i);
        const std::string raw = RawCipher(secret, candidate);
        std::string& slot = raw.find('\0') != std::string::npos ? zeroPhrase : plainPhrase;
        if (slot.empty())
            slot = candidate;
    }
    ASSERT_FALSE(zeroPhrase.empty());
    ASSERT_FALSE(plainPhrase.empty());

    for (const std::string& passPhrase : {zeroPhrase, plainPhrase})
        for (const std::string& password :
             {secret, std::string(), std::string("p"), std::string(998, 'x'), std::string("\x01\x02\xff")}) {
            char cipher[2 * kCipherWorkSize + 2] = {};
            ASSERT_TRUE(EncryptString(password.c_str(), cipher, sizeof(cipher), passPhrase.c_str())) << password;
            const DWORD length = static_cast<DWORD>(std::strlen(cipher));
            ASSERT_GT(length, password.size());
            char plain[kCipherWorkSize] = {};
            ASSERT_TRUE(DecryptString(cipher, length, plain, sizeof(plain), passPhrase.c_str())) << password;
            EXPECT_EQ(std::string(plain), password);
            // Another pass phrase does not give the password back.
            char other[kCipherWorkSize] = {};
            if (DecryptString(cipher, length, other, sizeof(other), "someone else")) {
                EXPECT_NE(std::string(other), password);
            }
        }

    // A cipher text without a zero byte is the RC4 output itself, as stored values have always been.
    const std::string passPhrase = plainPhrase;
    char cipher[64] = {};
    ASSERT_TRUE(EncryptString(secret.c_str(), cipher, sizeof(cipher), passPhrase.c_str()));
    EXPECT_EQ(std::string(cipher), RawCipher(secret, passPhrase));
    // With a zero byte the stored text is longer than the password and still has no zero byte inside.
    ASSERT_TRUE(EncryptString(secret.c_str(), cipher, sizeof(cipher), zeroPhrase.c_str()));
    EXPECT_GT(std::strlen(cipher), secret.size() + 1);

    // Bounds: the plain text must fit the work buffer, the results their buffers.
    EXPECT_FALSE(EncryptString(std::string(999, 'x').c_str(), cipher, sizeof(cipher), passPhrase.c_str()));
    EXPECT_FALSE(EncryptString(secret.c_str(), cipher, static_cast<DWORD>(secret.size() + 1), passPhrase.c_str()));
    ASSERT_TRUE(EncryptString(secret.c_str(), cipher, sizeof(cipher), passPhrase.c_str()));
    char small[4] = {};
    EXPECT_FALSE(
        DecryptString(cipher, static_cast<DWORD>(std::strlen(cipher)), small, sizeof(small), passPhrase.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(DecryptString(cipher, 5000, small, sizeof(small), passPhrase.c_str()));
    EXPECT_FALSE(EncryptString(nullptr, cipher, sizeof(cipher), passPhrase.c_str()));
    EXPECT_FALSE(DecryptString(cipher, 0, small, sizeof(small), passPhrase.c_str()));
}

TEST_F(UtilityTest, HelpTopicsByDialog) {
    platform::help::ClearRequests();
    CString exeFolder;
    ASSERT_TRUE(GetExeFolder(exeFolder));
    const std::string docFolder = apptest::ExeFolder() + "/Doc";
    std::filesystem::remove_all(docFolder);

    // No help file: nothing is shown.
    EXPECT_FALSE(ShowHelpTopic(2100));
    EXPECT_TRUE(platform::help::Requests().empty());

    // The name from the string table is missing; the English file in the same folder serves.
    std::filesystem::create_directories(docFolder);
    std::ofstream(docFolder + "/Kovra_ENG.CHM") << "help";
    struct Case {
        UINT id;
        const char16_t* page;
    };
    const Case cases[] = {{2100, u"::/Ch4-5.html"},
                          {490, u"::/Ch4-1.html"},
                          {3300, u"::/Ch4-1.html"},
                          {3900, u"::/Ch4-2.html"},
                          {1301, u"::/Ch4-3-2.html"},
                          {2300, u"::/Ch4.html"},
                          {1400, u"::/Ch5-1.html"},
                          {2700, u"::/Ch5-1-4-3.html"},
                          {2600, u"::/Ch5-1-4-1.html"},
                          {0, u""},
                          {12345, u""}};
    for (const Case& c : cases)
        EXPECT_TRUE(ShowHelpTopic(c.id)) << c.id;
    const auto requests = platform::help::Requests();
    ASSERT_EQ(requests.size(), std::size(cases));
    const std::u16string helpFile = exeFolder.Str() + u"Doc\\Kovra_ENG.CHM";
    for (size_t i = 0; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].file, helpFile + cases[i].page) << cases[i].id;
        EXPECT_EQ(requests[i].command, HH_DISPLAY_TOPIC);
        EXPECT_EQ(requests[i].caller, nullptr);
    }
    std::filesystem::remove_all(docFolder);
    platform::help::ClearRequests();
}

TEST_F(UtilityTest, ProcessesByBaseName) {
    EXPECT_TRUE(IsProcessRunning(apptest::ExeName().c_str()));
    std::u16string upper = apptest::ExeName();
    for (auto& c : upper)
        c = towupper_w(c);
    // A program is found whatever the case of its name, as Windows file names are.
    EXPECT_TRUE(IsProcessRunning(upper.c_str()));
    EXPECT_FALSE(IsProcessRunning(u"no-such-program.exe"));
    EXPECT_TRUE(CloseProcessWindows(u"no-such-program.exe"));
}

// Starts a program of the test folder and returns its process handle.
HANDLE Start(const std::u16string& commandLine) {
    std::u16string line = commandLine;
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

TEST_F(UtilityTest, ClosingAProgramThroughItsWindows) {
    HANDLE helper = Start(u"B:\\app_test_window");
    ASSERT_NE(helper, nullptr) << GetLastError();
    ASSERT_TRUE(testsupport::Eventually([] { return FindWindowW(u"AppTestWindow", nullptr) != nullptr; }))
        << "the helper's window was never published";
    EXPECT_TRUE(IsProcessRunning(u"app_test_window"));
    // Closing its windows ends the program. Whether it has ended within the second the call gives it depends on
    // how busy the machine is (a sanitizer build on a loaded machine takes longer); the call never says so of a
    // program that still runs.
    const BOOL ended = CloseProcessWindows(u"app_test_window");
    if (ended) {
        EXPECT_EQ(WaitForSingleObject(helper, 0), WAIT_OBJECT_0);
    }
    EXPECT_EQ(WaitForSingleObject(helper, 20'000), WAIT_OBJECT_0) << "closing its windows did not end the program";
    CloseHandle(helper);

    // A program without windows keeps running, and that is reported.
    std::filesystem::copy_file("/bin/sleep", m_drive.Root() + "/kovra_idle_program");
    chmod((m_drive.Root() + "/kovra_idle_program").c_str(), 0755);
    // It sleeps far longer than a loaded machine can take to get to the question; the test ends it.
    HANDLE idle = Start(u"T:\\kovra_idle_program 3600");
    ASSERT_NE(idle, nullptr) << GetLastError();
    ASSERT_TRUE(testsupport::Eventually([] { return IsProcessRunning(u"kovra_idle_program") != FALSE; }));
    platform::clock::UseManualClock(platform::clock::Now());
    EXPECT_FALSE(CloseProcessWindows(u"kovra_idle_program"));
    platform::clock::UseRealClock();
    TerminateProcess(idle, 1);
    WaitForSingleObject(idle, INFINITE);
    CloseHandle(idle);
}

TEST_F(UtilityTest, FolderBrowserStatusShowsTheSelectedPath) {
    ASSERT_EQ(mkdir((m_drive.Root() + "/Backup").c_str(), 0755), 0);
    PIDLIST_ABSOLUTE root = SHSimpleIDListFromPath(u"T:\\");
    ASSERT_NE(root, nullptr);
    std::vector<std::u16string> statuses;
    BROWSEINFOW bi{};
    WCHAR name[MAX_PATH] = {};
    bi.pidlRoot = root;
    bi.pszDisplayName = name;
    bi.lpszTitle = u"Choose the destination folder";
    bi.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    bi.lpfn = BrowseFolderCallback;
    {
        // The browser starts on its root, whose path the callback shows; the user then picks a folder, which the
        // status follows.
        platform::ui::ScopedPromptHook hook([&](const platform::ui::PromptInfo& info) {
            statuses.push_back(info.status);
            SendMessageW(info.window, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(u"T:\\Backup"));
            WCHAR status[MAX_PATH] = {};
            EnumChildWindows(
                info.window,
                [](HWND child, LPARAM found) -> BOOL {
                    WCHAR text[MAX_PATH] = {};
                    GetWindowTextW(child, text, MAX_PATH);
                    if (std::u16string(text) == u"T:\\Backup")
                        lstrcpyW(reinterpret_cast<LPWSTR>(found), text);
                    return TRUE;
                },
                reinterpret_cast<LPARAM>(status));
            statuses.push_back(status);
            return platform::ui::PromptReply(IDOK);
        });
        PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&bi);
        ASSERT_NE(chosen, nullptr);
        WCHAR path[MAX_PATH] = {};
        EXPECT_TRUE(SHGetPathFromIDListW(chosen, path));
        EXPECT_EQ(std::u16string(path), u"T:\\Backup");
        ILFree(chosen);
    }
    ILFree(root);
    EXPECT_EQ(statuses, (std::vector<std::u16string>{u"T:\\", u"T:\\Backup"}));
    // Every other message is answered with 0 and changes nothing.
    EXPECT_EQ(BrowseFolderCallback(nullptr, BFFM_INITIALIZED, 0, 0), 0);
    EXPECT_EQ(BrowseFolderCallback(nullptr, BFFM_VALIDATEFAILEDW, 0, 0), 0);
}

} // namespace
