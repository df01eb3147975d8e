#include "platform/afx/Menu.h"

#include "platform/afx/HandleMap.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/Wnd.h"

#include <memory>
#include <mutex>
#include <unordered_map>

IMPLEMENT_DYNCREATE(CMenu, CObject)

namespace {

using HandleMap = CHandleMap<HMENU, CMenu>;

// The menu in the tree below `menu` whose items hold `id` (depth first), or null.
HMENU MenuHolding(HMENU menu, UINT id, int depth = 0) {
    if (!menu || depth > 32)
        return nullptr;
    const int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        if (HMENU sub = ::GetSubMenu(menu, i)) {
            if (HMENU found = MenuHolding(sub, id, depth + 1))
                return found;
        } else if (::GetMenuItemID(menu, i) == id) {
            return menu;
        }
    }
    return nullptr;
}

} // namespace

CMenu::~CMenu() {
    DestroyMenu();
}

CMenu* CMenu::FromHandlePermanent(HMENU hMenu) {
    return HandleMap::Instance().LookupPermanent(hMenu);
}

CMenu* CMenu::FromHandle(HMENU hMenu) {
    return HandleMap::Instance().FromHandle(hMenu, [](HMENU handle) {
        auto wrapper = std::make_unique<CMenu>();
        wrapper->m_hMenu = handle; // not in the permanent map: never destroys the handle
        return wrapper;
    });
}

BOOL CMenu::Attach(HMENU hMenu) {
    if (!hMenu || m_hMenu)
        return FALSE;
    m_hMenu = hMenu;
    HandleMap::Instance().SetPermanent(hMenu, this);
    return TRUE;
}

HMENU CMenu::Detach() {
    HMENU handle = m_hMenu;
    if (handle)
        HandleMap::Instance().RemovePermanent(handle, this);
    m_hMenu = nullptr;
    return handle;
}

BOOL CMenu::CreateMenu() {
    return Attach(::CreateMenu());
}
BOOL CMenu::CreatePopupMenu() {
    return Attach(::CreatePopupMenu());
}
BOOL CMenu::LoadMenu(LPCTSTR lpszResourceName) {
    HMENU menu = ::LoadMenuW(AfxGetResourceHandle(), lpszResourceName);
    if (!menu)
        menu = ::LoadMenuW(nullptr, lpszResourceName);
    return Attach(menu);
}
BOOL CMenu::LoadMenu(UINT nIDResource) {
    return LoadMenu(MAKEINTRESOURCEW(nIDResource));
}
BOOL CMenu::LoadMenuIndirect(const void* lpMenuTemplate) {
    return Attach(::LoadMenuIndirectW(lpMenuTemplate));
}
BOOL CMenu::DestroyMenu() {
    if (!m_hMenu || FromHandlePermanent(m_hMenu) != this)
        return FALSE;
    return ::DestroyMenu(Detach());
}

BOOL CMenu::AppendMenu(UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem) {
    return ::AppendMenuW(m_hMenu, nFlags, nIDNewItem, lpszNewItem);
}
BOOL CMenu::InsertMenu(UINT nPosition, UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem) {
    return ::InsertMenuW(m_hMenu, nPosition, nFlags, nIDNewItem, lpszNewItem);
}
BOOL CMenu::ModifyMenu(UINT nPosition, UINT nFlags, UINT_PTR nIDNewItem, LPCTSTR lpszNewItem) {
    return ::ModifyMenuW(m_hMenu, nPosition, nFlags, nIDNewItem, lpszNewItem);
}
BOOL CMenu::InsertMenuItem(UINT uItem, LPMENUITEMINFOW lpMenuItemInfo, BOOL fByPos) {
    return ::InsertMenuItemW(m_hMenu, uItem, fByPos, lpMenuItemInfo);
}
BOOL CMenu::GetMenuItemInfo(UINT uItem, LPMENUITEMINFOW lpMenuItemInfo, BOOL fByPos) {
    return ::GetMenuItemInfoW(m_hMenu, uItem, fByPos, lpMenuItemInfo);
}
BOOL CMenu::SetMenuItemInfo(UINT uItem, LPMENUITEMINFOW lpMenuItemInfo, BOOL fByPos) {
    return ::SetMenuItemInfoW(m_hMenu, uItem, fByPos, lpMenuItemInfo);
}
BOOL CMenu::DeleteMenu(UINT nPosition, UINT nFlags) {
    return ::DeleteMenu(m_hMenu, nPosition, nFlags);
}
BOOL CMenu::RemoveMenu(UINT nPosition, UINT nFlags) {
    return ::RemoveMenu(m_hMenu, nPosition, nFlags);
}
UINT CMenu::EnableMenuItem(UINT nIDEnableItem, UINT nEnable) {
    return ::EnableMenuItem(m_hMenu, nIDEnableItem, nEnable);
}
UINT CMenu::CheckMenuItem(UINT nIDCheckItem, UINT nCheck) {
    return ::CheckMenuItem(m_hMenu, nIDCheckItem, nCheck);
}
BOOL CMenu::CheckMenuRadioItem(UINT nIDFirst, UINT nIDLast, UINT nIDItem, UINT nFlags) {
    return ::CheckMenuRadioItem(m_hMenu, nIDFirst, nIDLast, nIDItem, nFlags);
}
BOOL CMenu::SetDefaultItem(UINT uItem, BOOL fByPos) {
    return ::SetMenuDefaultItem(m_hMenu, uItem, fByPos);
}
UINT CMenu::GetDefaultItem(UINT gmdiFlags, BOOL fByPos) {
    return ::GetMenuDefaultItem(m_hMenu, fByPos, gmdiFlags);
}
UINT CMenu::GetMenuItemCount() const {
    return static_cast<UINT>(::GetMenuItemCount(m_hMenu));
}
UINT CMenu::GetMenuItemID(int nPos) const {
    return ::GetMenuItemID(m_hMenu, nPos);
}
UINT CMenu::GetMenuState(UINT nID, UINT nFlags) const {
    return ::GetMenuState(m_hMenu, nID, nFlags);
}
int CMenu::GetMenuString(UINT nIDItem, LPTSTR lpString, int nMaxCount, UINT nFlags) const {
    return ::GetMenuStringW(m_hMenu, nIDItem, lpString, nMaxCount, nFlags);
}
int CMenu::GetMenuString(UINT nIDItem, CString& rString, UINT nFlags) const {
    const int length = ::GetMenuStringW(m_hMenu, nIDItem, nullptr, 0, nFlags);
    LPWSTR buffer = rString.GetBuffer(length + 1);
    const int copied = ::GetMenuStringW(m_hMenu, nIDItem, buffer, length + 1, nFlags);
    rString.ReleaseBuffer(copied);
    return copied;
}
CMenu* CMenu::GetSubMenu(int nPos) const {
    return FromHandle(::GetSubMenu(m_hMenu, nPos));
}

BOOL CMenu::TrackPopupMenu(UINT nFlags, int x, int y, CWnd* pWnd, LPCRECT lpRect) {
    return ::TrackPopupMenu(m_hMenu, nFlags, x, y, 0, pWnd ? pWnd->GetSafeHwnd() : nullptr, lpRect);
}
BOOL CMenu::TrackPopupMenuEx(UINT fuFlags, int x, int y, CWnd* pWnd, LPTPMPARAMS lptpm) {
    return ::TrackPopupMenuEx(m_hMenu, fuFlags, x, y, pWnd ? pWnd->GetSafeHwnd() : nullptr, lptpm);
}

void CMenu::DrawItem(LPDRAWITEMSTRUCT) {}
void CMenu::MeasureItem(LPMEASUREITEMSTRUCT) {}

BOOL AfxHandleMenuOwnerDraw(UINT message, LPARAM lParam, HMENU hMenuOfWindow) {
    if (message == WM_DRAWITEM) {
        auto* dis = reinterpret_cast<LPDRAWITEMSTRUCT>(lParam);
        if (!dis || dis->CtlType != ODT_MENU)
            return FALSE;
        CMenu* menu = CMenu::FromHandlePermanent(reinterpret_cast<HMENU>(dis->hwndItem));
        if (!menu)
            return FALSE;
        menu->DrawItem(dis);
        return TRUE;
    }
    if (message == WM_MEASUREITEM) {
        auto* mis = reinterpret_cast<LPMEASUREITEMSTRUCT>(lParam);
        if (!mis || mis->CtlType != ODT_MENU)
            return FALSE;
        // The record names the command only: the menu that holds it is looked up, first below the window's menu.
        CMenu* menu = nullptr;
        if (HMENU holder = MenuHolding(hMenuOfWindow, mis->itemID))
            menu = CMenu::FromHandlePermanent(holder);
        if (!menu) {
            for (CMenu* candidate : HandleMap::Instance().PermanentObjects())
                if (MenuHolding(candidate->m_hMenu, mis->itemID) == candidate->m_hMenu) {
                    menu = candidate;
                    break;
                }
        }
        if (!menu)
            return FALSE;
        menu->MeasureItem(mis);
        return TRUE;
    }
    return FALSE;
}
