#include "platform/ui/x11_keyboard.h"

#include "platform/base/strings.h"
#include "platform/ui/winuser_constants.h"

// The XKB protocol header names a field `explicit`.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit
#include <xkbcommon/xkbcommon-keysyms.h>
#include <xkbcommon/xkbcommon-x11.h>
#include <xkbcommon/xkbcommon.h>

namespace platform::ui::x11 {

namespace {

// Virtual keys that the window layer's constants do not name.
constexpr int kVkPause = 0x13;
constexpr int kVkCapital = 0x14;
constexpr int kVkSnapshot = 0x2C;
constexpr int kVkLWin = 0x5B;
constexpr int kVkRWin = 0x5C;
constexpr int kVkNumpad0 = 0x60;
constexpr int kVkMultiply = 0x6A;
constexpr int kVkAdd = 0x6B;
constexpr int kVkSubtract = 0x6D;
constexpr int kVkDecimal = 0x6E;
constexpr int kVkDivide = 0x6F;
constexpr int kVkNumLock = 0x90;
constexpr int kVkScroll = 0x91;
constexpr int kVkOemPlus = 0xBB;
constexpr int kVkOemComma = 0xBC;
constexpr int kVkOemMinus = 0xBD;
constexpr int kVkOemPeriod = 0xBE;
constexpr int kVkOem1 = 0xBA; // ;:
constexpr int kVkOem2 = 0xBF; // /?
constexpr int kVkOem3 = 0xC0; // `~
constexpr int kVkOem4 = 0xDB; // [{
constexpr int kVkOem5 = 0xDC; // \|
constexpr int kVkOem6 = 0xDD; // ]}
constexpr int kVkOem7 = 0xDE; // '"
constexpr int kVkOem102 = 0xE2;

struct Named {
    xkb_keysym_t sym;
    int vk;
    bool extended;
};

constexpr Named kNamed[] = {
    {XKB_KEY_BackSpace, VK_BACK, false},
    {XKB_KEY_Tab, VK_TAB, false},
    {XKB_KEY_ISO_Left_Tab, VK_TAB, false},
    {XKB_KEY_Return, VK_RETURN, false},
    {XKB_KEY_KP_Enter, VK_RETURN, true},
    {XKB_KEY_Escape, VK_ESCAPE, false},
    {XKB_KEY_space, VK_SPACE, false},
    {XKB_KEY_Prior, VK_PRIOR, true},
    {XKB_KEY_Next, VK_NEXT, true},
    {XKB_KEY_End, VK_END, true},
    {XKB_KEY_Home, VK_HOME, true},
    {XKB_KEY_Left, VK_LEFT, true},
    {XKB_KEY_Up, VK_UP, true},
    {XKB_KEY_Right, VK_RIGHT, true},
    {XKB_KEY_Down, VK_DOWN, true},
    {XKB_KEY_Insert, VK_INSERT, true},
    {XKB_KEY_Delete, VK_DELETE, true},
    {XKB_KEY_Shift_L, VK_SHIFT, false},
    {XKB_KEY_Shift_R, VK_SHIFT, false},
    {XKB_KEY_Control_L, VK_CONTROL, false},
    {XKB_KEY_Control_R, VK_CONTROL, true},
    {XKB_KEY_Alt_L, VK_MENU, false},
    {XKB_KEY_Alt_R, VK_MENU, true},
    {XKB_KEY_ISO_Level3_Shift, VK_MENU, true},
    {XKB_KEY_Meta_L, VK_MENU, false},
    {XKB_KEY_Meta_R, VK_MENU, true},
    {XKB_KEY_Super_L, kVkLWin, true},
    {XKB_KEY_Super_R, kVkRWin, true},
    {XKB_KEY_Menu, VK_APPS, true},
    {XKB_KEY_Pause, kVkPause, false},
    {XKB_KEY_Caps_Lock, kVkCapital, false},
    {XKB_KEY_Print, kVkSnapshot, true},
    {XKB_KEY_Num_Lock, kVkNumLock, true},
    {XKB_KEY_Scroll_Lock, kVkScroll, false},
    {XKB_KEY_KP_Multiply, kVkMultiply, false},
    {XKB_KEY_KP_Add, kVkAdd, false},
    {XKB_KEY_KP_Subtract, kVkSubtract, false},
    {XKB_KEY_KP_Decimal, kVkDecimal, false},
    {XKB_KEY_KP_Delete, kVkDecimal, false},
    {XKB_KEY_KP_Divide, kVkDivide, true},
    {XKB_KEY_KP_Home, VK_HOME, false},
    {XKB_KEY_KP_End, VK_END, false},
    {XKB_KEY_KP_Prior, VK_PRIOR, false},
    {XKB_KEY_KP_Next, VK_NEXT, false},
    {XKB_KEY_KP_Left, VK_LEFT, false},
    {XKB_KEY_KP_Right, VK_RIGHT, false},
    {XKB_KEY_KP_Up, VK_UP, false},
    {XKB_KEY_KP_Down, VK_DOWN, false},
    {XKB_KEY_KP_Insert, VK_INSERT, false},
    {XKB_KEY_minus, kVkOemMinus, false},
    {XKB_KEY_equal, kVkOemPlus, false},
    {XKB_KEY_comma, kVkOemComma, false},
    {XKB_KEY_period, kVkOemPeriod, false},
    {XKB_KEY_semicolon, kVkOem1, false},
    {XKB_KEY_slash, kVkOem2, false},
    {XKB_KEY_grave, kVkOem3, false},
    {XKB_KEY_bracketleft, kVkOem4, false},
    {XKB_KEY_backslash, kVkOem5, false},
    {XKB_KEY_bracketright, kVkOem6, false},
    {XKB_KEY_apostrophe, kVkOem7, false},
    {XKB_KEY_less, kVkOem102, false},
};

bool VirtualKeyOf(xkb_keysym_t sym, int& vk, bool& extended) {
    extended = false;
    if (sym >= XKB_KEY_a && sym <= XKB_KEY_z) {
        vk = 'A' + static_cast<int>(sym - XKB_KEY_a);
        return true;
    }
    if (sym >= XKB_KEY_A && sym <= XKB_KEY_Z) {
        vk = static_cast<int>(sym);
        return true;
    }
    if (sym >= XKB_KEY_0 && sym <= XKB_KEY_9) {
        vk = static_cast<int>(sym);
        return true;
    }
    if (sym >= XKB_KEY_KP_0 && sym <= XKB_KEY_KP_9) {
        vk = kVkNumpad0 + static_cast<int>(sym - XKB_KEY_KP_0);
        return true;
    }
    if (sym >= XKB_KEY_F1 && sym <= XKB_KEY_F24) {
        vk = VK_F1 + static_cast<int>(sym - XKB_KEY_F1);
        return true;
    }
    for (const auto& n : kNamed) {
        if (n.sym == sym) {
            vk = n.vk;
            extended = n.extended;
            return true;
        }
    }
    return false;
}

// X's core modifier bits.
constexpr uint16_t kControlMask = XCB_MOD_MASK_CONTROL;
constexpr uint16_t kAltMask = XCB_MOD_MASK_1;

} // namespace

XKeyboard::~XKeyboard() {
    xkb_state_unref(m_state);
    xkb_keymap_unref(m_keymap);
    xkb_context_unref(m_context);
}

bool XKeyboard::Load(xcb_connection_t* conn) {
    if (!m_context) {
        uint8_t base = 0;
        if (!xkb_x11_setup_xkb_extension(conn, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                                         XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &base, nullptr))
            return false;
        m_eventBase = base;
        m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (!m_context)
            return false;
        m_device = xkb_x11_get_core_keyboard_device_id(conn);
        if (m_device < 0)
            return false;
        // Held keys repeat as presses alone, so that a repeat is told from a new press.
        xcb_xkb_per_client_flags(conn, XCB_XKB_ID_USE_CORE_KBD, XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                 XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0);
    }
    xkb_keymap* keymap = xkb_x11_keymap_new_from_device(m_context, conn, m_device, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!keymap)
        return false;
    xkb_state* state = xkb_x11_state_new_from_device(keymap, conn, m_device);
    if (!state) {
        xkb_keymap_unref(keymap);
        return false;
    }
    xkb_state_unref(m_state);
    xkb_keymap_unref(m_keymap);
    m_keymap = keymap;
    m_state = state;
    return true;
}

KeyPress XKeyboard::Translate(xcb_keycode_t keycode, uint16_t state) const {
    KeyPress key;
    // The scan code: X key codes are the kernel's key codes plus 8, and the kernel's codes below 0x59 are the
    // PC keyboard's scan codes.
    const unsigned scan = keycode >= 8 ? keycode - 8u : 0u;
    key.keyData = 1 | static_cast<LPARAM>((scan & 0xFF) << 16);
    key.alt = (state & kAltMask) && !(state & kControlMask);
    if (key.alt)
        key.keyData |= static_cast<LPARAM>(1) << 29;
    if (!m_keymap || !m_state)
        return key;
    // The virtual key comes from the key's unshifted symbol in the first layout, as a Windows layout names keys by
    // their place rather than by what they type with Shift.
    const xkb_keysym_t* syms = nullptr;
    xkb_keysym_t base = XKB_KEY_NoSymbol;
    if (xkb_keymap_key_get_syms_by_level(m_keymap, keycode, 0, 0, &syms) > 0)
        base = syms[0];
    // What the key types follows the modifiers of this event and the layout group the server reports in it.
    xkb_state_update_mask(m_state, state & 0xFF, 0, 0, 0, 0, (state >> 13) & 0x3);
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(m_state, keycode);
    bool extended = false;
    int vk = 0;
    // The keypad's keys are digits with Num Lock and movement keys without: they follow what they type now.
    const bool keypad = sym >= XKB_KEY_KP_Space && sym <= XKB_KEY_KP_9;
    if (keypad ? !VirtualKeyOf(sym, vk, extended)
               : !VirtualKeyOf(base, vk, extended) && !VirtualKeyOf(sym, vk, extended))
        vk = 0;
    key.virtualKey = vk;
    if (extended)
        key.keyData |= static_cast<LPARAM>(1) << 24;
    char utf8[64] = {};
    const int n = xkb_state_key_get_utf8(m_state, keycode, utf8, sizeof utf8);
    if (n > 0 && n < static_cast<int>(sizeof utf8)) {
        key.text = Utf8ToUtf16(std::string_view(utf8, static_cast<size_t>(n)));
        // Windows types these as the control characters of their keys.
        if (key.text == u"\n")
            key.text = u"\r";
        if (key.text == u"\x7f")
            key.text.clear();
    }
    return key;
}

} // namespace platform::ui::x11
