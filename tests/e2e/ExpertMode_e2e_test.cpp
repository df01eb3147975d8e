// The Expert Mode dialog of the real program: "RunMode" 1 starts the program in it; the main menu's System Settings
// shows its System page and a click on a tab (on the test's own X display) shows that tab's page; the tab the user
// had is kept for the next start; and an Instant Backup from the Expert Mode's page lands the selected tree in the
// set on the destination drive.
#include "app/AppTestSupport.h"

#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/res/resources.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/dialog.h"
#include "platform/ui/imagelist.h"
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
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace {

using namespace e2e;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr int IDC_SYSTEM_SETTINGS = 2313;

// Where the program's Expert Mode dialog has the middle of a tab and of the Instant Backup page's "Start Backup"
// button, in client coordinates: the dialog built here from the program's own template, with the tabs the program
// gives it.
struct ExpertLayout {
    POINT tabs[5] = {};
    POINT startBackup = {};
    bool ok = false;
};

ExpertLayout MeasureExpertDialog(HMODULE resources) {
    ExpertLayout layout;
    HWND dlg = CreateDialogParamW(resources, MAKEINTRESOURCEW(900), nullptr, QuietDialogProc, 0);
    if (!dlg)
        return layout;
    HWND tab = GetDlgItem(dlg, 908);
    HIMAGELIST images = ImageList_Create(16, 16, ILC_COLOR32, 0, 1);
    for (UINT icon : {519u, 520u, 521u, 522u, 518u})
        ImageList_AddIcon(images, LoadIconW(resources, MAKEINTRESOURCEW(icon)));
    SendMessageW(tab, TCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(images));
    // Built as the program builds them: System first, each new tab in front.
    const struct {
        UINT text;
        int image;
    } built[] = {{904, 4}, {902, 3}, {901, 2}, {905, 1}, {903, 0}};
    for (const auto& b : built) {
        WCHAR text[64] = {};
        LoadStringW(resources, b.text, text, 64);
        TCITEMW item{};
        item.mask = TCIF_TEXT | TCIF_IMAGE | TCIF_PARAM;
        item.pszText = text;
        item.iImage = b.image;
        SendMessageW(tab, TCM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
    }
    RECT tabRect{};
    GetWindowRect(tab, &tabRect);
    POINT tabOrigin{tabRect.left, tabRect.top};
    ScreenToClient(dlg, &tabOrigin);
    layout.ok = true;
    for (int i = 0; i < 5; ++i) {
        RECT rc{};
        layout.ok = layout.ok && SendMessageW(tab, TCM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&rc));
        layout.tabs[i] = POINT{tabOrigin.x + (rc.left + rc.right) / 2, tabOrigin.y + (rc.top + rc.bottom) / 2};
    }
    // The page stands at (1, 98); the button's place in the page's template.
    RECT button{334, 180, 334 + 80, 180 + 14};
    MapDialogRect(dlg, &button);
    layout.startBackup = POINT{1 + (button.left + button.right) / 2, 98 + (button.top + button.bottom) / 2};
    DestroyWindow(dlg);
    ImageList_Destroy(images);
    return layout;
}

class ExpertModeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("WINLAYER_DEBUG", "1", 1);
        m_install = m_machine.Scratch("Kovra");
        e2e::InstallProgram(m_install);
        m_errors = m_machine.Scratch("output") + "/stderr.txt";
        m_source = m_machine.Scratch("data");
        m_home = m_machine.Scratch("home");
        m_target = m_machine.Scratch("target");
        for (const auto& [letter, root] : {std::pair{u'K', m_install}, std::pair{u'T', m_source},
                                           std::pair{u'C', m_home}, std::pair{u'U', m_target},
                                           std::pair{u'B', apptest::ExeFolder()}}) {
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
        // "RunMode" 1 as the program writes it: the four bytes of the integer as REG_SZ data.
        const DWORD one = 1;
        SetValue(kRootKey, u"RunMode", REG_SZ, &one, 4);
    }
    void TearDown() override {
        ::setenv("HOME", m_savedHome.c_str(), 1);
        ::unsetenv("WINLAYER_DEBUG");
    }

    static void SetValue(const CString& strKey, LPCTSTR lpszName, DWORD dwType, const void* data, DWORD dwSize) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, strKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, dwType, static_cast<const BYTE*>(data), dwSize);
        RegCloseKey(hKey);
    }
    static DWORD StoredCurPage() {
        HKEY hKey = nullptr;
        DWORD dwPage = 0xFFFFFFFF;
        DWORD dwSize = 4;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, CString(kRootKey) + u"\\Expert", 0, KEY_READ, &hKey) == ERROR_SUCCESS) {
            RegQueryValueExW(hKey, u"CurPage", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwPage), &dwSize);
            RegCloseKey(hKey);
        }
        return dwPage;
    }
    std::unique_ptr<Kovra> Start() { return std::make_unique<Kovra>(m_install + "/Kovra", m_errors); }
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
    // The top-level windows of that title other than `except`.
    static HWND FindOther(const char16_t* title, HWND except) {
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
            char16_t text[256] = {};
            GetWindowTextW(hwnd, text, 256);
            if (hwnd != except && std::u16string(text) == title && IsWindowVisible(hwnd))
                return hwnd;
        }
        return nullptr;
    }
    // The started program shows the Expert Mode dialog, not the main menu; both are returned.
    void WaitForExpertMode(HWND& main, HWND& expert) {
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                main = FindMainDialog();
                expert = FindWindowW(nullptr, u"Kovra - Expert Mode");
                return main && expert && IsWindowVisible(expert);
            },
            kDeadline))
            << Errors();
        EXPECT_FALSE(IsWindowVisible(main));
    }
    void Exit(HWND main, Kovra& kovra) {
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
        EXPECT_EQ(kovra.Wait(), 0) << Errors();
    }
    // Runs the program on an X display of the test's own.
    struct Display {
        uitest::Xvfb server;
        std::unique_ptr<XInput> pointer;
        std::string previous;
        bool had = false;
    };
    std::unique_ptr<Display> OpenDisplay() {
        auto display = std::make_unique<Display>();
        if (display->server.Display().empty())
            return display;
        display->pointer = std::make_unique<XInput>(display->server.Display());
        const char* before = std::getenv("WINLAYER_DISPLAY");
        display->had = before != nullptr;
        display->previous = before ? before : "";
        ::setenv("WINLAYER_DISPLAY", display->server.Display().c_str(), 1);
        return display;
    }
    static void LeaveDisplay(const Display& display) {
        if (display.had)
            ::setenv("WINLAYER_DISPLAY", display.previous.c_str(), 1);
        else
            ::unsetenv("WINLAYER_DISPLAY");
    }
    // A click at a point of the Expert Mode dialog's client area, on the display.
    static bool ClickExpert(const XInput& pointer, POINT pt) {
        int x = 0, y = 0;
        if (!uitest::Eventually([&] { return pointer.Origin("Kovra - Expert Mode", x, y); }, kDeadline))
            return false;
        pointer.Click(x + pt.x, y + pt.y);
        return true;
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_install, m_errors, m_source, m_home, m_target, m_savedHome;
};

TEST_F(ExpertModeTest, RunModeOneStartsInExpertModeAndSystemSettingsShowsTheSystemPage) {
    auto kovra = Start();
    HWND main = nullptr, expert = nullptr;
    WaitForExpertMode(main, expert);
    ASSERT_NE(main, nullptr);
    // No page was stored: the first tab. The main menu's System Settings shows the System page (ShowPage 4), and
    // the tab is kept for the next start.
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_SYSTEM_SETTINGS, BN_CLICKED), 0));
    Exit(main, *kovra);
    EXPECT_EQ(StoredCurPage(), 4u);
    // "RunMode" stays 1: the next start is in Expert Mode again, on the System page.
    auto again = Start();
    WaitForExpertMode(main, expert);
    ASSERT_NE(main, nullptr);
    Exit(main, *again);
    EXPECT_EQ(StoredCurPage(), 4u);
}

TEST_F(ExpertModeTest, TheInstantBackupTabShowsItsPageWhoseBackupLandsTheTreeInTheSet) {
    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    ASSERT_NE(resources, nullptr);
    const ExpertLayout layout = MeasureExpertDialog(resources);
    FreeLibrary(resources);
    ASSERT_TRUE(layout.ok);

    // A tree of the user's files, selected whole in "ManualBackup.rpr"; the last destination U:.
    const fs::path tree = fs::path(m_source) / "Project";
    auto write = [&](const fs::path& relative, const std::string& text) {
        fs::create_directories((tree / relative).parent_path());
        std::ofstream(tree / relative, std::ios::binary) << text;
    };
    write("readme.txt", "read me");
    write("src/main.cpp", "int main() { return 0; }\n");
    write("src/lib/util.h", "#pragma once\n");
    write("docs/name with spaces.txt", "spaces");
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
    SetValue(CString(kRootKey) + u"\\Expert\\Backup", u"DestDrive", REG_SZ, u"U:", 6);
    const DWORD serial = 0x100u + u'U';
    SetValue(CString(kRootKey) + u"\\Expert\\Backup", u"DestSerialNo", REG_DWORD, &serial, 4);
    // The System page was the last one shown.
    const DWORD systemTab = 4;
    SetValue(CString(kRootKey) + u"\\Expert", u"CurPage", REG_DWORD, &systemTab, 4);

    auto display = OpenDisplay();
    if (!display->pointer || !display->pointer->Connected())
        FAIL() << "no X display for the test: " << display->server.Error();
    auto kovra = Start();
    LeaveDisplay(*display);
    HWND main = nullptr, expert = nullptr;
    WaitForExpertMode(main, expert);
    ASSERT_NE(main, nullptr);

    // A click on the "Instant Backup" tab shows its page, and "Start Backup" there starts the backup: only that
    // page has the button at that place. (A click that came before the dialog could take it is made again.)
    HWND progress = nullptr;
    for (int attempt = 0; attempt < 4 && !progress; ++attempt) {
        ASSERT_TRUE(ClickExpert(*display->pointer, layout.tabs[2]));
        ASSERT_TRUE(ClickExpert(*display->pointer, layout.startBackup));
        uitest::Eventually(
            [&] { return (progress = FindWindowW(nullptr, u"Instant Backup")) && IsWindowVisible(progress); }, 20s);
    }
    ASSERT_NE(progress, nullptr) << Errors();
    // The run ends with its summary, which the user closes, then the dialog.
    const std::string setRoot = [&] {
        WCHAR user[2048] = {}, computer[2048] = {};
        DWORD size = 2048;
        GetUserNameW(user, &size);
        size = 2048;
        GetComputerNameW(computer, &size);
        return m_target + "/KovraData/" + platform::Utf16ToUtf8(user) + "@" + platform::Utf16ToUtf8(computer) +
               "/Disk T";
    }();
    HWND summary = nullptr;
    ASSERT_TRUE(uitest::Eventually([&] { return (summary = FindOther(u"Instant Backup", progress)) != nullptr; },
                                   kDeadline))
        << Errors();
    ASSERT_TRUE(PostMessageW(summary, WM_COMMAND, IDOK, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(summary); }, kDeadline));
    ASSERT_TRUE(PostMessageW(progress, WM_COMMAND, IDCANCEL, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(progress); }, kDeadline));
    Exit(main, *kovra);
    // The tab the user clicked is kept.
    EXPECT_EQ(StoredCurPage(), 2u);

    const fs::path copy = fs::path(setRoot) / "Project";
    ASSERT_TRUE(fs::is_directory(copy)) << Errors();
    const std::string diff = "diff -r '" + tree.string() + "' '" + copy.string() + "'";
    EXPECT_EQ(std::system(diff.c_str()), 0) << diff;
    EXPECT_TRUE(fs::is_directory(copy / "empty"));
}

} // namespace
