// The up-down control: a position in a range, stepped by its arrows (held down they repeat and accelerate) and by
// the arrow keys, with an optional buddy window that shows the position and from which it is read back.
#include "platform/base/clock.h"
#include "platform/base/format.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/scrollbar.h"
#include "platform/ui/timer.h"

#include <algorithm>
#include <climits>
#include <string>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr UINT_PTR kRepeatTimer = 1;
constexpr UINT kFirstRepeatMs = 500;
constexpr UINT kRepeatMs = 100;
// The buddy's properties while the up-down control takes its arrow keys.
constexpr const char16_t* kBuddyProcProp = u"UpDownBuddyProc";
constexpr const char16_t* kBuddyOwnerProp = u"UpDownBuddyOwner";

enum class Arrow { none, up, down };

struct UpDown {
    HWND hwnd = nullptr;
    HWND buddy = nullptr;
    int lower = 100; // as on Windows, a new control runs from 100 down to 0
    int upper = 0;
    int pos = 0;
    int base = 10;
    std::vector<UDACCEL> accels{{0, 1}, {2, 5}, {5, 20}};
    Arrow pressed = Arrow::none;
    DWORD pressTick = 0;

    DWORD Style() const { return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE)); }
    int Low() const { return std::min(lower, upper); }
    int High() const { return std::max(lower, upper); }
    bool InRange(long long value) const { return value >= Low() && value <= High(); }
    int Clamp(long long value) const { return static_cast<int>(std::clamp<long long>(value, Low(), High())); }

    // The step for an arrow held since the press: the increment of the last entry whose time has passed.
    int Step() const {
        const UINT seconds = (GetTickCount() - pressTick) / 1000;
        int step = 1;
        for (const UDACCEL& a : accels)
            if (a.nSec <= seconds)
                step = static_cast<int>(a.nInc);
        return step;
    }

    std::u16string Text(int value) const {
        if (base == 16) {
            WCHAR buffer[16];
            wsprintfW(buffer, u"0x%04X", static_cast<unsigned>(value));
            return buffer;
        }
        std::u16string digits;
        unsigned long long magnitude =
            value < 0 ? 0ull - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
        int count = 0;
        const bool group = !(Style() & UDS_NOTHOUSANDS);
        do {
            if (group && count && count % 3 == 0)
                digits.insert(digits.begin(), u',');
            digits.insert(digits.begin(), static_cast<char16_t>(u'0' + magnitude % 10));
            magnitude /= 10;
            ++count;
        } while (magnitude);
        if (value < 0)
            digits.insert(digits.begin(), u'-');
        return digits;
    }

    // The number in the buddy's text (thousands separators and blanks ignored); false when it is none.
    bool ReadBuddy(long long& value) const {
        if (!buddy || !IsWindow(buddy))
            return false;
        WCHAR buffer[64] = {};
        GetWindowTextW(buddy, buffer, 64);
        std::u16string text(buffer);
        std::erase_if(text, [](char16_t c) { return c == u',' || c == u' '; });
        if (text.empty())
            return false;
        size_t i = 0;
        bool negative = false;
        if (text[0] == u'-' || text[0] == u'+') {
            negative = text[0] == u'-';
            ++i;
        }
        int radix = 10;
        if (base == 16 && text.size() >= i + 2 && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
            radix = 16;
            i += 2;
        } else if (base == 16) {
            radix = 16;
        }
        if (i >= text.size())
            return false;
        long long result = 0;
        for (; i < text.size(); ++i) {
            const char16_t c = text[i];
            int digit = -1;
            if (c >= u'0' && c <= u'9')
                digit = c - u'0';
            else if (radix == 16 && c >= u'a' && c <= u'f')
                digit = c - u'a' + 10;
            else if (radix == 16 && c >= u'A' && c <= u'F')
                digit = c - u'A' + 10;
            if (digit < 0)
                return false;
            result = result * radix + digit;
            if (result > INT_MAX)
                return false;
        }
        value = negative ? -result : result;
        return true;
    }

    // With UDS_SETBUDDYINT the buddy's text is the position; false (position unchanged) when it holds no number
    // in the range.
    bool SyncFromBuddy() {
        if (!(Style() & UDS_SETBUDDYINT))
            return true;
        long long value = 0;
        if (!ReadBuddy(value) || !InRange(value))
            return false;
        pos = static_cast<int>(value);
        return true;
    }

    void ShowInBuddy() {
        if ((Style() & UDS_SETBUDDYINT) && buddy && IsWindow(buddy))
            SetWindowTextW(buddy, Text(pos).c_str());
    }

    void Tell(WORD code) {
        if (HWND parent = GetParent(hwnd))
            SendMessageW(parent, (Style() & UDS_HORZ) ? WM_HSCROLL : WM_VSCROLL, MAKEWPARAM(code, pos),
                         reinterpret_cast<LPARAM>(hwnd));
    }

    // One step of an arrow: the parent may change or refuse it; a change of the position is shown and told.
    void StepBy(Arrow arrow) {
        SyncFromBuddy();
        const int towardsUpper = upper >= lower ? 1 : -1;
        NMUPDOWN nm{};
        nm.iPos = pos;
        nm.iDelta = Step() * (arrow == Arrow::up ? towardsUpper : -towardsUpper);
        if (Notify(hwnd, nm.hdr, UDN_DELTAPOS))
            return;
        long long next = static_cast<long long>(pos) + nm.iDelta;
        if (!InRange(next)) {
            if (Style() & UDS_WRAP)
                next = next > High() ? Low() : High();
            else
                next = Clamp(next);
        }
        if (next == pos)
            return;
        pos = static_cast<int>(next);
        ShowInBuddy();
        InvalidateRect(hwnd, nullptr, FALSE);
        Tell(SB_THUMBPOSITION);
    }

    Arrow ArrowAt(POINT pt) const {
        RECT rc{};
        GetClientRect(hwnd, &rc);
        if (Style() & UDS_HORZ)
            return pt.x >= rc.right / 2 ? Arrow::up : Arrow::down;
        return pt.y < rc.bottom / 2 ? Arrow::up : Arrow::down;
    }

    void Press(Arrow arrow) {
        pressed = arrow;
        pressTick = GetTickCount();
        StepBy(arrow);
        SetTimer(hwnd, kRepeatTimer, kFirstRepeatMs, nullptr);
    }
    void Release() {
        if (pressed == Arrow::none)
            return;
        pressed = Arrow::none;
        KillTimer(hwnd, kRepeatTimer);
        InvalidateRect(hwnd, nullptr, FALSE);
        Tell(SB_ENDSCROLL);
    }
    void Key(WPARAM key) {
        const bool horizontal = Style() & UDS_HORZ;
        const WPARAM upKey = static_cast<WPARAM>(horizontal ? VK_RIGHT : VK_UP);
        const WPARAM downKey = static_cast<WPARAM>(horizontal ? VK_LEFT : VK_DOWN);
        const Arrow arrow = key == upKey ? Arrow::up : key == downKey ? Arrow::down : Arrow::none;
        if (arrow == Arrow::none)
            return;
        if (pressed != arrow) {
            pressed = arrow;
            pressTick = GetTickCount();
        }
        StepBy(arrow);
    }

    void Align() {
        const DWORD style = Style();
        if (!buddy || !(style & (UDS_ALIGNRIGHT | UDS_ALIGNLEFT)) || !IsWindow(buddy))
            return;
        HWND parent = GetParent(hwnd);
        RECT own{}, rb{};
        GetWindowRect(hwnd, &own);
        GetWindowRect(buddy, &rb);
        MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rb), 2);
        const int width = own.right - own.left;
        const int height = rb.bottom - rb.top;
        const int buddyWidth = std::max<int>(0, rb.right - rb.left - width);
        if (style & UDS_ALIGNRIGHT) {
            MoveWindow(buddy, rb.left, rb.top, buddyWidth, height, TRUE);
            MoveWindow(hwnd, rb.left + buddyWidth, rb.top, width, height, TRUE);
        } else {
            MoveWindow(buddy, rb.left + width, rb.top, buddyWidth, height, TRUE);
            MoveWindow(hwnd, rb.left, rb.top, width, height, TRUE);
        }
    }

    void UnhookBuddy();
    void SetBuddy(HWND window);
};

LRESULT CALLBACK BuddyProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto old = reinterpret_cast<WNDPROC>(GetPropW(hwnd, kBuddyProcProp));
    HWND owner = reinterpret_cast<HWND>(GetPropW(hwnd, kBuddyOwnerProp));
    if (owner && IsWindow(owner)) {
        if (msg == WM_KEYDOWN && (wParam == VK_UP || wParam == VK_DOWN)) {
            SendMessageW(owner, WM_KEYDOWN, wParam, lParam);
            return 0;
        }
        if (msg == WM_KEYUP && (wParam == VK_UP || wParam == VK_DOWN)) {
            SendMessageW(owner, WM_KEYUP, wParam, lParam);
            return 0;
        }
    }
    if (msg == WM_NCDESTROY) {
        RemovePropW(hwnd, kBuddyProcProp);
        RemovePropW(hwnd, kBuddyOwnerProp);
        if (old)
            SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    }
    return old ? CallWindowProcW(old, hwnd, msg, wParam, lParam) : DefWindowProcW(hwnd, msg, wParam, lParam);
}

void UpDown::UnhookBuddy() {
    if (!buddy || !IsWindow(buddy) || reinterpret_cast<HWND>(GetPropW(buddy, kBuddyOwnerProp)) != hwnd)
        return;
    if (auto old = reinterpret_cast<WNDPROC>(GetPropW(buddy, kBuddyProcProp)))
        SetWindowLongPtrW(buddy, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
    RemovePropW(buddy, kBuddyProcProp);
    RemovePropW(buddy, kBuddyOwnerProp);
}

void UpDown::SetBuddy(HWND window) {
    UnhookBuddy();
    buddy = window && IsWindow(window) ? window : nullptr;
    if (!buddy)
        return;
    if ((Style() & UDS_ARROWKEYS) && !GetPropW(buddy, kBuddyOwnerProp)) {
        const LONG_PTR old = SetWindowLongPtrW(buddy, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BuddyProc));
        SetPropW(buddy, kBuddyProcProp, reinterpret_cast<HANDLE>(old));
        SetPropW(buddy, kBuddyOwnerProp, reinterpret_cast<HANDLE>(hwnd));
    }
    Align();
    ShowInBuddy();
}

void PaintUpDown(UpDown* ud, WPARAM wParam) {
    ControlPaint paint(ud->hwnd, wParam);
    HDC dc = paint.dc();
    if (!dc)
        return;
    RECT rc{};
    GetClientRect(ud->hwnd, &rc);
    const bool horizontal = ud->Style() & UDS_HORZ;
    RECT first = rc, second = rc;
    if (horizontal)
        first.right = second.left = rc.right / 2;
    else
        first.bottom = second.top = rc.bottom / 2;
    // The up arrow is the top (or right) half.
    const RECT up = horizontal ? second : first;
    const RECT down = horizontal ? first : second;
    const bool enabled = IsWindowEnabled(ud->hwnd);
    for (const auto& [box, arrow] : {std::pair{up, Arrow::up}, std::pair{down, Arrow::down}}) {
        RECT edge = box;
        FillColor(dc, edge, GetSysColor(COLOR_BTNFACE));
        DrawEdge(dc, &edge, ud->pressed == arrow ? EDGE_SUNKEN : EDGE_RAISED, BF_RECT);
        // A small triangle pointing its way.
        const int cx = (box.left + box.right) / 2, cy = (box.top + box.bottom) / 2;
        const COLORREF ink = GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT);
        for (int i = 0; i < 3; ++i) {
            RECT line{};
            if (horizontal) {
                const int x = arrow == Arrow::up ? cx - 1 + i : cx + 1 - i;
                line = RECT{x, cy - (2 - i), x + 1, cy + (2 - i) + 1};
            } else {
                const int y = arrow == Arrow::up ? cy - 1 + i : cy + 1 - i;
                line = RECT{cx - i, y, cx + i + 1, y + 1};
            }
            FillColor(dc, line, ink);
        }
    }
}

LRESULT CALLBACK UpDownProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<UpDown>(hwnd)->hwnd = hwnd;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    UpDown* ud = StateOf<UpDown>(hwnd);
    if (!ud)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_CREATE:
        if (ud->Style() & UDS_AUTOBUDDY)
            ud->SetBuddy(GetWindow(hwnd, GW_HWNDPREV));
        return 0;
    case WM_NCDESTROY:
        ud->UnhookBuddy();
        DestroyState<UpDown>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_GETDLGCODE:
        return kDlgcWantArrows;
    case WM_PAINT:
    case WM_PRINTCLIENT:
        PaintUpDown(ud, wParam);
        return 0;
    case WM_ERASEBKGND:
        return 1;
    case WM_LBUTTONDOWN:
        if (!IsWindowEnabled(hwnd))
            return 0;
        SetCapture(hwnd);
        ud->Press(ud->ArrowAt(PointFromLParam(lParam)));
        return 0;
    case WM_LBUTTONUP:
        if (GetCapture() == hwnd)
            ReleaseCapture();
        ud->Release();
        return 0;
    case WM_CAPTURECHANGED:
        ud->Release();
        return 0;
    case WM_TIMER:
        if (wParam == kRepeatTimer && ud->pressed != Arrow::none) {
            SetTimer(hwnd, kRepeatTimer, kRepeatMs, nullptr);
            ud->StepBy(ud->pressed);
        }
        return 0;
    case WM_KEYDOWN:
        if (ud->Style() & UDS_ARROWKEYS)
            ud->Key(wParam);
        return 0;
    case WM_KEYUP:
        if (ud->pressed != Arrow::none && GetCapture() != hwnd)
            ud->Release();
        return 0;
    case UDM_SETRANGE:
        ud->upper = static_cast<SHORT>(LOWORD(lParam));
        ud->lower = static_cast<SHORT>(HIWORD(lParam));
        return 0;
    case UDM_GETRANGE:
        return MAKELONG(static_cast<WORD>(ud->upper), static_cast<WORD>(ud->lower));
    case UDM_SETRANGE32:
        ud->lower = static_cast<int>(wParam);
        ud->upper = static_cast<int>(lParam);
        return 0;
    case UDM_GETRANGE32:
        if (auto* low = reinterpret_cast<int*>(wParam))
            *low = ud->lower;
        if (auto* high = reinterpret_cast<int*>(lParam))
            *high = ud->upper;
        return 0;
    case UDM_SETPOS:
    case UDM_SETPOS32: {
        ud->SyncFromBuddy();
        const int old = ud->pos;
        const long long wanted = msg == UDM_SETPOS ? static_cast<SHORT>(LOWORD(lParam)) : static_cast<int>(lParam);
        ud->pos = ud->Clamp(wanted);
        ud->ShowInBuddy();
        return msg == UDM_SETPOS ? static_cast<LRESULT>(static_cast<WORD>(old)) : old;
    }
    case UDM_GETPOS: {
        const bool ok = ud->SyncFromBuddy();
        return MAKELONG(static_cast<WORD>(ud->pos), ok ? 0 : 1);
    }
    case UDM_GETPOS32: {
        const bool ok = ud->SyncFromBuddy();
        if (auto* error = reinterpret_cast<BOOL*>(lParam))
            *error = ok ? FALSE : TRUE;
        return ud->pos;
    }
    case UDM_SETBUDDY: {
        HWND old = ud->buddy;
        ud->SetBuddy(reinterpret_cast<HWND>(wParam));
        return reinterpret_cast<LRESULT>(old);
    }
    case UDM_GETBUDDY:
        return reinterpret_cast<LRESULT>(ud->buddy);
    case UDM_SETACCEL: {
        const auto* accels = reinterpret_cast<const UDACCEL*>(lParam);
        if (!accels || wParam == 0)
            return FALSE;
        ud->accels.assign(accels, accels + wParam);
        return TRUE;
    }
    case UDM_GETACCEL: {
        auto* out = reinterpret_cast<UDACCEL*>(lParam);
        const size_t n = std::min<size_t>(wParam, ud->accels.size());
        if (out)
            std::copy_n(ud->accels.begin(), n, out);
        return static_cast<LRESULT>(ud->accels.size());
    }
    case UDM_SETBASE: {
        if (wParam != 10 && wParam != 16)
            return 0;
        const int old = ud->base;
        ud->base = static_cast<int>(wParam);
        ud->ShowInBuddy();
        return old;
    }
    case UDM_GETBASE:
        return ud->base;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterUpDown() {
    RegisterControlClass(UPDOWN_CLASSW, UpDownProc);
}

} // namespace platform::ui::controls
