// Auto-Backup and Schedule Backup in the real program: Auto-Backup started from its page in the Expert Mode dialog
// mirrors created, changed, renamed, moved and deleted files and folders (a burst of new files and the rename of a
// folder holding many among them) until the set equals the source, files matching the filter left out, and its log
// lists the actions; a daily schedule resumed at start runs one backup at its time; a run missed while the program
// was not running is offered at the next start and runs once; the end of the session ends the program with a run's
// dialog still open.
#include "app/AppTestSupport.h"

#include "platform/base/clock.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/fs/paths.h"
#include "platform/registry/registry.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/controls.h"
#include "platform/ui/message.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"
#include "platform/ui/xvfb_test_support.h"
#include "platform/res/resources.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/dialog.h"
#include "platform/ui/imagelist.h"
#include "platform/base/module.h"

#include "E2eSupport.h"

#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <ctime>
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

// Where the program's Expert Mode dialog has the middle of the Auto-Backup tab and of its page's start button, in
// client coordinates: the dialog built here from the program's own template, with the tabs the program gives it.
struct MonitorLayout {
    POINT tab = {};
    POINT start = {};
    bool ok = false;
};

MonitorLayout MeasureExpertDialog(HMODULE resources) {
    MonitorLayout layout;
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
    RECT rc{};
    layout.ok = SendMessageW(tab, TCM_GETITEMRECT, 0, reinterpret_cast<LPARAM>(&rc)) != 0;
    layout.tab = POINT{tabOrigin.x + (rc.left + rc.right) / 2, tabOrigin.y + (rc.top + rc.bottom) / 2};
    // The page stands at (1, 98); the button's place in the page's template.
    RECT button{10, 158, 10 + 100, 158 + 14};
    MapDialogRect(dlg, &button);
    layout.start = POINT{1 + (button.left + button.right) / 2, 98 + (button.top + button.bottom) / 2};
    DestroyWindow(dlg);
    ImageList_Destroy(images);
    return layout;
}

void Write(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// A selection file that selects one folder whole.
void WriteSelection(const fs::path& path, const std::u16string& folder) {
    std::string bytes = "\xFF\xFE";
    for (const std::u16string& line : {std::u16string(u"#Version : 1.0.0"), std::u16string(u"#Date : 2026/12/10"),
                                      u"D\t1\t" + folder})
        for (char16_t c : line + u"\r\n") {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
    std::ofstream(path, std::ios::binary) << bytes;
}

class AutoBackupTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("WINLAYER_DEBUG", "1", 1);
        // The program waits for its schedule with nothing to do, longer than the test run's guard against a
        // blocked message loop allows.
        const char* guard = std::getenv("WINLAYER_DEADLOCK_TIMEOUT_MS");
        m_hadGuard = guard != nullptr;
        m_savedGuard = guard ? guard : "";
        ::setenv("WINLAYER_DEADLOCK_TIMEOUT_MS", "600000", 1);
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
        const DWORD one = 1;
        SetValue(kRootKey, u"RunMode", REG_SZ, &one, 4);
        SetValue(kRootKey, u"Filter", REG_SZ, u"*.tmp\t", 14);
        WCHAR user[256] = {}, computer[256] = {};
        DWORD size = 256;
        GetUserNameW(user, &size);
        size = 256;
        GetComputerNameW(computer, &size);
        m_set = m_target + "/KovraData/" + platform::Utf16ToUtf8(user) + "@" + platform::Utf16ToUtf8(computer) +
                "/Disk T/Project";
        m_tree = fs::path(m_source) / "Project";
    }
    void TearDown() override {
        platform::clock::SetTimeZone("");
        ::setenv("HOME", m_savedHome.c_str(), 1);
        ::unsetenv("WINLAYER_DEBUG");
        if (m_hadGuard)
            ::setenv("WINLAYER_DEADLOCK_TIMEOUT_MS", m_savedGuard.c_str(), 1);
        else
            ::unsetenv("WINLAYER_DEADLOCK_TIMEOUT_MS");
    }

    static void SetValue(const CString& strKey, LPCTSTR lpszName, DWORD dwType, const void* data, DWORD dwSize) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, strKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, dwType, static_cast<const BYTE*>(data), dwSize);
        RegCloseKey(hKey);
    }
    static void SetText(const CString& strKey, LPCTSTR lpszName, const std::u16string& text) {
        SetValue(strKey, lpszName, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
    }
    static std::u16string GetText(const CString& strKey, LPCTSTR lpszName) {
        WCHAR value[128] = {};
        DWORD size = sizeof(value) - 2;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, strKey, 0, KEY_READ, &hKey) != ERROR_SUCCESS)
            return u"<no key>";
        const LONG r = RegQueryValueExW(hKey, lpszName, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
        RegCloseKey(hKey);
        return r == ERROR_SUCCESS ? std::u16string(value) : u"<none>";
    }
    // The destination U: with its serial number under a page's key.
    void StoreDestination(const CString& strKey) {
        SetText(strKey, u"DestDrive", u"U:");
        const DWORD serial = 0x100u + u'U';
        SetValue(strKey, u"DestSerialNo", REG_DWORD, &serial, 4);
    }
    std::unique_ptr<Kovra> Start() { return std::make_unique<Kovra>(m_install + "/Kovra", m_errors); }
    std::string Errors() const {
        std::ifstream in(m_errors);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // The program's shown top-level windows, taken at one moment: a walk from window to window would end early
    // at a window (a message box) closed during the walk.
    static std::vector<HWND> TopLevelWindows() {
        std::vector<HWND> windows;
        EnumWindows(
            [](HWND hwnd, LPARAM lParam) {
                reinterpret_cast<std::vector<HWND>*>(lParam)->push_back(hwnd);
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&windows));
        return windows;
    }
    static HWND FindMainDialog() {
        for (HWND hwnd : TopLevelWindows())
            if (GetPropW(hwnd, kInstanceProperty))
                return hwnd;
        return nullptr;
    }
    // The shown top-level windows of that title, other than `except`.
    static HWND FindOther(const char16_t* title, HWND except = nullptr) {
        for (HWND hwnd : TopLevelWindows()) {
            char16_t text[256] = {};
            GetWindowTextW(hwnd, text, 256);
            if (hwnd != except && std::u16string(text) == title && IsWindowVisible(hwnd))
                return hwnd;
        }
        return nullptr;
    }
    void WaitForExpertMode(HWND& main, HWND& expert) {
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                main = FindMainDialog();
                expert = FindWindowW(nullptr, u"Kovra - Expert Mode");
                return main && expert && IsWindowVisible(expert);
            },
            kDeadline))
            << Errors();
    }
    // Ends the program from its tray menu; a question whether to end a running service is answered with OK.
    void Exit(HWND main, Kovra& kovra) {
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
        HWND question = nullptr;
        if (uitest::Eventually([&] { return (question = FindOther(u"Kovra")) != nullptr || !IsWindow(main); }, 10s) &&
            question)
            PostMessageW(question, WM_COMMAND, IDOK, 0);
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
    static bool ClickExpert(const XInput& pointer, POINT pt) {
        int x = 0, y = 0;
        if (!uitest::Eventually([&] { return pointer.Origin("Kovra - Expert Mode", x, y); }, kDeadline))
            return false;
        pointer.Click(x + pt.x, y + pt.y);
        return true;
    }
    // The source and its copy in the set are the same, files matching the filter left out.
    bool SameAsSource() const {
        if (!fs::is_directory(m_set))
            return false;
        const std::string diff = "diff -r -q -x '*.tmp' '" + m_tree.string() + "' '" + m_set + "' >/dev/null 2>&1";
        return std::system(diff.c_str()) == 0;
    }
    std::string Log(const char* name) const {
        std::ifstream in(fs::path(m_install) / "Config" / name, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string text;
        for (size_t i = 2; i + 1 < bytes.size(); i += 2)
            text += bytes[i + 1] == 0 ? bytes[i] : '?';
        return text;
    }
    // The local time `seconds` from now as "y/m/d" and "h:m:s" (and both, space-separated).
    static void LocalTexts(long seconds, std::u16string& date, std::u16string& time, std::u16string& both) {
        const std::time_t t = std::time(nullptr) + seconds;
        std::tm tm{};
        localtime_r(&t, &tm);
        char d[32], h[32];
        std::snprintf(d, sizeof d, "%d/%d/%d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday);
        std::snprintf(h, sizeof h, "%d:%d:%d", tm.tm_hour, tm.tm_min, tm.tm_sec);
        date = platform::Utf8ToUtf16(d);
        time = platform::Utf8ToUtf16(h);
        both = date + u" " + time;
    }
    // How often the program's standard error holds the text.
    size_t Count(const std::string& text) const {
        const std::string errors = Errors();
        size_t n = 0;
        for (size_t at = errors.find(text); at != std::string::npos; at = errors.find(text, at + 1))
            ++n;
        return n;
    }
    // Waits for the scheduled run to end, then checks that it asked nothing and was the only run, begun at `when`
    // (the beginning of its log time, e.g. "2027-3-2 09:30:0").
    void ExpectOneRunOnTimeAt(const std::string& when) {
        FinishScheduledRun();
        EXPECT_EQ(Count("is not correctly executed"), 0u) << "a run on time asks nothing";
        const auto times = RunTimes();
        ASSERT_EQ(times.size(), 1u);
        EXPECT_EQ(times[0].substr(0, 16), when) << times[0];
    }
    // A run of the schedule ends with its summary (without a display the program's message boxes take their
    // default answer and say so on standard error); the user then closes the copy-progress dialog.
    void FinishScheduledRun() {
        ASSERT_TRUE(uitest::Eventually([&] { return Count("Backup completed, ") == 1; }, kDeadline)) << Errors();
        // Cancel (Finish) on what is still open of the run, until nothing is.
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                HWND open = FindOther(u"Schedule Backup");
                if (open)
                    PostMessageW(open, WM_COMMAND, IDCANCEL, 0);
                return open == nullptr;
            },
            kDeadline));
    }

    // A local date and time in the zone the program is given.
    static SYSTEMTIME Local(WORD y, WORD mo, WORD d, WORD h, WORD mi, WORD s) {
        SYSTEMTIME st{};
        st.wYear = y;
        st.wMonth = mo;
        st.wDay = d;
        st.wHour = h;
        st.wMinute = mi;
        st.wSecond = s;
        return st;
    }
    static platform::clock::Ticks LocalTicks(const SYSTEMTIME& local) {
        FILETIME ft{};
        SystemTimeToFileTime(&local, &ft);
        return platform::clock::FromFileTime(ft);
    }
    static platform::clock::Ticks LocalNow() { return platform::clock::UtcToLocal(platform::clock::Now()); }
    // The machine's clock set to a local time in Europe/Berlin, the zone the program is then started in, as the
    // user would set the computer's clock.
    static void SetMachineClock(const SYSTEMTIME& local) {
        platform::clock::SetTimeZone("Europe/Berlin");
        ASSERT_TRUE(SetLocalTime(&local));
    }
    // A stored schedule to resume at start: the start, the rule, and the next due time as the program wrote it.
    static void StoreSchedule(const CString& key, const std::u16string& startDate, const std::u16string& startTime,
                              DWORD dwRepeat, DWORD dwMask, const std::u16string& nextTime) {
        SetText(key, u"StartDate", startDate);
        SetText(key, u"StartTime", startTime);
        SetValue(key, u"Repeat", REG_DWORD, &dwRepeat, 4);
        if (dwMask)
            SetValue(key, u"RepeatMask", REG_DWORD, &dwMask, 4);
        const DWORD running = 1;
        SetValue(key, u"Running", REG_DWORD, &running, 4);
        SetText(key, u"NextTime", nextTime);
    }
    // The date and time the copy-progress log gives the end of each run (the machine's local time).
    static std::vector<std::string> RunTimes() {
        std::vector<std::string> times;
        for (const auto& item :
             apptest::ReadLogItems(u"K:\\Config\\CopyProgress.log"))
            if (item.m_strEntry.Find(u"Backup completed, ") == 0)
                times.push_back(platform::Utf16ToUtf8(item.m_strDate.Str()) + " " +
                                platform::Utf16ToUtf8(item.m_strTime.Str()));
        return times;
    }
    // Starts the program on a schedule stored under `key`, the machine's clock at `clock`, and checks it is up in
    // time for a run due at `due`. The tests set the clock 45 seconds ahead of the run: a program built with the
    // sanitizers took up to 17 seconds to start on a machine running many tests at once.
    std::unique_ptr<Kovra> StartAt(const SYSTEMTIME& clock, const SYSTEMTIME& due, HWND& main) {
        SetMachineClock(clock);
        auto kovra = Start();
        HWND expert = nullptr;
        WaitForExpertMode(main, expert);
        EXPECT_LT(LocalNow(), LocalTicks(due) - 3 * platform::clock::kTicksPerSecond)
            << "the program took too long to start for this test";
        return kovra;
    }

    // A daily schedule an hour ago whose run of yesterday was missed: offered at start (and, without a display,
    // answered Yes), it runs at once. Returns the schedule's key.
    CString StoreMissedDailyRun() {
        Write(m_tree / "readme.txt", "read me");
        WriteSelection(fs::path(m_install) / "Config" / "ExpertScheduleBackup.rpr", u"T:\\Project");
        const CString key = CString(kRootKey) + u"\\Expert\\Schedule";
        StoreDestination(key);
        std::u16string date, time, both, unused1, unused2, yesterday;
        LocalTexts(-3600, date, time, both);
        LocalTexts(-3600 - 86400, unused1, unused2, yesterday);
        StoreSchedule(key, date, time, 1, 0, yesterday);
        return key;
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_install, m_errors, m_source, m_home, m_target, m_savedHome, m_set, m_savedGuard;
    bool m_hadGuard = false;
    fs::path m_tree;
};

TEST_F(AutoBackupTest, AutoBackupMirrorsEveryChangeOfTheTreeAndLogsIt) {
    Write(m_tree / "readme.txt", "read me");
    Write(m_tree / "src/main.cpp", "int main() { return 0; }\n");
    Write(m_tree / "src/lib/util.h", "#pragma once\n");
    Write(m_tree / "docs/name with spaces.txt", "spaces");
    Write(m_tree / "old/gone.txt", "to be deleted");
    WriteSelection(fs::path(m_install) / "Config" / "ExpertMonitorBackup.rpr", u"T:\\Project");
    StoreDestination(CString(kRootKey) + u"\\Expert\\Monitor");

    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    ASSERT_NE(resources, nullptr);
    const MonitorLayout layout = MeasureExpertDialog(resources);
    FreeLibrary(resources);
    ASSERT_TRUE(layout.ok);
    auto display = OpenDisplay();
    if (!display->pointer || !display->pointer->Connected())
        FAIL() << "no X display for the test: " << display->server.Error();
    auto kovra = Start();
    LeaveDisplay(*display);
    HWND main = nullptr, expert = nullptr;
    WaitForExpertMode(main, expert);
    // The Auto-Backup tab, then its page's "Start Auto-Backup": the selection is synchronised first. (A click that
    // came before the dialog could take it is made again.)
    bool synchronised = false;
    for (int attempt = 0; attempt < 4 && !synchronised; ++attempt) {
        ASSERT_TRUE(ClickExpert(*display->pointer, layout.tab));
        ASSERT_TRUE(ClickExpert(*display->pointer, layout.start));
        synchronised = uitest::Eventually([&] { return SameAsSource(); }, 30s);
    }
    ASSERT_TRUE(synchronised) << Errors();
    ASSERT_TRUE(uitest::Eventually([&] { return FindOther(u"Synchronizing files...") == nullptr; }, kDeadline));

    // Created, changed, renamed, moved and deleted files and folders, and files the filter leaves out.
    Write(m_tree / "new.txt", "new");
    Write(m_tree / "src/main.cpp", "int main() { return 1; }\n");
    Write(m_tree / "scratch.tmp", "left out");
    fs::rename(m_tree / "readme.txt", m_tree / "README.txt");
    fs::rename(m_tree / "docs/name with spaces.txt", m_tree / "src/moved.txt");
    fs::rename(m_tree / "src/lib", m_tree / "src/library");
    fs::remove_all(m_tree / "old");
    fs::create_directories(m_tree / "empty folder");
    ASSERT_TRUE(uitest::Eventually([&] { return SameAsSource(); }, kDeadline)) << Errors();
    EXPECT_FALSE(fs::exists(fs::path(m_set) / "scratch.tmp"));

    // A burst of new files, then the rename of the folder that holds them.
    for (int i = 0; i < 1500; ++i)
        Write(m_tree / "burst" / ("file" + std::to_string(i) + ".txt"), "burst " + std::to_string(i));
    ASSERT_TRUE(uitest::Eventually([&] { return SameAsSource(); }, kDeadline)) << Errors();
    fs::rename(m_tree / "burst", m_tree / "burst renamed");
    ASSERT_TRUE(uitest::Eventually([&] { return SameAsSource(); }, kDeadline)) << Errors();
    EXPECT_FALSE(fs::exists(fs::path(m_set) / "burst"));

    // Stop (the log, saved when the program is idle, says so), then end the program.
    bool stopped = false;
    for (int attempt = 0; attempt < 3 && !stopped; ++attempt) {
        ASSERT_TRUE(ClickExpert(*display->pointer, layout.start));
        stopped = uitest::Eventually(
            [&] { return Log("ExpertMonitor.log").find("Stop Auto-Backup service.") != std::string::npos; }, 20s);
    }
    EXPECT_TRUE(stopped);
    Exit(main, *kovra);
    const std::string log = Log("ExpertMonitor.log");
    for (const char* line : {"Start Auto-Backup service.", "New file T:\\Project\\new.txt successfully.",
                             "Modify file T:\\Project\\src\\main.cpp successfully.",
                             "Rename file T:\\Project\\readme.txt to T:\\Project\\README.txt successfully.",
                             "Rename folder T:\\Project\\src\\lib to T:\\Project\\src\\library successfully.",
                             "Remove folder T:\\Project\\old successfully.", "Stop Auto-Backup service."})
        EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
    EXPECT_EQ(log.find("scratch.tmp"), std::string::npos);
}

TEST_F(AutoBackupTest, ADailyScheduleRunsItsBackupAtItsTime) {
    Write(m_tree / "readme.txt", "read me");
    Write(m_tree / "src/main.cpp", "int main() { return 0; }\n");
    WriteSelection(fs::path(m_install) / "Config" / "ExpertScheduleBackup.rpr", u"T:\\Project");
    const CString key = CString(kRootKey) + u"\\Expert\\Schedule";
    StoreDestination(key);
    // Far enough ahead for the program to have started on a loaded machine.
    const long base = 45;
    const std::time_t now = std::time(nullptr);
    std::u16string date, time, both;
    LocalTexts(base, date, time, both);
    std::u16string earlierDate, unused1, unused2;
    LocalTexts(base - 3 * 86400, earlierDate, unused1, unused2);
    SetText(key, u"StartDate", earlierDate);
    SetText(key, u"StartTime", time);
    const DWORD daily = 1, running = 1;
    SetValue(key, u"Repeat", REG_DWORD, &daily, 4);
    SetValue(key, u"Running", REG_DWORD, &running, 4);
    SetText(key, u"NextTime", both);

    auto kovra = Start();
    HWND main = nullptr, expert = nullptr;
    WaitForExpertMode(main, expert);
    ASSERT_LT(std::time(nullptr), now + base - 3) << "the program took too long to start for this test";
    EXPECT_FALSE(fs::exists(m_set)) << "nothing runs before its time";
    FinishScheduledRun();
    EXPECT_EQ(Count("is not correctly executed"), 0u) << "a run on time asks nothing";
    EXPECT_TRUE(SameAsSource()) << Errors();
    std::u16string tomorrow;
    LocalTexts(static_cast<long>(now - std::time(nullptr)) + base + 86400, unused1, unused2, tomorrow);
    EXPECT_EQ(GetText(key, u"NextTime"), tomorrow);
    // The user ends the program from its tray while the schedule runs on.
    Exit(main, *kovra);
}

TEST_F(AutoBackupTest, ARunMissedWhileTheProgramWasNotRunningIsOfferedAtStartAndRunsOnce) {
    Write(m_tree / "readme.txt", "read me");
    WriteSelection(fs::path(m_install) / "Config" / "ExpertScheduleBackup.rpr", u"T:\\Project");
    const CString key = CString(kRootKey) + u"\\Expert\\Schedule";
    StoreDestination(key);
    // Daily an hour ago; the program was not running then, nor on the two days before.
    const std::time_t now = std::time(nullptr);
    std::u16string date, time, both, startDate, unused1, unused2;
    LocalTexts(-3600, date, time, both);
    LocalTexts(-3600 - 3 * 86400, startDate, unused1, unused2);
    SetText(key, u"StartDate", startDate);
    SetText(key, u"StartTime", time);
    const DWORD daily = 1, running = 1;
    SetValue(key, u"Repeat", REG_DWORD, &daily, 4);
    SetValue(key, u"Running", REG_DWORD, &running, 4);
    std::u16string threeDaysAgo;
    LocalTexts(-3600 - 2 * 86400, unused1, unused2, threeDaysAgo);
    SetText(key, u"NextTime", threeDaysAgo);

    auto kovra = Start();
    HWND main = nullptr, expert = nullptr;
    WaitForExpertMode(main, expert);
    // The missed-run question is asked (and, without a display, answered with its default, Yes) before the run,
    // which ends with its summary. The run's dialog is left open.
    ASSERT_TRUE(uitest::Eventually([&] { return Count("Backup completed, ") == 1; }, kDeadline)) << Errors();
    EXPECT_TRUE(SameAsSource()) << Errors();
    std::u16string tomorrow;
    LocalTexts(static_cast<long>(now - std::time(nullptr)) - 3600 + 86400, unused1, unused2, tomorrow);
    EXPECT_EQ(GetText(key, u"NextTime"), tomorrow);
    // The user ends the program from its tray while the schedule runs and the run's dialog is still open: the
    // program ends all the same.
    Exit(main, *kovra);
    // Asked once and run once, not once per missed day.
    EXPECT_EQ(Count("is not correctly executed"), 1u) << Errors();
    EXPECT_EQ(Count("Backup completed, "), 1u) << Errors();
}

// The user's session ends while a scheduled run's summary is still on screen: the program ends by itself, its
// schedule left to resume at the next start, and says so in its log.
TEST_F(AutoBackupTest, TheEndOfTheSessionEndsTheProgramWithARunsDialogOpen) {
    const CString key = StoreMissedDailyRun();

    // The program has all the time it needs to end by itself.
    ::setenv("WINLAYER_SESSION_END_GRACE_MS", "600000", 1);
    auto kovra = Start();
    ::unsetenv("WINLAYER_SESSION_END_GRACE_MS");
    HWND main = nullptr, expert = nullptr;
    WaitForExpertMode(main, expert);
    ASSERT_TRUE(uitest::Eventually([&] { return Count("Backup completed, ") == 1; }, kDeadline)) << Errors();
    ASSERT_TRUE(uitest::Eventually([&] { return FindOther(u"Schedule Backup") != nullptr; }, kDeadline));
    ASSERT_EQ(::kill(kovra->Pid(), SIGTERM), 0);
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
    const auto items = apptest::ReadLogItems(u"K:\\Config\\KovraSystem.log");
    ASSERT_FALSE(items.empty());
    EXPECT_EQ(platform::Utf16ToUtf8(items.back().m_strEntry.Str()), "Shut down Kovra successfully.");
    DWORD dwRunning = 0, dwSize = 4;
    HKEY hKey = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, key, 0, KEY_READ, &hKey), ERROR_SUCCESS);
    RegQueryValueExW(hKey, u"Running", nullptr, nullptr, reinterpret_cast<BYTE*>(&dwRunning), &dwSize);
    RegCloseKey(hKey);
    EXPECT_EQ(dwRunning, 1u) << "the schedule resumes at the next start";
}


// The end of the session told to the Expert Mode window before the run's dialog (the windows hear it in their order
// on screen): the run's dialog is ended, and the window with its pages stays until the program's shut-down, not
// destroyed under the run that is still on its way back.
TEST_F(AutoBackupTest, TheEndOfTheSessionToldToTheExpertModeWindowFirstEndsTheRunsDialogAndNothingUnderIt) {
    StoreMissedDailyRun();
    auto kovra = Start();
    HWND main = nullptr, expert = nullptr;
    WaitForExpertMode(main, expert);
    ASSERT_TRUE(uitest::Eventually([&] { return Count("Backup completed, ") == 1; }, kDeadline)) << Errors();
    ASSERT_TRUE(uitest::Eventually([&] { return FindOther(u"Schedule Backup") != nullptr; }, kDeadline));
    ASSERT_TRUE(PostMessageW(expert, WM_ENDSESSION, TRUE, 0));
    EXPECT_TRUE(uitest::Eventually([&] { return FindOther(u"Schedule Backup") == nullptr; }, kDeadline));
    EXPECT_TRUE(IsWindow(expert));
    Exit(main, *kovra);
}

// The machine's clock set to a Tuesday shortly before a weekly run on Tuesdays and Fridays: the run comes at its
// time, asks nothing, and the next due time is that Friday.
TEST_F(AutoBackupTest, AWeeklyRunComesOnItsWeekdayAtItsTimeAndTheNextIsTheNextChosenWeekday) {
    Write(m_tree / "readme.txt", "read me");
    WriteSelection(fs::path(m_install) / "Config" / "ExpertScheduleBackup.rpr", u"T:\\Project");
    const CString key = CString(kRootKey) + u"\\Expert\\Schedule";
    StoreDestination(key);
    // Tuesday bit 2, Friday bit 5; started on a Monday weeks before.
    StoreSchedule(key, u"2027/2/1", u"9:30:0", 2, (1u << 2) | (1u << 5), u"2027/3/2 9:30:0");
    HWND main = nullptr;
    auto kovra = StartAt(Local(2027, 3, 2, 9, 29, 15), Local(2027, 3, 2, 9, 30, 0), main);
    ExpectOneRunOnTimeAt("2027-3-2 09:30:0");
    EXPECT_TRUE(SameAsSource()) << Errors();
    EXPECT_EQ(GetText(key, u"NextTime"), u"2027/3/5 9:30:0");
    Exit(main, *kovra);
}

// A monthly run on the 31st: the 30th of April passes its time without a run; on the 31st of May it comes at its
// time, and the next is the 31st of July, June having no 31st.
TEST_F(AutoBackupTest, AMonthlyRunOnThe31stSkipsTheMonthsWithoutOne) {
    Write(m_tree / "readme.txt", "read me");
    WriteSelection(fs::path(m_install) / "Config" / "ExpertScheduleBackup.rpr", u"T:\\Project");
    const CString key = CString(kRootKey) + u"\\Expert\\Schedule";
    StoreDestination(key);
    // Started on the 30th of April at 9:30; the program gave the 31st of May as the first run.
    StoreSchedule(key, u"2027/4/30", u"9:30:0", 3, 1u << 30, u"2027/5/31 9:30:0");
    {
        HWND main = nullptr;
        auto kovra = StartAt(Local(2027, 4, 30, 9, 29, 15), Local(2027, 4, 30, 9, 30, 0), main);
        ASSERT_TRUE(uitest::Eventually([&] { return LocalNow() >= LocalTicks(Local(2027, 4, 30, 9, 30, 5)); }, 120s));
        EXPECT_EQ(Count("Backup completed, "), 0u) << Errors();
        EXPECT_EQ(FindOther(u"Schedule Backup"), nullptr);
        EXPECT_EQ(GetText(key, u"NextTime"), u"2027/5/31 9:30:0");
        Exit(main, *kovra);
    }
    HWND main = nullptr;
    auto kovra = StartAt(Local(2027, 5, 31, 9, 29, 15), Local(2027, 5, 31, 9, 30, 0), main);
    ExpectOneRunOnTimeAt("2027-5-31 09:30:");
    EXPECT_TRUE(SameAsSource()) << Errors();
    EXPECT_EQ(GetText(key, u"NextTime"), u"2027/7/31 9:30:0");
    Exit(main, *kovra);
}

// Daylight saving begins in Berlin at 2:00 on the 28th of March 2027, the clock going on to 3:00: a daily run at
// 3:00:10 armed in winter time comes ten seconds after the change, at its wall-clock time, and the next is the
// same wall-clock time the day after.
TEST_F(AutoBackupTest, ADailyRunKeepsItsWallClockTimeAcrossTheChangeToSummerTime) {
    Write(m_tree / "readme.txt", "read me");
    WriteSelection(fs::path(m_install) / "Config" / "ExpertScheduleBackup.rpr", u"T:\\Project");
    const CString key = CString(kRootKey) + u"\\Expert\\Schedule";
    StoreDestination(key);
    StoreSchedule(key, u"2027/3/1", u"3:0:10", 1, 0, u"2027/3/28 3:0:10");
    HWND main = nullptr;
    // 1:59:25 winter time is 45 seconds before 3:00:10 summer time.
    auto kovra = StartAt(Local(2027, 3, 28, 1, 59, 25), Local(2027, 3, 28, 3, 0, 10), main);
    ExpectOneRunOnTimeAt("2027-3-28 03:00:");
    EXPECT_EQ(GetText(key, u"NextTime"), u"2027/3/29 3:0:10");
    Exit(main, *kovra);
}

} // namespace
