#include "engine/ShellTreeCtrl.h"

#include "engine/BackAgent.h"
#include "engine/BackManager.h"
#include "engine/ShellItemData.h"

#include "platform/afx/FileDialog.h"
#include "platform/afx/Menu.h"
#include "platform/afx/ModuleState.h"
#include "platform/base/clock.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/wholefile.h"
#include "platform/gdi/wingdi.h"
#include "platform/shell/changenotify.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"
#include "platform/ui/winuser_constants.h"

#include <memory>
#include <vector>

IMPLEMENT_DYNAMIC(CShellTreeCtrl, CLoadAnimTreeCtrl)

BEGIN_MESSAGE_MAP(CShellTreeCtrl, CLoadAnimTreeCtrl)
ON_MESSAGE(WM_SHELL_NOTIFY, OnShellNotifyMsg)
ON_MESSAGE(WM_TREE_EXPAND_ROOT, OnExpandRootMsg)
ON_MESSAGE(WM_RBUTTONDOWN, OnRButtonDownMsg)
ON_MESSAGE(WM_RBUTTONUP, OnRButtonUpMsg)
ON_MESSAGE(WM_CONTEXTMENU, OnContextMenuMsg)
ON_MESSAGE(WM_LBUTTONDBLCLK, OnLButtonDblClkMsg)
ON_MESSAGE(WM_KEYDOWN, OnKeyDownMsg)
ON_NOTIFY_REFLECT(TVN_DELETEITEMW, OnDeleteItem)
END_MESSAGE_MAP()

namespace {

constexpr UINT kRefreshCommand = 19999;
constexpr UINT kShellFirst = 20000;
constexpr UINT kShellLast = 21000;
constexpr LPCTSTR kSelectionFilter = _T("Kovra selection files (*.rpr)|*.rpr|All files (*.*)|*.*||");

CShellItemData* DataOf(const CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!hItem || hItem == TVI_ROOT)
        return nullptr;
    return reinterpret_cast<CShellItemData*>(pTree->GetItemData(hItem));
}

CString WithoutTrailingBackslash(CString path) {
    while (path.GetLength() > 0 && path[path.GetLength() - 1] == _T('\\'))
        path = path.Left(path.GetLength() - 1);
    return path;
}

// The first entry named `name` of a menu and its submenus: the menu holding it and its position.
bool FindMenuEntry(HMENU hMenu, LPCTSTR name, HMENU& holder, int& position) {
    const int count = GetMenuItemCount(hMenu);
    for (int i = 0; i < count; ++i) {
        WCHAR text[256] = {};
        GetMenuStringW(hMenu, static_cast<UINT>(i), text, 256, MF_BYPOSITION);
        if (CString(text) == name) {
            holder = hMenu;
            position = i;
            return true;
        }
        if (HMENU sub = GetSubMenu(hMenu, i); sub && FindMenuEntry(sub, name, holder, position))
            return true;
    }
    return false;
}

CString LoadText(UINT id, LPCTSTR fallback) {
    CString text;
    if (!text.LoadString(id) || text.IsEmpty())
        text = fallback;
    return text;
}

} // namespace

CShellTreeCtrl::CShellTreeCtrl() = default;

CShellTreeCtrl::~CShellTreeCtrl() {
    if (m_nNotifyId)
        SHChangeNotifyDeregister(m_nNotifyId);
}

BOOL CShellTreeCtrl::InitTree(UINT nStateBitmapId, UINT nMenuId, UINT nCursorId, int nOwnerDialogId, int nTreeType,
                              BOOL bRegisterNotify) {
    if (!m_hWnd)
        return FALSE;
    ModifyStyle(0, WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES | TVS_SHOWSELALWAYS | TVS_HASLINES | TVS_HASBUTTONS);
    SHFILEINFOW info{};
    auto systemList =
        reinterpret_cast<HIMAGELIST>(SHGetFileInfoW(_T("C:\\"), FILE_ATTRIBUTE_DIRECTORY, &info, sizeof info,
                                                    SHGFI_SYSICONINDEX | SHGFI_SMALLICON | SHGFI_USEFILEATTRIBUTES));
    if (systemList)
        TreeView_SetImageList(m_hWnd, systemList, TVSIL_NORMAL);
    SetStateImages(nStateBitmapId);
    if (bRegisterNotify) {
        WCHAR desktop[2048] = {};
        // The desktop's whole namespace: the registration takes the desktop's own list.
        RegisterShellNotify(TRUE, nullptr);
        (void)desktop;
    }
    SetAnimCursor(LoadCursorW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nCursorId)));
    m_nMenuId = nMenuId;
    m_nOwnerDialogId = nOwnerDialogId;
    m_nTreeType = nTreeType;
    return TRUE;
}

int CShellTreeCtrl::SetFilter(LPCTSTR lpszText) {
    return m_filter.SetPatterns(lpszText);
}

int CShellTreeCtrl::AddFilter(LPCTSTR lpszText) {
    CString text;
    m_filter.GetPatterns(text);
    text += lpszText ? lpszText : _T("");
    if (!text.IsEmpty() && text[text.GetLength() - 1] != _T('\t'))
        text += _T('\t');
    return m_filter.SetPatterns(text);
}

int CShellTreeCtrl::GetFilterText(CString& strText) const {
    m_filter.GetPatterns(strText);
    return m_filter.GetCount();
}

BOOL CShellTreeCtrl::HasCheckedItems() const {
    HTREEITEM hRoot = GetRootItem();
    return hRoot && GetCheckState(hRoot) != kStateUnchecked;
}

BOOL CShellTreeCtrl::IsBackupStoreSelected(LPCTSTR lpszDestination) const {
    if (!lpszDestination || !*lpszDestination)
        return FALSE;
    const CString destination = WithoutTrailingBackslash(lpszDestination);
    CString store;
    store.Format(_T("%s\\%s"), destination.GetString(), _T("KovraData"));
    HTREEITEM hRoot = GetRootItem();
    for (HTREEITEM hItem = hRoot ? GetChildItem(hRoot) : nullptr; hItem; hItem = GetNextSiblingItem(hItem)) {
        CShellItemData* pData = DataOf(this, hItem);
        if (!pData || !pData->m_pAgent || pData->m_pAgent->GetDataFolderName() != _T("RegularFile"))
            continue;
        const UINT state = GetCheckState(hItem);
        if (state == kStateUnchecked || state == kStateFixed)
            continue;
        const CString path = pData->m_list.GetPath();
        if (path.IsEmpty() || towupper_w(path[0]) != towupper_w(destination[0]))
            continue;
        // A drive taken whole takes its store too, whether its items were ever loaded or not.
        if (state == kStateChecked)
            return TRUE;
        for (HTREEITEM hChild = GetChildItem(hItem); hChild; hChild = GetNextSiblingItem(hChild)) {
            CShellItemData* pChild = DataOf(this, hChild);
            if (pChild && GetCheckState(hChild) != kStateUnchecked &&
                WithoutTrailingBackslash(pChild->m_list.GetPath()).CompareNoCase(store) == 0)
                return TRUE;
        }
    }
    return FALSE;
}

int CShellTreeCtrl::LoadChildren(HTREEITEM hItem) {
    if (hItem == TVI_ROOT)
        return 1;
    CBackManager* pManager = CBackManager::Get();
    return pManager ? pManager->ExpandItem(this, hItem) : 0;
}

BOOL CShellTreeCtrl::CanLoadChildren(HTREEITEM hItem) {
    if (!CCheckTreeCtrl::CanLoadChildren(hItem))
        return FALSE;
    CBackManager* pManager = CBackManager::Get();
    return pManager && pManager->CanExpand(this, hItem);
}

BOOL CShellTreeCtrl::DestroyWindow() {
    RegisterShellNotify(FALSE, nullptr);
    if (m_hShell32) {
        FreeLibrary(m_hShell32);
        m_hShell32 = nullptr;
    }
    return CLoadAnimTreeCtrl::DestroyWindow();
}

void CShellTreeCtrl::OnDeleteItem(NMHDR* pNMHDR, LRESULT* pResult) {
    auto* nm = reinterpret_cast<NMTREEVIEWW*>(pNMHDR);
    delete reinterpret_cast<CShellItemData*>(nm->itemOld.lParam);
    *pResult = 0;
}

void CShellTreeCtrl::Reload(BOOL bOnlyIfPartial) {
    HTREEITEM hRoot = GetRootItem();
    if (!hRoot)
        return;
    TakeSnapshot(hRoot, bOnlyIfPartial, 1);
    CShellItemData* pRoot = DataOf(this, hRoot);
    const CString rootPath = pRoot ? pRoot->m_list.GetPath() : CString();
    CBackManager* pManager = CBackManager::Get();
    if (!pManager)
        return;
    switch (m_nTreeType) {
    case kTreeRestore:
        pManager->FillRestoreTree(this, rootPath);
        break;
    case kTreeMonitor:
        pManager->FillMonitorTree(this);
        break;
    default:
        pManager->FillSourceTree(this);
        break;
    }
    hRoot = GetRootItem();
    if (hRoot) {
        RestoreSnapshot(hRoot);
        SelectItem(hRoot);
        EnsureVisible(hRoot);
    }
    NotifyCheckChanged();
}

BOOL CShellTreeCtrl::RegisterShellNotify(BOOL bOn, LPCTSTR lpszPath) {
    using RegisterFn = ULONG (*)(HWND, int, LONG, UINT, int, const SHChangeNotifyEntry*);
    using DeregisterFn = BOOL (*)(ULONG);
    if (!m_hShell32)
        m_hShell32 = LoadLibraryW(_T("SHELL32.DLL"));
    if (!m_hShell32)
        return FALSE;
    auto deregister = reinterpret_cast<DeregisterFn>(GetProcAddress(m_hShell32, reinterpret_cast<LPCSTR>(4)));
    if (!bOn) {
        if (m_nNotifyId && deregister)
            deregister(m_nNotifyId);
        m_nNotifyId = 0;
        m_rootList = CItemIDList();
        return TRUE;
    }
    auto registerFn = reinterpret_cast<RegisterFn>(GetProcAddress(m_hShell32, reinterpret_cast<LPCSTR>(2)));
    if (!registerFn)
        return FALSE;
    CItemIDList list = lpszPath ? CItemIDList(lpszPath) : CItemIDList(0x0000 /* CSIDL_DESKTOP */, nullptr);
    if (!list.IsValid())
        return FALSE;
    if (m_nNotifyId && deregister)
        deregister(m_nNotifyId);
    SHChangeNotifyEntry entry{list.Get(), TRUE};
    m_nNotifyId = registerFn(m_hWnd, SHCNRF_InterruptLevel | SHCNRF_ShellLevel | SHCNRF_RecursiveInterrupt,
                             SHCNE_ALLEVENTS, WM_SHELL_NOTIFY, 1, &entry);
    m_rootList = list;
    return m_nNotifyId != 0;
}

LRESULT CShellTreeCtrl::OnShellNotifyMsg(WPARAM wParam, LPARAM lParam) {
    auto* pair = reinterpret_cast<LPITEMIDLIST*>(wParam);
    if (!pair)
        return 0;
    CItemIDList one(pair[0]), two(pair[1]);
    if (one.GetPath().IsEmpty())
        return 0;
    return ProcessShellNotify(static_cast<LONG>(lParam), pair[0], pair[1]);
}

int CShellTreeCtrl::ProcessShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    CBackManager* pManager = CBackManager::Get();
    if (!pManager || !m_hWnd)
        return 0;
    if (m_nTreeType == kTreeRestore) {
        CShellItemData* pRoot = DataOf(this, GetRootItem());
        const CString rootPath = pRoot ? pRoot->m_list.GetPath() : CString();
        if (rootPath.IsEmpty())
            return 0;
        return pManager->ProcessShellNotify(this, lEvent, rootPath, pidl1, pidl2);
    }
    return pManager->ProcessShellNotify(this, lEvent, nullptr, pidl1, pidl2);
}

LRESULT CShellTreeCtrl::OnExpandRootMsg(WPARAM, LPARAM) {
    SetScrollPos(SB_HORZ, 0, TRUE);
    Invalidate();
    if (HTREEITEM hRoot = GetRootItem())
        Expand(hRoot, TVE_EXPAND);
    return 0;
}

LRESULT CShellTreeCtrl::OnRButtonDownMsg(WPARAM wParam, LPARAM lParam) {
    UINT flags = 0;
    const POINT pt{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
    HTREEITEM hItem = HitTest(pt, &flags);
    if (hItem)
        SelectItem(hItem);
    if (hItem && (flags & TVHT_ONITEMLABEL)) {
        DefWindowProc(WM_RBUTTONDOWN, wParam, lParam);
        const DWORD pos = GetMessagePos();
        SendMessage(WM_CONTEXTMENU, reinterpret_cast<WPARAM>(m_hWnd), static_cast<LPARAM>(pos));
    }
    return 0;
}

LRESULT CShellTreeCtrl::OnRButtonUpMsg(WPARAM wParam, LPARAM lParam) {
    UINT flags = 0;
    const POINT pt{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
    HTREEITEM hItem = HitTest(pt, &flags);
    if (hItem && (flags & TVHT_ONITEMLABEL))
        return DefWindowProc(WM_RBUTTONUP, wParam, lParam);
    if (hItem && (flags & TVHT_ONITEMRIGHT)) {
        POINT screen = pt;
        ClientToScreen(&screen);
        RunSelectionMenu(screen);
    }
    return 0;
}

void CShellTreeCtrl::RunSelectionMenu(POINT ptScreen) {
    CMenu menu;
    menu.CreatePopupMenu();
    menu.AppendMenu(MF_STRING, 1, LoadText(1501, _T("Unselect All")));
    menu.AppendMenu(MF_SEPARATOR);
    menu.AppendMenu(MF_STRING, 2, LoadText(1502, _T("Import Selection")));
    menu.AppendMenu(MF_STRING, 3, LoadText(1503, _T("Export Selection")));
    const UINT command = static_cast<UINT>(
        ::TrackPopupMenu(menu, TPM_CENTERALIGN | TPM_RETURNCMD, ptScreen.x, ptScreen.y, 0, m_hWnd, nullptr));
    switch (command) {
    case 1:
        if (HTREEITEM hRoot = GetRootItem())
            CheckBranch(hRoot, kStateUnchecked);
        NotifyCheckChanged();
        break;
    case 2: {
        CFileDialog dialog(TRUE, _T("rpr"), _T("*.rpr"), OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, kSelectionFilter, this);
        if (dialog.DoModal() == IDOK)
            LoadSelection(dialog.GetPathName());
        break;
    }
    case 3: {
        CFileDialog dialog(FALSE, _T("rpr"), _T(""), OFN_OVERWRITEPROMPT | OFN_HIDEREADONLY | OFN_NOREADONLYRETURN,
                           kSelectionFilter, this);
        if (dialog.DoModal() == IDOK)
            SaveSelecton(dialog.GetPathName(), nullptr);
        break;
    }
    default:
        break;
    }
}

LRESULT CShellTreeCtrl::OnContextMenuMsg(WPARAM wParam, LPARAM lParam) {
    if (reinterpret_cast<HWND>(wParam) != m_hWnd)
        return Default();
    POINT screen{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
    POINT client = screen;
    ScreenToClient(&client);
    UINT flags = 0;
    HTREEITEM hItem = HitTest(client, &flags);
    if (!hItem || !(flags & (TVHT_ONITEMICON | TVHT_ONITEMLABEL | TVHT_ONITEMSTATEICON)))
        return 0;
    CMenu menu;
    if (!menu.LoadMenu(m_nMenuId))
        menu.CreatePopupMenu();
    HMENU popup = GetSubMenu(menu, 0);
    if (!popup)
        popup = menu;
    HMENU holder = popup;
    int position = 0;
    if (FindMenuEntry(popup, _T("&Shell"), holder, position))
        DeleteMenu(holder, static_cast<UINT>(position), MF_BYPOSITION);
    else
        holder = popup;
    CBackManager* pManager = CBackManager::Get();
    if (pManager && pManager->HasShellContextMenu(this, hItem)) {
        CShellFolderPtr folder = pManager->GetRootFolder(this, hItem);
        CItemIDList list(pManager->GetItemIDList(this, hItem));
        if (folder.IsValid() && list.IsValid() && m_contextMenu.Attach(folder.Get(), list.GetLastItem()))
            m_contextMenu.AddCommands(holder, static_cast<UINT>(position), kShellFirst, kShellLast,
                                      CMF_EXPLORE | CMF_NODEFAULT);
    }
    if (ItemHasChildren(hItem) && (GetItemState(hItem, TVIS_EXPANDED) & TVIS_EXPANDED) && CanLoadChildren(hItem)) {
        if (GetMenuItemCount(popup) > 0)
            InsertMenuW(popup, 0, MF_BYPOSITION | MF_SEPARATOR, 0, nullptr);
        InsertMenuW(popup, 0, MF_BYPOSITION | MF_STRING, kRefreshCommand, LoadText(1500, _T("Refresh")));
        m_hRefreshItem = hItem;
    }
    if (GetMenuItemCount(popup) > 0) {
        m_contextMenu.RouteWindow(m_hWnd);
        ::TrackPopupMenu(popup, TPM_RIGHTBUTTON, screen.x, screen.y, 0, m_hWnd, nullptr);
        m_contextMenu.RouteWindow(nullptr);
    }
    return 0;
}

BOOL CShellTreeCtrl::OnCommand(WPARAM wParam, LPARAM lParam) {
    const UINT id = LOWORD(wParam);
    if (id >= kShellFirst && id <= kShellLast) {
        m_contextMenu.InvokeCommand(id);
        return TRUE;
    }
    if (id == kRefreshCommand) {
        RefreshCommand(m_hRefreshItem);
        return TRUE;
    }
    return CLoadAnimTreeCtrl::OnCommand(wParam, lParam);
}

void CShellTreeCtrl::RefreshCommand(HTREEITEM hItem) {
    if (!hItem)
        return;
    const int hScroll = GetScrollPos(SB_HORZ);
    const int vScroll = GetScrollPos(SB_VERT);
    if (hItem == TVI_ROOT || hItem == GetRootItem()) {
        Reload(TRUE);
    } else {
        BeginExpand(hItem);
        EndExpand(hItem);
    }
    SetScrollPos(SB_HORZ, hScroll, TRUE);
    SetScrollPos(SB_VERT, vScroll, TRUE);
}

LRESULT CShellTreeCtrl::OnKeyDownMsg(WPARAM wParam, LPARAM lParam) {
    if (wParam == static_cast<WPARAM>(VK_F5)) {
        HTREEITEM hItem = GetSelectedItem();
        if (hItem && (GetItemState(hItem, TVIS_EXPANDED) & TVIS_EXPANDED) && CanLoadChildren(hItem))
            RefreshCommand(hItem);
        return 0;
    }
    return DefWindowProc(WM_KEYDOWN, wParam, lParam);
}

LRESULT CShellTreeCtrl::OnLButtonDblClkMsg(WPARAM wParam, LPARAM lParam) {
    UINT flags = 0;
    const POINT pt{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
    HTREEITEM hItem = HitTest(pt, &flags);
    if (hItem && (flags & TVHT_ONITEMLABEL))
        if (CBackManager* pManager = CBackManager::Get())
            pManager->OnLButtonDblClk(this, hItem);
    return DefWindowProc(WM_LBUTTONDBLCLK, wParam, lParam);
}

// ---- Selection files ----

CString CShellTreeCtrl::EncodeName(const CString& strName) {
    CString out;
    for (int i = 0; i < strName.GetLength(); ++i) {
        const TCHAR c = strName[i];
        if (c == _T('|'))
            out += _T("||");
        else if (c == _T('\n'))
            out += _T("|n");
        else if (c == _T('\r'))
            out += _T("|r");
        else
            out += c;
    }
    return out;
}

CString CShellTreeCtrl::DecodeName(const CString& strText) {
    CString out;
    for (int i = 0; i < strText.GetLength(); ++i) {
        const TCHAR c = strText[i];
        if (c != _T('|') || i + 1 == strText.GetLength()) {
            out += c;
            continue;
        }
        const TCHAR next = strText[++i];
        out += next == _T('n') ? _T('\n') : next == _T('r') ? _T('\r') : next;
    }
    return out;
}

void CShellTreeCtrl::WriteSelectionItem(CString& strOut, HTREEITEM hItem, const CString& strPrefix) {
    CBackManager* pManager = CBackManager::Get();
    if (!pManager)
        return;
    const UINT state = GetCheckState(hItem);
    if (state == kStateChecked) {
        CString name;
        TCHAR type = 0;
        if (!pManager->GetItemName(this, hItem, name, type))
            return;
        CString line;
        if (type == _T('D')) {
            if (!strPrefix.IsEmpty())
                name = strPrefix + _T("\\") + name;
            line.Format(_T("%c\t%d\t%s\r\n"), _T('D'), 1, EncodeName(name).GetString());
            strOut += line;
        } else if (type == _T('F')) {
            if (strPrefix != m_strLastFolder) {
                m_strLastFolder = strPrefix;
                line.Format(_T("%c\t%d\t%s\r\n"), _T('D'), 2, EncodeName(strPrefix).GetString());
                strOut += line;
            }
            line.Format(_T("\t%c\t%d\t%s\r\n"), _T('F'), 1, EncodeName(name).GetString());
            strOut += line;
        }
        return;
    }
    if (state != kStatePartial)
        return;
    CString label;
    if (!pManager->GetItemLabel(this, hItem, label))
        return;
    CString path;
    if (strPrefix.IsEmpty())
        path = label;
    else
        path.Format(_T("%s\\%s"), strPrefix.GetString(), label.GetString());
    for (HTREEITEM hChild = GetChildItem(hItem); hChild; hChild = GetNextSiblingItem(hChild))
        if (GetCheckState(hChild) != kStateUnchecked)
            WriteSelectionItem(strOut, hChild, path);
}

BOOL CShellTreeCtrl::SaveSelecton(LPCTSTR lpszPath, HTREEITEM hStart) {
    if (!lpszPath || !*lpszPath)
        return FALSE;
    CString text;
    text += _T("#Version : 1.0.0\r\n");
    SYSTEMTIME now{};
    GetLocalTime(&now);
    CString date;
    date.Format(_T("#Date : %04d/%02d/%02d\r\n"), now.wYear, now.wMonth, now.wDay);
    text += date;
    m_strLastFolder.Empty();
    if (!hStart) {
        HTREEITEM hRoot = GetRootItem();
        hStart = hRoot ? GetChildItem(hRoot) : nullptr;
    }
    for (HTREEITEM hItem = hStart; hItem; hItem = GetNextSiblingItem(hItem))
        if (GetCheckState(hItem) != kStateUnchecked)
            WriteSelectionItem(text, hItem, CString());
    std::vector<BYTE> bytes{0xFF, 0xFE};
    for (int i = 0; i < text.GetLength(); ++i) {
        const TCHAR c = text[i];
        bytes.push_back(static_cast<BYTE>(c & 0xFF));
        bytes.push_back(static_cast<BYTE>(c >> 8));
    }
    platform::fs::WholeFile file;
    DWORD error = file.Begin(lpszPath);
    if (error == ERROR_SUCCESS)
        error = file.Write(bytes.data(), bytes.size());
    if (error == ERROR_SUCCESS)
        error = file.Commit();
    if (error != ERROR_SUCCESS) {
        CBackManager::LogDebug(_T("%s, %d: Save selection %s failed."), u"" __FILE__, __LINE__, lpszPath);
        SetLastError(error);
        return FALSE;
    }
    return TRUE;
}

int CShellTreeCtrl::ParseSelectionLine(CString& strLine, CString& strFolder, TCHAR& chType, int& nDepth) {
    int i = 0;
    while (i < strLine.GetLength() && (strLine[i] == _T('\t') || strLine[i] == _T(' ') || strLine[i] == 0xFEFF))
        ++i;
    if (i >= strLine.GetLength())
        return 0;
    chType = strLine[i++];
    while (i < strLine.GetLength() && strLine[i] == _T('\t'))
        ++i;
    while (i < strLine.GetLength() && strLine[i] == _T(' '))
        ++i;
    if (i >= strLine.GetLength())
        return 0;
    nDepth = strLine[i++] - _T('0');
    // One TAB separates the depth from the path; what follows is the path as written, blanks and TABs included.
    if (i < strLine.GetLength() && strLine[i] == _T('\t'))
        ++i;
    const CString rest = DecodeName(strLine.Mid(i));
    if (chType == _T('D')) {
        if (nDepth == 2)
            strFolder = rest;
        strLine = rest;
        return 1;
    }
    if (chType == _T('F')) {
        if (!strFolder.IsEmpty() && strFolder[strFolder.GetLength() - 1] == _T('\\'))
            strLine = strFolder + rest;
        else
            strLine = strFolder + _T("\\") + rest;
        return 1;
    }
    return 0;
}

BOOL CShellTreeCtrl::LoadSelection(LPCTSTR lpszPath) {
    HANDLE file = CreateFileW(lpszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return FALSE;
    std::vector<BYTE> bytes;
    BYTE chunk[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, chunk, sizeof chunk, &got, nullptr) != FALSE) && got > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    CloseHandle(file);
    if (!ok) {
        CBackManager::LogDebug(_T("%s, %d: Read selection %s failed."), u"" __FILE__, __LINE__, lpszPath);
        return FALSE;
    }
    SetAllStates(kStateUnchecked);
    CString folder;
    CString line;
    auto flush = [&]() {
        if (line.IsEmpty())
            return;
        int first = 0;
        while (first < line.GetLength() && line[first] == 0xFEFF)
            ++first;
        CString text = line.Mid(first);
        line.Empty();
        if (text.IsEmpty() || text[0] == _T('#'))
            return;
        TCHAR type = 0;
        int depth = 0;
        if (ParseSelectionLine(text, folder, type, depth) && depth == 1)
            ApplySelectionPath(text);
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const TCHAR c = static_cast<TCHAR>(bytes[i] | (bytes[i + 1] << 8));
        if (c == _T('\r') || c == _T('\n'))
            flush();
        else
            line += c;
    }
    flush();
    if (HTREEITEM hRoot = GetRootItem()) {
        SelectItem(hRoot);
        EnsureVisible(hRoot);
    }
    NotifyCheckChanged();
    return TRUE;
}

void CShellTreeCtrl::ExpandForSelection(HTREEITEM hItem) {
    if (GetChildItem(hItem))
        return;
    BeginExpand(hItem);
    EndExpand(hItem);
}

void CShellTreeCtrl::ApplySelectionPath(CString strPath) {
    CBackManager* pManager = CBackManager::Get();
    HTREEITEM hRoot = GetRootItem();
    if (!pManager || !hRoot)
        return;
    if (!strPath.IsEmpty() && strPath[strPath.GetLength() - 1] == _T('\\'))
        strPath = strPath.Left(strPath.GetLength() - 1);
    const int colon = strPath.Find(_T(':'));
    if (colon < 0)
        return;
    HTREEITEM hMatch = nullptr;
    for (HTREEITEM h = GetChildItem(hRoot); h && !hMatch; h = GetNextSiblingItem(h)) {
        if (strPath.GetLength() > 1 && strPath[1] == _T(':')) {
            if (!pManager->HasShellContextMenu(this, h))
                continue;
            CItemIDList list(pManager->GetItemIDList(this, h));
            if (WithoutTrailingBackslash(list.GetPath()).CompareNoCase(strPath.Left(colon + 1)) == 0)
                hMatch = h;
        } else if (strPath.Left(5) != _T("Disk ")) {
            if (pManager->GetDataFolderName(this, h) == strPath.Left(colon))
                hMatch = h;
        } else {
            CString label;
            if (pManager->GetItemLabel(this, h, label) && label.Left(colon) == strPath.Left(colon))
                hMatch = h;
        }
    }
    if (!hMatch || GetCheckState(hMatch) == kStateFixed)
        return;
    if (colon == strPath.GetLength() - 1) {
        CheckBranch(hMatch, kStateChecked);
        return;
    }
    // The rest after the drive (or the agent's label) and its backslash, one component at a time.
    CString rest = strPath.Mid(colon + 1);
    if (!rest.IsEmpty() && rest[0] == _T('\\'))
        rest = rest.Mid(1);
    std::vector<CString> parts;
    int start = 0;
    for (int slash = rest.Find(_T('\\')); slash >= 0; slash = rest.Find(_T('\\'), start)) {
        parts.push_back(rest.Mid(start, slash - start));
        start = slash + 1;
    }
    parts.push_back(rest.Mid(start));
    HTREEITEM hCurrent = hMatch;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        ExpandForSelection(hCurrent);
        HTREEITEM hNext = nullptr;
        for (HTREEITEM h = GetChildItem(hCurrent); h; h = GetNextSiblingItem(h))
            if (GetItemText(h) == parts[i]) {
                hNext = h;
                break;
            }
        if (!hNext)
            return;
        hCurrent = hNext;
    }
    ExpandForSelection(hCurrent);
    for (HTREEITEM h = GetChildItem(hCurrent); h; h = GetNextSiblingItem(h)) {
        CString name;
        TCHAR type = 0;
        if (!pManager->GetItemName(this, h, name, type) || name.IsEmpty())
            name = GetItemText(h);
        if (name == parts.back()) {
            if (GetCheckState(h) != kStateFixed)
                CheckBranch(h, kStateChecked);
            return;
        }
    }
}
