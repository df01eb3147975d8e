// End-to-end: the companion program Enclosure and the main program Kovra together, on a simulated enclosure.
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/com/objbase.h"
#include "platform/devices/disks.h"
#include "platform/fs/paths.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/host.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"
#include "platform/usb/enclosure_sim.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr auto kProgramDeadline = 120s;
constexpr const char16_t* kInstanceProperty = u"AFX_BRANNIC_H__D36F5573_9879_4ED3_8B5D_97A194EFF61D__INCLUDED_";

class EnclosureE2E : public ::testing::Test {
protected:
    void SetUp() override {
        platform::kernel::EnableDeviceAccess();
        // The programs' folder, as installed: both programs, the bridge libraries, the splash and the language.
        m_install = m_machine.Scratch("Kovra");
        const fs::path built = KOVRA_PROGRAM_DIR;
        for (const char* file : {"Kovra", "Enclosure", "JMUsbDll.dll", "sp216.dll", "Splash.bmp"})
            Place(built / file, fs::path(m_install) / file);
        fs::create_directories(fs::path(m_install) / "Lang");
        Place(built / "Lang" / "0x0407.dll", fs::path(m_install) / "Lang" / "0x0407.dll");
        platform::fs::DriveInfo drive;
        drive.letter = u'K';
        drive.hostRoot = m_install;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
        m_errors = m_machine.Scratch("output") + "/stderr.txt";
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

    static void Place(const fs::path& from, const fs::path& to) {
        std::error_code error;
        fs::create_hard_link(from, to, error);
        if (error)
            fs::copy_file(from, to, fs::copy_options::overwrite_existing);
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
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void**>(&object)),
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
    static std::string CommandLineOf(pid_t pid) {
        std::ifstream in("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::replace(text.begin(), text.end(), '\0', ' ');
        return text;
    }

    void PlugStartsKovraAndPressesStartOrSignalIt(const char16_t* hardwareId) {
        StartEnclosure();
        EXPECT_EQ(KovraPid(), 0);
        // The enclosure's disk arrives: the main program is started, without a parameter.
        const DWORD disk = Plug(hardwareId);
        ASSERT_TRUE(uitest::Eventually([] { return KovraPid() != 0; }, kProgramDeadline)) << Errors();
        const pid_t first = KovraPid();
        EXPECT_EQ(CommandLineOf(first).find("/otb"), std::string::npos);
        // A press while it runs signals it: no second program is started.
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
        EXPECT_EQ(KovraPid(), first);
        // The main program ends; a press starts it again with "/otb".
        ::kill(first, SIGTERM);
        ASSERT_TRUE(uitest::Eventually([] { return KovraPid() == 0; }, kProgramDeadline));
        ASSERT_EQ(platform::usb::PressButton(disk), ERROR_SUCCESS);
        ASSERT_TRUE(uitest::Eventually([] { return KovraPid() != 0; }, kProgramDeadline)) << Errors();
        EXPECT_NE(CommandLineOf(KovraPid()).find("/otb"), std::string::npos) << CommandLineOf(KovraPid());
        // The enclosure's ready LED was switched on when its chip was opened.
        EXPECT_TRUE(platform::usb::Leds(e).ready);
    }

    std::string Errors() const {
        std::ifstream in(m_errors);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_install;
    std::string m_errors;
    pid_t m_enclosure = -1;
};

TEST_F(EnclosureE2E, AJMicronEnclosureStartsKovraAndItsButtonStartsOrSignalsIt) {
    PlugStartsKovraAndPressesStartOrSignalIt(u"USB\\VID_152D&PID_2338");
}

TEST_F(EnclosureE2E, ASunplusEnclosureDoesTheSame) {
    PlugStartsKovraAndPressesStartOrSignalIt(u"USB\\VID_6A5E&PID_0003");
}

} // namespace
