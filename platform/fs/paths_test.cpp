#include "platform/fs/paths.h"

#include "platform/base/errors.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/fs_test_support.h"
#include "platform/fs/hostfs.h"

#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace fstest;
using platform::fs::ToHost;

namespace {

class PathsTest : public FsTest {};

struct Case {
    const char16_t* windows;
    const char* host; // relative to T:'s folder; null when the translation fails
    DWORD error;
};

TEST_F(PathsTest, TranslatesLettersPrefixesSeparatorsAndRelativePaths) {
    ASSERT_EQ(mkdir(m_drive.Host("sub").c_str(), 0777), 0);
    ASSERT_TRUE(platform::fs::SetShare(u"nas", u"data", m_drive.Host("share")));
    const Case cases[] = {
        {u"T:\\a\\b.txt", "a/b.txt", 0},
        {u"t:/a/b.txt", "a/b.txt", 0},
        {u"T:\\a/b.txt", "a/b.txt", 0},
        {u"\\\\?\\T:\\a\\b.txt", "a/b.txt", 0},
        {u"T:\\a\\.\\x\\..\\b.txt", "a/b.txt", 0},
        {u"T:\\..\\..\\b.txt", "b.txt", 0},
        {u"T:\\a\\b.", "a/b.", 0}, // a trailing dot is part of the name on this host
        {u"T:\\", "", 0},
        {u"b.txt", "b.txt", 0},
        {u"sub\\b.txt", "sub/b.txt", 0},
        {u"\\b.txt", "b.txt", 0},
        {u"T:b.txt", "b.txt", 0},
        {u"\\\\NAS\\Data\\f.txt", "share/f.txt", 0},
        {u"\\\\?\\UNC\\nas\\data\\f.txt", "share/f.txt", 0},
        {u"Q:\\x", nullptr, ERROR_PATH_NOT_FOUND},
        {u"", nullptr, ERROR_INVALID_NAME},
        {u"\\\\other\\data\\f", nullptr, ERROR_BAD_NETPATH},
        {u"1:\\x", nullptr, ERROR_INVALID_NAME},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(platform::Utf16ToUtf8(c.windows));
        SetLastError(0);
        auto host = ToHost(c.windows);
        if (!c.host) {
            EXPECT_FALSE(host);
            EXPECT_EQ(GetLastError(), c.error);
            continue;
        }
        ASSERT_TRUE(host);
        EXPECT_EQ(host->kind, platform::fs::PathKind::File);
        EXPECT_EQ(host->path, *c.host ? m_drive.Host(c.host) : m_drive.Root());
    }
}

// The path a name has as written (what opening it without a lookup reaches) is the one the full translation
// gives for a name that exists in that case, whatever form the name takes; also on a drive at the host's root.
TEST_F(PathsTest, ANameAsWrittenLeadsWhereTheFullTranslationDoes) {
    ASSERT_TRUE(platform::fs::SetDrive(Letter(u'R', "/")));
    const char16_t* names[] = {
        u"T:\\a\\b.txt",  u"t:\\a\\b.txt",   u"T:\\a/b.txt",         u"T:\\a\\.\\b",           u"T:\\a\\..\\b",
        u"T:\\a\\\\b",    u"T:\\a\\b\\",     u"T:\\",                u"T:\\\u00e4\\\u20ac.txt", u"T:\\x\\\U0001F600",
        u"T:\\..\\..\\b", u"R:\\tmp\\x",     u"r:\\tmp",             u"\\\\?\\T:\\a\\b",       u"T:\\a\\b.",
    };
    for (const char16_t* name : names) {
        SCOPED_TRACE(platform::Utf16ToUtf8(name));
        SetLastError(123);
        auto exact = platform::fs::detail::ExactHostPath(name);
        EXPECT_EQ(GetLastError(), 123u);
        auto full = ToHost(name);
        ASSERT_TRUE(exact);
        ASSERT_TRUE(full);
        EXPECT_EQ(*exact, full->path);
    }
    EXPECT_FALSE(platform::fs::detail::ExactHostPath(u"Q:\\x"));
    EXPECT_FALSE(platform::fs::detail::ExactHostPath(u"1:\\x"));
}

TEST_F(PathsTest, FindsExistingNamesInAnotherCaseAndPrefersTheExactOne) {
    ASSERT_EQ(mkdir(m_drive.Host("Dir").c_str(), 0777), 0);
    m_drive.Write("Dir/File.TXT", "x");
    m_drive.Write("Dir/same", "1");
    m_drive.Write("Dir/SAME", "2");
    EXPECT_EQ(ToHost(u"T:\\dir\\file.txt")->path, m_drive.Host("Dir/File.TXT"));
    EXPECT_EQ(ToHost(u"T:\\DIR\\new.txt")->path, m_drive.Host("Dir/new.txt"));
    EXPECT_EQ(ToHost(u"T:\\DIR\\missing\\deeper")->path, m_drive.Host("Dir/missing/deeper"));
    EXPECT_EQ(ToHost(u"T:\\Dir\\SAME")->path, m_drive.Host("Dir/SAME"));
    EXPECT_EQ(ToHost(u"T:\\Dir\\same")->path, m_drive.Host("Dir/same"));
}

// Runs `change` in a process of its own and waits for it.
void InAnotherProcess(const std::function<bool()>& change) {
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(change() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// Looking names up after another process changed the folder: what was remembered of the folder from earlier
// look-ups must not hide the change, also right after the layer's own changes to the same folder.
TEST_F(PathsTest, NamesAnotherProcessChangesBehindEarlierLookupsAreSeen) {
    ASSERT_EQ(mkdir(m_drive.Host("d").c_str(), 0777), 0);
    const std::string created = m_drive.Host("d/NEW.TXT");
    const std::string moved = m_drive.Host("d/Moved.Txt");
    struct Step {
        const char* what;
        std::function<bool()> change;
        const char16_t* lookup;
        std::string expected;
    };
    const Step steps[] = {
        {"created", [&] { return close(open(created.c_str(), O_CREAT | O_WRONLY, 0666)) == 0; }, u"T:\\d\\new.txt",
         created},
        {"renamed in", [&] { return rename(created.c_str(), moved.c_str()) == 0; }, u"T:\\d\\moved.txt", moved},
        {"renamed away", [&] { return true; }, u"T:\\d\\new.txt", m_drive.Host("d/new.txt")},
        {"deleted", [&] { return unlink(moved.c_str()) == 0; }, u"T:\\d\\MOVED.TXT", m_drive.Host("d/MOVED.TXT")},
        {"created again", [&] { return close(open(created.c_str(), O_CREAT | O_WRONLY, 0666)) == 0; },
         u"T:\\d\\New.Txt", created},
    };
    int own = 0;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        // Missing names looked up first, and a change of the layer's own, so that the folder's listing is in use.
        EXPECT_EQ(ToHost(u"T:\\d\\nothing")->path, m_drive.Host("d/nothing"));
        const std::u16string mine = u"T:\\d\\own" + platform::Utf8ToUtf16(std::to_string(++own));
        HANDLE h = CreateFileW(mine.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(h, INVALID_HANDLE_VALUE);
        CloseHandle(h);
        EXPECT_EQ(ToHost(u"T:\\d\\MISSING")->path, m_drive.Host("d/MISSING"));
        InAnotherProcess(step.change);
        EXPECT_EQ(ToHost(step.lookup)->path, step.expected);
        EXPECT_EQ(ToHost(u"T:\\d\\OWN1")->path, m_drive.Host("d/own1"));
    }
}

TEST_F(PathsTest, ALetterAnotherProcessAddsIsUsableAtOnce) {
    ASSERT_EQ(mkdir(m_drive.Host("q").c_str(), 0777), 0);
    m_drive.Write("q/inside.txt", "q");
    const std::string table = m_machine.Folder() + "/drives";
    for (char letter : {'Q', 'K'}) {
        SCOPED_TRACE(letter);
        // The table was just used, and the new letter is looked up as soon as the other process is done.
        EXPECT_EQ(ToHost(u"T:\\x")->path, m_drive.Host("x"));
        const std::string before = ReadHost(table);
        InAnotherProcess([&] {
            FILE* f = std::fopen(table.c_str(), "w");
            if (!f)
                return false;
            std::fprintf(f, "%s%c=%s\n", before.c_str(), letter, m_drive.Host("q").c_str());
            return std::fclose(f) == 0;
        });
        const std::u16string path = std::u16string(1, static_cast<char16_t>(letter)) + u":\\INSIDE.TXT";
        auto host = ToHost(path.c_str());
        ASSERT_TRUE(host);
        EXPECT_EQ(host->path, m_drive.Host("q/inside.txt"));
    }
}

TEST_F(PathsTest, AFolderReplacedAtItsPathIsListedAfresh) {
    ASSERT_EQ(mkdir(m_drive.Host("f").c_str(), 0777), 0);
    m_drive.Write("f/Old.txt", "");
    EXPECT_EQ(ToHost(u"T:\\f\\old.txt")->path, m_drive.Host("f/Old.txt"));
    EXPECT_EQ(ToHost(u"T:\\f\\other.txt")->path, m_drive.Host("f/other.txt"));
    InAnotherProcess([&] {
        return rename(m_drive.Host("f").c_str(), m_drive.Host("g").c_str()) == 0 &&
               mkdir(m_drive.Host("f").c_str(), 0777) == 0 &&
               close(open(m_drive.Host("f/OTHER.txt").c_str(), O_CREAT | O_WRONLY, 0666)) == 0;
    });
    EXPECT_EQ(ToHost(u"T:\\f\\other.txt")->path, m_drive.Host("f/OTHER.txt"));
    EXPECT_EQ(ToHost(u"T:\\f\\old.txt")->path, m_drive.Host("f/old.txt"));
    EXPECT_EQ(ToHost(u"T:\\g\\OLD.TXT")->path, m_drive.Host("g/Old.txt"));
}

TEST_F(PathsTest, RefusesPathsPastTheLongestWindowsPath) {
    std::u16string longPath = u"T:\\" + std::u16string(33000, u'a');
    SetLastError(0);
    EXPECT_FALSE(ToHost(longPath.c_str()));
    EXPECT_EQ(GetLastError(), ERROR_FILENAME_EXCED_RANGE);
}

TEST_F(PathsTest, HostPathsUnderALetterHaveAWindowsName) {
    EXPECT_EQ(platform::fs::ToWindows(m_drive.Host("a/b.txt")), std::u16string(u"T:\\a\\b.txt"));
    EXPECT_EQ(platform::fs::ToWindows(m_drive.Root()), std::u16string(u"T:\\"));
    EXPECT_FALSE(platform::fs::ToWindows("/definitely/not/mapped"));
    // A nested letter is the more precise name.
    ASSERT_TRUE(platform::fs::SetDrive(fstest::Letter(u'U', m_drive.Host("inner"))));
    EXPECT_EQ(platform::fs::ToWindows(m_drive.Host("inner/x")), std::u16string(u"U:\\x"));
}

TEST_F(PathsTest, DriveTableIsKeptInTheMachineFolder) {
    platform::fs::DriveInfo info{u'R',        m_drive.Host("r"), platform::fs::DriveKind::Removable,
                                 u"My;Label", 0x1234ABCD,        u"FAT32"};
    ASSERT_TRUE(platform::fs::SetDrive(info));
    // Another process reads the file; here the file is edited behind the cache's back to show it is re-read.
    std::string text = ReadHost(m_machine.Folder() + "/drives");
    EXPECT_NE(text.find("R="), std::string::npos);
    auto r = platform::fs::Drive(u'r');
    ASSERT_TRUE(r);
    EXPECT_EQ(r->hostRoot, m_drive.Host("r"));
    EXPECT_EQ(r->kind, platform::fs::DriveKind::Removable);
    EXPECT_EQ(r->label, u"My;Label");
    EXPECT_EQ(r->serial, 0x1234ABCDu);
    EXPECT_EQ(r->fileSystem, u"FAT32");
    WriteHost(m_machine.Folder() + "/drives", text + "S=" + m_drive.Host("s") + "\n");
    EXPECT_TRUE(platform::fs::Drive(u'S'));
    ASSERT_TRUE(platform::fs::RemoveDrive(u'S'));
    EXPECT_FALSE(platform::fs::Drive(u'S'));
}

TEST_F(PathsTest, CurrentDirectoryAndFullPaths) {
    ASSERT_EQ(mkdir(m_drive.Host("sub").c_str(), 0777), 0);
    m_drive.Write("file", "");
    ASSERT_TRUE(SetCurrentDirectoryW(u"t:\\sub"));
    EXPECT_EQ(ToHost(u"x.txt")->path, m_drive.Host("sub/x.txt"));
    EXPECT_EQ(ToHost(u"..\\y")->path, m_drive.Host("y"));
    EXPECT_FALSE(SetCurrentDirectoryW(u"T:\\file"));
    EXPECT_EQ(GetLastError(), ERROR_DIRECTORY);
    EXPECT_FALSE(SetCurrentDirectoryW(u"T:\\none"));
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    WCHAR buffer[MAX_PATH];
    EXPECT_EQ(GetCurrentDirectoryW(MAX_PATH, buffer), 6u);
    EXPECT_EQ(std::u16string(buffer), u"T:\\sub");
    // Too small a buffer gets the size it needs and nothing cut.
    WCHAR small[4] = {u'#', u'#', u'#', u'#'};
    EXPECT_EQ(GetFullPathNameW(u"a\\b.txt", 4, small, nullptr), 15u);
    EXPECT_EQ(small[0], u'#');
    LPWSTR filePart = nullptr;
    EXPECT_EQ(GetFullPathNameW(u"a\\.\\b.txt", MAX_PATH, buffer, &filePart), 14u);
    EXPECT_EQ(std::u16string(buffer), u"T:\\sub\\a\\b.txt");
    ASSERT_NE(filePart, nullptr);
    EXPECT_EQ(std::u16string(filePart), u"b.txt");
}

// A device the test serves itself, to show that "\\.\NAME" reaches the registered openers.
class EchoDevice : public platform::fs::IoObject {
public:
    const char* TypeName() const override { return "EchoDevice"; }
    BOOL Read(LPVOID buffer, DWORD toRead, LPDWORD read, LPOVERLAPPED) override {
        const DWORD n = toRead < 3 ? toRead : 3;
        std::copy_n("dev", n, static_cast<char*>(buffer));
        *read = n;
        return TRUE;
    }
    BOOL Write(LPCVOID, DWORD, LPDWORD, LPOVERLAPPED) override { return platform::Fail(ERROR_ACCESS_DENIED), FALSE; }
};

TEST_F(PathsTest, DevicesGoToTheRegisteredOpeners) {
    auto device = ToHost(u"\\\\.\\FsTestEcho");
    ASSERT_TRUE(device);
    EXPECT_EQ(device->kind, platform::fs::PathKind::Device);
    EXPECT_EQ(device->device, u"FsTestEcho");

    EXPECT_EQ(CreateFileW(u"\\\\.\\FsTestNothing", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);

    static DWORD seenAccess = 0;
    platform::fs::RegisterDeviceOpener([](const platform::fs::DeviceOpenRequest& r) -> HANDLE {
        if (r.device != u"FsTestEcho")
            return platform::Fail(ERROR_FILE_NOT_FOUND), INVALID_HANDLE_VALUE;
        seenAccess = r.desiredAccess;
        return platform::InsertHandle(std::make_shared<EchoDevice>());
    });
    HANDLE h = CreateFileW(u"\\\\.\\FsTestEcho", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    EXPECT_EQ(seenAccess, GENERIC_READ);
    char buf[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(h, buf, sizeof buf, &read, nullptr));
    EXPECT_EQ(std::string(buf, read), "dev");
    // A device without a position or a size refuses the file functions that need them.
    LARGE_INTEGER position{};
    EXPECT_FALSE(SetFilePointerEx(h, LARGE_INTEGER{}, &position, FILE_BEGIN));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(GetFileSizeEx(h, &position));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_FALSE(SetEndOfFile(h));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(CloseHandle(h));
}

} // namespace
