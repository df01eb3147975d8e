#include "engine/ShellContextMenu.h"

#include "platform/afx/Wnd.h"
#include "platform/base/strings.h"
#include "platform/ui/menu.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

namespace {

constexpr LPCTSTR kProperty = _T("ShellContextMenu");
constexpr UINT WM_SETMESSAGESTRING = 0x0362;
constexpr UINT GMDI_USEDISABLED = 0x0001;

struct DrawRecordHeader {
    UINT CtlType;
};

} // namespace

CShellContextMenu::~CShellContextMenu() {
    if (m_hWnd)
        RouteWindow(nullptr);
    if (m_pMenu)
        m_pMenu->Release();
}

int CShellContextMenu::Attach(IShellFolder* pFolder, LPCITEMIDLIST pidlChild) {
    IContextMenu* menu = nullptr;
    if (pFolder && pidlChild) {
        PCUITEMID_CHILD items[] = {pidlChild};
        if (FAILED(
                pFolder->GetUIObjectOf(nullptr, 1, items, IID_IContextMenu, nullptr, reinterpret_cast<void**>(&menu))))
            menu = nullptr;
    }
    if (m_pMenu)
        m_pMenu->Release();
    m_pMenu = menu;
    return m_pMenu ? 1 : 0;
}

int CShellContextMenu::AddCommands(HMENU hMenu, UINT nPosition, UINT nFirstId, UINT nLastId, UINT uFlags) {
    if (!m_pMenu)
        return 0;
    m_nFirstId = nFirstId;
    m_nLastId = nLastId;
    // The owner's default item is remembered by its command: the shell's items go in before it and move it.
    const UINT previousDefault = GetMenuDefaultItem(hMenu, FALSE, GMDI_USEDISABLED);
    const HRESULT hr = m_pMenu->QueryContextMenu(hMenu, nPosition, nFirstId, nLastId, uFlags);
    if (uFlags & CMF_NODEFAULT)
        SetMenuDefaultItem(hMenu, previousDefault, FALSE);
    if (FAILED(hr)) {
        m_nFirstId = m_nLastId = 0;
        return 0;
    }
    m_nLastId = m_nFirstId + HRESULT_CODE(hr) - 1;
    return 1;
}

void CShellContextMenu::RouteWindow(HWND hWnd) {
    if (m_hWnd) {
        RemovePropW(m_hWnd, kProperty);
        if (m_pfnPrevious)
            SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnPrevious));
        m_hWnd = nullptr;
        m_pfnPrevious = nullptr;
    }
    if (!hWnd)
        return;
    m_hWnd = hWnd;
    m_pfnPrevious = reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hWnd, GWLP_WNDPROC));
    SetPropW(hWnd, kProperty, reinterpret_cast<HANDLE>(this));
    SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&RoutedProc));
}

LRESULT CALLBACK CShellContextMenu::RoutedProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<CShellContextMenu*>(GetPropW(hWnd, kProperty));
    if (!self)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    LRESULT result = 0;
    if (self->HandleMessage(uMsg, wParam, lParam, &result))
        return result;
    WNDPROC previous = self->m_pfnPrevious;
    // The window's own WM_DESTROY handling runs with its own procedure back in place.
    if (uMsg == WM_DESTROY)
        self->RouteWindow(nullptr);
    return CallWindowProcW(previous, hWnd, uMsg, wParam, lParam);
}

BOOL CShellContextMenu::HandleMessage(UINT uMsg, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    if (!m_pMenu)
        return FALSE;
    switch (uMsg) {
    case WM_INITMENUPOPUP:
    case WM_DRAWITEM:
    case WM_MEASUREITEM: {
        if (uMsg != WM_INITMENUPOPUP) {
            const auto* record = reinterpret_cast<const DrawRecordHeader*>(lParam);
            if (!record || record->CtlType != ODT_MENU)
                return FALSE;
        }
        IContextMenu2* menu2 = nullptr;
        if (FAILED(m_pMenu->QueryInterface(IID_IContextMenu2, reinterpret_cast<void**>(&menu2))) || !menu2)
            return FALSE;
        const HRESULT hr = menu2->HandleMenuMsg(uMsg, wParam, lParam);
        menu2->Release();
        if (hr != S_OK)
            return FALSE;
        *pResult = uMsg == WM_INITMENUPOPUP ? 0 : TRUE;
        return TRUE;
    }
    case WM_MENUSELECT: {
        if (!m_hWnd)
            return FALSE;
        CWnd* pWnd = CWnd::FromHandle(m_hWnd);
        CWnd* pFrame = pWnd ? pWnd->GetTopLevelParent() : nullptr;
        if (!pFrame)
            return FALSE;
        const UINT flags = HIWORD(wParam);
        if (flags == 0xFFFF && lParam == 0)
            return FALSE;
        UINT id = LOWORD(wParam);
        if (flags & MF_POPUP)
            id = GetMenuItemID(GetSubMenu(reinterpret_cast<HMENU>(lParam), static_cast<int>(id)), 0);
        const bool separator = (flags & MF_SEPARATOR) != 0;
        if (!separator && (id == 0 || id < m_nFirstId || id > m_nLastId))
            return FALSE;
        CString help;
        if (!separator)
            GetCommandHelpText(id, help);
        pFrame->SendMessage(WM_SETMESSAGESTRING, 0, reinterpret_cast<LPARAM>(help.GetString()));
        *pResult = 0;
        return TRUE;
    }
    default:
        return FALSE;
    }
}

int CShellContextMenu::InvokeCommand(UINT nId) {
    if (!m_pMenu || m_nFirstId == 0 || nId < m_nFirstId || nId > m_nLastId)
        return 0;
    CMINVOKECOMMANDINFOEX info{};
    info.cbSize = sizeof info;
    info.fMask = CMIC_MASK_UNICODE;
    info.hwnd = m_hWnd;
    info.lpVerb = reinterpret_cast<LPCSTR>(static_cast<ULONG_PTR>(nId - m_nFirstId));
    info.lpVerbW = reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(nId - m_nFirstId));
    info.nShow = SW_SHOWNORMAL;
    return m_pMenu->InvokeCommand(reinterpret_cast<CMINVOKECOMMANDINFO*>(&info)) == S_OK ? 1 : 0;
}

int CShellContextMenu::GetCommandHelpText(UINT nId, CString& strText) {
    strText.Empty();
    if (!m_pMenu || nId < m_nFirstId || nId > m_nLastId)
        return 0;
    WCHAR text[2048] = {};
    HRESULT hr =
        m_pMenu->GetCommandString(nId - m_nFirstId, GCS_HELPTEXTW, nullptr, reinterpret_cast<CHAR*>(text), 2048);
    if (SUCCEEDED(hr) && text[0]) {
        strText = text;
        return 1;
    }
    char ansi[2048] = {};
    hr = m_pMenu->GetCommandString(nId - m_nFirstId, GCS_HELPTEXTA, nullptr, ansi, 2048);
    strText = CString(platform::Utf8ToUtf16(ansi).c_str());
    return SUCCEEDED(hr) ? 1 : 0;
}
