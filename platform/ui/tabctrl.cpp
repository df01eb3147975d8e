// The tab control: one row of tabs, a current selection that only the user's clicks and keys change with
// notifications (TCM_SETCURSEL changes it silently, as on Windows).
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/imagelist.h"

#include "platform/gdi/wingdi.h"

#include <algorithm>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr int kTabHeight = 20;
constexpr int kTabPadding = 12;

struct TcItem {
    std::u16string text;
    int image = -1;
    LPARAM param = 0;
    DWORD state = 0;
};

struct TabControl {
    HWND hwnd = nullptr;
    std::vector<TcItem> items;
    int current = -1;
    int focus = -1;
    HIMAGELIST images = nullptr;
    int fixedWidth = 0, fixedHeight = 0;
    HFONT font = nullptr;

    int Count() const { return static_cast<int>(items.size()); }
    bool Valid(int i) const { return i >= 0 && i < Count(); }
    int TabHeight() const { return fixedHeight > 0 ? fixedHeight : kTabHeight; }

    int Width(int i) const {
        if ((GetWindowLongW(hwnd, GWL_STYLE) & TCS_FIXEDWIDTH) && fixedWidth > 0)
            return fixedWidth;
        int w = MeasureLabel(font, items[static_cast<size_t>(i)].text) + kTabPadding;
        int cx = 0, cy = 0;
        if (items[static_cast<size_t>(i)].image >= 0 && images && ImageList_GetIconSize(images, &cx, &cy))
            w += cx + 3;
        return w;
    }
    RECT ItemRect(int i) const {
        int x = 2;
        for (int k = 0; k < i; ++k)
            x += Width(k);
        return RECT{x, 2, x + Width(i), 2 + TabHeight()};
    }
    int HitTest(POINT pt) const {
        for (int i = 0; i < Count(); ++i) {
            const RECT r = ItemRect(i);
            if (pt.x >= r.left && pt.x < r.right && pt.y >= r.top && pt.y < r.bottom)
                return i;
        }
        return -1;
    }

    // A change of tab by the user: TCN_SELCHANGING (TRUE keeps the current tab), then TCN_SELCHANGE.
    void UserSelect(int index) {
        if (!Valid(index) || index == current)
            return;
        if (NotifySimple(hwnd, TCN_SELCHANGING))
            return;
        if (!Valid(index))
            return;
        current = focus = index;
        InvalidateRect(hwnd, nullptr, TRUE);
        NotifySimple(hwnd, TCN_SELCHANGE);
    }

    static void Apply(TcItem& item, const TCITEMW& in) {
        if (in.mask & TCIF_TEXT)
            item.text = controls::TextOf(in.pszText == LPSTR_TEXTCALLBACKW ? nullptr : in.pszText);
        if (in.mask & TCIF_IMAGE)
            item.image = in.iImage;
        if (in.mask & TCIF_PARAM)
            item.param = in.lParam;
        if (in.mask & TCIF_STATE)
            item.state = (item.state & ~in.dwStateMask) | (in.dwState & in.dwStateMask);
    }
};

// Tabs as raised buttons over a raised display frame; the current tab is drawn a little taller and joined to it.
void PaintTabs(TabControl* tc, WPARAM wParam) {
    ControlPaint paint(tc->hwnd, wParam);
    HDC dc = paint.dc();
    if (!dc)
        return;
    paint.UseFont(tc->font);
    RECT client{};
    GetClientRect(tc->hwnd, &client);
    FillColor(dc, client, GetSysColor(COLOR_BTNFACE));
    RECT frame{client.left, 2 + tc->TabHeight(), client.right, client.bottom};
    DrawEdge(dc, &frame, EDGE_RAISED, BF_RECT);
    int cx = 0, cy = 0;
    for (int i = 0; i < tc->Count(); ++i) {
        RECT rc = tc->ItemRect(i);
        if (i == tc->current) {
            rc.top -= 2;
            rc.bottom += 1;
        }
        RECT edge = rc;
        DrawEdge(dc, &edge, EDGE_RAISED, BF_LEFT | BF_TOP | BF_RIGHT);
        const TcItem& item = tc->items[static_cast<size_t>(i)];
        RECT label = rc;
        label.left += kTabPadding / 2;
        if (item.image >= 0 && tc->images && ImageList_GetIconSize(tc->images, &cx, &cy)) {
            ImageList_Draw(tc->images, item.image, dc, label.left, rc.top + (rc.bottom - rc.top - cy) / 2,
                           ILD_TRANSPARENT);
            label.left += cx + 3;
        }
        DrawLabel(dc, item.text, label, GetSysColor(COLOR_BTNTEXT));
    }
}

LRESULT CALLBACK TabProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<TabControl>(hwnd)->hwnd = hwnd;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    TabControl* tc = StateOf<TabControl>(hwnd);
    if (!tc)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<TabControl>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_GETDLGCODE:
        return kDlgcWantArrows | kDlgcWantChars;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        PaintTabs(tc, wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        tc->font = reinterpret_cast<HFONT>(wParam);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(tc->font);
    case WM_LBUTTONDOWN: {
        const int index = tc->HitTest(PointFromLParam(lParam));
        if (index >= 0) {
            if (!(GetWindowLongW(hwnd, GWL_STYLE) & TCS_FOCUSNEVER))
                SetFocus(hwnd);
            tc->UserSelect(index);
        }
        NotifySimple(hwnd, NM_CLICK);
        return 0;
    }
    case WM_RBUTTONUP:
        NotifySimple(hwnd, NM_RCLICK);
        return 0;
    case WM_KEYDOWN: {
        NMHDR hdr{};
        Notify(hwnd, hdr, TCN_KEYDOWN);
        if (wParam == VK_LEFT)
            tc->UserSelect(tc->current - 1);
        else if (wParam == VK_RIGHT)
            tc->UserSelect(tc->current + 1);
        else if (wParam == VK_HOME)
            tc->UserSelect(0);
        else if (wParam == VK_END)
            tc->UserSelect(tc->Count() - 1);
        return 0;
    }
    case TCM_INSERTITEMW: {
        auto* in = reinterpret_cast<const TCITEMW*>(lParam);
        if (!in || static_cast<int>(wParam) < 0)
            return -1;
        const int index = std::min(static_cast<int>(wParam), tc->Count());
        TcItem item;
        TabControl::Apply(item, *in);
        tc->items.insert(tc->items.begin() + index, std::move(item));
        if (tc->current >= index)
            ++tc->current;
        if (tc->current < 0)
            tc->current = 0; // the first tab becomes the selection
        InvalidateRect(hwnd, nullptr, TRUE);
        return index;
    }
    case TCM_DELETEITEM: {
        const int index = static_cast<int>(wParam);
        if (!tc->Valid(index))
            return FALSE;
        tc->items.erase(tc->items.begin() + index);
        if (tc->current == index)
            tc->current = -1;
        else if (tc->current > index)
            --tc->current;
        if (tc->focus >= tc->Count())
            tc->focus = -1;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case TCM_DELETEALLITEMS:
        tc->items.clear();
        tc->current = tc->focus = -1;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    case TCM_GETITEMCOUNT:
        return tc->Count();
    case TCM_GETCURSEL:
        return tc->current;
    case TCM_SETCURSEL: {
        const int index = static_cast<int>(wParam);
        if (!tc->Valid(index))
            return -1;
        const int old = tc->current;
        tc->current = tc->focus = index;
        InvalidateRect(hwnd, nullptr, TRUE);
        return old;
    }
    case TCM_GETCURFOCUS:
        return tc->focus >= 0 ? tc->focus : tc->current;
    case TCM_SETCURFOCUS:
        if (tc->Valid(static_cast<int>(wParam)))
            tc->UserSelect(static_cast<int>(wParam));
        return 0;
    case TCM_GETITEMW: {
        auto* out = reinterpret_cast<TCITEMW*>(lParam);
        const int index = static_cast<int>(wParam);
        if (!out || !tc->Valid(index))
            return FALSE;
        const TcItem& item = tc->items[static_cast<size_t>(index)];
        if (out->mask & TCIF_TEXT)
            CopyOut(item.text, out->pszText, out->cchTextMax);
        if (out->mask & TCIF_IMAGE)
            out->iImage = item.image;
        if (out->mask & TCIF_PARAM)
            out->lParam = item.param;
        if (out->mask & TCIF_STATE)
            out->dwState = item.state & out->dwStateMask;
        return TRUE;
    }
    case TCM_SETITEMW: {
        auto* in = reinterpret_cast<const TCITEMW*>(lParam);
        const int index = static_cast<int>(wParam);
        if (!in || !tc->Valid(index))
            return FALSE;
        TabControl::Apply(tc->items[static_cast<size_t>(index)], *in);
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case TCM_SETIMAGELIST: {
        HIMAGELIST old = tc->images;
        tc->images = reinterpret_cast<HIMAGELIST>(lParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case TCM_GETIMAGELIST:
        return reinterpret_cast<LRESULT>(tc->images);
    case TCM_GETITEMRECT: {
        auto* rc = reinterpret_cast<RECT*>(lParam);
        if (!rc || !tc->Valid(static_cast<int>(wParam)))
            return FALSE;
        *rc = tc->ItemRect(static_cast<int>(wParam));
        return TRUE;
    }
    case TCM_HITTEST: {
        auto* info = reinterpret_cast<TCHITTESTINFO*>(lParam);
        if (!info)
            return -1;
        const int index = tc->HitTest(info->pt);
        info->flags = index >= 0 ? TCHT_ONITEMLABEL : TCHT_NOWHERE;
        return index;
    }
    case TCM_ADJUSTRECT: {
        // The display area lies below the row of tabs, inside a 2-pixel border.
        auto* rc = reinterpret_cast<RECT*>(lParam);
        if (!rc)
            return 0;
        const int top = 2 + tc->TabHeight();
        if (wParam) {
            rc->left -= 2;
            rc->right += 2;
            rc->top -= top;
            rc->bottom += 2;
        } else {
            rc->left += 2;
            rc->right -= 2;
            rc->top += top;
            rc->bottom -= 2;
        }
        return 0;
    }
    case TCM_SETITEMSIZE: {
        const LRESULT old = MAKELONG(tc->fixedWidth, tc->TabHeight());
        tc->fixedWidth = LOWORD(lParam);
        tc->fixedHeight = HIWORD(lParam);
        return old;
    }
    case TCM_GETROWCOUNT:
        return tc->Count() ? 1 : 0;
    case TCM_SETITEMEXTRA:
        return tc->Count() == 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterTabControl() {
    RegisterControlClass(WC_TABCONTROLW, TabProc, CS_DBLCLKS);
}

} // namespace platform::ui::controls
