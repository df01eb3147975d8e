// What the end-to-end tests of the main program share: the started program, the mouse and keyboard of the test's
// own X display, and the program's identity.
#pragma once

#include "platform/ui/dialog.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace e2e {

using namespace std::chrono_literals;

inline constexpr auto kDeadline = 120s;
inline constexpr UINT ID_TRAY_EXIT = 32774;
inline constexpr LPCTSTR kRootKey = u"Software\\VEVUVUV\\Kovra";
inline constexpr const char16_t* kInstanceProperty =
    u"AFX_BRANNIC_H__D36F5573_9879_4ED3_8B5D_97A194EFF61D__INCLUDED_";

// Puts a built file into a test's folder: a hard link where the file system allows one, else a copy.
inline void Place(const std::filesystem::path& from, const std::filesystem::path& to) {
    std::error_code error;
    std::filesystem::create_hard_link(from, to, error);
    if (error)
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
}

// Installs the program, its splash picture and its banner from the build into a test's program folder.
inline void InstallProgram(const std::string& folder) {
    const std::filesystem::path built = KOVRA_PROGRAM_DIR;
    for (const char* file : {"Kovra", "Splash.bmp", "bg_main.bmp"})
        Place(built / file, std::filesystem::path(folder) / file);
}

class Kovra {
public:
    Kovra(const std::string& path, const std::string& errorFile, const std::vector<std::string>& args = {}) {
        std::vector<char*> argv{const_cast<char*>(path.c_str())};
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (posix_spawn(&m_pid, path.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Kovra() {
        if (m_pid > 0 && !m_exited) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    Kovra(const Kovra&) = delete;
    Kovra& operator=(const Kovra&) = delete;

    pid_t Pid() const { return m_pid; }

    int Wait() {
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (!m_exited) {
            int status = 0;
            if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
                m_exited = true;
                // As a shell reports it: 128 and the signal for a program that a signal ended.
                m_exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            std::this_thread::sleep_for(5ms);
        }
        return m_exitCode;
    }

private:
    pid_t m_pid = -1;
    bool m_exited = false;
    int m_exitCode = -1;
};

// The mouse and the keyboard of the test's X display.
class XInput {
public:
    explicit XInput(const std::string& display) : m_c(xcb_connect(display.c_str(), nullptr)) {
        if (xcb_connection_has_error(m_c))
            return;
        m_screen = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data;
        // The key codes of the plain characters (the first key symbol of a key: no shift needed).
        const xcb_setup_t* setup = xcb_get_setup(m_c);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto* map = xcb_get_keyboard_mapping_reply(
            m_c, xcb_get_keyboard_mapping(m_c, setup->min_keycode, static_cast<uint8_t>(count)), nullptr);
        if (!map)
            return;
        const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(map);
        for (int i = 0; i < count; ++i) {
            const xcb_keysym_t sym = syms[i * map->keysyms_per_keycode];
            if (sym >= 0x20 && sym < 0x7F && !m_keys.count(static_cast<char>(sym)))
                m_keys[static_cast<char>(sym)] = static_cast<uint8_t>(setup->min_keycode + i);
            if (sym != 0 && !m_symbols.count(sym))
                m_symbols[sym] = static_cast<uint8_t>(setup->min_keycode + i);
        }
        std::free(map);
    }
    ~XInput() { xcb_disconnect(m_c); }
    XInput(const XInput&) = delete;
    XInput& operator=(const XInput&) = delete;
    bool Connected() const { return m_screen != nullptr; }

    // The on-screen origin of the client area of the shown window titled `title`.
    bool Origin(const std::string& title, int& x, int& y) const {
        auto* reply = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, 12, "_NET_WM_NAME"), nullptr);
        const xcb_atom_t name = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
        std::free(reply);
        bool found = false;
        auto* tree = xcb_query_tree_reply(m_c, xcb_query_tree(m_c, m_screen->root), nullptr);
        if (!tree)
            return false;
        const xcb_window_t* children = xcb_query_tree_children(tree);
        for (int i = 0; i < xcb_query_tree_children_length(tree) && !found; ++i) {
            auto* a = xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, children[i]), nullptr);
            const bool viewable = a && a->map_state == XCB_MAP_STATE_VIEWABLE;
            std::free(a);
            if (!viewable)
                continue;
            auto* p = xcb_get_property_reply(
                m_c, xcb_get_property(m_c, 0, children[i], name, XCB_GET_PROPERTY_TYPE_ANY, 0, 1024), nullptr);
            std::string value;
            if (p)
                value.assign(static_cast<const char*>(xcb_get_property_value(p)),
                             static_cast<size_t>(xcb_get_property_value_length(p)));
            std::free(p);
            if (value != title)
                continue;
            auto* g = xcb_get_geometry_reply(m_c, xcb_get_geometry(m_c, children[i]), nullptr);
            if (g) {
                x = g->x;
                y = g->y;
                found = true;
            }
            std::free(g);
        }
        std::free(tree);
        return found;
    }
    void Click(int x, int y) const {
        xcb_test_fake_input(m_c, XCB_MOTION_NOTIFY, 0, XCB_CURRENT_TIME, m_screen->root, static_cast<int16_t>(x),
                            static_cast<int16_t>(y), 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_PRESS, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_c, XCB_BUTTON_RELEASE, 1, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        Sync();
    }
    // Types plain characters (lower-case letters and digits) into whatever has the focus.
    bool Type(const std::string& text) const {
        for (char ch : text) {
            const auto key = m_keys.find(ch);
            if (key == m_keys.end())
                return false;
            xcb_test_fake_input(m_c, XCB_KEY_PRESS, key->second, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
            xcb_test_fake_input(m_c, XCB_KEY_RELEASE, key->second, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        }
        Sync();
        return true;
    }

    // Presses and releases the key of an X key symbol (0xFF0D Return, 0xFF09 Tab, ...).
    bool Key(uint32_t symbol) const {
        const auto key = m_symbols.find(symbol);
        if (key == m_symbols.end())
            return false;
        xcb_test_fake_input(m_c, XCB_KEY_PRESS, key->second, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        xcb_test_fake_input(m_c, XCB_KEY_RELEASE, key->second, XCB_CURRENT_TIME, XCB_NONE, 0, 0, 0);
        Sync();
        return true;
    }
    // The colour shown at a point of the screen, as 0xRRGGBB; ~0u when it cannot be read.
    uint32_t Pixel(int x, int y) const {
        auto* img = xcb_get_image_reply(m_c,
                                        xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_screen->root,
                                                      static_cast<int16_t>(x), static_cast<int16_t>(y), 1, 1, ~0u),
                                        nullptr);
        if (!img)
            return ~0u;
        uint32_t colour = ~0u;
        if (xcb_get_image_data_length(img) >= 4) {
            const uint8_t* data = xcb_get_image_data(img);
            colour = static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[1]) << 8 | data[0];
        }
        std::free(img);
        return colour;
    }

    // Debugging aid: the screen as a PPM file.
    void Shot(const std::string& path) const {
        auto* img = xcb_get_image_reply(m_c,
                                        xcb_get_image(m_c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_screen->root, 0, 0,
                                                      m_screen->width_in_pixels, m_screen->height_in_pixels, ~0u),
                                        nullptr);
        if (!img)
            return;
        const uint8_t* data = xcb_get_image_data(img);
        std::ofstream out(path, std::ios::binary);
        out << "P6\n" << m_screen->width_in_pixels << " " << m_screen->height_in_pixels << "\n255\n";
        for (int i = 0; i < m_screen->width_in_pixels * m_screen->height_in_pixels; ++i)
            out << data[i * 4 + 2] << data[i * 4 + 1] << data[i * 4];
        std::free(img);
    }

private:
    void Sync() const { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    xcb_connection_t* m_c;
    xcb_screen_t* m_screen = nullptr;
    std::map<char, uint8_t> m_keys;
    std::map<uint32_t, uint8_t> m_symbols;
};

// A dialog procedure that answers nothing, for templates built only to be measured.
inline INT_PTR CALLBACK QuietDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

} // namespace e2e
