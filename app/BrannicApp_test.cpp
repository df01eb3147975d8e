#include "app/BrannicApp.h"
#include "app/BrannicAppTestSupport.h"

#include "app/AppTestSupport.h"
#include "app/VyxMainDlg.h"
#include "engine/BackManager.h"
#include "workflows/ExpertModeDlg.h"

#include "platform/afx/ComboBox.h"
#include "platform/afx/ModuleState.h"
#include "platform/base/clock.h"
#include "platform/base/handle.h"
#include "platform/base/module.h"
#include "platform/base/sync.h"
#include "platform/fs/volumes.h"
#include "platform/registry/registry.h"
#include "platform/ui/menu.h"
#include "platform/ui/prompt_test_support.h"
#include "platform/ui/tray.h"
#include "platform/ui/ui_test_support.h"

#include <cstring>
#include <fstream>
#include <thread>

CTestBrannicApp theApp;

namespace {

constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";

class BrannicAppTest : public apptest::MachineTest {
protected:
    void SetUp() override {
        apptest::MachineTest::SetUp();
        platform::ui::SetDeadlockTimeout(120000);
        theApp.Reset();
        m_previousResources = AfxGetResourceHandle();
        // The program's own resources, built as a library for the tests.
        m_resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
        ASSERT_NE(m_resources, nullptr);
        AfxSetResourceHandle(m_resources);
        ::mkdir((m_drive.Root() + "/program").c_str(), 0755);
        ASSERT_TRUE(theApp.InitConfigFolder(u"T:\\program"));
    }
    void TearDown() override {
        AfxSetResourceHandle(m_previousResources);
        if (m_resources)
            FreeLibrary(m_resources);
    }

    void WriteMainIni(const std::string& lines) {
        m_drive.Write("program/Config/Main.ini", "[Main]\n" + lines);
        theApp.ReadMainIni();
    }
    static std::vector<CXMLLogItem> LogItems() {
        theApp.GetSystemLog().Save(TRUE);
        return apptest::ReadLogItems(u"T:\\program\\Config\\KovraSystem.log");
    }
    static LONG SetValue(LPCTSTR lpszName, DWORD dwType, const void* data, DWORD dwSize) {
        HKEY hKey = nullptr;
        LONG result = RegCreateKeyExW(HKEY_CURRENT_USER, kRootKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr);
        if (result != ERROR_SUCCESS)
            return result;
        result = RegSetValueExW(hKey, lpszName, 0, dwType, static_cast<const BYTE*>(data), dwSize);
        RegCloseKey(hKey);
        return result;
    }
    static bool GetValue(LPCTSTR lpszName, DWORD& dwType, std::vector<BYTE>& data) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, kRootKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
            return false;
        DWORD dwSize = 0;
        LONG result = RegQueryValueExW(hKey, lpszName, nullptr, &dwType, nullptr, &dwSize);
        data.resize(dwSize);
        if (result == ERROR_SUCCESS)
            result = RegQueryValueExW(hKey, lpszName, nullptr, &dwType, data.data(), &dwSize);
        RegCloseKey(hKey);
        return result == ERROR_SUCCESS;
    }

    HMODULE m_resources = nullptr;
    HINSTANCE m_previousResources = nullptr;
};

TEST_F(BrannicAppTest, MainIniSettingsAndTheirDefaults) {
    WriteMainIni("");
    CString strRoot;
    theApp.GetRootKey(strRoot);
    EXPECT_TRUE(strRoot == kRootKey);
    EXPECT_FALSE(theApp.IsDebugMode());
    CString strConfig;
    theApp.GetConfigPath(strConfig);
    EXPECT_TRUE(strConfig == u"T:\\program\\Config");
    EXPECT_TRUE(theApp.GetMainIniPath() == u"T:\\program\\Config\\Main.ini");

    const struct {
        const char* debugMode;
        BOOL on;
    } debugCases[] = {{"true", TRUE}, {"TRUE", TRUE}, {"True", TRUE}, {"yes", FALSE}, {"1", FALSE}};
    for (const auto& c : debugCases) {
        WriteMainIni(std::string("RootPath=Software\\Other\nDebugMode=") + c.debugMode + "\n");
        EXPECT_EQ(theApp.IsDebugMode(), c.on) << c.debugMode;
        theApp.GetRootKey(strRoot);
        EXPECT_TRUE(strRoot == u"Software\\Other");
    }

    const struct {
        const char* driveType;
        BOOL any;
    } driveCases[] = {{"1", TRUE}, {"10", TRUE}, {"0", FALSE}, {"", FALSE}, {"\" 1\"", FALSE}};
    for (const auto& c : driveCases) {
        WriteMainIni(std::string("DriveType=") + c.driveType + "\n");
        theApp.ReadDriveType();
        EXPECT_EQ(theApp.IsAnyDriveType(), c.any) << c.driveType;
    }
}

TEST_F(BrannicAppTest, ConsumeSwitchTakesOnlyWholeSwitches) {
    const struct {
        const char16_t* commandLine;
        BOOL found;
        const char16_t* rest;
    } cases[] = {
        {u"/otb", TRUE, u""},         {u"-otb", TRUE, u""},
        {u"x -otb y", TRUE, u"x  y"}, {u"/min/otb", FALSE, u"/min/otb"},
        {u"/otb/min", TRUE, u"/min"}, {u"/otbx", FALSE, u"/otbx"},
        {u"/OTB", FALSE, u"/OTB"},    {u"C:\\my-otb\\file", FALSE, u"C:\\my-otb\\file"},
        {u"otb", FALSE, u"otb"},      {u"", FALSE, u""},
    };
    for (const auto& c : cases) {
        std::u16string buffer = c.commandLine;
        EXPECT_EQ(CBrannicApp::ConsumeSwitch(buffer.data(), u"otb"), c.found) << platform::Utf16ToUtf8(c.commandLine);
        EXPECT_EQ(std::u16string(buffer.c_str()), c.rest) << platform::Utf16ToUtf8(c.commandLine);
    }
    // The switch is cut out, so it acts once.
    std::u16string buffer = u"/otb";
    EXPECT_TRUE(CBrannicApp::ConsumeSwitch(buffer.data(), u"otb"));
    EXPECT_FALSE(CBrannicApp::ConsumeSwitch(buffer.data(), u"otb"));
}

TEST_F(BrannicAppTest, CommandLineWordsCountOnlyAsTheWholeLine) {
    const struct {
        const char16_t* commandLine;
        BOOL ends;
        unsigned flags;
    } cases[] = {
        {u"/min", FALSE, kStartMinimized},
        {u"/MIN", FALSE, kStartMinimized},
        {u"/min /otb", FALSE, 0},
        {u"-min", FALSE, 0},
        {u"", FALSE, 0},
        {u"/removeexplorerzentraicon", TRUE, 0},
    };
    for (const auto& c : cases) {
        std::u16string buffer = c.commandLine;
        theApp.SetStartFlags(0);
        theApp.m_lpCmdLine = buffer.data();
        EXPECT_EQ(theApp.ProcessCommandLine(), c.ends) << platform::Utf16ToUtf8(c.commandLine);
        EXPECT_EQ(theApp.GetStartFlags(), c.flags) << platform::Utf16ToUtf8(c.commandLine);
    }
    theApp.m_lpCmdLine = nullptr;
}

TEST_F(BrannicAppTest, ConfigDiskAsksForTheEnclosureUntilCancelled) {
    std::u16string buffer = u"/CONFIGDISK";
    theApp.m_lpCmdLine = buffer.data();
    uitest::PromptScript script;
    script.Expect(platform::ui::PromptKind::MessageBox, u"Unable to detect the Kovra enclosure", IDOK)
        .Expect(platform::ui::PromptKind::MessageBox, u"Unable to detect the Kovra enclosure", IDCANCEL);
    EXPECT_TRUE(theApp.ProcessCommandLine());
    theApp.m_lpCmdLine = nullptr;
}

TEST_F(BrannicAppTest, GetFilterReadsTheUsersListAndNeverOverwritesWhatItCannotRead) {
    WriteMainIni("");
    CString strFilter;
    // No value yet: it is created empty.
    EXPECT_TRUE(theApp.GetFilter(strFilter));
    EXPECT_TRUE(strFilter.IsEmpty());
    DWORD dwType = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(GetValue(u"Filter", dwType, data));
    EXPECT_EQ(dwType, REG_SZ);
    EXPECT_EQ(data.size(), 2u);

    EXPECT_TRUE(theApp.SetFilter(u"*.tmp\t~*\t"));
    EXPECT_TRUE(theApp.GetFilter(strFilter));
    EXPECT_TRUE(strFilter == u"*.tmp\t~*\t");

    // The longest list that fits, with and without its terminator.
    const std::u16string longest(2048, u'a');
    ASSERT_EQ(SetValue(u"Filter", REG_SZ, longest.c_str(), 2048 * 2 + 2), ERROR_SUCCESS);
    EXPECT_TRUE(theApp.GetFilter(strFilter));
    EXPECT_EQ(strFilter.GetLength(), 2048);
    ASSERT_EQ(SetValue(u"Filter", REG_SZ, longest.c_str(), 2048 * 2), ERROR_SUCCESS);
    EXPECT_TRUE(theApp.GetFilter(strFilter));
    EXPECT_EQ(strFilter.GetLength(), 2048);

    // A list too long to read, and a value of another type, stay as they are and are reported.
    theApp.OpenSystemLog();
    const std::u16string tooLong(2049, u'b');
    const struct {
        DWORD type;
        const void* data;
        DWORD size;
    } unreadable[] = {{REG_SZ, tooLong.c_str(), 2049 * 2 + 2}, {REG_BINARY, "\x01\x02\x03", 3}};
    for (const auto& c : unreadable) {
        ASSERT_EQ(SetValue(u"Filter", c.type, c.data, c.size), ERROR_SUCCESS);
        EXPECT_FALSE(theApp.GetFilter(strFilter));
        EXPECT_TRUE(strFilter.IsEmpty());
        ASSERT_TRUE(GetValue(u"Filter", dwType, data));
        EXPECT_EQ(dwType, c.type);
        EXPECT_EQ(data.size(), c.size);
        EXPECT_EQ(std::memcmp(data.data(), c.data, c.size), 0);
    }
    const auto items = LogItems();
    ASSERT_EQ(items.size(), 2u);
    for (const auto& item : items) {
        EXPECT_EQ(item.m_chType, u'W');
        EXPECT_GE(item.m_strEntry.Find(u"\"Filter\""), 0);
    }
}

TEST_F(BrannicAppTest, RunModeIsReadByItsTypeAndOnlyEverChoosesExpertMode) {
    WriteMainIni("");
    const DWORD one = 1, zero = 0, two = 2, five = 5, three = 3;
    const struct {
        DWORD type;
        const void* data;
        DWORD size;
        unsigned expected;
    } cases[] = {
        {REG_SZ, &one, 4, kStartExpertMode},    // as the program writes it
        {REG_SZ, &zero, 4, 0},                  // the main menu
        {REG_SZ, u"1", 4, kStartExpertMode},    // the digit as text
        {REG_SZ, u"0", 4, 0},                   //
        {REG_DWORD, &one, 4, kStartExpertMode}, //
        {REG_DWORD, &two, 4, 0},                // would have started minimised
        {REG_SZ, &three, 4, 0},                 // would have hidden every dialog
        {REG_SZ, &five, 4, 0},                  //
        {REG_BINARY, "\x01", 1, 0},             // too short to hold a number
    };
    for (const auto& c : cases) {
        ASSERT_EQ(SetValue(u"RunMode", c.type, c.data, c.size), ERROR_SUCCESS);
        theApp.SetStartFlags(0);
        theApp.ReadRunMode();
        EXPECT_EQ(theApp.GetStartFlags(), c.expected) << "type " << c.type << ", case " << (&c - cases);
    }
    // "/min" and "RunMode" 1 together: both bits.
    ASSERT_EQ(SetValue(u"RunMode", REG_SZ, &one, 4), ERROR_SUCCESS);
    theApp.SetStartFlags(kStartMinimized);
    theApp.ReadRunMode();
    EXPECT_EQ(theApp.GetStartFlags(), kStartMinimized | kStartExpertMode);

    // What the program writes reads back.
    EXPECT_TRUE(theApp.WriteRunMode(0));
    theApp.SetStartFlags(0);
    theApp.ReadRunMode();
    EXPECT_EQ(theApp.GetStartFlags(), 0u);
    EXPECT_TRUE(theApp.WriteRunMode(1));
    theApp.ReadRunMode();
    EXPECT_EQ(theApp.GetStartFlags(), kStartExpertMode);
}

TEST_F(BrannicAppTest, LanguageLibraryFromLangFileOrTheBuiltInEnglish) {
    // The test program's folder (B:) holds "Lang\0x0407.dll", the German library of the program.
    EXPECT_TRUE(CTestBrannicApp::IsValidLangFileName(u"0x0411.DLL"));
    EXPECT_FALSE(CTestBrannicApp::IsValidLangFileName(u"japanese.dll"));
    EXPECT_FALSE(CTestBrannicApp::IsValidLangFileName(u"0x411.dll"));
    theApp.OpenSystemLog();

    WriteMainIni("LangFile=0x0407.DLL\n");
    theApp.LoadLanguageLibrary(u"B:");
    ASSERT_NE(theApp.LanguageLibrary(), nullptr);
    EXPECT_EQ(AfxGetResourceHandle(), theApp.LanguageLibrary());
    CString strText;
    strText.LoadString(5024);
    EXPECT_TRUE(strText == u"Kovra wurde erfolgreich gestartet.");

    // "0x0409.dll" is the built-in English; a name that is no library name is reported and the detected language
    // (English here) is used; a library that is not there is noted for debugging.
    const struct {
        const char* langFile;
        const char16_t* logged;
        WCHAR type;
    } cases[] = {
        {"0x0409.dll", nullptr, 0},
        {"japanese.dll",
         u"User uses main.ini to define language library(japanese.dll) but the string seems like an "
         u"invalid language file string.",
         u'W'},
        {"0x0411.dll",
         u"User uses main.ini to define lang(0x0411.dll) but load failed(strLangFileName = "
         u"B:\\Lang\\0x0411.dll, GetLastError = ",
         u'D'},
    };
    for (const auto& c : cases) {
        AfxSetResourceHandle(m_resources);
        theApp.GetSystemLog().Clear();
        WriteMainIni(std::string("LangFile=") + c.langFile + "\n");
        theApp.LoadLanguageLibrary(u"B:");
        EXPECT_EQ(AfxGetResourceHandle(), m_resources) << c.langFile;
        const auto items = LogItems();
        if (!c.logged) {
            EXPECT_TRUE(items.empty()) << c.langFile;
            continue;
        }
        ASSERT_EQ(items.size(), 1u) << c.langFile;
        EXPECT_EQ(items[0].m_chType, c.type);
        EXPECT_EQ(items[0].m_strEntry.Find(c.logged), 0) << platform::Utf16ToUtf8(items[0].m_strEntry.Str());
    }
}

TEST_F(BrannicAppTest, DestinationDriveCombos) {
    // T: is a fixed drive; with "DriveType" 1 any fixed or network drive may be a destination.
    platform::fs::DriveInfo other;
    other.letter = u'R';
    other.hostRoot = m_machine.Scratch("removable");
    other.kind = platform::fs::DriveKind::Removable;
    ASSERT_TRUE(platform::fs::SetDrive(other));
    CWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"parent", WS_POPUP, 0, 0, 200, 200, nullptr, nullptr));
    CComboBox combo;
    ASSERT_TRUE(combo.Create(CBS_DROPDOWNLIST | WS_CHILD, RECT{0, 0, 100, 100}, &parent, 1));

    // Without "DriveType" 1 only the enclosure's disks may serve, and there is none.
    WriteMainIni("");
    theApp.ReadDriveType();
    EXPECT_FALSE(theApp.AddDriveToCombo(&combo, u"T:", TRUE));
    EXPECT_EQ(combo.GetCount(), 0);
    CString strDrive;
    EXPECT_EQ(theApp.GetSelectedDrive(&combo, strDrive, nullptr, FALSE), 0);

    WriteMainIni("DriveType=1\n");
    theApp.ReadDriveType();
    EXPECT_FALSE(theApp.AddDriveToCombo(&combo, u"1:", TRUE)); // no drive letter
    EXPECT_FALSE(theApp.AddDriveToCombo(&combo, u"R:", TRUE)); // removable
    EXPECT_FALSE(theApp.AddDriveToCombo(&combo, u"Q:", TRUE)); // no such drive
    ASSERT_TRUE(theApp.AddDriveToCombo(&combo, u"T:", FALSE));
    ASSERT_TRUE(theApp.AddDriveToCombo(&combo, u"B:\\", FALSE));
    ASSERT_EQ(combo.GetCount(), 2);
    // T: has no label yet.
    CString strItem;
    combo.GetLBText(0, strItem);
    EXPECT_TRUE(strItem == u" (T:)") << platform::Utf16ToUtf8(strItem.Str());
    EXPECT_EQ(combo.GetItemData(0), 19u);

    // Nothing selected: the last item is taken.
    CPhysicalDrive* pPhysical = reinterpret_cast<CPhysicalDrive*>(1);
    EXPECT_EQ(theApp.GetSelectedDrive(&combo, strDrive, &pPhysical, TRUE), 1);
    EXPECT_TRUE(strDrive == u"B:\\");
    EXPECT_EQ(pPhysical, nullptr);
    theApp.SelectDriveInCombo(&combo, u"T:");
    EXPECT_EQ(theApp.GetSelectedDrive(&combo, strDrive, nullptr, FALSE), 1);
    EXPECT_TRUE(strDrive == u"T:");

    // A drive added again replaces its item, with the fresh label.
    ASSERT_EQ(SetVolumeLabelW(u"T:\\", u"Backups"), TRUE);
    ASSERT_TRUE(theApp.AddDriveToCombo(&combo, u"T:\\", TRUE));
    ASSERT_EQ(combo.GetCount(), 2);
    combo.GetLBText(combo.GetCurSel(), strItem);
    EXPECT_TRUE(strItem == u"Backups (T:\\)");

    EXPECT_TRUE(theApp.RemoveDriveFromCombo(&combo, u"B:"));
    EXPECT_FALSE(theApp.RemoveDriveFromCombo(&combo, u"B:"));
    EXPECT_EQ(combo.GetCount(), 1);
    EXPECT_EQ(combo.GetCurSel(), 0);
    combo.DestroyWindow();
    parent.DestroyWindow();
}

TEST_F(BrannicAppTest, RemoveAllZentraIconRegRemovesOnlyTheProgramsEntries) {
    const CString strIcons = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
    EXPECT_EQ(theApp.RemoveAllZentraIconReg(), 1);
    WCHAR modulePath[2048] = {};
    GetModuleFileNameW(nullptr, modulePath, 2048);
    auto setDefault = [&](LPCTSTR lpszKey, const CString& strValue) {
        HKEY hKey = nullptr;
        ASSERT_EQ(
            RegCreateKeyExW(HKEY_LOCAL_MACHINE, strIcons + lpszKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
            ERROR_SUCCESS);
        RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.GetString()),
                       (strValue.GetLength() + 1) * 2);
        RegCloseKey(hKey);
    };
    setDefault(u"\\E\\DefaultLabel", u"Kovra Secure Disk");
    setDefault(u"\\E\\DefaultIcon", CString(modulePath) + u",1");
    setDefault(u"\\F\\DefaultLabel", u"Kovra Public Disk");
    setDefault(u"\\F\\DefaultIcon", CString(modulePath) + u",2");
    setDefault(u"\\G\\DefaultLabel", u"Camera");
    setDefault(u"\\G\\DefaultIcon", u"C:\\Camera\\camera.exe,0");
    // Another program's icon on a letter that carries the program's label keeps the letter.
    setDefault(u"\\H\\DefaultLabel", u"Kovra Public Disk");
    setDefault(u"\\H\\DefaultIcon", u"C:\\Other\\other.exe,0");

    EXPECT_EQ(theApp.RemoveAllZentraIconReg(), 0);
    auto exists = [&](LPCTSTR lpszKey) {
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, strIcons + lpszKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return false;
        RegCloseKey(hKey);
        return true;
    };
    EXPECT_FALSE(exists(u"\\E"));
    EXPECT_FALSE(exists(u"\\F"));
    EXPECT_TRUE(exists(u"\\G\\DefaultLabel"));
    EXPECT_TRUE(exists(u"\\G\\DefaultIcon"));
    EXPECT_FALSE(exists(u"\\H\\DefaultLabel"));
    EXPECT_TRUE(exists(u"\\H\\DefaultIcon"));
}

// A window of "the running instance", made once the second start has begun to wait for it.
struct HandOverWindow {
    static LRESULT Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
        if (msg == WM_TRAY_NOTIFY) {
            s_wParam = wParam;
            s_lParam = lParam;
            return 0;
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    static void Appear(void* context) {
        auto* self = static_cast<HandOverWindow*>(context);
        if (self->hwnd || ++self->ticks < 5)
            return;
        self->hwnd = CreateWindowExW(0, u"HandOverTest", u"running", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr,
                                     nullptr, nullptr, nullptr);
        SetPropW(self->hwnd, KOVRA_INSTANCE_NAME, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(1)));
    }
    HWND hwnd = nullptr;
    int ticks = 0;
    static inline WPARAM s_wParam = 0;
    static inline LPARAM s_lParam = 0;
};

TEST_F(BrannicAppTest, ASecondStartDuringTheFirstOnesStartUpWaitsForItsWindowAndHandsOver) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = HandOverWindow::Proc;
    wc.lpszClassName = u"HandOverTest";
    RegisterClassExW(&wc);
    platform::clock::UseManualClock(platform::clock::Now());

    // The first instance holds the semaphore but has no window yet; it appears half a second later.
    HANDLE hFirst = CreateSemaphoreW(nullptr, 1, 1, KOVRA_INSTANCE_NAME);
    ASSERT_NE(hFirst, nullptr);
    HandOverWindow first;
    const int listener = platform::clock::AddClockListener(&HandOverWindow::Appear, &first);
    EXPECT_FALSE(theApp.HandOverToRunningInstance());
    platform::clock::RemoveClockListener(listener);
    ASSERT_NE(first.hwnd, nullptr);
    EXPECT_EQ(HandOverWindow::s_wParam, 1u);
    EXPECT_EQ(HandOverWindow::s_lParam, static_cast<LPARAM>(WM_LBUTTONDBLCLK));
    DestroyWindow(first.hwnd);

    // The first instance ends during the wait without a window: this start carries on as the first one.
    HandOverWindow::s_wParam = 0;
    struct Ender {
        static void End(void* context) {
            auto* handle = static_cast<HANDLE*>(context);
            if (*handle) {
                CloseHandle(*handle);
                *handle = nullptr;
            }
        }
    };
    const int ender = platform::clock::AddClockListener(&Ender::End, &hFirst);
    EXPECT_TRUE(theApp.HandOverToRunningInstance());
    platform::clock::RemoveClockListener(ender);
    EXPECT_EQ(HandOverWindow::s_wParam, 0u);
    platform::clock::UseRealClock();
}

// The main loop runs until the tray menu's Exit, with every dialog and agent the start-up makes.
TEST_F(BrannicAppTest, MainLoopShowsTheStartDialogAndShutsDownFromTheTrayMenu) {
    WriteMainIni("");
    theApp.OpenSystemLog();
    const struct {
        unsigned flags;
        bool mainShown;
        bool expertShown;
        bool currentIsExpert;
    } cases[] = {
        {0, true, false, false},
        {kStartExpertMode, false, true, true},
        {kStartMinimized, false, false, false},
        {kStartMinimized | kStartExpertMode, false, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        theApp.SetStartFlags(c.flags);
        std::vector<platform::ui::MenuHookInfo::Item> items;
        platform::ui::SetMenuHook([&items](HMENU, const platform::ui::MenuHookInfo& info) {
            items = info.items;
            return info.FindCommand(u"Exit");
        });
        std::thread user([&] {
            CWnd* pMain = nullptr;
            // The start-up is done once the main menu's timer found the Expert Mode dialog initialised. (The
            // flag is read from this thread while the loop runs; it only ever goes from FALSE to TRUE.)
            ASSERT_TRUE(uitest::Eventually([&] {
                pMain = theApp.GetMainDlg();
                return pMain && pMain->GetSafeHwnd() && static_cast<VyxMainDlg*>(pMain)->IsStartupDone();
            }));
            const HWND hMain = pMain->GetSafeHwnd();
            EXPECT_EQ(IsWindowVisible(hMain) != FALSE, c.mainShown);
            EXPECT_EQ(IsWindowVisible(theApp.GetExpertDlg()->GetSafeHwnd()) != FALSE, c.expertShown);
            EXPECT_EQ(theApp.GetCurrentDialog() == theApp.GetExpertDlg(), c.currentIsExpert);
            // The tray icon with its tip, whatever was shown.
            platform::ui::TrayIcon icon;
            ASSERT_TRUE(platform::ui::FindTrayIcon(hMain, 1, &icon));
            EXPECT_EQ(icon.tip, u"Kovra");
            EXPECT_EQ(icon.callbackMessage, WM_TRAY_NOTIFY);
            EXPECT_NE(icon.icon, nullptr);
            // A double-click on the icon brings the current dialog back.
            ASSERT_TRUE(platform::ui::SendTrayMessage(hMain, 1, WM_LBUTTONDBLCLK));
            EXPECT_TRUE(IsWindowVisible(theApp.GetCurrentDialog()->GetSafeHwnd()));
            ASSERT_TRUE(platform::ui::SendTrayMessage(hMain, 1, WM_RBUTTONDOWN));
        });
        EXPECT_EQ(theApp.RunMainLoop(), 0);
        user.join();
        // The main window's end posted the quit that ends the program; the next round starts without it.
        MSG quit{};
        while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
        }
        platform::ui::SetMenuHook(nullptr);

        // The tray menu as the resources give it, every command available while nothing runs.
        std::vector<std::pair<std::u16string, bool>> shown;
        for (const auto& item : items)
            if (!item.separator)
                shown.emplace_back(item.text, (item.state & MF_GRAYED) != 0);
        const std::vector<std::pair<std::u16string, bool>> expected = {
            {u"Open Kovra", false},  {u"Instant Backup", false},    {u"Instant Restore", false},
            {u"Expert Mode", false}, {u"Manage Secure Disk", false}, {u"Exit", false}};
        EXPECT_EQ(shown, expected);

        // Everything the loop made is gone, and the manager lists none of the destroyed agents.
        EXPECT_EQ(theApp.GetMainDlg(), nullptr);
        EXPECT_EQ(theApp.GetExpertDlg(), nullptr);
        EXPECT_EQ(theApp.GetBackManager()->GetAgentCount(), 0);
        EXPECT_TRUE(platform::ui::TrayIcons().empty());
    }
    const auto items = LogItems();
    ASSERT_EQ(items.size(), 8u);
    for (size_t i = 0; i < items.size(); ++i) {
        EXPECT_EQ(items[i].m_chType, u'I');
        EXPECT_TRUE(items[i].m_strEntry ==
                    (i % 2 == 0 ? u"Start Kovra successfully." : u"Shut down Kovra successfully."));
    }
}

// The main menu: its banner, its four round buttons, the about item, and the tray icon animated while copies run.
TEST_F(BrannicAppTest, MainMenuShowsItsPictureAndButtonsAndAnimatesTheTrayWhileCopiesRun) {
    WriteMainIni("");
    theApp.OpenSystemLog();
    theApp.SetStartFlags(kStartMinimized);
    std::thread user([&] {
        VyxMainDlg* pMain = nullptr;
        ASSERT_TRUE(uitest::Eventually([&] {
            pMain = static_cast<VyxMainDlg*>(theApp.GetMainDlg());
            return pMain && pMain->GetSafeHwnd() && pMain->IsStartupDone();
        }));
        const HWND hMain = pMain->GetSafeHwnd();
        // The banner replaced its placeholder, at its natural size.
        CPictureWnd& picture = pMain->GetPicture();
        ASSERT_NE(picture.GetSafeHwnd(), nullptr);
        EXPECT_EQ(picture.GetDlgCtrlID(), 2309);
        EXPECT_EQ(picture.GetBitmapSize(), CSize(405, 48));
        // Four owner-drawn round buttons with their captions; the ones whose dialogs are to come are greyed.
        const struct {
            int id;
            const char16_t* caption;
            bool enabled;
        } buttons[] = {{2310, u"Instant Backup", true},
                       {2311, u"Instant Restore", VyxMainDlg::IsCommandAvailable(2311) != FALSE},
                       {2312, u"Expert Mode", true},
                       {2313, u"System Settings", VyxMainDlg::IsCommandAvailable(2313) != FALSE}};
        for (const auto& b : buttons) {
            CRoundButton* pButton = pMain->GetButton(b.id);
            ASSERT_NE(pButton, nullptr);
            ASSERT_EQ(::GetDlgItem(hMain, b.id), pButton->GetSafeHwnd());
            CString caption;
            pButton->GetWindowText(caption);
            EXPECT_EQ(caption, CString(b.caption));
            EXPECT_EQ(pButton->GetStyle() & 0x0F, static_cast<DWORD>(BS_OWNERDRAW));
            EXPECT_TRUE(pButton->IsRounded());
            EXPECT_EQ(pButton->IsWindowEnabled() != FALSE, b.enabled) << b.id;
            COLORREF color = 0;
            pButton->GetStateColor(CPictureButton::BTNST_COLOR_BK_OUT, &color);
            EXPECT_EQ(color, RGB(255, 255, 255));
            pButton->GetStateColor(CPictureButton::BTNST_COLOR_FG_OUT, &color);
            EXPECT_EQ(color, RGB(128, 128, 128));
        }
        // The about box on the system menu.
        HMENU hSysMenu = GetSystemMenu(hMain, FALSE);
        ASSERT_NE(hSysMenu, nullptr);
        EXPECT_NE(GetMenuState(hSysMenu, 0x10, MF_BYCOMMAND), static_cast<UINT>(-1));

        // Two backups and a restore: the restore's animation; then the backups'; then the still icon. Ends that
        // were never started keep the counts at 0.
        platform::ui::TrayIcon icon;
        ASSERT_TRUE(platform::ui::FindTrayIcon(hMain, 1, &icon));
        const HICON still = icon.icon;
        auto frame = [&] {
            ::SendMessageW(hMain, WM_TIMER, kTrayAnimationTimer, 0);
            platform::ui::TrayIcon now;
            EXPECT_TRUE(platform::ui::FindTrayIcon(hMain, 1, &now));
            return now.icon;
        };
        EXPECT_EQ(::SendMessageW(hMain, WM_USER + 1000, 1, 1), 1);
        EXPECT_EQ(::SendMessageW(hMain, WM_USER + 1000, 1, 1), 1);
        EXPECT_EQ(::SendMessageW(hMain, WM_USER + 1000, 2, 1), 1);
        EXPECT_EQ(pMain->GetRunningBackups(), 2);
        EXPECT_EQ(pMain->GetRunningRestores(), 1);
        const HICON restoring = frame();
        EXPECT_NE(restoring, still);
        ::SendMessageW(hMain, WM_USER + 1000, 2, 0);
        const HICON backingUp = frame();
        EXPECT_NE(backingUp, still);
        EXPECT_NE(backingUp, restoring);
        for (int i = 0; i < 3; ++i)
            ::SendMessageW(hMain, WM_USER + 1000, 1, 0);
        ::SendMessageW(hMain, WM_USER + 1000, 2, 0);
        EXPECT_EQ(pMain->GetRunningBackups(), 0);
        EXPECT_EQ(pMain->GetRunningRestores(), 0);
        ASSERT_TRUE(platform::ui::FindTrayIcon(hMain, 1, &icon));
        EXPECT_EQ(icon.icon, still);
        ::PostMessageW(hMain, WM_COMMAND, 32774, 0);
    });
    EXPECT_EQ(theApp.RunMainLoop(), 0);
    user.join();
    MSG quit{};
    while (PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) {
    }
}

} // namespace
