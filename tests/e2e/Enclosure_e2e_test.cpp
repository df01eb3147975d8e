// End-to-end: the companion program Enclosure and the main program Kovra together, on a simulated enclosure.
#include "app/AppTestSupport.h"

#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/com/objbase.h"
#include "platform/devices/disks.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/paths.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/registry/registry.h"
#include "platform/res/resources.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/dialog.h"
#include "platform/ui/message.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"
#include "platform/ui/xvfb_test_support.h"
#include "platform/usb/enclosure_sim.h"

#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kProgramDeadline = 120s;
constexpr const char* kGuardVariable = "WINLAYER_DEADLOCK_TIMEOUT_MS";
constexpr const char16_t* kInstanceProperty = u"AFX_BRANNIC_H__D36F5573_9879_4ED3_8B5D_97A194EFF61D__INCLUDED_";

class EnclosureE2E : public ::testing::Test {
protected:
    void SetUp() override {
        platform::kernel::EnableDeviceAccess();
        // The programs' folder, as installed: both programs, the bridge libraries, the splash and the language.
        m_install = m_machine.Scratch("Kovra");
        const fs::path built = KOVRA_PROGRAM_DIR;
        for (const char* file : {"Kovra", "Enclosure", "JMUsbDll.dll", "sp216.dll", "Splash.bmp"})
            e2e::Place(built / file, fs::path(m_install) / file);
        fs::create_directories(fs::path(m_install) / "Lang");
        e2e::Place(built / "Lang" / "0x0407.dll", fs::path(m_install) / "Lang" / "0x0407.dll");
        platform::fs::DriveInfo drive;
        drive.letter = u'K';
        drive.hostRoot = m_install;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
        m_errors = m_machine.Scratch("output") + "/stderr.txt";
        // The user's machine: a home, a data drive T: and a fixed drive U: that backups may go to.
        m_home = m_machine.Scratch("home");
        m_source = m_machine.Scratch("data");
        m_target = m_machine.Scratch("target");
        for (const auto& [letter, root] :
             {std::pair{u'C', m_home}, std::pair{u'T', m_source}, std::pair{u'U', m_target}}) {
            fs::create_directories(root);
            platform::fs::DriveInfo data;
            data.letter = letter;
            data.hostRoot = root;
            data.serial = 0x100u + letter;
            ASSERT_TRUE(platform::fs::SetDrive(data));
        }
        const char* oldHome = std::getenv("HOME");
        m_savedHome = oldHome ? oldHome : "";
        ::setenv("HOME", m_home.c_str(), 1);
        // The programs run as a user's programs do: each sits in its message loop, idle, for as long as nothing
        // happens to it (the companion program while the main program backs up, the main program while a wizard
        // page waits for the user), which on a loaded machine passes the deadlock guard's thirty seconds; the
        // guard would take that idleness for a hang and end the program (the main program then started a second
        // companion program on its next automation call). They run without the guard; the test's own deadlines
        // still find a program that hangs, and the tear-down ends and reports it. This test program keeps its
        // guard: its value is read before the variable goes.
        if (const char* guard = std::getenv(kGuardVariable)) {
            m_savedGuard = guard;
            platform::ui::SetDeadlockTimeout(platform::ui::DeadlockTimeout());
            ::unsetenv(kGuardVariable);
        }
        fs::create_directories(fs::path(m_install) / "Config");
        std::ofstream(fs::path(m_install) / "Config" / "Main.ini") << "[Main]\nDriveType=1\n";
    }
    void TearDown() override {
        // Whatever the programs left running goes: the main program by its own shut-down, the companion too. A
        // program of the installed folder that is still there after that is killed and reported: it would
        // otherwise outlive the test.
        for (const pid_t pid : ProgramPids("/Kovra"))
            ::kill(pid, SIGTERM);
        uitest::Eventually([&] { return ProgramPids("/Kovra").empty(); }, kProgramDeadline);
        if (m_enclosure > 0) {
            ::kill(m_enclosure, SIGKILL);
            ::waitpid(m_enclosure, nullptr, 0);
        }
        for (const pid_t pid : ProgramPids("")) {
            ADD_FAILURE() << "still running at the end of the test, killed: " << CommandLineOf(pid);
            ::kill(pid, SIGKILL);
        }
        EXPECT_TRUE(platform::kernel::StopHost());
        ::setenv("HOME", m_savedHome.c_str(), 1);
        if (!m_savedGuard.empty())
            ::setenv(kGuardVariable, m_savedGuard.c_str(), 1);
    }

    // The processes running a program of the installed folder whose path ends with `suffix`.
    std::vector<pid_t> ProgramPids(const std::string& suffix) const {
        std::vector<pid_t> pids;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator("/proc", error)) {
            const std::string name = entry.path().filename();
            if (name.find_first_not_of("0123456789") != std::string::npos)
                continue;
            std::error_code ignored;
            const std::string exe = fs::read_symlink(entry.path() / "exe", ignored).string();
            if (exe.rfind(m_install + "/", 0) == 0 && exe.size() >= suffix.size() &&
                exe.compare(exe.size() - suffix.size(), suffix.size(), suffix) == 0)
                pids.push_back(static_cast<pid_t>(std::stol(name)));
        }
        return pids;
    }

    void StartEnclosure() {
        const std::string path = m_install + "/Enclosure";
        char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // Its output and that of the programs it starts go to a file: a program that outlived the test must not
        // hold the test runner's pipe open.
        posix_spawn_file_actions_addopen(&actions, 1, m_errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, m_errors.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        ASSERT_EQ(posix_spawn(&m_enclosure, path.c_str(), &actions, nullptr, argv, environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_TRUE(uitest::Eventually([] { return FindWindowW(nullptr, u"Kovra enclosure service") != nullptr; },
                                       kProgramDeadline));
        // Its automation object is served by its main dialog's thread once the dialog's start-up is over: until
        // then a disk plugged in would count as one that was there before the start.
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(u"Enclosure.Application", &clsid), S_OK);
        IDispatch* object = nullptr;
        ASSERT_EQ(
            CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
            S_OK);
        object->Release();
        CoUninitialize();
    }

    // Plugs an image with one mounted partition under the bridge `hardwareId`.
    DWORD Plug(const char16_t* hardwareId) {
        const std::string path = m_machine.Scratch("disks") + "/enclosure.img";
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        EXPECT_EQ(ftruncate(fd, 16 << 20), 0);
        uint8_t sector[512] = {};
        const uint32_t signature = 0x5A454456, first = 2048, count = 8192;
        std::memcpy(sector + 440, &signature, 4);
        sector[446 + 4] = 0x06;
        std::memcpy(sector + 446 + 8, &first, 4);
        std::memcpy(sector + 446 + 12, &count, 4);
        sector[510] = 0x55;
        sector[511] = 0xAA;
        EXPECT_EQ(pwrite(fd, sector, sizeof sector, 0), 512);
        close(fd);
        platform::devices::DiskIdentity id;
        id.hardwareId = hardwareId;
        DWORD number = 0;
        EXPECT_EQ(platform::devices::PlugDisk(path, id, number), ERROR_SUCCESS);
        return number;
    }

    // The main program's process, found by its main menu dialog (its property is set once its start-up is done).
    static pid_t KovraPid() {
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (GetPropW(hwnd, kInstanceProperty)) {
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                return static_cast<pid_t>(pid);
            }
        return 0;
    }
    static HWND KovraMainDialog() {
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (GetPropW(hwnd, kInstanceProperty))
                return hwnd;
        return nullptr;
    }
    static std::string CommandLineOf(pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(text.begin(), text.end(), '\0', ' ');
        return text;
    }

    static void SetValue(const CString& strKey, LPCTSTR lpszName, DWORD dwType, const void* data, DWORD dwSize) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, strKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, dwType, static_cast<const BYTE*>(data), dwSize);
        RegCloseKey(hKey);
    }

    // What a one-touch press is to back up: the tree T:\Project checked on the Expert Mode's Instant Backup page
    // (the selection it shares with the wizard), U: as that page's destination, and "Execute backup immediately"
    // chosen on the System page.
    void SetUpOneTouchBackup() {
        const fs::path tree = fs::path(m_source) / "Project";
        auto write = [&](const fs::path& relative, const std::string& text) {
            fs::create_directories((tree / relative).parent_path());
            std::ofstream(tree / relative, std::ios::binary) << text;
        };
        write("readme.txt", "read me");
        write("src/main.cpp", "int main() { return 0; }\n");
        write("docs/name with spaces.txt", "spaces");
        fs::create_directories(tree / "empty");
        std::string bytes = "\xFF\xFE";
        for (const std::u16string line : {u"#Version : 1.0.0", u"#Date : 2026/12/10", u"D\t1\tT:\\Project"})
            for (char16_t c : line + u"\r\n") {
                bytes += static_cast<char>(c & 0xFF);
                bytes += static_cast<char>(c >> 8);
            }
        std::ofstream(fs::path(m_install) / "Config" / "ManualBackup.rpr", std::ios::binary) << bytes;
        const CString root = u"Software\\VEVUVUV\\Kovra";
        SetValue(root + u"\\Expert\\Backup", u"DestDrive", REG_SZ, u"U:", 6);
        const DWORD serial = 0x100u + u'U';
        SetValue(root + u"\\Expert\\Backup", u"DestSerialNo", REG_DWORD, &serial, 4);
        const DWORD backUpNow = 3001;
        SetValue(root + u"\\Expert\\SystemSetting", u"OneTouch", REG_DWORD, &backUpNow, 4);
    }
    // The set the backup lands in, and whether the program's copy log says a run has ended.
    std::string SetFolder() const {
        WCHAR user[2048] = {}, computer[2048] = {};
        DWORD size = 2048;
        GetUserNameW(user, &size);
        size = 2048;
        GetComputerNameW(computer, &size);
        return m_target + "/KovraData/" + platform::Utf16ToUtf8(user) + "@" + platform::Utf16ToUtf8(computer) +
               "/Disk T/Project";
    }
    static bool Logged(LPCTSTR lpszLog, LPCTSTR lpszText) {
        for (const auto& item : apptest::ReadLogItems(lpszLog))
            if (item.m_strEntry.Find(lpszText) >= 0)
                return true;
        return false;
    }
    static bool BackupEnded() { return Logged(u"K:\\Config\\CopyProgress.log", u"Backup completed"); }
    void ExpectTreeInSet() const {
        const std::string tree = m_source + "/Project", copy = SetFolder();
        ASSERT_TRUE(fs::is_directory(copy)) << Errors();
        const std::string diff = "diff -r '" + tree + "' '" + copy + "'";
        EXPECT_EQ(std::system(diff.c_str()), 0) << diff;
    }
    // Presses the button once and waits until the companion program has taken the press.
    static void Press(DWORD disk) {
        ASSERT_EQ(platform::usb::PressButton(disk), ERROR_SUCCESS);
        platform::usb::SimulatedEnclosure e;
        ASSERT_TRUE(platform::usb::FindEnclosure(disk, e));
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                platform::usb::ChipState s;
                platform::usb::ReadChip(e.key, s);
                return s.presses == 0;
            },
            kProgramDeadline));
    }

    // The enclosure's disk arrives: Kovra is started. A press while it runs reaches it (no second program) and
    // backs up now; once it has ended, a press starts it with "/otb" and that start backs up now.
    void PlugStartsKovraAndPressesBackUp(const char16_t* hardwareId) {
        SetUpOneTouchBackup();
        StartEnclosure();
        EXPECT_EQ(KovraPid(), 0);
        // The enclosure's disk arrives: the main program is started, without a parameter.
        const DWORD disk = Plug(hardwareId);
        ASSERT_TRUE(uitest::Eventually([] { return KovraPid() != 0; }, kProgramDeadline)) << Errors();
        const std::vector<pid_t> running = ProgramPids("/Kovra");
        ASSERT_EQ(running.size(), 1u);
        const pid_t first = running[0];
        EXPECT_EQ(CommandLineOf(first).find("/otb"), std::string::npos);
        // A press while it runs signals it, and the System page backs up now: the copy-progress dialog shows. The
        // program takes presses only from the end of its start-up on (an earlier one is dropped), which the test
        // cannot see from outside: it presses again until the backup has started.
        const auto started = [] { return FindWindowW(nullptr, u"Instant Backup") != nullptr || BackupEnded(); };
        for (int attempt = 0; attempt < 60 && !started(); ++attempt) {
            Press(disk);
            uitest::Eventually(started, 2s);
        }
        ASSERT_TRUE(started()) << Errors();
        ASSERT_TRUE(uitest::Eventually(BackupEnded, kProgramDeadline)) << Errors();
        EXPECT_EQ(ProgramPids("/Kovra"), std::vector<pid_t>{first});
        ExpectTreeInSet();

        // The main program ends; a press starts it again with "/otb", and that start backs up on its own.
        ::kill(first, SIGTERM);
        ASSERT_TRUE(uitest::Eventually([&] { return ProgramPids("/Kovra").empty(); }, kProgramDeadline));
        fs::remove_all(m_target + "/KovraData");
        fs::remove(fs::path(m_install) / "Config" / "CopyProgress.log");
        Press(disk);
        ASSERT_TRUE(uitest::Eventually([] { return KovraPid() != 0; }, kProgramDeadline)) << Errors();
        const std::vector<pid_t> second = ProgramPids("/Kovra");
        ASSERT_EQ(second.size(), 1u);
        EXPECT_NE(CommandLineOf(second[0]).find("/otb"), std::string::npos) << CommandLineOf(second[0]);
        ASSERT_TRUE(uitest::Eventually(BackupEnded, kProgramDeadline)) << Errors();
        ExpectTreeInSet();
        // The enclosure's ready LED was switched on when its chip was opened.
        platform::usb::SimulatedEnclosure e;
        ASSERT_TRUE(platform::usb::FindEnclosure(disk, e));
        EXPECT_TRUE(platform::usb::Leds(e).ready);
    }

    std::string Errors() const {
        std::ifstream in(m_errors);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_install;
    std::string m_errors;
    std::string m_home, m_source, m_target, m_savedHome, m_savedGuard;
    pid_t m_enclosure = -1;
};

// Both bridge-chip families the companion program knows, by their hardware ids.
struct Family {
    const char* name;
    const char16_t* hardwareId;
};
void PrintTo(const Family& family, std::ostream* out) {
    *out << family.name;
}
constexpr Family kFamilies[] = {{"JMicron", u"USB\\VID_152D&PID_2338"}, {"Sunplus", u"USB\\VID_6A5E&PID_0003"}};

class EnclosureFamilyE2E : public EnclosureE2E, public ::testing::WithParamInterface<Family> {};

TEST_P(EnclosureFamilyE2E, APlugStartsKovraAndTheButtonBacksUpWhetherKovraRunsOrNot) {
    PlugStartsKovraAndPressesBackUp(GetParam().hardwareId);
}

INSTANTIATE_TEST_SUITE_P(Families, EnclosureFamilyE2E, ::testing::ValuesIn(kFamilies),
                         [](const ::testing::TestParamInfo<Family>& info) { return std::string(info.param.name); });

// The companion program started for its automation object ("-Embedding") while it already runs ends at once: the
// running one serves the object and alone watches the button; the object's calls still reach the running one.
TEST_F(EnclosureE2E, ACompanionStartedOnDemandWhileOneRunsEndsAndLeavesTheObjectToTheRunningOne) {
    StartEnclosure();
    {
        e2e::Kovra second(m_install + "/Enclosure", m_errors, {"-Embedding"});
        EXPECT_EQ(second.Wait(), 0) << Errors();
    }
    EXPECT_EQ(ProgramPids("/Enclosure"), std::vector<pid_t>{m_enclosure});
    ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Enclosure.Application", &clsid), S_OK);
    IDispatch* object = nullptr;
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
              S_OK);
    object->Release();
    CoUninitialize();
    EXPECT_EQ(ProgramPids("/Enclosure"), std::vector<pid_t>{m_enclosure});
}

// Where the Quick Configure Wizard has its buttons and the controls of its pages, in client coordinates of the
// wizard: the wizard and its pages built here from the program's own templates (the pages stand at the wizard's
// origin, over its frame 140).
struct WizardLayout {
    POINT next = {};
    POINT password = {}, confirmation = {}, question = {};
    POINT remember = {};
    POINT summaryList = {}; // a point of the summary's list that the password page leaves empty
    bool ok = false;
};

WizardLayout MeasureWizard(HMODULE resources) {
    WizardLayout layout;
    HWND wizard = CreateDialogParamW(resources, MAKEINTRESOURCEW(2100), nullptr, e2e::QuietDialogProc, 0);
    if (!wizard)
        return layout;
    auto middle = [&](HWND control, int dx = -1, int dy = -1) {
        RECT rc{};
        GetWindowRect(control, &rc);
        POINT pt{dx < 0 ? (rc.left + rc.right) / 2 : rc.left + dx, dy < 0 ? (rc.top + rc.bottom) / 2 : rc.top + dy};
        ScreenToClient(wizard, &pt);
        return pt;
    };
    layout.next = middle(GetDlgItem(wizard, 12324));
    HWND page3 = CreateDialogParamW(resources, MAKEINTRESOURCEW(4100), wizard, e2e::QuietDialogProc, 0);
    HWND page4 = CreateDialogParamW(resources, MAKEINTRESOURCEW(3600), wizard, e2e::QuietDialogProc, 0);
    if (page3 && page4) {
        layout.password = middle(GetDlgItem(page3, 4103));
        layout.confirmation = middle(GetDlgItem(page3, 4105));
        layout.question = middle(GetDlgItem(page3, 4107), -1, 6);
        layout.remember = middle(GetDlgItem(page4, 1246));
        RECT list{};
        GetWindowRect(GetDlgItem(page4, 3603), &list);
        RECT confirmation{};
        GetWindowRect(GetDlgItem(page3, 4105), &confirmation);
        layout.summaryList = middle(GetDlgItem(page4, 3603), (confirmation.right + list.right) / 2 - list.left,
                                    list.bottom - 4 - list.top);
        layout.ok = true;
    }
    DestroyWindow(wizard);
    return layout;
}

// A blank disk in a JMicron enclosure, prepared by "Kovra /configdisk" as a user does it on the screen, with the
// mouse and the keyboard; then the disk in use: the next start of Kovra starts the companion program for its
// automation object, opens the secure disk with the remembered password and lights the secure-disk LED through it,
// and closing the secure disk puts the LED out.
TEST_F(EnclosureE2E, TheWizardPreparesABlankDiskOnTheScreenAndTheOpenSecureDiskLightsItsLed) {
    platform::fs::DriveInfo drive;
    drive.letter = u'B';
    drive.hostRoot = apptest::ExeFolder();
    ASSERT_TRUE(platform::fs::SetDrive(drive));
    // The driver is written to the machine's temporary folder before it is installed: that folder needs a name.
    drive.letter = u'M';
    drive.hostRoot = m_machine.Folder();
    ASSERT_TRUE(platform::fs::SetDrive(drive));
    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    ASSERT_NE(resources, nullptr);
    const WizardLayout layout = MeasureWizard(resources);
    FreeLibrary(resources);
    ASSERT_TRUE(layout.ok);

    // Two setup programs beside Kovra: the newer goes onto the public disk.
    std::ofstream(fs::path(m_install) / "KovraV1Setup.exe") << "old";
    std::ofstream(fs::path(m_install) / "KovraV2Setup.exe") << "the newest setup program";
    struct timespec old[2] = {{1000, 0}, {1000, 0}};
    utimensat(AT_FDCWD, (fs::path(m_install) / "KovraV1Setup.exe").c_str(), old, 0);
    // The companion program has been installed (it registers its automation object at every start) and is ended
    // again, as a user ends it.
    StartEnclosure();
    {
        const std::string path = m_install + "/Enclosure";
        e2e::Kovra quit(path, m_errors, {"/quit"});
        EXPECT_EQ(quit.Wait(), 0);
    }
    ASSERT_TRUE(uitest::Eventually([&] { return ProgramPids("/Enclosure").empty(); }, kProgramDeadline)) << Errors();
    ::waitpid(m_enclosure, nullptr, 0);
    m_enclosure = -1;

    // A blank disk of 2 GiB (sparse).
    const std::string image = m_machine.Scratch("disks") + "/blank.img";
    {
        const int fd = open(image.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(ftruncate(fd, 2ll << 30), 0);
        close(fd);
    }
    platform::devices::DiskIdentity id;
    id.hardwareId = u"USB\\VID_152D&PID_2338";
    DWORD disk = 0;
    ASSERT_EQ(platform::devices::PlugDisk(image, id, disk), ERROR_SUCCESS);

    uitest::Xvfb server;
    if (server.Display().empty())
        FAIL() << "no X display for the test: " << server.Error();
    const e2e::XInput input(server.Display());
    ASSERT_TRUE(input.Connected());
    ::setenv("WINLAYER_DISPLAY", server.Display().c_str(), 1);
    auto wizardRun =
        std::make_unique<e2e::Kovra>(m_install + "/Kovra", m_errors, std::vector<std::string>{"/configdisk"});
    ::unsetenv("WINLAYER_DISPLAY");
    int x = 0, y = 0;
    const char* title = "Quick Configure Wizard";
    ASSERT_TRUE(uitest::Eventually([&] { return input.Origin(title, x, y); }, kProgramDeadline)) << Errors();
    const auto click = [&](POINT pt) { input.Click(x + pt.x, y + pt.y); };
    const auto white = [&](POINT pt) { return input.Pixel(x + pt.x, y + pt.y) == 0xFFFFFF; };
    // Next twice: the first page offers the plugged disk, the second splits it in halves. The password page is
    // there once its question box shows where the pages before it have nothing.
    ASSERT_TRUE(uitest::Eventually([&] { return !white(layout.question); }, kProgramDeadline));
    click(layout.next);
    click(layout.next);
    ASSERT_TRUE(uitest::Eventually([&] { return white(layout.question); }, kProgramDeadline));
    const std::string password = "kovra2026secret";
    click(layout.password);
    ASSERT_TRUE(input.Type(password));
    click(layout.confirmation);
    ASSERT_TRUE(input.Type(password));
    click(layout.question);
    ASSERT_TRUE(input.Type("my first pet"));
    // The summary: the password is to be remembered. Next asks the last question, which the user answers with
    // Enter (OK is its default button).
    ASSERT_FALSE(white(layout.summaryList));
    click(layout.next);
    ASSERT_TRUE(uitest::Eventually([&] { return white(layout.summaryList); }, kProgramDeadline));
    click(layout.remember);
    // A click that comes while the box still holds the mouse from its own click is dropped, as a real one would
    // be: Next is clicked again until the question shows.
    int bx = 0, by = 0;
    ASSERT_TRUE(uitest::Eventually(
        [&] {
            if (input.Origin("Kovra", bx, by))
                return true;
            click(layout.next);
            return uitest::Eventually([&] { return input.Origin("Kovra", bx, by); }, 5s);
        },
        kProgramDeadline))
        << Errors();
    for (int attempt = 0; attempt < 20 && input.Origin("Kovra", bx, by); ++attempt) {
        input.Key(0xFF0D);
        uitest::Eventually([&] { return !input.Origin("Kovra", bx, by); }, 3s);
    }
    ASSERT_FALSE(input.Origin("Kovra", bx, by));
    // The last page works until Finish can be clicked; Finish ends the program.
    ASSERT_TRUE(uitest::Eventually(
        [&] {
            click(layout.next);
            return uitest::Eventually([&] { return ProgramPids("/Kovra").empty(); }, 1s);
        },
        kProgramDeadline))
        << Errors();
    EXPECT_EQ(wizardRun->Wait(), 0) << Errors();
    // The question typed is kept with the secure disk's settings.
    {
        HKEY hKey = nullptr;
        WCHAR question[130] = {};
        DWORD size = sizeof question;
        ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra\\Expert\\Secure", 0, KEY_READ, &hKey),
                  ERROR_SUCCESS);
        EXPECT_EQ(RegQueryValueExW(hKey, u"Question", nullptr, nullptr, reinterpret_cast<BYTE*>(question), &size),
                  ERROR_SUCCESS);
        RegCloseKey(hKey);
        EXPECT_EQ(std::u16string(question), u"my first pet");
    }
    // The program closed the secure disk it made as it ended.
    const auto letterOf = [](const std::u16string& volumeLabel) -> std::optional<WCHAR> {
        for (const auto& d : platform::fs::Drives())
            if (d.label == volumeLabel)
                return d.letter;
        return std::nullopt;
    };
    EXPECT_FALSE(letterOf(u"Kovra Secure Disk").has_value());

    // The disk's table: its signature and the two partitions, a public one of type 06 and a secure one of type 63.
    const std::string fdisk = "LC_ALL=C fdisk -l '" + image + "' 2>&1";
    std::string table;
    if (FILE* pipe = popen(fdisk.c_str(), "r")) {
        char buffer[512];
        while (fgets(buffer, sizeof buffer, pipe))
            table += buffer;
        pclose(pipe);
    }
    EXPECT_NE(table.find("Disk identifier: 0x5a454456"), std::string::npos) << table;
    EXPECT_NE(table.find(image + "1"), std::string::npos) << table;
    EXPECT_NE(table.find(" 6 FAT16"), std::string::npos) << table;
    EXPECT_NE(table.find(" 63 GNU HURD or SysV"), std::string::npos) << table;
    // The public partition is mounted as NTFS with the newest setup program on it.
    std::optional<WCHAR> publicLetter;
    ASSERT_TRUE(uitest::Eventually([&] { return (publicLetter = letterOf(u"Kovra Public Disk")).has_value(); },
                                   kProgramDeadline));
    const std::u16string publicRoot = std::u16string(1, *publicLetter) + u":\\";
    WCHAR label[64] = {}, fileSystem[16] = {};
    ASSERT_TRUE(GetVolumeInformationW(publicRoot.c_str(), label, 64, nullptr, nullptr, nullptr, fileSystem, 16));
    EXPECT_EQ(std::u16string(fileSystem), u"NTFS");
    EXPECT_NE(GetFileAttributesW((publicRoot + u"KovraSetup\\KovraV2Setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(GetFileAttributesW((publicRoot + u"KovraSetup\\KovraV1Setup.exe").c_str()), INVALID_FILE_ATTRIBUTES);

    // The next start: the secure disk opens with the remembered password, and Kovra's first call of the automation
    // object starts the companion program ("-Embedding"), which lights the secure-disk LED.
    platform::usb::SimulatedEnclosure e;
    ASSERT_TRUE(platform::usb::FindEnclosure(disk, e));
    EXPECT_FALSE(platform::usb::Leds(e).secure);
    auto kovra = std::make_unique<e2e::Kovra>(m_install + "/Kovra", m_errors);
    ASSERT_TRUE(uitest::Eventually([&] { return platform::usb::Leds(e).secure; }, kProgramDeadline)) << Errors();
    const std::vector<pid_t> served = ProgramPids("/Enclosure");
    ASSERT_EQ(served.size(), 1u);
    EXPECT_NE(CommandLineOf(served[0]).find("-Embedding"), std::string::npos) << CommandLineOf(served[0]);
    // The secure disk holds an empty NTFS volume.
    std::optional<WCHAR> secureLetter;
    ASSERT_TRUE(uitest::Eventually([&] { return (secureLetter = letterOf(u"Kovra Secure Disk")).has_value(); },
                                   kProgramDeadline));
    const std::u16string secureRoot = std::u16string(1, *secureLetter) + u":\\";
    ASSERT_TRUE(GetVolumeInformationW(secureRoot.c_str(), label, 64, nullptr, nullptr, nullptr, fileSystem, 16));
    EXPECT_EQ(std::u16string(fileSystem), u"NTFS");
    WIN32_FIND_DATAW found{};
    std::vector<std::u16string> names;
    HANDLE find = FindFirstFileW((secureRoot + u"*").c_str(), &found);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::u16string name = found.cFileName;
            if (name != u"." && name != u"..")
                names.push_back(name);
        } while (FindNextFileW(find, &found));
        FindClose(find);
    }
    EXPECT_TRUE(names.empty()) << platform::Utf16ToUtf8(names.empty() ? u"" : names[0]);

    // Closing it (Manage Secure Disk, Close, OK) puts the LED out; the user does it once the dialog that opened the
    // disk at the start ("Kovra", "Open secure disk...") has gone.
    HWND main = nullptr;
    ASSERT_TRUE(uitest::Eventually([&] { return (main = KovraMainDialog()) != nullptr; }, kProgramDeadline));
    const auto shown = [](const char16_t* caption) {
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT)) {
            WCHAR text[64] = {};
            GetWindowTextW(hwnd, text, 64);
            if (std::u16string(text) == caption && IsWindowVisible(hwnd))
                return hwnd;
        }
        return static_cast<HWND>(nullptr);
    };
    ASSERT_TRUE(uitest::Eventually([&] { return !shown(u"Kovra"); }, kProgramDeadline));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, 32775, 0));
    HWND manage = nullptr;
    ASSERT_TRUE(
        uitest::Eventually([&] { return (manage = shown(u"Manage Secure Disk")) != nullptr; }, kProgramDeadline));
    ASSERT_TRUE(PostMessageW(manage, WM_COMMAND, 2908, 0));
    HWND close = nullptr;
    ASSERT_TRUE(uitest::Eventually([&] { return (close = shown(u"Close Secure Disk")) != nullptr; }, kProgramDeadline))
        << Errors();
    ASSERT_TRUE(PostMessageW(close, WM_COMMAND, IDOK, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !platform::usb::Leds(e).secure; }, kProgramDeadline)) << Errors();
    EXPECT_FALSE(letterOf(u"Kovra Secure Disk").has_value());
    ASSERT_TRUE(PostMessageW(manage, WM_COMMAND, 2910, 0));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, e2e::ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
    // The companion program goes on watching the enclosure until the user ends it.
    EXPECT_EQ(ProgramPids("/Enclosure"), served);
    e2e::Kovra quit(m_install + "/Enclosure", m_errors, {"/quit"});
    EXPECT_EQ(quit.Wait(), 0);
    EXPECT_TRUE(uitest::Eventually([&] { return ProgramPids("/Enclosure").empty(); }, kProgramDeadline));
}

} // namespace
