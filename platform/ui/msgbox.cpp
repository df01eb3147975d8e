#include "platform/ui/msgbox.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/ui/dialog_internal.h"
#include "platform/ui/file_chooser.h"
#include "platform/ui/presenter.h"

#include <algorithm>
#include <cstdio>
#include <mutex>

namespace platform::ui {

namespace {

struct HookSlot {
    std::mutex lock;
    PromptHook hook;
};

HookSlot& Slot() {
    static HookSlot slot;
    return slot;
}

const char16_t* KindName(PromptKind kind) {
    switch (kind) {
    case PromptKind::MessageBox:
        return u"message box";
    case PromptKind::OpenFile:
        return u"open-file dialog";
    case PromptKind::SaveFile:
        return u"save-file dialog";
    case PromptKind::BrowseFolder:
        return u"folder browser";
    }
    return u"prompt";
}

const char16_t* ButtonName(int id) {
    switch (id) {
    case IDOK:
        return u"OK";
    case IDCANCEL:
        return u"Cancel";
    case IDABORT:
        return u"Abort";
    case IDRETRY:
        return u"Retry";
    case IDIGNORE:
        return u"Ignore";
    case IDYES:
        return u"Yes";
    case IDNO:
        return u"No";
    case IDTRYAGAIN:
        return u"Try Again";
    case IDCONTINUE:
        return u"Continue";
    case IDHELP:
        return u"Help";
    default:
        return u"?";
    }
}

std::vector<int> ButtonsOf(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    case MB_CANCELTRYCONTINUE:
        return {IDCANCEL, IDTRYAGAIN, IDCONTINUE};
    default:
        return {IDOK};
    }
}

constexpr int kTextId = 0xFFFF;
constexpr int kIconId = 20;

struct BoxState {
    std::vector<int> buttons;
};

INT_PTR CALLBACK BoxProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        return TRUE;
    }
    if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        const auto* state = reinterpret_cast<const BoxState*>(GetWindowLongPtrW(hwnd, DWLP_USER));
        if (!state)
            return FALSE;
        const int id = LOWORD(wParam);
        const auto& b = state->buttons;
        if (std::find(b.begin(), b.end(), id) != b.end()) {
            EndDialog(hwnd, id);
        } else if (id == IDCANCEL && b.size() == 1 && b[0] == IDOK) {
            // Escape and the close box end a box whose only button is OK with OK.
            EndDialog(hwnd, IDOK);
        } else if (id == IDHELP) {
            if (HWND owner = GetWindow(hwnd, GW_OWNER))
                SendMessageW(owner, WM_HELP, 0, 0);
        }
        return TRUE;
    }
    return FALSE;
}

// Lays out the box: icon, text wrapped at about 60 characters, then the buttons centred under it.
res::DialogTemplate BoxTemplate(const std::u16string& caption, const std::u16string& text, UINT type,
                                const std::vector<int>& buttons, int defaultButton) {
    res::DialogTemplate t;
    t.style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_CENTER;
    t.caption = caption;
    t.pointSize = 8;
    t.fontName = u"MS Shell Dlg";
    // Text size in dialog units: 4 per character, 8 per line.
    int lines = 0, widest = 0, column = 0;
    for (size_t i = 0; i <= text.size(); ++i) {
        if (i == text.size() || text[i] == u'\n' || column >= 60) {
            ++lines;
            widest = std::max(widest, column);
            column = 0;
            if (i < text.size() && text[i] != u'\n')
                column = 1;
        } else if (text[i] != u'\r') {
            ++column;
        }
    }
    const bool icon = (type & MB_ICONMASK) != 0;
    const short textX = icon ? 40 : 10;
    const short textW = static_cast<short>(std::max(widest * 4 + 4, 60));
    const short textH = static_cast<short>(lines * 8 + 2);
    const short buttonsW = static_cast<short>(buttons.size() * 54 - 4);
    const short bodyH = static_cast<short>(std::max<int>(textH, icon ? 20 : 0));
    t.cx = static_cast<short>(std::max<int>(textX + textW + 10, buttonsW + 20));
    t.cy = static_cast<short>(10 + bodyH + 10 + 14 + 8);
    if (icon)
        AddTemplateItem(t, 0x82, u"", kIconId, SS_ICON, 10, 10, 20, 20);
    AddTemplateItem(t, 0x82, text, kTextId, SS_LEFT | SS_NOPREFIX, textX, 10, textW, textH);
    short x = static_cast<short>((t.cx - buttonsW) / 2);
    bool first = true;
    for (int id : buttons) {
        DWORD style = WS_TABSTOP | (id == defaultButton ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
        if (first)
            style |= WS_GROUP;
        first = false;
        AddTemplateItem(t, 0x80, ButtonName(id), static_cast<WORD>(id), style, x, static_cast<short>(10 + bodyH + 10),
                        50, 14);
        x = static_cast<short>(x + 54);
    }
    return t;
}

} // namespace

PromptHook SetPromptHook(PromptHook hook) {
    auto& slot = Slot();
    std::lock_guard guard(slot.lock);
    PromptHook previous = std::move(slot.hook);
    slot.hook = std::move(hook);
    return previous;
}

std::u16string DescribePrompt(const PromptInfo& info) {
    std::u16string s = KindName(info.kind);
    s += u" \"" + info.caption + u"\"";
    if (!info.text.empty())
        s += u": " + info.text;
    if (!info.buttons.empty()) {
        s += u" [";
        for (size_t i = 0; i < info.buttons.size(); ++i) {
            if (i)
                s += u", ";
            s += ButtonName(info.buttons[i]);
            if (info.buttons[i] == info.defaultButton)
                s += u"*";
        }
        s += u"]";
    }
    if (!info.fileName.empty())
        s += u" file \"" + info.fileName + u"\"";
    if (!info.selection.empty())
        s += u" selection \"" + info.selection + u"\"";
    return s;
}

PromptReply AskPrompt(const PromptInfo& info, const PromptReply& fallback) {
    PromptHook hook;
    {
        auto& slot = Slot();
        std::lock_guard guard(slot.lock);
        hook = slot.hook;
    }
    if (hook)
        return hook(info);
    if (DisplayShown()) {
        // The user answers on the display: a message box runs as the dialog it is, the others are chosen in the
        // file chooser (the folder browser's own window steps aside for it).
        if (info.kind == PromptKind::MessageBox)
            return PromptReply(PromptReply::kRunModal);
        if (info.kind == PromptKind::BrowseFolder && info.window)
            ShowWindow(info.window, SW_HIDE);
        return ChooseOnDisplay(info);
    }
    std::fprintf(stderr, "prompt (no one to answer, taking the default): %s\n",
                 platform::Utf16ToUtf8(DescribePrompt(info)).c_str());
    return fallback;
}

} // namespace platform::ui

int MessageBoxExW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type, WORD) {
    using namespace platform::ui;
    if (owner && !IsWindow(owner)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return 0;
    }
    PromptInfo info;
    info.kind = PromptKind::MessageBox;
    info.owner = owner;
    info.caption = caption ? caption : u"Error";
    info.text = text ? text : u"";
    info.style = type;
    info.buttons = ButtonsOf(type);
    const size_t defIndex = (type & MB_DEFMASK) >> 8;
    info.defaultButton = info.buttons[defIndex < info.buttons.size() ? defIndex : 0];

    BoxState state{info.buttons};
    HWND root = owner ? GetAncestor(owner, GA_ROOT) : nullptr;
    HWND box =
        CreateDialogFromTemplate(nullptr, BoxTemplate(info.caption, info.text, type, info.buttons, info.defaultButton),
                                 root, BoxProc, reinterpret_cast<LPARAM>(&state));
    if (!box) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    info.window = box;
    ShowWindow(box, SW_SHOWNORMAL);
    const PromptReply reply = AskPrompt(info, PromptReply(info.defaultButton));
    if (reply.result == PromptReply::kRunModal) {
        const INT_PTR result = RunDialogModal(box, root);
        return result > 0 ? static_cast<int>(result) : 0;
    }
    if (IsWindow(box))
        DestroyWindow(box);
    const auto& b = info.buttons;
    if (std::find(b.begin(), b.end(), reply.result) == b.end()) {
        std::fprintf(stderr, "prompt: answer %d is not a button of %s; taking the default\n", reply.result,
                     platform::Utf16ToUtf8(DescribePrompt(info)).c_str());
        return info.defaultButton;
    }
    return reply.result;
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    return MessageBoxExW(owner, text, caption, type, 0);
}

BOOL MessageBeep(UINT) {
    return TRUE;
}
