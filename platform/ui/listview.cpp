// The list-view control in report view. Columns are the items of the list's own header control (captions, widths,
// formats) plus the sub-item each column shows; rows keep one text per sub-item.
#include "platform/ui/listview.h"
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/scrollbar.h"

#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"

#include <algorithm>
#include <array>
#include <deque>
#include <numeric>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr int kRowHeight = 16;

struct LvItem {
    std::vector<std::u16string> texts; // by sub-item
    std::vector<bool> callback;        // by sub-item: LPSTR_TEXTCALLBACKW
    int image = 0;
    UINT state = 0;
    LPARAM param = 0;
    int indent = 0;
};

struct Column {
    int subItem = 0;
    int image = 0;
};

struct ListView {
    HWND hwnd = nullptr;
    HWND header = nullptr;
    // A deque: logs and progress lists add their newest row at the top, thousands of times in a row.
    std::deque<LvItem> items;
    std::vector<Column> columns;
    DWORD exStyle = 0;
    HIMAGELIST normal = nullptr, small = nullptr, stateList = nullptr;
    bool ownStateList = false;
    int topIndex = 0;
    int selectionMark = -1;
    COLORREF bk = 0xFFFFFF, textColor = 0, textBk = 0xFFFFFF;
    HFONT font = nullptr;
    UINT callbackMask = 0;

    DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }
    int Count() const { return static_cast<int>(items.size()); }
    bool Valid(int i) const { return i >= 0 && i < Count(); }

    int HeaderBottom() const {
        return (Style() & LVS_NOCOLUMNHEADER) || (Style() & LVS_TYPEMASK) != LVS_REPORT ? 0 : HeaderHeight();
    }
    int RowHeight() const {
        int h = kRowHeight, cx = 0, cy = 0;
        if (small && ImageList_GetIconSize(small, &cx, &cy))
            h = std::max(h, cy);
        if (stateList && ImageList_GetIconSize(stateList, &cx, &cy))
            h = std::max(h, cy);
        return h;
    }
    int PerPage() const {
        RECT rc{};
        GetClientRect(hwnd, &rc);
        return std::max(1, (static_cast<int>(rc.bottom) - HeaderBottom()) / RowHeight());
    }

    // ---- Notifications ----

    LRESULT NotifyItem(UINT code, int index, int subItem = 0, UINT changed = 0, UINT oldState = 0, UINT newState = 0,
                       POINT pt = {}) {
        NMLISTVIEW nm{};
        nm.iItem = index;
        nm.iSubItem = subItem;
        nm.uChanged = changed;
        nm.uOldState = oldState;
        nm.uNewState = newState;
        nm.ptAction = pt;
        nm.lParam = Valid(index) ? items[static_cast<size_t>(index)].param : 0;
        return Notify(hwnd, nm.hdr, code);
    }

    LRESULT NotifyActivate(UINT code, int index, int subItem, POINT pt) {
        NMITEMACTIVATE nm{};
        nm.iItem = index;
        nm.iSubItem = subItem;
        nm.ptAction = pt;
        nm.lParam = Valid(index) ? items[static_cast<size_t>(index)].param : 0;
        return Notify(hwnd, nm.hdr, code);
    }

    std::u16string Text(int index, int subItem) {
        LvItem& item = items[static_cast<size_t>(index)];
        const auto sub = static_cast<size_t>(subItem);
        if (sub < item.callback.size() && item.callback[sub]) {
            WCHAR buffer[MAX_PATH + 1] = {};
            NMLVDISPINFOW di{};
            di.item.mask = LVIF_TEXT;
            di.item.iItem = index;
            di.item.iSubItem = subItem;
            di.item.pszText = buffer;
            di.item.cchTextMax = MAX_PATH + 1;
            di.item.lParam = item.param;
            Notify(hwnd, di.hdr, LVN_GETDISPINFOW);
            return di.item.pszText ? std::u16string(di.item.pszText) : std::u16string();
        }
        return sub < item.texts.size() ? item.texts[sub] : std::u16string();
    }

    void SetText(LvItem& item, int subItem, LPCWSTR text) {
        const auto sub = static_cast<size_t>(subItem);
        if (item.texts.size() <= sub) {
            item.texts.resize(sub + 1);
            item.callback.resize(sub + 1, false);
        }
        item.callback[sub] = text == LPSTR_TEXTCALLBACKW;
        item.texts[sub] = item.callback[sub] ? std::u16string() : controls::TextOf(text);
    }

    // ---- State changes (LVN_ITEMCHANGING / LVN_ITEMCHANGED) ----

    bool ChangeState(int index, UINT state, UINT mask) {
        LvItem& item = items[static_cast<size_t>(index)];
        const UINT oldState = item.state;
        const UINT newState = (oldState & ~mask) | (state & mask);
        if (newState == oldState)
            return true;
        if (NotifyItem(LVN_ITEMCHANGING, index, 0, LVIF_STATE, oldState, newState))
            return false;
        if (!Valid(index))
            return false;
        // One item has the focus; a single-selection list has one selected item.
        if ((newState & LVIS_FOCUSED) && !(oldState & LVIS_FOCUSED))
            for (int i = 0; i < Count(); ++i)
                if (i != index && (items[static_cast<size_t>(i)].state & LVIS_FOCUSED))
                    ChangeState(i, 0, LVIS_FOCUSED);
        if ((Style() & LVS_SINGLESEL) && (newState & LVIS_SELECTED) && !(oldState & LVIS_SELECTED))
            for (int i = 0; i < Count(); ++i)
                if (i != index && (items[static_cast<size_t>(i)].state & LVIS_SELECTED))
                    ChangeState(i, 0, LVIS_SELECTED);
        items[static_cast<size_t>(index)].state = newState;
        if (newState & LVIS_SELECTED)
            selectionMark = index;
        NotifyItem(LVN_ITEMCHANGED, index, 0, LVIF_STATE, oldState, newState);
        InvalidateRect(hwnd, nullptr, TRUE);
        return true;
    }

    BOOL SetState(int index, const LVITEMW* in) {
        if (!in)
            return FALSE;
        if (index == -1) {
            BOOL ok = TRUE;
            for (int i = 0; i < Count(); ++i)
                ok &= ChangeState(i, in->state, in->stateMask) ? TRUE : FALSE;
            return ok;
        }
        if (!Valid(index))
            return FALSE;
        return ChangeState(index, in->state, in->stateMask) ? TRUE : FALSE;
    }

    // ---- Items ----

    int Insert(const LVITEMW* in) {
        if (!in || in->iSubItem != 0)
            return -1;
        LvItem item;
        if (in->mask & LVIF_TEXT)
            SetText(item, 0, in->pszText);
        if (in->mask & LVIF_IMAGE)
            item.image = in->iImage;
        if (in->mask & LVIF_PARAM)
            item.param = in->lParam;
        if (in->mask & LVIF_INDENT)
            item.indent = in->iIndent;
        UINT state = (in->mask & LVIF_STATE) ? (in->state & in->stateMask) : 0;
        if ((exStyle & LVS_EX_CHECKBOXES) && !(state & LVIS_STATEIMAGEMASK))
            state |= INDEXTOSTATEIMAGEMASK(1);
        item.state = state & ~(LVIS_SELECTED | LVIS_FOCUSED);
        int index = std::clamp(in->iItem, 0, Count());
        if (Style() & (LVS_SORTASCENDING | LVS_SORTDESCENDING)) {
            const bool descending = Style() & LVS_SORTDESCENDING;
            const std::u16string text = item.texts.empty() ? std::u16string() : item.texts[0];
            index = 0;
            while (index < Count()) {
                const int c = lstrcmpiW(Text(index, 0).c_str(), text.c_str());
                if (descending ? c < 0 : c > 0)
                    break;
                ++index;
            }
        }
        items.insert(items.begin() + index, std::move(item));
        if (selectionMark >= index)
            ++selectionMark;
        NotifyItem(LVN_INSERTITEM, index);
        // Selection and focus given at insertion go through the change notifications.
        if (Valid(index) && (state & (LVIS_SELECTED | LVIS_FOCUSED)))
            ChangeState(index, state, LVIS_SELECTED | LVIS_FOCUSED);
        InvalidateRect(hwnd, nullptr, TRUE);
        return index;
    }

    BOOL SetItem(const LVITEMW* in) {
        if (!in || !Valid(in->iItem) || in->iSubItem < 0)
            return FALSE;
        const int index = in->iItem;
        if (in->iSubItem > 0) {
            if (in->mask & LVIF_TEXT)
                SetText(items[static_cast<size_t>(index)], in->iSubItem, in->pszText);
            InvalidateRect(hwnd, nullptr, TRUE);
            return TRUE;
        }
        UINT changed = in->mask & (LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM | LVIF_INDENT);
        if (changed) {
            if (NotifyItem(LVN_ITEMCHANGING, index, 0, changed))
                return FALSE;
            if (!Valid(index))
                return FALSE;
            LvItem& item = items[static_cast<size_t>(index)];
            if (in->mask & LVIF_TEXT)
                SetText(item, 0, in->pszText);
            if (in->mask & LVIF_IMAGE)
                item.image = in->iImage;
            if (in->mask & LVIF_PARAM)
                item.param = in->lParam;
            if (in->mask & LVIF_INDENT)
                item.indent = in->iIndent;
            NotifyItem(LVN_ITEMCHANGED, index, 0, changed);
        }
        if ((in->mask & LVIF_STATE) && Valid(index) && !ChangeState(index, in->state, in->stateMask))
            return FALSE;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    BOOL GetItem(LVITEMW* out) {
        if (!out || !Valid(out->iItem) || out->iSubItem < 0)
            return FALSE;
        const LvItem& item = items[static_cast<size_t>(out->iItem)];
        if (out->mask & LVIF_TEXT) {
            if (out->pszText && out->cchTextMax > 0)
                CopyOut(Text(out->iItem, out->iSubItem), out->pszText, out->cchTextMax);
        }
        if (out->iSubItem > 0)
            return TRUE;
        if (out->mask & LVIF_IMAGE)
            out->iImage = item.image;
        if (out->mask & LVIF_PARAM)
            out->lParam = item.param;
        if (out->mask & LVIF_STATE)
            out->state = item.state & out->stateMask;
        if (out->mask & LVIF_INDENT)
            out->iIndent = item.indent;
        return TRUE;
    }

    BOOL Delete(int index) {
        if (!Valid(index))
            return FALSE;
        NotifyItem(LVN_DELETEITEM, index);
        if (!Valid(index))
            return FALSE;
        items.erase(items.begin() + index);
        if (selectionMark == index)
            selectionMark = -1;
        else if (selectionMark > index)
            --selectionMark;
        ClampTop();
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    BOOL DeleteAll() {
        if (items.empty())
            return TRUE;
        // A parent that answers LVN_DELETEALLITEMS with TRUE does not want an LVN_DELETEITEM per row.
        if (!NotifyItem(LVN_DELETEALLITEMS, -1))
            for (int i = 0; i < Count(); ++i)
                NotifyItem(LVN_DELETEITEM, i);
        items.clear();
        selectionMark = -1;
        topIndex = 0;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    int NextItem(int start, UINT flags) {
        const UINT want = flags & (LVNI_SELECTED | LVNI_FOCUSED | LVNI_CUT | LVNI_DROPHILITED);
        auto matches = [&](int i) {
            const UINT s = items[static_cast<size_t>(i)].state;
            return ((want & LVNI_SELECTED) == 0 || (s & LVIS_SELECTED)) &&
                   ((want & LVNI_FOCUSED) == 0 || (s & LVIS_FOCUSED)) && ((want & LVNI_CUT) == 0 || (s & LVIS_CUT)) &&
                   ((want & LVNI_DROPHILITED) == 0 || (s & LVIS_DROPHILITED));
        };
        if (flags & (LVNI_ABOVE | LVNI_TOLEFT)) {
            for (int i = std::min(start, Count()) - 1; i >= 0; --i)
                if (matches(i))
                    return i;
            return -1;
        }
        for (int i = std::max(start + 1, 0); i < Count(); ++i)
            if (matches(i))
                return i;
        return -1;
    }

    int Find(int start, const LVFINDINFOW* find) {
        if (!find)
            return -1;
        const int n = Count();
        for (int step = 0; step < n; ++step) {
            int i = start + 1 + step;
            if (i >= n) {
                if (!(find->flags & LVFI_WRAP))
                    return -1;
                i -= n;
            }
            if (i < 0)
                continue;
            const LvItem& item = items[static_cast<size_t>(i)];
            if (find->flags & LVFI_PARAM) {
                if (item.param == find->lParam)
                    return i;
            } else if (find->flags & (LVFI_STRING | LVFI_PARTIAL)) {
                if (!find->psz)
                    return -1;
                const std::u16string text = Text(i, 0);
                const std::u16string want(find->psz);
                if (find->flags & LVFI_PARTIAL) {
                    if (text.size() >= want.size() && _wcsnicmp(text.c_str(), want.c_str(), want.size()) == 0)
                        return i;
                } else if (lstrcmpiW(text.c_str(), want.c_str()) == 0) {
                    return i;
                }
            }
        }
        return -1;
    }

    BOOL Sort(LPARAM sortParam, PFNLVCOMPARE compare, bool byIndex) {
        if (!compare)
            return FALSE;
        std::vector<int> order(items.size());
        std::iota(order.begin(), order.end(), 0);
        // The callback sees the rows as they were before the sort (indexes or parameters).
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            const LPARAM x = byIndex ? a : items[static_cast<size_t>(a)].param;
            const LPARAM y = byIndex ? b : items[static_cast<size_t>(b)].param;
            return compare(x, y, sortParam) < 0;
        });
        if (order.size() != items.size())
            return FALSE;
        std::deque<LvItem> sorted;
        for (int i : order)
            sorted.push_back(std::move(items[static_cast<size_t>(i)]));
        items = std::move(sorted);
        selectionMark = -1;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    // ---- Columns ----

    int ColumnCount() const { return static_cast<int>(columns.size()); }

    int InsertColumn(int index, const LVCOLUMNW* in) {
        if (!in)
            return -1;
        index = std::clamp(index, 0, ColumnCount());
        HDITEMW hd{};
        hd.mask = HDI_FORMAT | HDI_WIDTH;
        hd.fmt = ((in->mask & LVCF_FMT) ? (in->fmt & LVCFMT_JUSTIFYMASK) : LVCFMT_LEFT) | HDF_STRING;
        hd.cxy = (in->mask & LVCF_WIDTH) ? in->cx : 0;
        if (in->mask & LVCF_TEXT) {
            hd.mask |= HDI_TEXT;
            hd.pszText = in->pszText;
        }
        if (SendMessageW(header, HDM_INSERTITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&hd)) < 0)
            return -1;
        Column column;
        column.subItem = ((in->mask & LVCF_SUBITEM) && in->iSubItem >= 0) ? in->iSubItem : index;
        if (in->mask & LVCF_IMAGE)
            column.image = in->iImage;
        columns.insert(columns.begin() + index, column);
        InvalidateRect(hwnd, nullptr, TRUE);
        return index;
    }

    BOOL SetColumn(int index, const LVCOLUMNW* in) {
        if (!in || index < 0 || index >= ColumnCount())
            return FALSE;
        HDITEMW hd{};
        if (in->mask & LVCF_FMT) {
            hd.mask |= HDI_FORMAT;
            hd.fmt = (in->fmt & LVCFMT_JUSTIFYMASK) | HDF_STRING;
        }
        if (in->mask & LVCF_WIDTH) {
            hd.mask |= HDI_WIDTH;
            hd.cxy = in->cx;
        }
        if (in->mask & LVCF_TEXT) {
            hd.mask |= HDI_TEXT;
            hd.pszText = in->pszText;
        }
        if (hd.mask && !SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&hd)))
            return FALSE;
        if (in->mask & LVCF_SUBITEM)
            columns[static_cast<size_t>(index)].subItem = in->iSubItem;
        if (in->mask & LVCF_IMAGE)
            columns[static_cast<size_t>(index)].image = in->iImage;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    BOOL GetColumn(int index, LVCOLUMNW* out) {
        if (!out || index < 0 || index >= ColumnCount())
            return FALSE;
        HDITEMW hd{};
        hd.mask = HDI_FORMAT | HDI_WIDTH | HDI_TEXT;
        hd.pszText = out->pszText;
        hd.cchTextMax = (out->mask & LVCF_TEXT) ? out->cchTextMax : 0;
        if (!(out->mask & LVCF_TEXT))
            hd.pszText = nullptr;
        SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&hd));
        if (out->mask & LVCF_FMT)
            out->fmt = hd.fmt & LVCFMT_JUSTIFYMASK;
        if (out->mask & LVCF_WIDTH)
            out->cx = hd.cxy;
        if (out->mask & LVCF_SUBITEM)
            out->iSubItem = columns[static_cast<size_t>(index)].subItem;
        if (out->mask & LVCF_IMAGE)
            out->iImage = columns[static_cast<size_t>(index)].image;
        if (out->mask & LVCF_ORDER)
            out->iOrder = index;
        return TRUE;
    }

    BOOL DeleteColumn(int index) {
        if (index < 0 || index >= ColumnCount())
            return FALSE;
        const int sub = columns[static_cast<size_t>(index)].subItem;
        SendMessageW(header, HDM_DELETEITEM, static_cast<WPARAM>(index), 0);
        columns.erase(columns.begin() + index);
        // The column's texts go with it; later sub-items move down by one.
        for (LvItem& item : items)
            if (static_cast<size_t>(sub) < item.texts.size()) {
                item.texts.erase(item.texts.begin() + sub);
                item.callback.erase(item.callback.begin() + sub);
            }
        for (Column& c : columns)
            if (c.subItem > sub)
                --c.subItem;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    int ColumnWidth(int index) {
        HDITEMW hd{};
        hd.mask = HDI_WIDTH;
        if (!SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&hd)))
            return 0;
        return hd.cxy;
    }

    BOOL SetColumnWidth(int index, int width) {
        if (index < 0 || index >= ColumnCount())
            return FALSE;
        if (width == LVSCW_AUTOSIZE || width == LVSCW_AUTOSIZE_USEHEADER) {
            const int sub = columns[static_cast<size_t>(index)].subItem;
            int widest = 0;
            for (int i = 0; i < Count(); ++i)
                widest = std::max(widest, TextWidth(Text(i, sub)) + (sub == 0 ? IconsWidth() : 0));
            if (width == LVSCW_AUTOSIZE_USEHEADER) {
                WCHAR caption[MAX_PATH] = {};
                HDITEMW hd{};
                hd.mask = HDI_TEXT;
                hd.pszText = caption;
                hd.cchTextMax = MAX_PATH;
                SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&hd));
                widest = std::max(widest, TextWidth(caption) + 12);
            }
            width = widest;
        }
        HDITEMW hd{};
        hd.mask = HDI_WIDTH;
        hd.cxy = std::max(0, width);
        return static_cast<BOOL>(
            SendMessageW(header, HDM_SETITEMW, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&hd)));
    }

    // ---- Geometry ----

    int StateWidth() const {
        int cx = 0, cy = 0;
        return stateList && ImageList_GetIconSize(stateList, &cx, &cy) ? cx : 0;
    }
    int IconsWidth() const {
        int cx = 0, cy = 0;
        return StateWidth() + (small && ImageList_GetIconSize(small, &cx, &cy) ? cx : 0);
    }
    int ColumnLeft(int index) {
        int x = 0;
        for (int i = 0; i < index; ++i)
            x += ColumnWidth(i);
        return x;
    }
    int TotalWidth() { return ColumnLeft(ColumnCount()); }

    BOOL ItemRect(int index, RECT* rc) {
        if (!rc || !Valid(index))
            return FALSE;
        const int code = rc->left;
        const int top = HeaderBottom() + (index - topIndex) * RowHeight();
        const int bottom = top + RowHeight();
        const int firstRight = ColumnCount() ? ColumnWidth(0) : TotalWidth();
        int cx = 0, cy = 0;
        const int iconLeft = StateWidth();
        const int iconRight = iconLeft + (small && ImageList_GetIconSize(small, &cx, &cy) ? cx : 0);
        switch (code) {
        case LVIR_BOUNDS:
            *rc = RECT{0, top, std::max(TotalWidth(), firstRight), bottom};
            return TRUE;
        case LVIR_ICON:
            *rc = RECT{iconLeft, top, iconRight, bottom};
            return TRUE;
        case LVIR_LABEL:
            *rc = RECT{iconRight, top, firstRight, bottom};
            return TRUE;
        case LVIR_SELECTBOUNDS:
            *rc = RECT{iconLeft, top, (exStyle & LVS_EX_FULLROWSELECT) ? TotalWidth() : firstRight, bottom};
            return TRUE;
        default:
            return FALSE;
        }
    }

    int HitTest(LVHITTESTINFO* info, bool subItems) {
        if (!info)
            return -1;
        RECT client{};
        GetClientRect(hwnd, &client);
        const POINT pt = info->pt;
        info->flags = 0;
        info->iItem = -1;
        info->iSubItem = 0;
        if (pt.y < HeaderBottom())
            info->flags |= LVHT_ABOVE;
        else if (pt.y >= client.bottom)
            info->flags |= LVHT_BELOW;
        if (pt.x < 0)
            info->flags |= LVHT_TOLEFT;
        else if (pt.x >= client.right)
            info->flags |= LVHT_TORIGHT;
        if (info->flags)
            return -1;
        const int row = topIndex + (pt.y - HeaderBottom()) / RowHeight();
        if (!Valid(row)) {
            info->flags = LVHT_NOWHERE;
            return -1;
        }
        int column = -1;
        for (int c = 0, x = 0; c < ColumnCount(); ++c) {
            const int w = ColumnWidth(c);
            if (pt.x >= x && pt.x < x + w) {
                column = c;
                break;
            }
            x += w;
        }
        int cx = 0, cy = 0;
        const int stateRight = StateWidth();
        const int iconRight = stateRight + (small && ImageList_GetIconSize(small, &cx, &cy) ? cx : 0);
        if (column == 0 || ColumnCount() == 0) {
            if (pt.x < stateRight && (items[static_cast<size_t>(row)].state & LVIS_STATEIMAGEMASK))
                info->flags = LVHT_ONITEMSTATEICON;
            else if (pt.x < iconRight)
                info->flags = LVHT_ONITEMICON;
            else
                info->flags = LVHT_ONITEMLABEL;
        } else if (column > 0 && (subItems || (exStyle & LVS_EX_FULLROWSELECT))) {
            info->flags = LVHT_ONITEMLABEL;
        } else {
            info->flags = LVHT_NOWHERE;
            return subItems ? (info->iItem = -1) : -1;
        }
        info->iItem = row;
        if (subItems && column >= 0)
            info->iSubItem = columns[static_cast<size_t>(column)].subItem;
        return row;
    }

    void ClampTop() { topIndex = std::clamp(topIndex, 0, std::max(0, Count() - PerPage())); }

    // What the vertical scroll bar was last told: rows, page, first row.
    std::array<int, 3> scrollShown{-1, -1, -1};

    // Tells the vertical scroll bar what the list shows, when that changed since it was last told (so a position set
    // on the scroll bar alone stays until the list scrolls).
    void SyncScrollBars() {
        if (Style() & LVS_NOSCROLL)
            return;
        for (int pass = 0; pass < 2; ++pass) {
            const std::array<int, 3> now{Count(), PerPage(), topIndex};
            if (now == scrollShown)
                return;
            scrollShown = now;
            SCROLLINFO si{sizeof si,
                          SIF_RANGE | SIF_PAGE | SIF_POS,
                          0,
                          std::max(0, now[0] - 1),
                          static_cast<UINT>(now[1]),
                          now[2],
                          0};
            SetScrollInfo(hwnd, SB_VERT, &si, FALSE);
            // Showing or hiding the scroll bar changes the client area, and so the page.
            ClampTop();
        }
    }

    BOOL EnsureVisible(int index) {
        if (!Valid(index))
            return FALSE;
        if (index < topIndex)
            topIndex = index;
        else if (index >= topIndex + PerPage())
            topIndex = index - PerPage() + 1;
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }

    // ---- Extended styles and image lists ----

    DWORD SetExStyle(DWORD mask, DWORD style) {
        const DWORD old = exStyle;
        if (mask == 0)
            mask = 0xFFFFFFFFu;
        exStyle = (exStyle & ~mask) | (style & mask);
        const bool had = old & LVS_EX_CHECKBOXES, has = exStyle & LVS_EX_CHECKBOXES;
        if (has && !had) {
            if (!stateList) {
                stateList = CreateCheckBoxImages();
                ownStateList = true;
            }
            for (LvItem& item : items)
                if (!(item.state & LVIS_STATEIMAGEMASK))
                    item.state |= INDEXTOSTATEIMAGEMASK(1);
        } else if (had && !has) {
            if (ownStateList && stateList)
                ImageList_Destroy(stateList);
            stateList = nullptr;
            ownStateList = false;
            for (LvItem& item : items)
                item.state &= ~LVIS_STATEIMAGEMASK;
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        return old;
    }

    HIMAGELIST SetImageList(int which, HIMAGELIST list) {
        HIMAGELIST old = nullptr;
        switch (which) {
        case LVSIL_NORMAL:
            old = normal;
            normal = list;
            break;
        case LVSIL_SMALL:
            old = small;
            small = list;
            break;
        case LVSIL_STATE:
            old = stateList;
            if (ownStateList && old && old != list) {
                ImageList_Destroy(old);
                old = nullptr;
            }
            ownStateList = false;
            stateList = list;
            break;
        default:
            return nullptr;
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        return old;
    }

    void Destroyed() {
        if (ownStateList && stateList)
            ImageList_Destroy(stateList);
        // An image list is the caller's unless the list was made with LVS_SHAREIMAGELISTS cleared, in which
        // case the list view destroys its normal and small lists with itself.
        if (!(Style() & LVS_SHAREIMAGELISTS)) {
            if (normal)
                ImageList_Destroy(normal);
            if (small && small != normal)
                ImageList_Destroy(small);
        }
        normal = small = stateList = nullptr;
    }

    // ---- Input ----

    void ToggleCheck(int index) {
        const UINT s = items[static_cast<size_t>(index)].state & LVIS_STATEIMAGEMASK;
        ChangeState(index, INDEXTOSTATEIMAGEMASK(s == INDEXTOSTATEIMAGEMASK(2) ? 1 : 2), LVIS_STATEIMAGEMASK);
    }

    void SelectOnly(int index) {
        for (int i = 0; i < Count(); ++i)
            if (i != index && (items[static_cast<size_t>(i)].state & LVIS_SELECTED))
                ChangeState(i, 0, LVIS_SELECTED);
        if (Valid(index))
            ChangeState(index, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    }

    void Button(LPARAM lParam, WPARAM keys, bool right, bool doubleClick) {
        SetFocus(hwnd);
        LVHITTESTINFO hit{};
        hit.pt = PointFromLParam(lParam);
        const int index = HitTest(&hit, true);
        if (right) {
            if (index >= 0 && !(items[static_cast<size_t>(index)].state & LVIS_SELECTED))
                SelectOnly(index);
            if (NotifyActivate(NM_RCLICK, index, hit.iSubItem, hit.pt) == 0) {
                POINT screen = hit.pt;
                ClientToScreen(hwnd, &screen);
                SendMessageW(hwnd, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(hwnd), MAKELPARAM(screen.x, screen.y));
            }
            return;
        }
        if (doubleClick) {
            NotifyActivate(NM_DBLCLK, index, hit.iSubItem, hit.pt);
            if (index >= 0)
                NotifyActivate(LVN_ITEMACTIVATE, index, hit.iSubItem, hit.pt);
            return;
        }
        if (index >= 0 && (hit.flags & LVHT_ONITEMSTATEICON) && (exStyle & LVS_EX_CHECKBOXES)) {
            ToggleCheck(index);
        } else if (index >= 0) {
            if ((keys & MK_CONTROL) && !(Style() & LVS_SINGLESEL))
                ChangeState(index, (items[static_cast<size_t>(index)].state ^ LVIS_SELECTED) | LVIS_FOCUSED,
                            LVIS_SELECTED | LVIS_FOCUSED);
            else
                SelectOnly(index);
        } else {
            SelectOnly(-1);
        }
        NotifyActivate(NM_CLICK, index, hit.iSubItem, hit.pt);
    }

    void Key(WPARAM key) {
        NMLVKEYDOWN nm{};
        nm.wVKey = static_cast<WORD>(key);
        Notify(hwnd, nm.hdr, LVN_KEYDOWN);
        if (items.empty())
            return;
        const int focus = NextItem(-1, LVNI_FOCUSED);
        int target = -1;
        switch (static_cast<int>(key)) {
        case VK_DOWN:
            target = std::min(focus + 1, Count() - 1);
            break;
        case VK_UP:
            target = std::max(focus - 1, 0);
            break;
        case VK_HOME:
            target = 0;
            break;
        case VK_END:
            target = Count() - 1;
            break;
        case VK_NEXT:
            target = std::min(std::max(focus, 0) + PerPage(), Count() - 1);
            break;
        case VK_PRIOR:
            target = std::max(focus - PerPage(), 0);
            break;
        case VK_SPACE:
            if (focus >= 0 && (exStyle & LVS_EX_CHECKBOXES))
                ToggleCheck(focus);
            return;
        case VK_RETURN:
            NotifySimple(hwnd, NM_RETURN);
            if (focus >= 0)
                NotifyActivate(LVN_ITEMACTIVATE, focus, 0, POINT{});
            return;
        default:
            return;
        }
        SelectOnly(target);
        EnsureVisible(target);
    }

    void Scroll(WPARAM wParam) {
        switch (LOWORD(wParam)) {
        case 0: // SB_LINEUP
            --topIndex;
            break;
        case 1: // SB_LINEDOWN
            ++topIndex;
            break;
        case 2: // SB_PAGEUP
            topIndex -= PerPage();
            break;
        case 3: // SB_PAGEDOWN
            topIndex += PerPage();
            break;
        case 4: // SB_THUMBPOSITION
        case 5: // SB_THUMBTRACK
            topIndex = HIWORD(wParam);
            break;
        case 6: // SB_TOP
            topIndex = 0;
            break;
        case 7: // SB_BOTTOM
            topIndex = Count();
            break;
        default:
            return;
        }
        ClampTop();
        InvalidateRect(hwnd, nullptr, TRUE);
    }

    // ---- Painting (report view) ----

    void Paint(WPARAM wParam) {
        ControlPaint paint(hwnd, wParam);
        HDC dc = paint.dc();
        if (!dc)
            return;
        paint.UseFont(font);
        RECT client{};
        GetClientRect(hwnd, &client);
        FillColor(dc, client, ColorOr(bk, COLOR_WINDOW));
        const int h = RowHeight();
        const int headerBottom = HeaderBottom();
        const bool showSelection = (Style() & LVS_SHOWSELALWAYS) || GetFocus() == hwnd;
        const int columnCount = std::max(ColumnCount(), 1);
        std::vector<int> lefts, widths;
        for (int c = 0; c < ColumnCount(); ++c) {
            lefts.push_back(ColumnLeft(c));
            widths.push_back(ColumnWidth(c));
        }
        if (lefts.empty()) {
            lefts.push_back(0);
            widths.push_back(client.right);
        }
        int cx = 0, cy = 0;
        for (int row = topIndex; row < Count(); ++row) {
            const int top = headerBottom + (row - topIndex) * h;
            if (top >= client.bottom)
                break;
            const LvItem& item = items[static_cast<size_t>(row)];
            const bool selected = (item.state & LVIS_SELECTED) && showSelection;
            int x = 0;
            const UINT stateIndex = (item.state & LVIS_STATEIMAGEMASK) >> 12;
            if (stateList && ImageList_GetIconSize(stateList, &cx, &cy)) {
                if (stateIndex)
                    ImageList_Draw(stateList, static_cast<int>(stateIndex), dc, x, top + (h - cy) / 2, ILD_TRANSPARENT);
                x += cx;
            }
            if (small && ImageList_GetIconSize(small, &cx, &cy)) {
                ImageList_Draw(small, item.image, dc, x, top + (h - cy) / 2, ILD_TRANSPARENT);
                x += cx;
            }
            for (int c = 0; c < columnCount; ++c) {
                const int left = c == 0 ? x : lefts[static_cast<size_t>(c)];
                const RECT cell{left, top, lefts[static_cast<size_t>(c)] + widths[static_cast<size_t>(c)], top + h};
                const bool highlight = selected && (c == 0 || (exStyle & LVS_EX_FULLROWSELECT));
                if (highlight)
                    FillColor(dc, cell, GetSysColor(COLOR_HIGHLIGHT));
                const int sub = c < ColumnCount() ? columns[static_cast<size_t>(c)].subItem : 0;
                HDITEMW hd{};
                hd.mask = HDI_FORMAT;
                SendMessageW(header, HDM_GETITEMW, static_cast<WPARAM>(c), reinterpret_cast<LPARAM>(&hd));
                const UINT align = (hd.fmt & HDF_JUSTIFYMASK) == HDF_CENTER  ? DT_CENTER
                                   : (hd.fmt & HDF_JUSTIFYMASK) == HDF_RIGHT ? DT_RIGHT
                                                                             : 0;
                DrawLabel(dc, Text(row, sub), cell,
                          highlight ? GetSysColor(COLOR_HIGHLIGHTTEXT) : ColorOr(textColor, COLOR_WINDOWTEXT),
                          c == 0 ? 0 : align);
            }
            if (exStyle & LVS_EX_GRIDLINES)
                FillColor(dc, RECT{0, top + h - 1, TotalWidth(), top + h}, GetSysColor(COLOR_3DLIGHT));
        }
        if (exStyle & LVS_EX_GRIDLINES)
            for (int c = 0; c < ColumnCount(); ++c) {
                const int right = lefts[static_cast<size_t>(c)] + widths[static_cast<size_t>(c)] - 1;
                FillColor(dc, RECT{right, headerBottom, right + 1, client.bottom}, GetSysColor(COLOR_3DLIGHT));
            }
    }

    void LayoutHeader() {
        if (!header)
            return;
        RECT rc{};
        GetClientRect(hwnd, &rc);
        const bool shown = HeaderBottom() > 0;
        SetWindowPos(header, nullptr, 0, 0, rc.right, HeaderHeight(),
                     SWP_NOZORDER | SWP_NOACTIVATE | (shown ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
    }
};

LRESULT CALLBACK ListViewProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<ListView>(hwnd)->hwnd = hwnd;
        SetScrollSync(hwnd, [](HWND h) {
            if (ListView* l = StateOf<ListView>(h))
                l->SyncScrollBars();
        });
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    ListView* lv = StateOf<ListView>(hwnd);
    if (!lv)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_CREATE:
        lv->header = CreateWindowExW(0, WC_HEADERW, u"", WS_CHILD | HDS_BUTTONS | HDS_HORZ, 0, 0, 0, 0, hwnd, nullptr,
                                     nullptr, nullptr);
        lv->LayoutHeader();
        return lv->header ? 0 : -1;
    case WM_DESTROY:
        lv->DeleteAll();
        return 0;
    case WM_NCDESTROY:
        lv->Destroyed();
        DestroyState<ListView>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_SIZE:
    case WM_STYLECHANGED:
        lv->LayoutHeader();
        lv->ClampTop();
        return 0;
    case WM_GETDLGCODE:
        return kDlgcWantArrows | kDlgcWantChars;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        lv->Paint(wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1; // painting fills the background
    case WM_SETFONT:
        lv->font = reinterpret_cast<HFONT>(wParam);
        SendMessageW(lv->header, WM_SETFONT, wParam, lParam);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(lv->font);
    case WM_NOTIFY: {
        auto* hdr = reinterpret_cast<NMHDR*>(lParam);
        if (hdr && hdr->hwndFrom == lv->header && hdr->code == HDN_ITEMCLICKW) {
            const int column = reinterpret_cast<NMHEADERW*>(lParam)->iItem;
            lv->NotifyItem(LVN_COLUMNCLICK, -1, column);
        }
        return 0;
    }
    case WM_LBUTTONDOWN:
        lv->Button(lParam, wParam, false, false);
        return 0;
    case WM_LBUTTONDBLCLK:
        lv->Button(lParam, wParam, false, true);
        return 0;
    case WM_RBUTTONDOWN:
        lv->Button(lParam, wParam, true, false);
        return 0;
    case WM_KEYDOWN:
        lv->Key(wParam);
        return 0;
    case WM_VSCROLL:
        lv->Scroll(wParam);
        return 0;
    case WM_SETFOCUS:
        NotifySimple(hwnd, NM_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        NotifySimple(hwnd, NM_KILLFOCUS);
        return 0;

    case LVM_INSERTITEMW:
        return lv->Insert(reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_SETITEMW:
        return lv->SetItem(reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_GETITEMW:
        return lv->GetItem(reinterpret_cast<LVITEMW*>(lParam));
    case LVM_SETITEMTEXTW: {
        auto* in = reinterpret_cast<const LVITEMW*>(lParam);
        if (!in)
            return FALSE;
        LVITEMW item{};
        item.mask = LVIF_TEXT;
        item.iItem = static_cast<int>(wParam);
        item.iSubItem = in->iSubItem;
        item.pszText = in->pszText;
        return lv->SetItem(&item);
    }
    case LVM_GETITEMTEXTW: {
        auto* out = reinterpret_cast<LVITEMW*>(lParam);
        const int index = static_cast<int>(wParam);
        if (!out || !lv->Valid(index) || !out->pszText || out->cchTextMax <= 0)
            return 0;
        CopyOut(lv->Text(index, out->iSubItem), out->pszText, out->cchTextMax);
        return lstrlenW(out->pszText);
    }
    case LVM_SETITEMSTATE:
        return lv->SetState(static_cast<int>(wParam), reinterpret_cast<const LVITEMW*>(lParam));
    case LVM_GETITEMSTATE: {
        const int index = static_cast<int>(wParam);
        return lv->Valid(index)
                   ? static_cast<LRESULT>(lv->items[static_cast<size_t>(index)].state & static_cast<UINT>(lParam))
                   : 0;
    }
    case LVM_DELETEITEM:
        return lv->Delete(static_cast<int>(wParam));
    case LVM_DELETEALLITEMS:
        return lv->DeleteAll();
    case LVM_GETITEMCOUNT:
        return lv->Count();
    case LVM_SETITEMCOUNT:
        // Rows are kept in blocks: nothing to prepare.
        return TRUE;
    case LVM_GETNEXTITEM:
        return lv->NextItem(static_cast<int>(wParam), LOWORD(lParam));
    case LVM_GETSELECTEDCOUNT:
        return std::count_if(lv->items.begin(), lv->items.end(),
                             [](const LvItem& i) { return (i.state & LVIS_SELECTED) != 0; });
    case LVM_GETSELECTIONMARK:
        return lv->selectionMark;
    case LVM_SETSELECTIONMARK: {
        const int old = lv->selectionMark;
        lv->selectionMark = static_cast<int>(lParam);
        return old;
    }
    case LVM_FINDITEMW:
        return lv->Find(static_cast<int>(wParam), reinterpret_cast<const LVFINDINFOW*>(lParam));
    case LVM_SORTITEMS:
        return lv->Sort(static_cast<LPARAM>(wParam), reinterpret_cast<PFNLVCOMPARE>(lParam), false);
    case LVM_SORTITEMSEX:
        return lv->Sort(static_cast<LPARAM>(wParam), reinterpret_cast<PFNLVCOMPARE>(lParam), true);
    case LVM_ENSUREVISIBLE:
        return lv->EnsureVisible(static_cast<int>(wParam));
    case LVM_GETTOPINDEX:
        return lv->topIndex;
    case LVM_GETCOUNTPERPAGE:
        return lv->PerPage();
    case LVM_GETITEMRECT:
        return lv->ItemRect(static_cast<int>(wParam), reinterpret_cast<RECT*>(lParam));
    case LVM_GETSUBITEMRECT: {
        auto* rc = reinterpret_cast<RECT*>(lParam);
        const int index = static_cast<int>(wParam);
        if (!rc || !lv->Valid(index) || rc->top < 0 || rc->top >= std::max(lv->ColumnCount(), 1))
            return FALSE;
        const int column = rc->top;
        RECT row{};
        row.left = LVIR_BOUNDS;
        lv->ItemRect(index, &row);
        const int left = lv->ColumnLeft(column);
        *rc = RECT{left, row.top, column == 0 ? lv->TotalWidth() : left + lv->ColumnWidth(column), row.bottom};
        return TRUE;
    }
    case LVM_HITTEST:
        return lv->HitTest(reinterpret_cast<LVHITTESTINFO*>(lParam), false);
    case LVM_SUBITEMHITTEST:
        return lv->HitTest(reinterpret_cast<LVHITTESTINFO*>(lParam), true);
    case LVM_SETEXTENDEDLISTVIEWSTYLE:
        return lv->SetExStyle(static_cast<DWORD>(wParam), static_cast<DWORD>(lParam));
    case LVM_GETEXTENDEDLISTVIEWSTYLE:
        return lv->exStyle;
    case LVM_SETIMAGELIST:
        return reinterpret_cast<LRESULT>(
            lv->SetImageList(static_cast<int>(wParam), reinterpret_cast<HIMAGELIST>(lParam)));
    case LVM_GETIMAGELIST:
        return reinterpret_cast<LRESULT>(wParam == LVSIL_NORMAL  ? lv->normal
                                         : wParam == LVSIL_SMALL ? lv->small
                                         : wParam == LVSIL_STATE ? lv->stateList
                                                                 : nullptr);
    case LVM_GETHEADER:
        return reinterpret_cast<LRESULT>(lv->header);
    case LVM_INSERTCOLUMNW:
        return lv->InsertColumn(static_cast<int>(wParam), reinterpret_cast<const LVCOLUMNW*>(lParam));
    case LVM_SETCOLUMNW:
        return lv->SetColumn(static_cast<int>(wParam), reinterpret_cast<const LVCOLUMNW*>(lParam));
    case LVM_GETCOLUMNW:
        return lv->GetColumn(static_cast<int>(wParam), reinterpret_cast<LVCOLUMNW*>(lParam));
    case LVM_DELETECOLUMN:
        return lv->DeleteColumn(static_cast<int>(wParam));
    case LVM_GETCOLUMNWIDTH:
        return lv->ColumnWidth(static_cast<int>(wParam));
    case LVM_SETCOLUMNWIDTH:
        return lv->SetColumnWidth(static_cast<int>(wParam), static_cast<SHORT>(LOWORD(lParam)));
    case LVM_GETCALLBACKMASK:
        return lv->callbackMask;
    case LVM_SETCALLBACKMASK:
        lv->callbackMask = static_cast<UINT>(wParam);
        return TRUE;
    case LVM_GETBKCOLOR:
        return lv->bk;
    case LVM_SETBKCOLOR:
        lv->bk = static_cast<COLORREF>(lParam);
        return TRUE;
    case LVM_GETTEXTCOLOR:
        return lv->textColor;
    case LVM_SETTEXTCOLOR:
        lv->textColor = static_cast<COLORREF>(lParam);
        return TRUE;
    case LVM_GETTEXTBKCOLOR:
        return lv->textBk;
    case LVM_SETTEXTBKCOLOR:
        lv->textBk = static_cast<COLORREF>(lParam);
        return TRUE;
    case LVM_REDRAWITEMS:
    case LVM_UPDATE:
    case LVM_ARRANGE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    case LVM_SCROLL: {
        const int dy = static_cast<int>(lParam);
        lv->topIndex += dy / lv->RowHeight();
        lv->ClampTop();
        return TRUE;
    }
    case LVM_GETEDITCONTROL:
        return 0;
    case LVM_GETSTRINGWIDTHW:
        return lParam ? TextWidth(reinterpret_cast<LPCWSTR>(lParam)) - 2 * kTextPadding : 0;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterListView() {
    RegisterControlClass(WC_LISTVIEWW, ListViewProc, CS_DBLCLKS);
}

} // namespace platform::ui::controls
