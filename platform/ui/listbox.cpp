// The "ListBox" class: a list of texts with item data, single or multiple selection.
#include "platform/ui/controls_internal.h"
#include "platform/ui/input.h"

namespace platform::ui::stdctl {

namespace {

struct ListData {
    ItemList list;
    int current = -1; // single selection
    int caret = -1;   // focus item (multiple selection)
    int anchor = -1;
    int top = 0;
    int itemHeight = 16;
    bool focused = false;
};

bool Multi(HWND hwnd) {
    return (Style(hwnd) & (LBS_MULTIPLESEL | LBS_EXTENDEDSEL)) != 0;
}

int Index(WPARAM wParam) {
    return static_cast<int>(static_cast<INT_PTR>(wParam));
}

void Notify(HWND hwnd, WORD code) {
    if (Style(hwnd) & LBS_NOTIFY)
        NotifyParent(hwnd, code);
}

void Redraw(HWND hwnd) {
    InvalidateRect(hwnd, nullptr, TRUE);
}

int ItemAt(HWND hwnd, const ListData& d, LPARAM lParam) {
    const int y = static_cast<SHORT>(HIWORD(lParam));
    RECT rc;
    GetClientRect(hwnd, &rc);
    if (y < 0 || y >= rc.bottom)
        return -1;
    const int index = d.top + y / d.itemHeight;
    return d.list.Valid(index) ? index : -1;
}

int SelectedCount(const ListData& d) {
    int n = 0;
    for (const auto& item : d.list.items)
        n += item.selected ? 1 : 0;
    return n;
}

// The user clicked or moved to `index`.
void UserSelect(HWND hwnd, ListData& d, int index, bool toggle, bool range) {
    if (!d.list.Valid(index) || (Style(hwnd) & LBS_NOSEL))
        return;
    if (!Multi(hwnd)) {
        if (index == d.current)
            return;
        d.current = d.caret = index;
        Redraw(hwnd);
        Notify(hwnd, LBN_SELCHANGE);
        return;
    }
    const bool extended = (Style(hwnd) & LBS_EXTENDEDSEL) != 0;
    auto& items = d.list.items;
    if (!extended || toggle) {
        items[static_cast<size_t>(index)].selected = !items[static_cast<size_t>(index)].selected;
        d.anchor = index;
    } else if (range && d.anchor >= 0) {
        for (size_t i = 0; i < items.size(); ++i) {
            const int n = static_cast<int>(i);
            items[i].selected = n >= std::min(d.anchor, index) && n <= std::max(d.anchor, index);
        }
    } else {
        for (auto& item : items)
            item.selected = false;
        items[static_cast<size_t>(index)].selected = true;
        d.anchor = index;
    }
    d.caret = index;
    Redraw(hwnd);
    Notify(hwnd, LBN_SELCHANGE);
}

} // namespace

LRESULT CALLBACK ListBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateData<ListData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    ListData* d = GetData<ListData>(hwnd);
    if (msg == WM_NCDESTROY) {
        DestroyData<ListData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (!d)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    const DWORD style = Style(hwnd);
    ItemList& list = d->list;
    auto& items = list.items;
    const int count = static_cast<int>(items.size());
    LRESULT common = 0;
    if (paint::HandleFontAndPaint(hwnd, msg, wParam, lParam, common))
        return common;
    switch (msg) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS;
    case LB_ADDSTRING:
    case LB_INSERTSTRING: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        const int at = msg == LB_ADDSTRING ? -1 : Index(wParam);
        const int index = list.Insert(text ? text : u"", at, msg == LB_ADDSTRING && (style & LBS_SORT));
        if (index < 0)
            return LB_ERR;
        for (int* p : {&d->current, &d->caret, &d->anchor})
            if (*p >= index)
                ++*p;
        Redraw(hwnd);
        return index;
    }
    case LB_DELETESTRING: {
        const int index = Index(wParam);
        if (!list.Valid(index))
            return LB_ERR;
        items.erase(items.begin() + index);
        for (int* p : {&d->current, &d->caret, &d->anchor}) {
            if (*p == index)
                *p = -1;
            else if (*p > index)
                --*p;
        }
        Redraw(hwnd);
        return static_cast<LRESULT>(items.size());
    }
    case LB_RESETCONTENT:
        items.clear();
        d->current = d->caret = d->anchor = -1;
        d->top = 0;
        Redraw(hwnd);
        return 0;
    case LB_GETCOUNT:
        return count;
    case LB_GETTEXT: {
        const int index = Index(wParam);
        if (!list.Valid(index) || !lParam)
            return LB_ERR;
        return CopyOut(items[static_cast<size_t>(index)].text, lParam);
    }
    case LB_GETTEXTLEN: {
        const int index = Index(wParam);
        return list.Valid(index) ? static_cast<LRESULT>(items[static_cast<size_t>(index)].text.size()) : LB_ERR;
    }
    case LB_GETITEMDATA: {
        const int index = Index(wParam);
        return list.Valid(index) ? items[static_cast<size_t>(index)].data : LB_ERR;
    }
    case LB_SETITEMDATA: {
        const int index = Index(wParam);
        if (!list.Valid(index))
            return LB_ERR;
        items[static_cast<size_t>(index)].data = lParam;
        return LB_OKAY;
    }
    case LB_FINDSTRING:
    case LB_FINDSTRINGEXACT: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        const int found = list.Find(Index(wParam), text ? text : u"", msg == LB_FINDSTRINGEXACT);
        return found < 0 ? LB_ERR : found;
    }
    case LB_SELECTSTRING: {
        if (Multi(hwnd))
            return LB_ERR;
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        const int found = list.Find(Index(wParam), text ? text : u"", false);
        if (found < 0)
            return LB_ERR;
        d->current = d->caret = found;
        Redraw(hwnd);
        return found;
    }
    case LB_SETCURSEL: {
        if (Multi(hwnd))
            return LB_ERR;
        const int index = Index(wParam);
        d->current = list.Valid(index) ? index : -1;
        if (d->current >= 0)
            d->caret = d->current;
        Redraw(hwnd);
        return list.Valid(index) ? index : LB_ERR;
    }
    case LB_GETCURSEL:
        return Multi(hwnd) ? d->caret : d->current;
    case LB_SETSEL: {
        if (!Multi(hwnd))
            return LB_ERR;
        const int index = static_cast<int>(lParam);
        if (index == -1) {
            for (auto& item : items)
                item.selected = wParam != 0;
        } else if (list.Valid(index)) {
            items[static_cast<size_t>(index)].selected = wParam != 0;
            d->caret = d->anchor = index;
        } else {
            return LB_ERR;
        }
        Redraw(hwnd);
        return 0;
    }
    case LB_SELITEMRANGE: {
        if (!Multi(hwnd))
            return LB_ERR;
        const int first = LOWORD(lParam), last = HIWORD(lParam);
        for (int i = std::min(first, last); i <= std::max(first, last) && i < count; ++i)
            items[static_cast<size_t>(i)].selected = wParam != 0;
        Redraw(hwnd);
        return 0;
    }
    case LB_GETSEL: {
        const int index = Index(wParam);
        if (!list.Valid(index))
            return LB_ERR;
        return Multi(hwnd) ? (items[static_cast<size_t>(index)].selected ? 1 : 0) : (index == d->current ? 1 : 0);
    }
    case LB_GETSELCOUNT:
        return Multi(hwnd) ? SelectedCount(*d) : LB_ERR;
    case LB_GETSELITEMS: {
        if (!Multi(hwnd))
            return LB_ERR;
        auto* out = reinterpret_cast<int*>(lParam);
        int n = 0;
        for (int i = 0; i < count && n < static_cast<int>(wParam); ++i)
            if (items[static_cast<size_t>(i)].selected)
                out[n++] = i;
        return n;
    }
    case LB_GETCARETINDEX:
        return d->caret >= 0 ? d->caret : (count ? 0 : LB_ERR);
    case LB_SETCARETINDEX: {
        const int index = Index(wParam);
        if (!list.Valid(index))
            return LB_ERR;
        d->caret = index;
        return LB_OKAY;
    }
    case LB_GETTOPINDEX:
        return d->top;
    case LB_SETTOPINDEX: {
        const int index = Index(wParam);
        if (!list.Valid(index) && !(index == 0 && count == 0))
            return LB_ERR;
        d->top = index;
        Redraw(hwnd);
        return LB_OKAY;
    }
    case LB_GETITEMHEIGHT:
        return d->itemHeight;
    case LB_SETITEMHEIGHT:
        if (lParam <= 0 || lParam > 255)
            return LB_ERR;
        d->itemHeight = static_cast<int>(lParam);
        Redraw(hwnd);
        return LB_OKAY;
    case LB_GETITEMRECT: {
        const int index = Index(wParam);
        if (!list.Valid(index) || !lParam)
            return LB_ERR;
        RECT rc;
        GetClientRect(hwnd, &rc);
        auto* out = reinterpret_cast<RECT*>(lParam);
        out->left = 0;
        out->right = rc.right;
        out->top = (index - d->top) * d->itemHeight;
        out->bottom = out->top + d->itemHeight;
        return LB_OKAY;
    }
    case LB_ITEMFROMPOINT: {
        const int y = static_cast<SHORT>(HIWORD(lParam));
        RECT rc;
        GetClientRect(hwnd, &rc);
        int index = d->top + (y < 0 ? 0 : y / d->itemHeight);
        const bool outside = y < 0 || y >= rc.bottom || index >= count;
        if (index >= count)
            index = count ? count - 1 : 0;
        return MAKELONG(static_cast<WORD>(index), outside ? 1 : 0);
    }
    case WM_LBUTTONDOWN: {
        if (GetFocus() != hwnd)
            SetFocus(hwnd);
        const int index = ItemAt(hwnd, *d, lParam);
        if (index >= 0)
            UserSelect(hwnd, *d, index, (wParam & MK_CONTROL) != 0, (wParam & MK_SHIFT) != 0);
        return 0;
    }
    case WM_LBUTTONDBLCLK:
        if (ItemAt(hwnd, *d, lParam) >= 0)
            Notify(hwnd, LBN_DBLCLK);
        return 0;
    case WM_KEYDOWN:
    case WM_KEYUP: {
        NoteKeyMessage(msg, wParam);
        if (msg == WM_KEYUP || count == 0)
            return 0;
        const int at = Multi(hwnd) ? d->caret : d->current;
        int to = -1;
        switch (wParam) {
        case VK_DOWN:
            to = std::min(at + 1, count - 1);
            break;
        case VK_UP:
            to = std::max(at - 1, 0);
            break;
        case VK_HOME:
            to = 0;
            break;
        case VK_END:
            to = count - 1;
            break;
        case VK_SPACE:
            if (Multi(hwnd) && d->caret >= 0)
                UserSelect(hwnd, *d, d->caret, true, false);
            return 0;
        default:
            return 0;
        }
        if (Multi(hwnd) && !(style & LBS_EXTENDEDSEL)) {
            d->caret = to;
            Redraw(hwnd);
        } else {
            UserSelect(hwnd, *d, to, false, GetKeyState(VK_SHIFT) < 0);
        }
        return 0;
    }
    case WM_CHAR: {
        NoteKeyMessage(msg, wParam);
        const auto c = static_cast<char16_t>(wParam);
        if (c > 0x20) {
            const int found = list.Find(Multi(hwnd) ? d->caret : d->current, std::u16string(1, c), false);
            if (found >= 0)
                UserSelect(hwnd, *d, found, false, false);
        }
        return 0;
    }
    case WM_SETFOCUS:
        d->focused = true;
        Redraw(hwnd);
        Notify(hwnd, LBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        d->focused = false;
        Redraw(hwnd);
        Notify(hwnd, LBN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        Redraw(hwnd);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace platform::ui::stdctl
