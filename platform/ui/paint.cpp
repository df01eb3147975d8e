#include "platform/ui/paint.h"

#include "platform/base/errors.h"
#include "platform/fs/paths.h"
#include "platform/gdi/surface.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/controls_internal.h"
#include "platform/ui/dialog.h"
#include "platform/ui/menu.h"
#include "platform/ui/paint_internal.h"
#include "platform/ui/presenter.h"
#include "platform/ui/ui_internal.h"
#include "platform/ui/window.h"

#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace platform::ui::paint {

namespace {

struct Store {
    std::mutex lock;
    std::unordered_map<HWND, HFONT> fonts;
    std::unordered_map<HWND, std::shared_ptr<gdi::WindowSurface>> surfaces;
    size_t insertsSincePrune = 0;
};

Store& GetStore() {
    static Store store;
    return store;
}

RECT WindowBox(HWND hwnd) {
    RECT r{};
    GetWindowRect(hwnd, &r);
    return r;
}

// The client area inside the window's own rectangle.
RECT ClientInWindow(HWND hwnd) {
    const RECT w = WindowBox(hwnd);
    RECT c{};
    GetClientRect(hwnd, &c);
    POINT origin{0, 0};
    ClientToScreen(hwnd, &origin);
    const int x = origin.x - w.left, y = origin.y - w.top;
    return RECT{x, y, x + c.right, y + c.bottom};
}

// The window's surface, made or resized to its current size.
std::shared_ptr<gdi::WindowSurface> SurfaceOf(HWND hwnd) {
    const RECT w = WindowBox(hwnd);
    const int width = std::max<int>(1, w.right - w.left), height = std::max<int>(1, w.bottom - w.top);
    auto& s = GetStore();
    std::lock_guard guard(s.lock);
    auto& slot = s.surfaces[hwnd];
    if (!slot) {
        slot = std::make_shared<gdi::WindowSurface>(width, height, GetSysColor(COLOR_BTNFACE));
        // Surfaces of windows that are gone are dropped now and then.
        if (++s.insertsSincePrune > 64) {
            s.insertsSincePrune = 0;
            for (auto it = s.surfaces.begin(); it != s.surfaces.end();)
                it = IsWindow(it->first) ? std::next(it) : s.surfaces.erase(it);
        }
    } else if (slot->Width() != width || slot->Height() != height) {
        slot->Resize(width, height, GetSysColor(COLOR_BTNFACE));
    }
    return s.surfaces[hwnd];
}

HBRUSH ClassBrush(HWND hwnd) {
    char16_t name[128] = {};
    GetClassNameW(hwnd, name, 128);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(hwnd, GWLP_HINSTANCE)), name, &wc))
        return nullptr;
    return wc.hbrBackground;
}

HFONT FontOf(HWND hwnd) {
    HFONT font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    return font ? font : static_cast<HFONT>(GetStockObject(DEFAULT_GUI_FONT));
}

std::u16string Text(HWND hwnd) {
    return stdctl::WindowText(hwnd);
}

DWORD StyleOf(HWND hwnd) {
    return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
}

bool IsClass(HWND hwnd, const char16_t* name) {
    char16_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    return stdctl::CompareNoCase(cls, name) == 0;
}

void Fill(HDC dc, const RECT& r, int colour) {
    FillRect(dc, &r, GetSysColorBrush(colour));
}

void DrawTextIn(HDC dc, HWND hwnd, const std::u16string& text, RECT r, UINT format, bool enabled) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
    HGDIOBJ old = SelectObject(dc, FontOf(hwnd));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, format);
    SelectObject(dc, old);
}

// The background a control paints under itself: what its parent answers WM_CTLCOLOR* with, else the face colour.
void FillControlBackground(HDC dc, HWND hwnd, const RECT& r, UINT ctlColor, int fallback) {
    HBRUSH brush = nullptr;
    if (HWND parent = GetParent(hwnd))
        brush = reinterpret_cast<HBRUSH>(
            SendMessageW(parent, ctlColor, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
    if (brush)
        FillRect(dc, &r, brush);
    else
        Fill(dc, r, fallback);
}

void PaintButton(HDC dc, HWND hwnd, const RECT& rc) {
    const DWORD style = StyleOf(hwnd);
    const DWORD type = style & BS_TYPEMASK;
    const bool enabled = !(style & WS_DISABLED);
    const LRESULT state = SendMessageW(hwnd, BM_GETSTATE, 0, 0);
    if (type == BS_OWNERDRAW) {
        // The parent draws the whole button.
        DRAWITEMSTRUCT dis{};
        dis.CtlType = ODT_BUTTON;
        dis.CtlID = static_cast<UINT>(GetWindowLongPtrW(hwnd, GWLP_ID));
        dis.itemAction = ODA_DRAWENTIRE;
        dis.itemState = ((state & BST_PUSHED) ? ODS_SELECTED : 0u) | ((state & BST_FOCUS) ? ODS_FOCUS : 0u) |
                        (enabled ? 0u : ODS_DISABLED);
        dis.hwndItem = hwnd;
        dis.hDC = dc;
        dis.rcItem = rc;
        SendMessageW(GetParent(hwnd), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
        return;
    }
    const std::u16string text = Text(hwnd);
    FillControlBackground(dc, hwnd, rc, WM_CTLCOLORBTN, COLOR_BTNFACE);
    if (type == BS_GROUPBOX) {
        RECT frame = rc;
        frame.top += 6;
        DrawEdge(dc, &frame, EDGE_ETCHED, BF_RECT);
        if (!text.empty()) {
            RECT label{rc.left + 8, rc.top, rc.right - 8, rc.top + 14};
            HGDIOBJ old = SelectObject(dc, FontOf(hwnd));
            SIZE size{};
            GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &size);
            SelectObject(dc, old);
            label.right = std::min<LONG>(label.right, label.left + size.cx + 4);
            Fill(dc, label, COLOR_BTNFACE);
            DrawTextIn(dc, hwnd, text, label, DT_CENTER | DT_SINGLELINE | DT_VCENTER, enabled);
        }
        return;
    }
    const bool check = type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE;
    const bool radio = type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
    if (check || radio) {
        const int box = 13;
        const int top = rc.top + (rc.bottom - rc.top - box) / 2;
        RECT b{rc.left, top, rc.left + box, top + box};
        const LRESULT value = state & 3;
        HGDIOBJ oldPen = SelectObject(dc, GetStockObject(BLACK_PEN));
        HGDIOBJ oldBrush =
            SelectObject(dc, GetSysColorBrush(value == BST_INDETERMINATE ? COLOR_BTNFACE : COLOR_WINDOW));
        if (radio)
            Ellipse(dc, b.left, b.top, b.right, b.bottom);
        else
            Rectangle(dc, b.left, b.top, b.right, b.bottom);
        if (value) {
            SelectObject(dc, GetStockObject(BLACK_BRUSH));
            if (radio) {
                Ellipse(dc, b.left + 4, b.top + 4, b.right - 4, b.bottom - 4);
            } else {
                // A tick.
                const POINT tick[] = {{b.left + 3, b.top + 6},  {b.left + 5, b.top + 9},  {b.left + 10, b.top + 3},
                                      {b.left + 10, b.top + 5}, {b.left + 5, b.top + 11}, {b.left + 3, b.top + 8}};
                if (value == BST_INDETERMINATE)
                    SelectObject(dc, GetSysColorBrush(COLOR_GRAYTEXT));
                Polygon(dc, tick, 6);
            }
        }
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
        RECT label{b.right + 4, rc.top, rc.right, rc.bottom};
        DrawTextIn(dc, hwnd, text, label, DT_LEFT | DT_SINGLELINE | DT_VCENTER, enabled);
        if (state & BST_FOCUS) {
            RECT focus{label.left - 1, rc.top + 1, rc.right - 1, rc.bottom - 1};
            DrawFocusRect(dc, &focus);
        }
        return;
    }
    // Push buttons.
    RECT face = rc;
    if (type == BS_DEFPUSHBUTTON) {
        FrameRect(dc, &face, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
        InflateRect(&face, -1, -1);
    }
    Fill(dc, face, COLOR_BTNFACE);
    RECT edge = face;
    DrawEdge(dc, &edge, (state & BST_PUSHED) ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
    RECT label = face;
    if (state & BST_PUSHED)
        OffsetRect(&label, 1, 1);
    HANDLE image = reinterpret_cast<HANDLE>(SendMessageW(hwnd, BM_GETIMAGE, IMAGE_ICON, 0));
    if (image) {
        DrawIconEx(dc, (face.left + face.right - 16) / 2, (face.top + face.bottom - 16) / 2,
                   reinterpret_cast<HICON>(image), 16, 16, 0, nullptr, DI_NORMAL);
    } else {
        DrawTextIn(dc, hwnd, text, label, DT_CENTER | DT_SINGLELINE | DT_VCENTER, enabled);
    }
    if (state & BST_FOCUS) {
        RECT focus = face;
        InflateRect(&focus, -4, -4);
        DrawFocusRect(dc, &focus);
    }
}

// An image static's picture: at the corner, centred (SS_CENTERIMAGE) or stretched to the control
// (SS_REALSIZECONTROL).
void DrawImage(HDC dc, HANDLE image, WPARAM kind, const RECT& rc, DWORD style) {
    if (!image)
        return;
    int width = 0, height = 0;
    const bool icon = kind == IMAGE_ICON || kind == IMAGE_CURSOR;
    if (icon) {
        ICONINFO info{};
        if (!GetIconInfo(reinterpret_cast<HICON>(image), &info))
            return;
        BITMAP bm{};
        if (GetObjectW(info.hbmMask, sizeof bm, &bm)) {
            width = bm.bmWidth;
            height = info.hbmColor ? bm.bmHeight : bm.bmHeight / 2;
        }
        DeleteObject(info.hbmMask);
        if (info.hbmColor)
            DeleteObject(info.hbmColor);
    } else {
        BITMAP bm{};
        if (!GetObjectW(image, sizeof bm, &bm))
            return;
        width = bm.bmWidth;
        height = bm.bmHeight;
    }
    int x = rc.left, y = rc.top, cx = width, cy = height;
    if (style & SS_REALSIZECONTROL) {
        cx = rc.right - rc.left;
        cy = rc.bottom - rc.top;
    } else if (style & SS_CENTERIMAGE) {
        x = rc.left + (rc.right - rc.left - width) / 2;
        y = rc.top + (rc.bottom - rc.top - height) / 2;
    }
    if (icon) {
        DrawIconEx(dc, x, y, reinterpret_cast<HICON>(image), cx, cy, 0, nullptr, DI_NORMAL);
        return;
    }
    HDC mem = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(mem, image);
    if (cx == width && cy == height)
        BitBlt(dc, x, y, width, height, mem, 0, 0, SRCCOPY);
    else
        StretchBlt(dc, x, y, cx, cy, mem, 0, 0, width, height, SRCCOPY);
    SelectObject(mem, old);
    DeleteDC(mem);
}

void PaintStatic(HDC dc, HWND hwnd, const RECT& rc) {
    const DWORD style = StyleOf(hwnd);
    const DWORD type = style & SS_TYPEMASK;
    RECT r = rc;
    switch (type) {
    case SS_ETCHEDFRAME:
        DrawEdge(dc, &r, EDGE_ETCHED, BF_RECT);
        return;
    case SS_ETCHEDHORZ:
        DrawEdge(dc, &r, EDGE_ETCHED, BF_TOP);
        return;
    case SS_ETCHEDVERT:
        DrawEdge(dc, &r, EDGE_ETCHED, BF_LEFT);
        return;
    case SS_BLACKRECT:
    case SS_GRAYRECT:
    case SS_WHITERECT:
        Fill(dc, r, type == SS_BLACKRECT ? COLOR_WINDOWTEXT : type == SS_GRAYRECT ? COLOR_BTNSHADOW : COLOR_WINDOW);
        return;
    case SS_BLACKFRAME:
    case SS_GRAYFRAME:
    case SS_WHITEFRAME:
        FrameRect(dc, &r,
                  GetSysColorBrush(type == SS_BLACKFRAME  ? COLOR_WINDOWTEXT
                                   : type == SS_GRAYFRAME ? COLOR_BTNSHADOW
                                                          : COLOR_WINDOW));
        return;
    default:
        break;
    }
    FillControlBackground(dc, hwnd, rc, WM_CTLCOLORSTATIC, COLOR_BTNFACE);
    if (type == SS_ICON || type == SS_BITMAP) {
        WPARAM kind = IMAGE_BITMAP;
        HANDLE image = stdctl::StaticImage(hwnd, &kind);
        DrawImage(dc, image, kind, rc, style);
        return;
    }
    UINT format = DT_WORDBREAK;
    if (type == SS_CENTER)
        format |= DT_CENTER;
    else if (type == SS_RIGHT)
        format |= DT_RIGHT;
    if (type == SS_SIMPLE || type == SS_LEFTNOWORDWRAP)
        format = DT_SINGLELINE;
    if (style & SS_NOPREFIX)
        format |= DT_NOPREFIX;
    if (style & SS_ENDELLIPSIS)
        format |= DT_END_ELLIPSIS;
    if (style & SS_PATHELLIPSIS)
        format |= DT_PATH_ELLIPSIS;
    DrawTextIn(dc, hwnd, Text(hwnd), r, format, !(style & WS_DISABLED));
}

RECT Bordered(HDC dc, HWND hwnd, RECT r) {
    if ((StyleOf(hwnd) & WS_BORDER) || (GetWindowLongW(hwnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE)) {
        DrawEdge(dc, &r, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    }
    return r;
}

void PaintEdit(HDC dc, HWND hwnd, const RECT& rc) {
    const DWORD style = StyleOf(hwnd);
    const bool grey = (style & (ES_READONLY | WS_DISABLED)) != 0;
    FillControlBackground(dc, hwnd, rc, grey ? WM_CTLCOLORSTATIC : WM_CTLCOLOREDIT,
                          grey ? COLOR_BTNFACE : COLOR_WINDOW);
    RECT inner = Bordered(dc, hwnd, rc);
    InflateRect(&inner, -2, -1);
    UINT format = DT_NOPREFIX | ((style & ES_MULTILINE) ? DT_WORDBREAK : DT_SINGLELINE | DT_VCENTER);
    if (style & ES_CENTER)
        format |= DT_CENTER;
    else if (style & ES_RIGHT)
        format |= DT_RIGHT;
    DrawTextIn(dc, hwnd, stdctl::EditDisplayText(hwnd), inner, format, !(style & WS_DISABLED));
}

void PaintCombo(HDC dc, HWND hwnd, const RECT& rc) {
    RECT box = rc;
    box.bottom = std::min<LONG>(box.bottom, box.top + 21);
    Fill(dc, rc, COLOR_BTNFACE);
    Fill(dc, box, COLOR_WINDOW);
    RECT inner = box;
    DrawEdge(dc, &inner, EDGE_SUNKEN, BF_RECT | BF_ADJUST);
    RECT arrow{inner.right - 16, inner.top, inner.right, inner.bottom};
    Fill(dc, arrow, COLOR_BTNFACE);
    RECT arrowEdge = arrow;
    DrawEdge(dc, &arrowEdge, EDGE_RAISED, BF_RECT);
    const int cx = (arrow.left + arrow.right) / 2, cy = (arrow.top + arrow.bottom) / 2;
    const POINT tri[] = {{cx - 4, cy - 2}, {cx + 4, cy - 2}, {cx, cy + 2}};
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
    Polygon(dc, tri, 3);
    SelectObject(dc, oldBrush);
    RECT text{inner.left + 2, inner.top, arrow.left - 2, inner.bottom};
    DrawTextIn(dc, hwnd, Text(hwnd), text, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX, !(StyleOf(hwnd) & WS_DISABLED));
}

void PaintList(HDC dc, HWND hwnd, const RECT& rc) {
    FillControlBackground(dc, hwnd, rc, WM_CTLCOLORLISTBOX, COLOR_WINDOW);
    RECT inner = Bordered(dc, hwnd, rc);
    const int count = static_cast<int>(SendMessageW(hwnd, LB_GETCOUNT, 0, 0));
    const int top = static_cast<int>(SendMessageW(hwnd, LB_GETTOPINDEX, 0, 0));
    const int height = static_cast<int>(SendMessageW(hwnd, LB_GETITEMHEIGHT, 0, 0));
    for (int i = top; i < count; ++i) {
        RECT item{inner.left, inner.top + (i - top) * height, inner.right, inner.top + (i - top + 1) * height};
        if (item.top >= inner.bottom)
            break;
        const LRESULT length = SendMessageW(hwnd, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        std::u16string text(static_cast<size_t>(std::max<LRESULT>(length, 0)) + 1, u'\0');
        SendMessageW(hwnd, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(text.data()));
        text.resize(static_cast<size_t>(std::max<LRESULT>(length, 0)));
        const bool selected = SendMessageW(hwnd, LB_GETSEL, static_cast<WPARAM>(i), 0) > 0;
        if (selected)
            Fill(dc, item, COLOR_HIGHLIGHT);
        RECT label = item;
        label.left += 2;
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
        HGDIOBJ old = SelectObject(dc, FontOf(hwnd));
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &label, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SelectObject(dc, old);
    }
}

// The frame and caption of a top-level window, drawn on its surface around the client area.
void PaintFrame(HWND hwnd) {
    const DWORD style = StyleOf(hwnd);
    if (style & WS_CHILD)
        return;
    const RECT client = ClientInWindow(hwnd);
    const RECT whole = WindowBox(hwnd);
    if (client.left == 0 && client.top == 0 && client.right == whole.right - whole.left &&
        client.bottom == whole.bottom - whole.top)
        return;
    HDC dc = GetWindowDC(hwnd);
    if (!dc)
        return;
    RECT r{0, 0, whole.right - whole.left, whole.bottom - whole.top};
    Fill(dc, r, COLOR_BTNFACE);
    RECT edge = r;
    DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
    if ((style & WS_CAPTION) == WS_CAPTION && client.top > 4) {
        RECT caption{client.left, 3, client.right, client.top - 1};
        Fill(dc, caption, COLOR_ACTIVECAPTION);
        RECT title = caption;
        title.left += 4;
        SetBkMode(dc, TRANSPARENT);
        SetTextColor(dc, GetSysColor(COLOR_CAPTIONTEXT));
        HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
        const std::u16string text = Text(hwnd);
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &title, DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX);
        SelectObject(dc, old);
    }
    ReleaseDC(hwnd, dc);
}

} // namespace

void SetControlFont(HWND hwnd, HFONT font) {
    auto& s = GetStore();
    std::lock_guard guard(s.lock);
    if (font)
        s.fonts[hwnd] = font;
    else
        s.fonts.erase(hwnd);
}

HFONT GetControlFont(HWND hwnd) {
    auto& s = GetStore();
    std::lock_guard guard(s.lock);
    auto it = s.fonts.find(hwnd);
    return it == s.fonts.end() ? nullptr : it->second;
}

void ForgetControl(HWND hwnd) {
    auto& s = GetStore();
    std::lock_guard guard(s.lock);
    s.fonts.erase(hwnd);
    s.surfaces.erase(hwnd);
}

HFONT DialogFont(WORD pointSize, const std::u16string& faceName) {
    // One font per size and face for the whole process, as the dialogs share them.
    static std::mutex lock;
    static std::unordered_map<std::u16string, HFONT> fonts;
    const std::u16string key = faceName + u"/" + std::u16string(1, static_cast<char16_t>(pointSize));
    std::lock_guard guard(lock);
    auto it = fonts.find(key);
    if (it != fonts.end())
        return it->second;
    const int height = -static_cast<int>((pointSize * 96 + 36) / 72);
    HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, faceName.c_str());
    fonts.emplace(key, font);
    return font;
}

HBRUSH DefaultControlBrush(UINT ctlColorMessage) {
    return GetSysColorBrush(
        ctlColorMessage == WM_CTLCOLOREDIT || ctlColorMessage == WM_CTLCOLORLISTBOX ? COLOR_WINDOW : COLOR_BTNFACE);
}

bool HandleFontAndPaint(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (msg) {
    case WM_SETFONT:
        SetControlFont(hwnd, reinterpret_cast<HFONT>(wParam));
        if (lParam)
            InvalidateRect(hwnd, nullptr, TRUE);
        result = 0;
        return true;
    case WM_GETFONT:
        result = reinterpret_cast<LRESULT>(GetControlFont(hwnd));
        return true;
    case WM_PAINT:
        result = PaintControl(hwnd);
        return true;
    default:
        return false;
    }
}

LRESULT PaintControl(HWND hwnd) {
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(hwnd, &ps);
    if (!dc)
        return 0;
    RECT rc{};
    GetClientRect(hwnd, &rc);
    if (IsClass(hwnd, WC_BUTTONW))
        PaintButton(dc, hwnd, rc);
    else if (IsClass(hwnd, WC_STATICW))
        PaintStatic(dc, hwnd, rc);
    else if (IsClass(hwnd, WC_EDITW))
        PaintEdit(dc, hwnd, rc);
    else if (IsClass(hwnd, WC_COMBOBOXW))
        PaintCombo(dc, hwnd, rc);
    else if (IsClass(hwnd, WC_LISTBOXW))
        PaintList(dc, hwnd, rc);
    else
        Fill(dc, rc, COLOR_BTNFACE); // a dialog: its face
    EndPaint(hwnd, &ps);
    return 0;
}

} // namespace platform::ui::paint

using namespace platform::ui::paint;

HDC BeginPaint(HWND hwnd, LPPAINTSTRUCT paint) {
    if (!paint || !IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return nullptr;
    }
    RECT update{};
    const BOOL pending = GetUpdateRect(hwnd, &update, FALSE);
    HDC dc = GetDC(hwnd);
    if (!dc)
        return nullptr;
    *paint = PAINTSTRUCT{};
    paint->hdc = dc;
    GetClientRect(hwnd, &paint->rcPaint);
    // The class brush first, then the window's own erasing.
    if (HBRUSH brush = ClassBrush(hwnd))
        FillRect(dc, &paint->rcPaint, brush);
    paint->fErase = SendMessageW(hwnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0) ? FALSE : TRUE;
    (void)pending;
    ValidateRect(hwnd, nullptr);
    return dc;
}

BOOL EndPaint(HWND hwnd, const PAINTSTRUCT* paint) {
    if (paint && paint->hdc)
        DeleteDC(paint->hdc);
    // What the window painted goes to the display.
    platform::ui::NoteWindowChange(hwnd);
    return TRUE;
}

HDC GetDC(HWND hwnd) {
    if (!hwnd || !IsWindow(hwnd))
        return nullptr;
    auto surface = SurfaceOf(hwnd);
    const RECT client = ClientInWindow(hwnd);
    // A shaped window draws only inside its shape.
    HRGN shape = platform::ui::CopyWindowShape(hwnd);
    HDC dc = surface->CreateDC(POINT{client.left, client.top}, client, shape);
    if (shape)
        DeleteObject(shape);
    return dc;
}

HDC GetWindowDC(HWND hwnd) {
    if (!hwnd || !IsWindow(hwnd))
        return nullptr;
    auto surface = SurfaceOf(hwnd);
    HRGN shape = platform::ui::CopyWindowShape(hwnd);
    HDC dc = surface->CreateDC(POINT{0, 0}, RECT{0, 0, 32767, 32767}, shape);
    if (shape)
        DeleteObject(shape);
    return dc;
}

int ReleaseDC(HWND hwnd, HDC dc) {
    const int released = dc && DeleteDC(dc) ? 1 : 0;
    if (released && hwnd)
        platform::ui::NoteWindowChange(hwnd);
    return released;
}

namespace platform::ui {

namespace {

// The shapes of the windows of one picture, freed with it.
struct Shapes {
    std::vector<HRGN> list;
    Shapes() = default;
    Shapes(const Shapes&) = delete;
    Shapes& operator=(const Shapes&) = delete;
    ~Shapes() {
        for (HRGN shape : list)
            DeleteObject(shape);
    }
    HRGN Of(HWND hwnd) {
        HRGN shape = platform::ui::CopyWindowShape(hwnd);
        if (shape)
            list.push_back(shape);
        return shape;
    }
};

// Gathers the surfaces of a window and its visible descendants; with `repaint`, each paints itself afresh first.
void Collect(HWND hwnd, const RECT& rootBox, const RECT& clip, std::vector<gdi::SurfaceLayer>& layers,
             std::vector<std::shared_ptr<gdi::WindowSurface>>& keep, Shapes& shapes, bool repaint) {
    if (repaint) {
        // Paint afresh: the frame, then the window's own WM_PAINT.
        PaintFrame(hwnd);
        InvalidateRect(hwnd, nullptr, TRUE);
        SendMessageW(hwnd, WM_PAINT, 0, 0);
    }
    auto surface = SurfaceOf(hwnd);
    keep.push_back(surface);
    const RECT box = WindowBox(hwnd);
    layers.push_back(
        gdi::SurfaceLayer{surface.get(), POINT{box.left - rootBox.left, box.top - rootBox.top}, clip, shapes.Of(hwnd)});
    // Children land inside this window's client area; the bottom of the Z order first.
    const RECT client = ClientInWindow(hwnd);
    RECT childClip{box.left - rootBox.left + client.left, box.top - rootBox.top + client.top,
                   box.left - rootBox.left + client.right, box.top - rootBox.top + client.bottom};
    IntersectRect(&childClip, &childClip, &clip);
    std::vector<HWND> children;
    for (HWND c = GetWindow(hwnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        children.push_back(c);
    // Group boxes surround other controls without covering them: they go under everything else.
    auto isGroupBox = [](HWND h) { return IsClass(h, WC_BUTTONW) && (StyleOf(h) & BS_TYPEMASK) == BS_GROUPBOX; };
    for (bool groupBoxes : {true, false})
        for (auto it = children.rbegin(); it != children.rend(); ++it)
            if ((GetWindowLongW(*it, GWL_STYLE) & WS_VISIBLE) && isGroupBox(*it) == groupBoxes)
                Collect(*it, rootBox, childClip, layers, keep, shapes, repaint);
}

} // namespace

bool paint::DrawPainted(HWND hwnd, POINT origin, int width, int height, cairo_surface_t* target) {
    if (!IsWindow(hwnd))
        return false;
    const RECT box = WindowBox(hwnd);
    std::vector<gdi::SurfaceLayer> layers;
    std::vector<std::shared_ptr<gdi::WindowSurface>> keep;
    Shapes shapes;
    Collect(hwnd, box, RECT{0, 0, box.right - box.left, box.bottom - box.top}, layers, keep, shapes, false);
    return gdi::ComposeOnto(target, width, height, origin, layers, GetSysColor(COLOR_BTNFACE));
}

BOOL SaveWindowPng(HWND hwnd, const std::u16string& path) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    auto host = fs::ToHost(path.c_str());
    if (!host || host->kind != fs::PathKind::File)
        return FALSE;
    return SaveWindowPngToHost(hwnd, host->path);
}

BOOL SaveWindowPngToHost(HWND hwnd, const std::string& hostPath) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    const RECT box = WindowBox(hwnd);
    const int width = box.right - box.left, height = box.bottom - box.top;
    std::vector<gdi::SurfaceLayer> layers;
    std::vector<std::shared_ptr<gdi::WindowSurface>> keep;
    Shapes shapes;
    Collect(hwnd, box, RECT{0, 0, width, height}, layers, keep, shapes, true);
    // A layered window shows through where its key colour is and by its alpha.
    COLORREF key = 0;
    BYTE alpha = 255;
    DWORD flags = 0;
    gdi::LayeredLook look;
    const DWORD error = GetLastError();
    const bool layered = GetLayeredWindowAttributes(hwnd, &key, &alpha, &flags) != FALSE;
    SetLastError(error); // a window that is not layered is no failure here
    if (layered) {
        look.keyed = (flags & LWA_COLORKEY) != 0;
        look.key = key;
        look.alpha = (flags & LWA_ALPHA) ? alpha : 255;
    }
    // A shaped window shows nothing outside its shape.
    look.shape = layers.empty() ? nullptr : layers.front().shape;
    const bool seeThrough = layered || look.shape;
    return gdi::ComposePng(width, height, layers, hostPath, GetSysColor(COLOR_BTNFACE), seeThrough ? &look : nullptr)
               ? TRUE
               : FALSE;
}

} // namespace platform::ui
