#include "platform/ui/commctrl_internal.h"

#include "platform/base/errors.h"
#include "platform/gdi/wingdi.h"

namespace platform::ui::controls {

void RegisterControlClass(LPCWSTR name, WNDPROC proc, UINT style) {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = style | CS_GLOBALCLASS;
    wc.lpfnWndProc = proc;
    wc.cbWndExtra = kStateBytes;
    wc.lpszClassName = name;
    RegisterSystemClass(wc);
}

ControlPaint::ControlPaint(HWND hwnd, WPARAM wParam) : m_hwnd(hwnd), m_dc(reinterpret_cast<HDC>(wParam)) {
    if (!m_dc) {
        m_dc = BeginPaint(hwnd, &m_paint);
        m_began = true;
    }
    if (m_dc)
        m_saved = SaveDC(m_dc);
}

ControlPaint::~ControlPaint() {
    if (m_dc && m_saved)
        RestoreDC(m_dc, m_saved);
    if (m_began)
        EndPaint(m_hwnd, &m_paint);
    else
        ValidateRect(m_hwnd, nullptr);
}

void ControlPaint::UseFont(HFONT font) {
    if (m_dc)
        SelectObject(m_dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
}

COLORREF ColorOr(COLORREF color, int sysColor) {
    return (color == CLR_DEFAULT || color == CLR_NONE) ? GetSysColor(sysColor) : color;
}

void DrawLabel(HDC dc, const std::u16string& text, RECT rect, COLORREF color, UINT align) {
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, color);
    rect.left += kTextPadding;
    rect.right -= kTextPadding;
    if (rect.right > rect.left)
        DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &rect,
                  DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS | align);
}

void FillColor(HDC dc, const RECT& rect, COLORREF color) {
    HBRUSH brush = CreateSolidBrush(color);
    FillRect(dc, &rect, brush);
    DeleteObject(brush);
}

LabelMeasure::LabelMeasure(HFONT font) : m_dc(CreateCompatibleDC(nullptr)) {
    if (m_dc)
        SelectObject(m_dc, font ? static_cast<HGDIOBJ>(font) : GetStockObject(DEFAULT_GUI_FONT));
}

LabelMeasure::~LabelMeasure() {
    if (m_dc)
        DeleteDC(m_dc);
}

int LabelMeasure::Width(const std::u16string& text) const {
    if (!m_dc)
        return TextWidth(text);
    SIZE size{};
    const BOOL ok = GetTextExtentPoint32W(m_dc, text.c_str(), static_cast<int>(text.size()), &size);
    return ok ? static_cast<int>(size.cx) + 2 * kTextPadding : TextWidth(text);
}

int MeasureLabel(HFONT font, const std::u16string& text) {
    return LabelMeasure(font).Width(text);
}

namespace {

void RegisterAll() {
    static const bool done = [] {
        RegisterTreeView();
        RegisterListView();
        RegisterHeader();
        RegisterTabControl();
        RegisterProgress();
        RegisterTrackbar();
        RegisterTooltip();
        RegisterIpAddress();
        RegisterDateTimePicker();
        RegisterUpDown();
        RegisterAnimate();
        RegisterToolbar();
        return true;
    }();
    (void)done;
}

// As the common-controls library does when it is loaded, the classes are there before any window is made, so that
// dialog templates can name them; InitCommonControls(Ex) makes sure of it where this file is linked statically.
[[maybe_unused]] const bool g_registeredAtLoad = (RegisterAll(), true);

} // namespace
} // namespace platform::ui::controls

void InitCommonControls() {
    platform::ui::controls::RegisterAll();
}

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* icc) {
    if (!icc || icc->dwSize != sizeof(INITCOMMONCONTROLSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    platform::ui::controls::RegisterAll();
    return TRUE;
}
