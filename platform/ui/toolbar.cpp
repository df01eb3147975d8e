// The toolbar: buttons with images of one bitmap strip, separators, states, and the click that sends the command.
// Also CreateMappedBitmap, which toolbars' bitmaps are loaded with.
#include "platform/ui/commctrl_internal.h"

#include "platform/base/errors.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/resources.h"
#include "platform/ui/controls.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace platform::ui {
namespace {

constexpr int kSeparatorWidth = 8;
constexpr int kBorder = 2;

COLORREF FromQuad(const RGBQUAD& q) {
    return RGB(q.rgbRed, q.rgbGreen, q.rgbBlue);
}

bool MapColor(COLORREF& color, const COLORMAP* map, int count) {
    for (int i = 0; i < count; ++i)
        if (map[i].from == color) {
            color = map[i].to;
            return true;
        }
    return false;
}

} // namespace

HBITMAP CreateMappedBitmapFromDib(const void* dib, size_t size, const COLORMAP* colorMap, int mapSize) {
    if (!dib || size < sizeof(BITMAPINFOHEADER))
        return nullptr;
    BITMAPINFOHEADER header;
    std::memcpy(&header, dib, sizeof header);
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biWidth <= 0 || header.biHeight == 0 ||
        header.biPlanes != 1 || header.biCompression > 3 || (header.biCompression != 0 && header.biCompression != 3))
        return nullptr;
    const int bits = header.biBitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return nullptr;
    size_t colors = header.biClrUsed ? header.biClrUsed : (bits <= 8 ? (size_t{1} << bits) : 0);
    if (bits <= 8)
        colors = std::min(colors, size_t{1} << bits);
    const size_t masks = header.biCompression == 3 ? 3 : 0;
    const size_t table = header.biSize + (colors + masks) * sizeof(RGBQUAD);
    const size_t height =
        static_cast<size_t>(header.biHeight < 0 ? -static_cast<long long>(header.biHeight) : header.biHeight);
    const size_t stride = ((static_cast<size_t>(header.biWidth) * static_cast<size_t>(bits) + 31) / 32) * 4;
    if (table > size || stride * height > size - table)
        return nullptr;

    std::vector<BYTE> info(table);
    std::memcpy(info.data(), dib, table);
    std::vector<BYTE> pixels(static_cast<const BYTE*>(dib) + table,
                             static_cast<const BYTE*>(dib) + table + stride * height);
    if (bits <= 8) {
        auto* quads = reinterpret_cast<RGBQUAD*>(info.data() + header.biSize);
        for (size_t i = 0; i < colors; ++i) {
            COLORREF c = FromQuad(quads[i]);
            if (MapColor(c, colorMap, mapSize))
                quads[i] = RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
        }
    } else if ((bits == 24 || bits == 32) && header.biCompression == 0) {
        const size_t step = static_cast<size_t>(bits / 8);
        for (size_t y = 0; y < height; ++y)
            for (size_t x = 0; x < static_cast<size_t>(header.biWidth); ++x) {
                BYTE* p = pixels.data() + y * stride + x * step;
                COLORREF c = RGB(p[2], p[1], p[0]);
                if (MapColor(c, colorMap, mapSize)) {
                    p[0] = GetBValue(c);
                    p[1] = GetGValue(c);
                    p[2] = GetRValue(c);
                }
            }
    }
    void* target = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(info.data()), DIB_RGB_COLORS,
                                      &target, nullptr, 0);
    if (!bitmap || !target) {
        if (bitmap)
            DeleteObject(bitmap);
        return nullptr;
    }
    std::memcpy(target, pixels.data(), pixels.size());
    return bitmap;
}

namespace controls {
namespace {

struct Toolbar {
    std::vector<TBBUTTON> buttons;
    SIZE bitmapSize{16, 15};
    SIZE buttonSize{23, 22};
    HBITMAP bitmap = nullptr; // the caller's: the toolbar never deletes it
    int images = 0;
    int pressed = -1; // the button the mouse went down on
    bool inside = false;
};

RECT ButtonRect(const Toolbar& tb, int index) {
    int x = kBorder;
    for (int i = 0; i < index; ++i) {
        const TBBUTTON& b = tb.buttons[static_cast<size_t>(i)];
        if (b.fsState & TBSTATE_HIDDEN)
            continue;
        x += (b.fsStyle & TBSTYLE_SEP) ? (b.iBitmap > 0 ? b.iBitmap : kSeparatorWidth) : tb.buttonSize.cx;
    }
    const TBBUTTON& b = tb.buttons[static_cast<size_t>(index)];
    const int width = (b.fsState & TBSTATE_HIDDEN) ? 0
                      : (b.fsStyle & TBSTYLE_SEP)  ? (b.iBitmap > 0 ? b.iBitmap : kSeparatorWidth)
                                                   : tb.buttonSize.cx;
    return RECT{x, kBorder, x + width, kBorder + tb.buttonSize.cy};
}

int HitButton(const Toolbar& tb, POINT pt) {
    for (size_t i = 0; i < tb.buttons.size(); ++i) {
        const TBBUTTON& b = tb.buttons[i];
        if ((b.fsStyle & TBSTYLE_SEP) || (b.fsState & TBSTATE_HIDDEN))
            continue;
        const RECT rc = ButtonRect(tb, static_cast<int>(i));
        if (PtInRect(&rc, pt))
            return static_cast<int>(i);
    }
    return -1;
}

int IndexOfCommand(const Toolbar& tb, int id) {
    for (size_t i = 0; i < tb.buttons.size(); ++i)
        if (!(tb.buttons[i].fsStyle & TBSTYLE_SEP) && tb.buttons[i].idCommand == id)
            return static_cast<int>(i);
    return -1;
}

void Paint(HWND hwnd, const Toolbar& tb, HDC dc) {
    RECT client{};
    GetClientRect(hwnd, &client);
    FillColor(dc, client, GetSysColor(COLOR_BTNFACE));
    HDC source = tb.bitmap ? CreateCompatibleDC(dc) : nullptr;
    HGDIOBJ old = source ? SelectObject(source, tb.bitmap) : nullptr;
    const bool flat = (GetWindowLongW(hwnd, GWL_STYLE) & TBSTYLE_FLAT) != 0;
    for (size_t i = 0; i < tb.buttons.size(); ++i) {
        const TBBUTTON& b = tb.buttons[i];
        if (b.fsState & TBSTATE_HIDDEN)
            continue;
        RECT rc = ButtonRect(tb, static_cast<int>(i));
        if (b.fsStyle & TBSTYLE_SEP) {
            if (flat) {
                RECT line{(rc.left + rc.right) / 2 - 1, rc.top, (rc.left + rc.right) / 2 + 1, rc.bottom};
                DrawEdge(dc, &line, EDGE_ETCHED, BF_LEFT);
            }
            continue;
        }
        const bool down =
            (b.fsState & (TBSTATE_PRESSED | TBSTATE_CHECKED)) || (static_cast<int>(i) == tb.pressed && tb.inside);
        if (b.fsState & TBSTATE_CHECKED)
            FillColor(dc, rc, RGB(224, 224, 224));
        if (down || !flat) {
            RECT edge = rc;
            DrawEdge(dc, &edge, down ? BDR_SUNKENOUTER : BDR_RAISEDINNER, BF_RECT);
        }
        if (!source || b.iBitmap < 0 || b.iBitmap >= tb.images)
            continue;
        const int x = rc.left + (tb.buttonSize.cx - tb.bitmapSize.cx) / 2 + (down ? 1 : 0);
        const int y = rc.top + (tb.buttonSize.cy - tb.bitmapSize.cy) / 2 + (down ? 1 : 0);
        const int sx = b.iBitmap * tb.bitmapSize.cx;
        if (b.fsState & TBSTATE_ENABLED) {
            BitBlt(dc, x, y, tb.bitmapSize.cx, tb.bitmapSize.cy, source, sx, 0, SRCCOPY);
            continue;
        }
        // A disabled button's image is embossed from its shape.
        HBITMAP cell = CreateCompatibleBitmap(dc, tb.bitmapSize.cx, tb.bitmapSize.cy);
        HDC cellDc = CreateCompatibleDC(dc);
        HGDIOBJ oldCell = SelectObject(cellDc, cell);
        BitBlt(cellDc, 0, 0, tb.bitmapSize.cx, tb.bitmapSize.cy, source, sx, 0, SRCCOPY);
        SelectObject(cellDc, oldCell);
        DeleteDC(cellDc);
        DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(cell), 0, x, y, tb.bitmapSize.cx, tb.bitmapSize.cy,
                   DST_BITMAP | DSS_DISABLED);
        DeleteObject(cell);
    }
    if (source) {
        SelectObject(source, old);
        DeleteDC(source);
    }
}

LRESULT SetState(HWND hwnd, Toolbar& tb, int id, BYTE mask, bool on) {
    const int index = IndexOfCommand(tb, id);
    if (index < 0)
        return FALSE;
    BYTE& state = tb.buttons[static_cast<size_t>(index)].fsState;
    state = static_cast<BYTE>(on ? (state | mask) : (state & ~mask));
    InvalidateRect(hwnd, nullptr, FALSE);
    return TRUE;
}

LRESULT CALLBACK ToolbarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<Toolbar>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    Toolbar* tb = StateOf<Toolbar>(hwnd);
    if (!tb)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<Toolbar>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        ControlPaint paint(hwnd, wParam);
        if (HDC dc = paint.dc())
            Paint(hwnd, *tb, dc);
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN: {
        tb->pressed = HitButton(*tb, PointFromLParam(lParam));
        if (tb->pressed >= 0 && !(tb->buttons[static_cast<size_t>(tb->pressed)].fsState & TBSTATE_ENABLED))
            tb->pressed = -1;
        tb->inside = tb->pressed >= 0;
        if (tb->pressed >= 0) {
            SetCapture(hwnd);
            InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    }
    case WM_MOUSEMOVE:
        if (tb->pressed >= 0) {
            const bool inside = HitButton(*tb, PointFromLParam(lParam)) == tb->pressed;
            if (inside != tb->inside) {
                tb->inside = inside;
                InvalidateRect(hwnd, nullptr, FALSE);
            }
        }
        return 0;
    case WM_LBUTTONUP: {
        const int pressed = tb->pressed;
        const bool inside = pressed >= 0 && HitButton(*tb, PointFromLParam(lParam)) == pressed;
        tb->pressed = -1;
        tb->inside = false;
        if (GetCapture() == hwnd)
            ReleaseCapture();
        if (pressed < 0)
            return 0;
        InvalidateRect(hwnd, nullptr, FALSE);
        if (!inside)
            return 0;
        TBBUTTON& b = tb->buttons[static_cast<size_t>(pressed)];
        if (b.fsStyle & TBSTYLE_CHECK) {
            if (b.fsStyle & TBSTYLE_GROUP) {
                // One checked button per group: the neighbours of the same group are released.
                for (int i = pressed - 1; i >= 0 && (tb->buttons[static_cast<size_t>(i)].fsStyle & TBSTYLE_GROUP); --i)
                    tb->buttons[static_cast<size_t>(i)].fsState &= static_cast<BYTE>(~TBSTATE_CHECKED);
                for (size_t i = static_cast<size_t>(pressed) + 1;
                     i < tb->buttons.size() && (tb->buttons[i].fsStyle & TBSTYLE_GROUP); ++i)
                    tb->buttons[i].fsState &= static_cast<BYTE>(~TBSTATE_CHECKED);
                b.fsState |= TBSTATE_CHECKED;
            } else {
                b.fsState ^= TBSTATE_CHECKED;
            }
        }
        if (HWND parent = GetParent(hwnd))
            SendMessageW(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(b.idCommand), BN_CLICKED),
                         reinterpret_cast<LPARAM>(hwnd));
        return 0;
    }
    case TB_BUTTONSTRUCTSIZE:
    case TB_AUTOSIZE:
        return 0;
    case TB_ADDBUTTONSW:
    case TB_INSERTBUTTONW: {
        const auto* add = reinterpret_cast<const TBBUTTON*>(lParam);
        if (!add)
            return FALSE;
        if (msg == TB_ADDBUTTONSW) {
            tb->buttons.insert(tb->buttons.end(), add, add + wParam);
        } else {
            const size_t at = std::min(static_cast<size_t>(static_cast<int>(wParam) < 0 ? tb->buttons.size() : wParam),
                                       tb->buttons.size());
            tb->buttons.insert(tb->buttons.begin() + static_cast<std::ptrdiff_t>(at), *add);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    }
    case TB_DELETEBUTTON:
        if (wParam >= tb->buttons.size())
            return FALSE;
        tb->buttons.erase(tb->buttons.begin() + static_cast<std::ptrdiff_t>(wParam));
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    case TB_BUTTONCOUNT:
        return static_cast<LRESULT>(tb->buttons.size());
    case TB_GETBUTTON:
        if (wParam >= tb->buttons.size() || !lParam)
            return FALSE;
        *reinterpret_cast<TBBUTTON*>(lParam) = tb->buttons[wParam];
        return TRUE;
    case TB_COMMANDTOINDEX:
        return IndexOfCommand(*tb, static_cast<int>(wParam));
    case TB_GETITEMRECT:
        if (wParam >= tb->buttons.size() || !lParam)
            return FALSE;
        *reinterpret_cast<RECT*>(lParam) = ButtonRect(*tb, static_cast<int>(wParam));
        return TRUE;
    case TB_SETBUTTONSIZE:
        tb->buttonSize = SIZE{std::max<LONG>(1, LOWORD(lParam)), std::max<LONG>(1, HIWORD(lParam))};
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    case TB_GETBUTTONSIZE:
        return MAKELONG(tb->buttonSize.cx, tb->buttonSize.cy);
    case TB_SETBITMAPSIZE:
        tb->bitmapSize = SIZE{std::max<LONG>(1, LOWORD(lParam)), std::max<LONG>(1, HIWORD(lParam))};
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    case TB_ADDBITMAP: {
        // One strip of images: a second bitmap replaces the first (the images then count from 0 again).
        const auto* add = reinterpret_cast<const TBADDBITMAP*>(lParam);
        if (!add || add->hInst)
            return -1;
        tb->bitmap = reinterpret_cast<HBITMAP>(add->nID);
        tb->images = static_cast<int>(wParam);
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    }
    case TB_REPLACEBITMAP: {
        const auto* replace = reinterpret_cast<const TBREPLACEBITMAP*>(lParam);
        if (!replace || replace->hInstNew)
            return FALSE;
        tb->bitmap = reinterpret_cast<HBITMAP>(replace->nIDNew);
        tb->images = replace->nButtons;
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    }
    case TB_GETBITMAP: {
        const int index = IndexOfCommand(*tb, static_cast<int>(wParam));
        return index < 0 ? -1 : tb->buttons[static_cast<size_t>(index)].iBitmap;
    }
    case TB_CHANGEBITMAP: {
        const int index = IndexOfCommand(*tb, static_cast<int>(wParam));
        if (index < 0)
            return FALSE;
        tb->buttons[static_cast<size_t>(index)].iBitmap = static_cast<int>(LOWORD(lParam));
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    }
    case TB_SETCMDID:
        if (wParam >= tb->buttons.size())
            return FALSE;
        tb->buttons[wParam].idCommand = static_cast<int>(lParam);
        return TRUE;
    case TB_ENABLEBUTTON:
        return SetState(hwnd, *tb, static_cast<int>(wParam), TBSTATE_ENABLED, LOWORD(lParam) != 0);
    case TB_CHECKBUTTON:
        return SetState(hwnd, *tb, static_cast<int>(wParam), TBSTATE_CHECKED, LOWORD(lParam) != 0);
    case TB_PRESSBUTTON:
        return SetState(hwnd, *tb, static_cast<int>(wParam), TBSTATE_PRESSED, LOWORD(lParam) != 0);
    case TB_HIDEBUTTON:
        return SetState(hwnd, *tb, static_cast<int>(wParam), TBSTATE_HIDDEN, LOWORD(lParam) != 0);
    case TB_ISBUTTONENABLED:
    case TB_ISBUTTONCHECKED:
    case TB_ISBUTTONPRESSED:
    case TB_ISBUTTONHIDDEN: {
        const int index = IndexOfCommand(*tb, static_cast<int>(wParam));
        if (index < 0)
            return 0;
        const BYTE mask = msg == TB_ISBUTTONENABLED   ? TBSTATE_ENABLED
                          : msg == TB_ISBUTTONCHECKED ? TBSTATE_CHECKED
                          : msg == TB_ISBUTTONPRESSED ? TBSTATE_PRESSED
                                                      : TBSTATE_HIDDEN;
        return (tb->buttons[static_cast<size_t>(index)].fsState & mask) ? TRUE : FALSE;
    }
    case TB_SETSTATE: {
        const int index = IndexOfCommand(*tb, static_cast<int>(wParam));
        if (index < 0)
            return FALSE;
        tb->buttons[static_cast<size_t>(index)].fsState = static_cast<BYTE>(LOWORD(lParam));
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    }
    case TB_GETSTATE: {
        const int index = IndexOfCommand(*tb, static_cast<int>(wParam));
        return index < 0 ? -1 : tb->buttons[static_cast<size_t>(index)].fsState;
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterToolbar() {
    RegisterControlClass(TOOLBARCLASSNAMEW, ToolbarProc);
}

} // namespace controls
} // namespace platform::ui

HBITMAP CreateMappedBitmap(HINSTANCE instance, INT_PTR idBitmap, UINT flags, LPCOLORMAP colorMap, int mapSize) {
    (void)flags;
    HRSRC resource = FindResourceW(instance, MAKEINTRESOURCEW(idBitmap), RT_BITMAP);
    HGLOBAL data = resource ? LoadResource(instance, resource) : nullptr;
    const void* bytes = data ? LockResource(data) : nullptr;
    if (!bytes) {
        SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    COLORMAP buttonColors[] = {
        {RGB(0, 0, 0), GetSysColor(COLOR_BTNTEXT)},
        {RGB(128, 128, 128), GetSysColor(COLOR_BTNSHADOW)},
        {RGB(192, 192, 192), GetSysColor(COLOR_BTNFACE)},
        {RGB(255, 255, 255), GetSysColor(COLOR_BTNHIGHLIGHT)},
    };
    if (!colorMap) {
        colorMap = buttonColors;
        mapSize = 4;
    }
    return platform::ui::CreateMappedBitmapFromDib(bytes, SizeofResource(instance, resource), colorMap, mapSize);
}
