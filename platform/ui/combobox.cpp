// The "ComboBox" class: a list of texts with item data and one current selection, shown as a drop-down list (or,
// for the editable styles, with a text of its own).
#include "platform/ui/controls_internal.h"
#include "platform/ui/input.h"

namespace platform::ui::stdctl {

namespace {

constexpr int kClosedHeight = 21;

struct ComboData {
    int droppedHeight = 0; // the height of the list when it drops down
    ItemList list;
    int current = -1;
    bool dropped = false;
    bool focused = false;
    std::u16string editText; // editable styles only
    size_t editLimit = 0;    // 0: none
    int itemHeight = 16;
};

bool IsDropList(HWND hwnd) {
    return (Style(hwnd) & 0x3) == CBS_DROPDOWNLIST;
}

std::u16string CurrentText(HWND hwnd, const ComboData& d) {
    if (!IsDropList(hwnd))
        return d.editText;
    return d.list.Valid(d.current) ? d.list.items[static_cast<size_t>(d.current)].text : std::u16string();
}

void Select(HWND hwnd, ComboData& d, int index) {
    d.current = d.list.Valid(index) ? index : -1;
    if (!IsDropList(hwnd))
        d.editText = d.current >= 0 ? d.list.items[static_cast<size_t>(d.current)].text : std::u16string();
    InvalidateRect(hwnd, nullptr, TRUE);
}

void ShowDropDown(HWND hwnd, ComboData& d, bool show) {
    if (d.dropped == show)
        return;
    d.dropped = show;
    NotifyParent(hwnd, show ? CBN_DROPDOWN : CBN_CLOSEUP);
    InvalidateRect(hwnd, nullptr, TRUE);
}

// A selection made by the user: the list closes (when open) with the choice accepted, and the parent hears of the
// change.
void UserSelect(HWND hwnd, ComboData& d, int index) {
    if (!d.list.Valid(index))
        return;
    const bool changed = index != d.current;
    Select(hwnd, d, index);
    if (d.dropped) {
        NotifyParent(hwnd, CBN_SELENDOK);
        ShowDropDown(hwnd, d, false);
    }
    if (changed)
        NotifyParent(hwnd, CBN_SELCHANGE);
}

// Arrow keys and type-ahead on the list.
void KeySelect(HWND hwnd, ComboData& d, int index) {
    const int count = static_cast<int>(d.list.items.size());
    if (count == 0)
        return;
    index = std::max(0, std::min(index, count - 1));
    if (index == d.current)
        return;
    Select(hwnd, d, index);
    NotifyParent(hwnd, CBN_SELCHANGE);
}

} // namespace

LRESULT CALLBACK ComboBoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateData<ComboData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (msg == WM_CREATE) {
        // The height given is the dropped list's; the closed control is one line high.
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if ((static_cast<DWORD>(cs->style) & 0x3) != CBS_SIMPLE && cs->cy > kClosedHeight) {
            if (ComboData* d = GetData<ComboData>(hwnd))
                d->droppedHeight = cs->cy;
            SetWindowPos(hwnd, nullptr, 0, 0, cs->cx, kClosedHeight, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    ComboData* d = GetData<ComboData>(hwnd);
    if (msg == WM_NCDESTROY) {
        DestroyData<ComboData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (!d)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    const DWORD style = Style(hwnd);
    ItemList& list = d->list;
    const int count = static_cast<int>(list.items.size());
    LRESULT common = 0;
    if (paint::HandleFontAndPaint(hwnd, msg, wParam, lParam, common))
        return common;
    switch (msg) {
    case WM_GETDLGCODE:
        return DLGC_WANTARROWS | DLGC_WANTCHARS | (IsDropList(hwnd) ? 0 : DLGC_HASSETSEL);
    case CB_ADDSTRING:
    case CB_INSERTSTRING: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        const int at = msg == CB_ADDSTRING ? -1 : static_cast<int>(static_cast<INT_PTR>(wParam));
        const int index = list.Insert(text ? text : u"", at, msg == CB_ADDSTRING && (style & CBS_SORT));
        if (index < 0)
            return CB_ERR;
        if (d->current >= index)
            ++d->current;
        InvalidateRect(hwnd, nullptr, TRUE);
        return index;
    }
    case CB_DELETESTRING: {
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (!list.Valid(index))
            return CB_ERR;
        list.items.erase(list.items.begin() + index);
        if (d->current == index)
            Select(hwnd, *d, -1);
        else if (d->current > index)
            --d->current;
        InvalidateRect(hwnd, nullptr, TRUE);
        return static_cast<LRESULT>(list.items.size());
    }
    case CB_RESETCONTENT:
        list.items.clear();
        d->current = -1;
        if (!IsDropList(hwnd))
            d->editText.clear();
        InvalidateRect(hwnd, nullptr, TRUE);
        return CB_OKAY;
    case CB_GETCOUNT:
        return count;
    case CB_GETCURSEL:
        return d->current;
    case CB_SETCURSEL: {
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        Select(hwnd, *d, index);
        return list.Valid(index) ? index : CB_ERR;
    }
    case CB_GETLBTEXT: {
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (!list.Valid(index) || !lParam)
            return CB_ERR;
        return CopyOut(list.items[static_cast<size_t>(index)].text, lParam);
    }
    case CB_GETLBTEXTLEN: {
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        return list.Valid(index) ? static_cast<LRESULT>(list.items[static_cast<size_t>(index)].text.size()) : CB_ERR;
    }
    case CB_GETITEMDATA: {
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        return list.Valid(index) ? list.items[static_cast<size_t>(index)].data : CB_ERR;
    }
    case CB_SETITEMDATA: {
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (!list.Valid(index))
            return CB_ERR;
        list.items[static_cast<size_t>(index)].data = lParam;
        return CB_OKAY;
    }
    case CB_FINDSTRING:
    case CB_FINDSTRINGEXACT: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        const int found =
            list.Find(static_cast<int>(static_cast<INT_PTR>(wParam)), text ? text : u"", msg == CB_FINDSTRINGEXACT);
        return found < 0 ? CB_ERR : found;
    }
    case CB_SELECTSTRING: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        const int found = list.Find(static_cast<int>(static_cast<INT_PTR>(wParam)), text ? text : u"", false);
        if (found < 0)
            return CB_ERR;
        Select(hwnd, *d, found);
        return found;
    }
    case CB_SHOWDROPDOWN:
        if ((style & 0x3) != CBS_SIMPLE)
            ShowDropDown(hwnd, *d, wParam != 0);
        return TRUE;
    case CB_GETDROPPEDSTATE:
        return d->dropped ? TRUE : FALSE;
    case CB_GETITEMHEIGHT:
        return d->itemHeight;
    case CB_SETITEMHEIGHT:
        if (lParam <= 0 || lParam > 255)
            return CB_ERR;
        d->itemHeight = static_cast<int>(lParam);
        return CB_OKAY;
    case CB_LIMITTEXT:
        if (IsDropList(hwnd))
            return CB_ERR;
        d->editLimit = wParam;
        return TRUE;
    case CB_GETEDITSEL:
        if (IsDropList(hwnd))
            return CB_ERR;
        return MAKELONG(0, static_cast<WORD>(d->editText.size()));
    case CB_SETEDITSEL:
        return IsDropList(hwnd) ? CB_ERR : TRUE;
    case kComboChooseItem: {
        const int index = static_cast<int>(static_cast<INT_PTR>(wParam));
        if (!list.Valid(index) || !IsWindowEnabled(hwnd))
            return FALSE;
        if (GetFocus() != hwnd)
            SetFocus(hwnd);
        if ((style & 0x3) != CBS_SIMPLE)
            ShowDropDown(hwnd, *d, true);
        UserSelect(hwnd, *d, index);
        return TRUE;
    }
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        if (IsDropList(hwnd)) {
            const int found = list.Find(-1, text ? text : u"", true);
            if (found < 0)
                return CB_ERR;
            Select(hwnd, *d, found);
            return TRUE;
        }
        d->editText = text ? text : u"";
        if (d->editLimit && d->editText.size() > d->editLimit)
            d->editText.resize(d->editLimit);
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        const std::u16string text = CurrentText(hwnd, *d);
        const size_t n = std::min(text.size(), static_cast<size_t>(wParam) - 1);
        auto* out = reinterpret_cast<char16_t*>(lParam);
        text.copy(out, n);
        out[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(CurrentText(hwnd, *d).size());
    case WM_CHAR: {
        NoteKeyMessage(msg, wParam);
        const auto c = static_cast<char16_t>(wParam);
        if (IsDropList(hwnd)) {
            if (c >= 0x20) {
                const int found = list.Find(d->current, std::u16string(1, c), false);
                if (found >= 0)
                    KeySelect(hwnd, *d, found);
            }
            return 0;
        }
        if (c == 8) {
            if (!d->editText.empty())
                d->editText.pop_back();
        } else if (c >= 0x20) {
            if (d->editLimit && d->editText.size() >= d->editLimit)
                return 0;
            d->editText += c;
        } else {
            return 0;
        }
        InvalidateRect(hwnd, nullptr, TRUE);
        NotifyParent(hwnd, CBN_EDITUPDATE);
        NotifyParent(hwnd, CBN_EDITCHANGE);
        return 0;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
        NoteKeyMessage(msg, wParam);
        if (msg == WM_KEYUP)
            return 0;
        switch (wParam) {
        case VK_DOWN:
            if (GetKeyState(VK_MENU) < 0) {
                ShowDropDown(hwnd, *d, !d->dropped);
                return 0;
            }
            KeySelect(hwnd, *d, d->current < 0 ? 0 : d->current + 1);
            return 0;
        case VK_UP:
            KeySelect(hwnd, *d, d->current < 0 ? 0 : d->current - 1);
            return 0;
        case VK_HOME:
            KeySelect(hwnd, *d, 0);
            return 0;
        case VK_END:
            KeySelect(hwnd, *d, count - 1);
            return 0;
        case 0x73: // F4
            ShowDropDown(hwnd, *d, !d->dropped);
            return 0;
        case VK_RETURN:
            if (d->dropped) {
                NotifyParent(hwnd, CBN_SELENDOK);
                ShowDropDown(hwnd, *d, false);
            }
            return 0;
        case VK_ESCAPE:
            if (d->dropped) {
                NotifyParent(hwnd, CBN_SELENDCANCEL);
                ShowDropDown(hwnd, *d, false);
            }
            return 0;
        default:
            return 0;
        }
    case WM_LBUTTONDOWN:
        if (GetFocus() != hwnd)
            SetFocus(hwnd);
        if ((style & 0x3) != CBS_SIMPLE)
            ShowDropDown(hwnd, *d, !d->dropped);
        return 0;
    case WM_SETFOCUS:
        d->focused = true;
        InvalidateRect(hwnd, nullptr, FALSE);
        NotifyParent(hwnd, CBN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        d->focused = false;
        if (d->dropped) {
            NotifyParent(hwnd, CBN_SELENDCANCEL);
            ShowDropDown(hwnd, *d, false);
        }
        InvalidateRect(hwnd, nullptr, FALSE);
        NotifyParent(hwnd, CBN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace platform::ui::stdctl
