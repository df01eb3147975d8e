#include "platform/afx/Wnd.h"

#include "platform/afx/Exception.h"
#include "platform/afx/Menu.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/WinThread.h"
#include "platform/base/errors.h"
#include "platform/base/module.h"
#include "platform/base/thread.h"
#include "platform/ui/dialog.h"
#include "platform/ui/timer.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

IMPLEMENT_DYNCREATE(CWnd, CCmdTarget)

BEGIN_MESSAGE_MAP(CWnd, CCmdTarget)
ON_WM_NCDESTROY()
END_MESSAGE_MAP()

namespace {

// WM_DRAWITEM or WM_MEASUREITEM about an item of a menu rather than of a control.
bool IsMenuOwnerDraw(UINT message, LPARAM lParam) {
    if (!lParam)
        return false;
    if (message == WM_DRAWITEM)
        return reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->CtlType == ODT_MENU;
    if (message == WM_MEASUREITEM)
        return reinterpret_cast<const MEASUREITEMSTRUCT*>(lParam)->CtlType == ODT_MENU;
    return false;
}

// The permanent map: every window the framework created or attached, for the whole process.
struct PermanentMap {
    std::mutex lock;
    std::unordered_map<HWND, CWnd*> windows;
};

PermanentMap& Permanent() {
    static PermanentMap map;
    return map;
}

// What the framework keeps per thread: the message being handled, the window being created, and the temporary
// CWnd objects that FromHandle made for windows without one.
struct ThreadState {
    MSG lastMsg{};
    CWnd* pWndInit = nullptr;
    std::unordered_map<HWND, std::unique_ptr<CWnd>> temporary;
};

ThreadState& State() {
    thread_local ThreadState state;
    return state;
}

void Unmap(HWND hWnd, CWnd* pWnd) {
    auto& map = Permanent();
    std::lock_guard guard(map.lock);
    auto it = map.windows.find(hWnd);
    if (it != map.windows.end() && it->second == pWnd)
        map.windows.erase(it);
}

} // namespace

LRESULT AfxCbtHook(int code, WPARAM wParam, LPARAM lParam) {
    auto& state = State();
    if (code == HCBT_CREATEWND && state.pWndInit) {
        CWnd* pWnd = state.pWndInit;
        state.pWndInit = nullptr;
        pWnd->AttachForCreation(reinterpret_cast<HWND>(wParam));
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

LRESULT AfxWndProc(HWND hWnd, UINT nMsg, WPARAM wParam, LPARAM lParam) {
    CWnd* pWnd = CWnd::FromHandlePermanent(hWnd);
    if (!pWnd)
        return DefWindowProcW(hWnd, nMsg, wParam, lParam);
    auto& state = State();
    const MSG saved = state.lastMsg;
    state.lastMsg = MSG{hWnd, nMsg, wParam, lParam, 0, {0, 0}};
    LRESULT result = 0;
    // A framework exception ends with the message that raised it; it never leaves the window procedure.
    try {
        result = pWnd->WindowProc(nMsg, wParam, lParam);
    } catch (CException* e) {
        OutputDebugStringW(u"AfxWndProc: a framework exception was not caught by its handler.\n");
        e->Delete();
    } catch (...) {
        OutputDebugStringW(u"AfxWndProc: an exception was not caught by its handler.\n");
    }
    if (nMsg == WM_NCDESTROY && CWnd::FromHandlePermanent(hWnd) == pWnd) {
        // The window is gone: give the window its previous procedure back, detach, and let the object clean up.
        if (pWnd->m_pfnSuper && reinterpret_cast<WNDPROC>(GetWindowLongPtrW(hWnd, GWLP_WNDPROC)) == &AfxWndProc)
            SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(pWnd->m_pfnSuper));
        pWnd->Detach();
        pWnd->PostNcDestroy();
    }
    state.lastMsg = saved;
    return result;
}

LPCTSTR AfxRegisterWndClass(UINT nClassStyle, HCURSOR hCursor, HBRUSH hbrBackground, HICON hIcon) {
    static std::mutex lock;
    static std::map<std::u16string, std::unique_ptr<std::u16string>> names;
    char16_t buffer[96];
    std::u16string name = u"Afx:";
    for (uintptr_t v : {static_cast<uintptr_t>(nClassStyle), reinterpret_cast<uintptr_t>(hCursor),
                        reinterpret_cast<uintptr_t>(hbrBackground), reinterpret_cast<uintptr_t>(hIcon)}) {
        int n = 0;
        do {
            buffer[n++] = u"0123456789abcdef"[v & 15];
            v >>= 4;
        } while (v);
        while (n)
            name += buffer[--n];
        name += u':';
    }
    name.pop_back();
    std::lock_guard guard(lock);
    auto it = names.find(name);
    if (it != names.end())
        return it->second->c_str();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.style = nClassStyle;
    wc.lpfnWndProc = &DefWindowProcW;
    wc.hInstance = AfxGetInstanceHandle();
    wc.hIcon = hIcon;
    wc.hCursor = hCursor;
    wc.hbrBackground = hbrBackground;
    wc.lpszClassName = name.c_str();
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
        return nullptr;
    auto stored = std::make_unique<std::u16string>(name);
    LPCTSTR result = stored->c_str();
    names.emplace(name, std::move(stored));
    return result;
}

CWnd::~CWnd() {
    if (!m_hWnd)
        return;
    // A window that outlives its object would call a freed object; it is destroyed with it, as the framework does.
    HWND hWnd = m_hWnd;
    if (FromHandlePermanent(hWnd) == this && ::IsWindow(hWnd)) {
        ::DestroyWindow(hWnd);
    }
    if (m_hWnd)
        Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    auto& map = Permanent();
    std::lock_guard guard(map.lock);
    auto it = map.windows.find(hWnd);
    return it == map.windows.end() ? nullptr : it->second;
}

CWnd* CWnd::FromHandle(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    if (CWnd* pWnd = FromHandlePermanent(hWnd))
        return pWnd;
    auto& temporary = State().temporary;
    auto it = temporary.find(hWnd);
    if (it != temporary.end())
        return it->second.get();
    auto pWnd = std::make_unique<CWnd>();
    pWnd->m_hWnd = hWnd;
    CWnd* result = pWnd.get();
    temporary.emplace(hWnd, std::move(pWnd));
    return result;
}

void CWnd::DeleteTempMap() {
    auto& temporary = State().temporary;
    for (auto& [hWnd, pWnd] : temporary)
        pWnd->m_hWnd = nullptr; // temporary objects never destroy the window they stand for
    temporary.clear();
}

BOOL CWnd::Attach(HWND hWndNew) {
    if (!hWndNew || m_hWnd)
        return FALSE;
    auto& map = Permanent();
    {
        std::lock_guard guard(map.lock);
        if (!map.windows.emplace(hWndNew, this).second)
            return FALSE;
    }
    m_hWnd = hWndNew;
    return TRUE;
}

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    if (hWnd)
        Unmap(hWnd, this);
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::AttachForCreation(HWND hWnd) {
    Attach(hWnd);
    WNDPROC previous =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    if (previous != &AfxWndProc)
        m_pfnSuper = previous;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!Attach(hWnd))
        return FALSE;
    PreSubclassWindow();
    WNDPROC previous =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AfxWndProc)));
    if (!previous) {
        Detach();
        return FALSE;
    }
    if (previous != &AfxWndProc)
        m_pfnSuper = previous;
    return TRUE;
}

BOOL CWnd::SubclassDlgItem(UINT nID, CWnd* pParent) {
    if (!pParent)
        return FALSE;
    HWND hWndControl = ::GetDlgItem(pParent->m_hWnd, static_cast<int>(nID));
    return hWndControl ? SubclassWindow(hWndControl) : FALSE;
}

HWND CWnd::UnsubclassWindow() {
    if (m_pfnSuper)
        SetWindowLongPtrW(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    m_pfnSuper = nullptr;
    return Detach();
}

BOOL CWnd::Create(LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect, CWnd* pParentWnd,
                  UINT nID, void*) {
    return CreateEx(0, lpszClassName, lpszWindowName, dwStyle | WS_CHILD, rect, pParentWnd, nID, nullptr);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, const RECT& rect,
                    CWnd* pParentWnd, UINT nID, LPVOID lpParam) {
    return CreateEx(dwExStyle, lpszClassName, lpszWindowName, dwStyle, rect.left, rect.top, rect.right - rect.left,
                    rect.bottom - rect.top, pParentWnd ? pParentWnd->m_hWnd : nullptr,
                    reinterpret_cast<HMENU>(static_cast<UINT_PTR>(nID)), lpParam);
}

BOOL CWnd::CreateEx(DWORD dwExStyle, LPCTSTR lpszClassName, LPCTSTR lpszWindowName, DWORD dwStyle, int x, int y,
                    int nWidth, int nHeight, HWND hWndParent, HMENU nIDorHMenu, LPVOID lpParam) {
    if (m_hWnd)
        return FALSE;
    CREATESTRUCTW cs{};
    cs.dwExStyle = dwExStyle;
    cs.lpszClass = lpszClassName ? lpszClassName : AfxRegisterWndClass(CS_DBLCLKS);
    cs.lpszName = lpszWindowName;
    cs.style = static_cast<LONG>(dwStyle);
    cs.x = x;
    cs.y = y;
    cs.cx = nWidth;
    cs.cy = nHeight;
    cs.hwndParent = hWndParent;
    cs.hMenu = nIDorHMenu;
    cs.hInstance = AfxGetInstanceHandle();
    cs.lpCreateParams = lpParam;
    if (!PreCreateWindow(cs)) {
        PostNcDestroy();
        return FALSE;
    }
    auto& state = State();
    CWnd* const previousInit = state.pWndInit;
    state.pWndInit = this;
    HHOOK hook = SetWindowsHookExW(WH_CBT, &AfxCbtHook, nullptr, GetCurrentThreadId());
    HWND hWnd = CreateWindowExW(cs.dwExStyle, cs.lpszClass, cs.lpszName, static_cast<DWORD>(cs.style), cs.x, cs.y,
                                cs.cx, cs.cy, cs.hwndParent, cs.hMenu, cs.hInstance, cs.lpCreateParams);
    const DWORD error = GetLastError();
    if (hook)
        UnhookWindowsHookEx(hook);
    state.pWndInit = previousInit == this ? nullptr : previousInit;
    if (!hWnd) {
        // A window that failed in WM_CREATE has already been destroyed and detached.
        SetLastError(error);
        return FALSE;
    }
    return m_hWnd == hWnd;
}

BOOL CWnd::DestroyWindow() {
    if (!m_hWnd)
        return FALSE;
    HWND hWnd = m_hWnd;
    const bool permanent = FromHandlePermanent(hWnd) == this;
    BOOL result = ::DestroyWindow(hWnd);
    // A window attached without subclassing never sees its WM_NCDESTROY here; it is detached now.
    if (!permanent || m_hWnd == hWnd) {
        if (!::IsWindow(hWnd))
            Detach();
    }
    return result;
}

BOOL CWnd::PreCreateWindow(CREATESTRUCTW&) {
    return TRUE;
}
void CWnd::PreSubclassWindow() {}
void CWnd::PostNcDestroy() {}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    LRESULT lResult = 0;
    if (!OnWndMsg(message, wParam, lParam, &lResult))
        lResult = DefWindowProc(message, wParam, lParam);
    return lResult;
}

BOOL CWnd::OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    LRESULT lResult = 0;
    if (message == WM_COMMAND) {
        if (!OnCommand(wParam, lParam))
            return FALSE;
        lResult = 1;
    } else if (message == WM_NOTIFY) {
        auto* pNMHDR = reinterpret_cast<NMHDR*>(lParam);
        if (!pNMHDR || !pNMHDR->hwndFrom || !OnNotify(wParam, lParam, &lResult))
            return FALSE;
    } else {
        // Messages a control sends its parent about itself are offered to the control first.
        HWND hWndChild = nullptr;
        switch (message) {
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_HSCROLL:
        case WM_VSCROLL:
            hWndChild = reinterpret_cast<HWND>(lParam);
            break;
        case WM_DRAWITEM: {
            // The drawing record names the control itself; its id may be 0 (a list view's header).
            const auto* dis = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
            if (dis && dis->CtlType != ODT_MENU)
                hWndChild = dis->hwndItem;
            break;
        }
        case WM_MEASUREITEM:
        case WM_DELETEITEM:
        case WM_COMPAREITEM:
            if (wParam)
                hWndChild = ::GetDlgItem(m_hWnd, static_cast<int>(wParam));
            break;
        default:
            break;
        }
        if (hWndChild && ReflectLastMsg(hWndChild, &lResult)) {
            if (pResult)
                *pResult = lResult;
            return TRUE;
        }
        const AFX_MSGMAP_ENTRY* entry = FindMessageEntry(message);
        if (!entry) {
            // Owner-drawn menu items go to the CMenu object that holds them.
            if (IsMenuOwnerDraw(message, lParam) && AfxHandleMenuOwnerDraw(message, lParam, ::GetMenu(m_hWnd))) {
                if (pResult)
                    *pResult = TRUE;
                return TRUE;
            }
            return FALSE;
        }
        AFX_DISPATCH d{message, wParam, lParam, &lResult, 0, nullptr};
        entry->pfn(this, d);
    }
    if (pResult)
        *pResult = lResult;
    return TRUE;
}

LRESULT CWnd::DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper)
        return CallWindowProcW(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return DefWindowProcW(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT nID = LOWORD(wParam);
    HWND hWndCtrl = reinterpret_cast<HWND>(lParam);
    int nCode = HIWORD(wParam);
    if (!hWndCtrl) {
        nCode = CN_COMMAND; // menus and accelerators
    } else if (ReflectLastMsg(hWndCtrl)) {
        return TRUE; // the control took its own notification
    }
    return OnCmdMsg(nID, nCode, nullptr, nullptr);
}

BOOL CWnd::OnNotify(WPARAM, LPARAM lParam, LRESULT* pResult) {
    auto* pNMHDR = reinterpret_cast<NMHDR*>(lParam);
    if (ReflectLastMsg(pNMHDR->hwndFrom, pResult))
        return TRUE;
    AFX_NOTIFY notify{pResult, pNMHDR};
    return OnCmdMsg(static_cast<UINT>(pNMHDR->idFrom), static_cast<int>(MAKELONG(pNMHDR->code, WM_NOTIFY)), &notify,
                    nullptr);
}

BOOL CWnd::OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    return ReflectChildNotify(message, wParam, lParam, pResult);
}

BOOL CWnd::ReflectChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* pResult) {
    switch (message) {
    case WM_COMMAND: {
        const int nCode = HIWORD(wParam);
        if (CCmdTarget::OnCmdMsg(0, static_cast<int>(MAKELONG(nCode, WM_REFLECT_BASE + WM_COMMAND)), nullptr,
                                 nullptr)) {
            if (pResult)
                *pResult = 1;
            return TRUE;
        }
        return FALSE;
    }
    case WM_NOTIFY: {
        auto* pNMHDR = reinterpret_cast<NMHDR*>(lParam);
        LRESULT ignored = 0;
        AFX_NOTIFY notify{pResult ? pResult : &ignored, pNMHDR};
        return CCmdTarget::OnCmdMsg(0, static_cast<int>(MAKELONG(pNMHDR->code, WM_REFLECT_BASE + WM_NOTIFY)), &notify,
                                    nullptr);
    }
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC: {
        // A control that answers no brush leaves the colours to its parent.
        LRESULT brush = 0;
        if (!OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, &brush) || !brush)
            return FALSE;
        if (pResult)
            *pResult = brush;
        return TRUE;
    }
    case WM_HSCROLL:
    case WM_VSCROLL:
    case WM_DRAWITEM:
    case WM_MEASUREITEM:
    case WM_DELETEITEM:
    case WM_COMPAREITEM:
        return OnWndMsg(WM_REFLECT_BASE + message, wParam, lParam, pResult);
    default:
        return FALSE;
    }
}

BOOL CWnd::ReflectLastMsg(HWND hWndChild, LRESULT* pResult) {
    CWnd* pWnd = FromHandlePermanent(hWndChild);
    if (!pWnd)
        return FALSE;
    const MSG& msg = State().lastMsg;
    return pWnd->OnChildNotify(msg.message, msg.wParam, msg.lParam, pResult);
}

BOOL CWnd::PreTranslateMessage(MSG*) {
    return FALSE;
}

LRESULT CWnd::Default() {
    const MSG& msg = State().lastMsg;
    return DefWindowProc(msg.message, msg.wParam, msg.lParam);
}

const MSG* CWnd::GetCurrentMessage() {
    return &State().lastMsg;
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageW(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageW(m_hWnd, message, wParam, lParam);
}
BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}
BOOL CWnd::IsWindowVisible() const {
    return ::IsWindowVisible(m_hWnd);
}
BOOL CWnd::IsIconic() const {
    return ::IsIconic(m_hWnd);
}
BOOL CWnd::IsZoomed() const {
    return ::IsZoomed(m_hWnd);
}
BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}
BOOL CWnd::IsWindowEnabled() const {
    return ::IsWindowEnabled(m_hWnd);
}
void CWnd::SetWindowText(LPCTSTR lpszString) {
    ::SetWindowTextW(m_hWnd, lpszString);
}
int CWnd::GetWindowText(LPTSTR lpszStringBuf, int nMaxCount) const {
    return ::GetWindowTextW(m_hWnd, lpszStringBuf, nMaxCount);
}
void CWnd::GetWindowText(CString& rString) const {
    const int length = ::GetWindowTextLengthW(m_hWnd);
    std::vector<WCHAR> buffer(static_cast<size_t>(length) + 1);
    const int copied = ::GetWindowTextW(m_hWnd, buffer.data(), length + 1);
    rString = CString(buffer.data(), copied);
}
int CWnd::GetWindowTextLength() const {
    return ::GetWindowTextLengthW(m_hWnd);
}
CWnd* CWnd::GetDlgItem(int nID) const {
    return FromHandle(::GetDlgItem(m_hWnd, nID));
}
int CWnd::GetDlgCtrlID() const {
    return ::GetDlgCtrlID(m_hWnd);
}
int CWnd::SetDlgCtrlID(int nID) {
    return static_cast<int>(::SetWindowLongPtrW(m_hWnd, GWLP_ID, nID));
}
void CWnd::SetDlgItemText(int nID, LPCTSTR lpszString) {
    ::SetWindowTextW(::GetDlgItem(m_hWnd, nID), lpszString);
}
int CWnd::GetDlgItemText(int nID, CString& rString) const {
    CWnd* pItem = GetDlgItem(nID);
    if (!pItem) {
        rString.Empty();
        return 0;
    }
    pItem->GetWindowText(rString);
    return rString.GetLength();
}
void CWnd::CheckDlgButton(int nIDButton, UINT nCheck) {
    ::CheckDlgButton(m_hWnd, nIDButton, nCheck);
}

UINT CWnd::IsDlgButtonChecked(int nIDButton) const {
    return ::IsDlgButtonChecked(m_hWnd, nIDButton);
}

void CWnd::CheckRadioButton(int nIDFirstButton, int nIDLastButton, int nIDCheckButton) {
    ::CheckRadioButton(m_hWnd, nIDFirstButton, nIDLastButton, nIDCheckButton);
}

int CWnd::GetCheckedRadioButton(int nIDFirstButton, int nIDLastButton) const {
    for (int id = nIDFirstButton; id <= nIDLastButton; ++id)
        if (::IsDlgButtonChecked(m_hWnd, id) == BST_CHECKED)
            return id;
    return 0;
}

void CWnd::SetDlgItemInt(int nID, UINT nValue, BOOL bSigned) {
    ::SetDlgItemInt(m_hWnd, nID, nValue, bSigned);
}

UINT CWnd::GetDlgItemInt(int nID, BOOL* lpTrans, BOOL bSigned) const {
    return ::GetDlgItemInt(m_hWnd, nID, lpTrans, bSigned);
}

int CWnd::GetDlgItemText(int nID, LPTSTR lpStr, int nMaxCount) const {
    return static_cast<int>(::GetDlgItemTextW(m_hWnd, nID, lpStr, nMaxCount));
}

LRESULT CWnd::SendDlgItemMessage(int nID, UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendDlgItemMessageW(m_hWnd, nID, message, wParam, lParam);
}

CWnd* CWnd::GetParent() const {
    return FromHandle(::GetParent(m_hWnd));
}
CWnd* CWnd::SetParent(CWnd* pWndNewParent) {
    return FromHandle(::SetParent(m_hWnd, pWndNewParent ? pWndNewParent->m_hWnd : nullptr));
}
CWnd* CWnd::GetOwner() const {
    return FromHandle(::GetWindow(m_hWnd, GW_OWNER));
}
CWnd* CWnd::GetTopLevelParent() const {
    return FromHandle(::GetAncestor(m_hWnd, GA_ROOT));
}
CWnd* CWnd::GetWindow(UINT nCmd) const {
    return FromHandle(::GetWindow(m_hWnd, nCmd));
}
CWnd* CWnd::GetLastActivePopup() const {
    return FromHandle(::GetLastActivePopup(m_hWnd));
}
DWORD CWnd::GetStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_STYLE));
}
DWORD CWnd::GetExStyle() const {
    return static_cast<DWORD>(::GetWindowLongW(m_hWnd, GWL_EXSTYLE));
}

namespace {

BOOL Modify(HWND hWnd, int index, DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
    const DWORD style = static_cast<DWORD>(::GetWindowLongW(hWnd, index));
    const DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    ::SetWindowLongW(hWnd, index, static_cast<LONG>(newStyle));
    if (nFlags)
        ::SetWindowPos(hWnd, nullptr, 0, 0, 0, 0, SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

} // namespace

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
    return Modify(m_hWnd, GWL_STYLE, dwRemove, dwAdd, nFlags);
}
BOOL CWnd::ModifyStyleEx(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
    return Modify(m_hWnd, GWL_EXSTYLE, dwRemove, dwAdd, nFlags);
}
BOOL CWnd::SetWindowPos(const CWnd* pWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
    return ::SetWindowPos(m_hWnd, pWndInsertAfter ? pWndInsertAfter->m_hWnd : nullptr, x, y, cx, cy, nFlags);
}
void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
    ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}
void CWnd::MoveWindow(LPCRECT lpRect, BOOL bRepaint) {
    MoveWindow(lpRect->left, lpRect->top, lpRect->right - lpRect->left, lpRect->bottom - lpRect->top, bRepaint);
}
void CWnd::GetWindowRect(LPRECT lpRect) const {
    ::GetWindowRect(m_hWnd, lpRect);
}
void CWnd::GetClientRect(LPRECT lpRect) const {
    ::GetClientRect(m_hWnd, lpRect);
}
void CWnd::ScreenToClient(LPPOINT lpPoint) const {
    ::ScreenToClient(m_hWnd, lpPoint);
}
void CWnd::ClientToScreen(LPPOINT lpPoint) const {
    ::ClientToScreen(m_hWnd, lpPoint);
}
CWnd* CWnd::SetFocus() {
    return FromHandle(::SetFocus(m_hWnd));
}
CWnd* CWnd::GetFocus() {
    return FromHandle(::GetFocus());
}
CWnd* CWnd::GetActiveWindow() {
    return FromHandle(::GetActiveWindow());
}
CWnd* CWnd::GetForegroundWindow() {
    return FromHandle(::GetForegroundWindow());
}
BOOL CWnd::SetForegroundWindow() {
    return ::SetForegroundWindow(m_hWnd);
}
void CWnd::BringWindowToTop() {
    ::BringWindowToTop(m_hWnd);
}
CWnd* CWnd::SetActiveWindow() {
    return FromHandle(::SetActiveWindow(m_hWnd));
}
void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}
void CWnd::Invalidate(BOOL bErase) {
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}
void CWnd::InvalidateRect(LPCRECT lpRect, BOOL bErase) {
    ::InvalidateRect(m_hWnd, lpRect, bErase);
}
UINT_PTR CWnd::SetTimer(UINT_PTR nIDEvent, UINT nElapse, TIMERPROC lpfnTimer) {
    return ::SetTimer(m_hWnd, nIDEvent, nElapse, lpfnTimer);
}
BOOL CWnd::KillTimer(UINT_PTR nIDEvent) {
    return ::KillTimer(m_hWnd, nIDEvent);
}
CWnd* CWnd::FindWindow(LPCTSTR lpszClassName, LPCTSTR lpszWindowName) {
    return FromHandle(::FindWindowW(lpszClassName, lpszWindowName));
}

void CWnd::SendMessageToDescendants(UINT message, WPARAM wParam, LPARAM lParam, BOOL bDeep) {
    for (HWND child = ::GetWindow(m_hWnd, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT)) {
        ::SendMessageW(child, message, wParam, lParam);
        if (bDeep) {
            CWnd* pChild = FromHandle(child);
            pChild->SendMessageToDescendants(message, wParam, lParam, TRUE);
        }
    }
}

int CWnd::OnCreate(LPCREATESTRUCTW) {
    return static_cast<int>(Default());
}
void CWnd::OnDestroy() {
    Default();
}
void CWnd::OnNcDestroy() {
    // When a thread's main window goes away, the thread's message loop ends.
    if (CWinThread* pThread = AfxGetThread(); pThread && pThread->m_pMainWnd == this) {
        ::PostQuitMessage(0);
        pThread->m_pMainWnd = nullptr;
    }
    Default();
}
void CWnd::OnClose() {
    Default();
}
void CWnd::OnTimer(UINT_PTR) {
    Default();
}
void CWnd::OnSysCommand(UINT, LPARAM) {
    Default();
}
void CWnd::OnSize(UINT, int, int) {
    Default();
}
void CWnd::OnMove(int, int) {
    Default();
}
void CWnd::OnShowWindow(BOOL, UINT) {
    Default();
}
void CWnd::OnWindowPosChanging(WINDOWPOS*) {
    Default();
}
void CWnd::OnWindowPosChanged(WINDOWPOS*) {
    Default();
}
BOOL CWnd::OnQueryEndSession() {
    return static_cast<BOOL>(Default());
}
void CWnd::OnEndSession(BOOL) {
    Default();
}
BOOL CWnd::OnDeviceChange(UINT, DWORD_PTR) {
    return static_cast<BOOL>(Default());
}
UINT CWnd::OnGetDlgCode() {
    return static_cast<UINT>(Default());
}
void CWnd::OnEnable(BOOL) {
    Default();
}
void CWnd::OnPaint() {
    Default();
}
BOOL CWnd::OnEraseBkgnd(CDC*) {
    return static_cast<BOOL>(Default());
}
HBRUSH CWnd::OnCtlColor(CDC*, CWnd*, UINT) {
    return reinterpret_cast<HBRUSH>(Default());
}
HCURSOR CWnd::OnQueryDragIcon() {
    return reinterpret_cast<HCURSOR>(Default());
}
BOOL CWnd::OnHelpInfo(HELPINFO*) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnSysColorChange() {
    Default();
}
void CWnd::OnMouseMove(UINT, CPoint) {
    Default();
}
void CWnd::OnMouseLeave() {
    Default();
}
void CWnd::OnMouseHover(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonUp(UINT, CPoint) {
    Default();
}
void CWnd::OnLButtonDblClk(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonDown(UINT, CPoint) {
    Default();
}
void CWnd::OnRButtonUp(UINT, CPoint) {
    Default();
}
BOOL CWnd::OnSetCursor(CWnd*, UINT, UINT) {
    return static_cast<BOOL>(Default());
}
void CWnd::OnSetFocus(CWnd*) {
    Default();
}
void CWnd::OnKillFocus(CWnd*) {
    Default();
}
void CWnd::OnCancelMode() {
    Default();
}
void CWnd::OnActivate(UINT, CWnd*, BOOL) {
    Default();
}
void CWnd::OnHScroll(UINT, UINT, CScrollBar*) {
    Default();
}
void CWnd::OnVScroll(UINT, UINT, CScrollBar*) {
    Default();
}
