// Share connections to a real SMB server: Debian's smbd on 127.0.0.1 in a network namespace of the test's own,
// with a share of a folder of the test and a user with a password.
#include "platform/net/wnet.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/copy.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/testing/private_network.h"
#include "platform/testing/samba_server.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char16_t* kBackup = u"\\\\127.0.0.1\\Backup";

class SmbShareTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("WINLAYER_LOGON", "first", 1);
        std::string why;
        ASSERT_TRUE(testsupport::EnterPrivateNetwork(why)) << why;
        m_backup = m_machine.Scratch("smb/backup");
        m_archive = m_machine.Scratch("smb/archive");
        { std::ofstream(m_archive + "/old.txt") << "kept"; }
        m_server = std::make_unique<testsupport::SambaServer>(
            std::vector<testsupport::SambaServer::Share>{{"Backup", m_backup, false}, {"Archive", m_archive, true}},
            "kovra", "s3cret");
        ASSERT_TRUE(m_server->Ready()) << m_server->Why();
    }
    void TearDown() override {
        // Every connection goes, so that no share stays mounted in the machine folder.
        for (WCHAR letter = u'D'; letter <= u'Z'; ++letter) {
            const WCHAR local[] = {letter, u':', 0};
            WNetCancelConnection2W(local, CONNECT_UPDATE_PROFILE, TRUE);
        }
        WNetCancelConnection2W(kBackup, 0, TRUE);
        m_server.reset();
        unsetenv("WINLAYER_LOGON");
    }

    static DWORD Add(const char16_t* remote, const char16_t* local, const char16_t* user, const char16_t* password,
                     DWORD flags = 0) {
        NETRESOURCEW res{};
        res.dwType = RESOURCETYPE_DISK;
        res.lpRemoteName = const_cast<LPWSTR>(remote);
        res.lpLocalName = const_cast<LPWSTR>(local);
        return WNetAddConnection2W(&res, password, user, flags);
    }

    static std::vector<std::u16string> Shares(const char16_t* server, DWORD& error) {
        std::vector<std::u16string> names;
        NETRESOURCEW res{};
        res.dwScope = RESOURCE_GLOBALNET;
        res.dwType = RESOURCETYPE_DISK;
        res.dwUsage = RESOURCEUSAGE_CONNECTABLE;
        res.lpRemoteName = const_cast<LPWSTR>(server);
        HANDLE handle = nullptr;
        error = WNetOpenEnumW(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, RESOURCEUSAGE_CONNECTABLE, &res, &handle);
        if (error != ERROR_SUCCESS)
            return names;
        std::vector<BYTE> buffer(16384);
        for (int round = 0; round < 100; ++round) {
            DWORD count = 0xFFFFFFFF, size = static_cast<DWORD>(buffer.size());
            if (WNetEnumResourceW(handle, &count, buffer.data(), &size) != ERROR_SUCCESS)
                break;
            const auto* records = reinterpret_cast<const NETRESOURCEW*>(buffer.data());
            for (DWORD i = 0; i < count; ++i)
                names.push_back(records[i].lpRemoteName);
        }
        WNetCloseEnum(handle);
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::u16string Connection(const char16_t* local) {
        WCHAR remote[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        return WNetGetConnectionW(local, remote, &length) == ERROR_SUCCESS ? remote : u"";
    }

    static bool WriteText(const char16_t* path, const std::string& text) {
        HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return false;
        DWORD written = 0;
        const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        CloseHandle(file);
        return ok && written == text.size();
    }

    static std::string ReadText(const char16_t* path) {
        HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE)
            return "<" + std::to_string(GetLastError()) + ">";
        std::string text(1 << 20, '\0');
        DWORD read = 0;
        ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr);
        CloseHandle(file);
        text.resize(read);
        return text;
    }

    static std::string HostText(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_backup, m_archive;
    std::unique_ptr<testsupport::SambaServer> m_server;
};

TEST_F(SmbShareTest, TheServersSharesAreListedAndItsLogOnAnswersWindowsErrorCodes) {
    DWORD error = 0;
    // Without a session the current user (who has no account there) is refused.
    EXPECT_TRUE(Shares(u"\\\\127.0.0.1", error).empty());
    EXPECT_EQ(error, ERROR_LOGON_FAILURE);

    const struct {
        const char16_t* remote;
        const char16_t* user;
        const char16_t* password;
        DWORD expected;
    } cases[] = {
        {kBackup, u"kovra", u"wrong", ERROR_LOGON_FAILURE},
        {kBackup, u"nobody-here", u"s3cret", ERROR_LOGON_FAILURE},
        {kBackup, u"", u"", ERROR_LOGON_FAILURE},
        {u"\\\\127.0.0.1\\Missing", u"kovra", u"s3cret", ERROR_BAD_NET_NAME},
        {u"\\\\127.0.0.2\\Backup", u"kovra", u"s3cret", ERROR_BAD_NETPATH}, // nothing answers there
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Add(c.remote, u"S:", c.user, c.password), c.expected)
            << platform::Utf16ToUtf8(c.remote) << " " << platform::Utf16ToUtf8(c.user);
        EXPECT_EQ(Connection(u"S:"), u"");
        EXPECT_FALSE(platform::fs::Drive(u'S').has_value());
    }

    // The session of the user lists the server's disk shares.
    ASSERT_EQ(Add(u"\\\\127.0.0.1", nullptr, u"kovra", u"s3cret"), ERROR_SUCCESS);
    EXPECT_EQ(Shares(u"\\\\127.0.0.1", error), (std::vector<std::u16string>{u"\\\\127.0.0.1\\Archive", kBackup}));
    EXPECT_EQ(error, ERROR_SUCCESS);
    // Another user name on the same server conflicts with that session.
    EXPECT_EQ(Add(kBackup, u"S:", u"other", u"x"), ERROR_SESSION_CREDENTIAL_CONFLICT);
    EXPECT_EQ(WNetCancelConnection2W(u"\\\\127.0.0.1", 0, TRUE), ERROR_SUCCESS);
}

TEST_F(SmbShareTest, FilesWrittenThroughTheLetterLandInTheSharedFolderUntilDisconnected) {
    ASSERT_EQ(Add(kBackup, u"S:", u"kovra", u"s3cret"), ERROR_SUCCESS);
    EXPECT_EQ(Connection(u"S:"), kBackup);
    const auto drive = platform::fs::Drive(u'S');
    ASSERT_TRUE(drive.has_value());
    EXPECT_EQ(drive->kind, platform::fs::DriveKind::Remote);

    ASSERT_TRUE(CreateDirectoryW(u"S:\\KovraData", nullptr)) << GetLastError();
    std::string big(300000, 'x');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>('a' + i % 23);
    ASSERT_TRUE(WriteText(u"S:\\KovraData\\report.txt", big));
    EXPECT_EQ(HostText(m_backup + "/KovraData/report.txt"), big);
    EXPECT_EQ(ReadText(u"S:\\KovraData\\report.txt"), big);
    // The share's UNC name leads to the same files while it is connected.
    EXPECT_EQ(ReadText(u"\\\\127.0.0.1\\Backup\\KovraData\\report.txt"), big);
    { std::ofstream(m_backup + "/from-server.txt") << "server side"; }
    EXPECT_EQ(ReadText(u"S:\\from-server.txt"), "server side");
    ASSERT_TRUE(MoveFileW(u"S:\\from-server.txt", u"S:\\KovraData\\moved.txt")) << GetLastError();
    EXPECT_TRUE(std::filesystem::exists(m_backup + "/KovraData/moved.txt"));
    ASSERT_TRUE(DeleteFileW(u"S:\\KovraData\\moved.txt"));
    EXPECT_FALSE(std::filesystem::exists(m_backup + "/KovraData/moved.txt"));

    // A second connection of the same share uses the same mount; the letter outlives the other's end.
    ASSERT_EQ(Add(kBackup, nullptr, u"kovra", u"s3cret"), ERROR_SUCCESS);
    ASSERT_EQ(WNetCancelConnection2W(kBackup, 0, TRUE), ERROR_SUCCESS);
    EXPECT_EQ(ReadText(u"S:\\KovraData\\report.txt"), big);

    ASSERT_EQ(WNetCancelConnection2W(u"S:", CONNECT_UPDATE_PROFILE, TRUE), ERROR_SUCCESS);
    EXPECT_FALSE(platform::fs::Drive(u'S').has_value());
    EXPECT_EQ(ReadText(u"S:\\KovraData\\report.txt"), "<3>");
    EXPECT_EQ(GetFileAttributesW(u"\\\\127.0.0.1\\Backup\\KovraData"), INVALID_FILE_ATTRIBUTES);
    // Nothing of the share is left in the machine folder's mount point.
    EXPECT_FALSE(std::filesystem::exists(m_machine.Folder() + "/net/smb/127.0.0.1/BACKUP/KovraData"));
    EXPECT_EQ(HostText(m_backup + "/KovraData/report.txt"), big);
}

TEST_F(SmbShareTest, AReadOnlyShareIsReadButNotWritten) {
    ASSERT_EQ(Add(u"\\\\127.0.0.1\\Archive", u"R:", u"kovra", u"s3cret"), ERROR_SUCCESS);
    EXPECT_EQ(ReadText(u"R:\\old.txt"), "kept");
    EXPECT_FALSE(WriteText(u"R:\\new.txt", "no"));
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_FALSE(std::filesystem::exists(m_archive + "/new.txt"));
}

TEST_F(SmbShareTest, ARememberedConnectionComesBackAtTheNextLogOnWithItsPassword) {
    ASSERT_EQ(Add(kBackup, u"S:", u"kovra", u"s3cret", CONNECT_UPDATE_PROFILE), ERROR_SUCCESS);
    ASSERT_EQ(Add(u"\\\\127.0.0.1\\Archive", u"R:", u"kovra", u"s3cret"), ERROR_SUCCESS);
    ASSERT_TRUE(WriteText(u"S:\\before.txt", "1"));

    setenv("WINLAYER_LOGON", "second", 1);
    EXPECT_EQ(Connection(u"S:"), kBackup);
    EXPECT_EQ(Connection(u"R:"), u"");
    EXPECT_FALSE(platform::fs::Drive(u'R').has_value());
    EXPECT_EQ(ReadText(u"S:\\before.txt"), "1");
    ASSERT_TRUE(WriteText(u"S:\\after.txt", "2"));
    EXPECT_EQ(HostText(m_backup + "/after.txt"), "2");

    // Forgotten for good once cancelled with the profile: the password goes with it.
    ASSERT_EQ(WNetCancelConnection2W(u"S:", CONNECT_UPDATE_PROFILE, TRUE), ERROR_SUCCESS);
    EXPECT_FALSE(std::filesystem::exists(m_machine.Folder() + "/net/remembered"));
    EXPECT_FALSE(std::filesystem::exists(m_machine.Folder() + "/net/sessions"));
    setenv("WINLAYER_LOGON", "third", 1);
    EXPECT_EQ(Connection(u"S:"), u"");
}

TEST_F(SmbShareTest, AFileCopiedToTheLetterIsRenamedIntoPlaceWhileStillOpen) {
    // The layer's copy writes a temporary file and renames it before closing it, which the server refuses for a
    // file a client holds open: the mount lets go of the file for the rename.
    ASSERT_EQ(Add(kBackup, u"S:", u"kovra", u"s3cret"), ERROR_SUCCESS);
    const std::string source = m_machine.Scratch("source");
    std::string bytes(150000, '\0');
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7);
    { std::ofstream(source + "/data.bin", std::ios::binary) << bytes; }
    platform::fs::DriveInfo drive;
    drive.letter = u'Q';
    drive.hostRoot = source;
    ASSERT_TRUE(platform::fs::SetDrive(drive));
    ASSERT_TRUE(CopyFileW(u"Q:\\data.bin", u"S:\\data.bin", TRUE)) << GetLastError();
    EXPECT_EQ(HostText(m_backup + "/data.bin"), bytes);
    EXPECT_FALSE(CopyFileW(u"Q:\\data.bin", u"S:\\data.bin", TRUE));
    EXPECT_EQ(GetLastError(), ERROR_FILE_EXISTS);
    ASSERT_TRUE(CopyFileW(u"Q:\\data.bin", u"S:\\data.bin", FALSE)) << GetLastError();
    EXPECT_EQ(HostText(m_backup + "/data.bin"), bytes);
    // Nothing of the temporary files stays behind.
    size_t entries = 0;
    for (const auto& entry : std::filesystem::directory_iterator(m_backup))
        entries += entry.path().filename() != "data.bin";
    EXPECT_EQ(entries, 0u);
}

} // namespace
