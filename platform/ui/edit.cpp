// The "Edit" class: single- and multi-line text entry with selection, limit, read-only and password styles.
#include "platform/ui/controls_internal.h"
#include "platform/ui/input.h"

#include <algorithm>

namespace platform::ui::stdctl {

namespace {

constexpr size_t kDefaultLimit = 32767;

struct EditData {
    std::u16string text;
    size_t anchor = 0; // selection: from anchor to caret, in either order
    size_t caret = 0;
    size_t limit = kDefaultLimit;
    bool modified = false;
    char16_t passwordChar = 0;
    bool focused = false;
    bool canUndo = false;
    std::u16string undoText;
    size_t undoCaret = 0;

    size_t SelStart() const { return std::min(anchor, caret); }
    size_t SelEnd() const { return std::max(anchor, caret); }
};

bool Multiline(HWND hwnd) {
    return (Style(hwnd) & ES_MULTILINE) != 0;
}

void Changed(HWND hwnd, EditData& d, bool byUser) {
    if (byUser)
        d.modified = true;
    InvalidateRect(hwnd, nullptr, TRUE);
    NotifyParent(hwnd, EN_UPDATE);
    NotifyParent(hwnd, EN_CHANGE);
}

// Replaces the selection with `insert`, cut to the limit. Returns false (and sends EN_MAXTEXT) when the text had
// to be cut.
bool ReplaceSelection(HWND hwnd, EditData& d, std::u16string insert, bool canUndo) {
    const size_t start = d.SelStart(), end = d.SelEnd();
    const size_t kept = d.text.size() - (end - start);
    bool cut = false;
    if (kept + insert.size() > d.limit) {
        const size_t room = d.limit > kept ? d.limit - kept : 0;
        // Never split a line break of a multi-line control.
        size_t n = room;
        if (n > 0 && n < insert.size() && insert[n - 1] == u'\r' && insert[n] == u'\n')
            --n;
        insert.resize(n);
        cut = true;
    }
    if (insert.empty() && start == end) {
        if (cut)
            NotifyParent(hwnd, EN_MAXTEXT);
        return !cut;
    }
    if (canUndo) {
        d.undoText = d.text;
        d.undoCaret = d.caret;
        d.canUndo = true;
    }
    d.text.replace(start, end - start, insert);
    d.anchor = d.caret = start + insert.size();
    Changed(hwnd, d, true);
    if (cut)
        NotifyParent(hwnd, EN_MAXTEXT);
    return !cut;
}

void SetSelection(EditData& d, LONG_PTR start, LONG_PTR end) {
    const auto size = static_cast<LONG_PTR>(d.text.size());
    if (start == -1) {
        // Only removes the selection; the caret stays where it is.
        d.anchor = d.caret;
        return;
    }
    if (start < 0 || start > size)
        start = size;
    if (end < 0 || end > size)
        end = size;
    d.anchor = static_cast<size_t>(start);
    d.caret = static_cast<size_t>(end);
}

// Line starts of a multi-line text (lines end with "\r\n").
std::vector<size_t> LineStarts(const std::u16string& text) {
    std::vector<size_t> starts{0};
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == u'\r' && text[i + 1] == u'\n')
            starts.push_back(i + 2);
    return starts;
}

size_t LineEnd(const std::u16string& text, size_t start) {
    const size_t end = text.find(u"\r\n", start);
    return end == std::u16string::npos ? text.size() : end;
}

int LineOf(const std::vector<size_t>& starts, size_t index) {
    auto it = std::upper_bound(starts.begin(), starts.end(), index);
    return static_cast<int>(it - starts.begin()) - 1;
}

void MoveCaret(HWND hwnd, EditData& d, size_t to) {
    if (GetKeyState(VK_SHIFT) < 0)
        d.caret = to;
    else
        d.anchor = d.caret = to;
    InvalidateRect(hwnd, nullptr, FALSE);
}

} // namespace

LRESULT CALLBACK EditProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
        EditData* d = CreateData<EditData>(hwnd);
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        if (cs->lpszName)
            d->text = cs->lpszName;
        if (static_cast<DWORD>(cs->style) & ES_PASSWORD)
            d->passwordChar = u'*';
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    EditData* d = GetData<EditData>(hwnd);
    if (msg == WM_NCDESTROY) {
        DestroyData<EditData>(hwnd);
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    }
    if (!d)
        return DefWindowProcW(hwnd, msg, wParam, lParam);
    const DWORD style = Style(hwnd);
    LRESULT common = 0;
    if (paint::HandleFontAndPaint(hwnd, msg, wParam, lParam, common))
        return common;
    switch (msg) {
    case WM_GETDLGCODE: {
        LRESULT code = DLGC_WANTCHARS | DLGC_HASSETSEL | DLGC_WANTARROWS;
        const auto* m = reinterpret_cast<const MSG*>(lParam);
        // A multi-line control with ES_WANTRETURN takes Enter for a new line.
        if ((style & ES_MULTILINE) && (style & ES_WANTRETURN) && m && m->message == WM_KEYDOWN &&
            m->wParam == VK_RETURN)
            code |= DLGC_WANTMESSAGE;
        return code;
    }
    case WM_SETTEXT: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        d->text = text ? text : u"";
        d->anchor = d->caret = 0;
        d->modified = false;
        d->canUndo = false;
        Changed(hwnd, *d, false);
        return TRUE;
    }
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        const size_t n = std::min(d->text.size(), static_cast<size_t>(wParam) - 1);
        auto* out = reinterpret_cast<char16_t*>(lParam);
        d->text.copy(out, n);
        out[n] = 0;
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(d->text.size());
    case EM_GETSEL: {
        const auto start = static_cast<DWORD>(d->SelStart()), end = static_cast<DWORD>(d->SelEnd());
        if (wParam)
            *reinterpret_cast<DWORD*>(wParam) = start;
        if (lParam)
            *reinterpret_cast<DWORD*>(lParam) = end;
        return static_cast<LRESULT>(MAKELONG(std::min<DWORD>(start, 0xFFFF), std::min<DWORD>(end, 0xFFFF)));
    }
    case EM_SETSEL:
        SetSelection(*d, static_cast<LONG_PTR>(static_cast<INT_PTR>(wParam)), lParam);
        InvalidateRect(hwnd, nullptr, FALSE);
        return 0;
    case EM_REPLACESEL: {
        const auto* text = reinterpret_cast<LPCWSTR>(lParam);
        ReplaceSelection(hwnd, *d, text ? text : u"", wParam != 0);
        return 0;
    }
    case EM_LIMITTEXT: {
        // 0 lifts the limit to the largest text the control can hold.
        d->limit = wParam ? static_cast<size_t>(wParam) : 0x7FFFFFFE;
        return 0;
    }
    case EM_GETLIMITTEXT:
        return static_cast<LRESULT>(d->limit);
    case EM_SETREADONLY: {
        LONG s = GetWindowLongW(hwnd, GWL_STYLE);
        s = wParam ? (s | static_cast<LONG>(ES_READONLY)) : (s & ~static_cast<LONG>(ES_READONLY));
        SetWindowLongW(hwnd, GWL_STYLE, s);
        InvalidateRect(hwnd, nullptr, TRUE);
        return TRUE;
    }
    case EM_GETMODIFY:
        return d->modified ? TRUE : FALSE;
    case EM_SETMODIFY:
        d->modified = wParam != 0;
        return 0;
    case EM_SETPASSWORDCHAR: {
        if (style & ES_MULTILINE)
            return 0;
        d->passwordChar = static_cast<char16_t>(wParam);
        LONG s = GetWindowLongW(hwnd, GWL_STYLE);
        s = wParam ? (s | static_cast<LONG>(ES_PASSWORD)) : (s & ~static_cast<LONG>(ES_PASSWORD));
        SetWindowLongW(hwnd, GWL_STYLE, s);
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    }
    case EM_GETPASSWORDCHAR:
        return d->passwordChar;
    case EM_CANUNDO:
        return d->canUndo ? TRUE : FALSE;
    case EM_UNDO: {
        if (!d->canUndo)
            return FALSE;
        std::swap(d->text, d->undoText);
        std::swap(d->caret, d->undoCaret);
        d->caret = std::min(d->caret, d->text.size());
        d->anchor = d->caret;
        Changed(hwnd, *d, true);
        return TRUE;
    }
    case EM_EMPTYUNDOBUFFER:
        d->canUndo = false;
        d->undoText.clear();
        return 0;
    case EM_GETLINECOUNT:
        return Multiline(hwnd) ? static_cast<LRESULT>(LineStarts(d->text).size()) : 1;
    case EM_LINEINDEX: {
        const auto starts = LineStarts(d->text);
        const auto line = static_cast<INT_PTR>(wParam);
        if (line == -1)
            return static_cast<LRESULT>(starts[static_cast<size_t>(LineOf(starts, d->caret))]);
        if (line < 0 || static_cast<size_t>(line) >= starts.size())
            return -1;
        return static_cast<LRESULT>(starts[static_cast<size_t>(line)]);
    }
    case EM_LINEFROMCHAR: {
        const auto starts = LineStarts(d->text);
        const auto index = static_cast<INT_PTR>(wParam);
        return LineOf(starts, index < 0 ? d->SelStart() : std::min(static_cast<size_t>(index), d->text.size()));
    }
    case EM_LINELENGTH: {
        const auto starts = LineStarts(d->text);
        const auto index = static_cast<INT_PTR>(wParam);
        const size_t at = index < 0 ? d->SelStart() : std::min(static_cast<size_t>(index), d->text.size());
        const size_t start = starts[static_cast<size_t>(LineOf(starts, at))];
        return static_cast<LRESULT>(LineEnd(d->text, start) - start);
    }
    case EM_GETLINE: {
        const auto starts = LineStarts(d->text);
        if (wParam >= starts.size() || !lParam)
            return 0;
        const size_t start = starts[wParam];
        const std::u16string line = d->text.substr(start, LineEnd(d->text, start) - start);
        auto* buffer = reinterpret_cast<char16_t*>(lParam);
        const size_t room = *reinterpret_cast<const WORD*>(buffer);
        const size_t n = std::min(room, line.size());
        line.copy(buffer, n); // not terminated, as on Windows
        return static_cast<LRESULT>(n);
    }
    case WM_CHAR: {
        NoteKeyMessage(msg, wParam);
        const auto c = static_cast<char16_t>(wParam);
        if (style & ES_READONLY)
            return 0;
        if (c == 8) { // backspace
            if (d->anchor == d->caret) {
                if (d->caret == 0)
                    return 0;
                size_t from = d->caret - 1;
                if (from > 0 && d->text[from] == u'\n' && d->text[from - 1] == u'\r')
                    --from;
                d->anchor = from;
            }
            ReplaceSelection(hwnd, *d, u"", true);
            return 0;
        }
        if (c == u'\r') {
            if (style & ES_MULTILINE)
                ReplaceSelection(hwnd, *d, u"\r\n", true);
            return 0;
        }
        if (c == u'\t' && (style & ES_MULTILINE)) {
            ReplaceSelection(hwnd, *d, u"\t", true);
            return 0;
        }
        if (c < 0x20 || c == 0x7F)
            return 0; // other control characters are not text
        if ((style & ES_NUMBER) && (c < u'0' || c > u'9'))
            return 0;
        char16_t ch = c;
        if ((style & ES_UPPERCASE) && ch >= u'a' && ch <= u'z')
            ch = static_cast<char16_t>(ch - u'a' + u'A');
        if ((style & ES_LOWERCASE) && ch >= u'A' && ch <= u'Z')
            ch = static_cast<char16_t>(ch - u'A' + u'a');
        ReplaceSelection(hwnd, *d, std::u16string(1, ch), true);
        return 0;
    }
    case WM_KEYDOWN:
    case WM_KEYUP:
        NoteKeyMessage(msg, wParam);
        if (msg == WM_KEYUP)
            return 0;
        switch (wParam) {
        case VK_DELETE:
            if (style & ES_READONLY)
                return 0;
            if (d->anchor == d->caret) {
                if (d->caret >= d->text.size())
                    return 0;
                d->anchor = d->caret + ((d->text.compare(d->caret, 2, u"\r\n") == 0) ? 2 : 1);
            }
            ReplaceSelection(hwnd, *d, u"", true);
            return 0;
        case VK_LEFT:
            MoveCaret(hwnd, *d, d->caret == 0 ? 0 : d->caret - 1);
            return 0;
        case VK_RIGHT:
            MoveCaret(hwnd, *d, std::min(d->caret + 1, d->text.size()));
            return 0;
        case VK_HOME:
            MoveCaret(hwnd, *d,
                      Multiline(hwnd) ? LineStarts(d->text)[static_cast<size_t>(LineOf(LineStarts(d->text), d->caret))]
                                      : 0);
            return 0;
        case VK_END:
            MoveCaret(hwnd, *d, Multiline(hwnd) ? LineEnd(d->text, d->caret) : d->text.size());
            return 0;
        default:
            return 0;
        }
    case WM_LBUTTONDOWN:
        if (GetFocus() != hwnd)
            SetFocus(hwnd);
        return 0;
    case WM_SETFOCUS:
        d->focused = true;
        InvalidateRect(hwnd, nullptr, FALSE);
        NotifyParent(hwnd, EN_SETFOCUS);
        return 0;
    case WM_KILLFOCUS:
        d->focused = false;
        InvalidateRect(hwnd, nullptr, FALSE);
        NotifyParent(hwnd, EN_KILLFOCUS);
        return 0;
    case WM_ENABLE:
        InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}

// What an edit control shows: its text, or password characters in its place.
std::u16string EditDisplayText(HWND hwnd) {
    EditData* d = GetData<EditData>(hwnd);
    if (!d)
        return {};
    if (d->passwordChar && !(Style(hwnd) & ES_MULTILINE))
        return std::u16string(d->text.size(), d->passwordChar);
    return d->text;
}

} // namespace platform::ui::stdctl
