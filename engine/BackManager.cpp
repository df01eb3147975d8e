#include "engine/BackManager.h"

#include "app/BrannicApp.h"
#include "engine/BackAgent.h"
#include "engine/DesktopFolder.h"
#include "engine/ShellItemData.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/WinApp.h"
#include "platform/base/strings.h"
#include "platform/fs/files.h"
#include "platform/fs/volumes.h"
#include "platform/shell/changenotify.h"
#include "platform/shell/specialfolders.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/message.h"
#include "platform/ui/window.h"

#include <chrono>
#include <memory>
#include <vector>

IMPLEMENT_DYNAMIC(CBackManager, CWnd)

BEGIN_MESSAGE_MAP(CBackManager, CWnd)
ON_MESSAGE(WM_JOB_ERROR, OnJobError)
ON_MESSAGE(WM_JOB_DONE, OnJobDone)
ON_MESSAGE(WM_JOB_MAP_PATH, OnJobMapPath)
ON_MESSAGE(WM_JOB_AGENT_MAP_PATH, OnJobAgentMapPath)
ON_MESSAGE(WM_JOB_FINISHED, OnJobFinished)
ON_MESSAGE(WM_JOB_QUEUED_EVENTS, OnJobQueuedEvents)
ON_WM_TIMER()
END_MESSAGE_MAP()

namespace {

CBackManager* g_manager = nullptr;

// The timer that delivers the jobs' queued events while they keep coming, and its period: often enough for the
// dialogs to look live, seldom enough for a job's stream of events to cost the GUI thread little.
constexpr UINT_PTR kDeliveryTimer = 1;
constexpr UINT kDeliveryPeriodMs = 20;

// A symbolic link is left out of every job: what it points at may lie outside the selection, and a link is no
// file of the user's to copy.
bool IsLink(LPCTSTR lpszPath) {
    if (!lpszPath || !*lpszPath)
        return false;
    const DWORD dwAttributes = GetFileAttributesW(lpszPath);
    return dwAttributes != INVALID_FILE_ATTRIBUTES && (dwAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

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

CBackManager::CBackManager() : m_agents(10), m_jobs(10) {
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

namespace {

constexpr LPCTSTR kOutlookExpress = _T("OutlookExpress");

CBackAgent* OwnerOf(CShellTreeCtrl* pTree, HTREEITEM hItem) {
    CShellItemData* pData = DataOf(pTree, hItem);
    return pData ? pData->m_pAgent : nullptr;
}

// The first Outlook Express root item that is not unchecked, and its agent.
HTREEITEM FindOERoot(CShellTreeCtrl* pTree, CBackAgent** ppAgent) {
    HTREEITEM hRoot = pTree && pTree->GetSafeHwnd() ? pTree->GetRootItem() : nullptr;
    for (HTREEITEM h = hRoot ? pTree->GetChildItem(hRoot) : nullptr; h; h = pTree->GetNextSiblingItem(h)) {
        CBackAgent* pAgent = OwnerOf(pTree, h);
        if (pAgent && pTree->GetCheckState(h) != kStateUnchecked && pAgent->GetDataFolderName() == kOutlookExpress) {
            *ppAgent = pAgent;
            return h;
        }
    }
    return nullptr;
}

std::vector<HTREEITEM> CheckedOEIdentities(CShellTreeCtrl* pTree) {
    std::vector<HTREEITEM> identities;
    CBackAgent* pAgent = nullptr;
    HTREEITEM hOE = FindOERoot(pTree, &pAgent);
    if (!hOE)
        return identities;
    const CString match = pAgent->GetMatchName();
    for (HTREEITEM h = pTree->GetChildItem(hOE); h; h = pTree->GetNextSiblingItem(h))
        if (pTree->GetCheckState(h) != kStateUnchecked && pTree->GetItemText(h) != match)
            identities.push_back(h);
    return identities;
}

} // namespace

int CBackManager::GetCheckedOEIdentities(CShellTreeCtrl* pTree, CStringList& identities) {
    const std::vector<HTREEITEM> items = CheckedOEIdentities(pTree);
    for (HTREEITEM h : items)
        identities.AddTail(pTree->GetItemText(h));
    return items.empty() ? 0 : 1;
}

void CBackManager::UncheckOEIdentities(CShellTreeCtrl* pTree) {
    for (HTREEITEM h : CheckedOEIdentities(pTree))
        pTree->CheckBranch(h, kStateUnchecked);
}

int CBackManager::SetOEIdentityLists(CShellTreeCtrl* pTree, CStringList& sources, CStringList& targets) {
    HTREEITEM hRoot = pTree && pTree->GetSafeHwnd() ? pTree->GetRootItem() : nullptr;
    int result = 0;
    BOOL bAll = TRUE;
    for (HTREEITEM h = hRoot ? pTree->GetChildItem(hRoot) : nullptr; h; h = pTree->GetNextSiblingItem(h)) {
        CBackAgent* pAgent = AgentOf(pTree, h);
        if (!pAgent || pTree->GetCheckState(h) == kStateUnchecked || pAgent->GetDataFolderName() != kOutlookExpress)
            continue;
        // Each agent takes its own copy: the lists are consumed by the one that takes them.
        CStringList sourceCopy, targetCopy;
        sourceCopy.AddTail(&sources);
        targetCopy.AddTail(&targets);
        if (!pAgent->SetIdentityPairs(sourceCopy, targetCopy))
            bAll = FALSE;
        result = 1;
    }
    sources.RemoveAll();
    targets.RemoveAll();
    return result && bAll ? 1 : 0;
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

CString CBackManager::GetSetPath(LPCTSTR lpszDest) const {
    const CString dest(lpszDest ? lpszDest : _T(""));
    CString path;
    if (!dest.IsEmpty() && dest[dest.GetLength() - 1] == _T('\\'))
        path.Format(_T("%s%s\\%s@%s"), dest.GetString(), _T("KovraData"), m_strUserName.GetString(),
                    m_strComputerName.GetString());
    else
        path.Format(_T("%s\\%s\\%s@%s"), dest.GetString(), _T("KovraData"), m_strUserName.GetString(),
                    m_strComputerName.GetString());
    return path;
}

BOOL CBackManager::CreateJob(CBackJob** ppJob, HWND hOwnerWnd, DWORD dwFlags, int nErrorMode, CShellTreeCtrl* pTree,
                             LPCTSTR lpszDest) {
    return CreateJob(ppJob, hOwnerWnd, dwFlags, nErrorMode, nullptr, pTree, lpszDest);
}

BOOL CBackManager::CreateJob(CBackJob** ppJob, HWND hOwnerWnd, DWORD dwFlags, int nErrorMode,
                             const JOB_ESTIMATES* pEstimates, CShellTreeCtrl* pTree, LPCTSTR lpszDest) {
    auto pJob = std::make_unique<CBackJob>(m_hWnd);
    if (ppJob)
        *ppJob = nullptr;
    pJob->SetErrorMode(nErrorMode);
    if (pEstimates)
        pJob->FixEstimates(*pEstimates);
    if (!pTree || !pTree->GetSafeHwnd())
        return FALSE;

    int nCount1 = 0;
    int nCount2 = 0;
    const int nType = pTree->GetTreeType();
    if (nType == kTreeBackup || nType == kTreeRestore) {
        const CString setPath = GetSetPath(lpszDest);
        HTREEITEM hRoot = pTree->GetRootItem();
        for (HTREEITEM h = hRoot ? pTree->GetChildItem(hRoot) : nullptr; h; h = pTree->GetNextSiblingItem(h)) {
            CBackAgent* pAgent = AgentOf(pTree, h);
            if (!pAgent || pTree->GetCheckState(h) == kStateUnchecked)
                continue;
            int c1 = 0;
            int c2 = 0;
            if (nType == kTreeBackup)
                pAgent->PrepareBackup(pTree, h, setPath, dwFlags, &c1, &c2);
            else
                pAgent->PrepareRestore(pTree, h, dwFlags, &c1, &c2);
            nCount1 += c1;
            nCount2 += c2;
        }
    }
    if (nType == kTreeRestore && (dwFlags & KOVRA_JOB_COPY)) {
        if (m_nCoverOption == 0) {
            dwFlags |= KOVRA_JOB_FAIL_IF_EXISTS;
            dwFlags &= ~KOVRA_JOB_NO_OVERWRITE;
        } else if (m_nCoverOption == 2) {
            dwFlags |= KOVRA_JOB_NO_OVERWRITE;
            dwFlags &= ~KOVRA_JOB_FAIL_IF_EXISTS;
        } else {
            dwFlags &= ~(KOVRA_JOB_NO_OVERWRITE | KOVRA_JOB_FAIL_IF_EXISTS);
        }
    }
    CBackJob* pRaw = pJob.get();
    if (!pJob->Start(hOwnerWnd, pTree, lpszDest, dwFlags, JobCallback, pRaw, nCount1, nCount2, _T("No Name")))
        return FALSE; // the job that never ran goes here, with nothing of it left behind
    // The worker's first question reaches this thread only once it serves sent messages again, so the job is in
    // the map before anything can ask for it.
    m_jobs.SetAt(pRaw, pRaw);
    pJob.release();
    if (ppJob)
        *ppJob = pRaw;
    return TRUE;
}

BOOL CBackManager::IsJobRunning(CBackJob* pJob) const {
    void* pFound = nullptr;
    return pJob && m_jobs.Lookup(pJob, pFound);
}

BOOL CBackManager::CancelJob(CBackJob* pJob) {
    if (!IsJobRunning(pJob))
        return 0;
    return pJob->Cancel();
}

int CBackManager::SetJobErrorMode(CBackJob* pJob, int nMode) {
    if (!IsJobRunning(pJob))
        return 0;
    pJob->SetErrorMode(nMode);
    return nMode;
}

BOOL CBackManager::CancelAllJobs(DWORD dwTimeoutMs) {
    for (POSITION pos = m_jobs.GetStartPosition(); pos;) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_jobs.GetNextAssoc(pos, pKey, pValue);
        static_cast<CBackJob*>(pValue)->Cancel();
    }
    // The workers end by sending their last events to this thread: serve them until every job is gone.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(dwTimeoutMs);
    while (!m_jobs.IsEmpty() && std::chrono::steady_clock::now() < deadline) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_SENDMESSAGE);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
    }
    return m_jobs.IsEmpty();
}

HTREEITEM CBackManager::CurrentItem(CBackJob* pJob) {
    TVITEMW* pItem = pJob ? pJob->GetStatus().pTreeItem : nullptr;
    return pItem ? pItem->hItem : nullptr;
}

int CALLBACK CBackManager::JobCallback(HANDLE, LPVOID pUserData, DWORD dwEvent, DWORD dwCode, HWND, TVITEMW* pItem,
                                       LPWSTR lpszSource, LPWSTR lpszDest, KOVRA_PROGRESS* pProgress) {
    auto* pJob = static_cast<CBackJob*>(pUserData);
    if (!pJob)
        return KOVRA_PROGRESS_CONTINUE;
    pJob->UpdateStatus(pProgress, pItem, lpszSource, lpszDest);
    JOB_STATUS& status = pJob->GetStatus();
    const HWND hManager = pJob->GetManagerWnd();
    const LPARAM lJob = reinterpret_cast<LPARAM>(pJob);
    CShellTreeCtrl* pTree = pJob->GetTree();
    const int nType = pTree ? pTree->GetTreeType() : 0;
    int nAnswer = KOVRA_PROGRESS_CONTINUE;

    switch (dwEvent) {
    case KOVRA_JOB_END:
        ::SendMessageW(hManager, WM_JOB_FINISHED, pProgress ? pProgress->dwCancel : 0, lJob);
        break;
    case KOVRA_CALC_NODE:
    case KOVRA_COPY_NODE:
        nAnswer = static_cast<int>(::SendMessageW(hManager, WM_JOB_AGENT_MAP_PATH, 0, lJob));
        if (lpszSource)
            lstrcpynW(lpszSource, status.tszSrcPath, 2048);
        if (nAnswer != KOVRA_PROGRESS_ABORT && IsLink(status.tszSrcPath))
            nAnswer = KOVRA_PROGRESS_SKIP;
        if (nAnswer != KOVRA_PROGRESS_SKIP && lpszDest) {
            if (::SendMessageW(hManager, WM_JOB_MAP_PATH, 0, lJob) == 1)
                nAnswer = KOVRA_PROGRESS_SKIP;
            else
                lstrcpynW(lpszDest, status.tszDestPath, 2048);
        }
        break;
    case KOVRA_CALC_ENTER_DIR:
    case KOVRA_COPY_ENTER_DIR:
        if ((nType != kTreeRestore && IsExcludedFolder(lpszSource)) || IsLink(lpszSource)) {
            nAnswer = KOVRA_PROGRESS_SKIP;
        } else if (lpszDest) {
            if (::SendMessageW(hManager, WM_JOB_MAP_PATH, 0, lJob) == 1)
                nAnswer = KOVRA_PROGRESS_SKIP;
            else
                lstrcpynW(lpszDest, status.tszDestPath, 2048);
        }
        break;
    case KOVRA_CALC_FILE_BEGIN:
    case KOVRA_FILE_COPY_BEGIN:
        if (!pTree || !::IsWindow(pTree->GetSafeHwnd())) {
            // Without its tree the job has no selection left to follow: it ends here rather than leaving every
            // remaining file out one by one.
            LogDebug(_T("%s, %d: Get selection tree failed.%s"), KOVRA_SOURCE_FILE, __LINE__, _T(""));
            nAnswer = KOVRA_PROGRESS_ABORT;
        } else if (pTree->IsFilteredPath(lpszSource) || (nType != kTreeRestore && IsExcludedFolder(lpszSource)) ||
                   IsLink(lpszSource)) {
            nAnswer = KOVRA_PROGRESS_SKIP;
        }
        break;
    case KOVRA_CALC_FILE_END:
    case KOVRA_FILE_COPY_COMPLETE:
        if (dwCode != 0 && dwCode != KOVRA_ERROR_SKIPPED)
            nAnswer = static_cast<int>(::SendMessageW(hManager, WM_JOB_ERROR, dwCode, lJob));
        break;
    default:
        break;
    }
    pJob->Notify(dwEvent, nAnswer, static_cast<int>(dwCode));
    if (dwEvent == KOVRA_JOB_END)
        ::SendMessageW(hManager, WM_JOB_DONE, 0, lJob);
    return nAnswer;
}

void CBackManager::DeliverQueuedEvents(CBackJob* pJob) {
    if (IsJobRunning(pJob))
        pJob->DeliverQueuedEvents();
}

LRESULT CBackManager::OnJobQueuedEvents(WPARAM, LPARAM lParam) {
    auto* pJob = reinterpret_cast<CBackJob*>(lParam);
    // A job that ended meanwhile had its queue delivered before its end event.
    if (!IsJobRunning(pJob))
        return 0;
    pJob->DeliverQueuedEvents();
    // The job asks once; what it queues from now on is taken on the timer until it has nothing more.
    if (!m_bDeliveryTimer)
        m_bDeliveryTimer = SetTimer(kDeliveryTimer, kDeliveryPeriodMs, nullptr) != 0;
    if (!m_bDeliveryTimer && !pJob->EndDeliveryWhenIdle())
        PostMessage(WM_JOB_QUEUED_EVENTS, 0, lParam);
    return 0;
}

void CBackManager::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kDeliveryTimer) {
        CWnd::OnTimer(nIDEvent);
        return;
    }
    // An owner may start or end jobs while it handles their events: the list is taken first.
    std::vector<CBackJob*> jobs;
    for (POSITION pos = m_jobs.GetStartPosition(); pos;) {
        void* pKey = nullptr;
        void* pValue = nullptr;
        m_jobs.GetNextAssoc(pos, pKey, pValue);
        jobs.push_back(static_cast<CBackJob*>(pValue));
    }
    BOOL bIdle = TRUE;
    for (CBackJob* pJob : jobs) {
        if (!IsJobRunning(pJob))
            continue;
        pJob->DeliverQueuedEvents();
        if (IsJobRunning(pJob) && !pJob->EndDeliveryWhenIdle())
            bIdle = FALSE;
    }
    if (bIdle && m_bDeliveryTimer) {
        KillTimer(kDeliveryTimer);
        m_bDeliveryTimer = FALSE;
    }
}

LRESULT CBackManager::OnJobAgentMapPath(WPARAM, LPARAM lParam) {
    auto* pJob = reinterpret_cast<CBackJob*>(lParam);
    DeliverQueuedEvents(pJob);
    CShellTreeCtrl* pTree = pJob ? pJob->GetTree() : nullptr;
    HTREEITEM hItem = CurrentItem(pJob);
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    if (!pAgent)
        return KOVRA_PROGRESS_SKIP;
    switch (pTree->GetTreeType()) {
    case kTreeRestore:
        return pAgent->GetRestoreNodeAnswer(pTree, hItem, pJob->GetStatus().tszSrcPath, 4096);
    case kTreeBackup:
    case kTreeMonitor:
        return pAgent->GetBackupNodeAnswer(pTree, hItem, pJob->GetStatus().tszSrcPath, 4096);
    default:
        return 0;
    }
}

LRESULT CBackManager::OnJobMapPath(WPARAM, LPARAM lParam) {
    auto* pJob = reinterpret_cast<CBackJob*>(lParam);
    DeliverQueuedEvents(pJob);
    CShellTreeCtrl* pTree = pJob ? pJob->GetTree() : nullptr;
    HTREEITEM hItem = CurrentItem(pJob);
    if (!pTree || !pTree->GetSafeHwnd() || !hItem)
        return 1;
    TVITEMW probe{};
    probe.mask = TVIF_HANDLE;
    probe.hItem = hItem;
    if (!pTree->GetItem(&probe))
        return 1;
    CBackAgent* pAgent = AgentOf(pTree, hItem);
    if (!pAgent)
        return 1;
    JOB_STATUS& status = pJob->GetStatus();
    switch (pTree->GetTreeType()) {
    case kTreeBackup:
    case kTreeMonitor:
        return pAgent->MapBackupPath(pTree, hItem, m_strSetName, status.tszSrcPath, status.tszDestPath, 4096);
    case kTreeRestore:
        return pAgent->MapRestorePath(pTree, hItem, m_nRestorePathOption, m_strDestPath, status.tszSrcPath,
                                      status.tszDestPath, 4096);
    default:
        return 1;
    }
}

LRESULT CBackManager::OnJobError(WPARAM wParam, LPARAM lParam) {
    auto* pJob = reinterpret_cast<CBackJob*>(lParam);
    if (!pJob)
        return KOVRA_PROGRESS_ABORT;
    DeliverQueuedEvents(pJob);
    const DWORD dwCode = static_cast<DWORD>(wParam);
    JOB_STATUS& status = pJob->GetStatus();
    const BOOL bDrivesThere = IsBackupDeviceAvailable(status.tszDestPath) && IsBackupDeviceAvailable(status.tszSrcPath);
    // A file that failed because the job was cancelled ends the job: nobody is asked about each file that follows.
    if (dwCode == ERROR_REQUEST_ABORTED)
        return KOVRA_PROGRESS_ABORT;
    if (!(pJob->GetFlags() & KOVRA_JOB_COPY)) {
        if (dwCode == ERROR_FILE_NOT_FOUND || dwCode == ERROR_PATH_NOT_FOUND)
            return bDrivesThere ? KOVRA_PROGRESS_CONTINUE : KOVRA_PROGRESS_ABORT;
        return KOVRA_PROGRESS_CONTINUE;
    }
    int nDefault = KOVRA_PROGRESS_SKIP;
    if (dwCode == ERROR_DISK_FULL || dwCode == ERROR_UNRECOGNIZED_VOLUME)
        nDefault = KOVRA_PROGRESS_ABORT;
    else if (dwCode == ERROR_PATH_NOT_FOUND)
        nDefault = bDrivesThere ? KOVRA_PROGRESS_SKIP : KOVRA_PROGRESS_ABORT;
    if (pJob->GetErrorMode() == 0 || (dwCode == ERROR_FILE_EXISTS && m_nCoverOption == 0)) {
        const LRESULT lOwner = ::SendMessageW(pJob->GetOwnerWnd(), WM_JOB_ERROR, wParam, lParam);
        return nDefault == KOVRA_PROGRESS_ABORT ? KOVRA_PROGRESS_ABORT : static_cast<int>(lOwner);
    }
    return pJob->GetErrorMode() == 2 ? KOVRA_PROGRESS_ABORT : nDefault;
}

LRESULT CBackManager::OnJobFinished(WPARAM wParam, LPARAM lParam) {
    auto* pJob = reinterpret_cast<CBackJob*>(lParam);
    DeliverQueuedEvents(pJob);
    CShellTreeCtrl* pTree = pJob ? pJob->GetTree() : nullptr;
    if (!pTree || !(pJob->GetFlags() & KOVRA_JOB_COPY) || !pTree->GetSafeHwnd())
        return 0;
    const int nCancel = static_cast<int>(wParam);
    HTREEITEM hRoot = pTree->GetRootItem();
    for (HTREEITEM h = hRoot ? pTree->GetChildItem(hRoot) : nullptr; h; h = pTree->GetNextSiblingItem(h)) {
        CBackAgent* pAgent = AgentOf(pTree, h);
        if (!pAgent || pTree->GetCheckState(h) == kStateUnchecked)
            continue;
        if (pTree->GetTreeType() == kTreeBackup)
            pAgent->AfterBackup(nCancel, pTree, h);
        else if (pTree->GetTreeType() == kTreeRestore)
            pAgent->AfterRestore(nCancel, pTree, h);
    }
    return 0;
}

LRESULT CBackManager::OnJobDone(WPARAM, LPARAM lParam) {
    auto* pJob = reinterpret_cast<CBackJob*>(lParam);
    if (!IsJobRunning(pJob))
        return 0;
    pJob->DeliverQueuedEvents();
    m_jobs.RemoveKey(pJob);
    // Its destructor cancels the handle it still holds: harmless, the library is still inside its end event.
    delete pJob;
    return 0;
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
