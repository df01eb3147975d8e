// Network storage through the real program, on an X display and a network of the test's own: in Expert Mode,
// "Mount NAS Share" finds a server by broadcast (a responder of the test), the user gives the server's user name
// and password in the "Connect" dialog with the keyboard, picks a share and connects it to a letter; an Instant
// Backup to that letter puts the files into the folder the SMB server (Debian's smbd) shares, and the connection
// outlives the program.
#include "app/AppTestSupport.h"

#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/net/wnet.h"
#include "platform/registry/registry.h"
#include "platform/res/resources.h"
#include "platform/system/sysinfo.h"
#include "platform/testing/private_network.h"
#include "platform/testing/samba_server.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"
#include "platform/ui/xvfb_test_support.h"

#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace e2e;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr UINT ID_TRAY_INSTANT_BACKUP = 32771;
constexpr int IDC_MOUNT_NAS = 911;

// The middle of a control of one of the program's dialog templates, in the dialog's client coordinates, and the
// control's rectangle.
RECT ControlRect(HMODULE resources, UINT dialog, int control) {
    RECT rc{};
    HWND dlg = CreateDialogParamW(resources, MAKEINTRESOURCEW(dialog), nullptr, QuietDialogProc, 0);
    if (!dlg)
        return rc;
    if (HWND item = GetDlgItem(dlg, control)) {
        GetWindowRect(item, &rc);
        POINT topLeft{rc.left, rc.top}, bottomRight{rc.right, rc.bottom};
        ScreenToClient(dlg, &topLeft);
        ScreenToClient(dlg, &bottomRight);
        rc = RECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    }
    DestroyWindow(dlg);
    return rc;
}

POINT Middle(const RECT& rc) {
    return POINT{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
}

class NasE2E : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("WINLAYER_DEBUG", "1", 1);
        ::setenv("WINLAYER_LOGON", "e2e", 1);
        m_install = m_machine.Scratch("Kovra");
        e2e::InstallProgram(m_install);
        m_errors = m_machine.Scratch("output") + "/stderr.txt";
        m_source = m_machine.Scratch("data");
        m_home = m_machine.Scratch("home");
        m_share = m_machine.Scratch("nas/backup");
        for (const auto& [letter, root] : {std::pair{u'K', m_install}, std::pair{u'T', m_source},
                                           std::pair{u'C', m_home}, std::pair{u'B', apptest::ExeFolder()}}) {
            fs::create_directories(root);
            platform::fs::DriveInfo drive;
            drive.letter = letter;
            drive.hostRoot = root;
            drive.serial = 0x100u + letter;
            ASSERT_TRUE(platform::fs::SetDrive(drive));
        }
        const char* oldHome = std::getenv("HOME");
        m_savedHome = oldHome ? oldHome : "";
        ::setenv("HOME", m_home.c_str(), 1);
        fs::create_directories(fs::path(m_install) / "Config");
        std::ofstream(fs::path(m_install) / "Config" / "Main.ini") << "[Main]\nDriveType=1\n";
        // The program starts in Expert Mode ("RunMode" 1, the four bytes of the integer as REG_SZ data).
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra", 0, nullptr, 0, KEY_WRITE, nullptr,
                                  &hKey, nullptr),
                  ERROR_SUCCESS);
        const DWORD one = 1;
        RegSetValueExW(hKey, u"RunMode", 0, REG_SZ, reinterpret_cast<const BYTE*>(&one), 4);
        RegCloseKey(hKey);
    }
    void TearDown() override {
        // The share's mount goes before the machine folder.
        WNetCancelConnection2W(u"Z:", CONNECT_UPDATE_PROFILE, TRUE);
        ::setenv("HOME", m_savedHome.c_str(), 1);
        ::unsetenv("WINLAYER_DEBUG");
        ::unsetenv("WINLAYER_LOGON");
    }

    static void SetText(const CString& strKey, LPCTSTR lpszName, const char16_t* text) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, strKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                       static_cast<DWORD>((std::char_traits<char16_t>::length(text) + 1) * 2));
        RegCloseKey(hKey);
    }
    std::string Errors() const {
        std::ifstream in(m_errors);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    static HWND FindMainDialog() {
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (GetPropW(hwnd, kInstanceProperty))
                return hwnd;
        return nullptr;
    }
    // The titles of the shown top-level windows, for a failure's message.
    static std::string Shown() {
        std::string all;
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
            char16_t text[256] = {};
            GetWindowTextW(hwnd, text, 256);
            if (IsWindowVisible(hwnd))
                all += "[" + platform::Utf16ToUtf8(text) + "] ";
        }
        return all;
    }
    static HWND WaitForShown(const char16_t* title) {
        HWND hwnd = nullptr;
        uitest::Eventually([&] { return (hwnd = FindWindowW(nullptr, title)) && IsWindowVisible(hwnd); }, kDeadline);
        return hwnd;
    }
    static std::u16string Connection(const char16_t* local) {
        WCHAR remote[MAX_PATH] = {};
        DWORD length = MAX_PATH;
        return WNetGetConnectionW(local, remote, &length) == ERROR_SUCCESS ? remote : u"";
    }
    bool RunEnded() const {
        for (const auto& item : apptest::ReadLogItems(u"K:\\Config\\CopyProgress.log"))
            if (item.m_strEntry.Find(u"Backup completed") == 0)
                return true;
        return false;
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_install, m_errors, m_source, m_home, m_share, m_savedHome;
};

TEST_F(NasE2E, AShareConnectedFromTheProgramsOwnDialogsTakesAnInstantBackup) {
    std::string why;
    ASSERT_TRUE(testsupport::EnterPrivateNetwork(why)) << why;
    testsupport::SambaServer server({{"Backup", m_share, false}}, "kovra", "s3cret");
    ASSERT_TRUE(server.Ready()) << server.Why();
    // The server answers the program's broadcast with its name.
    testsupport::DatagramResponder responder(8097, "127.0.0.1", [](const std::vector<uint8_t>&) {
        std::vector<uint8_t> answer(16, 0);
        for (const char* text : {"Storage-1", "Firmware 1.0"}) {
            answer.push_back(1);
            answer.push_back(static_cast<uint8_t>(std::strlen(text)));
            answer.insert(answer.end(), text, text + std::strlen(text));
        }
        return std::vector<std::vector<uint8_t>>{answer};
    });
    ASSERT_TRUE(responder.Ready());

    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    ASSERT_NE(resources, nullptr);
    const RECT user = ControlRect(resources, 1600, 1607), password = ControlRect(resources, 1600, 1609),
               connectOk = ControlRect(resources, 1600, IDOK), shares = ControlRect(resources, 1700, 1706),
               selectOk = ControlRect(resources, 1700, IDOK);
    FreeLibrary(resources);
    ASSERT_GT(shares.bottom, shares.top);

    // The user's files, selected whole, and the letter the share will get (the highest free one) as the
    // destination.
    const fs::path tree = fs::path(m_source) / "Project";
    auto write = [&](const fs::path& relative, const std::string& text) {
        fs::create_directories((tree / relative).parent_path());
        std::ofstream(tree / relative, std::ios::binary) << text;
    };
    write("readme.txt", "read me");
    write("src/main.cpp", "int main() { return 0; }\n");
    write("docs/name with spaces.txt", std::string(200000, 's'));
    fs::create_directories(tree / "empty");
    {
        std::string bytes = "\xFF\xFE";
        for (const std::u16string line : {u"#Version : 1.0.0", u"#Date : 2026/12/10", u"D\t1\tT:\\Project"})
            for (char16_t c : line + u"\r\n") {
                bytes += static_cast<char>(c & 0xFF);
                bytes += static_cast<char>(c >> 8);
            }
        std::ofstream(fs::path(m_install) / "Config" / "ManualBackup.rpr", std::ios::binary) << bytes;
    }
    SetText(u"Software\\VEVUVUV\\Kovra\\Express\\Backup", u"DestDrive", u"Z:");

    uitest::Xvfb display;
    ASSERT_FALSE(display.Display().empty()) << display.Error();
    XInput input(display.Display());
    ASSERT_TRUE(input.Connected());
    ::setenv("WINLAYER_DISPLAY", display.Display().c_str(), 1);
    auto kovra = std::make_unique<Kovra>(m_install + "/Kovra", m_errors);
    ::unsetenv("WINLAYER_DISPLAY");
    HWND main = nullptr, expert = nullptr;
    ASSERT_TRUE(uitest::Eventually(
        [&] {
            main = FindMainDialog();
            expert = FindWindowW(nullptr, u"Kovra - Expert Mode");
            return main && expert && IsWindowVisible(expert);
        },
        kDeadline))
        << Errors();
    // A click into a window once it has settled where it is shown (it is placed after it is mapped).
    auto click = [&](const char* title, const RECT& rc, POINT offset = {0, 0}) {
        int x = -1, y = -1;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                int x1 = 0, y1 = 0, x2 = 0, y2 = 0;
                if (!input.Origin(title, x1, y1))
                    return false;
                std::this_thread::sleep_for(100ms);
                if (!input.Origin(title, x2, y2) || x1 != x2 || y1 != y2)
                    return false;
                x = x2;
                y = y2;
                return true;
            },
            kDeadline))
            << title;
        const POINT at = Middle(rc);
        input.Click(x + at.x + offset.x, y + at.y + offset.y);
        // The program takes the click (and with it the keyboard's focus) in its own time; nothing tells the test.
        std::this_thread::sleep_for(500ms);
    };

    // "Mount NAS Share": the server found is chosen at once and its shares asked for, which wants a user first.
    ASSERT_TRUE(PostMessageW(expert, WM_COMMAND, MAKEWPARAM(IDC_MOUNT_NAS, BN_CLICKED), 0));
    HWND connect = WaitForShown(u"Connect");
    ASSERT_NE(connect, nullptr) << Errors();
    click("Connect", user);
    ASSERT_TRUE(input.Type("kovra"));
    click("Connect", password);
    ASSERT_TRUE(input.Type("s3cret"));
    click("Connect", connectOk);
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(connect); }, kDeadline)) << Shown() << Errors();

    // The share list holds the server's share: the user picks it and confirms; the Connect dialog comes with the
    // credentials the user gave and connects the share to the letter.
    HWND select = WaitForShown(u"Select NAS Servers");
    ASSERT_NE(select, nullptr);
    click("Select NAS Servers", shares, POINT{0, -(shares.bottom - shares.top) / 2 + 8});
    click("Select NAS Servers", selectOk);
    connect = WaitForShown(u"Connect");
    ASSERT_NE(connect, nullptr) << Shown() << Errors();
    click("Connect", connectOk);
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(select); }, kDeadline)) << Errors();
    EXPECT_EQ(Connection(u"Z:"), u"\\\\127.0.0.1\\Backup");

    // Instant Backup to the share's letter.
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_INSTANT_BACKUP, 0));
    HWND wizard = WaitForShown(u"Instant Backup Wizard");
    ASSERT_NE(wizard, nullptr) << Errors();
    ASSERT_TRUE(PostMessageW(wizard, WM_COMMAND, 12324, 0));
    ASSERT_TRUE(PostMessageW(wizard, WM_COMMAND, 12325, 0));
    HWND progress = nullptr;
    ASSERT_TRUE(
        uitest::Eventually([&] { return (progress = FindWindowW(nullptr, u"Instant Backup")) != nullptr; }, kDeadline))
        << Errors();
    ASSERT_TRUE(uitest::Eventually([&] { return RunEnded(); }, kDeadline)) << Errors();
    // The run's summary, which the user closes, then the dialog.
    HWND summary = nullptr;
    ASSERT_TRUE(uitest::Eventually(
        [&] {
            for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd && !summary;
                 hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
                char16_t text[64] = {};
                GetWindowTextW(hwnd, text, 64);
                if (hwnd != progress && std::u16string(text) == u"Instant Backup" && IsWindowVisible(hwnd))
                    summary = hwnd;
            }
            return summary != nullptr;
        },
        kDeadline))
        << Shown();
    ASSERT_TRUE(PostMessageW(summary, WM_COMMAND, IDOK, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(summary); }, kDeadline));
    ASSERT_TRUE(PostMessageW(progress, WM_COMMAND, IDCANCEL, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(progress); }, kDeadline));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0) << Errors();

    // The files are in the shared folder on the server's side, and the connection outlives the program.
    WCHAR userName[2048] = {}, computer[2048] = {};
    DWORD size = 2048;
    GetUserNameW(userName, &size);
    size = 2048;
    GetComputerNameW(computer, &size);
    const fs::path copy = fs::path(m_share) / "KovraData" /
                          (platform::Utf16ToUtf8(userName) + "@" + platform::Utf16ToUtf8(computer)) / "Disk T" /
                          "Project";
    const std::string runLog = [] {
        std::string all;
        for (const auto& item : apptest::ReadLogItems(u"K:\\Config\\CopyProgress.log"))
            all += platform::Utf16ToUtf8(item.m_strEntry.GetString()) + "\n";
        return all;
    }();
    ASSERT_TRUE(fs::is_directory(copy)) << runLog << Errors();
    const std::string differences = m_machine.Scratch("output") + "/diff.txt";
    const std::string diff = "diff -r '" + tree.string() + "' '" + copy.string() + "' > '" + differences + "' 2>&1";
    EXPECT_EQ(std::system(diff.c_str()), 0)
        << runLog << diff << "\n"
        << [&] {
               std::ifstream in(differences);
               return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
           }();
    EXPECT_EQ(Connection(u"Z:"), u"\\\\127.0.0.1\\Backup");
}

} // namespace
