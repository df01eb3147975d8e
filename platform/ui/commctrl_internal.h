// Internal helpers of the common controls, shared by their implementation files only.
#pragma once

#include "platform/ui/commctrl.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/paint.h"

#include <memory>
#include <string>

namespace platform::ui::controls {

// Fixed text metrics of the headless controls.
constexpr int kCharWidth = 6;
constexpr int kTextPadding = 2;
inline int TextWidth(const std::u16string& text) {
    return static_cast<int>(text.size()) * kCharWidth + 2 * kTextPadding;
}

// Each control keeps its state in an object that the first window-extra slot points at; it is made on
// WM_NCCREATE and deleted on WM_NCDESTROY.
constexpr int kStateBytes = static_cast<int>(sizeof(void*));

template <class T> T* StateOf(HWND hwnd) {
    return reinterpret_cast<T*>(GetWindowLongPtrW(hwnd, 0));
}

template <class T, class... Args> T* CreateState(HWND hwnd, Args&&... args) {
    auto state = std::make_unique<T>(std::forward<Args>(args)...);
    SetWindowLongPtrW(hwnd, 0, reinterpret_cast<LONG_PTR>(state.get()));
    return state.release();
}

template <class T> void DestroyState(HWND hwnd) {
    std::unique_ptr<T> state(StateOf<T>(hwnd));
    SetWindowLongPtrW(hwnd, 0, 0);
}

// Sends a notification to the control's parent: fills the header and returns the parent's answer.
inline LRESULT Notify(HWND control, NMHDR& header, UINT code) {
    header.hwndFrom = control;
    header.idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(control));
    header.code = code;
    HWND parent = GetParent(control);
    if (!parent)
        return 0;
    return SendMessageW(parent, WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
}

inline LRESULT NotifySimple(HWND control, UINT code) {
    NMHDR header{};
    return Notify(control, header, code);
}

// Copies a text into a caller's buffer (at most max-1 characters, terminated); nothing for a null buffer.
inline void CopyOut(const std::u16string& text, LPWSTR buffer, int max) {
    if (!buffer || max <= 0)
        return;
    const size_t n = std::min(text.size(), static_cast<size_t>(max - 1));
    text.copy(buffer, n);
    buffer[n] = 0;
}

inline std::u16string TextOf(LPCWSTR text) {
    return text ? std::u16string(text) : std::u16string();
}

inline POINT PointFromLParam(LPARAM lParam) {
    return POINT{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
}

// Registers one control class with the state slot.
void RegisterControlClass(LPCWSTR name, WNDPROC proc, UINT style = 0);

// Installs the classes (idempotent).
void RegisterTreeView();
void RegisterListView();
void RegisterHeader();
void RegisterTabControl();
void RegisterProgress();
void RegisterTrackbar();
void RegisterTooltip();
void RegisterIpAddress();
void RegisterDateTimePicker();
void RegisterUpDown();
void RegisterAnimate();
void RegisterToolbar();

// Height of a visible header control.
int HeaderHeight();

// The image lists' readers and drawing over the drawing layer (used until another bridge is set).
ImageBridge DrawingLayerImages();

// A state image list of three empty 16 x 16 images (none, unchecked, checked), as check-box controls make.
HIMAGELIST CreateCheckBoxImages();

// The device context a control paints into for WM_PAINT and WM_PRINTCLIENT: the one given in wParam (saved and
// restored around the painting), else the window's own from BeginPaint. dc() is null when there is nothing to
// paint into.
class ControlPaint {
public:
    ControlPaint(HWND hwnd, WPARAM wParam);
    ~ControlPaint();
    ControlPaint(const ControlPaint&) = delete;
    ControlPaint& operator=(const ControlPaint&) = delete;
    HDC dc() const { return m_dc; }
    // The control's font (WM_SETFONT) or the default GUI font, selected into the context.
    void UseFont(HFONT font);

private:
    HWND m_hwnd;
    HDC m_dc = nullptr;
    int m_saved = 0;
    bool m_began = false;
    PAINTSTRUCT m_paint{};
};

// Colours: a control colour, or the system colour when it is CLR_DEFAULT / CLR_NONE.
COLORREF ColorOr(COLORREF color, int sysColor);
// Draws a single line of text in a rectangle (vertically centred, cut with an ellipsis).
void DrawLabel(HDC dc, const std::u16string& text, RECT rect, COLORREF color, UINT align = 0);
void FillColor(HDC dc, const RECT& rect, COLORREF color);
// Width of a label in the font (null: the default GUI font), with the padding on both sides.
int MeasureLabel(HFONT font, const std::u16string& text);
// MeasureLabel for many labels in one font, with one device context for all of them.
class LabelMeasure {
public:
    explicit LabelMeasure(HFONT font);
    ~LabelMeasure();
    LabelMeasure(const LabelMeasure&) = delete;
    LabelMeasure& operator=(const LabelMeasure&) = delete;
    int Width(const std::u16string& text) const;

private:
    HDC m_dc;
};

// Dialog codes a control answers WM_GETDLGCODE with.
constexpr LRESULT kDlgcWantArrows = 0x0001;
constexpr LRESULT kDlgcWantChars = 0x0080;

// Virtual keys not in the window layer's table.
constexpr int kVkAdd = 0x6B;
constexpr int kVkSubtract = 0x6D;
constexpr int kVkMultiply = 0x6A;

} // namespace platform::ui::controls
