#include "app/ThemeLibrary.h"

#include "platform/base/module.h"

#include <utility>

CThemeLibrary g_themeLibrary;

CThemeLibrary::CThemeLibrary(LPCWSTR lpszLibrary) : m_hModule(LoadLibraryW(lpszLibrary)) {}

CThemeLibrary::~CThemeLibrary() {
    if (m_hModule)
        FreeLibrary(m_hModule);
    m_hModule = nullptr;
}

void CThemeLibrary::Swap(CThemeLibrary& other) {
    std::swap(m_hModule, other.m_hModule);
}

FARPROC CThemeLibrary::Find(const char* lpszName) const {
    return m_hModule ? GetProcAddress(m_hModule, lpszName) : nullptr;
}

HTHEME CThemeLibrary::OpenThemeData(HWND hwnd, LPCWSTR pszClassList) const {
    using Proc = HTHEME (*)(HWND, LPCWSTR);
    auto pfn = reinterpret_cast<Proc>(Find("OpenThemeData"));
    return pfn ? pfn(hwnd, pszClassList) : nullptr;
}

HRESULT CThemeLibrary::CloseThemeData(HTHEME hTheme) const {
    using Proc = HRESULT (*)(HTHEME);
    auto pfn = reinterpret_cast<Proc>(Find("CloseThemeData"));
    return pfn ? pfn(hTheme) : E_FAIL;
}

HRESULT CThemeLibrary::DrawThemeBackground(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pRect,
                                           const RECT* pClipRect) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, const RECT*, const RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("DrawThemeBackground"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pRect, pClipRect) : E_FAIL;
}

HRESULT CThemeLibrary::DrawThemeText(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, LPCWSTR pszText, int iCharCount,
                                     DWORD dwTextFlags, DWORD dwTextFlags2, const RECT* pRect) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, LPCWSTR, int, DWORD, DWORD, const RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("DrawThemeText"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pszText, iCharCount, dwTextFlags, dwTextFlags2, pRect) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeBackgroundContentRect(HTHEME hTheme, HDC hdc, int iPartId, int iStateId,
                                                     const RECT* pBoundingRect, RECT* pContentRect) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, const RECT*, RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeBackgroundContentRect"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pBoundingRect, pContentRect) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeBackgroundExtent(HTHEME hTheme, HDC hdc, int iPartId, int iStateId,
                                                const RECT* pContentRect, RECT* pExtentRect) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, const RECT*, RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeBackgroundExtent"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pContentRect, pExtentRect) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemePartSize(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, RECT* prc, THEMESIZE eSize,
                                        SIZE* psz) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, RECT*, THEMESIZE, SIZE*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemePartSize"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, prc, eSize, psz) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeTextExtent(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, LPCWSTR pszText,
                                          int iCharCount, DWORD dwTextFlags, const RECT* pBoundingRect,
                                          RECT* pExtentRect) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, LPCWSTR, int, DWORD, const RECT*, RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeTextExtent"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pszText, iCharCount, dwTextFlags, pBoundingRect, pExtentRect)
               : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeTextMetrics(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, TEXTMETRICW* ptm) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, TEXTMETRICW*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeTextMetrics"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, ptm) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeBackgroundRegion(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pRect,
                                                HRGN* pRegion) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, const RECT*, HRGN*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeBackgroundRegion"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pRect, pRegion) : E_FAIL;
}

HRESULT CThemeLibrary::HitTestThemeBackground(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, DWORD dwOptions,
                                              const RECT* pRect, HRGN hrgn, POINT ptTest, WORD* pwHitTestCode) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, DWORD, const RECT*, HRGN, POINT, WORD*);
    auto pfn = reinterpret_cast<Proc>(Find("HitTestThemeBackground"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, dwOptions, pRect, hrgn, ptTest, pwHitTestCode) : E_FAIL;
}

HRESULT CThemeLibrary::DrawThemeEdge(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pDestRect,
                                     UINT uEdge, UINT uFlags, RECT* pContentRect) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, const RECT*, UINT, UINT, RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("DrawThemeEdge"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pDestRect, uEdge, uFlags, pContentRect) : E_FAIL;
}

HRESULT CThemeLibrary::DrawThemeIcon(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, const RECT* pRect,
                                     HIMAGELIST himl, int iImageIndex) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, const RECT*, HIMAGELIST, int);
    auto pfn = reinterpret_cast<Proc>(Find("DrawThemeIcon"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, pRect, himl, iImageIndex) : E_FAIL;
}

BOOL CThemeLibrary::IsThemePartDefined(HTHEME hTheme, int iPartId, int iStateId) const {
    using Proc = BOOL (*)(HTHEME, int, int);
    auto pfn = reinterpret_cast<Proc>(Find("IsThemePartDefined"));
    return pfn ? pfn(hTheme, iPartId, iStateId) : FALSE;
}

BOOL CThemeLibrary::IsThemeBackgroundPartiallyTransparent(HTHEME hTheme, int iPartId, int iStateId) const {
    using Proc = BOOL (*)(HTHEME, int, int);
    auto pfn = reinterpret_cast<Proc>(Find("IsThemeBackgroundPartiallyTransparent"));
    return pfn ? pfn(hTheme, iPartId, iStateId) : FALSE;
}

HRESULT CThemeLibrary::GetThemeColor(HTHEME hTheme, int iPartId, int iStateId, int iPropId, COLORREF* pColor) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, COLORREF*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeColor"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pColor) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeMetric(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, int iPropId,
                                      int* piVal) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, int, int*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeMetric"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, iPropId, piVal) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeString(HTHEME hTheme, int iPartId, int iStateId, int iPropId, LPWSTR pszBuff,
                                      int cchMaxBuffChars) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, LPWSTR, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeString"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pszBuff, cchMaxBuffChars) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeBool(HTHEME hTheme, int iPartId, int iStateId, int iPropId, BOOL* pfVal) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, BOOL*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeBool"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pfVal) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeInt(HTHEME hTheme, int iPartId, int iStateId, int iPropId, int* piVal) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, int*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeInt"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, piVal) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeEnumValue(HTHEME hTheme, int iPartId, int iStateId, int iPropId, int* piVal) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, int*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeEnumValue"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, piVal) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemePosition(HTHEME hTheme, int iPartId, int iStateId, int iPropId, POINT* pPoint) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, POINT*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemePosition"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pPoint) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeFont(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, int iPropId,
                                    LOGFONTW* pFont) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, int, LOGFONTW*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeFont"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, iPropId, pFont) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeRect(HTHEME hTheme, int iPartId, int iStateId, int iPropId, RECT* pRect) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeRect"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pRect) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeMargins(HTHEME hTheme, HDC hdc, int iPartId, int iStateId, int iPropId, RECT* prc,
                                       MARGINS* pMargins) const {
    using Proc = HRESULT (*)(HTHEME, HDC, int, int, int, RECT*, MARGINS*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeMargins"));
    return pfn ? pfn(hTheme, hdc, iPartId, iStateId, iPropId, prc, pMargins) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeIntList(HTHEME hTheme, int iPartId, int iStateId, int iPropId, INTLIST* pIntList) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, INTLIST*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeIntList"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pIntList) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemePropertyOrigin(HTHEME hTheme, int iPartId, int iStateId, int iPropId,
                                              PROPERTYORIGIN* pOrigin) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, PROPERTYORIGIN*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemePropertyOrigin"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pOrigin) : E_FAIL;
}

HRESULT CThemeLibrary::SetWindowTheme(HWND hwnd, LPCWSTR pszSubAppName, LPCWSTR pszSubIdList) const {
    using Proc = HRESULT (*)(HWND, LPCWSTR, LPCWSTR);
    auto pfn = reinterpret_cast<Proc>(Find("SetWindowTheme"));
    return pfn ? pfn(hwnd, pszSubAppName, pszSubIdList) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeFilename(HTHEME hTheme, int iPartId, int iStateId, int iPropId, LPWSTR pszThemeFileName,
                                        int cchMaxBuffChars) const {
    using Proc = HRESULT (*)(HTHEME, int, int, int, LPWSTR, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeFilename"));
    return pfn ? pfn(hTheme, iPartId, iStateId, iPropId, pszThemeFileName, cchMaxBuffChars) : E_FAIL;
}

COLORREF CThemeLibrary::GetThemeSysColor(HTHEME hTheme, int iColorId) const {
    using Proc = COLORREF (*)(HTHEME, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeSysColor"));
    return pfn ? pfn(hTheme, iColorId) : 0xFFFFFF;
}

HBRUSH CThemeLibrary::GetThemeSysColorBrush(HTHEME hTheme, int iColorId) const {
    using Proc = HBRUSH (*)(HTHEME, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeSysColorBrush"));
    return pfn ? pfn(hTheme, iColorId) : nullptr;
}

BOOL CThemeLibrary::GetThemeSysBool(HTHEME hTheme, int iBoolId) const {
    using Proc = BOOL (*)(HTHEME, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeSysBool"));
    return pfn ? pfn(hTheme, iBoolId) : FALSE;
}

int CThemeLibrary::GetThemeSysSize(HTHEME hTheme, int iSizeId) const {
    using Proc = int (*)(HTHEME, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeSysSize"));
    return pfn ? pfn(hTheme, iSizeId) : 0;
}

HRESULT CThemeLibrary::GetThemeSysFont(HTHEME hTheme, int iFontId, LOGFONTW* plf) const {
    using Proc = HRESULT (*)(HTHEME, int, LOGFONTW*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeSysFont"));
    return pfn ? pfn(hTheme, iFontId, plf) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeSysString(HTHEME hTheme, int iStringId, LPWSTR pszStringBuff,
                                         int cchMaxStringChars) const {
    using Proc = HRESULT (*)(HTHEME, int, LPWSTR, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeSysString"));
    return pfn ? pfn(hTheme, iStringId, pszStringBuff, cchMaxStringChars) : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeSysInt(HTHEME hTheme, int iIntId, int* piValue) const {
    using Proc = HRESULT (*)(HTHEME, int, int*);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeSysInt"));
    return pfn ? pfn(hTheme, iIntId, piValue) : E_FAIL;
}

BOOL CThemeLibrary::IsThemeActive() const {
    using Proc = BOOL (*)();
    auto pfn = reinterpret_cast<Proc>(Find("IsThemeActive"));
    return pfn ? pfn() : FALSE;
}

BOOL CThemeLibrary::IsAppThemed() const {
    using Proc = BOOL (*)();
    auto pfn = reinterpret_cast<Proc>(Find("IsAppThemed"));
    return pfn ? pfn() : FALSE;
}

HTHEME CThemeLibrary::GetWindowTheme(HWND hwnd) const {
    using Proc = HTHEME (*)(HWND);
    auto pfn = reinterpret_cast<Proc>(Find("GetWindowTheme"));
    return pfn ? pfn(hwnd) : nullptr;
}

HRESULT CThemeLibrary::EnableThemeDialogTexture(HWND hwnd, DWORD dwFlags) const {
    using Proc = HRESULT (*)(HWND, DWORD);
    auto pfn = reinterpret_cast<Proc>(Find("EnableThemeDialogTexture"));
    return pfn ? pfn(hwnd, dwFlags) : E_FAIL;
}

BOOL CThemeLibrary::IsThemeDialogTextureEnabled(HWND hwnd) const {
    using Proc = BOOL (*)(HWND);
    auto pfn = reinterpret_cast<Proc>(Find("IsThemeDialogTextureEnabled"));
    return pfn ? pfn(hwnd) : FALSE;
}

DWORD CThemeLibrary::GetThemeAppProperties() const {
    using Proc = DWORD (*)();
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeAppProperties"));
    return pfn ? pfn() : 0;
}

void CThemeLibrary::SetThemeAppProperties(DWORD dwFlags) const {
    using Proc = void (*)(DWORD);
    if (auto pfn = reinterpret_cast<Proc>(Find("SetThemeAppProperties")))
        pfn(dwFlags);
}

HRESULT CThemeLibrary::GetCurrentThemeName(LPWSTR pszThemeFileName, int cchMaxNameChars, LPWSTR pszColorBuff,
                                           int cchMaxColorChars, LPWSTR pszSizeBuff, int cchMaxSizeChars) const {
    using Proc = HRESULT (*)(LPWSTR, int, LPWSTR, int, LPWSTR, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetCurrentThemeName"));
    return pfn ? pfn(pszThemeFileName, cchMaxNameChars, pszColorBuff, cchMaxColorChars, pszSizeBuff, cchMaxSizeChars)
               : E_FAIL;
}

HRESULT CThemeLibrary::GetThemeDocumentationProperty(LPCWSTR pszThemeName, LPCWSTR pszPropertyName, LPWSTR pszValueBuff,
                                                     int cchMaxValChars) const {
    using Proc = HRESULT (*)(LPCWSTR, LPCWSTR, LPWSTR, int);
    auto pfn = reinterpret_cast<Proc>(Find("GetThemeDocumentationProperty"));
    return pfn ? pfn(pszThemeName, pszPropertyName, pszValueBuff, cchMaxValChars) : E_FAIL;
}

HRESULT CThemeLibrary::DrawThemeParentBackground(HWND hwnd, HDC hdc, RECT* prc) const {
    using Proc = HRESULT (*)(HWND, HDC, RECT*);
    auto pfn = reinterpret_cast<Proc>(Find("DrawThemeParentBackground"));
    return pfn ? pfn(hwnd, hdc, prc) : E_FAIL;
}

HRESULT CThemeLibrary::EnableTheming(BOOL fEnable) const {
    using Proc = HRESULT (*)(BOOL);
    auto pfn = reinterpret_cast<Proc>(Find("EnableTheming"));
    return pfn ? pfn(fEnable) : E_FAIL;
}
