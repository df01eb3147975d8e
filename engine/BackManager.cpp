#include "engine/BackManager.h"

#include "app/BrannicApp.h"
#include "engine/BackAgent.h"
#include "engine/DesktopFolder.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/WinApp.h"
#include "platform/base/strings.h"
#include "platform/fs/volumes.h"
#include "platform/shell/changenotify.h"
#include "platform/shell/specialfolders.h"
#include "platform/system/sysinfo.h"

IMPLEMENT_DYNAMIC(CBackManager, CWnd)

namespace {

CBackManager* g_manager = nullptr;

CShellItemData* DataOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree || !hItem || hItem == TVI_ROOT)
        return nullptr;
    return reinterpret_cast<CShellItemData*>(pTree->GetItemData(hItem));
}

// Orders two items by the shell: their parent folder compares their last item ids.
int CALLBACK CompareShellItems(LPARAM lParam1, LPARAM lParam2, LPARAM) {
    auto* a = reinterpret_cast<CShellItemData*>(lParam1);
    auto* b = reinterpret_cast<CShellItemData*>(lParam2);
    if (!a || !b || !a->m_folder.IsValid() || !a->m_list.IsValid() || !b->m_list.IsValid())
        return 0;
    const HRESULT hr = a->m_folder->CompareIDs(0, a->m_list.GetLastItem(), b->m_list.GetLastItem());
    return FAILED(hr) ? 0 : static_cast<SHORT>(HRESULT_CODE(hr));
}

} // namespace

CStringList& CBackManager::ExcludedFolders() {
    // Never destroyed: a manager owned by the application object may end after the program's other statics.
    static auto* folders = new CStringList;
    return *folders;
}

CBackManager::CBackManager() : m_agents(10) {
    g_manager = this;
}

CBackManager::~CBackManager() {
    ExcludedFolders().RemoveAll();
    if (m_hWnd)
        DestroyWindow();
    m_agents.RemoveAll();
    if (g_manager == this)
        g_manager = nullptr;
}

CBackManager* CBackManager::Get() {
    return g_manager;
}

BOOL CBackManager::Create() {
    if (m_hWnd)
        return TRUE;
    WCHAR name[2048] = {};
    DWORD size = 2048;
    if (GetComputerNameW(name, &size))
        m_strComputerName = name;
    name[0] = 0;
    size = 2048;
    if (GetUserNameW(name, &size))
        m_strUserName = name;
    m_strSetName.Format(_T("%s@%s"), m_strUserName.GetString(), m_strComputerName.GetString());
    if (ExcludedFolders().IsEmpty()) {
        ExcludedFolders().AddTail(_T("System Volume Information"));
        ExcludedFolders().AddTail(_T("RECYCLER"));
    }
    CreateEx(WS_EX_TOPMOST, u"STATIC", u"BackManager", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr, nullptr);
    return m_hWnd != nullptr;
}

int CBackManager::AddAgent(CBackAgent* pAgent) {
    if (!pAgent || !pAgent->OnRegister())
        return 0;
    m_agents.AddTail(pAgent);
    return 1;
}

void CBackManager::RemoveAllAgents() {
    m_agents.RemoveAll();
}

CBackAgent* CBackManager::GetAgent(int nIndex) const {
    POSITION pos = m_agents.FindIndex(nIndex);
    return pos ? static_cast<CBackAgent*>(m_agents.GetAt(pos)) : nullptr;
}

int CBackManager::FillTree(CShellTreeCtrl* pTree, int nType, LPCTSTR lpszSetPath) {
    if (!pTree || !pTree->GetSafeHwnd())
        return 0;
    pTree->SetRedraw(FALSE);
    pTree->DeleteAllItems();
    CBackAgent* pFirst = GetAgent(0);
    CDesktopFolder desktop;
    CShellFolderPtr folder(desktop.Get());
    HTREEITEM hRoot = nullptr;
    if (nType == kTreeRestore) {
        CItemIDList set(lpszSetPath);
        CItemIDList computer(CSIDL_DRIVES, nullptr);
        std::unique_ptr<ITEMIDLIST, void (*)(LPITEMIDLIST)> parent(set.GetParentCopy(), CItemIDList::Free);
        CShellFolderPtr setParent(desktop.Get(), parent.get());
        if (set.IsValid())
            hRoot = CBackAgent::InsertShellItemWithImages(pTree, TVI_ROOT, setParent, parent.get(), set.GetLastItem(),
                                                          pFirst, 3, computer.GetIconIndex(SHGFI_SMALLICON),
                                                          computer.GetIconIndex(SHGFI_SMALLICON | SHGFI_OPENICON));
    } else {
        CItemIDList computer(CSIDL_DRIVES, nullptr);
        if (computer.IsValid())
            hRoot = CBackAgent::InsertShellItem(pTree, TVI_ROOT, TVI_LAST, folder, nullptr, computer, pFirst,
                                                nType == kTreeMonitor ? 3 : 0);
    }
    if (hRoot) {
        for (POSITION pos = m_agents.GetHeadPosition(); pos;) {
            auto* pAgent = static_cast<CBackAgent*>(m_agents.GetNext(pos));
            if (nType == kTreeRestore)
                pAgent->FillRestoreRoots(pTree, hRoot, lpszSetPath);
            else if (nType == kTreeMonitor)
                pAgent->FillMonitorRoots(pTree, hRoot);
            else
                pAgent->FillBackupRoots(pTree, hRoot);
        }
    }
    pTree->SetRedraw(TRUE);
    pTree->Invalidate();
    return 1;
}

int CBackManager::FillSourceTree(CShellTreeCtrl* pTree) {
    return FillTree(pTree, kTreeBackup, nullptr);
}

int CBackManager::FillMonitorTree(CShellTreeCtrl* pTree) {
    return FillTree(pTree, kTreeMonitor, nullptr);
}

int CBackManager::FillRestoreTree(CShellTreeCtrl* pTree, LPCTSTR lpszSetPath) {
    return FillTree(pTree, kTreeRestore, lpszSetPath);
}

CBackAgent* CBackManager::AgentOf(CShellTreeCtrl* pTree, HTREEITEM hItem) const {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_pAgent : nullptr;
}

void CBackManager::OnLButtonDblClk(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (CBackAgent* pAgent = AgentOf(pTree, hItem))
        pAgent->OnLButtonDblClk(DataOf(pTree, hItem));
}

int CBackManager::ExpandItem(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    if (!pAgent)
        return 0;
    switch (pTree->GetTreeType()) {
    case kTreeBackup:
    case kTreeMonitor:
        return pAgent->ExpandBackupItem(pTree, hItem);
    case kTreeRestore:
        return pAgent->ExpandRestoreItem(pTree, hItem, _T(""));
    default:
        return 0;
    }
}

LPITEMIDLIST CBackManager::GetItemIDList(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    return pAgent ? pAgent->GetItemIDList(pTree, hItem) : nullptr;
}

CShellFolderPtr CBackManager::GetRootFolder(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    return pAgent ? pAgent->GetRootFolder(pTree, hItem) : CShellFolderPtr();
}

int CBackManager::HasShellContextMenu(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    return pAgent ? pAgent->HasShellContextMenu(pTree, hItem) : 0;
}

CString CBackManager::GetDataFolderName(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    return pAgent ? pAgent->GetDataFolderName() : CString();
}

int CBackManager::CanExpand(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    return pAgent ? pAgent->CanExpand() : 0;
}

int CBackManager::GetItemName(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strName, TCHAR& chType) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    return pAgent ? pAgent->GetItemName(pTree, hItem, strName, chType) : 0;
}

int CBackManager::GetItemLabel(CShellTreeCtrl* pTree, HTREEITEM hItem, CString& strLabel) {
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    return pAgent ? pAgent->GetItemLabel(pTree, hItem, strLabel) : 0;
}

int CBackManager::ProcessShellNotify(CShellTreeCtrl* pTree, LONG lEvent, LPCTSTR lpszSetRoot, LPCITEMIDLIST pidl1,
                                     LPCITEMIDLIST pidl2) {
    if (!pTree)
        return 0;
    constexpr LONG kItemEvents = SHCNE_RENAMEITEM | SHCNE_CREATE | SHCNE_DELETE | SHCNE_MKDIR | SHCNE_RMDIR |
                                 SHCNE_UPDATEDIR | SHCNE_UPDATEITEM | SHCNE_RENAMEFOLDER;
    constexpr LONG kDriveEvents = SHCNE_MEDIAINSERTED | SHCNE_MEDIAREMOVED | SHCNE_DRIVEREMOVED | SHCNE_DRIVEADD |
                                  SHCNE_NETSHARE | SHCNE_NETUNSHARE | SHCNE_SERVERDISCONNECT;
    HTREEITEM hRoot = pTree->GetRootItem();
    if (pTree->GetTreeType() == kTreeRestore) {
        if (!(lEvent & kItemEvents) || lEvent == SHCNE_UPDATEITEM)
            return 1;
        const CString path = CItemIDList(pidl1).GetPath();
        const CString root(lpszSetRoot ? lpszSetRoot : _T(""));
        if (path.GetLength() < root.GetLength())
            return 0;
        if (path.CompareNoCase(root) == 0 && lEvent == SHCNE_UPDATEDIR) {
            pTree->Reload(TRUE);
            return 0;
        }
        for (POSITION pos = m_agents.GetHeadPosition(); pos;)
            static_cast<CBackAgent*>(m_agents.GetNext(pos))->OnSetShellChange(pTree, hRoot, root, lEvent, pidl1, pidl2);
        return 1;
    }
    if (lEvent & kItemEvents) {
        int result = 0;
        for (HTREEITEM hItem = hRoot ? pTree->GetChildItem(hRoot) : nullptr; hItem;) {
            // The agent may delete items; the next one is taken first.
            HTREEITEM hNext = pTree->GetNextSiblingItem(hItem);
            if (CBackAgent* pAgent = AgentOf(pTree, hItem))
                result = pAgent->OnShellChange(pTree, hItem, lEvent, pidl1, pidl2);
            hItem = hNext;
        }
        return result;
    }
    if (lEvent & kDriveEvents) {
        for (POSITION pos = m_agents.GetHeadPosition(); pos;) {
            auto* pAgent = static_cast<CBackAgent*>(m_agents.GetNext(pos));
            if (pAgent->GetDataFolderName() == _T("RegularFile"))
                return pAgent->UpdateDriveItems(pTree, lEvent, pidl1, pidl2);
        }
        return 0;
    }
    return 1;
}

CBackAgent* CBackManager::FindAgentItem(CShellTreeCtrl* pTree, LPCTSTR lpszName) {
    HTREEITEM hRoot = pTree ? pTree->GetRootItem() : nullptr;
    for (HTREEITEM h = hRoot ? pTree->GetChildItem(hRoot) : nullptr; h; h = pTree->GetNextSiblingItem(h)) {
        CBackAgent* pAgent = AgentOf(pTree, h);
        if (pAgent && pTree->GetCheckState(h) != kStateUnchecked && pAgent->GetDataFolderName() == lpszName)
            return pAgent;
    }
    return nullptr;
}

BOOL CBackManager::CollectAgents(CShellTreeCtrl* pTree, LPCTSTR lpszPath, CPtrList& agents) {
    if (!pTree || !pTree->GetSafeHwnd())
        return FALSE;
    BOOL added = FALSE;
    HTREEITEM hRoot = pTree->GetRootItem();
    for (HTREEITEM h = hRoot ? pTree->GetChildItem(hRoot) : nullptr; h; h = pTree->GetNextSiblingItem(h)) {
        CBackAgent* pAgent = AgentOf(pTree, h);
        if (pAgent && pAgent->FindCoveringItem(pTree, h, lpszPath)) {
            agents.AddTail(pAgent);
            added = TRUE;
        }
    }
    return added;
}

int CBackManager::HasBackupData(TCHAR chDrive) {
    for (POSITION pos = m_agents.GetHeadPosition(); pos;)
        if (static_cast<CBackAgent*>(m_agents.GetNext(pos))->HasBackupData(chDrive))
            return 1;
    return 0;
}

int CBackManager::IsBackupDeviceAvailable(LPCTSTR lpszPath) {
    CString path(lpszPath ? lpszPath : _T(""));
    if (path.Left(4) == _T("\\\\?\\"))
        path = path.Mid(4);
    if (path.IsEmpty())
        return 1;
    CString root;
    root.Format(_T("%c:\\"), path[0]);
    return GetDriveTypeW(root) != DRIVE_NO_ROOT_DIR ? 1 : 0;
}

void CBackManager::SetRestoreOptions(int nPathOption, LPCTSTR lpszDestPath, int nCoverOption) {
    m_nRestorePathOption = nPathOption;
    m_strDestPath = lpszDestPath ? lpszDestPath : _T("");
    m_nCoverOption = nCoverOption;
}

int CBackManager::IsExcludedFolder(LPCTSTR lpszPath) {
    if (!lpszPath)
        return 0;
    const CString path(lpszPath);
    const int prefix = path.Left(4) == _T("\\\\?\\") ? 7 : 3;
    if (path.GetLength() <= prefix)
        return 0;
    const CString rest = path.Mid(prefix);
    CStringList& folders = ExcludedFolders();
    auto excluded = [&](const CString& name) {
        return rest.GetLength() >= name.GetLength() && rest.Left(name.GetLength()).CompareNoCase(name) == 0 &&
               (rest.GetLength() == name.GetLength() || rest[name.GetLength()] == _T('\\'));
    };
    if (folders.IsEmpty())
        return excluded(_T("System Volume Information")) || excluded(_T("RECYCLER")) ? 1 : 0;
    for (POSITION pos = folders.GetHeadPosition(); pos;)
        if (excluded(folders.GetNext(pos)))
            return 1;
    return 0;
}

int CBackManager::AttachProgressDlg(CWnd* pDialog) {
    if (pDialog && m_pProgressDlg)
        return 0;
    m_pProgressDlg = pDialog;
    return 1;
}

void CBackManager::CancelAllJobs() {
    // No copy job runs through the manager yet.
}

void CBackManager::SortChildren(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    if (!pTree)
        return;
    TVSORTCB sort{};
    sort.hParent = hItem;
    sort.lpfnCompare = CompareShellItems;
    pTree->SortChildrenCB(&sort);
}

void CBackManager::LogDebug(LPCTSTR lpszFormat, LPCTSTR lpszFile, int nLine, LPCTSTR lpszText) {
    CWinApp* pApp = AfxGetApp();
    if (!pApp || !pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)))
        return;
    CString file(lpszFile ? lpszFile : _T(""));
    file = file.Mid(file.ReverseFind(_T('/')) + 1);
    CString text;
    text.Format(lpszFormat, file.GetString(), nLine, lpszText ? lpszText : _T(""));
    static_cast<CBrannicApp*>(pApp)->Log(text, lpszFile, nLine, 8);
}
