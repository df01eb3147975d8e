// The main program Kovra, started as a user starts it: the real binary, installed in a folder of a temporary
// machine (its drive K:), driven from outside through the session's window broker, and read back through its
// event log.
#include "E2eSupport.h"
#include "app/AppTestSupport.h"

#include "platform/base/machine.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"
#include "platform/fs/paths.h"
#include "platform/registry/ini.h"
#include "platform/registry/registry.h"
#include "platform/system/processes.h"
#include "platform/testing/shared_resource.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/broker.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/controls.h"
#include "platform/ui/menu.h"
#include "platform/ui/message.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/tray.h"
#include "platform/ui/ui_test_support.h"
#include "platform/ui/window.h"
#include "platform/ui/xtray_test_support.h"
#include "platform/ui/xvfb_test_support.h"

#include <cairo.h>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <tuple>
#include <unistd.h>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Deadlines for the program's own pace: a start under the sanitizers on a busy machine takes its time.
constexpr auto kProgramDeadline = 120s;

constexpr UINT WM_TRAY_NOTIFY = WM_USER + 3111;
constexpr UINT ID_TRAY_EXIT = 32774;
constexpr UINT ID_TRAY_INSTANT_BACKUP = 32771;
constexpr const char16_t* kInstanceProperty = u"AFX_BRANNIC_H__D36F5573_9879_4ED3_8B5D_97A194EFF61D__INCLUDED_";

// A started program; killed if the test leaves it running.
class Program {
public:
    Program(const std::string& path, const std::vector<std::string>& args, const std::string& errorFile) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(path.c_str()));
        for (const auto& a : args)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Program() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t Pid() const { return m_pid; }
    // Waits for the program to end; its exit code, or -1 when it did not end in time (or was killed).
    int Wait(std::chrono::seconds limit = kProgramDeadline) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (Running()) {
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(5ms);
        }
        return m_exitCode;
    }
    bool Running() {
        if (m_exited)
            return false;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) != m_pid)
            return true;
        m_exited = true;
        m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return false;
    }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_exitCode = -1;
};

class KovraTest : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("WINLAYER_DEBUG", "1", 1);
        // The program's folder: the program, its splash picture, its banner and its language library, on drive K:.
        m_install = m_machine.Scratch("Kovra");
        e2e::InstallProgram(m_install);
        const fs::path built = KOVRA_PROGRAM_DIR;
        fs::create_directories(fs::path(m_install) / "Lang");
        e2e::Place(built / "Lang" / "0x0407.dll", fs::path(m_install) / "Lang" / "0x0407.dll");
        platform::fs::DriveInfo drive;
        drive.letter = u'K';
        drive.hostRoot = m_install;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
        m_errors = m_machine.Scratch("output") + "/stderr.txt";
        // Pictures of the windows as they are shown, since this session has no screen.
        m_pictures = m_machine.Scratch("pictures");
        ::setenv("WINLAYER_PICTURES", m_pictures.c_str(), 1);
    }
    void TearDown() override {
        ::unsetenv("WINLAYER_DEBUG");
        ::unsetenv("WINLAYER_PICTURES");
    }

    // The pictures of windows of a class (as the picture names write it) that the program showed.
    std::vector<fs::path> Pictures(const std::string& className) const {
        std::vector<fs::path> found;
        for (const auto& entry : fs::directory_iterator(m_pictures))
            if (entry.path().filename().string().ends_with("-" + className + ".png"))
                found.push_back(entry.path());
        return found;
    }

    std::unique_ptr<Program> Start(std::vector<std::string> args = {}) {
        return std::make_unique<Program>(m_install + "/Kovra", args, m_errors);
    }
    void WriteMainIni(const std::string& lines) {
        fs::create_directories(fs::path(m_install) / "Config");
        std::ofstream(fs::path(m_install) / "Config" / "Main.ini") << "[Main]\n" << lines;
    }

    // The running program's main menu dialog, found as a second start finds it.
    static HWND FindMainDialog() {
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (GetPropW(hwnd, kInstanceProperty))
                return hwnd;
        return nullptr;
    }
    static int CountMainDialogs() {
        int count = 0;
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            count += GetPropW(hwnd, kInstanceProperty) != nullptr;
        return count;
    }
    static std::u16string Title(HWND hwnd) {
        char16_t text[256] = {};
        GetWindowTextW(hwnd, text, 256);
        return text;
    }
    // Waits for the main menu dialog, which a second start finds (its property is set once the start-up is done),
    // and for it to be shown or hidden.
    static HWND WaitForMainDialog(bool shown) {
        HWND hwnd = nullptr;
        EXPECT_TRUE(uitest::Eventually(
            [&] {
                hwnd = FindMainDialog();
                return hwnd && (IsWindowVisible(hwnd) != FALSE) == shown;
            },
            kProgramDeadline))
            << "no main menu dialog at the end of the start-up";
        return hwnd;
    }
    std::string Errors() const {
        std::ifstream in(m_errors);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::vector<CXMLLogItem> SystemLog() const { return apptest::ReadLogItems(u"K:\\Config\\KovraSystem.log"); }
    static std::vector<std::u16string> Entries(const std::vector<CXMLLogItem>& items) {
        std::vector<std::u16string> entries;
        for (const auto& item : items)
            entries.push_back(item.m_strEntry.Str());
        return entries;
    }

    platform::machine::ScopedTestMachine m_machine;
    std::string m_install;
    std::string m_errors;
    std::string m_pictures;
};

// The pixels of a 24-bit bottom-up BMP file, as COLORREF values by row from the top.
struct Bitmap {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

Bitmap ReadBmp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Bitmap bmp;
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        std::memcpy(&v, bytes.data() + at, 4);
        return v;
    };
    const uint32_t offset = u32(10);
    bmp.width = static_cast<int>(u32(18));
    bmp.height = static_cast<int>(u32(22));
    const size_t stride = (static_cast<size_t>(bmp.width) * 3 + 3) & ~size_t{3};
    for (int y = 0; y < bmp.height; ++y) {
        const size_t row = offset + static_cast<size_t>(bmp.height - 1 - y) * stride;
        for (int x = 0; x < bmp.width; ++x) {
            const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + row + static_cast<size_t>(x) * 3);
            bmp.pixels.push_back(p[2] | (p[1] << 8) | (p[0] << 16));
        }
    }
    return bmp;
}

// The pixels of a PNG picture the same way.
Bitmap ReadPng(const fs::path& path) {
    Bitmap bmp;
    cairo_surface_t* surface = cairo_image_surface_create_from_png(path.c_str());
    if (cairo_surface_status(surface) == CAIRO_STATUS_SUCCESS) {
        cairo_surface_flush(surface);
        bmp.width = cairo_image_surface_get_width(surface);
        bmp.height = cairo_image_surface_get_height(surface);
        const int stride = cairo_image_surface_get_stride(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        for (int y = 0; y < bmp.height; ++y)
            for (int x = 0; x < bmp.width; ++x) {
                uint32_t argb = 0;
                std::memcpy(&argb, data + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4, 4);
                bmp.pixels.push_back(((argb >> 16) & 0xFF) | (argb & 0xFF00) | ((argb & 0xFF) << 16));
            }
    }
    cairo_surface_destroy(surface);
    return bmp;
}

TEST_F(KovraTest, StartsWithItsMainMenuAndEndsFromTheTrayMenu) {
    auto kovra = Start();
    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(Title(main), u"Kovra - Main Menu");

    // The splash window showed "Splash.bmp" beside the program (the version line aside, which it writes over the
    // bitmap's lower strip).
    const auto splash = Pictures("SPLASH");
    ASSERT_EQ(splash.size(), 1u);
    const Bitmap picture = ReadPng(splash[0]);
    const Bitmap bitmap = ReadBmp(fs::path(KOVRA_PROGRAM_DIR) / "Splash.bmp");
    ASSERT_EQ(picture.width, bitmap.width);
    ASSERT_EQ(picture.height, bitmap.height);
    int differences = 0;
    for (int y = 20; y < 190; y += 5)
        for (int x = 20; x < bitmap.width - 20; x += 5)
            differences += picture.At(x, y) != bitmap.At(x, y);
    EXPECT_EQ(differences, 0);
    EXPECT_EQ(Pictures("_32770").size(), 1u); // the main menu, once shown

    // The tray icon with its image and its tip.
    EXPECT_NE(Errors().find("Shell_NotifyIconW: NIM_MODIFY, icon 1, tip \"Kovra\", with an icon"), std::string::npos)
        << Errors();

    // The tray menu as the user sees it on a right click of the icon. With no one to choose in this headless
    // session, the window layer notes the menu on the debug output and dismisses it.
    ASSERT_TRUE(PostMessageW(main, WM_TRAY_NOTIFY, 1, WM_RBUTTONDOWN));
    ASSERT_TRUE(
        uitest::Eventually([&] { return Errors().find("TrackPopupMenu") != std::string::npos; }, kProgramDeadline));
    EXPECT_NE(Errors().find("[Open Kovra] [Instant Backup] [Instant Restore] [Expert Mode] [Manage Secure Disk] "
                            "[Exit]"),
              std::string::npos)
        << Errors();

    // Exit, as the tray menu's command.
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
    EXPECT_EQ(FindMainDialog(), nullptr);
    const auto entries = Entries(SystemLog());
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], u"Start Kovra successfully.");
    EXPECT_EQ(entries.back(), u"Shut down Kovra successfully.");
}

// What a test sees of an X display through a connection of its own.
class XScreen {
public:
    explicit XScreen(const std::string& display) : m_c(xcb_connect(display.c_str(), nullptr)) {
        if (!xcb_connection_has_error(m_c))
            m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
    }
    ~XScreen() { xcb_disconnect(m_c); }
    XScreen(const XScreen&) = delete;
    XScreen& operator=(const XScreen&) = delete;

    xcb_connection_t* Conn() const { return m_c; }
    xcb_screen_t* Screen() const { return m_screen; }

    xcb_atom_t Atom(const char* name) const {
        auto* r =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, static_cast<uint16_t>(strlen(name)), name), nullptr);
        const xcb_atom_t atom = r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(r);
        return atom;
    }
    std::string Property(xcb_window_t w, xcb_atom_t property) const {
        auto* r = xcb_get_property_reply(m_c, xcb_get_property(m_c, 0, w, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024),
                                         nullptr);
        std::string value;
        if (r)
            value.assign(static_cast<const char*>(xcb_get_property_value(r)),
                         static_cast<size_t>(xcb_get_property_value_length(r)));
        std::free(r);
        return value;
    }
    // The windows on the screen (children of the root that are mapped) whose property holds the value.
    std::vector<xcb_window_t> Shown(xcb_atom_t property, const std::string& value) const {
        std::vector<xcb_window_t> found;
        auto* tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_screen->root), nullptr);
        if (!tree)
            return found;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree); ++i) {
            auto* a = xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, children[i]), nullptr);
            const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(a);
            if (viewable && Property(children[i], property) == value)
                found.push_back(children[i]);
        }
        std::free(tree);
        return found;
    }
    void Click(int16_t x, int16_t y, uint8_t button) const {
        xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_screen->root, x, y, 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_PRESS, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_RELEASE, button, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }
    // Presses and releases the key of an X key symbol (0xFF0D Return); false when the keyboard has no such key.
    bool Key(xcb_keysym_t symbol) const {
        const xcb_setup_t* setup = xcb_get_setup(m_c);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* map = xcb_get_keyboard_mapping_reply(
            m_c, xcb_get_keyboard_mapping(m_c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
        if (!map)
            return false;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        uint8_t key = 0;
        for (int i = 0; i < count && !key; ++i)
            if (syms[i * map->keysyms_per_keycode] == symbol)
                key = static_cast<uint8_t>(setup->min_keycode + i);
        std::free(map);
        if (!key)
            return false;
        xcb_test_fake_input(m_c, XCB_KEY_PRESS, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_c, XCB_KEY_RELEASE, key, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
        return true;
    }

private:
    xcb_connection_t* m_c;
    xcb_screen_t* m_screen = nullptr;
};

TEST_F(KovraTest, OnADisplayItsWindowsShowAndItsTrayIconDocksAndIsUsedWithTheMouse) {
    uitest::Xvfb server;
    ASSERT_FALSE(server.Display().empty()) << server.Error();
    XScreen x(server.Display());
    ASSERT_NE(x.Screen(), nullptr) << "cannot connect to " << server.Display();
    // The program shows itself on the test's display (the test itself stays headless).
    const char* before = std::getenv("WINLAYER_DISPLAY");
    const std::string previous = before ? before : "";
    ::setenv("WINLAYER_DISPLAY", server.Display().c_str(), 1);
    auto kovra = Start();
    if (before)
        ::setenv("WINLAYER_DISPLAY", previous.c_str(), 1);
    else
        ::unsetenv("WINLAYER_DISPLAY");

    // The main menu is a window of the display, with its title.
    ASSERT_NE(WaitForMainDialog(true), nullptr) << Errors();
    const xcb_atom_t name = x.Atom("_NET_WM_NAME");
    EXPECT_TRUE(uitest::Eventually([&] { return x.Shown(name, "Kovra - Main Menu").size() == 1; }, kProgramDeadline));

    // A notification area that appears after the start takes the program's icon in.
    constexpr int16_t kTrayX = 600, kTrayY = 700;
    uitest::XTray tray(x.Conn(), x.Screen(), kTrayX, kTrayY);
    ASSERT_NE(tray.TakeDockRequest(kProgramDeadline), 0u) << Errors();

    // A right click on the icon opens the tray menu on the display; a click on its last item, Exit, ends the
    // program.
    const xcb_atom_t type = x.Atom("_NET_WM_WINDOW_TYPE");
    const xcb_atom_t popup = x.Atom("_NET_WM_WINDOW_TYPE_POPUP_MENU");
    const std::string popupValue(reinterpret_cast<const char*>(&popup), sizeof popup);
    x.Click(kTrayX + 12, kTrayY + 12, 3);
    std::vector<xcb_window_t> menus;
    ASSERT_TRUE(uitest::Eventually([&] { return !(menus = x.Shown(type, popupValue)).empty(); }, kProgramDeadline))
        << Errors();
    auto* geometry = xcb_get_geometry_reply(x.Conn(), xcb_get_geometry(x.Conn(), menus[0]), nullptr);
    ASSERT_NE(geometry, nullptr);
    const int16_t exitX = static_cast<int16_t>(geometry->x + geometry->width / 2);
    const int16_t exitY = static_cast<int16_t>(geometry->y + geometry->height - 8);
    std::free(geometry);
    x.Click(exitX, exitY, 1);
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
    const auto entries = Entries(SystemLog());
    ASSERT_FALSE(entries.empty());
    EXPECT_EQ(entries.back(), u"Shut down Kovra successfully.");
}

TEST_F(KovraTest, ASecondStartHandsOverToTheFirstAndEnds) {
    auto first = Start({"/min"});
    const HWND main = WaitForMainDialog(false);
    ASSERT_NE(main, nullptr);

    // The second start brings the first one's current dialog (its main menu) back and ends.
    auto second = Start();
    EXPECT_EQ(second->Wait(), 0);
    EXPECT_TRUE(uitest::Eventually([&] { return IsWindowVisible(main) != FALSE; }, kProgramDeadline));
    EXPECT_TRUE(first->Running());
    EXPECT_EQ(CountMainDialogs(), 1);

    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(first->Wait(), 0);
}

TEST_F(KovraTest, StartsThatOverlapLeaveOneRunningProgram) {
    // Two starts at once: whichever comes second, maybe while the other is still starting, hands over and ends.
    auto one = Start({"/min"});
    auto other = Start({"/min"});
    int ended = -1;
    ASSERT_TRUE(uitest::Eventually(
        [&] {
            if (!one->Running())
                ended = 0;
            else if (!other->Running())
                ended = 1;
            return ended >= 0;
        },
        kProgramDeadline));
    Program& gone = ended == 0 ? *one : *other;
    Program& running = ended == 0 ? *other : *one;
    EXPECT_EQ(gone.Wait(), 0);
    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    EXPECT_TRUE(running.Running());
    EXPECT_EQ(CountMainDialogs(), 1);
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(running.Wait(), 0);
}

TEST_F(KovraTest, AStartInTheTrayShowsNoDialog) {
    auto kovra = Start({"/min"});
    const HWND main = WaitForMainDialog(false);
    ASSERT_NE(main, nullptr);
    EXPECT_FALSE(IsWindowVisible(main));
    EXPECT_FALSE(IsWindowVisible(FindWindowW(nullptr, u"Kovra - Expert Mode")));
    // Only the tray icon: no splash picture, no dialog ever shown.
    EXPECT_TRUE(fs::is_empty(m_pictures));
    EXPECT_NE(Errors().find("Shell_NotifyIconW: NIM_MODIFY, icon 1, tip \"Kovra\", with an icon"), std::string::npos)
        << Errors();
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
}

TEST_F(KovraTest, LangFileChoosesTheLanguageAndAWrongOneFallsBackToEnglish) {
    WriteMainIni("LangFile=0x0407.dll\n");
    {
        auto kovra = Start();
        const HWND main = WaitForMainDialog(true);
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(Title(main), u"Kovra - Hauptmenü");
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
        EXPECT_EQ(kovra->Wait(), 0);
        EXPECT_EQ(Entries(SystemLog()).back(), u"Kovra wurde erfolgreich beendet.");
    }
    WriteMainIni("LangFile=japanese.dll\n");
    {
        auto kovra = Start();
        const HWND main = WaitForMainDialog(true);
        ASSERT_NE(main, nullptr);
        EXPECT_EQ(Title(main), u"Kovra - Main Menu");
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
        EXPECT_EQ(kovra->Wait(), 0);
    }
    const auto items = SystemLog();
    bool warned = false;
    for (const auto& item : items)
        warned |= item.m_chType == u'W' &&
                  item.m_strEntry.Find(u"User uses main.ini to define language library(japanese.dll)") == 0;
    EXPECT_TRUE(warned);
    EXPECT_EQ(Entries(items).back(), u"Shut down Kovra successfully.");
}

TEST_F(KovraTest, SigtermEndsItCleanlyWithTheShutDownLine) {
    // The end of the session as the system ends it; the program is given all the time it needs to end by itself.
    ::setenv("WINLAYER_SESSION_END_GRACE_MS", "600000", 1);
    auto kovra = Start();
    ::unsetenv("WINLAYER_SESSION_END_GRACE_MS");
    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    ASSERT_EQ(::kill(kovra->Pid(), SIGTERM), 0);
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
    EXPECT_EQ(FindMainDialog(), nullptr);
    const auto entries = Entries(SystemLog());
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ(entries[entries.size() - 2], u"Start Kovra successfully.");
    EXPECT_EQ(entries.back(), u"Shut down Kovra successfully.");
}

// The selection file as the format gives it: UTF-16LE with its mark, CR LF line ends.
void WriteSelectionFile(const fs::path& path, const std::vector<std::u16string>& lines) {
    std::string bytes = "\xFF\xFE";
    for (const auto& line : lines)
        for (char16_t c : line + u"\r\n") {
            bytes += static_cast<char>(c & 0xFF);
            bytes += static_cast<char>(c >> 8);
        }
    std::ofstream(path, std::ios::binary) << bytes;
}

// What a selection file selects, read by the format alone: each "D 1" path, and each file line joined to the folder
// of the "D 2" line before it.
std::set<std::u16string> SelectedPaths(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::u16string text;
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                      (static_cast<unsigned char>(bytes[i + 1]) << 8));
    std::set<std::u16string> selected;
    if (text.empty() || text[0] != u'\xFEFF')
        return selected;
    std::u16string folder;
    for (size_t start = 1; start < text.size();) {
        size_t end = text.find(u"\r\n", start);
        if (end == std::u16string::npos)
            end = text.size();
        const std::u16string line = text.substr(start, end - start);
        start = end + 2;
        if (line.rfind(u"D\t1\t", 0) == 0)
            selected.insert(line.substr(4));
        else if (line.rfind(u"D\t2\t", 0) == 0)
            folder = line.substr(4);
        else if (line.rfind(u"\tF\t1\t", 0) == 0)
            selected.insert(folder + u"\\" + line.substr(5));
    }
    return selected;
}

TEST_F(KovraTest, InstantBackupSelectionSurvivesRestarts) {
    // The user's data on T: (C: and the home folder are the test's own too): a partly checked branch five levels
    // deep with over 9,000 characters of marks, names with a TAB and with leading blanks, a whole folder.
    const std::string data = m_machine.Scratch("data");
    const std::string home = m_machine.Scratch("home");
    for (const auto& [letter, root] : {std::pair{u'T', data}, std::pair{u'C', home}}) {
        platform::fs::DriveInfo drive;
        drive.letter = letter;
        drive.hostRoot = root;
        ASSERT_TRUE(platform::fs::SetDrive(drive));
    }
    const char* oldHome = std::getenv("HOME");
    const std::string savedHome = oldHome ? oldHome : "";
    ::setenv("HOME", home.c_str(), 1);
    const std::string deep = data + "/Data/level one/level two/level three/level four";
    fs::create_directories(deep);
    std::vector<std::u16string> lines = {u"#Version : 1.0.0", u"#Date : 2026/12/10", u"D\t1\tT:\\Data\\whole folder",
                                         u"D\t2\tT:\\Data\\level one\\level two\\level three\\level four"};
    for (int i = 0; i < 120; ++i) {
        const std::string name = "a file with a rather long descriptive name, number " + std::to_string(i) + ".txt";
        std::ofstream(deep + "/" + name) << "x";
        if (i % 5 != 4)
            lines.push_back(u"\tF\t1\t" + platform::Utf8ToUtf16(name));
    }
    for (const char* name : {"tab\tname.txt", "  leading blanks.txt", "left out.txt"})
        std::ofstream(data + "/Data/" + name) << "y";
    fs::create_directories(data + "/Data/whole folder/inside");
    fs::create_directories(data + "/Other");
    lines.insert(lines.end(),
                 {u"D\t2\tT:\\Data", u"\tF\t1\ttab\tname.txt", u"\tF\t1\t  leading blanks.txt", u"D\t1\tT:\\Other"});
    WriteMainIni("DriveType=1\n");
    const fs::path selection = fs::path(m_install) / "Config" / "ManualBackup.rpr";
    WriteSelectionFile(selection, lines);
    const std::set<std::u16string> wanted = SelectedPaths(selection);
    ASSERT_EQ(wanted.size(), 96u + 4u);

    // Twice: the program restores the selection into the wizard's tree and writes it back on Start.
    for (int run = 0; run < 2; ++run) {
        fs::remove(fs::path(m_install) / "Config" / "KovraSystem.log");
        auto kovra = Start();
        const HWND main = WaitForMainDialog(true);
        ASSERT_NE(main, nullptr);
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_INSTANT_BACKUP, 0));
        HWND wizard = nullptr;
        // Shown once its first page has restored the selection.
        ASSERT_TRUE(uitest::Eventually(
            [&] { return (wizard = FindWindowW(nullptr, u"Instant Backup Wizard")) && IsWindowVisible(wizard); },
            kProgramDeadline));
        fs::remove(selection);
        ASSERT_TRUE(PostMessageW(wizard, WM_COMMAND, 12325, 0));
        ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(wizard) && fs::exists(selection); }, kProgramDeadline));
        EXPECT_EQ(SelectedPaths(selection), wanted) << "run " << run;
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
        EXPECT_EQ(kovra->Wait(), 0);
    }
    ::setenv("HOME", savedHome.c_str(), 1);
}

// The Instant Backup road through the real program: its drives, its settings and its selection file set up as a
// user's machine would have them, the tray menu's Instant Backup, the wizard's two pages, the copy-progress dialog.
class InstantBackupTest : public KovraTest {
protected:
    void SetUp() override {
        KovraTest::SetUp();
        m_source = m_machine.Scratch("data");
        m_home = m_machine.Scratch("home");
        m_target = m_machine.Scratch("target");
        for (const auto& [letter, root] :
             {std::pair{u'T', m_source}, std::pair{u'C', m_home}, std::pair{u'U', m_target}}) {
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
        WriteMainIni("DriveType=1\n");
        // Explorer shows hidden files, so that names with a leading dot are the user's files like any other.
        SetDword(u"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced", u"Hidden", 1);
        // The destination the user chose last time.
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra\\Express\\Backup", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, u"DestDrive", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"U:"), 6);
        RegCloseKey(hKey);
        WCHAR user[2048] = {}, computer[2048] = {};
        DWORD size = 2048;
        GetUserNameW(user, &size);
        size = 2048;
        GetComputerNameW(computer, &size);
        m_set =
            m_target + "/KovraData/" + platform::Utf16ToUtf8(user) + "@" + platform::Utf16ToUtf8(computer) + "/Disk T";
    }
    void TearDown() override {
        ::setenv("HOME", m_savedHome.c_str(), 1);
        KovraTest::TearDown();
    }
    static void SetDword(LPCTSTR lpszKey, LPCTSTR lpszName, DWORD dwValue) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, lpszKey, 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, lpszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), 4);
        RegCloseKey(hKey);
    }
    // The selection: the folder T:\<name> whole.
    void SelectFolder(const std::u16string& name) {
        fs::create_directories(fs::path(m_install) / "Config");
        WriteSelectionFile(fs::path(m_install) / "Config" / "ManualBackup.rpr",
                           {u"#Version : 1.0.0", u"#Date : 2026/12/10", u"D\t1\tT:\\" + name});
    }
    // Instant Backup from the tray menu: Next on the source page, Start on the destination page. Returns the
    // copy-progress dialog once it is there (null when it is not to be waited for).
    HWND StartInstantBackup(HWND main, bool waitForProgress = true) {
        EXPECT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_INSTANT_BACKUP, 0));
        HWND wizard = nullptr;
        EXPECT_TRUE(uitest::Eventually(
            [&] { return (wizard = FindWindowW(nullptr, u"Instant Backup Wizard")) && IsWindowVisible(wizard); },
            kProgramDeadline));
        if (!wizard)
            return nullptr;
        // The wizard handles its commands in order: Start comes once Next has shown the destination page.
        EXPECT_TRUE(PostMessageW(wizard, WM_COMMAND, 12324, 0));
        EXPECT_TRUE(PostMessageW(wizard, WM_COMMAND, 12325, 0));
        if (!waitForProgress)
            return nullptr;
        HWND progress = nullptr;
        EXPECT_TRUE(uitest::Eventually([&] { return (progress = FindWindowW(nullptr, u"Instant Backup")) != nullptr; },
                                       kProgramDeadline));
        return progress;
    }
    std::vector<CXMLLogItem> RunLog() const { return apptest::ReadLogItems(u"K:\\Config\\CopyProgress.log"); }
    bool RunEnded() const {
        for (const auto& item : RunLog())
            if (item.m_strEntry.Find(u"Backup completed") == 0)
                return true;
        return false;
    }
    std::string Summary() const {
        std::string all;
        for (const auto& item : RunLog())
            all += platform::Utf16ToUtf8(item.m_strEntry.GetString()) + "\n";
        return all;
    }
    bool Logged(const std::u16string& text) const {
        for (const auto& item : RunLog())
            if (item.m_strEntry.Find(text.c_str()) >= 0)
                return true;
        return false;
    }

    std::string m_source, m_home, m_target, m_savedHome, m_set;
};

TEST_F(InstantBackupTest, TheUsersFilesLandInTheSetAsTheyAre) {
    const fs::path tree = fs::path(m_source) / "Fixture";
    auto write = [&](const fs::path& relative, const std::string& text) {
        fs::create_directories((tree / relative).parent_path());
        std::ofstream(tree / relative, std::ios::binary) << text;
    };
    write("with spaces in the name.txt", "spaces");
    write("Ünïcødé ☃ ñame.txt", "unicode");
    write(".leading dot", "dot");
    write(".dot folder/inner.txt", "inner");
    write("ends with a dot.", "dot at the end");
    write("folder ending in a dot./inside.txt", "inside");
    write(std::string(251, 'n') + ".txt", "long name");
    fs::path deep;
    for (int i = 0; i < 6; ++i)
        deep /= "a folder name of fifty characters, give or take " + std::to_string(i);
    write(deep / "deep file.txt", "deep");
    ASSERT_GT((tree / deep / "deep file.txt").string().size() - m_source.size(), 260u);
    fs::create_directories(tree / "empty");
    fs::create_directories(tree / "emptier" / "deeper");
    write("read-only.txt", "read only");
    fs::permissions(tree / "read-only.txt", fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
    {
        std::ofstream(tree / "sparse.bin");
        fs::resize_file(tree / "sparse.bin", 1ull << 30);
    }
    const fs::path outside = fs::path(m_machine.Scratch("outside"));
    fs::create_directories(outside);
    std::ofstream(outside / "secret.txt") << "not part of the backup";
    fs::create_directory_symlink(outside, tree / "link out");
    const auto written = fs::last_write_time(tree / "with spaces in the name.txt");
    SelectFolder(u"Fixture");

    auto kovra = Start();
    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    const HWND progress = StartInstantBackup(main);
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(uitest::Eventually([&] { return RunEnded(); }, kProgramDeadline));
    ASSERT_TRUE(PostMessageW(progress, WM_COMMAND, IDCANCEL, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(progress); }, kProgramDeadline));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);

    // Where the plain-file agent puts a drive's files, with every name and every byte as it was; the link is
    // neither followed nor turned into a copy of what it points at.
    const fs::path copy = fs::path(m_set) / "Fixture";
    ASSERT_TRUE(fs::is_directory(copy)) << Errors();
    EXPECT_FALSE(fs::exists(copy / "link out" / "secret.txt"));
    const std::string diff = "diff -r --no-dereference -x 'link out' '" + tree.string() + "' '" + copy.string() + "'";
    EXPECT_EQ(std::system(diff.c_str()), 0) << diff;
    EXPECT_TRUE(fs::is_directory(copy / "emptier" / "deeper"));
    EXPECT_EQ(fs::file_size(copy / "sparse.bin"), 1ull << 30);
    // Times and the read-only attribute travel with the files.
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(
                  fs::last_write_time(copy / "with spaces in the name.txt").time_since_epoch()),
              std::chrono::duration_cast<std::chrono::seconds>(written.time_since_epoch()));
    EXPECT_EQ(fs::status(copy / "read-only.txt").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_TRUE(Logged(u"Succeeded to backup file T:\\Fixture\\sparse.bin"));
    EXPECT_TRUE(Logged(u"Backup completed, 10 different file(s) backed up, 0 identical file(s) skipped. Failed to "
                       u"back up 0 file(s)."))
        << Summary();
}

// A file another program holds open without read sharing: the File Error dialog, and Skip, Retry and Abort each do
// what they say, as the run's log tells.
TEST_F(InstantBackupTest, AFileHeldByAnotherProgramAsksTheUser) {
    const fs::path tree = fs::path(m_source) / "Held";
    fs::create_directories(tree);
    std::ofstream(tree / "held.txt") << "held";
    SelectFolder(u"Held");
    SetDword(u"Software\\VEVUVUV\\Kovra\\CopyProgress", u"ErrorHandling", 0);

    auto kovra = Start();
    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    struct Case {
        UINT nButton;
        const char16_t* logged;
        bool copied;
    };
    const Case cases[] = {
        {2201, u"Ignore to backup file T:\\Held\\held.txt", false},
        {2202, u"Succeeded to backup file T:\\Held\\held.txt", true},
        {2203, u"Abort to backup file T:\\Held\\held.txt", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nButton);
        fs::remove_all(fs::path(m_target) / "KovraData");
        HANDLE held = CreateFileW(u"T:\\Held\\held.txt", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        const HWND progress = StartInstantBackup(main);
        ASSERT_NE(progress, nullptr);
        HWND error = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] { return (error = FindWindowW(nullptr, u"File Error")) && IsWindowVisible(error); }, kProgramDeadline));
        if (c.nButton == 2202)
            CloseHandle(held);
        ASSERT_TRUE(PostMessageW(error, WM_COMMAND, c.nButton, 0));
        ASSERT_TRUE(uitest::Eventually([&] { return RunEnded(); }, kProgramDeadline));
        if (c.nButton != 2202)
            CloseHandle(held);
        EXPECT_TRUE(Logged(c.logged));
        EXPECT_EQ(fs::exists(fs::path(m_set) / "Held" / "held.txt"), c.copied);
        ASSERT_TRUE(PostMessageW(progress, WM_COMMAND, IDCANCEL, 0));
        ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(progress); }, kProgramDeadline));
    }
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
}

// A selection larger than the destination's free space: message 5064, whose Abort (the answer a headless session
// takes) ends the backup before anything is copied.
TEST_F(InstantBackupTest, TooLittleFreeSpaceStopsBeforeCopying) {
    const fs::path tree = fs::path(m_source) / "Big";
    fs::create_directories(tree);
    std::ofstream(tree / "small.txt") << "small";
    {
        std::ofstream(tree / "huge.bin");
        fs::resize_file(tree / "huge.bin", fs::space(m_target).available + (1ull << 40));
    }
    SelectFolder(u"Big");
    auto kovra = Start();
    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    StartInstantBackup(main, false);
    // The question is answered before the dialog ever shows; the wizard's end and the dialog's come with it.
    ASSERT_TRUE(uitest::Eventually(
        [&] { return Errors().find("Insufficient storage on the destination drive.") != std::string::npos; },
        kProgramDeadline))
        << Errors();
    ASSERT_TRUE(uitest::Eventually([&] { return !FindWindowW(nullptr, u"Instant Backup"); }, kProgramDeadline));
    EXPECT_FALSE(fs::exists(fs::path(m_target) / "KovraData") && fs::exists(fs::path(m_set) / "Big"));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
}

// The fonts agent through the real program: two fonts the user installed in the user's font folder, the Fonts root
// checked in the Instant Backup selection, land in the set's "Fonts" folder byte for byte with their display names
// in "fonts.ini".
TEST_F(InstantBackupTest, TheUsersFontsLandInTheSetWithTheirNames) {
    const char* oldData = std::getenv("XDG_DATA_HOME");
    const std::string savedData = oldData ? oldData : "";
    ::unsetenv("XDG_DATA_HOME");
    const fs::path fonts = fs::path(m_home) / ".local" / "share" / "fonts";
    fs::create_directories(fonts);
    const fs::path dejavu = "/usr/share/fonts/truetype/dejavu";
    for (const char* file : {"DejaVuSansMono.ttf", "DejaVuSerif-Bold.ttf"})
        fs::copy_file(dejavu / file, fonts / file);
    fs::create_directories(fs::path(m_install) / "Config");
    WriteSelectionFile(fs::path(m_install) / "Config" / "ManualBackup.rpr",
                       {u"#Version : 1.0.0", u"#Date : 2026/12/10", u"D\t1\tFonts:"});

    auto kovra = Start();
    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    const HWND progress = StartInstantBackup(main);
    ASSERT_NE(progress, nullptr);
    ASSERT_TRUE(uitest::Eventually([&] { return RunEnded(); }, kProgramDeadline));
    ASSERT_TRUE(PostMessageW(progress, WM_COMMAND, IDCANCEL, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(progress); }, kProgramDeadline));
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
    if (oldData)
        ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);

    const fs::path set = fs::path(m_set).parent_path() / "Fonts";
    for (const char* file : {"DejaVuSansMono.ttf", "DejaVuSerif-Bold.ttf"}) {
        const std::string cmp = "cmp -s '" + (dejavu / file).string() + "' '" + (set / file).string() + "'";
        EXPECT_EQ(std::system(cmp.c_str()), 0) << cmp << "\n" << Summary();
    }
    WCHAR display[260] = {};
    const auto ini = platform::fs::ToWindows((set / "fonts.ini").string());
    ASSERT_TRUE(ini.has_value());
    GetPrivateProfileStringW(u"Fonts", u"DejaVuSerif-Bold.ttf", u"", display, 260, ini->c_str());
    EXPECT_EQ(std::u16string(display), u"DejaVu Serif Bold (TrueType)");
}

// The way back through the real program: a backup of the odd fixture tree, then restores through the Instant
// Restore wizard to the original place and through the Expert Mode dialog's Restore page to another folder, each
// with what the user chose for files that exist. The program shows itself on a display of the test's own, where the
// restore trees are checked with the mouse as a user checks them.
class RestoreTest : public InstantBackupTest {
protected:
    static constexpr UINT ID_TRAY_INSTANT_RESTORE = 32772;

    void SetUp() override {
        InstantBackupTest::SetUp();
        ASSERT_FALSE(m_server.Display().empty()) << m_server.Error();
        m_x = std::make_unique<XScreen>(m_server.Display());
        ASSERT_NE(m_x->Screen(), nullptr);
    }
    // Starts the program on the display with the Expert Mode window set to open on its Restore page, and backs the
    // agent's root up with Instant Backup. `main` is the main dialog, null when it did not come.
    std::unique_ptr<Program> BackUpRoot(const std::u16string& root, HWND& main) {
        fs::create_directories(fs::path(m_install) / "Config");
        WriteSelectionFile(fs::path(m_install) / "Config" / "ManualBackup.rpr",
                           {u"#Version : 1.0.0", u"#Date : 2026/12/10", u"D\t1\t" + root});
        SetDword(u"Software\\VEVUVUV\\Kovra\\Expert", u"CurPage", 3);
        StoreRestorePage(1, u"", 1);
        auto kovra = StartShown();
        main = WaitForMainDialog(true);
        if (main) {
            StartInstantBackup(main, false);
            FinishRun(u"Instant Backup", u"Backup completed");
        }
        return kovra;
    }
    std::unique_ptr<Program> StartShown() {
        const char* before = std::getenv("WINLAYER_DISPLAY");
        const std::string previous = before ? before : "";
        ::setenv("WINLAYER_DISPLAY", m_server.Display().c_str(), 1);
        auto program = Start();
        if (before)
            ::setenv("WINLAYER_DISPLAY", previous.c_str(), 1);
        else
            ::unsetenv("WINLAYER_DISPLAY");
        return program;
    }

    // The odd tree of the first backup: names with blanks, Unicode, leading and trailing dots, a long name, a deep
    // path, empty folders, a read-only file and a sparse file.
    void MakeFixture() {
        m_tree = fs::path(m_source) / "Fixture";
        write("with spaces in the name.txt", "spaces");
        write("Ünïcødé ☃ ñame.txt", "unicode");
        write(".leading dot", "dot");
        write(".dot folder/inner.txt", "inner");
        write("ends with a dot.", "dot at the end");
        write("folder ending in a dot./inside.txt", "inside");
        write(std::string(251, 'n') + ".txt", "long name");
        for (int i = 0; i < 6; ++i)
            m_deep /= "a folder name of fifty characters, give or take " + std::to_string(i);
        write(m_deep / "deep file.txt", "deep");
        fs::create_directories(m_tree / "empty");
        fs::create_directories(m_tree / "emptier" / "deeper");
        write("read-only.txt", "read only");
        fs::permissions(m_tree / "read-only.txt",
                        fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        std::ofstream(m_tree / "sparse.bin");
        fs::resize_file(m_tree / "sparse.bin", 64ull << 20);
    }
    void write(const fs::path& relative, const std::string& text) {
        fs::create_directories((m_tree / relative).parent_path());
        std::ofstream(m_tree / relative, std::ios::binary) << text;
    }
    static std::string ReadFile(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }
    // The set's copy of the tree, which the restores are compared with.
    fs::path Copy() const { return fs::path(m_set) / "Fixture"; }
    static bool Same(const fs::path& a, const fs::path& b) {
        const std::string diff = "diff -r --no-dereference '" + a.string() + "' '" + b.string() + "' >&2";
        return std::system(diff.c_str()) == 0;
    }
    // Deletes and alters some of the originals after the backup.
    void DeleteAndAlter() {
        fs::remove(m_tree / "Ünïcødé ☃ ñame.txt");
        fs::remove_all(m_tree / ".dot folder");
        fs::remove_all(m_tree / "empty");
        fs::remove_all(m_tree / *m_deep.begin());
        std::ofstream(m_tree / "with spaces in the name.txt", std::ios::binary) << "changed since the backup";
        std::ofstream(m_tree / ".leading dot", std::ios::binary) << "dot, changed";
    }
    int Count(const std::u16string& text) const {
        int n = 0;
        for (const auto& item : RunLog())
            n += item.m_strEntry.Find(text.c_str()) >= 0;
        return n;
    }
    // The top-level windows with the title, other than the one given.
    static std::vector<HWND> Titled(const std::u16string& title, HWND except = nullptr) {
        std::vector<HWND> found;
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (hwnd != except && Title(hwnd) == title && IsWindowVisible(hwnd))
                found.push_back(hwnd);
        return found;
    }
    // The titles of the shown top-level windows, for a failure's message.
    static std::string ShownTitles() {
        std::string titles = "shown:";
        for (HWND hwnd = GetWindow(GetDesktopWindow(), GW_CHILD); hwnd; hwnd = GetWindow(hwnd, GW_HWNDNEXT))
            if (IsWindowVisible(hwnd))
                titles += " \"" + platform::Utf16ToUtf8(Title(hwnd)) + "\"";
        return titles;
    }
    // A click at a point of a shown window's client area (its X window is the client area), once the window has
    // come to rest at its place (a centred dialog is placed after it appears).
    void ClickIn(const std::string& title, int16_t x, int16_t y) {
        const xcb_atom_t name = m_x->Atom("_NET_WM_NAME");
        std::vector<xcb_window_t> shown;
        ASSERT_TRUE(uitest::Eventually([&] { return (shown = m_x->Shown(name, title)).size() == 1; }, kProgramDeadline))
            << title;
        auto origin = [&] {
            auto* geometry = xcb_get_geometry_reply(m_x->Conn(), xcb_get_geometry(m_x->Conn(), shown[0]), nullptr);
            std::pair<int16_t, int16_t> at{-1, -1};
            if (geometry)
                at = {geometry->x, geometry->y};
            std::free(geometry);
            return at;
        };
        std::pair<int16_t, int16_t> at{-1, -1};
        int steady = 0;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                const auto now = origin();
                steady = now == at && now.first > 0 && now.second > 0 ? steady + 1 : 0;
                at = now;
                std::this_thread::sleep_for(50ms);
                return steady >= 5;
            },
            kProgramDeadline));
        m_x->Click(static_cast<int16_t>(at.first + x), static_cast<int16_t>(at.second + y), 1);
    }
    // Waits for a copy-progress dialog with the title to end its run (its summary in the run's log, which each
    // dialog starts afresh before it shows), answering each File Error question with the button, then closes the
    // summary and the dialog.
    void FinishRun(const std::u16string& title, const std::u16string& summary, UINT nAnswer = 0) {
        HWND progress = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                auto all = Titled(title);
                progress = all.empty() ? nullptr : all.front();
                return progress != nullptr;
            },
            kProgramDeadline)) << ShownTitles();
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                for (HWND error : Titled(u"File Error"))
                    if (nAnswer)
                        PostMessageW(error, WM_COMMAND, nAnswer, 0);
                return Count(summary) > 0;
            },
            kProgramDeadline))
            << Summary();
        // The summary's message box (shown once the log holds the summary), then the dialog.
        std::vector<HWND> boxes;
        ASSERT_TRUE(uitest::Eventually([&] { return !(boxes = Titled(title, progress)).empty(); }, kProgramDeadline));
        for (HWND box : boxes)
            ASSERT_TRUE(PostMessageW(box, WM_CLOSE, 0, 0));
        ASSERT_TRUE(uitest::Eventually([&] { return Titled(title, progress).empty(); }, kProgramDeadline));
        ASSERT_TRUE(PostMessageW(progress, WM_COMMAND, IDCANCEL, 0));
        ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(progress); }, kProgramDeadline));
    }
    // The Instant Restore wizard from the tray menu: the whole set checked with a click on the box of the restore
    // tree's top item, Next, and Start with the second page as it opens: the original place, "Display a warning
    // dialog.".
    void RestoreWithWizard(HWND main, UINT nAnswer) {
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_INSTANT_RESTORE, 0));
        HWND wizard = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] { return (wizard = FindWindowW(nullptr, u"Instant Restore Wizard")) && IsWindowVisible(wizard); },
            kProgramDeadline));
        // The tree (12, 88 in dialog units of 6 x 13 pixels for 4 x 8) and its top item's box in its first row; then
        // Next (162, 229, 50 x 14), which writes the selection, and Start.
        const fs::path selection = fs::path(m_install) / "Config" / "ExpressRestore.rpr";
        fs::remove(selection);
        ClickIn("Instant Restore Wizard", 18 + 1 + 6, 143 + 1 + 6);
        ClickIn("Instant Restore Wizard", 243 + 37, 372 + 11);
        ASSERT_TRUE(uitest::Eventually([&] { return fs::exists(selection); }, kProgramDeadline));
        ASSERT_TRUE(PostMessageW(wizard, WM_COMMAND, 12325, 0));
        FinishRun(u"Instant Restore", u"Restore completed", nAnswer);
    }

    // What the Restore page reads at the start: the drive U:, the place and the overwrite choice.
    static void StoreRestorePage(DWORD dwOption, const std::u16string& dest, DWORD dwCover) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, u"Software\\VEVUVUV\\Kovra\\Expert\\Restore", 0, nullptr, 0,
                                  KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, u"DestDrive", 0, REG_SZ, reinterpret_cast<const BYTE*>(u"U:"), 6);
        RegSetValueExW(hKey, u"DestPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(dest.c_str()),
                       static_cast<DWORD>((dest.size() + 1) * 2));
        RegSetValueExW(hKey, u"RestorePathOption", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwOption), 4);
        RegSetValueExW(hKey, u"CoverOption", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwCover), 4);
        RegCloseKey(hKey);
    }
    // The Restore page of the Expert Mode dialog, shown on its tab: the whole set checked with a click on the box
    // of its tree's top item (the tree at 6, 66 in dialog units, the page below the tabs at 1, 98), then Start
    // Restore (332, 178, 80 x 16 in dialog units).
    //
    // With a function given, the drive the set's files came from is gone when Start Restore is first pressed: the
    // restore is refused with a message box and starts no run; the function then makes the drive come back, and
    // Start Restore is pressed again.
    //
    // With `answer` given, it is called once Start Restore is pressed, to answer what the page asks before the run.
    void RestoreWithPage(HWND main, const std::function<void()>& bringDriveBack = {},
                         const std::function<void()>& answer = {}) {
        ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(2312, BN_CLICKED), 0));
        HWND expert = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] { return (expert = FindWindowW(nullptr, u"Kovra - Expert Mode")) && IsWindowVisible(expert); },
            kProgramDeadline));
        ClickIn("Kovra - Expert Mode", 1 + 9 + 1 + 6, 98 + 107 + 1 + 6);
        if (bringDriveBack) {
            // A run writes its log afresh before its dialog shows: a window of that title with no log is the box.
            const fs::path log = fs::path(m_install) / "Config" / "CopyProgress.log";
            fs::remove(log);
            ClickIn("Kovra - Expert Mode", 1 + 498 + 60, 98 + 289 + 13);
            std::vector<HWND> boxes;
            ASSERT_TRUE(uitest::Eventually([&] { return !(boxes = Titled(u"Instant Restore")).empty(); },
                                           kProgramDeadline));
            EXPECT_FALSE(fs::exists(log));
            for (HWND box : boxes)
                ASSERT_TRUE(PostMessageW(box, WM_CLOSE, 0, 0));
            ASSERT_TRUE(uitest::Eventually([&] { return Titled(u"Instant Restore").empty(); }, kProgramDeadline));
            EXPECT_FALSE(fs::exists(log));
            bringDriveBack();
        }
        ClickIn("Kovra - Expert Mode", 1 + 498 + 60, 98 + 289 + 13);
        if (answer)
            answer();
        FinishRun(u"Instant Restore", u"Restore completed");
        ASSERT_TRUE(PostMessageW(expert, WM_COMMAND, 906, 0));
        ASSERT_TRUE(uitest::Eventually([&] { return IsWindowVisible(main) != FALSE; }, kProgramDeadline));
    }

    // A registry value of the test's machine, its key made when missing.
    static void SetValue(HKEY hRoot, const std::u16string& key, const char16_t* name, DWORD type, const void* data,
                         size_t size) {
        HKEY hKey = nullptr;
        ASSERT_EQ(RegCreateKeyExW(hRoot, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(hKey, name, 0, type, static_cast<const BYTE*>(data), static_cast<DWORD>(size));
        RegCloseKey(hKey);
    }
    static void SetText(HKEY hRoot, const std::u16string& key, const char16_t* name, const std::u16string& value,
                        DWORD type = REG_SZ) {
        SetValue(hRoot, key, name, type, value.c_str(), (value.size() + 1) * 2);
    }
    // A file of the user's drive C: with the bytes given.
    void WriteHome(const std::string& relative, const std::string& bytes) const {
        const fs::path path = fs::path(m_home) / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // Bytes a copy cannot get right by chance: a run of a simple generator from the seed.
    static std::string Pattern(size_t size, uint32_t seed) {
        std::string bytes(size, '\0');
        for (char& c : bytes) {
            seed = seed * 1103515245u + 12345u;
            c = static_cast<char>(seed >> 16);
        }
        return bytes;
    }

    uitest::Xvfb m_server;
    std::unique_ptr<XScreen> m_x;
    fs::path m_tree, m_deep;
};

TEST_F(RestoreTest, TheTreeComesBackToItsPlaceAndIntoAnotherFolderAsTheUserChose) {
    MakeFixture();
    const auto written = fs::last_write_time(m_tree / "ends with a dot.");
    SelectFolder(u"Fixture");
    SetDword(u"Software\\VEVUVUV\\Kovra\\Expert", u"CurPage", 3);
    StoreRestorePage(1, u"", 2);

    auto kovra = StartShown();
    HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    StartInstantBackup(main, false);
    FinishRun(u"Instant Backup", u"Backup completed");
    ASSERT_TRUE(Same(m_tree, Copy())) << Errors();
    DeleteAndAlter();

    // The Restore page to the original place while the set's drive T: is not on the computer: refused, and nothing
    // comes back. Then, with T: back, "Skip this file and continue.": what was deleted comes back, what was changed
    // stays as the user left it.
    ASSERT_TRUE(platform::fs::RemoveDrive(u'T'));
    RestoreWithPage(main, [&] {
        EXPECT_FALSE(fs::exists(m_tree / "Ünïcødé ☃ ñame.txt"));
        EXPECT_FALSE(fs::exists(m_tree / "empty"));
        platform::fs::DriveInfo drive;
        drive.letter = u'T';
        drive.hostRoot = m_source;
        drive.serial = 0x100u + u'T';
        ASSERT_TRUE(platform::fs::SetDrive(drive));
    });
    EXPECT_EQ(ReadFile(m_tree / "with spaces in the name.txt"), "changed since the backup");
    EXPECT_EQ(ReadFile(m_tree / ".leading dot"), "dot, changed");
    EXPECT_EQ(ReadFile(m_tree / "Ünïcødé ☃ ñame.txt"), "unicode");
    EXPECT_EQ(ReadFile(m_tree / m_deep / "deep file.txt"), "deep");
    EXPECT_TRUE(fs::is_directory(m_tree / "empty"));

    // The wizard to the original place with "Display a warning dialog.": each changed file is asked about, and
    // Replace brings it back.
    RestoreWithWizard(main, 2202);
    EXPECT_TRUE(Same(m_tree, Copy())) << Summary();
    // Times and the read-only attribute come back with the files.
    EXPECT_EQ(std::chrono::duration_cast<std::chrono::seconds>(
                  fs::last_write_time(m_tree / "ends with a dot.").time_since_epoch()),
              std::chrono::duration_cast<std::chrono::seconds>(written.time_since_epoch()));
    EXPECT_EQ(fs::status(m_tree / "read-only.txt").permissions() & fs::perms::owner_write, fs::perms::none);
    EXPECT_EQ(fs::file_size(m_tree / "sparse.bin"), 64ull << 20);
    ASSERT_TRUE(uitest::Eventually([&] { return PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0) != FALSE; },
                                   kProgramDeadline))
        << Errors();
    EXPECT_EQ(kovra->Wait(), 0);

    // The next start: the Restore page into another folder with each file's path in the set, overwriting what is
    // there.
    const fs::path elsewhere = fs::path(m_target) / "Elsewhere";
    fs::create_directories(elsewhere / "Disk T" / "Fixture");
    std::ofstream(elsewhere / "Disk T" / "Fixture" / "ends with a dot.") << "something else entirely";
    StoreRestorePage(3, u"U:\\Elsewhere", 1);
    kovra = StartShown();
    main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr);
    RestoreWithPage(main);
    EXPECT_TRUE(Same(m_tree, elsewhere / "Disk T" / "Fixture")) << Summary();
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
}

// The user's fonts through the real program: two fonts in the user's font folder are backed up with the Fonts root
// checked, removed, and restored through the Restore page to their place; fontconfig lists them again.
TEST_F(RestoreTest, FontsComeBackToTheUsersFontFolderAndAreListedAgain) {
    const char* oldData = std::getenv("XDG_DATA_HOME");
    const std::string savedData = oldData ? oldData : "";
    ::unsetenv("XDG_DATA_HOME");
    const fs::path fonts = fs::path(m_home) / ".local" / "share" / "fonts";
    fs::create_directories(fonts);
    const fs::path dejavu = "/usr/share/fonts/truetype/dejavu";
    const std::vector<std::string> files = {"DejaVuSansMono.ttf", "DejaVuSerif-Bold.ttf"};
    for (const auto& file : files)
        fs::copy_file(dejavu / file, fonts / file);
    // The font files fontconfig lists for this user.
    auto listed = [&] {
        std::set<std::string> found;
        if (FILE* pipe = popen("fc-list --format '%{file}\\n' 2>/dev/null", "r")) {
            char line[4096];
            while (std::fgets(line, sizeof line, pipe)) {
                std::string path = line;
                while (!path.empty() && (path.back() == '\n' || path.back() == '\r'))
                    path.pop_back();
                if (fs::path(path).parent_path() == fonts)
                    found.insert(fs::path(path).filename().string());
            }
            pclose(pipe);
        }
        return found;
    };
    const std::set<std::string> all(files.begin(), files.end());
    ASSERT_EQ(std::system(("fc-cache '" + fonts.string() + "'").c_str()), 0);
    ASSERT_EQ(listed(), all);
    HWND main = nullptr;
    auto kovra = BackUpRoot(u"Fonts:", main);
    ASSERT_NE(main, nullptr);
    for (const auto& file : files)
        ASSERT_TRUE(fs::remove(fonts / file)) << Summary();
    ASSERT_EQ(std::system(("fc-cache '" + fonts.string() + "'").c_str()), 0);
    ASSERT_TRUE(listed().empty());

    RestoreWithPage(main);
    for (const auto& file : files) {
        const std::string cmp = "cmp -s '" + (dejavu / file).string() + "' '" + (fonts / file).string() + "'";
        EXPECT_EQ(std::system(cmp.c_str()), 0) << cmp << "\n" << Summary();
    }
    // fontconfig lists them again.
    EXPECT_EQ(listed(), all) << Summary();
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
    if (oldData)
        ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}

// A registry subtree as (type, bytes) per value name, per key path below the subtree's own key ("" for the key).
using RegTree = std::map<std::u16string, std::map<std::u16string, std::pair<DWORD, std::vector<BYTE>>>>;

// The live subtree, enumerated.
void ReadLive(HKEY hRoot, const std::u16string& path, const std::u16string& below, RegTree& tree) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hRoot, path.c_str(), 0, KEY_READ, &hKey) != ERROR_SUCCESS)
        return;
    auto& values = tree[below];
    for (DWORD i = 0;; ++i) {
        WCHAR name[512] = {};
        DWORD nameLength = 512, type = 0, size = 0;
        if (RegEnumValueW(hKey, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameLength = 512;
        RegEnumValueW(hKey, i, name, &nameLength, nullptr, &type, data.data(), &size);
        data.resize(size);
        values[name] = {type, data};
    }
    std::vector<std::u16string> subkeys;
    for (DWORD i = 0;; ++i) {
        WCHAR name[512] = {};
        DWORD nameLength = 512;
        if (RegEnumKeyExW(hKey, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        subkeys.emplace_back(name);
    }
    RegCloseKey(hKey);
    for (const auto& subkey : subkeys)
        ReadLive(hRoot, path + u"\\" + subkey, below.empty() ? subkey : below + u"\\" + subkey, tree);
}

// Deletes a live subtree, its deepest keys first.
void DeleteLive(HKEY hRoot, const std::u16string& path) {
    RegTree tree;
    ReadLive(hRoot, path, u"", tree);
    for (auto it = tree.rbegin(); it != tree.rend(); ++it)
        ASSERT_EQ(RegDeleteKeyW(hRoot, (it->first.empty() ? path : path + u"\\" + it->first).c_str()), ERROR_SUCCESS)
            << platform::Utf16ToUtf8(it->first);
}

// The same subtree from a registry export file: UTF-16LE after a byte-order mark, CR LF line ends; key blocks
// "[name]" ... "[/name]" (the outermost with its full path), value lines name="...",type="...",value="..." whose
// text is continued over lines ending in a backslash; leading blanks are indentation. A value the named types
// would not bring back whole has the type "hex(N)": its bytes as REG_BINARY writes them, registry type N, and a
// name in which every character that could break the line is a backslash and four hexadecimal digits (as in an
// inner key name that holds one).
bool ReadExport(const fs::path& file, RegTree& tree) {
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != 0xFF || static_cast<unsigned char>(bytes[1]) != 0xFE)
        return false;
    std::u16string text;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                             (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    auto hex = [](char16_t c) -> int {
        if (c >= u'0' && c <= u'9')
            return c - u'0';
        if (c >= u'a' && c <= u'f')
            return c - u'a' + 10;
        if (c >= u'A' && c <= u'F')
            return c - u'A' + 10;
        return 0;
    };
    auto unescape = [&](const std::u16string& name) {
        std::u16string plain;
        for (size_t i = 0; i < name.size(); ++i) {
            if (name[i] == u'\\' && i + 4 < name.size()) {
                plain.push_back(static_cast<char16_t>(hex(name[i + 1]) << 12 | hex(name[i + 2]) << 8 |
                                                      hex(name[i + 3]) << 4 | hex(name[i + 4])));
                i += 4;
            } else {
                plain.push_back(name[i]);
            }
        }
        return plain;
    };
    std::vector<std::u16string> keys;
    size_t at = 0;
    while (at < text.size()) {
        // One logical line from its physical lines.
        std::u16string line;
        for (;;) {
            const size_t end = text.find(u"\r\n", at);
            if (end == std::u16string::npos)
                return keys.empty();
            std::u16string piece = text.substr(at, end - at);
            at = end + 2;
            piece.erase(0, piece.find_first_not_of(u" \t") == std::u16string::npos ? piece.size()
                                                                                    : piece.find_first_not_of(u" \t"));
            if (!piece.empty() && piece.back() == u'\\') {
                line += piece.substr(0, piece.size() - 1);
                continue;
            }
            line += piece;
            break;
        }
        if (line.starts_with(u"[/")) {
            if (keys.empty())
                return false;
            keys.pop_back();
            continue;
        }
        if (line.starts_with(u"[")) {
            keys.push_back(keys.empty() ? line.substr(1, line.find(u']') - 1) : unescape(line.substr(1, line.find(u']') - 1)));
            std::u16string below;
            for (size_t i = 1; i < keys.size(); ++i)
                below += (i > 1 ? u"\\" : u"") + keys[i];
            tree[below];
            continue;
        }
        const size_t nameAt = line.find(u"name=\"");
        const size_t typeAt = line.find(u"\",type=\"");
        const size_t valueAt = line.find(u"\",value=\"");
        if (keys.empty() || nameAt != 0 || typeAt == std::u16string::npos || valueAt == std::u16string::npos ||
            line.back() != u'"')
            return false;
        std::u16string name = line.substr(6, typeAt - 6);
        const std::u16string typeName = line.substr(typeAt + 8, valueAt - typeAt - 8);
        const std::u16string value = line.substr(valueAt + 9, line.size() - valueAt - 10);
        DWORD type = REG_SZ;
        std::vector<BYTE> data;
        auto chars = [&](const std::u16string& s) {
            for (char16_t c : s) {
                data.push_back(static_cast<BYTE>(c & 0xFF));
                data.push_back(static_cast<BYTE>(c >> 8));
            }
        };
        if (typeName == u"REG_BINARY" || typeName.starts_with(u"hex(")) {
            type = REG_BINARY;
            if (typeName.starts_with(u"hex(")) {
                type = static_cast<DWORD>(std::stoul(platform::Utf16ToUtf8(typeName.substr(4))));
                name = unescape(name);
            }
            for (size_t j = 0; j + 1 < value.size(); j += 3)
                data.push_back(static_cast<BYTE>(hex(value[j]) * 16 + hex(value[j + 1])));
            if (value.empty() && type == REG_BINARY)
                data.push_back(0);
        } else if (typeName == u"REG_DWORD") {
            type = REG_DWORD;
            data.assign(4, 0);
            for (int j = 0; j < 4 && value.size() >= 10; ++j)
                data[3 - j] = static_cast<BYTE>(hex(value[2 + 2 * j]) * 16 + hex(value[3 + 2 * j]));
        } else if (typeName == u"REG_MULTI_SZ") {
            type = REG_MULTI_SZ;
            std::u16string zeros = value;
            for (auto& c : zeros)
                if (c == u'\r')
                    c = 0;
            chars(zeros);
        } else {
            type = typeName == u"REG_EXPAND_SZ" ? REG_EXPAND_SZ : REG_SZ;
            chars(value + u'\0');
        }
        std::u16string below;
        for (size_t i = 1; i < keys.size(); ++i)
            below += (i > 1 ? u"\\" : u"") + keys[i];
        tree[below][name] = {type, data};
    }
    return keys.empty();
}

// Windows Mail through the real program, on the data a Windows Vista user has: its store folder and its three
// registry subtrees are backed up with the Windows Mail root checked, wiped, and restored through the Restore page.
TEST_F(RestoreTest, WindowsMailStoreAndSettingsComeBackWhole) {
    auto write = [&](const std::string& relative, const std::string& bytes) { WriteHome(relative, bytes); };
    auto set = [](const std::u16string& key, const char16_t* name, DWORD type, const void* data, size_t size) {
        SetValue(HKEY_CURRENT_USER, key, name, type, data, size);
    };
    auto text = [&](const std::u16string& key, const char16_t* name, const std::u16string& value,
                    DWORD type = REG_SZ) { SetText(HKEY_CURRENT_USER, key, name, value, type); };
    write("Program Files/Windows Mail/WinMail.exe", "MZ");
    SetText(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\WinMail.exe", nullptr,
            u"C:\\Program Files\\Windows Mail\\WinMail.exe");
    text(u"Software\\Microsoft\\Windows Mail", u"Store Root", u"C:\\AppData\\Local\\Microsoft\\Windows Mail",
         REG_EXPAND_SZ);
    const DWORD one = 1;
    set(u"Software\\Microsoft\\Windows Mail", u"Store Migrated", REG_DWORD, &one, 4);
    std::vector<BYTE> blob(70);
    for (size_t i = 0; i < blob.size(); ++i)
        blob[i] = static_cast<BYTE>(i * 37 + 1);
    set(u"Software\\Microsoft\\Windows Mail\\Mail", u"Frame Pos", REG_BINARY, blob.data(), blob.size());
    text(u"Software\\Microsoft\\Windows Mail\\Signatures\\00000000", u"text", u"Ann\r\nKovra tester");
    text(u"Identities", u"Default User ID", u"{A1B2C3D4-0000-1111-2222-333344445555}");
    text(u"Identities\\{A1B2C3D4-0000-1111-2222-333344445555}", u"Username", u"Main Identity");
    const char16_t multi[] = u"pop3\0smtp\0";
    set(u"Software\\Microsoft\\IAM\\Accounts\\00000001", u"Kinds", REG_MULTI_SZ, multi, sizeof multi);
    text(u"Software\\Microsoft\\IAM\\Accounts\\00000001", u"Account Name", u"mail.example.org");
    const std::string store = "AppData/Local/Microsoft/Windows Mail";
    write(store + "/WindowsMail.MSMessageStore", std::string(100000, 's'));
    write(store + "/Local Folders/Inbox/{3A0E1F2B}.eml", "Subject: hello\r\n\r\nfirst");
    write(store + "/Local Folders/Sent Items/{77AA0011}.eml", "Subject: re\r\n\r\nsecond");
    write(store + "/Contacts/Ann.contact", "<contact/>");
    const fs::path live = fs::path(m_home) / store;
    const fs::path saved = fs::path(m_machine.Scratch("store as it was"));
    fs::copy(live, saved, fs::copy_options::recursive);
    // The three subtrees and the files the backup keeps them in.
    const struct {
        const char16_t* key;
        const char* file;
    } subtrees[] = {{u"Software\\Microsoft\\Windows Mail", "WindowsMailMain"},
                    {u"Identities", "Identities"},
                    {u"Software\\Microsoft\\IAM", "IAM"}};
    std::map<std::string, RegTree> before;
    for (const auto& subtree : subtrees)
        ReadLive(HKEY_CURRENT_USER, subtree.key, u"", before[subtree.file]);
    HWND main = nullptr;
    auto kovra = BackUpRoot(u"WindowsMail:", main);
    ASSERT_NE(main, nullptr);
    // The subtrees as the backup wrote them read back as they were.
    const fs::path reg = fs::path(m_set).parent_path() / "WindowsMail" / "KovraWMReg";
    for (const auto& subtree : subtrees) {
        RegTree exported;
        EXPECT_TRUE(ReadExport(reg / subtree.file, exported)) << subtree.file << "\n" << Summary();
        EXPECT_EQ(exported, before[subtree.file]) << subtree.file;
    }

    // The data goes: the store, and the settings.
    fs::remove_all(live);
    for (const auto& subtree : subtrees)
        DeleteLive(HKEY_CURRENT_USER, subtree.key);
    RestoreWithPage(main);
    EXPECT_TRUE(Same(saved, live)) << Summary();
    for (const auto& subtree : subtrees) {
        RegTree after;
        ReadLive(HKEY_CURRENT_USER, subtree.key, u"", after);
        EXPECT_EQ(after, before[subtree.file]) << subtree.file << "\n" << Summary();
    }
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
}

// Starts the stand-in mail client as "outlook.exe" on T: (a lower-case name, as the client may well be started); its
// process handle, or null.
HANDLE StartMailClient(const std::string& folder) {
    const fs::path program = fs::path(folder) / "outlook.exe";
    fs::copy_file(KOVRA_MAIL_CLIENT, program, fs::copy_options::overwrite_existing);
    fs::permissions(program, fs::perms::owner_all, fs::perm_options::add);
    std::u16string line = u"T:\\outlook.exe";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
        return nullptr;
    CloseHandle(info.hThread);
    return info.hProcess;
}

// Outlook through the real program, on the data an Outlook user has: a default mail profile naming two personal
// folder files and the client's program path. The files are backed up with the Outlook root checked, wiped, and
// restored through the Restore page to the paths recorded at the backup, while the client runs: the page asks
// about it, OK closes it, and the files come back only then.
TEST_F(RestoreTest, OutlookStoresComeBackToTheirPlacesOnceTheRunningClientIsClosed) {
    // Every program sees every "outlook.exe" of the computer: no other test may run one meanwhile, from the backup
    // (which would ask about it) to the end.
    testsupport::ScopedSharedResource outlook("outlook-exe");
    ASSERT_TRUE(outlook.Held());
    const std::u16string profiles =
        u"Software\\Microsoft\\Windows NT\\CurrentVersion\\Windows Messaging Subsystem\\Profiles";
    WriteHome("Program Files/Microsoft Office/OFFICE11/OUTLOOK.EXE", "MZ");
    SetText(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Outlook.exe", nullptr,
            u"C:\\Program Files\\Microsoft Office\\OFFICE11\\OUTLOOK.EXE");
    SetText(HKEY_CURRENT_USER, profiles, u"DefaultProfile", u"Outlook");
    const struct {
        const char16_t* service; // the profile's sub-key of the store's message service
        const char16_t* path;
        const char* file; // on C:
        std::string bytes;
    } stores[] = {
        {u"13dbb0c8aa05101a9bb000aa002fc45a", u"C:\\Local Settings\\Application Data\\Microsoft\\Outlook\\Outlook.pst",
         "Local Settings/Application Data/Microsoft/Outlook/Outlook.pst", Pattern(300000, 7)},
        {u"8503020000000000c000000000000046", u"C:\\Mail\\Archive 2025.pst", "Mail/Archive 2025.pst",
         Pattern(4321, 11)},
    };
    for (const auto& store : stores) {
        const std::u16string key = profiles + u"\\Outlook\\" + store.service;
        const std::u16string path = store.path;
        SetValue(HKEY_CURRENT_USER, key, u"001f6700", REG_BINARY, path.c_str(), (path.size() + 1) * 2);
        const std::u16string display = u"Personal Folders";
        SetValue(HKEY_CURRENT_USER, key, u"001f3001", REG_BINARY, display.c_str(), (display.size() + 1) * 2);
        WriteHome(store.file, store.bytes);
    }
    // A service without a store of its own.
    const DWORD flags = 0x10;
    SetValue(HKEY_CURRENT_USER, profiles + u"\\Outlook\\9207f3e0a3b11019908b08002b2a56c2", u"00033009", REG_BINARY,
             &flags, 4);
    RegTree profile;
    ReadLive(HKEY_CURRENT_USER, profiles, u"", profile);
    HWND main = nullptr;
    auto kovra = BackUpRoot(u"Outlook:", main);
    ASSERT_NE(main, nullptr);
    // The set holds each file under its own name and its path in "outlook.ini".
    const fs::path set = fs::path(m_set).parent_path() / "Outlook";
    const auto ini = platform::fs::ToWindows((set / "outlook.ini").string());
    ASSERT_TRUE(ini.has_value());
    for (const auto& store : stores) {
        const fs::path file = fs::path(store.file).filename();
        EXPECT_TRUE(ReadFile(set / file) == store.bytes) << file << "\n" << Summary();
        WCHAR recorded[260] = {};
        GetPrivateProfileStringW(u"PSTPath", platform::Utf8ToUtf16(file.string()).c_str(), u"", recorded, 260,
                                 ini->c_str());
        EXPECT_EQ(std::u16string(recorded), store.path);
    }

    // The files go; the client is started again before the restore.
    for (const auto& store : stores)
        ASSERT_TRUE(fs::remove(fs::path(m_home) / store.file));
    struct Client {
        HANDLE process = nullptr;
        ~Client() {
            if (process && WaitForSingleObject(process, 0) != WAIT_OBJECT_0) {
                TerminateProcess(process, 1);
                WaitForSingleObject(process, INFINITE);
            }
            if (process)
                CloseHandle(process);
        }
    } client{StartMailClient(m_source)};
    ASSERT_NE(client.process, nullptr) << GetLastError();
    ASSERT_TRUE(uitest::Eventually([] { return FindWindowW(u"AgentsTestClient", nullptr) != nullptr; },
                                   kProgramDeadline));
    bool asked = false;
    RestoreWithPage(main, {}, [&] {
        // "Outlook is running. ...": OK. The close gives the client a second to end; on a loaded machine it may
        // need longer, and "Closing Outlook failed." is then answered with Try Again until it has ended.
        HWND question = nullptr;
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                const auto boxes = Titled(u"Kovra");
                question = boxes.empty() ? nullptr : boxes.front();
                return question != nullptr;
            },
            kProgramDeadline));
        asked = true;
        EXPECT_NE(WaitForSingleObject(client.process, 0), WAIT_OBJECT_0) << "the client ended before it was asked";
        ASSERT_TRUE(PostMessageW(question, WM_COMMAND, IDOK, 0));
        std::set<HWND> answered{question};
        ASSERT_TRUE(uitest::Eventually(
            [&] {
                for (HWND box : Titled(u"Kovra"))
                    if (answered.insert(box).second)
                        PostMessageW(box, WM_COMMAND, IDTRYAGAIN, 0);
                return !Titled(u"Instant Restore").empty();
            },
            kProgramDeadline));
        // The run starts only once the client has ended.
        EXPECT_EQ(WaitForSingleObject(client.process, 0), WAIT_OBJECT_0);
    });
    EXPECT_TRUE(asked);
    for (const auto& store : stores)
        EXPECT_TRUE(ReadFile(fs::path(m_home) / store.file) == store.bytes) << store.file << "\n" << Summary();
    // The profile that names them is as it was.
    RegTree after;
    ReadLive(HKEY_CURRENT_USER, profiles, u"", after);
    EXPECT_EQ(after, profile);
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
}

// Where the Select Identity dialog has its list's rows and its OK button, in client coordinates of the dialog: the
// dialog built here from the program's own template, its list set up and filled as the dialog does it.
struct IdentityDialogLayout {
    std::vector<POINT> rows;
    POINT ok = {};
    bool ok_ = false;
};

IdentityDialogLayout MeasureIdentityDialog(HMODULE resources, int nRows) {
    IdentityDialogLayout layout;
    HWND dialog = CreateDialogParamW(resources, MAKEINTRESOURCEW(2400), nullptr, e2e::QuietDialogProc, 0);
    if (!dialog)
        return layout;
    auto centre = [&](HWND control) {
        RECT rc{};
        GetWindowRect(control, &rc);
        POINT pt{(rc.left + rc.right) / 2, (rc.top + rc.bottom) / 2};
        ScreenToClient(dialog, &pt);
        return pt;
    };
    HWND list = GetDlgItem(dialog, 2405);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0,
                 SendMessageW(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0) | LVS_EX_FULLROWSELECT);
    RECT client{};
    GetClientRect(list, &client);
    LVCOLUMNW column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    column.fmt = LVCFMT_LEFT;
    column.cx = client.right - client.left;
    column.pszText = const_cast<LPWSTR>(u"Heading 1");
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    for (int i = 0; i < nRows; ++i) {
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<LPWSTR>(u"Identity");
        SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item));
        RECT rc{};
        rc.left = LVIR_LABEL;
        if (!SendMessageW(list, LVM_GETITEMRECT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&rc))) {
            DestroyWindow(dialog);
            return layout;
        }
        POINT pt{rc.left + 12, (rc.top + rc.bottom) / 2};
        MapWindowPoints(list, dialog, &pt, 1);
        layout.rows.push_back(pt);
    }
    layout.ok = centre(GetDlgItem(dialog, IDOK));
    layout.ok_ = true;
    DestroyWindow(dialog);
    return layout;
}

// The user names of this computer's identities that have been used, in the order the registry lists them.
std::vector<std::u16string> UsedIdentities() {
    std::vector<std::u16string> names;
    HKEY hIdentities = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Identities", 0, KEY_READ, &hIdentities) != ERROR_SUCCESS)
        return names;
    for (DWORD i = 0;; ++i) {
        WCHAR id[256] = {};
        DWORD length = 256;
        if (RegEnumKeyExW(hIdentities, i, id, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        const std::u16string key = std::u16string(u"Identities\\") + id;
        DWORD checked = 0, size = 4;
        HKEY hMail = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, (key + u"\\Software\\Microsoft\\Outlook Express\\5.0\\Mail").c_str(), 0,
                          KEY_READ, &hMail) == ERROR_SUCCESS) {
            RegQueryValueExW(hMail, u"Accounts Checked", nullptr, nullptr, reinterpret_cast<BYTE*>(&checked), &size);
            RegCloseKey(hMail);
        }
        HKEY hIdentity = nullptr;
        WCHAR name[256] = {};
        DWORD nameSize = sizeof name;
        if (checked && RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &hIdentity) == ERROR_SUCCESS) {
            if (RegQueryValueExW(hIdentity, u"Username", nullptr, nullptr, reinterpret_cast<BYTE*>(name), &nameSize) ==
                ERROR_SUCCESS)
                names.emplace_back(name);
            RegCloseKey(hIdentity);
        }
    }
    RegCloseKey(hIdentities);
    return names;
}

// Outlook Express through the real program, on a Windows XP user's data: two identities, each with its store folder
// of ".DBX" files, accounts, signature, message rule and blocked sender, and the address book. They are backed up
// with the Outlook Express root checked and wiped; this computer then has two identities of its own, and the
// Restore page brings each source identity into the one the user picks for it in the Select Identity dialog with
// the mouse, crossed: Ann's data into Bob Home and Bob's into Ann Home.
TEST_F(RestoreTest, OutlookExpressIdentitiesComeBackIntoTheIdentitiesPickedInTheDialog) {
    std::ofstream(platform::machine::PathOf("version")) << "platform=2\nmajor=5\nminor=1\nbuild=2600\n";
    platform::fs::DriveInfo bin;
    bin.letter = u'B';
    bin.hostRoot = apptest::ExeFolder();
    ASSERT_TRUE(platform::fs::SetDrive(bin));
    HMODULE resources = LoadLibraryW(u"B:\\kovra_resources\\kovra.dll");
    ASSERT_NE(resources, nullptr);
    const IdentityDialogLayout dialog = MeasureIdentityDialog(resources, 2);
    FreeLibrary(resources);
    ASSERT_TRUE(dialog.ok_);

    const std::u16string oe = u"Software\\Microsoft\\Outlook Express\\5.0";
    const std::u16string iam = u"Software\\Microsoft\\Internet Account Manager";
    auto id = [](const char16_t* identity, const std::u16string& below = u"") {
        return std::u16string(u"Identities\\") + identity + (below.empty() ? u"" : u"\\" + below);
    };
    auto text = [](const std::u16string& key, const char16_t* name, const std::u16string& value,
                   DWORD type = REG_SZ) { SetText(HKEY_CURRENT_USER, key, name, value, type); };
    auto number = [](const std::u16string& key, const char16_t* name, DWORD value) {
        SetValue(HKEY_CURRENT_USER, key, name, REG_DWORD, &value, 4);
    };
    // An identity that has been used, with its store folder; with `parts`, its signature, rule and blocked sender.
    auto identity = [&](const char16_t* identityId, const std::u16string& name, const std::string& folder,
                        bool parts) {
        text(id(identityId), u"Username", name);
        number(id(identityId, oe + u"\\Mail"), u"Accounts Checked", 1);
        std::u16string store = u"C:\\" + platform::Utf8ToUtf16(folder);
        std::replace(store.begin(), store.end(), u'/', u'\\');
        text(id(identityId, oe), u"Store Root", store, REG_EXPAND_SZ);
        fs::create_directories(fs::path(m_home) / folder);
        if (!parts)
            return;
        text(id(identityId, oe + u"\\signatures"), u"Default Signature", u"00000000");
        text(id(identityId, oe + u"\\signatures\\00000000"), u"text", name + u"\r\n-- sent with care");
        number(id(identityId, oe + u"\\signatures\\00000000"), u"type", 1);
        number(id(identityId, oe + u"\\Rules\\Mail\\000"), u"Enabled", 1);
        const BYTE criteria[] = {0x02, 0x00, 0x00, 0x00, 0x10, 0x20, 0x00, 0xFF};
        SetValue(HKEY_CURRENT_USER, id(identityId, oe + u"\\Rules\\Mail\\000"), u"Criteria", REG_BINARY, criteria,
                 sizeof criteria);
        text(id(identityId, oe + u"\\Rules\\Mail\\000"), u"Name", u"From " + name + u"'s boss");
        text(id(identityId, oe + u"\\Block Senders\\Mail\\Criteria\\0"), u"Value", name + u"-spam@example.com");
    };
    constexpr const char16_t* kAnn = u"{11111111-AAAA-4000-8000-000000000001}";
    constexpr const char16_t* kBob = u"{22222222-BBBB-4000-8000-000000000002}";
    constexpr const char16_t* kAnnHome = u"{33333333-CCCC-4000-8000-000000000003}";
    constexpr const char16_t* kBobHome = u"{44444444-DDDD-4000-8000-000000000004}";
    WriteHome("Program Files/Outlook Express/msimn.exe", "MZ");
    SetText(HKEY_LOCAL_MACHINE, u"Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\msimn.exe", nullptr,
            u"C:\\Program Files\\Outlook Express\\msimn.exe");
    text(u"Identities", u"Default User ID", kAnn);
    identity(kAnn, u"Ann", "Documents and Settings/Ann/Outlook Express", true);
    identity(kBob, u"Bob", "Documents and Settings/Bob/Outlook Express", true);
    // Ann is the default identity: her accounts are the plain account manager's; Bob's are his identity's own.
    text(iam + u"\\Accounts\\00000001", u"Account Name", u"ann.example");
    number(iam + u"\\Accounts\\00000001", u"POP3 Port", 110);
    text(id(kBob, iam + u"\\Accounts\\00000001"), u"Account Name", u"bob.example");
    text(id(kBob, iam + u"\\Accounts\\00000002"), u"SMTP Server", u"smtp.bob.example");
    text(u"Software\\Microsoft\\WAB\\WAB4\\Wab File Name", nullptr, u"C:\\Documents and Settings\\Ann\\Ann.wab");
    const std::string book = Pattern(6000, 3);
    WriteHome("Documents and Settings/Ann/Ann.wab", book);
    std::map<std::string, std::map<std::string, std::string>> stores; // who, file, bytes
    uint32_t seed = 20;
    for (const char* who : {"Ann", "Bob"})
        for (const char* file : {"Inbox.dbx", "Folders.dbx", "Sent Items.dbx", "Offline.dbx"}) {
            stores[who][file] = Pattern(2000 + 700 * seed % 5000, seed);
            ++seed;
            WriteHome(std::string("Documents and Settings/") + who + "/Outlook Express/" + file, stores[who][file]);
        }
    auto storeOf = [&](const std::string& folder) {
        std::map<std::string, std::string> files;
        if (fs::exists(fs::path(m_home) / folder))
            for (const auto& entry : fs::directory_iterator(fs::path(m_home) / folder))
                files[entry.path().filename().string()] = ReadFile(entry.path());
        return files;
    };
    // Each source identity's registry parts as they were, by the file the backup keeps them in.
    std::map<std::u16string, std::map<std::string, RegTree>> parts;
    for (const auto& [who, identityId, accounts] : {std::tuple{u"Ann", kAnn, iam}, std::tuple{u"Bob", kBob, id(kBob, iam)}}) {
        ReadLive(HKEY_CURRENT_USER, accounts, u"", parts[who]["Account Settings"]);
        ReadLive(HKEY_CURRENT_USER, id(identityId, oe + u"\\signatures"), u"", parts[who]["Signatures"]);
        ReadLive(HKEY_CURRENT_USER, id(identityId, oe + u"\\Rules"), u"", parts[who]["Message Rules"]);
        ReadLive(HKEY_CURRENT_USER, id(identityId, oe + u"\\Block Senders"), u"", parts[who]["Block Sender"]);
    }
    HWND main = nullptr;
    auto kovra = BackUpRoot(u"OutlookExpress:", main);
    ASSERT_NE(main, nullptr);
    // The set: the address book, each identity's store, its registry parts as they were, and its line in "oe.ini".
    const fs::path set = fs::path(m_set).parent_path() / "OutlookExpress";
    EXPECT_TRUE(ReadFile(set / "AddressBook.wab") == book) << Summary();
    const auto ini = platform::fs::ToWindows((set / "oe.ini").string());
    ASSERT_TRUE(ini.has_value());
    for (const auto& [who, identityId] : {std::pair{u"Ann", kAnn}, std::pair{u"Bob", kBob}}) {
        const std::string folder = platform::Utf16ToUtf8(who);
        for (const auto& [file, bytes] : stores[folder])
            EXPECT_TRUE(ReadFile(set / folder / "Mailbox" / file) == bytes) << folder << " " << file;
        for (const auto& [file, tree] : parts[who]) {
            RegTree exported;
            EXPECT_TRUE(ReadExport(set / folder / file, exported)) << folder << " " << file << "\n" << Summary();
            EXPECT_EQ(exported, tree) << folder << " " << file;
        }
        WCHAR line[260] = {};
        GetPrivateProfileStringW(u"OutlookExpress", who, u"", line, 260, ini->c_str());
        EXPECT_EQ(std::u16string(line), identityId);
    }

    // The identities go with their stores, accounts and address book. This computer now has two identities of its
    // own, used but with no signature, rule or blocked sender yet, and one never used, which is not offered.
    DeleteLive(HKEY_CURRENT_USER, u"Identities");
    DeleteLive(HKEY_CURRENT_USER, iam);
    fs::remove_all(fs::path(m_home) / "Documents and Settings");
    text(u"Identities", u"Default User ID", kAnnHome);
    identity(kAnnHome, u"Ann Home", "Home/Ann Home/Store", false);
    identity(kBobHome, u"Bob Home", "Home/Bob Home/Store", false);
    text(id(u"{55555555-EEEE-4000-8000-000000000005}"), u"Username", u"Unused");
    const std::vector<std::u16string> offered = UsedIdentities();
    ASSERT_EQ(offered.size(), 2u);
    auto row = [&](const std::u16string& name) {
        const size_t at = static_cast<size_t>(std::find(offered.begin(), offered.end(), name) - offered.begin());
        return dialog.rows.at(at);
    };

    RestoreWithPage(main, {}, [&] {
        // The sources are shown in the set's order, Ann first: a click on the row of the identity chosen for each,
        // then OK.
        // A click on the row of the identity chosen for each, then Enter for OK. The key is taken after the click
        // in the dialog's own order, where a click on OK could be lost: OK is disabled until a row is selected, and
        // the list keeps the mouse until it has handled its click.
        for (const char16_t* target : {u"Bob Home", u"Ann Home"}) {
            const POINT at = row(target);
            ClickIn("Select Identity", static_cast<int16_t>(at.x), static_cast<int16_t>(at.y));
            ASSERT_TRUE(m_x->Key(0xFF0D));
        }
    });
    EXPECT_TRUE(storeOf("Home/Bob Home/Store") == stores["Ann"]) << Summary();
    EXPECT_TRUE(storeOf("Home/Ann Home/Store") == stores["Bob"]) << Summary();
    EXPECT_TRUE(ReadFile(fs::path(m_home) / "Documents and Settings/Ann/Ann.wab") == book);
    // Ann's parts under Bob Home's keys, her accounts his own; Bob's under Ann Home's, his accounts now the default
    // identity's plain ones.
    for (const auto& [who, target, accounts] :
         {std::tuple{u"Ann", kBobHome, id(kBobHome, iam)}, std::tuple{u"Bob", kAnnHome, iam}}) {
        std::map<std::string, RegTree> now;
        ReadLive(HKEY_CURRENT_USER, accounts, u"", now["Account Settings"]);
        ReadLive(HKEY_CURRENT_USER, id(target, oe + u"\\signatures"), u"", now["Signatures"]);
        ReadLive(HKEY_CURRENT_USER, id(target, oe + u"\\Rules"), u"", now["Message Rules"]);
        ReadLive(HKEY_CURRENT_USER, id(target, oe + u"\\Block Senders"), u"", now["Block Sender"]);
        for (const auto& [file, tree] : parts[who])
            EXPECT_EQ(now[file], tree) << platform::Utf16ToUtf8(who) << " " << file << "\n" << Summary();
    }
    // The identity never used got nothing.
    RegTree unused;
    ReadLive(HKEY_CURRENT_USER, id(u"{55555555-EEEE-4000-8000-000000000005}"), u"", unused);
    EXPECT_EQ(unused.size(), 1u);
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0);
}

TEST_F(KovraTest, TheMainMenuShowsItsBannerAndFourButtonsAndEachOpensWhatItShould) {
    uitest::Xvfb server;
    ASSERT_FALSE(server.Display().empty()) << server.Error();
    XScreen x(server.Display());
    ASSERT_NE(x.Screen(), nullptr) << "cannot connect to " << server.Display();
    // Any drive may take a backup, so that Instant Backup opens its wizard without the enclosure.
    WriteMainIni("DriveType=1\n");
    const char* before = std::getenv("WINLAYER_DISPLAY");
    const std::string previous = before ? before : "";
    ::setenv("WINLAYER_DISPLAY", server.Display().c_str(), 1);
    // Started from another folder, which has a picture of that name of its own: the program's folder counts.
    const fs::path elsewhere = m_machine.Scratch("elsewhere");
    std::ofstream(elsewhere / "bg_main.bmp") << "not a picture";
    const fs::path oldCwd = fs::current_path();
    fs::current_path(elsewhere);
    auto kovra = Start();
    fs::current_path(oldCwd);
    if (before)
        ::setenv("WINLAYER_DISPLAY", previous.c_str(), 1);
    else
        ::unsetenv("WINLAYER_DISPLAY");

    const HWND main = WaitForMainDialog(true);
    ASSERT_NE(main, nullptr) << Errors();
    const xcb_atom_t name = x.Atom("_NET_WM_NAME");
    ASSERT_TRUE(uitest::Eventually([&] { return x.Shown(name, "Kovra - Main Menu").size() == 1; }, kProgramDeadline));

    // The picture of the main menu as it was shown, kept beside the tests.
    std::vector<fs::path> pictures;
    ASSERT_TRUE(uitest::Eventually([&] { return !(pictures = Pictures("_32770")).empty(); }, kProgramDeadline));
    const fs::path artifacts = fs::path(KOVRA_TEST_ARTIFACTS);
    fs::create_directories(artifacts);
    fs::copy_file(pictures.back(), artifacts / "main_menu.png", fs::copy_options::overwrite_existing);
    const Bitmap picture = ReadPng(pictures.back());
    const Bitmap banner = ReadBmp(fs::path(KOVRA_PROGRAM_DIR) / "bg_main.bmp");
    ASSERT_GT(banner.width, 100);
    ASSERT_GE(picture.width, banner.width);
    // The banner at the top of the client area: found where a row of its pixels matches.
    int originX = -1, originY = -1;
    for (int oy = 0; oy < 40 && originY < 0; ++oy)
        for (int ox = 0; ox < 12 && originY < 0; ++ox) {
            int same = 0;
            for (int sx = 20; sx < banner.width - 20; sx += 37)
                for (int sy = 5; sy < banner.height - 5; sy += 9)
                    same += picture.At(ox + sx, oy + sy) == banner.At(sx, sy);
            if (same >= 40) {
                originX = ox;
                originY = oy;
            }
        }
    ASSERT_GE(originY, 0) << "the banner of bg_main.bmp is not in the picture of the main menu";
    EXPECT_GE(originX, 0);
    // Below it, four white button faces: rows of the picture with long white runs, in two bands.
    int whiteRows = 0;
    for (int y = originY + banner.height + 100; y < picture.height; ++y) {
        int run = 0, longest = 0;
        for (int x0 = 0; x0 < picture.width; ++x0) {
            run = picture.At(x0, y) == 0xFFFFFFu ? run + 1 : 0;
            longest = std::max(longest, run);
        }
        whiteRows += longest > 120;
    }
    EXPECT_GT(whiteRows, 80) << "no white button faces in the main menu";

    // Expert Mode opens the Expert Mode dialog and puts the main menu away.
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(2312, BN_CLICKED), 0));
    HWND expert = nullptr;
    ASSERT_TRUE(uitest::Eventually(
        [&] { return (expert = FindWindowW(nullptr, u"Kovra - Expert Mode")) && IsWindowVisible(expert); },
        kProgramDeadline));
    EXPECT_TRUE(uitest::Eventually([&] { return !IsWindowVisible(main); }, kProgramDeadline));
    // Instant Backup, from the main menu, opens its wizard.
    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, MAKEWPARAM(2310, BN_CLICKED), 0));
    HWND wizard = nullptr;
    ASSERT_TRUE(uitest::Eventually(
        [&] { return (wizard = FindWindowW(nullptr, u"Instant Backup Wizard")) && IsWindowVisible(wizard); },
        kProgramDeadline));
    ASSERT_TRUE(PostMessageW(wizard, WM_COMMAND, IDCANCEL, 0));
    ASSERT_TRUE(uitest::Eventually([&] { return !IsWindow(wizard); }, kProgramDeadline));

    ASSERT_TRUE(PostMessageW(main, WM_COMMAND, ID_TRAY_EXIT, 0));
    EXPECT_EQ(kovra->Wait(), 0) << Errors();
}

} // namespace
