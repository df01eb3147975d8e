// The header control: column captions of the list view, also usable on its own.
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/listview.h"

#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/menu.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr int kHeaderHeight = 20;

struct HdItem {
    int cxy = 0;
    std::u16string text;
    bool textCallback = false;
    HBITMAP bitmap = nullptr;
    int fmt = HDF_LEFT | HDF_STRING;
    LPARAM param = 0;
    int image = 0;
};

struct Header {
    HWND hwnd = nullptr;
    std::vector<HdItem> items;
    std::vector<int> order; // display position -> index
    HIMAGELIST images = nullptr;
    HFONT font = nullptr;
    int pressed = -1;

    int Count() const { return static_cast<int>(items.size()); }

    // Left edge of every item in display order.
    RECT ItemRect(int index) const {
        int x = 0;
        for (int idx : order) {
            if (idx == index)
                return RECT{x, 0, x + items[static_cast<size_t>(idx)].cxy, kHeaderHeight};
            x += items[static_cast<size_t>(idx)].cxy;
        }
        return RECT{};
    }

    int HitTest(POINT pt, UINT& flags) const {
        RECT client{};
        GetClientRect(hwnd, &client);
        if (pt.x < 0) {
            flags = HHT_TOLEFT;
            return -1;
        }
        int x = 0;
        for (int idx : order) {
            const int w = items[static_cast<size_t>(idx)].cxy;
            if (pt.x >= x && pt.x < x + w) {
                flags = (pt.x >= x + w - 3) ? HHT_ONDIVIDER : HHT_ONHEADER;
                return idx;
            }
            x += w;
        }
        flags = pt.x >= client.right ? HHT_TORIGHT : HHT_NOWHERE;
        return -1;
    }

    LRESULT NotifyItem(UINT code, int index, HDITEMW* item, int button = 0) {
        NMHEADERW nm{};
        nm.iItem = index;
        nm.iButton = button;
        nm.pitem = item;
        return Notify(hwnd, nm.hdr, code);
    }

    int Insert(int index, const HDITEMW* in) {
        if (!in)
            return -1;
        HdItem item;
        Apply(item, *in);
        index = std::clamp(index, 0, Count());
        items.insert(items.begin() + index, std::move(item));
        for (int& o : order)
            if (o >= index)
                ++o;
        int pos = Count() - 1;
        if ((in->mask & HDI_ORDER) && in->iOrder >= 0 && in->iOrder < Count())
            pos = in->iOrder;
        order.insert(order.begin() + std::min(pos, static_cast<int>(order.size())), index);
        InvalidateRect(hwnd, nullptr, TRUE);
        return index;
    }

    static void Apply(HdItem& item, const HDITEMW& in) {
        if (in.mask & HDI_WIDTH)
            item.cxy = std::max(0, in.cxy);
        if (in.mask & HDI_TEXT) {
            item.textCallback = in.pszText == LPSTR_TEXTCALLBACKW;
            item.text = item.textCallback ? std::u16string() : controls::TextOf(in.pszText);
        }
        if (in.mask & HDI_FORMAT)
            item.fmt = in.fmt;
        if (in.mask & HDI_LPARAM)
            item.param = in.lParam;
        if (in.mask & HDI_BITMAP)
            item.bitmap = in.hbm;
        if (in.mask & HDI_IMAGE)
            item.image = in.iImage;
    }

    BOOL Get(int index, HDITEMW* out) {
        if (!out || index < 0 || index >= Count())
            return FALSE;
        const HdItem& item = items[static_cast<size_t>(index)];
        if (out->mask & HDI_WIDTH)
            out->cxy = item.cxy;
        if (out->mask & HDI_TEXT)
            CopyOut(item.text, out->pszText, out->cchTextMax);
        if (out->mask & HDI_FORMAT)
            out->fmt = item.fmt;
        if (out->mask & HDI_LPARAM)
            out->lParam = item.param;
        if (out->mask & HDI_BITMAP)
            out->hbm = item.bitmap;
        if (out->mask & HDI_IMAGE)
            out->iImage = item.image;
        if (out->mask & HDI_ORDER)
            out->iOrder = static_cast<int>(std::find(order.begin(), order.end(), index) - order.begin());
        return TRUE;
    }

    BOOL Set(int index, const HDITEMW* in) {
        if (!in || index < 0 || index >= Count())
            return FALSE;
        HDITEMW copy = *in;
        if (NotifyItem(HDN_ITEMCHANGINGW, index, &copy))
            return FALSE;
        if (index >= Count())
            return FALSE;
        Apply(items[static_cast<size_t>(index)], *in);
        if ((in->mask & HDI_ORDER) && in->iOrder >= 0 && in->iOrder < Count()) {
            order.erase(std::find(order.begin(), order.end(), index));
            order.insert(order.begin() + in->iOrder, index);
        }
        NotifyItem(HDN_ITEMCHANGEDW, index, &copy);
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    BOOL Delete(int index) {
        if (index < 0 || index >= Count())
            return FALSE;
        items.erase(items.begin() + index);
        order.erase(std::find(order.begin(), order.end(), index));
        for (int& o : order)
            if (o > index)
                --o;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
};

// Items as raised buttons with their captions; owner-drawn items are drawn by the parent (WM_DRAWITEM).
void PaintHeader(Header* hd, WPARAM wParam) {
    ControlPaint paint(hd->hwnd, wParam);
    HDC dc = paint.dc();
    if (!dc)
        return;
    paint.UseFont(hd->font);
    RECT client{};
    GetClientRect(hd->hwnd, &client);
    FillColor(dc, client, GetSysColor(COLOR_BTNFACE));
    for (int index : std::vector<int>(hd->order)) {
        if (index >= hd->Count())
            continue;
        RECT rc = hd->ItemRect(index);
        const HdItem item = hd->items[static_cast<size_t>(index)];
        if (item.fmt & HDF_OWNERDRAW) {
            DRAWITEMSTRUCT dis{};
            dis.CtlType = 100; // ODT_HEADER
            dis.CtlID = static_cast<UINT>(GetDlgCtrlID(hd->hwnd));
            dis.itemID = static_cast<UINT>(index);
            dis.itemAction = ODA_DRAWENTIRE;
            dis.itemState = index == hd->pressed ? ODS_SELECTED : 0;
            dis.hwndItem = hd->hwnd;
            dis.hDC = dc;
            dis.rcItem = rc;
            dis.itemData = static_cast<ULONG_PTR>(item.param);
            SendMessageW(GetParent(hd->hwnd), WM_DRAWITEM, dis.CtlID, reinterpret_cast<LPARAM>(&dis));
            continue;
        }
        DrawEdge(dc, &rc, index == hd->pressed ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
        const UINT align = (item.fmt & HDF_JUSTIFYMASK) == HDF_CENTER  ? DT_CENTER
                           : (item.fmt & HDF_JUSTIFYMASK) == HDF_RIGHT ? DT_RIGHT
                                                                       : 0;
        rc.left += 4;
        rc.right -= 4;
        DrawLabel(dc, item.text, rc, GetSysColor(COLOR_BTNTEXT), align);
    }
}

LRESULT CALLBACK HeaderProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<Header>(hwnd)->hwnd = hwnd;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    Header* hd = StateOf<Header>(hwnd);
    if (!hd)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<Header>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_PAINT:
    case WM_PRINTCLIENT:
        PaintHeader(hd, wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_SETFONT:
        hd->font = reinterpret_cast<HFONT>(wParam);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(hd->font);
    case WM_LBUTTONDOWN: {
        UINT flags = 0;
        hd->pressed = hd->HitTest(PointFromLParam(lParam), flags);
        if (flags & HHT_ONDIVIDER)
            hd->pressed = -1;
        return 0;
    }
    case WM_LBUTTONUP: {
        UINT flags = 0;
        const int index = hd->HitTest(PointFromLParam(lParam), flags);
        const int pressed = hd->pressed;
        hd->pressed = -1;
        if (index >= 0 && index == pressed && (GetWindowLongW(hwnd, GWL_STYLE) & HDS_BUTTONS))
            hd->NotifyItem(HDN_ITEMCLICKW, index, nullptr, 0);
        return 0;
    }
    case WM_LBUTTONDBLCLK: {
        UINT flags = 0;
        const int index = hd->HitTest(PointFromLParam(lParam), flags);
        if (index >= 0)
            hd->NotifyItem((flags & HHT_ONDIVIDER) ? HDN_DIVIDERDBLCLICKW : HDN_ITEMDBLCLICKW, index, nullptr);
        return 0;
    }
    case WM_RBUTTONUP:
        NotifySimple(hwnd, NM_RCLICK);
        return 0;
    case HDM_GETITEMCOUNT:
        return hd->Count();
    case HDM_INSERTITEMW:
        return hd->Insert(static_cast<int>(wParam), reinterpret_cast<const HDITEMW*>(lParam));
    case HDM_DELETEITEM:
        return hd->Delete(static_cast<int>(wParam));
    case HDM_GETITEMW:
        return hd->Get(static_cast<int>(wParam), reinterpret_cast<HDITEMW*>(lParam));
    case HDM_SETITEMW:
        return hd->Set(static_cast<int>(wParam), reinterpret_cast<const HDITEMW*>(lParam));
    case HDM_GETITEMRECT: {
        auto* rc = reinterpret_cast<RECT*>(lParam);
        const int index = static_cast<int>(wParam);
        if (!rc || index < 0 || index >= hd->Count())
            return FALSE;
        *rc = hd->ItemRect(index);
        return TRUE;
    }
    case HDM_LAYOUT: {
        auto* layout = reinterpret_cast<HDLAYOUT*>(lParam);
        if (!layout || !layout->prc || !layout->pwpos)
            return FALSE;
        const bool hidden = GetWindowLongW(hwnd, GWL_STYLE) & HDS_HIDDEN;
        const int h = hidden ? 0 : kHeaderHeight;
        *layout->pwpos =
            WINDOWPOS{hwnd, nullptr, layout->prc->left, layout->prc->top, layout->prc->right - layout->prc->left, h, 0};
        layout->prc->top += h;
        return TRUE;
    }
    case HDM_HITTEST: {
        auto* info = reinterpret_cast<HDHITTESTINFO*>(lParam);
        if (!info)
            return -1;
        info->iItem = hd->HitTest(info->pt, info->flags);
        return info->iItem;
    }
    case HDM_SETIMAGELIST: {
        HIMAGELIST old = hd->images;
        hd->images = reinterpret_cast<HIMAGELIST>(lParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case HDM_GETIMAGELIST:
        return reinterpret_cast<LRESULT>(hd->images);
    case HDM_ORDERTOINDEX: {
        const int pos = static_cast<int>(wParam);
        return pos >= 0 && pos < hd->Count() ? hd->order[static_cast<size_t>(pos)] : pos;
    }
    case HDM_GETORDERARRAY: {
        auto* out = reinterpret_cast<int*>(lParam);
        if (!out || static_cast<int>(wParam) < hd->Count())
            return FALSE;
        std::copy(hd->order.begin(), hd->order.end(), out);
        return TRUE;
    }
    case HDM_SETORDERARRAY: {
        auto* in = reinterpret_cast<const int*>(lParam);
        if (!in || static_cast<int>(wParam) != hd->Count())
            return FALSE;
        std::vector<int> order(in, in + hd->Count());
        std::vector<int> sorted = order;
        std::sort(sorted.begin(), sorted.end());
        std::vector<int> expected(static_cast<size_t>(hd->Count()));
        std::iota(expected.begin(), expected.end(), 0);
        if (sorted != expected)
            return FALSE;
        hd->order = order;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterHeader() {
    RegisterControlClass(WC_HEADERW, HeaderProc, CS_DBLCLKS);
}

int HeaderHeight() {
    return kHeaderHeight;
}

} // namespace platform::ui::controls
