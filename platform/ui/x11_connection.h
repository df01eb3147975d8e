// The connection to an X server that the presenter shows windows on: the xcb connection, the screen, its visual,
// and the atoms the window manager and tray protocols name.
//
// One connection serves the whole process. xcb is safe to use from several threads, but the presenter keeps every
// request and event on its own thread, so nothing here locks.
#pragma once

#include <xcb/xcb.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::ui::x11 {

enum class AtomId {
    WmProtocols,
    WmDeleteWindow,
    WmState,
    WmChangeState,
    WmName,
    NetWmName,
    Utf8String,
    NetWmIcon,
    NetWmPid,
    NetWmState,
    NetWmStateHidden,
    NetWmStateAbove,
    NetWmWindowType,
    NetWmWindowTypeNormal,
    NetWmWindowTypeDialog,
    NetWmWindowTypeSplash,
    NetWmWindowTypePopupMenu,
    NetWmWindowTypeTooltip,
    NetWmWindowOpacity,
    NetActiveWindow,
    NetSupportingWmCheck,
    MotifWmHints,
    SystemTray,
    SystemTrayOpcode,
    Xembed,
    XembedInfo,
    Manager,
    Count
};

class XConnection {
public:
    // Opens the display (empty: $DISPLAY). On failure returns null and says why in `error`.
    static std::unique_ptr<XConnection> Open(const std::string& name, std::string& error);
    ~XConnection();
    XConnection(const XConnection&) = delete;
    XConnection& operator=(const XConnection&) = delete;

    xcb_connection_t* Conn() const { return m_conn; }
    xcb_screen_t* Screen() const { return m_screen; }
    xcb_window_t Root() const { return m_screen->root; }
    xcb_visualtype_t* Visual() const { return m_visual; }
    int ScreenNumber() const { return m_screenNumber; }
    xcb_atom_t Atom(AtomId id) const { return m_atoms[static_cast<size_t>(id)]; }
    bool HasShape() const { return m_shape; }

    // Property helpers (replace the whole property).
    void SetAtoms(xcb_window_t w, AtomId property, const std::vector<xcb_atom_t>& values) const;
    void SetCardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type, const std::vector<uint32_t>& values) const;
    void SetText(xcb_window_t w, std::string_view utf8) const; // WM_NAME and _NET_WM_NAME
    // Sends a 32-bit client message to `destination` (with the root window: as the window manager specs ask).
    void SendClientMessage(xcb_window_t destination, xcb_window_t about, xcb_atom_t type,
                           const std::vector<uint32_t>& data, uint32_t eventMask) const;
    // The owner of a selection (XCB_NONE when none).
    xcb_window_t SelectionOwner(xcb_atom_t selection) const;
    // Whether a window manager that follows the extended hints runs.
    bool HasWindowManager() const;

private:
    XConnection() = default;

    xcb_connection_t* m_conn = nullptr;
    xcb_screen_t* m_screen = nullptr;
    xcb_visualtype_t* m_visual = nullptr;
    int m_screenNumber = 0;
    bool m_shape = false;
    std::vector<xcb_atom_t> m_atoms;
};

} // namespace platform::ui::x11
