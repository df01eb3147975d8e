// Shared pieces of the standard controls' implementation files.
#pragma once

#include "platform/ui/controls.h"
#include "platform/ui/message.h"
#include "platform/ui/paint_internal.h"
#include "platform/ui/window.h"

#include <memory>
#include <string>
#include <vector>

namespace platform::ui::stdctl {

// Every control keeps its state object in the first pointer of its window extra bytes; the window owns it from
// WM_NCCREATE to WM_NCDESTROY.
constexpr int kStateSlot = 0;
constexpr int kExtraBytes = static_cast<int>(sizeof(LONG_PTR));
constexpr UINT kWmCaptureChanged = 0x0215;

template <typename T> T* GetData(HWND hwnd) {
    return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, kStateSlot));
}

template <typename T> T* CreateData(HWND hwnd) {
    auto data = std::make_unique<T>();
    T* raw = data.get();
    SetWindowLongPtrW(hwnd, kStateSlot, reinterpret_cast<LONG_PTR>(data.release()));
    return raw;
}

template <typename T> void DestroyData(HWND hwnd) {
    std::unique_ptr<T> data(GetData<T>(hwnd));
    SetWindowLongPtrW(hwnd, kStateSlot, 0);
    paint::ForgetControl(hwnd);
}

inline DWORD Style(HWND hwnd) {
    return static_cast<DWORD>(GetWindowLongW(hwnd, GWL_STYLE));
}

// WM_COMMAND to the parent (nothing for a top-level control).
inline void NotifyParent(HWND hwnd, WORD code) {
    HWND parent = GetParent(hwnd);
    if (!parent || !(Style(hwnd) & WS_CHILD))
        return;
    SendMessageW(parent, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(GetDlgCtrlID(hwnd)), code),
                 reinterpret_cast<LPARAM>(hwnd));
}

std::u16string WindowText(HWND hwnd);

// Case-insensitive comparison of texts as list and combo boxes do it.
int CompareNoCase(const std::u16string& a, const std::u16string& b);
bool StartsWithNoCase(const std::u16string& text, const std::u16string& prefix);

// The items of a list box or combo box.
struct Item {
    std::u16string text;
    LRESULT data = 0;
    bool selected = false; // multiple-selection list boxes
};

struct ItemList {
    std::vector<Item> items;

    // Inserts at its sorted place (`sort`), or at `at` (-1: the end); returns the index, -1 when `at` is out of
    // range.
    int Insert(const std::u16string& text, int at, bool sort);
    // First match after `start` (wrapping), -1 when none. Exact: whole text without regard to case; else prefix.
    int Find(int start, const std::u16string& text, bool exact) const;
    bool Valid(int index) const { return index >= 0 && index < static_cast<int>(items.size()); }
};

// Copies a text and its terminator to a caller's buffer that is known to be large enough.
inline LRESULT CopyOut(const std::u16string& text, LPARAM buffer) {
    auto* out = reinterpret_cast<char16_t*>(buffer);
    if (!out)
        return -1;
    text.copy(out, text.size());
    out[text.size()] = 0;
    return static_cast<LRESULT>(text.size());
}

// Private message of the combo box: the user picks item wParam from the dropped list (input.h).
constexpr UINT kComboChooseItem = 0x03F0;

// Window procedures of the standard controls.
LRESULT CALLBACK ButtonProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK StaticProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK EditProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ComboBoxProc(HWND, UINT, WPARAM, LPARAM);
LRESULT CALLBACK ListBoxProc(HWND, UINT, WPARAM, LPARAM);

// The image a static control shows, and its kind (IMAGE_ICON or IMAGE_BITMAP).
HANDLE StaticImage(HWND hwnd, WPARAM* kind);

// What an edit control shows (password characters for a password control).
std::u16string EditDisplayText(HWND hwnd);

// Unchecks the other automatic radio buttons of the button's group (called when it becomes checked by a click).
void UncheckGroupRadios(HWND button);

} // namespace platform::ui::stdctl

namespace platform::ui {

// Installs the scroll bar control class (scrollbar.cpp).
void RegisterScrollBar();

} // namespace platform::ui
