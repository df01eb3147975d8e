#include "app/BCMenu.h"

#include "app/MenuMemDC.h"
#include "app/MenuToolBar.h"

#include "platform/afx/ModuleState.h"
#include "platform/afx/WinThread.h"
#include "platform/afx/Wnd.h"
#include "platform/gdi/wingdi.h"
#include "platform/registry/registry.h"
#include "platform/res/resources.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/imagelist.h"
#include "platform/ui/menu.h"
#include "platform/ui/paint.h"
#include "platform/ui/window.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <optional>
#include <set>
#include <utility>

IMPLEMENT_DYNAMIC(BCMenu, CMenu)

int BCMenu::s_drawModeOther = 0;
int BCMenu::s_drawModeThemed = 1;
BOOL BCMenu::s_selectDisabledClassic = TRUE;
BOOL BCMenu::s_selectDisabledXp = FALSE;
BOOL BCMenu::s_xp3dImages = TRUE;

namespace {

constexpr UINT kSeparatorByPosition = MF_BYPOSITION | MF_SEPARATOR | MF_OWNERDRAW; // 0xD00
constexpr UINT kSeparator = MF_SEPARATOR | MF_OWNERDRAW;                           // 0x900
constexpr DWORD kTemporaryBarStyle = 0x50002800;                                   // WS_CHILD | WS_VISIBLE | CBRS_TOP

struct ClassState {
    CImageList sharedImages;
    std::vector<UINT> sharedImageIds;
    std::vector<HMENU> allSubMenus;
    std::optional<BOOL> classicTheme;
    std::optional<int> platform;
};

ClassState& State() {
    static auto* state = new ClassState;
    return *state;
}

void Forget(std::vector<HMENU>& list, HMENU hMenu) {
    list.erase(std::remove(list.begin(), list.end(), hMenu), list.end());
}

// The label and the accelerator of a text ("Open\tCtrl+O").
std::pair<CString, CString> SplitTab(const CString& text) {
    const int tab = text.Find(u'\t');
    if (tab < 0)
        return {text, CString()};
    return {text.Left(tab), text.Mid(tab + 1)};
}

HWND MainOrDesktop() {
    if (CWinThread* pThread = AfxGetThread())
        if (pThread->m_pMainWnd && pThread->m_pMainWnd->GetSafeHwnd())
            return pThread->m_pMainWnd->GetSafeHwnd();
    return ::GetDesktopWindow();
}

HFONT CreateMenuFont() {
    LOGFONTW logFont{};
    ::GetObjectW(::GetStockObject(DEFAULT_GUI_FONT), sizeof logFont, &logFont);
    return ::CreateFontIndirectW(&logFont);
}

void FillSolid(HDC dc, const RECT& rect, COLORREF color) {
    HBRUSH brush = ::CreateSolidBrush(color);
    ::FillRect(dc, &rect, brush);
    ::DeleteObject(brush);
}

void Frame(HDC dc, const RECT& rect, COLORREF color) {
    HBRUSH brush = ::CreateSolidBrush(color);
    ::FrameRect(dc, &rect, brush);
    ::DeleteObject(brush);
}

void Draw3dFrame(HDC dc, const RECT& rect, COLORREF topLeft, COLORREF bottomRight) {
    CDC::FromHandle(dc)->Draw3dRect(&rect, topLeft, bottomRight);
}

// Seven short strokes: the tick of a checked item.
void Tick(HDC dc, int x, int y, COLORREF color) {
    HPEN pen = ::CreatePen(PS_SOLID, 0, color);
    HGDIOBJ old = ::SelectObject(dc, pen);
    constexpr int kStart[] = {2, 3, 4, 3, 2, 1, 0};
    for (int i = 0; i < 7; ++i) {
        ::MoveToEx(dc, x + i, y + kStart[i], nullptr);
        ::LineTo(dc, x + i, y + kStart[i] + 3);
    }
    ::SelectObject(dc, old);
    ::DeleteObject(pen);
}

void RadioDot(HDC dc, int x, int y, COLORREF color) {
    HPEN pen = ::CreatePen(PS_SOLID, 0, color);
    HBRUSH brush = ::CreateSolidBrush(color);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, brush);
    ::Ellipse(dc, x, y, x + 6, y + 6);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(brush);
    ::DeleteObject(pen);
}

// A tool bar that images are read from: a child bar at the top of the main window; without a main window (the
// desktop takes no child windows here) a hidden top-level bar.
BOOL CreateTemporaryBar(CToolBar& bar) {
    if (bar.Create(CWnd::FromHandle(MainOrDesktop()), kTemporaryBarStyle, AFX_IDW_TOOLBAR))
        return TRUE;
    return bar.Create(nullptr, WS_POPUP | CBRS_TOP, AFX_IDW_TOOLBAR);
}

// A colour bitmap of the size, whatever DC it is used with.
HBITMAP CreateColorBitmap(int cx, int cy) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = cx;
    info.bmiHeader.biHeight = -cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    return ::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

// An image of a list drawn on the button face into a bitmap of the list's image size; null when there is none.
HBITMAP ImageToBitmap(CImageList* pList, int nIndex) {
    HICON icon = pList->ExtractIcon(nIndex);
    if (!icon)
        return nullptr;
    int cx = 0, cy = 0;
    ::ImageList_GetIconSize(pList->GetSafeHandle(), &cx, &cy);
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateColorBitmap(cx, cy);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    ::DrawIconEx(dc, 0, 0, icon, cx, cy, 0, ::GetSysColorBrush(COLOR_BTNFACE), DI_NORMAL);
    ::SelectObject(dc, old);
    ::DeleteDC(dc);
    ::DestroyIcon(icon);
    return bitmap;
}

// Every pixel of the bitmap that is not the button face (as a DC realises it) becomes what `change` makes of it.
void Recolor(HBITMAP bitmap, const std::function<COLORREF(COLORREF)>& change) {
    BITMAP info{};
    if (!bitmap || !::GetObjectW(bitmap, sizeof info, &info))
        return;
    HDC dc = ::CreateCompatibleDC(nullptr);
    HBITMAP scratch = CreateColorBitmap(2, 2);
    HGDIOBJ old = ::SelectObject(dc, scratch);
    const RECT all{0, 0, 2, 2};
    ::FillRect(dc, &all, ::GetSysColorBrush(COLOR_BTNFACE));
    const COLORREF face = ::GetPixel(dc, 1, 1);
    ::SelectObject(dc, bitmap);
    for (int y = 0; y < info.bmHeight; ++y)
        for (int x = 0; x < info.bmWidth; ++x) {
            const COLORREF pixel = ::GetPixel(dc, x, y);
            if (pixel != face)
                ::SetPixel(dc, x, y, change(pixel));
        }
    ::SelectObject(dc, old);
    ::DeleteObject(scratch);
    ::DeleteDC(dc);
}

HBITMAP FadedCopy(CImageList* pList, int nIndex) {
    HBITMAP bitmap = ImageToBitmap(pList, nIndex);
    Recolor(bitmap, [](COLORREF c) { return BCMenu::Lighten(c, 0.3); });
    return bitmap;
}

HBITMAP ShadowCopy(CImageList* pList, int nIndex) {
    HBITMAP bitmap = ImageToBitmap(pList, nIndex);
    const COLORREF shadow =
        BCMenu::IsThemedXp() ? ::GetSysColor(COLOR_BTNSHADOW) : BCMenu::Lighten(::GetSysColor(COLOR_BTNSHADOW), 0.49);
    Recolor(bitmap, [shadow](COLORREF) { return shadow; });
    return bitmap;
}

// A bitmap resource of the current resource module, else of the program's own: a bitmap of 16 colours with the
// button colours mapped to the system's, any other as it is.
HBITMAP LoadMenuBitmap(UINT nId) {
    HINSTANCE module = AfxGetResourceHandle();
    HRSRC resource = ::FindResourceW(module, MAKEINTRESOURCEW(nId), RT_BITMAP);
    if (!resource) {
        module = AfxGetInstanceHandle();
        resource = ::FindResourceW(module, MAKEINTRESOURCEW(nId), RT_BITMAP);
    }
    HGLOBAL data = resource ? ::LoadResource(module, resource) : nullptr;
    const void* bytes = data ? ::LockResource(data) : nullptr;
    if (!bytes || ::SizeofResource(module, resource) < sizeof(BITMAPINFOHEADER))
        return nullptr;
    BITMAPINFOHEADER header;
    std::memcpy(&header, bytes, sizeof header);
    const DWORD colors = header.biClrUsed         ? header.biClrUsed
                         : header.biBitCount == 1 ? 2
                         : header.biBitCount == 4 ? 16
                         : header.biBitCount == 8 ? 256
                                                  : 0;
    if (colors == 16)
        return AfxLoadSysColorBitmap(module, resource);
    return reinterpret_cast<HBITMAP>(::LoadImageW(module, MAKEINTRESOURCEW(nId), IMAGE_BITMAP, 0, 0, 0));
}

// The image of a list as an embossed, disabled picture.
void DrawDisabledImage(HDC dc, CImageList* pList, int nIndex, POINT at) {
    HICON icon = pList->ExtractIcon(nIndex);
    if (!icon)
        return;
    ::DrawStateW(dc, nullptr, nullptr, reinterpret_cast<LPARAM>(icon), 0, at.x, at.y, 0, 0, DST_ICON | DSS_DISABLED);
    ::DestroyIcon(icon);
}

} // namespace

// ---- Class-wide state ----

BCMenu::BCMenu() = default;

BCMenu::~BCMenu() {
    DestroyMenuAndItems();
}

int BCMenu::PlatformOf(BOOL bWin9x, DWORD dwMajor, DWORD dwMinor) {
    if (bWin9x) {
        if (dwMajor < 4)
            return 0;
        if (dwMajor == 4 && dwMinor == 10)
            return 3;
        if (dwMajor == 4 && dwMinor == 90)
            return 4;
        return 2;
    }
    if (dwMajor == 4)
        return 5;
    if (dwMajor == 5 && dwMinor == 0)
        return 6;
    // XP and every later system: the themed look and the classic edges both stay.
    return 7;
}

int BCMenu::GetPlatform() {
    ClassState& state = State();
    if (!state.platform) {
        OSVERSIONINFOW info{};
        info.dwOSVersionInfoSize = sizeof info;
        if (::GetVersionExW(&info))
            state.platform = PlatformOf(info.dwPlatformId == 1, info.dwMajorVersion, info.dwMinorVersion);
        else
            state.platform = 1;
    }
    return *state.platform;
}

BOOL BCMenu::IsClassicTheme() {
    ClassState& state = State();
    if (state.classicTheme)
        return *state.classicTheme;
    BOOL bClassic = FALSE;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, u"Software\\Microsoft\\Plus!\\Themes\\Current", 0, KEY_READ, &key) ==
        ERROR_SUCCESS) {
        // The whole value, whatever its length, read as text whether or not it ends with a null.
        DWORD type = 0;
        DWORD size = 0;
        if (::RegQueryValueExW(key, nullptr, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ) && size > 0) {
            std::vector<BYTE> data(size);
            if (::RegQueryValueExW(key, nullptr, nullptr, &type, data.data(), &size) == ERROR_SUCCESS) {
                std::u16string value(size / 2, u'\0');
                std::memcpy(value.data(), data.data(), value.size() * 2);
                value.resize(std::char_traits<char16_t>::length(value.c_str()));
                const CString text(value.c_str());
                const CString suffix(u"Windows Classic.theme");
                bClassic =
                    text.GetLength() >= suffix.GetLength() && text.Right(suffix.GetLength()).CompareNoCase(suffix) == 0;
            }
        }
        ::RegCloseKey(key);
    }
    state.classicTheme = bClassic;
    return bClassic;
}

BOOL BCMenu::IsThemedXp() {
    return GetPlatform() == 7 && !IsClassicTheme();
}

int BCMenu::GetDrawMode() {
    return IsThemedXp() ? s_drawModeThemed : s_drawModeOther;
}

BOOL BCMenu::IsXpStyle() {
    return GetDrawMode() == 1;
}

BOOL BCMenu::GetSelectDisabled() {
    return IsXpStyle() ? s_selectDisabledXp : s_selectDisabledClassic;
}

BOOL BCMenu::HasEdges() {
    return GetPlatform() >= 2;
}

void BCMenu::SetDrawMode(int nMode) {
    s_drawModeOther = s_drawModeThemed = nMode;
}

BOOL BCMenu::IsOurMenu(HMENU hMenu) {
    const auto& all = State().allSubMenus;
    return hMenu && std::find(all.begin(), all.end(), hMenu) != all.end();
}

CImageList& BCMenu::SharedImages() {
    return State().sharedImages;
}

const std::vector<UINT>& BCMenu::SharedImageIds() {
    return State().sharedImageIds;
}

BOOL BCMenu::HasImageTriple(int nIndex) {
    const auto& ids = State().sharedImageIds;
    return nIndex >= 0 && static_cast<size_t>(nIndex) + 2 < ids.size() && ids[nIndex] == ids[nIndex + 1] &&
           ids[nIndex] == ids[nIndex + 2];
}

void BCMenu::ResetClassState() {
    ClassState& state = State();
    state.sharedImages.DeleteImageList();
    state.sharedImageIds.clear();
    state.classicTheme.reset();
    state.platform.reset();
}

COLORREF BCMenu::Lighten(COLORREF color, double factor) {
    if (!(factor > 0.0 && factor <= 1.0))
        return color;
    auto channel = [&](int c) { return static_cast<int>(c + factor * (255 - c)); };
    return RGB(channel(GetRValue(color)), channel(GetGValue(color)), channel(GetBValue(color)));
}

COLORREF BCMenu::Darken(COLORREF color, double factor) {
    if (!(factor > 0.0 && factor <= 1.0))
        return color;
    auto channel = [&](int c) { return static_cast<int>(c - factor * c); };
    return RGB(channel(GetRValue(color)), channel(GetGValue(color)), channel(GetBValue(color)));
}

// ---- Records ----

MenuItemData* BCMenu::GetRecord(int nIndex) const {
    if (nIndex < 0 || nIndex >= GetRecordCount())
        return nullptr;
    return m_items[static_cast<size_t>(nIndex)].get();
}

UINT BCMenu::NormalizeFlags(UINT nFlags, UINT_PTR nID, bool bInsert) const {
    if (nID == 0)
        return bInsert || (nFlags & MF_BYPOSITION) ? kSeparatorByPosition : kSeparator;
    return nFlags | MF_OWNERDRAW;
}

bool BCMenu::CopyImage(CImageList* pSource, int nIndex, std::unique_ptr<CImageList>& target) {
    if (!pSource || !pSource->GetSafeHandle() || nIndex < 0)
        return false;
    HICON icon = pSource->ExtractIcon(nIndex);
    if (!icon)
        return false;
    int cx = 0, cy = 0;
    ::ImageList_GetIconSize(pSource->GetSafeHandle(), &cx, &cy);
    auto list = std::make_unique<CImageList>();
    const bool added = list->Create(cx, cy, ILC_COLORDDB | ILC_MASK, 1, 1) && list->Add(icon) >= 0;
    ::DestroyIcon(icon);
    if (!added)
        return false;
    AddXp3dCopies(*list);
    target = std::move(list);
    return true;
}

void BCMenu::AddXp3dCopies(CImageList& list) {
    if (!IsXpStyle() || !s_xp3dImages || list.GetImageCount() < 1)
        return;
    for (HBITMAP copy : {FadedCopy(&list, 0), ShadowCopy(&list, 0)}) {
        if (!copy)
            continue;
        ::ImageList_AddMasked(list.GetSafeHandle(), copy, ::GetSysColor(COLOR_BTNFACE));
        ::DeleteObject(copy);
    }
}

COLORREF BCMenu::TransparentKey() const {
    return m_useTransparentColor ? m_transparentColor : ::GetSysColor(COLOR_BTNFACE);
}

BOOL BCMenu::AddBitmapResource(CImageList& list, UINT nResourceId) const {
    HBITMAP bitmap = LoadMenuBitmap(nResourceId);
    if (!bitmap)
        return FALSE;
    const int added = ::ImageList_AddMasked(list.GetSafeHandle(), bitmap, TransparentKey());
    ::DeleteObject(bitmap);
    if (added < 0)
        return FALSE;
    AddXp3dCopies(list);
    return TRUE;
}

int BCMenu::AddSharedImage(CImageList* pImages, int nIndex, UINT nID) {
    if (!pImages || !pImages->GetSafeHandle() || nIndex < 0)
        return -1;
    ClassState& state = State();
    int cx = 0, cy = 0;
    ::ImageList_GetIconSize(pImages->GetSafeHandle(), &cx, &cy);
    if (!state.sharedImages.GetSafeHandle() && !state.sharedImages.Create(cx, cy, ILC_COLORDDB | ILC_MASK, 1, 1))
        return -1;
    HICON icon = pImages->ExtractIcon(nIndex);
    if (!icon)
        return -1;
    // In the XP style with 3-D images every shared image comes with its faded and its shadow copy, under the same
    // command id.
    const bool xp3d = IsXpStyle() && s_xp3dImages;
    HBITMAP faded = xp3d ? FadedCopy(pImages, nIndex) : nullptr;
    HBITMAP shadow = xp3d ? ShadowCopy(pImages, nIndex) : nullptr;
    const COLORREF face = ::GetSysColor(COLOR_BTNFACE);
    int answer = -1;
    const auto found = std::find(state.sharedImageIds.begin(), state.sharedImageIds.end(), nID);
    if (found == state.sharedImageIds.end()) {
        answer = state.sharedImages.Add(icon);
        if (answer >= 0) {
            state.sharedImageIds.push_back(nID);
            if (xp3d && faded && shadow &&
                ::ImageList_AddMasked(state.sharedImages.GetSafeHandle(), faded, face) >= 0 &&
                ::ImageList_AddMasked(state.sharedImages.GetSafeHandle(), shadow, face) >= 0) {
                state.sharedImageIds.push_back(nID);
                state.sharedImageIds.push_back(nID);
            }
        }
    } else {
        answer = static_cast<int>(found - state.sharedImageIds.begin());
        state.sharedImages.Replace(answer, icon);
        if (xp3d && faded && shadow && HasImageTriple(answer)) {
            CImageList pair;
            if (pair.Create(cx, cy, ILC_COLORDDB | ILC_MASK, 2, 1) &&
                ::ImageList_AddMasked(pair.GetSafeHandle(), faded, face) >= 0 &&
                ::ImageList_AddMasked(pair.GetSafeHandle(), shadow, face) >= 0)
                for (int i = 0; i < 2; ++i)
                    if (HICON copy = pair.ExtractIcon(i)) {
                        state.sharedImages.Replace(answer + 1 + i, copy);
                        ::DestroyIcon(copy);
                    }
        }
    }
    ::DestroyIcon(icon);
    if (faded)
        ::DeleteObject(faded);
    if (shadow)
        ::DeleteObject(shadow);
    return answer;
}

void BCMenu::AttachSharedImage(MenuItemData& record, int nImageId) {
    const UINT command = static_cast<UINT>(record.commandId);
    if (nImageId < 0) {
        const auto& ids = State().sharedImageIds;
        const auto found = std::find(ids.begin(), ids.end(), command);
        record.sharedImageIndex = found == ids.end() ? -1 : static_cast<int>(found - ids.begin());
        return;
    }
    // The id names a toolbar resource, whose button for the command gives the image of the bitmap of the same id.
    int image = 0;
    {
        CToolBar bar;
        if (CreateTemporaryBar(bar) && bar.LoadToolBar(static_cast<UINT>(nImageId))) {
            const int button = bar.CommandToIndex(command);
            if (button >= 0) {
                UINT id = 0, style = 0;
                bar.GetButtonInfo(button, id, style, image);
                image = std::max(image, 0);
            }
        }
    }
    record.ownImages.reset();
    CImageList temporary;
    if (temporary.Create(m_iconWidth, m_iconHeight, ILC_COLORDDB | ILC_MASK, 1, 1) &&
        AddBitmapResource(temporary, static_cast<UINT>(nImageId)))
        record.sharedImageIndex = AddSharedImage(&temporary, image, command);
}

BOOL BCMenu::AppendItem(LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, int nImageId) {
    nFlags = NormalizeFlags(nFlags, nID, false);
    if (nFlags & MF_POPUP) {
        State().allSubMenus.push_back(reinterpret_cast<HMENU>(nID));
        m_popupHandles.push_back(reinterpret_cast<HMENU>(nID));
    }
    auto record = std::make_unique<MenuItemData>();
    record->flags = nFlags;
    record->commandId = nID;
    record->SetText(lpszText);
    AttachSharedImage(*record, nImageId);
    MenuItemData* pRecord = record.get();
    m_items.push_back(std::move(record));
    const BOOL bDone = ::AppendMenuW(m_hMenu, nFlags, nID, reinterpret_cast<LPCWSTR>(pRecord));
    if (!bDone) {
        m_items.pop_back();
        if (nFlags & MF_POPUP)
            m_popupHandles.pop_back();
    }
    if (bDone && m_loadedFromResource)
        Synchronize();
    return bDone;
}

BOOL BCMenu::AppendItem(LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, CImageList* pImages, int nIndex) {
    nFlags = NormalizeFlags(nFlags, nID, false);
    auto record = std::make_unique<MenuItemData>();
    record->flags = nFlags;
    record->commandId = nID;
    record->SetText(lpszText);
    if (pImages && CopyImage(pImages, nIndex, record->ownImages)) {
        record->imageSource = 0;
        record->ownImageIndex = 0;
    }
    MenuItemData* pRecord = record.get();
    m_items.push_back(std::move(record));
    const BOOL bDone = ::AppendMenuW(m_hMenu, nFlags, nID, reinterpret_cast<LPCWSTR>(pRecord));
    if (!bDone)
        m_items.pop_back();
    return bDone;
}

BOOL BCMenu::AppendItem(UINT nFlags, UINT_PTR nID, LPCTSTR lpszText, CBitmap* pBitmap) {
    if (!pBitmap)
        return AppendItem(lpszText, nFlags, nID, static_cast<CImageList*>(nullptr), 0);
    CImageList temporary;
    temporary.Create(m_iconWidth, m_iconHeight, ILC_COLORDDB | ILC_MASK, 1, 1);
    const COLORREF key = m_useTransparentColor ? m_transparentColor : ::GetSysColor(COLOR_BTNFACE);
    if (temporary.Add(pBitmap, key) < 0)
        return AppendItem(lpszText, nFlags, nID, static_cast<CImageList*>(nullptr), 0);
    return AppendItem(lpszText, nFlags, nID, &temporary, 0);
}

BOOL BCMenu::InsertRecord(UINT nPosition, LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, int nImageId,
                          CImageList* pImages, int nIndex) {
    if (!(nFlags & MF_BYPOSITION)) {
        int position = -1;
        BCMenu* pLevel = FindCommand(nPosition, position);
        if (!pLevel)
            return FALSE;
        return pLevel->InsertRecord(static_cast<UINT>(position), lpszText, nFlags | MF_BYPOSITION, nID, nImageId,
                                    pImages, nIndex);
    }
    const int count = static_cast<int>(::GetMenuItemCount(m_hMenu));
    int position = static_cast<int>(nPosition);
    if (position < 0 || position > count)
        position = count;
    nFlags = NormalizeFlags(nFlags, nID, true);
    auto record = std::make_unique<MenuItemData>();
    record->flags = nFlags;
    record->commandId = nID;
    record->SetText(lpszText);
    if (pImages) {
        record->sharedImageIndex = AddSharedImage(pImages, nIndex, static_cast<UINT>(nID));
    } else {
        AttachSharedImage(*record, nImageId);
    }
    MenuItemData* pRecord = record.get();
    const size_t at = std::min(static_cast<size_t>(position), m_items.size());
    m_items.insert(m_items.begin() + static_cast<std::ptrdiff_t>(at), std::move(record));
    const BOOL bDone =
        ::InsertMenuW(m_hMenu, static_cast<UINT>(position), nFlags, nID, reinterpret_cast<LPCWSTR>(pRecord));
    if (!bDone) {
        m_items.erase(m_items.begin() + static_cast<std::ptrdiff_t>(at));
        return FALSE;
    }
    if (nFlags & MF_POPUP) {
        State().allSubMenus.push_back(reinterpret_cast<HMENU>(nID));
        m_popupHandles.insert(m_popupHandles.begin() + std::min<std::ptrdiff_t>(position, static_cast<std::ptrdiff_t>(
                                                                                              m_popupHandles.size())),
                              reinterpret_cast<HMENU>(nID));
    }
    if (m_loadedFromResource)
        Synchronize();
    return TRUE;
}

BOOL BCMenu::InsertItem(UINT nPosition, LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, int nImageId) {
    return InsertRecord(nPosition, lpszText, nFlags, nID, nImageId, nullptr, 0);
}

BOOL BCMenu::InsertItem(UINT nPosition, LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, CImageList* pImages, int nIndex) {
    return InsertRecord(nPosition, lpszText, nFlags, nID, -1, pImages, nIndex);
}

BOOL BCMenu::ModifyItem(LPCTSTR lpszText, UINT_PTR nID, int nImageId) {
    // Every item of the tree that carries the command; one that is nowhere changes nothing.
    BOOL bAny = FALSE;
    std::set<std::pair<BCMenu*, int>> done;
    MenuItemData* pLast = nullptr;
    for (;;) {
        BCMenu* pLevel = nullptr;
        int position = -1;
        // The next (level, position) of the command not handled yet.
        std::function<bool(BCMenu*)> search = [&](BCMenu* pMenu) -> bool {
            const int count = static_cast<int>(::GetMenuItemCount(pMenu->m_hMenu));
            for (int i = 0; i < count; ++i) {
                if (HMENU hSub = ::GetSubMenu(pMenu->m_hMenu, i)) {
                    if (auto* pSub = dynamic_cast<BCMenu*>(CMenu::FromHandlePermanent(hSub)))
                        if (search(pSub))
                            return true;
                } else if (::GetMenuItemID(pMenu->m_hMenu, i) == static_cast<UINT>(nID) && !done.count({pMenu, i})) {
                    pLevel = pMenu;
                    position = i;
                    return true;
                }
            }
            return false;
        };
        if (!search(this))
            break;
        done.insert({pLevel, position});
        MenuItemData* pRecord = pLevel->GetRecord(position);
        if (!pRecord)
            continue;
        if (lpszText)
            pRecord->SetText(lpszText);
        pRecord->ownImageIndex = -1;
        pRecord->imageSource = -1;
        pRecord->ownImages.reset();
        pRecord->commandId = nID;
        AttachSharedImage(*pRecord, nImageId);
        pRecord->flags = (pRecord->flags & ~MF_BYPOSITION) | MF_OWNERDRAW;
        bAny |= ::ModifyMenuW(pLevel->m_hMenu, static_cast<UINT>(position), pRecord->flags | MF_BYPOSITION, nID,
                              reinterpret_cast<LPCWSTR>(pRecord));
        pLast = pRecord;
    }
    return bAny && pLast;
}

BOOL BCMenu::ModifyItem(LPCTSTR lpszText, UINT_PTR nID, CImageList* pImages, int nIndex) {
    int position = -1;
    if (!FindCommand(nID, position))
        return FALSE;
    if (!ModifyItem(lpszText, nID, -1))
        return FALSE;
    if (!pImages)
        return TRUE;
    const int shared = AddSharedImage(pImages, nIndex, static_cast<UINT>(nID));
    std::function<void(BCMenu*)> mark = [&](BCMenu* pMenu) {
        for (auto& record : pMenu->m_items) {
            if (record->commandId == nID && !(record->flags & MF_POPUP))
                record->sharedImageIndex = shared;
            if (record->flags & MF_POPUP)
                if (auto* pSub =
                        dynamic_cast<BCMenu*>(CMenu::FromHandlePermanent(reinterpret_cast<HMENU>(record->commandId))))
                    mark(pSub);
        }
    };
    mark(this);
    return TRUE;
}

MenuItemData* BCMenu::FindRecordByText(LPCTSTR lpszText) {
    const int count = static_cast<int>(::GetMenuItemCount(m_hMenu));
    for (int i = 0; i < count; ++i) {
        if (HMENU hSub = ::GetSubMenu(m_hMenu, i))
            if (auto* pSub = dynamic_cast<BCMenu*>(CMenu::FromHandlePermanent(hSub)))
                if (MenuItemData* pFound = pSub->FindRecordByText(lpszText))
                    return pFound;
        if (MenuItemData* pRecord = GetRecord(i))
            if (pRecord->GetText() == lpszText)
                return pRecord;
    }
    return nullptr;
}

BOOL BCMenu::ModifyItemByText(LPCTSTR lpszText, LPCTSTR lpszOldText, int nBitmapId) {
    MenuItemData* pRecord = FindRecordByText(lpszOldText);
    if (!pRecord)
        return FALSE;
    if (lpszText)
        pRecord->SetText(lpszText);
    if (nBitmapId >= 0) {
        pRecord->ownImages = std::make_unique<CImageList>();
        if (pRecord->ownImages->Create(m_iconWidth, m_iconHeight, ILC_COLORDDB | ILC_MASK, 1, 1) &&
            AddBitmapResource(*pRecord->ownImages, static_cast<UINT>(nBitmapId))) {
            pRecord->imageSource = nBitmapId;
            pRecord->ownImageIndex = 0;
        } else {
            pRecord->ownImages.reset();
            pRecord->imageSource = -1;
            pRecord->ownImageIndex = -1;
        }
    }
    return TRUE;
}

BOOL BCMenu::InsertItem(UINT nPosition, LPCTSTR lpszText, UINT nFlags, UINT_PTR nID, CBitmap* pBitmap) {
    CImageList temporary;
    if (!pBitmap || !temporary.Create(m_iconWidth, m_iconHeight, ILC_COLORDDB | ILC_MASK, 1, 1) ||
        temporary.Add(pBitmap, TransparentKey()) < 0)
        return InsertRecord(nPosition, lpszText, nFlags, nID, -1, nullptr, 0);
    return InsertRecord(nPosition, lpszText, nFlags, nID, -1, &temporary, 0);
}

BOOL BCMenu::ModifyItem(LPCTSTR lpszText, UINT_PTR nID, CBitmap* pBitmap) {
    CImageList temporary;
    if (!pBitmap || !temporary.Create(m_iconWidth, m_iconHeight, ILC_COLORDDB | ILC_MASK, 1, 1) ||
        temporary.Add(pBitmap, TransparentKey()) < 0)
        return ModifyItem(lpszText, nID, static_cast<CImageList*>(nullptr), 0);
    return ModifyItem(lpszText, nID, &temporary, 0);
}

BOOL BCMenu::ModifyItemSwatch(LPCTSTR lpszText, UINT_PTR nID, COLORREF crFill, COLORREF crBorder, int nHatchStyle,
                              const SIZE* pSize) {
    const SIZE swatch = pSize ? *pSize : SIZE{m_iconWidth, m_iconHeight};
    HDC dc = ::CreateCompatibleDC(nullptr);
    CBitmap bitmap;
    bitmap.Attach(CreateColorBitmap(m_iconWidth, m_iconHeight));
    HGDIOBJ oldBitmap = ::SelectObject(dc, bitmap.m_hObject);
    POINT origin{0, 0};
    if (swatch.cx != m_iconWidth || swatch.cy != m_iconHeight) {
        const RECT cell{0, 0, m_iconWidth, m_iconHeight};
        FillSolid(dc, cell, ::GetSysColor(IsThemedXp() ? COLOR_BTNFACE : COLOR_MENU));
        origin = POINT{(m_iconWidth - swatch.cx) / 2, (m_iconHeight - swatch.cy) / 2};
    }
    HPEN pen = ::CreatePen(PS_SOLID, 1, crBorder);
    HBRUSH brush = nHatchStyle == -1 ? ::CreateSolidBrush(crFill) : ::CreateHatchBrush(nHatchStyle, crFill);
    HGDIOBJ oldPen = ::SelectObject(dc, pen);
    HGDIOBJ oldBrush = ::SelectObject(dc, brush);
    ::Rectangle(dc, origin.x, origin.y, origin.x + swatch.cx, origin.y + swatch.cy);
    ::SelectObject(dc, oldBrush);
    ::SelectObject(dc, oldPen);
    ::DeleteObject(brush);
    ::DeleteObject(pen);
    ::SelectObject(dc, oldBitmap);
    ::DeleteDC(dc);
    return ModifyItem(lpszText, nID, &bitmap);
}

BOOL BCMenu::LoadToolbarImages(UINT nToolBar) {
    CMenuToolBar bar;
    if (!CreateTemporaryBar(bar) || !bar.LoadToolBarResource(nToolBar))
        return FALSE;
    int cx = 0, cy = 0;
    bar.GetImageSize(cx, cy);
    m_iconWidth = std::max(m_iconWidth, cx);
    m_iconHeight = std::max(m_iconHeight, cy);
    CImageList strip;
    if (!strip.Create(m_iconWidth, m_iconHeight, ILC_COLORDDB | ILC_MASK, 1, 1) ||
        ::ImageList_AddMasked(strip.GetSafeHandle(), bar.GetBitmap(), TransparentKey()) < 0)
        return FALSE;
    for (int i = 0; i < bar.GetCount(); ++i) {
        UINT id = 0, style = 0;
        int image = 0;
        bar.GetButtonInfo(i, id, style, image);
        if (id == 0 || ::GetMenuState(m_hMenu, id, MF_BYCOMMAND) == static_cast<UINT>(-1))
            continue;
        // The button's own image: a bar that begins with a separator does not shift the images.
        ModifyItem(nullptr, id, &strip, std::max(image, 0));
    }
    return TRUE;
}

BOOL BCMenu::LoadToolbarImages(const UINT* pToolBars, int nCount) {
    BOOL bAll = pToolBars != nullptr;
    for (int i = 0; pToolBars && i < nCount; ++i)
        bAll = LoadToolbarImages(pToolBars[i]) && bAll;
    return bAll;
}

BOOL BCMenu::LoadToolbarImages(CToolBar* pToolBar, UINT nBitmapId) {
    if (!pToolBar)
        return FALSE;
    BOOL bAll = TRUE;
    for (int i = 0; i < pToolBar->GetCount(); ++i) {
        UINT id = 0, style = 0;
        int image = 0;
        pToolBar->GetButtonInfo(i, id, style, image);
        if (id == 0 || ::GetMenuState(m_hMenu, id, MF_BYCOMMAND) == static_cast<UINT>(-1))
            continue;
        // Only a command the menu has gets an image: no record is made without an item behind it.
        int position = -1;
        BCMenu* pLevel = FindCommand(id, position);
        MenuItemData* pRecord = pLevel ? pLevel->GetRecord(position) : nullptr;
        if (!pRecord)
            continue;
        pRecord->ownImages = std::make_unique<CImageList>();
        if (pRecord->ownImages->Create(m_iconWidth, m_iconHeight, ILC_COLORDDB | ILC_MASK, 1, 1) &&
            AddBitmapResource(*pRecord->ownImages, nBitmapId)) {
            pRecord->imageSource = static_cast<int>(nBitmapId);
            pRecord->ownImageIndex = std::max(image, 0);
        } else {
            pRecord->ownImages.reset();
            pRecord->imageSource = -1;
            pRecord->ownImageIndex = -1;
            bAll = FALSE;
        }
        pRecord->flags = (pRecord->flags & ~MF_BYPOSITION) | MF_OWNERDRAW;
        pRecord->commandId = id;
        ::ModifyMenuW(pLevel->m_hMenu, static_cast<UINT>(position), pRecord->flags | MF_BYPOSITION, id,
                      reinterpret_cast<LPCWSTR>(pRecord));
    }
    return bAll;
}

BCMenu* BCMenu::AppendPopup(LPCTSTR lpszText) {
    auto pSub = std::make_unique<BCMenu>();
    pSub->m_checkImages = m_checkImages;
    pSub->m_checkImagesBorrowed = TRUE;
    pSub->m_checkImageNormalId = m_checkImageNormalId;
    pSub->m_checkImageSelectedId = m_checkImageSelectedId;
    pSub->SetImageCellSize(m_iconWidth, m_iconHeight);
    if (!pSub->CreatePopupMenu())
        return nullptr;
    if (!AppendItem(lpszText, MF_POPUP, reinterpret_cast<UINT_PTR>(pSub->m_hMenu), -1))
        return nullptr;
    // Owned through the sub-menu list: DestroyMenuAndItems deletes it.
    return pSub.release();
}

BOOL BCMenu::SetItemText(UINT nID, LPCTSTR lpszText, UINT nFlags) {
    if (nFlags & MF_BYPOSITION) {
        MenuItemData* pRecord = GetRecord(static_cast<int>(nID));
        if (!pRecord)
            return FALSE;
        pRecord->SetText(lpszText);
        return TRUE;
    }
    int position = -1;
    BCMenu* pLevel = FindCommand(nID, position);
    return pLevel ? pLevel->SetItemText(static_cast<UINT>(position), lpszText, MF_BYPOSITION) : FALSE;
}

BOOL BCMenu::GetItemText(UINT nID, CString& strText, UINT nFlags) {
    if (nFlags & MF_BYPOSITION) {
        MenuItemData* pRecord = GetRecord(static_cast<int>(nID));
        if (!pRecord)
            return FALSE;
        strText = pRecord->GetText();
        return TRUE;
    }
    int position = -1;
    BCMenu* pLevel = FindCommand(nID, position);
    return pLevel ? pLevel->GetItemText(static_cast<UINT>(position), strText, MF_BYPOSITION) : FALSE;
}

CMenu* BCMenu::FindSubMenuByText(LPCTSTR lpszText) {
    const int count = static_cast<int>(::GetMenuItemCount(m_hMenu));
    for (int i = 0; i < count; ++i) {
        CString text;
        GetMenuString(static_cast<UINT>(i), text, MF_BYPOSITION);
        if (text == lpszText)
            return GetSubMenu(i);
    }
    return nullptr;
}

BCMenu* BCMenu::FindSubMenuOfRecord(LPCTSTR lpszText) {
    MenuItemData* pRecord = FindRecordByText(lpszText);
    if (!pRecord)
        return nullptr;
    return dynamic_cast<BCMenu*>(CMenu::FromHandlePermanent(reinterpret_cast<HMENU>(pRecord->commandId)));
}

int BCMenu::FindRecordIndexByText(LPCTSTR lpszText) const {
    bool onlyPopups = !m_items.empty();
    int found = -1;
    for (size_t i = 0; i < m_items.size(); ++i) {
        if (!(m_items[i]->flags & MF_POPUP))
            onlyPopups = false;
        if (found < 0 && m_items[i]->GetText() == lpszText)
            found = static_cast<int>(i);
    }
    return onlyPopups ? -1 : found;
}

MenuItemData* BCMenu::FindRecordByCommand(UINT_PTR nID) {
    for (auto& record : m_items)
        if (record->commandId == nID)
            return record.get();
    int position = -1;
    BCMenu* pLevel = FindCommand(nID, position);
    if (pLevel && pLevel != this)
        return pLevel->FindRecordByCommand(nID);
    return nullptr;
}

BCMenu* BCMenu::FindCommand(UINT_PTR nID, int& nPosition) {
    nPosition = -1;
    const int count = static_cast<int>(::GetMenuItemCount(m_hMenu));
    for (int i = 0; i < count; ++i) {
        if (HMENU hSub = ::GetSubMenu(m_hMenu, i)) {
            if (auto* pSub = dynamic_cast<BCMenu*>(CMenu::FromHandlePermanent(hSub)))
                if (BCMenu* pFound = pSub->FindCommand(nID, nPosition))
                    return pFound;
        } else if (::GetMenuItemID(m_hMenu, i) == static_cast<UINT>(nID)) {
            nPosition = i;
            return this;
        }
    }
    return nullptr;
}

// ---- Removing ----

BOOL BCMenu::RemoveOrDelete(UINT nPosition, UINT nFlags, Removal how) {
    if (!(nFlags & MF_BYPOSITION)) {
        int position = -1;
        BCMenu* pLevel = FindCommand(nPosition, position);
        if (!pLevel)
            return how == Removal::Remove ? CMenu::RemoveMenu(nPosition, nFlags) : CMenu::DeleteMenu(nPosition, nFlags);
        return pLevel->RemoveOrDelete(static_cast<UINT>(position), MF_BYPOSITION, how);
    }
    const int position = static_cast<int>(nPosition);
    if (HMENU hSub = ::GetSubMenu(m_hMenu, position)) {
        Forget(m_popupHandles, hSub);
        for (auto it = m_items.rbegin(); it != m_items.rend(); ++it)
            if ((*it)->commandId == reinterpret_cast<UINT_PTR>(hSub)) {
                m_items.erase(std::next(it).base());
                break;
            }
        if (how == Removal::Delete) {
            // The sub-menu goes with its object and its items.
            Forget(State().allSubMenus, hSub);
            const BOOL bDone = CMenu::RemoveMenu(nPosition, MF_BYPOSITION);
            if (auto* pSub = dynamic_cast<BCMenu*>(CMenu::FromHandlePermanent(hSub)))
                delete pSub;
            else
                ::DestroyMenu(hSub);
            return bDone;
        }
        // Removed, the sub-menu and its object stay for the caller, who holds its handle.
        return CMenu::RemoveMenu(nPosition, MF_BYPOSITION);
    }
    const UINT state = ::GetMenuState(m_hMenu, nPosition, MF_BYPOSITION);
    if (state == static_cast<UINT>(-1))
        return FALSE;
    if (state & MF_SEPARATOR) {
        if (position < GetRecordCount() && (how == Removal::Remove || m_items[position]->GetText().IsEmpty()))
            m_items.erase(m_items.begin() + position);
    } else {
        // The record at the item's position: the one that is the item's data.
        const UINT id = ::GetMenuItemID(m_hMenu, position);
        if (position < GetRecordCount() && m_items[position]->commandId == id) {
            m_items.erase(m_items.begin() + position);
        } else {
            for (auto it = m_items.begin(); it != m_items.end(); ++it)
                if ((*it)->commandId == id) {
                    m_items.erase(it);
                    break;
                }
        }
    }
    return how == Removal::Remove ? CMenu::RemoveMenu(nPosition, MF_BYPOSITION)
                                  : CMenu::DeleteMenu(nPosition, MF_BYPOSITION);
}

BOOL BCMenu::RemoveMenu(UINT nPosition, UINT nFlags) {
    return RemoveOrDelete(nPosition, nFlags, Removal::Remove);
}

BOOL BCMenu::DeleteMenu(UINT nPosition, UINT nFlags) {
    return RemoveOrDelete(nPosition, nFlags, Removal::Delete);
}

int BCMenu::RemoveOrDeleteByText(LPCTSTR lpszText, int nOption, Removal how) {
    const int index = FindRecordIndexByText(lpszText);
    if (index < 0)
        return -1;
    RemoveOrDelete(static_cast<UINT>(index), MF_BYPOSITION, how);
    const int more = nOption == 1 || nOption == 2 ? 1 : nOption == 3 ? 2 : 0;
    for (int i = 1; i <= more && index - i >= 0; ++i)
        RemoveOrDelete(static_cast<UINT>(index - i), MF_BYPOSITION, how);
    return index;
}

int BCMenu::RemoveByText(LPCTSTR lpszText, int nOption) {
    return RemoveOrDeleteByText(lpszText, nOption, Removal::Remove);
}

int BCMenu::DeleteByText(LPCTSTR lpszText, int nOption) {
    return RemoveOrDeleteByText(lpszText, nOption, Removal::Delete);
}

BOOL BCMenu::DestroyMenuAndItems() {
    ClassState& state = State();
    Forget(state.allSubMenus, m_hMenu);
    for (auto it = m_popupHandles.rbegin(); it != m_popupHandles.rend(); ++it) {
        Forget(state.allSubMenus, *it);
        if (auto* pSub = dynamic_cast<BCMenu*>(CMenu::FromHandlePermanent(*it)))
            delete pSub;
    }
    m_popupHandles.clear();
    m_items.clear();
    if (m_checkImages && !m_checkImagesBorrowed)
        delete m_checkImages;
    m_checkImages = nullptr;
    return m_hMenu ? DestroyMenu() : TRUE;
}

BOOL BCMenu::SetCheckImages(int nNormalId, int nSelectedId) {
    if (nNormalId < 1 || nSelectedId < 1)
        return FALSE;
    m_checkImageNormalId = nNormalId;
    m_checkImageSelectedId = nSelectedId;
    if (m_checkImages && !m_checkImagesBorrowed)
        delete m_checkImages;
    m_checkImages = new CImageList;
    m_checkImagesBorrowed = FALSE;
    const COLORREF key = m_useTransparentColor ? m_transparentColor : ::GetSysColor(COLOR_BTNFACE);
    bool ok = m_checkImages->Create(m_iconWidth, m_iconHeight, ILC_MASK, 2, 1) != FALSE;
    for (int id : {nNormalId, nSelectedId}) {
        CBitmap bitmap;
        ok = ok && bitmap.LoadBitmap(static_cast<UINT>(id)) && m_checkImages->Add(&bitmap, key) >= 0;
    }
    if (!ok) {
        delete m_checkImages;
        m_checkImages = nullptr;
        return FALSE;
    }
    return TRUE;
}

// ---- Loading ----

BOOL BCMenu::LoadMenuResource(UINT nIDResource) {
    return LoadMenuResource(MAKEINTRESOURCEW(nIDResource));
}

BOOL BCMenu::LoadMenuResource(LPCTSTR lpszResourceName) {
    HINSTANCE hModule = AfxGetResourceHandle();
    HRSRC hResource = ::FindResourceW(hModule, lpszResourceName, RT_MENU);
    if (!hResource) {
        hModule = AfxGetInstanceHandle();
        hResource = ::FindResourceW(hModule, lpszResourceName, RT_MENU);
    }
    if (!hResource)
        return FALSE;
    HGLOBAL hLoaded = ::LoadResource(hModule, hResource);
    const auto* pBytes = static_cast<const BYTE*>(hLoaded ? ::LockResource(hLoaded) : nullptr);
    if (!pBytes)
        return FALSE;
    const DWORD size = ::SizeofResource(hModule, hResource);
    DestroyMenuAndItems();
    if (!CreatePopupMenu())
        return FALSE;
    State().allSubMenus.push_back(m_hMenu);
    auto word = [&](size_t at) -> WORD {
        WORD value = 0;
        if (at + 2 <= size)
            std::memcpy(&value, pBytes + at, 2);
        return value;
    };
    size_t at = 4 + word(2);
    // The menus being filled, and whether the last item of each was read.
    std::vector<std::pair<BCMenu*, bool>> stack{{this, false}};
    while (!stack.empty() && at + 2 <= size) {
        const WORD options = word(at);
        at += 2;
        WORD id = 0;
        if (!(options & MF_POPUP)) {
            id = word(at);
            at += 2;
        }
        std::u16string text;
        while (at + 2 <= size) {
            const WORD c = word(at);
            at += 2;
            if (!c)
                break;
            text += static_cast<char16_t>(c);
        }
        const UINT flags = options & ~static_cast<UINT>(MF_END);
        BCMenu* pTop = stack.back().first;
        if (options & MF_POPUP) {
            auto* pSub = new BCMenu;
            pSub->m_checkImages = m_checkImages;
            pSub->m_checkImagesBorrowed = TRUE;
            pSub->m_checkImageNormalId = m_checkImageNormalId;
            pSub->m_checkImageSelectedId = m_checkImageSelectedId;
            pSub->SetImageCellSize(m_iconWidth, m_iconHeight);
            pSub->CreatePopupMenu();
            pTop->AppendItem(text.c_str(), flags, reinterpret_cast<UINT_PTR>(pSub->m_hMenu), -1);
            if (options & MF_END)
                stack.back().second = true;
            stack.emplace_back(pSub, false);
        } else {
            pTop->AppendItem(text.c_str(), flags, id, -1);
            if (options & MF_END)
                stack.back().second = true;
            while (!stack.empty() && stack.back().second) {
                stack.back().first->AlignAccelerators();
                stack.pop_back();
            }
        }
    }
    // The top level stays plain text.
    const int count = static_cast<int>(::GetMenuItemCount(m_hMenu));
    for (int i = 0; i < count && i < GetRecordCount(); ++i) {
        MenuItemData& record = *m_items[static_cast<size_t>(i)];
        HMENU hSub = ::GetSubMenu(m_hMenu, i);
        record.flags = hSub ? (MF_BYPOSITION | MF_POPUP) : (MF_BYPOSITION | MF_STRING);
        ::ModifyMenuW(m_hMenu, static_cast<UINT>(i), record.flags,
                      hSub ? reinterpret_cast<UINT_PTR>(hSub) : ::GetMenuItemID(m_hMenu, i), record.GetText());
    }
    m_loadedFromResource = TRUE;
    return TRUE;
}

void BCMenu::AlignAccelerators() {
    HWND hwnd = MainOrDesktop();
    HDC dc = ::GetDC(hwnd);
    HFONT font = CreateMenuFont();
    HGDIOBJ old = ::SelectObject(dc, font);
    auto width = [&](const CString& text) {
        SIZE extent{};
        ::GetTextExtentPoint32W(dc, text, text.GetLength(), &extent);
        return static_cast<int>(extent.cx);
    };
    int widest = 0;
    for (const auto& record : m_items)
        widest = std::max(widest, width(SplitTab(record->GetText()).first + u" "));
    for (auto& record : m_items) {
        const CString text = record->GetText();
        if (text.Find(u'\t') < 0)
            continue;
        auto [label, accelerator] = SplitTab(text);
        while (width(label) < widest)
            label += u" ";
        record->SetText(label + u"\t" + accelerator);
    }
    ::SelectObject(dc, old);
    ::DeleteObject(font);
    ::ReleaseDC(hwnd, dc);
}

void BCMenu::Synchronize() {
    for (auto& record : m_items)
        record->syncMark = 0;
    std::vector<std::unique_ptr<MenuItemData>> result;
    const int count = static_cast<int>(::GetMenuItemCount(m_hMenu));
    for (int i = 0; i < count; ++i) {
        CString text;
        GetMenuString(static_cast<UINT>(i), text, MF_BYPOSITION);
        const UINT state = ::GetMenuState(m_hMenu, static_cast<UINT>(i), MF_BYPOSITION);
        HMENU hSub = ::GetSubMenu(m_hMenu, i);
        // A pop-up's state carries its item count in the high byte.
        const bool separator = !hSub && (state & MF_SEPARATOR);
        const UINT_PTR id = hSub ? reinterpret_cast<UINT_PTR>(hSub) : separator ? 0 : ::GetMenuItemID(m_hMenu, i);
        auto taken = std::find_if(m_items.begin(), m_items.end(), [&](const std::unique_ptr<MenuItemData>& r) {
            return r && r->syncMark == 0 && r->commandId == id;
        });
        std::unique_ptr<MenuItemData> record;
        if (taken != m_items.end()) {
            record = std::move(*taken);
            record->syncMark = 1;
            if (!text.IsEmpty())
                record->SetText(text);
            if (!hSub && !separator)
                record->flags = (state & 0xFF) | MF_BYPOSITION | MF_OWNERDRAW;
        } else {
            record = std::make_unique<MenuItemData>();
            record->syncMark = 1;
            record->SetText(text);
            record->commandId = id;
            record->flags = (state & 0xFF) | MF_BYPOSITION | MF_OWNERDRAW | (hSub ? MF_POPUP : 0u) |
                            (separator ? kSeparatorByPosition : 0u);
        }
        // A top-level pop-up of a loaded menu stays plain text.
        if (hSub && m_loadedFromResource && (record->flags & MF_OWNERDRAW) == 0) {
            ::ModifyMenuW(m_hMenu, static_cast<UINT>(i), MF_BYPOSITION | MF_POPUP, id, record->GetText());
        } else if (record->flags & MF_OWNERDRAW) {
            ::ModifyMenuW(m_hMenu, static_cast<UINT>(i), record->flags | MF_BYPOSITION | (hSub ? MF_POPUP : 0u), id,
                          reinterpret_cast<LPCWSTR>(record.get()));
        }
        result.push_back(std::move(record));
    }
    m_items = std::move(result);
}

LRESULT BCMenu::MenuChar(UINT nChar, UINT nFlags, CMenu* pMenu) {
    if (!pMenu || !(nFlags & MF_POPUP))
        return 0;
    auto* pOur = dynamic_cast<BCMenu*>(pMenu);
    if (!pOur)
        return 0;
    CString key;
    key.Format(u"&%c", static_cast<int>(nChar));
    key.MakeLower();
    if (static_cast<int>(::GetMenuItemCount(pOur->m_hMenu)) != pOur->GetRecordCount())
        pOur->Synchronize();
    for (int i = 0; i < pOur->GetRecordCount(); ++i) {
        CString text = pOur->m_items[static_cast<size_t>(i)]->GetText();
        text.MakeLower();
        if (text.Find(key) >= 0)
            return MAKELONG(i, MNC_EXECUTE);
    }
    return 0;
}

// ---- Measuring and drawing ----

void BCMenu::MeasureItem(LPMEASUREITEMSTRUCT lpMIS) {
    const auto* pRecord = reinterpret_cast<const MenuItemData*>(lpMIS->itemData);
    const bool xp = IsXpStyle() != FALSE;
    const int gap = xp && s_xp3dImages ? 7 : 4;
    if (pRecord && (pRecord->flags & MF_SEPARATOR)) {
        lpMIS->itemWidth = 0;
        lpMIS->itemHeight = static_cast<UINT>(std::max(::GetSystemMetrics(SM_CYMENU) / 2, (m_iconHeight + gap) / 2));
        return;
    }
    const CString text = pRecord ? pRecord->GetText() : CString();
    HWND hwnd = MainOrDesktop();
    HDC dc = ::GetDC(hwnd);
    HFONT font = CreateMenuFont();
    HGDIOBJ old = GetPlatform() >= 2 ? ::SelectObject(dc, font) : nullptr;
    SIZE extent{};
    if (GetPlatform() != 0)
        ::GetTextExtentPoint32W(dc, text, text.GetLength(), &extent);
    if (old)
        ::SelectObject(dc, old);
    ::DeleteObject(font);
    ::ReleaseDC(hwnd, dc);
    lpMIS->itemWidth = static_cast<UINT>(xp ? m_iconWidth + gap + extent.cx + 8 : extent.cx + 2 * m_iconWidth + 1);
    lpMIS->itemHeight = static_cast<UINT>(std::max(::GetSystemMetrics(SM_CYMENU), m_iconHeight + gap));
}

void BCMenu::DrawItem(LPDRAWITEMSTRUCT lpDIS) {
    if (lpDIS->CtlType != ODT_MENU)
        return;
    const bool palette = (::GetDeviceCaps(lpDIS->hDC, RASTERCAPS) & RC_PALETTE) != 0;
    if (palette || GetDrawMode() != 1)
        DrawClassic(lpDIS);
    else
        DrawXp(lpDIS);
}

namespace {

// What an item shows: its list and image index, or a custom check mark.
struct ImageChoice {
    CImageList* list = nullptr;
    int index = -1;
    int source = -1;
    bool customCheck = false;
    bool hasImage = false;
    bool selImage = false;
    bool disImage = false;
};

} // namespace

void BCMenu::DrawClassic(LPDRAWITEMSTRUCT lpDIS) {
    HDC dc = lpDIS->hDC;
    const auto* pRecord = reinterpret_cast<const MenuItemData*>(lpDIS->itemData);
    const COLORREF background = ::GetSysColor(IsThemedXp() ? COLOR_BTNFACE : COLOR_MENU);
    RECT rect = lpDIS->rcItem;
    const bool grayed = (lpDIS->itemState & ODS_GRAYED) != 0;
    bool selected = (lpDIS->itemState & ODS_SELECTED) != 0;
    const bool checked = (lpDIS->itemState & ODS_CHECKED) != 0;
    if (grayed && selected && !s_selectDisabledClassic)
        selected = false;
    if (pRecord && (pRecord->flags & MF_SEPARATOR)) {
        FillSolid(dc, rect, background);
        rect.top += (rect.bottom - rect.top) / 2;
        ::DrawEdge(dc, &rect, EDGE_ETCHED, BF_TOP);
        return;
    }
    ImageChoice image;
    if (pRecord) {
        image.source = pRecord->imageSource;
        image.index = pRecord->ownImageIndex;
        image.list = pRecord->ownImages.get();
        if (image.source < 0 && pRecord->sharedImageIndex >= 0) {
            image.index = pRecord->sharedImageIndex;
            image.source = 0;
            image.list = &State().sharedImages;
        }
    }
    image.customCheck =
        checked && image.source < 0 && ((selected && m_checkImageSelectedId > 0) || m_checkImageNormalId > 0);
    if (!image.customCheck && image.source != -1) {
        image.hasImage = true;
        image.selImage = selected && !grayed;
        image.disImage = grayed;
    }
    COLORREF textColor = ::GetSysColor(COLOR_MENUTEXT);
    if (selected) {
        RECT bar = rect;
        if (image.customCheck || image.hasImage || checked)
            bar.left = rect.left + m_iconWidth + 5;
        FillSolid(dc, bar, ::GetSysColor(COLOR_HIGHLIGHT));
        textColor = ::GetSysColor(COLOR_HIGHLIGHTTEXT);
    } else {
        FillSolid(dc, rect, background);
        Frame(dc, rect, background);
    }
    const int dy = std::max(0, static_cast<int>((rect.bottom - rect.top - m_iconHeight - 4) / 2));
    const RECT small{rect.left + 1, rect.top + dy + 1, rect.left + m_iconWidth + 3, rect.top + dy + m_iconHeight + 3};
    const RECT large{rect.left, rect.top + dy, rect.left + m_iconWidth + 4, rect.top + dy + m_iconHeight + 4};
    const POINT origin{rect.left + 2, rect.top + dy + 2};
    if (image.customCheck || image.hasImage) {
        Frame(dc, small, background);
        if (image.customCheck && m_checkImages) {
            FillSolid(dc, small, background);
            Frame(dc, large, background);
            m_checkImages->Draw(CDC::FromHandle(dc), selected ? 1 : 0, origin, ILD_TRANSPARENT);
        } else if (image.selImage) {
            FillSolid(dc, small, background);
            if (HasEdges()) {
                if (checked)
                    Draw3dFrame(dc, large, ::GetSysColor(COLOR_BTNSHADOW), ::GetSysColor(COLOR_BTNHIGHLIGHT));
                else
                    Draw3dFrame(dc, large, ::GetSysColor(COLOR_BTNHIGHLIGHT), ::GetSysColor(COLOR_BTNSHADOW));
            }
            if (image.list)
                image.list->Draw(CDC::FromHandle(dc), image.index, origin, ILD_TRANSPARENT);
        } else if (image.disImage) {
            Frame(dc, large, background);
            if (image.list)
                DrawDisabledImage(dc, image.list, image.index, origin);
        } else if (image.hasImage) {
            if (checked) {
                FillSolid(dc, small, Lighten(background, 0.6));
                if (HasEdges())
                    Draw3dFrame(dc, large, ::GetSysColor(COLOR_BTNSHADOW), ::GetSysColor(COLOR_BTNHIGHLIGHT));
            } else {
                FillSolid(dc, small, background);
                Frame(dc, large, background);
            }
            if (image.list)
                image.list->Draw(CDC::FromHandle(dc), image.index, origin, ILD_TRANSPARENT);
        }
    }
    if (checked && image.source < 0 && !image.customCheck) {
        const RECT box{rect.left + 1, rect.top + dy + 2, rect.left + m_iconWidth + 1, rect.top + dy + m_iconHeight + 2};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_CHECKMARKS;
        ::GetMenuItemInfoW(m_hMenu, lpDIS->itemID, FALSE, &info);
        FillSolid(dc, box, selected ? background : Lighten(background, 0.6));
        if (HasEdges()) {
            RECT edge = box;
            ::DrawEdge(dc, &edge, BDR_SUNKENOUTER, BF_RECT);
        }
        if (info.hbmpChecked)
            RadioDot(dc, box.left + 5, box.top + 4, ::GetSysColor(COLOR_MENUTEXT));
        else
            Tick(dc, box.left + 4, box.top + 4, ::GetSysColor(COLOR_MENUTEXT));
    }
    const CString text = pRecord ? pRecord->GetText() : CString();
    if (!text.IsEmpty()) {
        RECT textRect{rect.left + m_iconWidth + 9, rect.top - 1, rect.right, rect.bottom - 1};
        auto [label, accelerator] = SplitTab(text);
        if (text.Find(u'\t') >= 0)
            textRect.right -= m_iconWidth;
        const int oldMode = ::SetBkMode(dc, TRANSPARENT);
        HFONT font = CreateMenuFont();
        HGDIOBJ oldFont = ::SelectObject(dc, font);
        auto draw = [&](RECT r, COLORREF color) {
            ::SetTextColor(dc, color);
            ::DrawTextW(dc, label, label.GetLength(), &r, DT_SINGLELINE | DT_VCENTER);
            if (!accelerator.IsEmpty())
                ::DrawTextW(dc, accelerator, accelerator.GetLength(), &r, DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
        };
        if (!grayed) {
            draw(textRect, textColor);
        } else if (selected) {
            draw(textRect, background);
        } else {
            RECT shifted = textRect;
            ::OffsetRect(&shifted, 1, 1);
            draw(shifted, ::GetSysColor(COLOR_BTNHIGHLIGHT));
            draw(textRect, ::GetSysColor(COLOR_GRAYTEXT));
        }
        ::SelectObject(dc, oldFont);
        ::DeleteObject(font);
        ::SetBkMode(dc, oldMode);
    }
}

void BCMenu::DrawXp(LPDRAWITEMSTRUCT lpDIS) {
    const auto* pRecord = reinterpret_cast<const MenuItemData*>(lpDIS->itemData);
    const bool grayed = (lpDIS->itemState & ODS_GRAYED) != 0;
    bool selected = (lpDIS->itemState & ODS_SELECTED) != 0;
    const bool checked = (lpDIS->itemState & ODS_CHECKED) != 0;
    std::unique_ptr<CMenuMemDC> memory;
    HDC dc = lpDIS->hDC;
    if (grayed && !s_selectDisabledXp) {
        selected = false;
        memory = std::make_unique<CMenuMemDC>(CDC::FromHandle(lpDIS->hDC), lpDIS->rcItem);
        dc = memory->GetSafeHdc();
    }
    const int gap = s_xp3dImages ? 7 : 4;
    const int column = m_iconWidth + gap;
    const RECT rect = lpDIS->rcItem;
    const COLORREF window = ::GetSysColor(COLOR_WINDOW);
    const COLORREF margin = IsThemedXp() ? ::GetSysColor(COLOR_BTNFACE) : Lighten(::GetSysColor(COLOR_BTNFACE), 0.25);
    const COLORREF highlight = ::GetSysColor(COLOR_HIGHLIGHT);
    const COLORREF light = Lighten(highlight, IsThemedXp() ? 0.7 : 0.85);
    const RECT marginRect{rect.left, rect.top, rect.left + column, rect.bottom};
    if (pRecord && (pRecord->flags & MF_SEPARATOR)) {
        FillSolid(dc, rect, window);
        RECT line{marginRect.right + gap, rect.top + (rect.bottom - rect.top) / 2, rect.right, rect.bottom};
        ::DrawEdge(dc, &line, EDGE_ETCHED, BF_TOP);
        FillSolid(dc, marginRect, margin);
        Frame(dc, marginRect, margin);
        return;
    }
    if (selected) {
        FillSolid(dc, rect, light);
        Frame(dc, rect, highlight);
    } else {
        FillSolid(dc, rect, window);
        FillSolid(dc, marginRect, margin);
        Frame(dc, rect, window);
        Frame(dc, marginRect, margin);
    }
    ImageChoice image;
    bool shared = false;
    if (pRecord) {
        image.source = pRecord->imageSource;
        image.index = pRecord->ownImageIndex;
        image.list = pRecord->ownImages.get();
        if (image.source < 0 && pRecord->sharedImageIndex >= 0) {
            image.index = pRecord->sharedImageIndex;
            image.source = 0;
            image.list = &State().sharedImages;
            shared = true;
        }
    }
    image.customCheck =
        checked && image.source < 0 && ((selected && m_checkImageSelectedId > 0) || m_checkImageNormalId > 0);
    image.hasImage = !image.customCheck && image.source != -1;
    auto half = [](int value) { return std::max(0, static_cast<int>(value / 2.0 + 0.5)); };
    const int dy = half(rect.bottom - rect.top - m_iconHeight);
    const int dx = half(column - m_iconWidth);
    POINT origin{rect.left + dx, rect.top + dy};
    const RECT box{rect.left + 1, rect.top + 1, rect.left + column - 1, rect.bottom - 1};
    int faded = -1, shadow = -1;
    // An own image made from one image holds its faded and shadow copies at 1 and 2; a whole strip of a toolbar's
    // images (more than those three) holds other buttons' images there.
    if (!shared && image.index == 0 && s_xp3dImages && image.list && image.list->GetImageCount() == 3) {
        faded = 1;
        shadow = 2;
    } else if (shared && s_xp3dImages && HasImageTriple(image.index)) {
        faded = image.index + 1;
        shadow = image.index + 2;
    }
    CDC* pDC = CDC::FromHandle(dc);
    if (image.customCheck && m_checkImages) {
        FillSolid(dc, box, margin);
        m_checkImages->Draw(pDC, selected ? 1 : 0, origin, ILD_TRANSPARENT);
    } else if (image.hasImage && image.list) {
        if (grayed) {
            DrawDisabledImage(dc, image.list, image.index, origin);
            if (selected)
                Frame(dc, rect, highlight);
        } else if (selected) {
            FillSolid(dc, box, light);
            if (checked) {
                Frame(dc, box, highlight);
                origin.x -= 1;
                origin.y -= 1;
            }
            if (shadow >= 0 && !checked) {
                image.list->Draw(pDC, shadow, POINT{origin.x + 1, origin.y + 1}, ILD_TRANSPARENT);
                image.list->Draw(pDC, image.index, POINT{origin.x - 1, origin.y - 1}, ILD_TRANSPARENT);
            } else {
                image.list->Draw(pDC, image.index, origin, ILD_TRANSPARENT);
            }
        } else if (checked) {
            FillSolid(dc, box, Lighten(highlight, 0.85));
            Frame(dc, box, highlight);
            image.list->Draw(pDC, image.index, POINT{origin.x - 1, origin.y - 1}, ILD_TRANSPARENT);
        } else {
            FillSolid(dc, box, margin);
            Frame(dc, box, margin);
            image.list->Draw(pDC, faded >= 0 ? faded : image.index, origin, ILD_TRANSPARENT);
        }
    }
    if (checked && image.source < 0 && !image.customCheck) {
        const int cy = half(rect.bottom - rect.top - 16);
        const int cx = half(column - 16);
        const RECT check{rect.left + cx, rect.top + cy, rect.left + cx + 16, rect.top + cy + 16};
        MENUITEMINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = MIIM_CHECKMARKS;
        ::GetMenuItemInfoW(m_hMenu, lpDIS->itemID, FALSE, &info);
        FillSolid(dc, check, Lighten(highlight, 0.85));
        Frame(dc, check, highlight);
        if (info.hbmpChecked)
            RadioDot(dc, check.left + 5, check.top + 4, ::GetSysColor(COLOR_MENUTEXT));
        else
            Tick(dc, check.left + 5, check.top + 4, ::GetSysColor(COLOR_MENUTEXT));
    }
    const CString text = pRecord ? pRecord->GetText() : CString();
    if (!text.IsEmpty()) {
        RECT textRect{rect.left + column + 8, rect.top - 1, rect.right, rect.bottom - 1};
        auto [label, accelerator] = SplitTab(text);
        if (text.Find(u'\t') >= 0)
            textRect.right -= m_iconWidth;
        COLORREF color = ::GetSysColor(COLOR_MENUTEXT);
        if (grayed)
            color =
                IsThemedXp() || selected ? ::GetSysColor(COLOR_GRAYTEXT) : Lighten(::GetSysColor(COLOR_GRAYTEXT), 0.4);
        const int oldMode = ::SetBkMode(dc, TRANSPARENT);
        HFONT font = CreateMenuFont();
        HGDIOBJ oldFont = ::SelectObject(dc, font);
        ::SetTextColor(dc, color);
        ::DrawTextW(dc, label, label.GetLength(), &textRect, DT_SINGLELINE | DT_VCENTER);
        if (!accelerator.IsEmpty())
            ::DrawTextW(dc, accelerator, accelerator.GetLength(), &textRect, DT_SINGLELINE | DT_VCENTER | DT_RIGHT);
        ::SelectObject(dc, oldFont);
        ::DeleteObject(font);
        ::SetBkMode(dc, oldMode);
    }
}
