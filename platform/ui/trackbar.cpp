// The trackbar: a range, a position, tick marks, a selection range, line and page sizes; keys and clicks move the
// thumb and tell the parent through WM_HSCROLL (WM_VSCROLL for TBS_VERT) with the trackbar as lParam.
#include "platform/ui/commctrl_internal.h"

#include "platform/gdi/wingdi.h"

#include <algorithm>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr int kMargin = 8;
constexpr int kThumbWidth = 11;

struct Trackbar {
    HWND hwnd = nullptr;
    int min = 0, max = 100, pos = 0;
    int line = 1, page = 20;
    int ticFreq = 1;
    std::vector<int> tics;
    int selStart = 0, selEnd = 0;
    int thumbLength = 20;
    bool tracking = false;

    bool Vertical() const { return GetWindowLongW(hwnd, GWL_STYLE) & TBS_VERT; }
    int Clamp(int v) const { return std::clamp(v, min, std::max(min, max)); }

    RECT Channel() const {
        RECT rc{};
        GetClientRect(hwnd, &rc);
        if (Vertical())
            return RECT{rc.right / 2 - 2, kMargin, rc.right / 2 + 2, std::max<LONG>(kMargin + 1, rc.bottom - kMargin)};
        return RECT{kMargin, rc.bottom / 2 - 2, std::max<LONG>(kMargin + 1, rc.right - kMargin), rc.bottom / 2 + 2};
    }
    int Span() const {
        const RECT c = Channel();
        return Vertical() ? c.bottom - c.top : c.right - c.left;
    }
    int Offset(int value) const {
        return max > min ? static_cast<int>(static_cast<long long>(value - min) * Span() / (max - min)) : 0;
    }
    RECT Thumb() const {
        const RECT c = Channel();
        if (Vertical()) {
            const int y = c.top + Offset(pos);
            return RECT{c.left - thumbLength / 2 + 2, y - kThumbWidth / 2, c.left + thumbLength / 2 + 2,
                        y + kThumbWidth / 2 + 1};
        }
        const int x = c.left + Offset(pos);
        return RECT{x - kThumbWidth / 2, c.top - thumbLength / 2 + 2, x + kThumbWidth / 2 + 1,
                    c.top + thumbLength / 2 + 2};
    }
    int ValueAt(POINT pt) const {
        const RECT c = Channel();
        const int offset = Vertical() ? pt.y - c.top : pt.x - c.left;
        if (Span() <= 0)
            return min;
        return Clamp(min + static_cast<int>((static_cast<long long>(offset) * (max - min) + Span() / 2) / Span()));
    }

    void Tell(WORD code, int position = 0) {
        HWND parent = GetParent(hwnd);
        if (parent)
            SendMessageW(parent, Vertical() ? WM_VSCROLL : WM_HSCROLL, MAKEWPARAM(code, position),
                         reinterpret_cast<LPARAM>(hwnd));
    }
    void Move(int value, WORD code) {
        const int old = pos;
        pos = Clamp(value);
        if (pos != old)
            InvalidateRect(hwnd, nullptr, FALSE);
        Tell(code);
    }
};

// Painting asks the parent through NM_CUSTOMDRAW before the whole control and, when it wants, before each part
// (tics, channel, thumb); a part it answers with CDRF_SKIPDEFAULT is left to it.
void PaintTrackbar(Trackbar* tb, WPARAM wParam) {
    ControlPaint paint(tb->hwnd, wParam);
    HDC dc = paint.dc();
    if (!dc)
        return;
    RECT client{};
    GetClientRect(tb->hwnd, &client);
    NMCUSTOMDRAW cd{};
    cd.hdc = dc;
    auto ask = [&](DWORD stage, DWORD_PTR part, const RECT& rc) {
        cd.dwDrawStage = stage;
        cd.dwItemSpec = part;
        cd.rc = rc;
        cd.uItemState = (GetFocus() == tb->hwnd ? CDIS_FOCUS : 0) | (tb->tracking ? CDIS_SELECTED : 0);
        return Notify(tb->hwnd, cd.hdr, NM_CUSTOMDRAW);
    };
    const LRESULT whole = ask(CDDS_PREPAINT, 0, client);
    if (whole & CDRF_SKIPDEFAULT)
        return;
    FillColor(dc, client, GetSysColor(COLOR_BTNFACE));
    const DWORD style = static_cast<DWORD>(GetWindowLongW(tb->hwnd, GWL_STYLE));
    const RECT channel = tb->Channel();
    const RECT thumb = tb->Thumb();
    for (DWORD_PTR part : {TBCD_TICS, TBCD_CHANNEL, TBCD_THUMB}) {
        const RECT rc = part == TBCD_THUMB ? thumb : part == TBCD_CHANNEL ? channel : client;
        LRESULT answer = CDRF_DODEFAULT;
        if (whole & CDRF_NOTIFYITEMDRAW)
            answer = ask(CDDS_ITEMPREPAINT, part, rc);
        if (!(answer & CDRF_SKIPDEFAULT)) {
            if (part == TBCD_CHANNEL) {
                RECT edge = channel;
                DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
            } else if (part == TBCD_THUMB && !(style & TBS_NOTHUMB)) {
                RECT edge = thumb;
                FillColor(dc, edge, GetSysColor(COLOR_BTNFACE));
                DrawEdge(dc, &edge, EDGE_RAISED, BF_RECT);
            } else if (part == TBCD_TICS && !(style & TBS_NOTICKS) && tb->max > tb->min) {
                const COLORREF ink = GetSysColor(COLOR_BTNTEXT);
                auto tick = [&](int value) {
                    const int at = (tb->Vertical() ? channel.top : channel.left) + tb->Offset(value);
                    const RECT mark = tb->Vertical() ? RECT{client.right - 6, at, client.right - 2, at + 1}
                                                     : RECT{at, client.bottom - 6, at + 1, client.bottom - 2};
                    FillColor(dc, mark, ink);
                };
                tick(tb->min);
                tick(tb->max);
                for (int value : tb->tics)
                    tick(value);
            }
        }
        if (answer & CDRF_NOTIFYPOSTPAINT)
            ask(CDDS_ITEMPOSTPAINT, part, rc);
    }
    if (whole & CDRF_NOTIFYPOSTPAINT)
        ask(CDDS_POSTPAINT, 0, client);
}

LRESULT CALLBACK TrackbarProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<Trackbar>(hwnd)->hwnd = hwnd;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    Trackbar* tb = StateOf<Trackbar>(hwnd);
    if (!tb)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    auto redraw = [&](WPARAM flag) {
        if (flag)
            InvalidateRect(hwnd, nullptr, FALSE);
    };
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<Trackbar>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_GETDLGCODE:
        return kDlgcWantArrows;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        PaintTrackbar(tb, wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_KEYDOWN:
        switch (static_cast<int>(wParam)) {
        case VK_RIGHT:
        case VK_DOWN:
            tb->Move(tb->pos + tb->line, TB_LINEDOWN);
            break;
        case VK_LEFT:
        case VK_UP:
            tb->Move(tb->pos - tb->line, TB_LINEUP);
            break;
        case VK_NEXT:
            tb->Move(tb->pos + tb->page, TB_PAGEDOWN);
            break;
        case VK_PRIOR:
            tb->Move(tb->pos - tb->page, TB_PAGEUP);
            break;
        case VK_HOME:
            tb->Move(tb->min, TB_TOP);
            break;
        case VK_END:
            tb->Move(tb->max, TB_BOTTOM);
            break;
        default:
            return 0;
        }
        return 0;
    case WM_KEYUP:
        if (wParam == VK_RIGHT || wParam == VK_DOWN || wParam == VK_LEFT || wParam == VK_UP || wParam == VK_NEXT ||
            wParam == VK_PRIOR || wParam == VK_HOME || wParam == VK_END)
            tb->Tell(TB_ENDTRACK);
        return 0;
    case WM_LBUTTONDOWN: {
        SetFocus(hwnd);
        const POINT pt = PointFromLParam(lParam);
        const RECT t = tb->Thumb();
        if (pt.x >= t.left && pt.x < t.right && pt.y >= t.top && pt.y < t.bottom) {
            tb->tracking = true;
            return 0;
        }
        // A click beside the thumb moves it by a page towards the click.
        const int target = tb->ValueAt(pt);
        if (target > tb->pos)
            tb->Move(std::min(tb->pos + tb->page, target), TB_PAGEDOWN);
        else if (target < tb->pos)
            tb->Move(std::max(tb->pos - tb->page, target), TB_PAGEUP);
        return 0;
    }
    case WM_MOUSEMOVE:
        if (tb->tracking && (wParam & MK_LBUTTON)) {
            const int value = tb->ValueAt(PointFromLParam(lParam));
            if (value != tb->pos) {
                tb->pos = value;
                InvalidateRect(hwnd, nullptr, FALSE);
                tb->Tell(TB_THUMBTRACK, value);
            }
        }
        return 0;
    case WM_LBUTTONUP:
        if (tb->tracking) {
            tb->tracking = false;
            tb->Tell(TB_THUMBPOSITION, tb->pos);
        }
        tb->Tell(TB_ENDTRACK);
        return 0;
    case TBM_GETPOS:
        return tb->pos;
    case TBM_SETPOS:
        tb->pos = tb->Clamp(static_cast<int>(lParam));
        redraw(wParam);
        return 0;
    case TBM_GETRANGEMIN:
        return tb->min;
    case TBM_GETRANGEMAX:
        return tb->max;
    case TBM_SETRANGE:
        tb->min = static_cast<SHORT>(LOWORD(lParam));
        tb->max = static_cast<SHORT>(HIWORD(lParam));
        tb->page = std::max(1, (tb->max - tb->min) / 5);
        tb->pos = tb->Clamp(tb->pos);
        redraw(wParam);
        return 0;
    case TBM_SETRANGEMIN:
        tb->min = static_cast<int>(lParam);
        tb->pos = tb->Clamp(tb->pos);
        redraw(wParam);
        return 0;
    case TBM_SETRANGEMAX:
        tb->max = static_cast<int>(lParam);
        tb->pos = tb->Clamp(tb->pos);
        redraw(wParam);
        return 0;
    case TBM_SETTIC: {
        const int value = static_cast<int>(lParam);
        if (value < tb->min || value > tb->max)
            return FALSE;
        tb->tics.insert(std::upper_bound(tb->tics.begin(), tb->tics.end(), value), value);
        return TRUE;
    }
    case TBM_GETTIC: {
        const int index = static_cast<int>(wParam);
        return index >= 0 && index < static_cast<int>(tb->tics.size()) ? tb->tics[static_cast<size_t>(index)] : -1;
    }
    case TBM_GETTICPOS: {
        const int index = static_cast<int>(wParam);
        if (index < 0 || index >= static_cast<int>(tb->tics.size()))
            return -1;
        const RECT c = tb->Channel();
        return (tb->Vertical() ? c.top : c.left) + tb->Offset(tb->tics[static_cast<size_t>(index)]);
    }
    case TBM_CLEARTICS:
        tb->tics.clear();
        redraw(wParam);
        return 0;
    case TBM_GETNUMTICS:
        return (GetWindowLongW(hwnd, GWL_STYLE) & TBS_NOTICKS) ? 0 : static_cast<LRESULT>(tb->tics.size() + 2);
    case TBM_GETPTICS:
        return tb->tics.empty() ? 0 : reinterpret_cast<LRESULT>(tb->tics.data());
    case TBM_SETTICFREQ:
        tb->ticFreq = std::max(1, static_cast<int>(wParam));
        return 0;
    case TBM_SETSEL:
        tb->selStart = static_cast<SHORT>(LOWORD(lParam));
        tb->selEnd = static_cast<SHORT>(HIWORD(lParam));
        redraw(wParam);
        return 0;
    case TBM_SETSELSTART:
        tb->selStart = static_cast<int>(lParam);
        redraw(wParam);
        return 0;
    case TBM_SETSELEND:
        tb->selEnd = static_cast<int>(lParam);
        redraw(wParam);
        return 0;
    case TBM_GETSELSTART:
        return tb->selStart;
    case TBM_GETSELEND:
        return tb->selEnd;
    case TBM_CLEARSEL:
        tb->selStart = tb->selEnd = 0;
        redraw(wParam);
        return 0;
    case TBM_SETPAGESIZE: {
        const int old = tb->page;
        tb->page = static_cast<int>(lParam);
        return old;
    }
    case TBM_GETPAGESIZE:
        return tb->page;
    case TBM_SETLINESIZE: {
        const int old = tb->line;
        tb->line = static_cast<int>(lParam);
        return old;
    }
    case TBM_GETLINESIZE:
        return tb->line;
    case TBM_GETTHUMBRECT:
        if (auto* rc = reinterpret_cast<RECT*>(lParam))
            *rc = tb->Thumb();
        return 0;
    case TBM_GETCHANNELRECT:
        if (auto* rc = reinterpret_cast<RECT*>(lParam))
            *rc = tb->Channel();
        return 0;
    case TBM_SETTHUMBLENGTH:
        tb->thumbLength = static_cast<int>(wParam);
        return 0;
    case TBM_GETTHUMBLENGTH:
        return tb->thumbLength;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterTrackbar() {
    RegisterControlClass(TRACKBAR_CLASSW, TrackbarProc);
}

} // namespace platform::ui::controls
