// The keyboard of an X display, read through its real layout (xkbcommon): which virtual key an X key is, what text
// it types with the modifiers held, and the key data of the key messages.
#pragma once

#include "platform/base/types.h"

#include <xcb/xcb.h>

#include <string>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace platform::ui::x11 {

struct KeyPress {
    int virtualKey = 0;  // 0 for keys that have no virtual key
    LPARAM keyData = 0;  // repeat count 1, scan code, extended and context bits (the up bits are the caller's)
    std::u16string text; // what the key types with the modifiers held (empty for keys that type nothing)
    bool alt = false;    // Alt held without Control: the key is a system key
};

class XKeyboard {
public:
    XKeyboard() = default;
    ~XKeyboard();
    XKeyboard(const XKeyboard&) = delete;
    XKeyboard& operator=(const XKeyboard&) = delete;

    // Reads the layout of the display's core keyboard; false when the server has no XKB.
    bool Load(xcb_connection_t* conn);
    // Reads the layout again (the user switched layouts: an XKB new-keyboard or map notification).
    void Reload(xcb_connection_t* conn) { Load(conn); }
    // The first event code of the XKB extension (its notifications come as one event type).
    uint8_t EventBase() const { return m_eventBase; }

    // Translates a key of a key event with the event's modifier state.
    KeyPress Translate(xcb_keycode_t keycode, uint16_t state) const;

private:
    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    xkb_state* m_state = nullptr;
    int32_t m_device = -1;
    uint8_t m_eventBase = 0;
};

} // namespace platform::ui::x11
