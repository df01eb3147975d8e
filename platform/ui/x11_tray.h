// The notification-area icons on an X display: each icon of the layer's tray is a small X window that docks in the
// desktop's notification area through the XEmbed system-tray protocol (the owner of the _NET_SYSTEM_TRAY_Sn
// selection). An icon shows its picture and, while the pointer is over it, its tip; clicks reach the icon's owner
// window as the icon's callback message with the mouse message in lParam. With no notification area on the display
// the icons wait, and dock when one announces itself (a desktop that restarts its panel gets them back).
//
// Used by the presenter on its own thread only.
#pragma once

#include "platform/base/types.h"
#include "platform/ui/x11_connection.h"

#include <cairo/cairo.h>

#include <string>
#include <vector>

namespace platform::ui::x11 {

class XTrayIcons {
public:
    explicit XTrayIcons(XConnection& x);
    ~XTrayIcons();
    XTrayIcons(const XTrayIcons&) = delete;
    XTrayIcons& operator=(const XTrayIcons&) = delete;

    // Brings the X side in line with the layer's icons (added, changed, removed).
    void Sync();
    // Handles an event if it concerns an icon or the notification area; false otherwise.
    bool HandleEvent(const xcb_generic_event_t* event);
    xcb_window_t WindowOf(HWND hwnd, UINT id) const;

private:
    struct Icon {
        HWND hwnd = nullptr;
        UINT id = 0;
        xcb_window_t window = XCB_NONE;
        HICON picture = nullptr;
        std::u16string tip;
        bool hidden = false;
        bool docked = false;
        int width = 0;
        int height = 0;
        // The last press, for double-clicks.
        uint8_t lastButton = 0;
        xcb_timestamp_t lastTime = 0;
        bool pairedPress = false;
    };

    void Create(Icon& icon);
    void Dock(Icon& icon);
    void Draw(Icon& icon);
    void Click(Icon& icon, const xcb_button_press_event_t& event, bool press);
    void ShowTip(const Icon& icon, int16_t rootX, int16_t rootY);
    void HideTip();
    void FindManager();
    Icon* Find(xcb_window_t window);

    XConnection& m_x;
    xcb_window_t m_manager = XCB_NONE;
    std::vector<Icon> m_icons;
    xcb_window_t m_tip = XCB_NONE;
};

} // namespace platform::ui::x11
