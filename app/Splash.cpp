#include "app/Splash.h"

#include "app/XMLLog.h"

#include "platform/base/module.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

#include <vector>

namespace {

// Room for the program's own path, as the window reads it.
constexpr DWORD kModulePathLength = 2048;

// Class styles that keep the window's client area and frame on byte boundaries, and the colour-key flag of
// SetLayeredWindowAttributes, with the system's values.
constexpr UINT kByteAlignClient = 0x1000;
constexpr UINT kByteAlignWindow = 0x2000;
constexpr DWORD kLayeredColorKey = 0x00000001;

constexpr int kWindowExtraBytes = 30;
constexpr int kVersionX = 15;
constexpr int kVersionFromBottom = 25;

struct DCDeleter {
    void operator()(HDC dc) const { DeleteDC(dc); }
};
using MemoryDC = std::unique_ptr<std::remove_pointer_t<HDC>, DCDeleter>;

// Selects an object into a device context for the guard's lifetime.
class SelectGuard {
public:
    SelectGuard(HDC dc, HGDIOBJ object) : m_dc(dc), m_old(SelectObject(dc, object)) {}
    ~SelectGuard() {
        if (m_old)
            SelectObject(m_dc, m_old);
    }
    SelectGuard(const SelectGuard&) = delete;
    SelectGuard& operator=(const SelectGuard&) = delete;
    bool Selected() const { return m_old != nullptr; }

private:
    HDC m_dc;
    HGDIOBJ m_old;
};

} // namespace

CSplash::SetLayeredWindowAttributesProc CSplash::s_pfnSetLayeredWindowAttributes = nullptr;
CSplash* CSplash::s_pSplash = nullptr;

void CSplash::BitmapDeleter::operator()(HBITMAP hBitmap) const {
    DeleteObject(hBitmap);
}

CSplash::CSplash() : m_strClassName(u"SPLASH") {
    // Layered windows are not on every system the program runs on, so the function is looked up rather than linked.
    HMODULE user32 = GetModuleHandleW(u"USER32.DLL");
    s_pfnSetLayeredWindowAttributes =
        user32 ? reinterpret_cast<SetLayeredWindowAttributesProc>(GetProcAddress(user32, "SetLayeredWindowAttributes"))
               : nullptr;
}

CSplash::~CSplash() {
    // The window must not outlive the object it paints.
    if (m_hWnd)
        Hide();
    if (s_pSplash == this)
        s_pSplash = nullptr;
}

BOOL CSplash::SetBitmap(LPCTSTR lpszFileName) {
    HANDLE image = LoadImageW(nullptr, lpszFileName, IMAGE_BITMAP, 0, 0, LR_LOADFROMFILE);
    if (!image) {
        SetBitmap(static_cast<HBITMAP>(nullptr));
        return FALSE;
    }
    return SetBitmap(reinterpret_cast<HBITMAP>(image));
}

BOOL CSplash::SetBitmap(HBITMAP hBitmap) {
    if (hBitmap != m_hBitmap.get())
        m_hBitmap.reset(hBitmap);
    m_nWidth = 0;
    m_nHeight = 0;
    if (!m_hBitmap)
        return TRUE;
    // Only a bitmap has a size to take; any other handle is refused like one whose size cannot be read.
    BITMAP info{};
    if (GetObjectType(m_hBitmap.get()) != OBJ_BITMAP || !GetObjectW(m_hBitmap.get(), sizeof(info), &info)) {
        m_hBitmap.reset();
        return FALSE;
    }
    m_nWidth = info.bmWidth;
    m_nHeight = info.bmHeight;
    return TRUE;
}

void CSplash::DeleteBitmap() {
    m_hBitmap.reset();
    m_nWidth = 0;
    m_nHeight = 0;
}

void CSplash::SetTransparentColor(COLORREF crColor) {
    m_crTransparent = crColor;
    ApplyTransparentColor();
}

void CSplash::ApplyTransparentColor() {
    if (!m_hWnd || !s_pfnSetLayeredWindowAttributes || m_crTransparent == 0)
        return;
    SetWindowLongW(m_hWnd, GWL_EXSTYLE, GetWindowLongW(m_hWnd, GWL_EXSTYLE) | static_cast<LONG>(WS_EX_LAYERED));
    s_pfnSetLayeredWindowAttributes(m_hWnd, m_crTransparent, 0, kLayeredColorKey);
}

HWND CSplash::Show() {
    Hide();

    HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = kByteAlignClient | kByteAlignWindow;
    wc.lpfnWndProc = WindowProc;
    wc.cbWndExtra = kWindowExtraBytes;
    wc.hInstance = instance;
    // The window layer has no cursors: the class goes without the hourglass.
    wc.hCursor = nullptr;
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
    wc.lpszClassName = m_strClassName;
    if (!RegisterClassExW(&wc))
        return nullptr;

    const int x = (GetSystemMetrics(SM_CXFULLSCREEN) - m_nWidth) / 2;
    const int y = (GetSystemMetrics(SM_CYFULLSCREEN) - m_nHeight) / 2;
    m_hWnd = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, m_strClassName, u"Banner", WS_POPUP, x, y, m_nWidth,
                             m_nHeight, nullptr, nullptr, instance, this);
    if (!m_hWnd) {
        // Leave no class behind, so that the next Show can register it again.
        UnregisterClassW(m_strClassName, instance);
        return nullptr;
    }
    ApplyTransparentColor();
    ShowWindow(m_hWnd, SW_SHOW);
    UpdateWindow(m_hWnd);
    return m_hWnd;
}

BOOL CSplash::Hide() {
    if (!m_hWnd)
        return FALSE;
    DestroyWindow(m_hWnd);
    m_hWnd = nullptr;
    UnregisterClassW(m_strClassName, reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr)));
    return TRUE;
}

LRESULT CSplash::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CREATE) {
        s_pSplash = static_cast<CSplash*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
    } else if (message == WM_PAINT && s_pSplash) {
        s_pSplash->Paint(hWnd);
        return 0;
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

void CSplash::Paint(HWND hWnd) {
    // The window is validated even when there is nothing to draw, so it is not asked to paint again and again.
    PAINTSTRUCT ps{};
    HDC dc = BeginPaint(hWnd, &ps);
    if (!dc)
        return;
    if (m_hBitmap) {
        MemoryDC memory(CreateCompatibleDC(dc));
        if (memory) {
            SelectGuard select(memory.get(), m_hBitmap.get());
            if (select.Selected())
                BitBlt(dc, 0, 0, m_nWidth, m_nHeight, memory.get(), 0, 0, SRCCOPY);
        }
        const int saved = SaveDC(dc);
        SetBkMode(dc, TRANSPARENT);
        const CString line = GetVersionLine();
        TextOutW(dc, kVersionX, m_nHeight - kVersionFromBottom, line, line.GetLength());
        RestoreDC(dc, saved);
    }
    EndPaint(hWnd, &ps);
}

void CSplash::GetApVersion(LPCTSTR lpszFilePath, CString& strVersion) {
    // The event log names the program's version by the same rule.
    CXMLLog::GetApVersion(lpszFilePath, strVersion);
}

CString CSplash::GetVersionLine() {
    std::vector<WCHAR> path(kModulePathLength + 1, 0);
    CString version;
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), kModulePathLength);
    if (length > 0 && length < kModulePathLength)
        GetApVersion(path.data(), version);
    CString line;
    line.Format(u"%s %s", u"Version :", static_cast<LPCTSTR>(version));
    return line;
}
