// CThemeLibrary: the visual-styles library UxTheme.dll, bound at run time.
//
// The program runs where visual styles exist and where they do not, so it never links the library: the one object
// g_themeLibrary loads it when the program starts and offers each of its functions as a member of the same name and
// arguments. Each call looks the entry point up by name (no caching) and passes its result on unchanged. Where the
// library is missing, or lacks the entry point, the member returns a fixed answer instead: E_FAIL for HRESULT
// results, 0 (FALSE, null) for truth values, handles and numbers, white for GetThemeSysColor, and nothing at all for
// SetThemeAppProperties. Callers test the answers and fall back to classic drawing.
#pragma once

#include "platform/base/errors.h"
#include "platform/base/types.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/imagelist.h"

// The library's own types.
DECLARE_HANDLE(HTHEME);

struct MARGINS {
    int cxLeftWidth;
    int cxRightWidth;
    int cyTopHeight;
    int cyBottomHeight;
};

constexpr int MAX_INTLIST_COUNT = 402;
struct INTLIST {
    int iValueCount;
    int iValues[MAX_INTLIST_COUNT];
};

enum THEMESIZE { TS_MIN, TS_TRUE, TS_DRAW };
enum PROPERTYORIGIN { PO_STATE, PO_PART, PO_CLASS, PO_GLOBAL, PO_NOTFOUND };

class CThemeLibrary {
public:
    // Loads the library of that name (the program's object loads "UxTheme.dll"); a library that cannot be loaded
    // leaves every member to its fixed answer.
    explicit CThemeLibrary(LPCWSTR lpszLibrary = u"UxTheme.dll");
    // Frees the library.
    ~CThemeLibrary();
    CThemeLibrary(const CThemeLibrary&) = delete;
    CThemeLibrary& operator=(const CThemeLibrary&) = delete;

    // Whether the library was loaded.
    BOOL IsLoaded() const { return m_hModule != nullptr; }
    // Exchanges the libraries of two objects.
    void Swap(CThemeLibrary& other);

    HTHEME OpenThemeData(HWND hwnd, LPCWSTR pszClassList) const;
    HRESULT CloseThemeData(HTHEME hTheme) const;
    HRESULT DrawThemeBackground(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pRect,
                                const RECT* pClipRect) const;
    HRESULT DrawThemeText(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, LPCWSTR pszText, int iCharCount,
                          DWORD dwTextFlags, DWORD dwTextFlags2, const RECT* pRect) const;
    HRESULT GetThemeBackgroundContentRect(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pBoundingRect,
                                          RECT* pContentRect) const;
    HRESULT GetThemeBackgroundExtent(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pContentRect,
                                     RECT* pExtentRect) const;
    HRESULT GetThemePartSize(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, RECT* prc, THEMESIZE eSize,
                             SIZE* psz) const;
    HRESULT GetThemeTextExtent(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, LPCWSTR pszText, int iCharCount,
                               DWORD dwTextFlags, const RECT* pBoundingRect, RECT* pExtentRect) const;
    HRESULT GetThemeTextMetrics(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, TEXTMETRICW* ptm) const;
    HRESULT GetThemeBackgroundRegion(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pRect,
                                     HRGN* pRegion) const;
    HRESULT HitTestThemeBackground(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, DWORD dwOptions,
                                   const RECT* pRect, HRGN hrgn, POINT ptTest, WORD* pwHitTestCode) const;
    HRESULT DrawThemeEdge(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pDestRect, UINT uEdge,
                          UINT uFlags, RECT* pContentRect) const;
    HRESULT DrawThemeIcon(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pRect, HIMAGELIST himl,
                          int iImageIndex) const;
    BOOL IsThemePartDefined(HTHEME hTheme, int iPartId, int iStateId) const;
    BOOL IsThemeBackgroundPartiallyTransparent(HTHEME hTheme, int iPartId, int iStateId) const;
    HRESULT GetThemeColor(HTHEME hTheme, int iPartId, int iStateId, int iPropId, COLORREF* pColor) const;
    HRESULT GetThemeMetric(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, int iPropId, int* piVal) const;
    HRESULT GetThemeString(HTHEME hTheme, int iPartId, int iStateId, int iPropId, LPWSTR pszBuff,
                           int cchMaxBuffChars) const;
    HRESULT GetThemeBool(HTHEME hTheme, int iPartId, int iStateId, int iPropId, BOOL* pfVal) const;
    HRESULT GetThemeInt(HTHEME hTheme, int iPartId, int iStateId, int iPropId, int* piVal) const;
    HRESULT GetThemeEnumValue(HTHEME hTheme, int iPartId, int iStateId, int iPropId, int* piVal) const;
    HRESULT GetThemePosition(HTHEME hTheme, int iPartId, int iStateId, int iPropId, POINT* pPoint) const;
    HRESULT GetThemeFont(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, int iPropId, LOGFONTW* pFont) const;
    HRESULT GetThemeRect(HTHEME hTheme, int iPartId, int iStateId, int iPropId, RECT* pRect) const;
    HRESULT GetThemeMargins(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, int iPropId, RECT* prc,
                            MARGINS* pMargins) const;
    HRESULT GetThemeIntList(HTHEME hTheme, int iPartId, int iStateId, int iPropId, INTLIST* pIntList) const;
    HRESULT GetThemePropertyOrigin(HTHEME hTheme, int iPartId, int iStateId, int iPropId,
                                   PROPERTYORIGIN* pOrigin) const;
    HRESULT SetWindowTheme(HWND hwnd, LPCWSTR pszSubAppName, LPCWSTR pszSubIdList) const;
    HRESULT GetThemeFilename(HTHEME hTheme, int iPartId, int iStateId, int iPropId, LPWSTR pszThemeFileName,
                             int cchMaxBuffChars) const;
    COLORREF GetThemeSysColor(HTHEME hTheme, int iColorId) const;
    HBRUSH GetThemeSysColorBrush(HTHEME hTheme, int iColorId) const;
    BOOL GetThemeSysBool(HTHEME hTheme, int iBoolId) const;
    int GetThemeSysSize(HTHEME hTheme, int iSizeId) const;
    HRESULT GetThemeSysFont(HTHEME hTheme, int iFontId, LOGFONTW* plf) const;
    HRESULT GetThemeSysString(HTHEME hTheme, int iStringId, LPWSTR pszStringBuff, int cchMaxStringChars) const;
    HRESULT GetThemeSysInt(HTHEME hTheme, int iIntId, int* piValue) const;
    BOOL IsThemeActive() const;
    BOOL IsAppThemed() const;
    HTHEME GetWindowTheme(HWND hwnd) const;
    HRESULT EnableThemeDialogTexture(HWND hwnd, DWORD dwFlags) const;
    BOOL IsThemeDialogTextureEnabled(HWND hwnd) const;
    DWORD GetThemeAppProperties() const;
    void SetThemeAppProperties(DWORD dwFlags) const;
    HRESULT GetCurrentThemeName(LPWSTR pszThemeFileName, int cchMaxNameChars, LPWSTR pszColorBuff, int cchMaxColorChars,
                                LPWSTR pszSizeBuff, int cchMaxSizeChars) const;
    HRESULT GetThemeDocumentationProperty(LPCWSTR pszThemeName, LPCWSTR pszPropertyName, LPWSTR pszValueBuff,
                                          int cchMaxValChars) const;
    HRESULT DrawThemeParentBackground(HWND hwnd, HDC hdc, RECT* prc) const;
    HRESULT EnableTheming(BOOL fEnable) const;

private:
    FARPROC Find(const char* lpszName) const;

    HMODULE m_hModule = nullptr;
};

// The program's one binding, made during static initialisation.
extern CThemeLibrary g_themeLibrary;
