#include "platform/ui/dialog.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/res/resources.h"
#include "platform/res/templates.h"
#include "platform/ui/controls_internal.h"
#include "platform/ui/dialog_internal.h"
#include "platform/ui/input.h"
#include "platform/ui/menu.h"
#include "platform/ui/paint_internal.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace {

using platform::ui::stdctl::CompareNoCase;

// Dialog units: the dialog font's average character is kBaseX pixels wide and kBaseY pixels high.
constexpr int kBaseX = 6;
constexpr int kBaseY = 13;

struct DialogInfo {
    WORD defId = 0; // DM_SETDEFID, or the template's default push button
    HWND savedFocus = nullptr;
    bool ended = false;
    INT_PTR result = 0;
    HFONT font = nullptr;
    HMENU templateMenu = nullptr; // the menu the template named, destroyed with the dialog
};

struct Dialogs {
    std::mutex lock;
    std::unordered_map<HWND, DialogInfo> info;
};

Dialogs& GetDialogs() {
    static Dialogs dialogs;
    return dialogs;
}

template <typename F> auto WithInfo(HWND hwnd, F&& f) -> decltype(f(std::declval<DialogInfo&>())) {
    auto& d = GetDialogs();
    std::lock_guard guard(d.lock);
    auto it = d.info.find(hwnd);
    if (it == d.info.end()) {
        DialogInfo none;
        return f(none);
    }
    return f(it->second);
}

bool IsDialog(HWND hwnd) {
    auto& d = GetDialogs();
    std::lock_guard guard(d.lock);
    return d.info.count(hwnd) != 0;
}

DWORD StyleOf(HWND hwnd) {
    return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
}

DWORD ExStyleOf(HWND hwnd) {
    return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE));
}

bool IsClass(HWND hwnd, const char16_t* name) {
    char16_t cls[64] = {};
    GetClassNameW(hwnd, cls, 64);
    return CompareNoCase(cls, name) == 0;
}

LRESULT DlgCode(HWND hwnd, const MSG* msg) {
    return SendMessageW(hwnd, WM_GETDLGCODE, msg ? msg->wParam : 0, reinterpret_cast<LPARAM>(msg));
}

bool IsPushButton(HWND hwnd) {
    return (DlgCode(hwnd, nullptr) & (DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON)) != 0;
}

// A control that navigation can reach: visible and enabled by its own style (the dialog may still be hidden).
bool CanFocus(HWND hwnd) {
    const DWORD style = StyleOf(hwnd);
    return (style & WS_VISIBLE) && !(style & WS_DISABLED);
}

// Children of a window whose own children take part in the navigation of the dialog around them.
bool IsControlParent(HWND hwnd, HWND dialog) {
    if (!(StyleOf(hwnd) & WS_CHILD))
        return false;
    if (ExStyleOf(hwnd) & WS_EX_CONTROLPARENT)
        return true;
    // A child dialog inside a dialog that asked for navigation into its children.
    return IsDialog(hwnd) && (ExStyleOf(dialog) & WS_EX_CONTROLPARENT);
}

// Every control of the dialog in navigation order: Z order, descending into control parents.
void CollectControls(HWND parent, HWND dialog, std::vector<HWND>& out) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (IsControlParent(child, dialog)) {
            if (CanFocus(child))
                CollectControls(child, dialog, out);
        } else {
            out.push_back(child);
        }
    }
}

// The dialog whose navigation a control takes part in: climbs out of child dialogs that are control parents.
HWND NavigationRoot(HWND dialog) {
    HWND root = dialog;
    while (root && (StyleOf(root) & WS_CHILD)) {
        HWND parent = GetParent(root);
        if (!parent || !IsControlParent(root, parent))
            break;
        root = parent;
    }
    return root;
}

// The members of the control's group: from the closest WS_GROUP at or before it to the next WS_GROUP.
std::vector<HWND> GroupOf(HWND control) {
    std::vector<HWND> siblings;
    HWND parent = GetParent(control);
    for (HWND h = GetWindow(parent, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
        siblings.push_back(h);
    size_t at = 0;
    while (at < siblings.size() && siblings[at] != control)
        ++at;
    if (at == siblings.size())
        return {};
    size_t first = at;
    while (first > 0 && !(StyleOf(siblings[first]) & WS_GROUP))
        --first;
    size_t last = at + 1;
    while (last < siblings.size() && !(StyleOf(siblings[last]) & WS_GROUP))
        ++last;
    return std::vector<HWND>(siblings.begin() + static_cast<std::ptrdiff_t>(first),
                             siblings.begin() + static_cast<std::ptrdiff_t>(last));
}

HWND DefButton(HWND dialog) {
    const LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    if (HIWORD(def) != DC_HASDEFID)
        return nullptr;
    return GetDlgItem(dialog, LOWORD(def));
}

void SetButtonDefault(HWND button, bool isDefault) {
    if (!button || !IsClass(button, WC_BUTTONW))
        return;
    const DWORD type = StyleOf(button) & BS_TYPEMASK;
    if (isDefault && type == BS_PUSHBUTTON)
        SendMessageW(button, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    else if (!isDefault && type == BS_DEFPUSHBUTTON)
        SendMessageW(button, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
}

// Moves the focus inside a dialog: edits get their whole text selected, and a push button with the focus shows
// as the default one while it has it.
void DlgSetFocus(HWND dialog, HWND control) {
    if (!control)
        return;
    HWND old = GetFocus();
    const bool newPush = IsPushButton(control);
    HWND def = DefButton(dialog);
    if (old && old != control && IsPushButton(old) && old != def)
        SetButtonDefault(old, false);
    if (newPush) {
        if (def && def != control)
            SetButtonDefault(def, false);
        SetButtonDefault(control, true);
    } else if (def) {
        SetButtonDefault(def, true);
    }
    SetFocus(control);
    if (DlgCode(control, nullptr) & DLGC_HASSETSEL)
        SendMessageW(control, EM_SETSEL, 0, -1);
}

HWND FirstTabItem(HWND dialog) {
    return GetNextDlgTabItem(dialog, nullptr, FALSE);
}

void RestoreFocus(HWND dialog) {
    HWND saved = WithInfo(dialog, [](DialogInfo& i) { return i.savedFocus; });
    if (saved && IsWindow(saved) && IsChild(dialog, saved) && CanFocus(saved)) {
        SetFocus(saved);
        return;
    }
    if (HWND first = FirstTabItem(dialog))
        DlgSetFocus(dialog, first);
}

void SaveFocus(HWND dialog) {
    HWND focus = GetFocus();
    if (focus && IsChild(dialog, focus))
        WithInfo(dialog, [focus](DialogInfo& i) { i.savedFocus = focus; });
}

const char16_t* OrdinalClass(WORD ordinal) {
    switch (ordinal) {
    case 0x80:
        return WC_BUTTONW;
    case 0x81:
        return WC_EDITW;
    case 0x82:
        return WC_STATICW;
    case 0x83:
        return WC_LISTBOXW;
    case 0x84:
        return u"ScrollBar";
    case 0x85:
        return WC_COMBOBOXW;
    default:
        return nullptr;
    }
}

std::u16string OrdinalText(WORD ordinal) {
    std::u16string text = u"#";
    const std::string digits = std::to_string(ordinal);
    text.append(digits.begin(), digits.end());
    return text;
}

RECT DialogUnitsToPixels(int x, int y, int cx, int cy) {
    return RECT{x * kBaseX / 4, y * kBaseY / 8, (x + cx) * kBaseX / 4, (y + cy) * kBaseY / 8};
}

void LogFailure(const std::u16string& what) {
    std::fprintf(stderr, "dialog: %s\n", platform::Utf16ToUtf8(what).c_str());
}

HWND CreateFromTemplate(HINSTANCE instance, const platform::res::DialogTemplate& t, HWND parent, DLGPROC proc,
                        LPARAM initParam) {
    platform::ui::RegisterStandardControls();
    const bool child = (t.style & WS_CHILD) != 0;
    HWND owner = parent;
    if (!child && parent)
        owner = GetAncestor(parent, GA_ROOT) ? GetAncestor(parent, GA_ROOT) : parent;

    DWORD exStyle = t.exStyle;
    if (t.style & DS_CONTROL)
        exStyle |= WS_EX_CONTROLPARENT;
    if (t.style & DS_MODALFRAME)
        exStyle |= WS_EX_DLGMODALFRAME;

    // A menu the template names comes from the module that holds the template; a child dialog has none.
    HMENU menu = nullptr;
    if (!child && !t.menu.IsNone()) {
        const std::u16string menuName = t.menu.ordinal ? std::u16string() : t.menu.text;
        menu = LoadMenuW(instance, t.menu.ordinal ? MAKEINTRESOURCEW(t.menu.ordinal) : menuName.c_str());
        if (!menu) {
            const DWORD error = GetLastError();
            LogFailure(u"cannot load the menu " + (t.menu.ordinal ? OrdinalText(t.menu.ordinal) : t.menu.text));
            SetLastError(error);
            return nullptr;
        }
    }

    // The template gives the client area; the frame (and the menu bar) comes around it.
    const RECT client = DialogUnitsToPixels(t.x, t.y, t.cx, t.cy);
    RECT frame{0, 0, client.right - client.left, client.bottom - client.top};
    const DWORD createStyle = t.style & ~WS_VISIBLE;
    AdjustWindowRectEx(&frame, createStyle, menu != nullptr, exStyle);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    int x = client.left, y = client.top;
    if (!child) {
        if (t.style & (DS_CENTER | DS_CENTERMOUSE)) {
            x = (platform::ui::kScreenWidth - width) / 2;
            y = (platform::ui::kScreenHeight - height) / 2;
        } else if (owner && !(t.style & DS_ABSALIGN)) {
            POINT origin{0, 0};
            ClientToScreen(owner, &origin);
            x += origin.x;
            y += origin.y;
        }
    }

    std::u16string className;
    if (t.windowClass.ordinal)
        className = WC_DIALOG;
    else
        className = t.windowClass.text.empty() ? std::u16string(WC_DIALOG) : t.windowClass.text;

    HWND dialog = CreateWindowExW(exStyle, className.c_str(), t.caption.c_str(), createStyle, x, y, width, height,
                                  owner, menu, instance, reinterpret_cast<LPVOID>(initParam));
    if (!dialog) {
        if (menu)
            DestroyMenu(menu);
        return nullptr;
    }
    {
        auto& d = GetDialogs();
        std::lock_guard guard(d.lock);
        DialogInfo info;
        info.templateMenu = menu;
        d.info[dialog] = info;
    }
    SetWindowLongPtrW(dialog, DWLP_DLGPROC, reinterpret_cast<LONG_PTR>(proc));

    HFONT font = nullptr;
    if (t.style & DS_SETFONT) {
        font = platform::ui::paint::DialogFont(t.pointSize, t.fontName);
        WithInfo(dialog, [font](DialogInfo& i) { i.font = font; });
        SendMessageW(dialog, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        if (!IsWindow(dialog))
            return nullptr;
    }

    WORD defId = 0;
    for (const auto& item : t.items) {
        std::u16string itemClass;
        if (item.windowClass.ordinal) {
            const char16_t* name = OrdinalClass(item.windowClass.ordinal);
            itemClass = name ? name : u"";
        } else {
            itemClass = item.windowClass.text;
        }
        const std::u16string title = item.title.ordinal ? OrdinalText(item.title.ordinal) : item.title.text;
        const RECT r = DialogUnitsToPixels(item.x, item.y, item.cx, item.cy);
        HWND control = CreateWindowExW(
            item.exStyle | WS_EX_NOPARENTNOTIFY, itemClass.c_str(), title.c_str(), item.style | WS_CHILD, r.left, r.top,
            r.right - r.left, r.bottom - r.top, dialog, reinterpret_cast<HMENU>(static_cast<UINT_PTR>(item.id)),
            instance, item.creationData.empty() ? nullptr : const_cast<BYTE*>(item.creationData.data()));
        if (!control) {
            LogFailure(u"cannot create control " + OrdinalText(item.id) + u" of class \"" + itemClass + u"\"");
            if (!(t.style & DS_NOFAILCREATE)) {
                DestroyWindow(dialog);
                return nullptr;
            }
            continue;
        }
        if (font)
            SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), 0);
        if (!defId && CompareNoCase(itemClass, WC_BUTTONW) == 0 && (item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            defId = item.id;
    }
    WithInfo(dialog, [defId](DialogInfo& i) { i.defId = defId; });

    HWND first = FirstTabItem(dialog);
    const LRESULT setFocus = SendMessageW(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam);
    if (!IsWindow(dialog))
        return nullptr;
    if (setFocus && first && IsWindow(first) && !WithInfo(dialog, [](DialogInfo& i) { return i.ended; })) {
        DlgSetFocus(dialog, first);
        SaveFocus(dialog);
    }
    if ((t.style & WS_VISIBLE) && !WithInfo(dialog, [](DialogInfo& i) { return i.ended; })) {
        ShowWindow(dialog, SW_SHOWNORMAL);
        UpdateWindow(dialog);
    }
    return IsWindow(dialog) ? dialog : nullptr;
}

std::optional<platform::res::DialogTemplate> LoadTemplate(HINSTANCE instance, LPCWSTR name) {
    HRSRC res = FindResourceW(instance, name, RT_DIALOG);
    if (!res)
        return std::nullopt;
    HGLOBAL data = LoadResource(instance, res);
    const void* bytes = LockResource(data);
    return platform::res::ParseDialogTemplate(bytes, SizeofResource(instance, res));
}

std::optional<platform::res::DialogTemplate> ParseIndirect(LPCDLGTEMPLATEW dlgTemplate) {
    // A template in memory carries no size; it is read as far as it goes.
    return platform::res::ParseDialogTemplate(dlgTemplate, dlgTemplate ? (size_t{1} << 24) : 0);
}

INT_PTR RunDialog(HWND dialog, HWND owner) {
    if (!dialog)
        return -1;
    INT_PTR result = 0;
    if (platform::ui::DialogEnded(dialog, &result)) {
        DestroyWindow(dialog);
        return result;
    }
    platform::ui::ModalLoopOptions options;
    options.flags = MLF_SHOWONIDLE | ((StyleOf(dialog) & DS_NOIDLEMSG) ? MLF_NOIDLEMSG : 0);
    if (owner && IsWindowEnabled(owner))
        options.disableOwner = owner;
    options.preTranslate = [dialog](MSG& msg) { return IsDialogMessageW(dialog, &msg); };
    result = platform::ui::RunModalLoop(dialog, options);
    INT_PTR ended = 0;
    if (IsWindow(dialog) && platform::ui::DialogEnded(dialog, &ended))
        result = ended;
    if (IsWindow(dialog))
        DestroyWindow(dialog);
    return result;
}

} // namespace

HWND CreateDialogIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dlgTemplate, HWND parent, DLGPROC proc,
                                LPARAM initParam) {
    auto t = ParseIndirect(dlgTemplate);
    if (!t) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return CreateFromTemplate(instance, *t, parent, proc, initParam);
}

HWND CreateDialogParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM initParam) {
    auto t = LoadTemplate(instance, templateName);
    if (!t) {
        if (GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return nullptr;
    }
    return CreateFromTemplate(instance, *t, parent, proc, initParam);
}

INT_PTR DialogBoxParamW(HINSTANCE instance, LPCWSTR templateName, HWND parent, DLGPROC proc, LPARAM initParam) {
    auto t = LoadTemplate(instance, templateName);
    if (!t) {
        if (GetLastError() == ERROR_SUCCESS)
            SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
        return -1;
    }
    t->style &= ~WS_CHILD;
    HWND owner = parent ? GetAncestor(parent, GA_ROOT) : nullptr;
    return RunDialog(CreateFromTemplate(instance, *t, owner, proc, initParam), owner);
}

INT_PTR DialogBoxIndirectParamW(HINSTANCE instance, LPCDLGTEMPLATEW dlgTemplate, HWND parent, DLGPROC proc,
                                LPARAM initParam) {
    auto t = ParseIndirect(dlgTemplate);
    if (!t) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return -1;
    }
    t->style &= ~WS_CHILD;
    HWND owner = parent ? GetAncestor(parent, GA_ROOT) : nullptr;
    return RunDialog(CreateFromTemplate(instance, *t, owner, proc, initParam), owner);
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
    if (!IsWindow(dialog) || !IsDialog(dialog)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    WithInfo(dialog, [result](DialogInfo& i) {
        i.ended = true;
        i.result = result;
    });
    // The owner gets its input back before the dialog goes out of sight.
    if (platform::ui::IsInModalLoop(dialog)) {
        HWND owner = GetWindow(dialog, GW_OWNER);
        if (owner)
            EnableWindow(owner, TRUE);
        platform::ui::EndModalLoop(dialog, result);
    }
    ShowWindow(dialog, SW_HIDE);
    return TRUE;
}

namespace platform::ui {

HWND CreateDialogFromTemplate(HINSTANCE instance, const res::DialogTemplate& dlgTemplate, HWND parent, DLGPROC proc,
                              LPARAM initParam) {
    return CreateFromTemplate(instance, dlgTemplate, parent, proc, initParam);
}

INT_PTR RunDialogModal(HWND dialog, HWND owner) {
    return RunDialog(dialog, owner);
}

void AddTemplateItem(res::DialogTemplate& dlgTemplate, WORD classOrdinal, const std::u16string& text, WORD id,
                     DWORD style, short x, short y, short cx, short cy) {
    res::DialogItemTemplate item;
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = cx;
    item.cy = cy;
    item.id = id;
    item.windowClass.ordinal = classOrdinal;
    item.title.text = text;
    dlgTemplate.items.push_back(std::move(item));
}

bool DialogEnded(HWND dialog, INT_PTR* result) {
    auto& d = GetDialogs();
    std::lock_guard guard(d.lock);
    auto it = d.info.find(dialog);
    if (it == d.info.end() || !it->second.ended)
        return false;
    if (result)
        *result = it->second.result;
    return true;
}

} // namespace platform::ui

namespace {

LRESULT DefaultDialogHandling(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
    case WM_INITDIALOG:
        return TRUE;
    case DM_GETDEFID: {
        const WORD id = WithInfo(dialog, [](DialogInfo& i) { return i.defId; });
        return id ? MAKELONG(id, DC_HASDEFID) : 0;
    }
    case DM_SETDEFID: {
        const WORD id = LOWORD(wParam);
        const WORD old = WithInfo(dialog, [id](DialogInfo& i) {
            const WORD previous = i.defId;
            i.defId = id;
            return previous;
        });
        if (old && old != id)
            SetButtonDefault(GetDlgItem(dialog, old), false);
        HWND focus = GetFocus();
        // The new default shows as one unless another push button has the focus.
        if (!(focus && IsChild(dialog, focus) && IsPushButton(focus) && GetDlgCtrlID(focus) != id))
            SetButtonDefault(GetDlgItem(dialog, id), true);
        return TRUE;
    }
    case DM_REPOSITION: {
        if (StyleOf(dialog) & WS_CHILD)
            return 0;
        RECT r;
        GetWindowRect(dialog, &r);
        int x = r.left, y = r.top;
        const int w = r.right - r.left, h = r.bottom - r.top;
        x = std::max(0, std::min(x, platform::ui::kScreenWidth - w));
        y = std::max(0, std::min(y, platform::ui::kScreenHeight - h));
        if (x != r.left || y != r.top)
            SetWindowPos(dialog, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_NEXTDLGCTL: {
        HWND target;
        if (LOWORD(lParam))
            target = reinterpret_cast<HWND>(wParam);
        else
            target = GetNextDlgTabItem(dialog, GetFocus(), wParam ? TRUE : FALSE);
        if (target)
            DlgSetFocus(dialog, target);
        return 0;
    }
    case WM_CLOSE: {
        HWND cancel = GetDlgItem(dialog, IDCANCEL);
        if (!cancel || IsWindowEnabled(cancel))
            PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case WM_SETFOCUS:
        RestoreFocus(dialog);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE)
            SaveFocus(dialog);
        else
            RestoreFocus(dialog);
        return 0;
    case WM_SHOWWINDOW:
        if (!wParam)
            SaveFocus(dialog);
        return DefWindowProcW(dialog, msg, wParam, lParam);
    case WM_SETFONT:
        WithInfo(dialog, [wParam](DialogInfo& i) { i.font = reinterpret_cast<HFONT>(wParam); });
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(WithInfo(dialog, [](DialogInfo& i) { return i.font; }));
    case WM_PAINT:
        return platform::ui::paint::PaintControl(dialog);
    case WM_ERASEBKGND:
        return 1;
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<LRESULT>(platform::ui::paint::DefaultControlBrush(msg));
    case WM_NCDESTROY: {
        HMENU templateMenu = nullptr;
        {
            auto& d = GetDialogs();
            std::lock_guard guard(d.lock);
            auto it = d.info.find(dialog);
            if (it != d.info.end()) {
                templateMenu = it->second.templateMenu;
                d.info.erase(it);
            }
        }
        // The menu goes with the dialog, as a window's menu does, unless the program took it off meanwhile.
        if (templateMenu && GetMenu(dialog) == templateMenu)
            DestroyMenu(templateMenu);
        return DefWindowProcW(dialog, msg, wParam, lParam);
    }
    default:
        return DefWindowProcW(dialog, msg, wParam, lParam);
    }
}

// Messages whose dialog-procedure answer is the result itself instead of DWLP_MSGRESULT.
bool AnswersDirectly(UINT msg) {
    switch (msg) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case 0x002E: // WM_VKEYTOITEM
    case 0x002F: // WM_CHARTOITEM
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
        return true;
    default:
        return false;
    }
}

} // namespace

LRESULT CALLBACK DefDlgProcW(HWND dialog, UINT msg, WPARAM wParam, LPARAM lParam) {
    auto proc = reinterpret_cast<DLGPROC>(GetWindowLongPtrW(dialog, DWLP_DLGPROC));
    if (proc && msg != WM_NCDESTROY) {
        SetWindowLongPtrW(dialog, DWLP_MSGRESULT, 0);
        const INT_PTR handled = proc(dialog, msg, wParam, lParam);
        if (handled) {
            if (AnswersDirectly(msg))
                return handled;
            return IsWindow(dialog) ? GetWindowLongPtrW(dialog, DWLP_MSGRESULT) : 0;
        }
        if (!IsWindow(dialog))
            return 0;
    } else if (proc && msg == WM_NCDESTROY) {
        proc(dialog, msg, wParam, lParam);
    }
    return DefaultDialogHandling(dialog, msg, wParam, lParam);
}

HWND GetNextDlgTabItem(HWND dialog, HWND control, BOOL previous) {
    if (!IsWindow(dialog))
        return nullptr;
    std::vector<HWND> all;
    CollectControls(dialog, dialog, all);
    const int n = static_cast<int>(all.size());
    if (n == 0)
        return nullptr;
    int at = -1;
    for (int i = 0; i < n; ++i)
        if (all[static_cast<size_t>(i)] == control || (control && IsChild(all[static_cast<size_t>(i)], control)))
            at = i;
    const int step = previous ? -1 : 1;
    int start = at;
    if (at < 0)
        start = previous ? 0 : n - 1; // so that the first step lands on the first (or last) control
    for (int k = 1; k <= n; ++k) {
        const int i = ((start + step * k) % n + n) % n;
        HWND h = all[static_cast<size_t>(i)];
        if ((StyleOf(h) & WS_TABSTOP) && CanFocus(h))
            return h;
    }
    return control;
}

HWND GetNextDlgGroupItem(HWND dialog, HWND control, BOOL previous) {
    if (!IsWindow(dialog))
        return nullptr;
    if (!control) {
        std::vector<HWND> all;
        CollectControls(dialog, dialog, all);
        for (HWND h : all)
            if (CanFocus(h))
                return h;
        return nullptr;
    }
    const std::vector<HWND> group = GroupOf(control);
    const int n = static_cast<int>(group.size());
    int at = 0;
    while (at < n && group[static_cast<size_t>(at)] != control)
        ++at;
    if (at == n)
        return control;
    const int step = previous ? -1 : 1;
    for (int k = 1; k < n; ++k) {
        HWND h = group[static_cast<size_t>(((at + step * k) % n + n) % n)];
        if (CanFocus(h))
            return h;
    }
    return control;
}

namespace platform::ui::stdctl {

void UncheckGroupRadios(HWND button) {
    for (HWND h : GroupOf(button)) {
        if (h != button && IsClass(h, WC_BUTTONW) && (StyleOf(h) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
            SendMessageW(h, BM_SETCHECK, BST_UNCHECKED, 0);
    }
}

} // namespace platform::ui::stdctl

namespace {

// The character after the first single '&' of a text, upper-cased; 0 when the text has none ("&&" is an ampersand).
char16_t MnemonicOf(const std::u16string& text) {
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != u'&')
            continue;
        if (text[i + 1] != u'&')
            return platform::FoldUpper(text[i + 1]);
        ++i;
    }
    return 0;
}

// Whether the control is one whose text names a mnemonic: buttons, and static texts without SS_NOPREFIX (group boxes
// answer as statics).
bool HasMnemonic(HWND control, char16_t key) {
    const LRESULT code = DlgCode(control, nullptr);
    if (code & DLGC_STATIC) {
        if (IsClass(control, WC_STATICW) && (StyleOf(control) & SS_NOPREFIX))
            return false;
    } else if (!(code & (DLGC_BUTTON | DLGC_DEFPUSHBUTTON | DLGC_UNDEFPUSHBUTTON | DLGC_RADIOBUTTON))) {
        return false;
    }
    WCHAR text[512] = {};
    GetWindowTextW(control, text, 512);
    return MnemonicOf(text) == key;
}

// A mnemonic key pressed in the dialog: the next control after the focus (wrapping) whose text has it takes it. A
// static text or group box hands it to the next control that takes the focus; a button is clicked, unless several
// buttons share the mnemonic, when the focus only moves on to the next of them. FALSE when no control has it.
bool DialogMnemonic(HWND root, HWND focus, char16_t key) {
    key = platform::FoldUpper(key);
    std::vector<HWND> all;
    CollectControls(root, root, all);
    const size_t n = all.size();
    size_t at = n;
    for (size_t i = 0; i < n; ++i)
        if (all[i] == focus || IsChild(all[i], focus))
            at = i;
    std::vector<HWND> matches;
    for (size_t k = 1; k <= n; ++k) {
        HWND h = all[(at == n ? k - 1 : at + k) % n];
        if (CanFocus(h) && HasMnemonic(h, key))
            matches.push_back(h);
    }
    if (matches.empty())
        return false;
    HWND target = matches.front();
    if (DlgCode(target, nullptr) & DLGC_STATIC) {
        if (HWND next = GetNextDlgTabItem(root, target, FALSE); next && next != target)
            DlgSetFocus(root, next);
        return true;
    }
    const size_t buttons = static_cast<size_t>(
        std::count_if(matches.begin(), matches.end(), [](HWND h) { return !(DlgCode(h, nullptr) & DLGC_STATIC); }));
    DlgSetFocus(root, target);
    if (buttons == 1)
        SendMessageW(target, BM_CLICK, 0, 0);
    return true;
}

} // namespace

BOOL IsDialogMessageW(HWND dialog, LPMSG msg) {
    if (!msg || !dialog || !IsWindow(dialog))
        return FALSE;
    if (msg->hwnd != dialog && !IsChild(dialog, msg->hwnd))
        return FALSE;
    if (msg->message == WM_KEYDOWN || msg->message == WM_KEYUP || msg->message == WM_SYSKEYDOWN ||
        msg->message == WM_SYSKEYUP)
        platform::ui::NoteKeyMessage(msg->message, msg->wParam);
    HWND root = NavigationRoot(dialog);
    HWND focus = msg->hwnd;
    switch (msg->message) {
    case WM_KEYDOWN: {
        const LRESULT code = DlgCode(focus, msg);
        if (code & DLGC_WANTMESSAGE)
            break;
        switch (msg->wParam) {
        case VK_TAB: {
            if (code & DLGC_WANTTAB)
                break;
            HWND next = GetNextDlgTabItem(root, focus, GetKeyState(VK_SHIFT) < 0);
            if (next)
                DlgSetFocus(root, next);
            return TRUE;
        }
        case VK_LEFT:
        case VK_UP:
        case VK_RIGHT:
        case VK_DOWN: {
            if (code & DLGC_WANTARROWS)
                break;
            const bool back = msg->wParam == VK_LEFT || msg->wParam == VK_UP;
            HWND next = GetNextDlgGroupItem(root, focus, back);
            if (next && next != focus) {
                DlgSetFocus(root, next);
                if ((DlgCode(next, nullptr) & DLGC_RADIOBUTTON) && (StyleOf(next) & BS_TYPEMASK) == BS_AUTORADIOBUTTON)
                    SendMessageW(next, BM_CLICK, 0, 0);
            }
            return TRUE;
        }
        case VK_RETURN: {
            if (focus != dialog && IsPushButton(focus) && IsWindowEnabled(focus)) {
                SendMessageW(GetParent(focus), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(focus), BN_CLICKED),
                             reinterpret_cast<LPARAM>(focus));
                return TRUE;
            }
            const LRESULT def = SendMessageW(dialog, DM_GETDEFID, 0, 0);
            const WORD id = HIWORD(def) == DC_HASDEFID ? LOWORD(def) : static_cast<WORD>(IDOK);
            HWND button = GetDlgItem(dialog, id);
            if (button && !IsWindowEnabled(button))
                return TRUE;
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
            return TRUE;
        }
        case VK_ESCAPE: {
            HWND cancel = GetDlgItem(dialog, IDCANCEL);
            if (cancel && !IsWindowEnabled(cancel))
                return TRUE;
            SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
            return TRUE;
        }
        default:
            break;
        }
        break;
    }
    case WM_SYSCHAR:
        // Alt and a letter: the control with that mnemonic, else the window's own handling.
        if (msg->wParam >= 0x20 && DialogMnemonic(root, focus, static_cast<char16_t>(msg->wParam)))
            return TRUE;
        break;
    case WM_CHAR: {
        // The characters of the keys the dialog manager took are not typed into the control.
        const auto c = msg->wParam;
        if (c >= 0x20 && c != 0x7F) {
            // A plain letter is a mnemonic where the focused control takes no characters.
            if (!(DlgCode(focus, msg) & (DLGC_WANTCHARS | DLGC_WANTMESSAGE)) &&
                DialogMnemonic(root, focus, static_cast<char16_t>(c)))
                return TRUE;
            break;
        }
        if (c != u'\t' && c != u'\r' && c != 0x1B)
            break;
        MSG key = *msg;
        key.message = WM_KEYDOWN;
        key.wParam = c == u'\t' ? VK_TAB : c == u'\r' ? VK_RETURN : VK_ESCAPE;
        const LRESULT code = DlgCode(focus, &key);
        if (code & DLGC_WANTMESSAGE)
            break;
        if (c == u'\t' && (code & DLGC_WANTTAB))
            break;
        return TRUE;
    }
    default:
        break;
    }
    TranslateMessage(msg);
    DispatchMessageW(msg);
    return TRUE;
}

BOOL MapDialogRect(HWND dialog, LPRECT rect) {
    if (!rect || !IsWindow(dialog))
        return FALSE;
    rect->left = rect->left * kBaseX / 4;
    rect->right = rect->right * kBaseX / 4;
    rect->top = rect->top * kBaseY / 8;
    rect->bottom = rect->bottom * kBaseY / 8;
    return TRUE;
}

LONG GetDialogBaseUnits() {
    return MAKELONG(kBaseX, kBaseY);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT msg, WPARAM wParam, LPARAM lParam) {
    HWND item = GetDlgItem(dialog, id);
    return item ? SendMessageW(item, msg, wParam, lParam) : 0;
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    HWND item = GetDlgItem(dialog, id);
    return item ? SetWindowTextW(item, text) : FALSE;
}

UINT GetDlgItemTextW(HWND dialog, int id, LPWSTR text, int maxCount) {
    HWND item = GetDlgItem(dialog, id);
    if (!item) {
        if (text && maxCount > 0)
            text[0] = 0;
        return 0;
    }
    return static_cast<UINT>(GetWindowTextW(item, text, maxCount));
}

BOOL SetDlgItemInt(HWND dialog, int id, UINT value, BOOL isSigned) {
    std::string digits = isSigned ? std::to_string(static_cast<int>(value)) : std::to_string(value);
    return SetDlgItemTextW(dialog, id, std::u16string(digits.begin(), digits.end()).c_str());
}

UINT GetDlgItemInt(HWND dialog, int id, BOOL* translated, BOOL isSigned) {
    if (translated)
        *translated = FALSE;
    HWND item = GetDlgItem(dialog, id);
    if (!item)
        return 0;
    const std::u16string text = platform::ui::stdctl::WindowText(item);
    size_t i = 0;
    while (i < text.size() && text[i] == u' ')
        ++i;
    bool negative = false;
    if (isSigned && i < text.size() && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    unsigned long long value = 0;
    size_t digits = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits) {
        value = value * 10 + static_cast<unsigned>(text[i] - u'0');
        if (value > 0xFFFFFFFFull)
            return 0;
    }
    while (i < text.size() && text[i] == u' ')
        ++i;
    if (!digits || i != text.size())
        return 0;
    if (isSigned) {
        if ((!negative && value > static_cast<unsigned long long>(INT_MAX)) ||
            (negative && value > static_cast<unsigned long long>(INT_MAX) + 1))
            return 0;
        if (translated)
            *translated = TRUE;
        const long long v = negative ? -static_cast<long long>(value) : static_cast<long long>(value);
        return static_cast<UINT>(static_cast<int>(v));
    }
    if (translated)
        *translated = TRUE;
    return static_cast<UINT>(value);
}

BOOL CheckDlgButton(HWND dialog, int id, UINT check) {
    HWND item = GetDlgItem(dialog, id);
    if (!item)
        return FALSE;
    SendMessageW(item, BM_SETCHECK, check, 0);
    return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int id) {
    return static_cast<UINT>(SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0));
}

BOOL CheckRadioButton(HWND dialog, int first, int last, int check) {
    if (!IsWindow(dialog))
        return FALSE;
    bool found = false;
    for (HWND h = GetWindow(dialog, GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT)) {
        const int id = GetDlgCtrlID(h);
        if (id < first || id > last)
            continue;
        SendMessageW(h, BM_SETCHECK, id == check ? BST_CHECKED : BST_UNCHECKED, 0);
        found = found || id == check;
    }
    return found ? TRUE : FALSE;
}
