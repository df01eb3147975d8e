// Share connections over the machine's share table, in a machine folder of the test's own.
#include "platform/net/wnet.h"

#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

class WNetTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("WINLAYER_LOGON", "first", 1);
        m_public = m_machine.Scratch("public");
        m_backup = m_machine.Scratch("backup");
        ASSERT_TRUE(platform::fs::SetShare(u"nas1", u"Public", m_public));
        ASSERT_TRUE(platform::fs::SetShare(u"nas1", u"Backup", m_backup));
        ASSERT_TRUE(platform::fs::SetShare(u"open", u"Files", m_machine.Scratch("open")));
        ASSERT_TRUE(platform::net::SetShareAccount(u"nas1", u"alice", u"secret"));
        ASSERT_TRUE(platform::net::SetShareAccount(u"nas1", u"bob", u"hunter2"));
    }
    void TearDown() override { unsetenv("WINLAYER_LOGON"); }

    static DWORD Add(const char16_t* remote, const char16_t* local, const char16_t* user, const char16_t* password,
                     DWORD flags = 0) {
        NETRESOURCEW res{};
        res.dwType = RESOURCETYPE_DISK;
        res.lpRemoteName = const_cast<LPWSTR>(remote);
        res.lpLocalName = const_cast<LPWSTR>(local);
        return WNetAddConnection2W(&res, password, user, flags);
    }

    // Every record of an enumeration, read `perCall` at a time into a buffer of `bytes`.
    static std::vector<std::u16string> Enumerate(DWORD scope, const char16_t* container, DWORD* error = nullptr,
                                                 DWORD perCall = 0xFFFFFFFF, DWORD bytes = 16384) {
        std::vector<std::u16string> names;
        NETRESOURCEW res{};
        res.dwScope = RESOURCE_GLOBALNET;
        res.dwType = RESOURCETYPE_DISK;
        res.dwUsage = RESOURCEUSAGE_CONNECTABLE;
        res.lpRemoteName = const_cast<LPWSTR>(container);
        HANDLE handle = nullptr;
        const DWORD opened = WNetOpenEnumW(scope, RESOURCETYPE_ANY, 0, container ? &res : nullptr, &handle);
        if (error)
            *error = opened;
        if (opened != ERROR_SUCCESS)
            return names;
        std::vector<BYTE> buffer(bytes);
        for (int round = 0; round < 100; ++round) {
            DWORD count = perCall, size = bytes;
            const DWORD result = WNetEnumResourceW(handle, &count, buffer.data(), &size);
            if (result == ERROR_NO_MORE_ITEMS)
                break;
            EXPECT_EQ(result, ERROR_SUCCESS);
            if (result != ERROR_SUCCESS)
                break;
            const auto* records = reinterpret_cast<const NETRESOURCEW*>(buffer.data());
            for (DWORD i = 0; i < count; ++i)
                names.push_back((records[i].lpLocalName ? std::u16string(records[i].lpLocalName) + u"=" : u"") +
                                records[i].lpRemoteName);
        }
        EXPECT_EQ(WNetCloseEnum(handle), ERROR_SUCCESS);
        return names;
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_public, m_backup;
};

TEST_F(WNetTest, ConnectionsAnswerWindowsErrorCodes) {
    const struct {
        const char16_t* remote;
        const char16_t* local;
        const char16_t* user;
        const char16_t* password;
        DWORD expected;
    } cases[] = {
        {u"\\\\nowhere\\Public", u"X:", u"alice", u"secret", ERROR_BAD_NETPATH},
        {u"\\\\nas1\\Missing", u"X:", u"alice", u"secret", ERROR_BAD_NET_NAME},
        {u"nas1\\Public", u"X:", u"alice", u"secret", ERROR_BAD_NET_NAME},
        {u"\\\\nas1\\Public", u"XY", u"alice", u"secret", ERROR_BAD_DEVICE},
        {u"\\\\nas1\\Public", u"C:", u"alice", u"secret", ERROR_ALREADY_ASSIGNED},
        {u"\\\\nas1\\Public", u"X:", u"alice", u"wrong", ERROR_LOGON_FAILURE},
        {u"\\\\nas1\\Public", u"X:", u"mallory", u"secret", ERROR_LOGON_FAILURE},
        {u"\\\\nas1\\Public", u"X:", u"", u"", ERROR_LOGON_FAILURE},
        {u"\\\\nas1", u"X:", u"alice", u"secret", ERROR_BAD_NET_NAME},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Add(c.remote, c.local, c.user, c.password), c.expected) << platform::Utf16ToUtf8(c.remote);
        EXPECT_EQ(GetLastError(), c.expected);
    }
    EXPECT_FALSE(platform::fs::Drive(u'X').has_value());
    EXPECT_TRUE(Enumerate(RESOURCE_CONNECTED, nullptr).empty());
    // The anonymous session reaches IPC$; a server without accounts takes anybody.
    EXPECT_EQ(Add(u"\\\\nas1\\IPC$", nullptr, u"", u""), ERROR_SUCCESS);
    EXPECT_EQ(Add(u"\\\\open\\Files", u"Y:", u"anyone", u"anything"), ERROR_SUCCESS);
    EXPECT_EQ(WNetCancelConnection2W(u"\\\\nas1\\IPC$", 0, TRUE), ERROR_SUCCESS);
    EXPECT_EQ(WNetCancelConnection2W(u"\\\\nas1\\IPC$", 0, TRUE), ERROR_NOT_CONNECTED);
}

TEST_F(WNetTest, ALetteredConnectionLeadsToTheSharesFilesUntilCancelled) {
    ASSERT_EQ(Add(u"\\\\NAS1\\public\\", u"x:", u"Alice", u"secret"), ERROR_SUCCESS);
    const auto drive = platform::fs::Drive(u'X');
    ASSERT_TRUE(drive.has_value());
    EXPECT_EQ(drive->kind, platform::fs::DriveKind::Remote);

    HANDLE file = CreateFileW(u"X:\\report.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "data", 4, &written, nullptr));
    CloseHandle(file);
    std::ifstream host(m_public + "/report.txt");
    std::string text;
    host >> text;
    EXPECT_EQ(text, "data");

    WCHAR remote[64] = {};
    DWORD length = 3;
    EXPECT_EQ(WNetGetConnectionW(u"X:", remote, &length), ERROR_MORE_DATA);
    EXPECT_EQ(length, 14u);
    ASSERT_EQ(WNetGetConnectionW(u"x:", remote, &length), ERROR_SUCCESS);
    EXPECT_EQ(std::u16string(remote), u"\\\\NAS1\\public");
    EXPECT_EQ(WNetGetConnectionW(u"Q:", remote, &length), ERROR_NOT_CONNECTED);

    // The same server under another user name conflicts; the same user is welcome.
    EXPECT_EQ(Add(u"\\\\nas1\\Backup", u"Z:", u"bob", u"hunter2"), ERROR_SESSION_CREDENTIAL_CONFLICT);
    EXPECT_EQ(Add(u"\\\\nas1\\Backup", nullptr, u"alice", u"secret"), ERROR_SUCCESS);
    EXPECT_EQ(Add(u"\\\\nas1\\IPC$", nullptr, u"", u""), ERROR_SESSION_CREDENTIAL_CONFLICT);
    EXPECT_EQ(Enumerate(RESOURCE_CONNECTED, nullptr),
              (std::vector<std::u16string>{u"X:=\\\\NAS1\\public", u"\\\\nas1\\Backup"}));

    // A remote name cancels only connections without a letter.
    EXPECT_EQ(WNetCancelConnection2W(u"\\\\nas1\\public", 0, TRUE), ERROR_NOT_CONNECTED);
    EXPECT_EQ(WNetCancelConnection2W(u"\\\\nas1\\backup", 0, TRUE), ERROR_SUCCESS);
    EXPECT_EQ(WNetCancelConnection2W(u"X:", 0, TRUE), ERROR_SUCCESS);
    EXPECT_FALSE(platform::fs::Drive(u'X').has_value());
    EXPECT_EQ(WNetCancelConnection2W(u"X:", 0, TRUE), ERROR_NOT_CONNECTED);
    // With the server free again another user may use it.
    EXPECT_EQ(Add(u"\\\\nas1\\Backup", u"Z:", u"bob", u"hunter2"), ERROR_SUCCESS);
}

TEST_F(WNetTest, AServersSharesAreListedToASessionOfOneOfItsUsers) {
    DWORD error = 0;
    Enumerate(RESOURCE_GLOBALNET, u"\\\\nas1", &error);
    EXPECT_EQ(error, ERROR_ACCESS_DENIED);
    Enumerate(RESOURCE_GLOBALNET, u"\\\\elsewhere", &error);
    EXPECT_EQ(error, ERROR_BAD_NETPATH);
    Enumerate(RESOURCE_GLOBALNET, u"\\\\nas1\\Public", &error);
    EXPECT_EQ(error, ERROR_NOT_CONTAINER);
    // The anonymous session is not enough.
    ASSERT_EQ(Add(u"\\\\nas1\\IPC$", nullptr, u"", u""), ERROR_SUCCESS);
    Enumerate(RESOURCE_GLOBALNET, u"\\\\nas1", &error);
    EXPECT_EQ(error, ERROR_ACCESS_DENIED);
    ASSERT_EQ(WNetCancelConnection2W(u"\\\\nas1\\IPC$", 0, TRUE), ERROR_SUCCESS);

    ASSERT_EQ(Add(u"\\\\nas1", nullptr, u"bob", u"hunter2"), ERROR_SUCCESS);
    const std::vector<std::u16string> expected = {u"\\\\nas1\\Public", u"\\\\nas1\\Backup"};
    EXPECT_EQ(Enumerate(RESOURCE_GLOBALNET, u"\\\\nas1", &error), expected);
    // One at a time, and in a buffer that holds one record.
    EXPECT_EQ(Enumerate(RESOURCE_GLOBALNET, u"\\\\nas1", &error, 1), expected);
    EXPECT_EQ(Enumerate(RESOURCE_GLOBALNET, u"\\\\nas1", &error, 0xFFFFFFFF, 160), expected);
    EXPECT_EQ(Enumerate(RESOURCE_GLOBALNET, u"\\\\open", &error), (std::vector<std::u16string>{u"\\\\open\\Files"}));

    // A buffer too small for one record says how much it needs.
    HANDLE handle = nullptr;
    NETRESOURCEW res{RESOURCE_GLOBALNET,
                     RESOURCETYPE_DISK,
                     0,
                     RESOURCEUSAGE_CONNECTABLE,
                     nullptr,
                     const_cast<LPWSTR>(u"\\\\nas1"),
                     nullptr,
                     nullptr};
    ASSERT_EQ(WNetOpenEnumW(RESOURCE_GLOBALNET, RESOURCETYPE_DISK, 0, &res, &handle), ERROR_SUCCESS);
    BYTE small[16];
    DWORD count = 0xFFFFFFFF, size = sizeof small;
    EXPECT_EQ(WNetEnumResourceW(handle, &count, small, &size), ERROR_MORE_DATA);
    EXPECT_GT(size, sizeof(NETRESOURCEW));
    EXPECT_EQ(WNetCloseEnum(handle), ERROR_SUCCESS);
    EXPECT_EQ(WNetCloseEnum(handle), ERROR_INVALID_HANDLE);
}

TEST_F(WNetTest, RememberedConnectionsComeBackAtTheNextLogOnAndOthersDoNot) {
    ASSERT_EQ(Add(u"\\\\nas1\\Public", u"P:", u"alice", u"secret", CONNECT_UPDATE_PROFILE), ERROR_SUCCESS);
    ASSERT_EQ(Add(u"\\\\nas1\\Backup", u"Q:", u"alice", u"secret"), ERROR_SUCCESS);
    EXPECT_EQ(Enumerate(RESOURCE_REMEMBERED, nullptr), (std::vector<std::u16string>{u"P:=\\\\nas1\\Public"}));

    setenv("WINLAYER_LOGON", "second", 1);
    EXPECT_EQ(Enumerate(RESOURCE_CONNECTED, nullptr), (std::vector<std::u16string>{u"P:=\\\\nas1\\Public"}));
    EXPECT_TRUE(platform::fs::Drive(u'P').has_value());
    EXPECT_FALSE(platform::fs::Drive(u'Q').has_value());

    // Cancelling with the profile forgets it for good.
    ASSERT_EQ(WNetCancelConnection2W(u"P:", CONNECT_UPDATE_PROFILE, TRUE), ERROR_SUCCESS);
    EXPECT_TRUE(Enumerate(RESOURCE_REMEMBERED, nullptr).empty());
    setenv("WINLAYER_LOGON", "third", 1);
    EXPECT_TRUE(Enumerate(RESOURCE_CONNECTED, nullptr).empty());
    EXPECT_FALSE(platform::fs::Drive(u'P').has_value());
}

} // namespace
