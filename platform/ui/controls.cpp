#include "platform/ui/controls_internal.h"

#include "platform/base/strings.h"
#include "platform/ui/dialog.h"

#include <algorithm>
#include <mutex>

namespace platform::ui {

namespace {

void RegisterOne(LPCWSTR name, WNDPROC proc, UINT style, int extra) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = style;
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = extra;
    wc.lpszClassName = name;
    RegisterSystemClass(wc);
}

} // namespace

void RegisterStandardControls() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The window layer installs its plain "Static" class on first use; make sure that has happened so that the
        // control below replaces it rather than being replaced by it.
        WNDCLASSEXW probe{};
        probe.cbSize = sizeof probe;
        GetClassInfoExW(nullptr, u"Static", &probe);
        using namespace stdctl;
        RegisterOne(WC_BUTTONW, ButtonProc, CS_DBLCLKS | CS_PARENTDC, kExtraBytes);
        RegisterOne(WC_STATICW, StaticProc, CS_DBLCLKS | CS_PARENTDC, kExtraBytes);
        RegisterOne(WC_EDITW, EditProc, CS_DBLCLKS | CS_PARENTDC, kExtraBytes);
        RegisterOne(WC_COMBOBOXW, ComboBoxProc, CS_DBLCLKS | CS_PARENTDC, kExtraBytes);
        RegisterOne(WC_LISTBOXW, ListBoxProc, CS_DBLCLKS | CS_PARENTDC, kExtraBytes);
        RegisterOne(WC_DIALOG, DefDlgProcW, CS_DBLCLKS | CS_SAVEBITS, DLGWINDOWEXTRA);
        RegisterScrollBar();
    });
}

namespace {
// Programs that link the controls have them from the start.
const bool g_registered = (RegisterStandardControls(), true);
} // namespace

namespace stdctl {

std::u16string WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

namespace {
char16_t Fold(char16_t c) {
    if (c >= u'a' && c <= u'z')
        return static_cast<char16_t>(c - u'a' + u'A');
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return static_cast<char16_t>(c - 0x20);
    return c;
}
} // namespace

int CompareNoCase(const std::u16string& a, const std::u16string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = Fold(a[i]), y = Fold(b[i]);
        if (x != y)
            return x < y ? -1 : 1;
    }
    if (a.size() == b.size())
        return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool StartsWithNoCase(const std::u16string& text, const std::u16string& prefix) {
    if (prefix.size() > text.size())
        return false;
    for (size_t i = 0; i < prefix.size(); ++i)
        if (Fold(text[i]) != Fold(prefix[i]))
            return false;
    return true;
}

int ItemList::Insert(const std::u16string& text, int at, bool sort) {
    int index;
    if (sort) {
        auto it = std::upper_bound(items.begin(), items.end(), text, [](const std::u16string& t, const Item& item) {
            return CompareNoCase(t, item.text) < 0;
        });
        index = static_cast<int>(it - items.begin());
    } else if (at == -1) {
        index = static_cast<int>(items.size());
    } else if (at < -1 || at > static_cast<int>(items.size())) {
        return -1;
    } else {
        index = at;
    }
    items.insert(items.begin() + index, Item{text, 0, false});
    return index;
}

int ItemList::Find(int start, const std::u16string& text, bool exact) const {
    const int count = static_cast<int>(items.size());
    if (count == 0)
        return -1;
    if (start < -1 || start >= count)
        start = -1;
    for (int step = 1; step <= count; ++step) {
        const int i = (start + step) % count;
        const auto& t = items[static_cast<size_t>(i)].text;
        if (exact ? CompareNoCase(t, text) == 0 : StartsWithNoCase(t, text))
            return i;
    }
    return -1;
}

} // namespace stdctl
} // namespace platform::ui
