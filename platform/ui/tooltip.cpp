// The tooltip control: tools (a rectangle of a window, or a whole window) with their texts. Mouse messages that the
// owner relays start the initial delay; when it has passed over the same tool the tip shows (its window text is the
// tool's text) and TTN_SHOW goes to the tool's window; moving off the tool, a button or TTM_POP hides it (TTN_POP).
#include "platform/ui/commctrl_internal.h"
#include "platform/ui/timer.h"

#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/res/resources.h"

#include <algorithm>
#include <vector>

namespace platform::ui::controls {
namespace {

constexpr UINT_PTR kShowTimer = 1;
// The smallest TOOLINFOW the control accepts: the record without lParam and the reserved pointer.
constexpr UINT kMinToolInfoSize = static_cast<UINT>(offsetof(TTTOOLINFOW, lParam));

struct Tool {
    UINT flags = 0;
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    RECT rect{};
    HINSTANCE instance = nullptr;
    std::u16string text;
    bool callback = false;
    LPARAM param = 0;
};

struct Tooltip {
    HWND hwnd = nullptr;
    std::vector<Tool> tools;
    bool active = true;
    int maxWidth = -1;
    UINT initial = 500, autopop = 5000, reshow = 100;
    int current = -1; // the tool under the mouse
    bool shown = false;
    std::u16string title;

    int Find(const TTTOOLINFOW* info) const {
        if (!info)
            return -1;
        for (size_t i = 0; i < tools.size(); ++i)
            if (tools[i].hwnd == info->hwnd && tools[i].id == info->uId)
                return static_cast<int>(i);
        return -1;
    }

    static bool Valid(const TTTOOLINFOW* info) { return info && info->cbSize >= kMinToolInfoSize; }

    static void SetText(Tool& tool, const TTTOOLINFOW& info) {
        tool.callback = info.lpszText == LPSTR_TEXTCALLBACKW;
        tool.instance = info.hinst;
        if (tool.callback) {
            tool.text.clear();
        } else if (info.hinst && IS_INTRESOURCE(info.lpszText) && info.lpszText) {
            WCHAR buffer[1024] = {};
            LoadStringW(info.hinst, static_cast<UINT>(reinterpret_cast<ULONG_PTR>(info.lpszText)), buffer, 1024);
            tool.text = buffer;
        } else {
            tool.text = controls::TextOf(IS_INTRESOURCE(info.lpszText) ? nullptr : info.lpszText);
        }
    }

    void Fill(const Tool& tool, TTTOOLINFOW& info) const {
        info.uFlags = tool.flags;
        info.hwnd = tool.hwnd;
        info.uId = tool.id;
        info.rect = tool.rect;
        info.hinst = tool.instance;
        if (info.cbSize >= sizeof(TTTOOLINFOW) - sizeof(void*))
            info.lParam = tool.param;
        if (info.lpszText && info.lpszText != LPSTR_TEXTCALLBACKW && !IS_INTRESOURCE(info.lpszText))
            CopyOut(tool.text, info.lpszText, 80);
    }

    std::u16string TextOfTool(const Tool& tool) {
        if (!tool.callback)
            return tool.text;
        NMTTDISPINFOW di{};
        di.hdr.hwndFrom = hwnd;
        di.hdr.idFrom = tool.id;
        di.hdr.code = TTN_GETDISPINFOW;
        di.uFlags = tool.flags;
        di.lParam = tool.param;
        HWND target = (tool.flags & TTF_IDISHWND) ? GetParent(reinterpret_cast<HWND>(tool.id)) : tool.hwnd;
        if (!target)
            target = tool.hwnd;
        SendMessageW(target, WM_NOTIFY, tool.id, reinterpret_cast<LPARAM>(&di));
        if (di.hinst && IS_INTRESOURCE(di.lpszText) && di.lpszText) {
            WCHAR buffer[1024] = {};
            LoadStringW(di.hinst, static_cast<UINT>(reinterpret_cast<ULONG_PTR>(di.lpszText)), buffer, 1024);
            return buffer;
        }
        if (di.lpszText && !IS_INTRESOURCE(di.lpszText))
            return di.lpszText;
        return di.szText;
    }

    // The tool under a point of the given window.
    int Hit(HWND window, POINT pt) const {
        for (size_t i = 0; i < tools.size(); ++i) {
            const Tool& t = tools[i];
            if (t.flags & TTF_IDISHWND) {
                if (reinterpret_cast<HWND>(t.id) == window)
                    return static_cast<int>(i);
            } else if (t.hwnd == window && pt.x >= t.rect.left && pt.x < t.rect.right && pt.y >= t.rect.top &&
                       pt.y < t.rect.bottom) {
                return static_cast<int>(i);
            }
        }
        return -1;
    }

    void NotifyTool(UINT code, const Tool& tool) {
        NMHDR hdr{hwnd, tool.id, code};
        HWND target = tool.hwnd ? tool.hwnd : GetParent(hwnd);
        if (target)
            SendMessageW(target, WM_NOTIFY, tool.id, reinterpret_cast<LPARAM>(&hdr));
    }

    void Hide() {
        KillTimer(hwnd, kShowTimer);
        if (shown && current >= 0 && current < static_cast<int>(tools.size())) {
            shown = false;
            ShowWindow(hwnd, SW_HIDE);
            NotifyTool(TTN_POP, tools[static_cast<size_t>(current)]);
        }
        shown = false;
    }

    void Show() {
        KillTimer(hwnd, kShowTimer);
        if (!active || current < 0 || current >= static_cast<int>(tools.size()))
            return;
        const Tool tool = tools[static_cast<size_t>(current)];
        const std::u16string text = TextOfTool(tool);
        if (text.empty())
            return;
        SetWindowTextW(hwnd, text.c_str());
        // Beside the mouse, as wide as the text (at most the maximum tip width when one is set).
        POINT cursor{};
        GetCursorPos(&cursor);
        int width = MeasureLabel(nullptr, text) + 6;
        if (maxWidth > 0)
            width = std::min(width, maxWidth);
        SetWindowPos(hwnd, HWND_TOPMOST, cursor.x, cursor.y + 20, width, 20, SWP_NOACTIVATE);
        NotifyTool(TTN_SHOW, tool);
        shown = true;
        ShowWindow(hwnd, SW_SHOWNOACTIVATE);
    }

    void Relay(const MSG* msg) {
        if (!msg || !active)
            return;
        switch (msg->message) {
        case WM_MOUSEMOVE: {
            const int hit = Hit(msg->hwnd, PointFromLParam(msg->lParam));
            if (hit != current) {
                Hide();
                current = hit;
                if (hit >= 0)
                    SetTimer(hwnd, kShowTimer, initial, nullptr);
            }
            break;
        }
        case WM_LBUTTONDOWN:
        case WM_RBUTTONDOWN:
        case WM_MBUTTONDOWN:
        case WM_LBUTTONUP:
        case WM_RBUTTONUP:
        case WM_MBUTTONUP:
            Hide();
            current = -1;
            break;
        default:
            break;
        }
    }
};

LRESULT CALLBACK TooltipProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        CreateState<Tooltip>(hwnd)->hwnd = hwnd;
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    Tooltip* tt = StateOf<Tooltip>(hwnd);
    if (!tt)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    switch (msg) {
    case WM_NCDESTROY:
        DestroyState<Tooltip>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        // The tip's text on the tooltip colour inside a thin frame.
        ControlPaint paint(hwnd, wParam);
        if (HDC dc = paint.dc()) {
            paint.UseFont(nullptr);
            RECT rc{};
            GetClientRect(hwnd, &rc);
            FillColor(dc, rc, GetSysColor(COLOR_INFOBK));
            FrameRect(dc, &rc, GetSysColorBrush(COLOR_WINDOWFRAME));
            WCHAR text[1024] = {};
            GetWindowTextW(hwnd, text, 1024);
            DrawLabel(dc, text, RECT{rc.left + 2, rc.top, rc.right - 2, rc.bottom}, GetSysColor(COLOR_INFOTEXT));
        }
        return 0;
    }
    case WM_ERASEBKGND:
        return 1;
    case WM_TIMER:
        if (wParam == kShowTimer)
            tt->Show();
        return 0;
    case TTM_ADDTOOLW: {
        auto* info = reinterpret_cast<const TTTOOLINFOW*>(lParam);
        if (!Tooltip::Valid(info))
            return FALSE;
        Tool tool;
        tool.flags = info->uFlags;
        tool.hwnd = info->hwnd;
        tool.id = info->uId;
        tool.rect = info->rect;
        if (info->cbSize >= sizeof(TTTOOLINFOW) - sizeof(void*))
            tool.param = info->lParam;
        Tooltip::SetText(tool, *info);
        const int existing = tt->Find(info);
        if (existing >= 0)
            tt->tools[static_cast<size_t>(existing)] = std::move(tool);
        else
            tt->tools.push_back(std::move(tool));
        return TRUE;
    }
    case TTM_DELTOOLW: {
        const int index = tt->Find(reinterpret_cast<const TTTOOLINFOW*>(lParam));
        if (index >= 0) {
            if (index == tt->current) {
                tt->Hide();
                tt->current = -1;
            } else if (index < tt->current) {
                --tt->current;
            }
            tt->tools.erase(tt->tools.begin() + index);
        }
        return 0;
    }
    case TTM_UPDATETIPTEXTW: {
        auto* info = reinterpret_cast<const TTTOOLINFOW*>(lParam);
        const int index = tt->Find(info);
        if (index >= 0) {
            Tooltip::SetText(tt->tools[static_cast<size_t>(index)], *info);
            if (index == tt->current && tt->shown)
                SetWindowTextW(hwnd, tt->TextOfTool(tt->tools[static_cast<size_t>(index)]).c_str());
        }
        return 0;
    }
    case TTM_NEWTOOLRECTW: {
        auto* info = reinterpret_cast<const TTTOOLINFOW*>(lParam);
        const int index = tt->Find(info);
        if (index >= 0)
            tt->tools[static_cast<size_t>(index)].rect = info->rect;
        return 0;
    }
    case TTM_GETTOOLINFOW:
    case TTM_SETTOOLINFOW: {
        auto* info = reinterpret_cast<TTTOOLINFOW*>(lParam);
        const int index = tt->Find(info);
        if (index < 0)
            return FALSE;
        Tool& tool = tt->tools[static_cast<size_t>(index)];
        if (msg == TTM_GETTOOLINFOW) {
            tt->Fill(tool, *info);
        } else {
            tool.flags = info->uFlags;
            tool.rect = info->rect;
            Tooltip::SetText(tool, *info);
        }
        return TRUE;
    }
    case TTM_GETTEXTW: {
        auto* info = reinterpret_cast<TTTOOLINFOW*>(lParam);
        const int index = tt->Find(info);
        if (index < 0 || !info->lpszText)
            return 0;
        const std::u16string text = tt->TextOfTool(tt->tools[static_cast<size_t>(index)]);
        CopyOut(text, info->lpszText, wParam ? static_cast<int>(wParam) : 80);
        return lstrlenW(info->lpszText);
    }
    case TTM_GETTOOLCOUNT:
        return static_cast<LRESULT>(tt->tools.size());
    case TTM_ENUMTOOLSW: {
        auto* info = reinterpret_cast<TTTOOLINFOW*>(lParam);
        const size_t index = wParam;
        if (!info || index >= tt->tools.size())
            return FALSE;
        tt->Fill(tt->tools[index], *info);
        return TRUE;
    }
    case TTM_GETCURRENTTOOLW: {
        if (tt->current < 0 || !tt->shown)
            return FALSE;
        if (auto* info = reinterpret_cast<TTTOOLINFOW*>(lParam))
            tt->Fill(tt->tools[static_cast<size_t>(tt->current)], *info);
        return TRUE;
    }
    case TTM_ACTIVATE:
        tt->active = wParam != 0;
        if (!tt->active) {
            tt->Hide();
            tt->current = -1;
        }
        return 0;
    case TTM_RELAYEVENT:
        tt->Relay(reinterpret_cast<const MSG*>(lParam));
        return 0;
    case TTM_POP:
        tt->Hide();
        return 0;
    case TTM_UPDATE:
        if (tt->shown && tt->current >= 0)
            SetWindowTextW(hwnd, tt->TextOfTool(tt->tools[static_cast<size_t>(tt->current)]).c_str());
        return 0;
    case TTM_SETMAXTIPWIDTH: {
        const int old = tt->maxWidth;
        tt->maxWidth = static_cast<int>(lParam);
        return old;
    }
    case TTM_GETMAXTIPWIDTH:
        return tt->maxWidth;
    case TTM_SETDELAYTIME: {
        const int value = static_cast<SHORT>(LOWORD(lParam));
        switch (wParam) {
        case TTDT_AUTOMATIC:
            tt->initial = value < 0 ? 500 : static_cast<UINT>(value);
            tt->autopop = tt->initial * 10;
            tt->reshow = tt->initial / 5;
            break;
        case TTDT_INITIAL:
            tt->initial = value < 0 ? 500 : static_cast<UINT>(value);
            break;
        case TTDT_AUTOPOP:
            tt->autopop = value < 0 ? 5000 : static_cast<UINT>(value);
            break;
        case TTDT_RESHOW:
            tt->reshow = value < 0 ? 100 : static_cast<UINT>(value);
            break;
        default:
            break;
        }
        return 0;
    }
    case TTM_GETDELAYTIME:
        return wParam == TTDT_AUTOPOP ? tt->autopop : wParam == TTDT_RESHOW ? tt->reshow : tt->initial;
    case TTM_SETTITLEW:
        tt->title = lParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string();
        return TRUE;
    default:
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
}

} // namespace

void RegisterTooltip() {
    RegisterControlClass(TOOLTIPS_CLASSW, TooltipProc);
}

} // namespace platform::ui::controls
