// The IP address control: four fields, each blank or a number within its range.
#include "platform/ui/commctrl_internal.h"

#include "platform/gdi/wingdi.h"
#include "platform/ui/controls.h"

#include <algorithm>
#include <array>
#include <string>

namespace platform::ui::controls {
namespace {

struct IpAddress {
    std::array<int, 4> value{-1, -1, -1, -1}; // -1: blank
    std::array<int, 4> low{0, 0, 0, 0};
    std::array<int, 4> high{255, 255, 255, 255};
    int field = 0;       // the field that takes typed digits
    bool typing = false; // digits typed into the current field since it was entered

    std::u16string Text() const {
        std::u16string text;
        for (int i = 0; i < 4; ++i) {
            if (i)
                text += u'.';
            if (value[i] >= 0)
                for (char c : std::to_string(value[i]))
                    text += static_cast<char16_t>(c);
        }
        return text;
    }
};

void NotifyChange(HWND hwnd) {
    if (HWND parent = GetParent(hwnd))
        SendMessageW(parent, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(hwnd), EN_CHANGE), reinterpret_cast<LPARAM>(hwnd));
}

// Clamps the field into its range, telling the parent what the field holds when it leaves it.
void LeaveField(HWND hwnd, IpAddress& ip, int field) {
    NMIPADDRESS nm{};
    nm.iField = field;
    nm.iValue = ip.value[field];
    Notify(hwnd, nm.hdr, IPN_FIELDCHANGED);
    // The parent may change the value it is told about; what it leaves is kept within the range.
    if (nm.iValue >= 0)
        ip.value[field] = std::clamp(nm.iValue, ip.low[field], ip.high[field]);
    else
        ip.value[field] = -1;
}

void Enter(HWND hwnd, IpAddress& ip, int field) {
    if (field == ip.field)
        return;
    LeaveField(hwnd, ip, ip.field);
    ip.field = std::clamp(field, 0, 3);
    ip.typing = false;
    InvalidateRect(hwnd, nullptr, FALSE);
}

bool SetText(IpAddress& ip, const std::u16string& text) {
    std::array<int, 4> parsed{-1, -1, -1, -1};
    int field = 0;
    for (char16_t c : text) {
        if (c == u'.') {
            if (++field > 3)
                return false;
        } else if (c >= u'0' && c <= u'9') {
            parsed[field] = (parsed[field] < 0 ? 0 : parsed[field]) * 10 + (c - u'0');
            if (parsed[field] > 999)
                return false;
        } else if (c != u' ') {
            return false;
        }
    }
    for (int i = 0; i < 4; ++i)
        ip.value[i] = parsed[i] < 0 ? -1 : std::clamp(parsed[i], ip.low[i], ip.high[i]);
    return true;
}

LRESULT CALLBACK IpAddressProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<IpAddress>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    IpAddress* ip = StateOf<IpAddress>(hwnd);
    if (!ip)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<IpAddress>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case IPM_CLEARADDRESS:
        ip->value = {-1, -1, -1, -1};
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case IPM_SETADDRESS: {
        const DWORD address = static_cast<DWORD>(lParam);
        const int bytes[4] = {static_cast<int>(FIRST_IPADDRESS(address)), static_cast<int>(SECOND_IPADDRESS(address)),
                              static_cast<int>(THIRD_IPADDRESS(address)), static_cast<int>(FOURTH_IPADDRESS(address))};
        for (int i = 0; i < 4; ++i)
            ip->value[i] = std::clamp(bytes[i], ip->low[i], ip->high[i]);
        InvalidateRect(hwnd, nullptr, FALSE);
        return TRUE;
    }
    case IPM_GETADDRESS: {
        DWORD address = 0;
        int filled = 0;
        for (int i = 0; i < 4; ++i) {
            address = (address << 8) | static_cast<DWORD>(ip->value[i] < 0 ? 0 : ip->value[i]);
            filled += ip->value[i] >= 0;
        }
        if (auto* out = reinterpret_cast<DWORD*>(lParam))
            *out = address;
        return filled;
    }
    case IPM_SETRANGE: {
        if (wParam > 3)
            return FALSE;
        const int low = LOBYTE(LOWORD(lParam)), high = HIBYTE(LOWORD(lParam));
        if (low > high)
            return FALSE;
        ip->low[wParam] = low;
        ip->high[wParam] = high;
        if (ip->value[wParam] >= 0)
            ip->value[wParam] = std::clamp(ip->value[wParam], low, high);
        return TRUE;
    }
    case IPM_SETFOCUS:
        SetFocus(hwnd);
        Enter(hwnd, *ip, wParam > 3 ? 0 : static_cast<int>(wParam));
        return 0;
    case IPM_ISBLANK:
        return std::all_of(ip->value.begin(), ip->value.end(), [](int v) { return v < 0; });
    case WM_SETTEXT: {
        const bool ok = SetText(*ip, TextOf(reinterpret_cast<LPCWSTR>(lParam)));
        InvalidateRect(hwnd, nullptr, FALSE);
        DefWindowProcW(hwnd, msg, wParam, lParam);
        return ok;
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(ip->Text().size());
    case WM_GETTEXT: {
        const std::u16string text = ip->Text();
        CopyOut(text, reinterpret_cast<LPWSTR>(lParam), static_cast<int>(wParam));
        return wParam ? static_cast<LRESULT>(std::min(text.size(), static_cast<size_t>(wParam - 1))) : 0;
    }
    case WM_GETDLGCODE:
        return DLGC_WANTCHARS;
    case WM_KILLFOCUS:
        LeaveField(hwnd, *ip, ip->field);
        return 0;
    case WM_CHAR: {
        if (!IsWindowEnabled(hwnd))
            return 0;
        const char16_t c = static_cast<char16_t>(wParam);
        if (c >= u'0' && c <= u'9') {
            int& v = ip->value[ip->field];
            v = (!ip->typing || v < 0) ? (c - u'0') : v * 10 + (c - u'0');
            ip->typing = true;
            if (v > ip->high[ip->field]) {
                v = ip->high[ip->field];
                LeaveField(hwnd, *ip, ip->field);
            }
            NotifyChange(hwnd);
            if (v >= 100 || v * 10 > 255)
                Enter(hwnd, *ip, std::min(ip->field + 1, 3));
        } else if (c == u'.' || c == u' ') {
            if (ip->typing)
                Enter(hwnd, *ip, std::min(ip->field + 1, 3));
        } else if (c == static_cast<char16_t>(VK_BACK)) {
            int& v = ip->value[ip->field];
            if (v >= 0) {
                v = v >= 10 ? v / 10 : -1;
                ip->typing = v >= 0;
                NotifyChange(hwnd);
            } else if (ip->field > 0) {
                Enter(hwnd, *ip, ip->field - 1);
            }
        }
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    }
    case WM_LBUTTONDOWN: {
        SetFocus(hwnd);
        RECT rc{};
        GetClientRect(hwnd, &rc);
        const int width = std::max<int>(1, rc.right - rc.left);
        Enter(hwnd, *ip, std::clamp(static_cast<int>(PointFromLParam(lParam).x * 4 / width), 0, 3));
        return 0;
    }
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        // A sunken field with the four numbers spaced evenly and dots between them.
        ControlPaint paint(hwnd, wParam);
        if (HDC dc = paint.dc()) {
            RECT rc{};
            GetClientRect(hwnd, &rc);
            const bool enabled = IsWindowEnabled(hwnd);
            FillColor(dc, rc, GetSysColor(enabled ? COLOR_WINDOW : COLOR_BTNFACE));
            RECT edge = rc;
            DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT);
            paint.UseFont(reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
            const COLORREF color = GetSysColor(enabled ? COLOR_WINDOWTEXT : COLOR_GRAYTEXT);
            const int width = (rc.right - rc.left) / 4;
            for (int i = 0; i < 4; ++i) {
                RECT cell{rc.left + i * width, rc.top, rc.left + (i + 1) * width, rc.bottom};
                std::u16string number;
                if (ip->value[i] >= 0)
                    for (char ch : std::to_string(ip->value[i]))
                        number += static_cast<char16_t>(ch);
                DrawLabel(dc, number, cell, color, DT_CENTER);
                if (i < 3) {
                    RECT dot{cell.right - 3, rc.top, cell.right + 3, rc.bottom};
                    DrawLabel(dc, u".", dot, color, DT_CENTER);
                }
            }
        }
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterIpAddress() {
    RegisterControlClass(WC_IPADDRESSW, IpAddressProc);
}

} // namespace platform::ui::controls
