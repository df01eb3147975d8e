// The "Button" class: push buttons, check boxes (two- and three-state), radio buttons and group boxes.
#include "platform/ui/controls_internal.h"
#include "platform/ui/paint_internal.h"

namespace platform::ui::stdctl {

namespace {

struct ButtonData {
    WPARAM check = BST_UNCHECKED;
    bool pushed = false;
    bool focused = false;
    bool tracking = false; // the left button went down on the control and has not come up
    HANDLE image = nullptr;
    WPARAM imageType = IMAGE_BITMAP;
};

DWORD Type(HWND hwnd) {
    return Style(hwnd) & BS_TYPEMASK;
}

bool IsCheckType(DWORD type) {
    return type == BS_CHECKBOX || type == BS_AUTOCHECKBOX || type == BS_3STATE || type == BS_AUTO3STATE ||
           type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

bool IsRadio(DWORD type) {
    return type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON;
}

void Redraw(HWND hwnd) {
    InvalidateRect(hwnd, nullptr, TRUE);
}

void SetCheck(HWND hwnd, ButtonData& d, WPARAM check) {
    const DWORD type = Type(hwnd);
    if (!IsCheckType(type))
        return;
    if (check > BST_INDETERMINATE)
        check = BST_CHECKED;
    if (check == BST_INDETERMINATE && type != BS_3STATE && type != BS_AUTO3STATE)
        check = BST_CHECKED;
    if (d.check != check) {
        d.check = check;
        Redraw(hwnd);
    }
    // A checked radio button is the tab stop of its group.
    if (IsRadio(type)) {
        const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        const LONG wanted = check ? (style | static_cast<LONG>(WS_TABSTOP)) : (style & ~static_cast<LONG>(WS_TABSTOP));
        if (wanted != style)
            SetWindowLongW(hwnd, GWL_STYLE, wanted);
    }
}

// What a completed click does: the automatic styles change their own state, then the parent hears BN_CLICKED.
void Clicked(HWND hwnd) {
    ButtonData* d = GetData<ButtonData>(hwnd);
    if (!d)
        return;
    switch (Type(hwnd)) {
    case BS_AUTOCHECKBOX:
        SetCheck(hwnd, *d, d->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
        break;
    case BS_AUTO3STATE:
        // Unchecked, checked, indeterminate, unchecked again.
        SetCheck(hwnd, *d,
                 d->check == BST_UNCHECKED ? BST_CHECKED
                 : d->check == BST_CHECKED ? BST_INDETERMINATE
                                           : BST_UNCHECKED);
        break;
    case BS_AUTORADIOBUTTON:
        SetCheck(hwnd, *d, BST_CHECKED);
        UncheckGroupRadios(hwnd);
        break;
    default:
        break;
    }
    NotifyParent(hwnd, BN_CLICKED);
}

void SetPushed(HWND hwnd, ButtonData& d, bool pushed) {
    if (d.pushed == pushed)
        return;
    d.pushed = pushed;
    Redraw(hwnd);
    if (Style(hwnd) & BS_NOTIFY)
        NotifyParent(hwnd, pushed ? BN_HILITE : BN_UNHILITE);
}

bool PointInClient(HWND hwnd, LPARAM lParam) {
    RECT rc;
    GetClientRect(hwnd, &rc);
    const int x = static_cast<SHORT>(LOWORD(lParam)), y = static_cast<SHORT>(HIWORD(lParam));
    return x >= rc.left && x < rc.right && y >= rc.top && y < rc.bottom;
}

} // namespace

LRESULT CALLBACK ButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateData<ButtonData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    ButtonData* d = GetData<ButtonData>(hwnd);
    if (msg == WM_NCDESTROY) {
        DestroyData<ButtonData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (!d)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    const DWORD type = Type(hwnd);
    LRESULT common = 0;
    if (paint::HandleFontAndPaint(hwnd, msg, wParam, lParam, common))
        return common;
    switch (msg) {
    case WM_GETDLGCODE:
        switch (type) {
        case BS_DEFPUSHBUTTON:
            return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
        case BS_PUSHBUTTON:
        case BS_PUSHBOX:
        case BS_USERBUTTON:
        case BS_OWNERDRAW:
            return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        case BS_RADIOBUTTON:
        case BS_AUTORADIOBUTTON:
            return DLGC_BUTTON | DLGC_RADIOBUTTON;
        case BS_GROUPBOX:
            return DLGC_STATIC;
        default:
            return DLGC_BUTTON;
        }
    case BM_GETCHECK:
        return IsCheckType(type) ? static_cast<LRESULT>(d->check) : 0;
    case BM_SETCHECK:
        SetCheck(hwnd, *d, wParam);
        return 0;
    case BM_GETSTATE:
        return static_cast<LRESULT>((IsCheckType(type) ? d->check : 0) | (d->pushed ? BST_PUSHED : 0) |
                                    (d->focused ? BST_FOCUS : 0));
    case BM_SETSTATE:
        SetPushed(hwnd, *d, wParam != 0);
        return 0;
    case BM_SETSTYLE: {
        const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
        SetWindowLongW(hwnd, GWL_STYLE,
                       (style & ~static_cast<LONG>(0xFFFF)) | static_cast<LONG>(LOWORD(static_cast<DWORD>(wParam))));
        if (lParam)
            Redraw(hwnd);
        return 0;
    }
    case BM_CLICK:
        // As a click by the user: nothing happens on a disabled or hidden button.
        if (!IsWindowEnabled(hwnd) || !IsWindowVisible(hwnd))
            return 0;
        SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, 0);
        SendMessageW(hwnd, WM_LBUTTONUP, 0, 0);
        return 0;
    case BM_GETIMAGE:
        return wParam == d->imageType ? reinterpret_cast<LRESULT>(d->image) : 0;
    case BM_SETIMAGE: {
        if (wParam != IMAGE_BITMAP && wParam != IMAGE_ICON)
            return 0;
        HANDLE old = d->imageType == wParam ? d->image : nullptr;
        d->image = reinterpret_cast<HANDLE>(lParam);
        d->imageType = wParam;
        Redraw(hwnd);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_LBUTTONDBLCLK:
        if ((Style(hwnd) & BS_NOTIFY) || type == BS_USERBUTTON || type == BS_RADIOBUTTON || type == BS_OWNERDRAW) {
            NotifyParent(hwnd, BN_DOUBLECLICKED);
            return 0;
        }
        [[fallthrough]];
    case WM_LBUTTONDOWN:
        if (type == BS_GROUPBOX)
            return 0;
        if (GetFocus() != hwnd)
            SetFocus(hwnd);
        SetCapture(hwnd);
        d->tracking = true;
        SetPushed(hwnd, *d, true);
        return 0;
    case WM_MOUSEMOVE:
        if (d->tracking)
            SetPushed(hwnd, *d, PointInClient(hwnd, lParam));
        return 0;
    case WM_LBUTTONUP: {
        if (!d->tracking)
            return 0;
        d->tracking = false;
        const bool inside = PointInClient(hwnd, lParam);
        SetPushed(hwnd, *d, false);
        if (GetCapture() == hwnd)
            ReleaseCapture();
        if (inside)
            Clicked(hwnd);
        return 0;
    }
    case WM_CANCELMODE:
    case kWmCaptureChanged:
        if (d->tracking) {
            d->tracking = false;
            SetPushed(hwnd, *d, false);
        }
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_KEYDOWN:
        if (wParam == VK_SPACE && type != BS_GROUPBOX) {
            d->tracking = true;
            SetPushed(hwnd, *d, true);
            return 0;
        }
        break;
    case WM_KEYUP:
        if (wParam == VK_SPACE && d->tracking) {
            d->tracking = false;
            SetPushed(hwnd, *d, false);
            Clicked(hwnd);
            return 0;
        }
        break;
    case WM_CHAR:
        if (wParam == u' ')
            return 0;
        break;
    case WM_SETFOCUS:
        d->focused = true;
        Redraw(hwnd);
        if (Style(hwnd) & BS_NOTIFY)
            NotifyParent(hwnd, BN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        d->focused = false;
        if (d->tracking) {
            d->tracking = false;
            SetPushed(hwnd, *d, false);
        }
        Redraw(hwnd);
        if (Style(hwnd) & BS_NOTIFY)
            NotifyParent(hwnd, BN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        Redraw(hwnd);
        if (!wParam && (Style(hwnd) & BS_NOTIFY))
            NotifyParent(hwnd, BN_DISABLE);
        return 0;
    case WM_SETTEXT: {
        const LRESULT r = DefWindowProcW(hwnd, msg, wParam, lParam);
        Redraw(hwnd);
        return r;
    }
    case WM_NCHITTEST:
        if (type == BS_GROUPBOX)
            return HTTRANSPARENT;
        break;
    case WM_ERASEBKGND:
        return 1;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

} // namespace platform::ui::stdctl
