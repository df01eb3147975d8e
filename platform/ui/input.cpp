#include "platform/ui/input.h"

#include "platform/ui/controls_internal.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/ui_internal.h"

#include <array>
#include <atomic>
#include <map>
#include <mutex>

namespace {

struct KeyState {
    std::array<bool, 256> down{};
    std::array<bool, 256> toggled{};
};

KeyState& Keys() {
    thread_local KeyState state;
    return state;
}

// The window with the focus on the thread that owns `window`, or `window` when that thread has none.
HWND FocusOfThread(HWND window) {
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    if (!thread)
        return window;
    if (auto queue = platform::ui::FindQueue(thread)) {
        std::lock_guard lock(platform::ui::GetState().mutex);
        if (queue->focus)
            return queue->focus;
    }
    return window;
}

BOOL Post(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return PostMessageW(hwnd, msg, wParam, lParam);
}

LPARAM KeyData(WPARAM vk, bool up) {
    LPARAM data = 1;
    (void)vk;
    if (up)
        data |= static_cast<LPARAM>(0xC0000000u);
    return data;
}

POINT CentreOf(HWND hwnd) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    return POINT{(rc.right - rc.left) / 2, (rc.bottom - rc.top) / 2};
}

BOOL ClickWith(HWND hwnd, int x, int y, UINT down, UINT up, WPARAM keys) {
    if (!IsWindow(hwnd) || !IsWindowEnabled(hwnd) || !IsWindowVisible(hwnd))
        return FALSE;
    POINT screen{x, y};
    ClientToScreen(hwnd, &screen);
    SetCursorPos(screen.x, screen.y);
    const LPARAM at = MAKELPARAM(x, y);
    if (!Post(hwnd, down, keys, at))
        return FALSE;
    return up ? Post(hwnd, up, 0, at) : TRUE;
}

} // namespace

SHORT GetKeyState(int virtualKey) {
    if (virtualKey < 0 || virtualKey > 255)
        return 0;
    const auto& keys = Keys();
    SHORT state = 0;
    if (keys.down[static_cast<size_t>(virtualKey)])
        state = static_cast<SHORT>(0x8000);
    if (keys.toggled[static_cast<size_t>(virtualKey)])
        state = static_cast<SHORT>(state | 1);
    return state;
}

SHORT GetAsyncKeyState(int virtualKey) {
    return static_cast<SHORT>(GetKeyState(virtualKey) & static_cast<SHORT>(0x8000));
}

namespace {

std::atomic<UINT> g_doubleClickTime{500};

struct KeyTexts {
    std::mutex lock;
    std::map<std::pair<HWND, LPARAM>, std::u16string> texts;
};

KeyTexts& GetKeyTexts() {
    static KeyTexts texts;
    return texts;
}

// The part of the key data that names the key: scan code and extended bit.
LPARAM KeyName(LPARAM keyData) {
    return keyData & 0x01FF0000;
}

} // namespace

UINT GetDoubleClickTime() {
    return g_doubleClickTime.load();
}

BOOL SetDoubleClickTime(UINT milliseconds) {
    g_doubleClickTime.store(milliseconds ? milliseconds : 500);
    return TRUE;
}

namespace platform::ui {

void RecordKeyText(HWND hwnd, LPARAM keyData, std::u16string text) {
    auto& t = GetKeyTexts();
    std::lock_guard guard(t.lock);
    // One entry per window and key: a key typed again replaces what it typed before.
    if (t.texts.size() > 512)
        t.texts.clear();
    t.texts[{hwnd, KeyName(keyData)}] = std::move(text);
}

void MoveKeyText(HWND from, HWND to, LPARAM keyData) {
    auto& t = GetKeyTexts();
    std::lock_guard guard(t.lock);
    auto it = t.texts.find({from, KeyName(keyData)});
    if (it == t.texts.end())
        return;
    std::u16string text = std::move(it->second);
    t.texts.erase(it);
    t.texts[{to, KeyName(keyData)}] = std::move(text);
}

bool FindKeyText(HWND hwnd, LPARAM keyData, std::u16string& text) {
    auto& t = GetKeyTexts();
    std::lock_guard guard(t.lock);
    auto it = t.texts.find({hwnd, KeyName(keyData)});
    if (it == t.texts.end())
        return false;
    text = it->second;
    return true;
}

void NoteKeyMessage(UINT msg, WPARAM wParam) {
    if (wParam > 255)
        return;
    auto& keys = Keys();
    if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) {
        if (!keys.down[wParam])
            keys.toggled[wParam] = !keys.toggled[wParam];
        keys.down[wParam] = true;
    } else if (msg == WM_KEYUP || msg == WM_SYSKEYUP) {
        keys.down[wParam] = false;
    }
}

BOOL Click(HWND control) {
    const POINT c = CentreOf(control);
    return ClickWith(control, c.x, c.y, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON);
}

BOOL DoubleClick(HWND control) {
    const POINT c = CentreOf(control);
    if (!ClickWith(control, c.x, c.y, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON))
        return FALSE;
    return ClickWith(control, c.x, c.y, WM_LBUTTONDBLCLK, WM_LBUTTONUP, MK_LBUTTON);
}

BOOL MoveMouse(int screenX, int screenY) {
    SetCursorPos(screenX, screenY);
    POINT at{};
    GetCursorPos(&at);
    HWND target = WindowFromPoint(at);
    if (!target)
        return FALSE;
    // The window with the capture on the thread of the window under the mouse takes it instead.
    if (auto queue = FindQueue(GetWindowThreadProcessId(target, nullptr))) {
        std::lock_guard lock(GetState().mutex);
        if (queue->capture)
            target = queue->capture;
    }
    ScreenToClient(target, &at);
    return Post(target, WM_MOUSEMOVE, 0, MAKELPARAM(static_cast<WORD>(at.x), static_cast<WORD>(at.y)));
}

BOOL ClickAt(HWND window, int x, int y) {
    return ClickWith(window, x, y, WM_LBUTTONDOWN, WM_LBUTTONUP, MK_LBUTTON);
}

BOOL RightClick(HWND control) {
    const POINT c = CentreOf(control);
    if (!ClickWith(control, c.x, c.y, WM_RBUTTONDOWN, WM_RBUTTONUP, MK_RBUTTON))
        return FALSE;
    POINT screen = c;
    ClientToScreen(control, &screen);
    return Post(control, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(control), MAKELPARAM(screen.x, screen.y));
}

BOOL FocusControl(HWND control) {
    if (!IsWindow(control) || !IsWindowEnabled(control) || !IsWindowVisible(control))
        return FALSE;
    HWND parent = GetParent(control);
    if (!parent)
        return FALSE;
    return Post(parent, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
}

BOOL PressKey(HWND window, int virtualKey, UINT modifiers) {
    if (!IsWindow(window))
        return FALSE;
    HWND target = FocusOfThread(window);
    const std::pair<UINT, int> mods[] = {{kShift, VK_SHIFT}, {kControl, VK_CONTROL}, {kAlt, VK_MENU}};
    const bool alt = (modifiers & kAlt) != 0;
    for (auto [flag, vk] : mods)
        if (modifiers & flag)
            Post(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, static_cast<WPARAM>(vk), KeyData(vk, false));
    const auto vk = static_cast<WPARAM>(virtualKey);
    // The character comes from TranslateMessage, as the thread's message loop handles the key.
    Post(target, alt ? WM_SYSKEYDOWN : WM_KEYDOWN, vk, KeyData(vk, false));
    Post(target, alt ? WM_SYSKEYUP : WM_KEYUP, vk, KeyData(vk, true));
    for (auto it = std::rbegin(mods); it != std::rend(mods); ++it)
        if (modifiers & it->first)
            Post(target, alt ? WM_SYSKEYUP : WM_KEYUP, static_cast<WPARAM>(it->second), KeyData(vk, true));
    return TRUE;
}

BOOL TypeText(HWND window, const std::u16string& text) {
    if (!IsWindow(window))
        return FALSE;
    HWND target = FocusOfThread(window);
    for (char16_t c : text)
        if (!Post(target, WM_CHAR, c == u'\n' ? u'\r' : c, 1))
            return FALSE;
    return TRUE;
}

BOOL ChooseMenuItem(HWND owner, UINT id) {
    if (!IsWindow(owner))
        return FALSE;
    return Post(owner, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(id), 0), 0);
}

BOOL ChooseSystemMenuItem(HWND window, UINT id) {
    if (!IsWindow(window))
        return FALSE;
    HMENU system = GetSystemMenu(window, FALSE);
    if (!system)
        return FALSE;
    const UINT state = GetMenuState(system, id, MF_BYCOMMAND);
    if (state == static_cast<UINT>(-1) || (state & (MF_GRAYED | MF_DISABLED | MF_POPUP | MF_SEPARATOR)))
        return FALSE;
    return Post(window, WM_SYSCOMMAND, static_cast<WPARAM>(id), 0);
}

BOOL ChooseComboItem(HWND combo, int index) {
    if (!IsWindow(combo) || !IsWindowEnabled(combo) || !IsWindowVisible(combo))
        return FALSE;
    return Post(combo, stdctl::kComboChooseItem, static_cast<WPARAM>(index), 0);
}

void DrainMessages(HWND dialog) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        if (dialog && IsWindow(dialog) && IsDialogMessageW(dialog, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace platform::ui
