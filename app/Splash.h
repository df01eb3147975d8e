// CSplash: the picture window shown while the program starts, with the program's version written over the bitmap.
//
// It is a plain window of its own class "SPLASH" rather than a framework window, so it can be shown before any
// dialog exists: borderless, top-most, without a taskbar button, centred in the full-screen work area and exactly
// the size of its bitmap. One colour of the bitmap can be keyed out through SetLayeredWindowAttributes, which is
// looked up in USER32 at run time; where the system lacks it the bitmap shows with its key colour.
//
// GUI thread only: the window is served by the thread's message loop.
#pragma once

#include "platform/afx/String.h"
#include "platform/base/types.h"

#include <memory>
#include <type_traits>

class CSplash {
public:
    CSplash();
    ~CSplash();
    CSplash(const CSplash&) = delete;
    CSplash& operator=(const CSplash&) = delete;

    // Loads a bitmap file and takes it (below). FALSE when the file cannot be loaded as a bitmap, which leaves no
    // bitmap.
    BOOL SetBitmap(LPCTSTR lpszFileName);
    // Takes ownership of the bitmap, deleting the previous one, and takes its size as the window's. A null handle
    // leaves no bitmap and succeeds; a handle whose size cannot be read is deleted and the result is FALSE.
    BOOL SetBitmap(HBITMAP hBitmap);
    // The colour keyed out of the window; 0 means none (black cannot be keyed out). Applied at once to a shown
    // window.
    void SetTransparentColor(COLORREF crColor);

    // Destroys a splash window already shown, then registers the class, creates the window centred on the screen
    // and paints it at once. The window, or null when the class or the window cannot be made.
    HWND Show();
    // Destroys the window and unregisters the class. FALSE when no window was shown.
    BOOL Hide();
    // Deletes the bitmap and forgets it.
    void DeleteBitmap();

    HWND GetSafeHwnd() const { return m_hWnd; }
    HBITMAP GetBitmap() const { return m_hBitmap.get(); }
    int GetWidth() const { return m_nWidth; }
    int GetHeight() const { return m_nHeight; }
    COLORREF GetTransparentColor() const { return m_crTransparent; }
    const CString& GetClassName() const { return m_strClassName; }
    // Whether SetLayeredWindowAttributes was found when the last object was constructed.
    static BOOL HasLayeredWindows() { return s_pfnSetLayeredWindowAttributes != nullptr; }

    // The version text of a file: "%d.%d.%d.%d" of its file version, with " Build " and the special build text when
    // that is not empty. The text is unchanged when the file has no version record with a special-build string.
    static void GetApVersion(LPCTSTR lpszFilePath, CString& strVersion);

    // The line the window writes over its bitmap: "Version :", a blank and the running program's version text
    // (empty when the program has none).
    static CString GetVersionLine();

private:
    using SetLayeredWindowAttributesProc = BOOL (*)(HWND, COLORREF, BYTE, DWORD);

    struct BitmapDeleter {
        void operator()(HBITMAP hBitmap) const;
    };
    using BitmapHolder = std::unique_ptr<std::remove_pointer_t<HBITMAP>, BitmapDeleter>;

    static LRESULT WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void ApplyTransparentColor();
    void Paint(HWND hWnd);

    HWND m_hWnd = nullptr;
    COLORREF m_crTransparent = 0;
    int m_nWidth = 0;
    int m_nHeight = 0;
    BitmapHolder m_hBitmap;
    CString m_strClassName;

    // Shared by every object: the system's SetLayeredWindowAttributes (null where it is missing), looked up again
    // by each constructor, and the object whose window is painted, recorded when its window is created.
    static SetLayeredWindowAttributesProc s_pfnSetLayeredWindowAttributes;
    static CSplash* s_pSplash;
};
