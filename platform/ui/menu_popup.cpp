#include "platform/ui/menu_popup.h"

#include "platform/gdi/wingdi.h"
#include "platform/ui/menu.h"
#include "platform/ui/message.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace platform::ui {

namespace {

constexpr int kItemHeight = 20;
constexpr int kSeparatorHeight = 8;
constexpr int kCheckWidth = 20;
constexpr int kArrowWidth = 16;
constexpr int kBorder = 2;
constexpr char16_t kClassName[] = u"#32768";
constexpr LRESULT kNoActivate = 3; // MA_NOACTIVATE

struct Item {
    UINT id = 0;
    std::u16string text;
    std::u16string accelerator; // the part after a tab
    UINT state = 0;
    UINT type = 0;
    HMENU sub = nullptr;
    RECT box{}; // in the menu window's client area
    bool Separator() const { return (type & MFT_SEPARATOR) != 0; }
    bool Enabled() const { return !(state & (MFS_GRAYED | MF_DISABLED)); }
    bool Selectable() const { return !Separator(); }
};

struct Level {
    HMENU menu = nullptr;
    HWND window = nullptr;
    std::vector<Item> items;
    int selected = -1;
};

struct Tracker;
thread_local Tracker* t_tracker = nullptr;

struct Tracker {
    HWND owner = nullptr;
    std::vector<Level> levels;
    UINT chosen = 0;
    bool done = false;
    bool armed = false; // a button went down, or the pointer moved onto an item, since the menu opened
    POINT opened{};
};

std::vector<Item> ReadItems(HMENU menu) {
    std::vector<Item> items;
    const int count = GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char16_t text[256] = {};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_ID | MIIM_STATE | MIIM_SUBMENU | MIIM_FTYPE | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = 255;
        if (!GetMenuItemInfoW(menu, static_cast<UINT>(i), TRUE, &info))
            continue;
        Item item;
        item.id = info.wID;
        item.state = info.fState;
        item.type = info.fType;
        item.sub = info.hSubMenu;
        std::u16string all = text;
        const size_t tab = all.find(u'\t');
        item.text = all.substr(0, tab);
        if (tab != std::u16string::npos)
            item.accelerator = all.substr(tab + 1);
        items.push_back(std::move(item));
    }
    return items;
}

// Sizes the items and returns the client size of the menu window.
SIZE Layout(std::vector<Item>& items) {
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    int textWidth = 60, accelWidth = 0;
    for (const Item& item : items) {
        SIZE size{};
        GetTextExtentPoint32W(dc, item.text.c_str(), static_cast<int>(item.text.size()), &size);
        textWidth = std::max<int>(textWidth, size.cx);
        if (!item.accelerator.empty()) {
            GetTextExtentPoint32W(dc, item.accelerator.c_str(), static_cast<int>(item.accelerator.size()), &size);
            accelWidth = std::max<int>(accelWidth, size.cx + 16);
        }
    }
    SelectObject(dc, old);
    DeleteDC(dc);
    const int width = kCheckWidth + textWidth + accelWidth + kArrowWidth;
    int y = kBorder;
    for (Item& item : items) {
        const int height = item.Separator() ? kSeparatorHeight : kItemHeight;
        item.box = RECT{kBorder, y, kBorder + width, y + height};
        y += height;
    }
    return SIZE{width + 2 * kBorder, y + kBorder};
}

Level* LevelOf(HWND hwnd) {
    if (!t_tracker)
        return nullptr;
    for (Level& level : t_tracker->levels)
        if (level.window == hwnd)
            return &level;
    return nullptr;
}

void Paint(HWND hwnd) {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(hwnd, &ps);
    if (!dc)
        return;
    RECT all{};
    GetClientRect(hwnd, &all);
    FillRect(dc, &all, GetSysColorBrush(COLOR_MENU));
    RECT edge = all;
    DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    if (Level* level = LevelOf(hwnd)) {
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        SetBkMode(dc, TRANSPARENT);
        for (size_t i = 0; i < level->items.size(); ++i) {
            const Item& item = level->items[i];
            RECT box = item.box;
            if (item.Separator()) {
                RECT line{box.left + 2, (box.top + box.bottom) / 2 - 1, box.right - 2, (box.top + box.bottom) / 2 + 1};
                DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
                continue;
            }
            const bool selected = static_cast<int>(i) == level->selected;
            if (selected)
                FillRect(dc, &box, GetSysColorBrush(COLOR_HIGHLIGHT));
            SetTextColor(dc, GetSysColor(!item.Enabled() ? COLOR_GRAYTEXT
                                         : selected      ? COLOR_HIGHLIGHTTEXT
                                                         : COLOR_MENUTEXT));
            if (item.state & MFS_CHECKED) {
                RECT mark{box.left, box.top, box.left + kCheckWidth, box.bottom};
                DrawTextW(dc, u"\u2713", 1, &mark, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
            }
            RECT text{box.left + kCheckWidth, box.top, box.right - kArrowWidth, box.bottom};
            DrawTextW(dc, item.text.c_str(), static_cast<int>(item.text.size()), &text,
                      DT_LEFT | DT_VCENTER | DT_SINGLELINE);
            if (!item.accelerator.empty())
                DrawTextW(dc, item.accelerator.c_str(), static_cast<int>(item.accelerator.size()), &text,
                          DT_RIGHT | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            if (item.sub) {
                const int cx = box.right - kArrowWidth / 2, cy = (box.top + box.bottom) / 2;
                const POINT arrow[] = {{cx - 2, cy - 4}, {cx + 2, cy}, {cx - 2, cy + 4}};
                HGDIOBJ oldBrush = SelectObject(dc, GetSysColorBrush(selected ? COLOR_HIGHLIGHTTEXT : COLOR_MENUTEXT));
                HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
                Polygon(dc, arrow, 3);
                SelectObject(dc, oldPen);
                SelectObject(dc, oldBrush);
            }
        }
        SelectObject(dc, old);
    }
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK MenuProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_MOUSEACTIVATE:
        return kNoActivate;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

void EnsureClass() {
    static const bool registered = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof wc;
        wc.style = CS_SAVEBITS;
        wc.lpfnWndProc = MenuProc;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.lpszClassName = kClassName;
        return RegisterSystemClass(wc) != 0;
    }();
    (void)registered;
}

// Opens a level at a screen point, kept on the screen.
bool Open(Tracker& t, HMENU menu, POINT at, UINT flags, const RECT* beside) {
    Level level;
    level.menu = menu;
    level.items = ReadItems(menu);
    if (level.items.empty())
        return false;
    const SIZE size = Layout(level.items);
    int x = at.x, y = at.y;
    if (flags & TPM_RIGHTALIGN)
        x -= size.cx;
    else if (flags & TPM_CENTERALIGN)
        x -= size.cx / 2;
    if (flags & TPM_BOTTOMALIGN)
        y -= size.cy;
    else if (flags & TPM_VCENTERALIGN)
        y -= size.cy / 2;
    const int screenW = GetSystemMetrics(SM_CXSCREEN), screenH = GetSystemMetrics(SM_CYSCREEN);
    if (x + size.cx > screenW)
        x = beside ? beside->left - size.cx : screenW - size.cx;
    if (y + size.cy > screenH)
        y = screenH - size.cy;
    x = std::max(0, x);
    y = std::max(0, y);
    HWND root = t.owner ? GetAncestor(t.owner, GA_ROOT) : nullptr;
    level.window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kClassName, u"", WS_POPUP, x, y, size.cx, size.cy,
                                   root, nullptr, nullptr, nullptr);
    if (!level.window)
        return false;
    t.levels.push_back(std::move(level));
    // The menu has the mouse from the moment it can be seen.
    if (t.levels.size() == 1)
        SetCapture(t.levels.front().window);
    ShowWindow(t.levels.back().window, SW_SHOWNOACTIVATE);
    UpdateWindow(t.levels.back().window);
    return true;
}

void CloseFrom(Tracker& t, size_t depth) {
    while (t.levels.size() > depth) {
        DestroyWindow(t.levels.back().window);
        t.levels.pop_back();
    }
}

void Select(Tracker& t, size_t depth, int index) {
    Level& level = t.levels[depth];
    if (level.selected == index)
        return;
    level.selected = index;
    InvalidateRect(level.window, nullptr, TRUE);
    if (index >= 0) {
        const Item& item = level.items[static_cast<size_t>(index)];
        SendMessageW(t.owner, WM_MENUSELECT,
                     MAKEWPARAM(item.sub ? static_cast<UINT>(index) : item.id,
                                (item.state & 0xFFFF) | MF_HILITE | (item.sub ? MF_POPUP : 0)),
                     reinterpret_cast<LPARAM>(level.menu));
    }
}

// Opens the sub-menu of the selected item of a level, when it has one.
void OpenSub(Tracker& t, size_t depth, bool selectFirst) {
    Level& level = t.levels[depth];
    if (level.selected < 0)
        return;
    const Item& item = level.items[static_cast<size_t>(level.selected)];
    if (!item.sub || !item.Enabled())
        return;
    if (t.levels.size() > depth + 1 && t.levels[depth + 1].menu == item.sub)
        return;
    CloseFrom(t, depth + 1);
    SendMessageW(t.owner, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(item.sub),
                 MAKELPARAM(static_cast<WORD>(level.selected), FALSE));
    RECT box = item.box;
    MapWindowPoints(level.window, nullptr, reinterpret_cast<POINT*>(&box), 2);
    if (Open(t, item.sub, POINT{box.right, box.top - kBorder}, 0, &box) && selectFirst) {
        const auto& items = t.levels.back().items;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].Selectable()) {
                Select(t, t.levels.size() - 1, static_cast<int>(i));
                break;
            }
    }
}

void Choose(Tracker& t, size_t depth) {
    Level& level = t.levels[depth];
    if (level.selected < 0)
        return;
    const Item& item = level.items[static_cast<size_t>(level.selected)];
    if (!item.Enabled() || item.Separator())
        return;
    if (item.sub) {
        OpenSub(t, depth, true);
        return;
    }
    t.chosen = item.id;
    t.done = true;
}

// The level and item under a screen point; false when the point is on no level.
bool Hit(Tracker& t, POINT screen, size_t& depth, int& index) {
    for (size_t d = t.levels.size(); d-- > 0;) {
        POINT p = screen;
        ScreenToClient(t.levels[d].window, &p);
        RECT all{};
        GetClientRect(t.levels[d].window, &all);
        if (!PtInRect(&all, p))
            continue;
        depth = d;
        index = -1;
        const auto& items = t.levels[d].items;
        for (size_t i = 0; i < items.size(); ++i)
            if (PtInRect(&items[i].box, p) && items[i].Selectable())
                index = static_cast<int>(i);
        return true;
    }
    return false;
}

void Mouse(Tracker& t, const MSG& msg) {
    POINT screen{static_cast<short>(LOWORD(msg.lParam)), static_cast<short>(HIWORD(msg.lParam))};
    ClientToScreen(msg.hwnd, &screen);
    size_t depth = 0;
    int index = -1;
    const bool on = Hit(t, screen, depth, index);
    switch (msg.message) {
    case WM_MOUSEMOVE:
        if (!on)
            return;
        if (screen.x != t.opened.x || screen.y != t.opened.y)
            t.armed = true;
        if (index >= 0) {
            CloseFrom(t, depth + 1 + (t.levels.size() > depth + 1 && t.levels[depth].selected == index ? 1 : 0));
            Select(t, depth, index);
            OpenSub(t, depth, false);
        }
        return;
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
        if (!on) {
            t.done = true; // a click elsewhere closes the menu
            return;
        }
        t.armed = true;
        return;
    case WM_LBUTTONUP:
    case WM_RBUTTONUP:
        if (!on || index < 0 || !t.armed)
            return;
        Select(t, depth, index);
        Choose(t, depth);
        return;
    default:
        return;
    }
}

void MoveSelection(Tracker& t, int step) {
    const size_t depth = t.levels.size() - 1;
    const auto& items = t.levels[depth].items;
    const int n = static_cast<int>(items.size());
    int i = t.levels[depth].selected;
    for (int tries = 0; tries < n; ++tries) {
        i = i < 0 ? (step > 0 ? 0 : n - 1) : (i + step + n) % n;
        if (items[static_cast<size_t>(i)].Selectable()) {
            Select(t, depth, i);
            return;
        }
    }
}

char16_t Mnemonic(const std::u16string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return text[i + 1];
        ++i;
    }
    return 0;
}

char16_t Lower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c;
}

void Key(Tracker& t, const MSG& msg) {
    const size_t depth = t.levels.size() - 1;
    if (msg.message == WM_CHAR || msg.message == WM_SYSCHAR) {
        const auto& items = t.levels[depth].items;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].Selectable() && Lower(Mnemonic(items[i].text)) == Lower(static_cast<char16_t>(msg.wParam))) {
                Select(t, depth, static_cast<int>(i));
                Choose(t, depth);
                return;
            }
        return;
    }
    if (msg.message != WM_KEYDOWN && msg.message != WM_SYSKEYDOWN)
        return;
    switch (msg.wParam) {
    case VK_DOWN:
        MoveSelection(t, 1);
        break;
    case VK_UP:
        MoveSelection(t, -1);
        break;
    case VK_RIGHT:
        OpenSub(t, depth, true);
        break;
    case VK_LEFT:
        if (depth > 0)
            CloseFrom(t, depth);
        break;
    case VK_ESCAPE:
        if (depth > 0)
            CloseFrom(t, depth);
        else
            t.done = true;
        break;
    case VK_RETURN:
        Choose(t, depth);
        break;
    case VK_MENU:
        t.done = true;
        break;
    default:
        break;
    }
}

bool IsKey(UINT m) {
    return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP || m == WM_CHAR ||
           m == WM_SYSCHAR;
}

bool IsMouse(UINT m) {
    return m >= WM_MOUSEFIRST && m <= WM_MOUSELAST;
}

} // namespace

UINT TrackMenuOnDisplay(HMENU menu, UINT flags, POINT at, HWND owner) {
    if (t_tracker)
        return 0; // one menu at a time on a thread
    EnsureClass();
    Tracker t;
    t.owner = owner;
    t.opened = at;
    t_tracker = &t;
    if (!Open(t, menu, at, flags, nullptr)) {
        t_tracker = nullptr;
        return 0;
    }
    while (!t.done) {
        if (!IsWindow(owner) || t.levels.empty() || !IsWindow(t.levels.front().window))
            break;
        MSG msg{};
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got <= 0) {
            if (got == 0)
                PostQuitMessage(static_cast<int>(msg.wParam)); // for the loop outside
            break;
        }
        // The menu loop takes the thread's keys and the mouse messages of its own windows.
        if (IsKey(msg.message)) {
            // Letters become characters for the mnemonics; the keys that move in the menu type nothing.
            const bool moves = msg.wParam == VK_ESCAPE || msg.wParam == VK_RETURN || msg.wParam == VK_MENU ||
                               (msg.wParam >= VK_LEFT && msg.wParam <= VK_DOWN);
            if (!moves)
                TranslateMessage(&msg);
            Key(t, msg);
            continue;
        }
        if (IsMouse(msg.message) && LevelOf(msg.hwnd)) {
            Mouse(t, msg);
            continue;
        }
        if (IsMouse(msg.message))
            continue; // input for other windows goes nowhere while the menu is open, as on Windows
        if (msg.message == WM_CANCELMODE && LevelOf(msg.hwnd))
            break;
        DispatchMessageW(&msg);
    }
    ReleaseCapture();
    CloseFrom(t, 0);
    t_tracker = nullptr;
    return t.chosen;
}

} // namespace platform::ui
