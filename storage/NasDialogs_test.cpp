// The share routines and the NAS dialogs over the machine's own share server, with the server found by a
// responder in a network namespace of the test's own.
#include "storage/ConnectDlg.h"
#include "storage/NasShare.h"
#include "storage/SelectNasDlg.h"

#include "app/AppTestSupport.h"
#include "shared/DiskTestSupport.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/module.h"
#include "platform/fs/files.h"
#include "platform/net/wnet.h"
#include "platform/registry/registry.h"
#include "platform/testing/private_network.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/controls.h"
#include "platform/ui/input.h"
#include "platform/ui/prompt_test_support.h"
#include "platform/ui/ui_test_support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <thread>

namespace {

constexpr const char16_t* kServer = u"127.0.0.7";

class NasDialogsTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        setenv("WINLAYER_LOGON", "test", 1);
        platform::ui::SetDeadlockTimeout(30000);
        m_previousResources = AfxGetResourceHandle();
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        m_backup = m_machine.Scratch("nas/backup");
        m_public = m_machine.Scratch("nas/public");
        std::filesystem::create_directories(m_backup);
        std::filesystem::create_directories(m_public);
        ASSERT_TRUE(platform::fs::SetShare(kServer, u"Backup", m_backup));
        ASSERT_TRUE(platform::fs::SetShare(kServer, u"Public", m_public));
        ASSERT_TRUE(platform::net::SetShareAccount(kServer, u"alice", u"secret"));
        ASSERT_TRUE(platform::net::SetShareAccount(kServer, u"bob", u"hunter2"));
    }
    void TearDown() override {
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
        unsetenv("WINLAYER_LOGON");
    }

    static std::u16string Connection(const char16_t* local) {
        WCHAR remote[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        if (WNetGetConnectionW(local, remote, &length) != ERROR_SUCCESS)
            return {};
        return remote;
    }
    // A dialog found by its caption; `visible`: once it shows (a dialog shows when its modal loop first idles,
    // so the selection dialog may ask for a user before it is seen).
    static HWND WaitForWindow(const char16_t* caption, bool visible = true) {
        HWND hwnd = nullptr;
        EXPECT_TRUE(uitest::Eventually([&] {
            hwnd = FindWindowW(nullptr, caption);
            return hwnd && (!visible || IsWindowVisible(hwnd));
        })) << platform::Utf16ToUtf8(caption);
        return hwnd;
    }
    static void SetText(HWND dlg, int id, const char16_t* text) { SetWindowTextW(GetDlgItem(dlg, id), text); }
    static std::u16string ListText(HWND list, int index) {
        WCHAR text[256] = {};
        SendMessageW(list, LB_GETTEXT, index, reinterpret_cast<LPARAM>(text));
        return text;
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
    std::string m_backup, m_public;
};

TEST_F(NasDialogsTest, TheProbeTellsWritableSharesAndNeverDeletesAFileItDidNotWrite) {
    EXPECT_EQ(ProbeShareAccess(u"\\\\127.0.0.7\\Backup"), NAS_ACCESS_READWRITE);
    EXPECT_FALSE(std::filesystem::exists(m_backup + "/.netbak_last_access"));
    EXPECT_EQ(ProbeShareAccess(u"\\\\127.0.0.7\\Nothing\\"), NAS_ACCESS_NONE);

    // Somebody's file of that name, read-only: still there afterwards, as it was.
    { std::ofstream(m_public + "/.netbak_last_access") << "keep"; }
    const std::u16string probe = u"\\\\127.0.0.7\\Public\\.netbak_last_access";
    ASSERT_TRUE(SetFileAttributesW(probe.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(ProbeShareAccess(u"\\\\127.0.0.7\\Public\\"), NAS_ACCESS_READWRITE);
    std::string text;
    std::ifstream(m_public + "/.netbak_last_access") >> text;
    EXPECT_EQ(text, "keep");
    EXPECT_TRUE(GetFileAttributesW(probe.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST_F(NasDialogsTest, ConnectShareRetriesOnACredentialConflictAndReportsFailuresWithoutALetter) {
    EXPECT_EQ(ConnectShare(kServer, u"Backup", u"alice", u"wrong", u"N:"), ERROR_LOGON_FAILURE);
    EXPECT_EQ(Connection(u"N:"), u"");
    EXPECT_EQ(ConnectShare(u"127.0.0.99", u"Backup", u"alice", u"secret", u"N:"), ERROR_BAD_NETPATH);

    // Bob holds the server; Alice's connection drops his once and goes through.
    ASSERT_EQ(AddShareConnection(kServer, u"Public", u"bob", u"hunter2", nullptr, nullptr), ERROR_SUCCESS);
    EXPECT_TRUE(IsShareConnected(kServer, u"public"));
    EXPECT_TRUE(IsShareConnected(kServer, nullptr));
    EXPECT_EQ(ConnectShare(kServer, u"Backup", u"alice", u"secret", u"N:"), ERROR_SUCCESS);
    EXPECT_EQ(Connection(u"N:"), u"\\\\127.0.0.7\\Backup");
    EXPECT_FALSE(IsShareConnected(kServer, u"Public"));
    CString names;
    int count = 0;
    EnumerateConnectedShares(names, count);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(std::u16string(names.GetString()), u"\\\\127.0.0.7\\Backup\n");
    EXPECT_EQ(EnumerateShareFolders(kServer, names, count), ERROR_SUCCESS);
    EXPECT_EQ(count, 2);
    EXPECT_EQ(std::u16string(names.GetString()), u"Backup\nPublic\n");

    // Disconnecting the share frees its letter and the profile's record of it.
    EXPECT_TRUE(DisConnect(u"127.0.0.7\\", u"Backup"));
    EXPECT_EQ(Connection(u"N:"), u"");
    EXPECT_FALSE(platform::fs::Drive(u'N').has_value());
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, u"Network\\N", 0, KEY_READ, &key), ERROR_SUCCESS);
    EXPECT_FALSE(DisconnectAll(kServer));
}

// Makes a folder immutable (nothing can be made in it, not even by root) for its life.
class ImmutableFolder {
public:
    explicit ImmutableFolder(const std::string& path) : m_fd(open(path.c_str(), O_RDONLY | O_DIRECTORY)) {
        int flags = 0;
        m_done = m_fd >= 0 && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0 &&
                 (flags |= FS_IMMUTABLE_FL, ioctl(m_fd, FS_IOC_SETFLAGS, &flags) == 0);
    }
    ~ImmutableFolder() {
        int flags = 0;
        if (m_done && ioctl(m_fd, FS_IOC_GETFLAGS, &flags) == 0) {
            flags &= ~FS_IMMUTABLE_FL;
            ioctl(m_fd, FS_IOC_SETFLAGS, &flags);
        }
        if (m_fd >= 0)
            close(m_fd);
    }
    bool Done() const { return m_done; }

private:
    int m_fd;
    bool m_done = false;
};

TEST_F(NasDialogsTest, AShareThatCannotBeWrittenIsRefusedAndLeavesNoConnection) {
    const std::string archive = m_machine.Scratch("nas/archive");
    std::filesystem::create_directories(archive);
    std::ofstream(archive + "/old.txt") << "old";
    ASSERT_TRUE(platform::fs::SetShare(kServer, u"Archive", archive));
    ImmutableFolder readOnly(archive);
    if (!readOnly.Done())
        FAIL() << "the file system keeps no immutable folders (chattr +i needs root on ext4 or tmpfs)";
    EXPECT_EQ(ProbeShareAccess(u"\\\\127.0.0.7\\Archive"), NAS_ACCESS_READ);
    EXPECT_EQ(ConnectShare(kServer, u"Archive", u"alice", u"secret", u"R:"), NAS_ERROR_READ_ONLY);
    EXPECT_EQ(Connection(u"R:"), u"");
    EXPECT_FALSE(platform::fs::Drive(u'R').has_value());
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExW(HKEY_CURRENT_USER, u"Network\\R", 0, KEY_READ, &key), ERROR_SUCCESS);

    uitest::PromptScript prompts;
    prompts.Expect(platform::ui::PromptKind::MessageBox, u"You only have read access to the selected path.", IDOK);
    ShowShareError(NAS_ERROR_READ_ONLY);
    ASSERT_EQ(prompts.Seen().size(), 1u);
    EXPECT_EQ(prompts.Seen()[0].style & MB_ICONMASK, MB_ICONSTOP);
}

TEST_F(NasDialogsTest, AFoundServerIsConnectedWithCredentialsToTheChosenLetter) {
    std::string why;
    if (!testsupport::EnterPrivateNetwork(why))
        FAIL() << why;
    testsupport::DatagramResponder responder(8097, "127.0.0.7", [](const std::vector<uint8_t>&) {
        std::vector<uint8_t> good(16, 0), bad(16, 0);
        for (const char* text : {"Storage-1", "Firmware 1.0"}) {
            good.push_back(1);
            good.push_back(static_cast<uint8_t>(std::strlen(text)));
            good.insert(good.end(), text, text + std::strlen(text));
        }
        bad.push_back(1);
        bad.push_back(90); // a length past the end
        bad.push_back('X');
        return std::vector<std::vector<uint8_t>>{bad, good, good};
    });
    ASSERT_TRUE(responder.Ready());

    uitest::PromptScript prompts;
    prompts.Expect(platform::ui::PromptKind::MessageBox, u"Logon failure: unknown user name or bad password.", IDOK);
    std::vector<std::u16string> servers, shares, letters;
    CSelectNasDlg dlg;
    std::thread user([&] {
        HWND select = WaitForWindow(u"Select NAS Servers", false);
        ASSERT_NE(select, nullptr);
        // The first server found is chosen and its shares asked for: the server wants a user first.
        HWND connect = WaitForWindow(u"Connect");
        ASSERT_NE(connect, nullptr);
        HWND combo = GetDlgItem(select, 1226);
        for (int i = 0; i < SendMessageW(combo, CB_GETCOUNT, 0, 0); ++i) {
            WCHAR text[8] = {};
            SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
            letters.push_back(text);
        }
        EXPECT_FALSE(IsWindowVisible(GetDlgItem(connect, 1605)));
        SetText(connect, 1607, u"alice");
        SetText(connect, 1609, u"secret");
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(connect, IDOK)));
        HWND list = GetDlgItem(select, 1706);
        ASSERT_TRUE(uitest::Eventually([&] { return SendMessageW(list, LB_GETCOUNT, 0, 0) == 2; }));
        HWND serverList = GetDlgItem(select, 1702);
        for (int i = 0; i < SendMessageW(serverList, LB_GETCOUNT, 0, 0); ++i)
            servers.push_back(ListText(serverList, i));
        for (int i = 0; i < 2; ++i)
            shares.push_back(ListText(list, i));
        SendMessageW(list, LB_SETCURSEL, 0, 0);
        SendMessageW(select, WM_COMMAND, MAKEWPARAM(1706, LBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(select, IDOK)));

        // The share's Connect dialog comes with the remembered user; a wrong password is told and it stays.
        ASSERT_TRUE(uitest::Eventually([&] {
            connect = FindWindowW(nullptr, u"Connect");
            return connect && IsWindowVisible(connect) && IsWindowVisible(GetDlgItem(connect, 1605));
        }));
        WCHAR text[64] = {};
        GetWindowTextW(GetDlgItem(connect, 1607), text, 64);
        EXPECT_EQ(std::u16string(text), u"alice");
        SetText(connect, 1609, u"wrong");
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(connect, IDOK)));
        ASSERT_TRUE(uitest::Eventually([&] { return prompts.Seen().size() == 1; }));
        EXPECT_TRUE(IsWindow(connect));
        SetText(connect, 1609, u"secret");
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(connect, IDOK)));
    });
    const INT_PTR result = dlg.DoModal();
    user.join();
    ASSERT_EQ(result, IDOK);

    EXPECT_EQ(servers, std::vector<std::u16string>{u"Storage-1"});
    EXPECT_EQ(shares, (std::vector<std::u16string>{u"Backup", u"Public"}));
    // Only free letters are offered, the highest chosen.
    ASSERT_FALSE(letters.empty());
    for (const std::u16string& letter : letters)
        EXPECT_TRUE(letter != u"B:" && letter != u"C:" && letter != u"T:") << platform::Utf16ToUtf8(letter);
    EXPECT_EQ(letters.back(), u"Z:");
    EXPECT_EQ(std::u16string(dlg.GetDrive().GetString()), u"Z:");
    EXPECT_EQ(Connection(u"Z:"), u"\\\\127.0.0.7\\Backup");
    HANDLE file = CreateFileW(u"Z:\\saved.txt", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
    EXPECT_TRUE(std::filesystem::exists(m_backup + "/saved.txt"));
    EXPECT_FALSE(std::filesystem::exists(m_backup + "/.netbak_last_access"));
}

TEST_F(NasDialogsTest, OkWithoutAServerOrWithAnInvalidAddressKeepsTheDialogOpen) {
    std::string why;
    if (!testsupport::EnterPrivateNetwork(why))
        FAIL() << why;
    uitest::PromptScript prompts;
    prompts.Expect(platform::ui::PromptKind::MessageBox, u"Please enter the share folder and IP address", IDOK)
        .Expect(platform::ui::PromptKind::MessageBox, u"Invalid IP address.", IDOK)
        .Expect(platform::ui::PromptKind::MessageBox, u"Invalid IP address.", IDOK);
    CSelectNasDlg dlg;
    std::thread user([&] {
        HWND select = WaitForWindow(u"Select NAS Servers");
        ASSERT_NE(select, nullptr);
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(select, IDOK)));
        ASSERT_TRUE(uitest::Eventually([&] { return prompts.Seen().size() == 1; }));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(select, 1703)));
        ASSERT_TRUE(uitest::Eventually([&] { return IsWindowVisible(GetDlgItem(select, 1707)) != FALSE; }));
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(select, 1704)));
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(select, 1702)));
        SendMessageW(GetDlgItem(select, 1704), IPM_SETADDRESS, 0, MAKEIPADDRESS(230, 1, 1, 1));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(select, 1707)));
        ASSERT_TRUE(uitest::Eventually([&] { return prompts.Seen().size() == 2; }));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(select, IDOK)));
        ASSERT_TRUE(uitest::Eventually([&] { return prompts.Seen().size() == 3; }));
        EXPECT_TRUE(IsWindow(select));
        ASSERT_TRUE(platform::ui::Click(GetDlgItem(select, IDCANCEL)));
    });
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    user.join();
}

} // namespace
