#include "workflows/ExpertMonitor.h"

#include "app/BrannicApp.h"
#include "app/LogFilterDlg.h"
#include "app/LogViewDlg.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/CheckTreeCtrl.h"
#include "engine/CopyProDlg.h"
#include "engine/ShellItemData.h"
#include "storage/ZentraManager.h"
#include "workflows/DestinationBox.h"
#include "workflows/ExpertModeDlg.h"
#include "workflows/PageSettings.h"

#include "platform/afx/FileDialog.h"
#include "platform/afx/ModuleState.h"
#include "platform/base/clock.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/message.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(CExpertMonitor, CExpertPage)

namespace {

constexpr UINT WM_ACTIVITY = WM_USER + 1000;
constexpr UINT WM_DEST_SPACE_CHANGED = WM_USER + 3115;
// The page's own messages from the action thread.
constexpr UINT WM_MONITOR_LOG_LINES = WM_USER + 1504;
constexpr UINT WM_MONITOR_ACTIVITY = WM_USER + 1505;
constexpr UINT WM_MONITOR_SPACE = WM_USER + 1506;
constexpr LPARAM kVolumeAdded = 1;
constexpr LPARAM kVolumeRemoved = 3;
constexpr UINT_PTR kIdleTimer = 1200;
// The activity shows as ended once no change has come for this long.
constexpr UINT kIdleDelayMs = 300;

constexpr int IDC_TREE = 1201;
constexpr int IDC_DEST = 1211;
constexpr int IDC_FIRST_FIGURE = 1214;
constexpr int IDC_LOG = 1221;
constexpr int IDC_STATUS = 1241;
constexpr int IDC_START = 1251;
constexpr int IDC_CLEAR = 1252;
constexpr int IDC_OPTIONS = 1253;
constexpr int IDC_SAVE_AS = 1254;
constexpr int IDC_ICON = 1255;

constexpr LPCTSTR kSubKey = _T("Expert\\Monitor");

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

CString LoadText(UINT nId) {
    CString text;
    text.LoadString(nId);
    return text;
}

CString ConfigFile(LPCTSTR lpszName) {
    CString folder;
    if (CBrannicApp* pApp = App())
        pApp->GetConfigPath(folder);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != _T('\\'))
        folder += _T('\\');
    return folder + lpszName;
}

} // namespace

BEGIN_MESSAGE_MAP(CExpertMonitor, CExpertPage)
ON_BN_CLICKED(IDC_START, OnMStart)
ON_BN_CLICKED(IDC_CLEAR, OnClearLogs)
ON_BN_CLICKED(IDC_SAVE_AS, OnSaveAs)
ON_BN_CLICKED(IDC_OPTIONS, OnOptions)
ON_CBN_SELCHANGE(IDC_DEST, OnSelChangeDest)
ON_WM_TIMER()
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
ON_MESSAGE(WM_TREE_CHECK_CHANGED, OnCheckChanged)
ON_MESSAGE(WM_FILE_ACTION_QUERY, OnFileActionQuery)
ON_MESSAGE(WM_MONITOR_PROMPT, OnPromptDialog)
ON_MESSAGE(WM_MONITOR_SYNCHRONISE, OnSynchronise)
ON_MESSAGE(WM_MONITOR_ENABLE, OnMonitorEnable)
ON_MESSAGE(WM_DEST_SPACE_CHANGED, OnDestSpaceChanged)
ON_MESSAGE(WM_MONITOR_LOG_LINES, OnLogLines)
ON_MESSAGE(WM_MONITOR_ACTIVITY, OnActivityMsg)
ON_MESSAGE(WM_MONITOR_SPACE, OnSpaceMsg)
END_MESSAGE_MAP()

CExpertMonitor::CExpertMonitor(CWnd* pParentWnd) : CExpertPage(IDD, pParentWnd) {
    WCHAR user[256] = {};
    WCHAR computer[256] = {};
    DWORD dwUser = 256;
    DWORD dwComputer = 256;
    ::GetUserNameW(user, &dwUser);
    ::GetComputerNameW(computer, &dwComputer);
    m_strUserComputer.Format(_T("%s@%s"), user, computer);
}

CExpertMonitor::~CExpertMonitor() {
    if (m_pMonitor)
        StopMonitorAndWait();
    if (m_hDriveIcon)
        ::DestroyIcon(m_hDriveIcon);
}

void CExpertMonitor::RemoveRegistry() {
    CPageSettings(kSubKey).RemoveKey();
}

CString CExpertMonitor::SelectionPath() const {
    return ConfigFile(_T("ExpertMonitorBackup.rpr"));
}

BOOL CExpertMonitor::OnInitDialog() {
    CExpertPage::OnInitDialog();
    m_bStartupPending = TRUE;
    const CPageSettings settings(kSubKey);

    m_tree.SubclassDlgItem(IDC_TREE, this);
    m_tree.InitTree(603, 130, 700, IDD, kTreeMonitor, FALSE);
    if (CBackManager* pManager = CBackManager::Get())
        pManager->FillMonitorTree(&m_tree);
    if (CBrannicApp* pApp = App()) {
        CString filter;
        pApp->GetFilter(filter);
        m_tree.SetFilter(filter);
    }
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);

    // The log of earlier runs stays: it is what tells the user what Auto-Backup did before the program ended.
    m_log.Init(ConfigFile(_T("ExpertMonitor.log")), ConfigFile(_T("~ExpertMonitor.log")), 0xFFFFFFFF, TRUE);
    m_list.SubclassDlgItem(IDC_LOG, this);
    m_log.AttachListCtrl(&m_list, 116, 117, 118, 539, 537, 540, 538, 5031, 5030, 5029, 5032);
    m_list.EnableTips(539, 537, 540, 538, ShowLogTipsCallback, this);
    const struct {
        LPCTSTR name;
        DWORD dwDefault;
    } columns[] = {{_T("Column1Width"), 60}, {_T("Column2Width"), 97}, {_T("Column3Width"), 110}};
    for (int i = 0; i < 3; ++i) {
        DWORD dwWidth = columns[i].dwDefault;
        settings.ReadDword(columns[i].name, dwWidth);
        m_list.SetColumnWidth(i, static_cast<int>(dwWidth));
    }

    SetDlgItemText(IDC_START, LoadText(1251));
    SetStatus(1265);

    CFileActionHandler::Hooks hooks;
    hooks.destinationDrive = [this] {
        CString drive;
        if (CBrannicApp* pApp = App(); pApp && m_combo.GetCurSel() != CB_ERR)
            pApp->GetSelectedDrive(&m_combo, drive, nullptr, FALSE);
        return drive;
    };
    hooks.log = [this](int nType, const CString& strText, LPCTSTR lpszFile, int nLine) {
        QueueLogLine(nType, strText, lpszFile, nLine);
    };
    hooks.activity = [this](int nStart) {
        ::PostMessageW(m_hWnd, WM_MONITOR_ACTIVITY, static_cast<WPARAM>(nStart), 0);
    };
    hooks.destSpaceChanged = [this](int nLetter) {
        // One refresh for a run of changes: only the first change since the last refresh posts.
        if (m_nSpaceLetter.exchange(nLetter) == -1)
            ::PostMessageW(m_hWnd, WM_MONITOR_SPACE, 0, 0);
    };
    m_pHandler = std::make_unique<CFileActionHandler>(&m_tree, m_strUserComputer, std::move(hooks));
    m_pHandler->SetWindow(m_hWnd);

    if (CBrannicApp* pApp = App()) {
        if (CZentraManager* pManager = pApp->GetZentraManager())
            m_bRegistered = pManager->RegisterWindow(this, 0);
    }
    m_strDestDrive.Empty();
    settings.ReadString(_T("DestDrive"), m_strDestDrive);
    DWORD dwSerial = 0, dwRunning = 0;
    settings.ReadDword(_T("DestSerialNo"), dwSerial);
    settings.ReadDword(_T("Running"), dwRunning);
    m_dwDestSerial = dwSerial;
    m_nRunningSetting = dwRunning ? 1 : 0;
    m_combo.SubclassDlgItem(IDC_DEST, this);
    const BOOL bFound = CDestinationBox::Fill(&m_combo, m_strDestDrive, m_dwDestSerial);
    m_tree.LoadSelection(SelectionPath());
    RefreshDestination();
    if (m_nRunningSetting && m_tree.HasCheckedItems() && bFound)
        PostMessage(WM_MONITOR_ENABLE, 1, 0);
    return TRUE;
}

BOOL CExpertMonitor::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CExpertPage::PreTranslateMessage(pMsg);
}

void CExpertMonitor::SetStatus(UINT nStringId) {
    SetDlgItemText(IDC_STATUS, LoadText(nStringId));
}

int CExpertMonitor::MessageBoxId(UINT nTextId, UINT nType, LPCTSTR lpszArg1, LPCTSTR lpszArg2) {
    return CDestinationBox::MessageBoxId(this, 903, nTextId, nType, lpszArg1, lpszArg2);
}

void CExpertMonitor::RefreshDestination() {
    CDestinationBox::Refresh(this, &m_combo, IDC_ICON, IDC_FIRST_FIGURE, m_hDriveIcon);
}

void CExpertMonitor::OnSelChangeDest() {
    RefreshDestination();
}

LRESULT CExpertMonitor::OnDestSpaceChanged(WPARAM wParam, LPARAM) {
    CDestinationBox::OnSpaceChanged(this, &m_combo, static_cast<int>(wParam), IDC_FIRST_FIGURE);
    return 0;
}

void CExpertMonitor::NotifyDestSpaceChanged(int nLetterIndex) {
    if (nLetterIndex < 0)
        return;
    CBrannicApp* pApp = App();
    if (CExpertModeDlg* pExpert = pApp ? pApp->GetExpertDlg() : nullptr; pExpert && pExpert->GetSafeHwnd())
        pExpert->NotifyDestSpaceChanged(nLetterIndex);
    else
        PostMessage(WM_DEST_SPACE_CHANGED, static_cast<WPARAM>(nLetterIndex), 0);
}

LRESULT CExpertMonitor::OnSpaceMsg(WPARAM, LPARAM) {
    NotifyDestSpaceChanged(m_nSpaceLetter.exchange(-1));
    return 0;
}

LRESULT CExpertMonitor::OnCheckChanged(WPARAM, LPARAM) {
    return 0;
}

LRESULT CExpertMonitor::OnFileActionQuery(WPARAM wParam, LPARAM lParam) {
    return m_pHandler ? m_pHandler->OnQuery(wParam, lParam) : 0;
}

// ---- Start and stop -----------------------------------------------------------------------------------------------

void CExpertMonitor::OnMStart() {
    OnMStartAction(TRUE);
}

void CExpertMonitor::OnMStartAction(BOOL bWrite) {
    if (m_bRunning) {
        SetStatus(1266);
        SetStatus(StopAutoBackup(bWrite) ? 1265 : 1263);
        KillTimer(kIdleTimer);
        SetActivity(0);
        return;
    }
    CString drive;
    if (!CDestinationBox::CheckStart(this, 903, 1256, m_tree, &m_combo, m_strDestDrive, IDC_ICON, IDC_FIRST_FIGURE,
                                     m_hDriveIcon, drive))
        return;
    SetStatus(1264);
    m_tree.SaveSelecton(SelectionPath(), nullptr);
    const CPageSettings settings(kSubKey);
    m_strDestDrive = drive;
    m_dwDestSerial = CBrannicApp::GetVolumeSerialNo(drive);
    settings.WriteString(_T("DestDrive"), drive);
    settings.WriteDword(_T("DestSerialNo"), m_dwDestSerial);
    SetStatus(StartAutoBackup(drive) ? 1263 : 1265);
}

void CExpertMonitor::UpdateButtonAndControls() {
    GetDlgItem(IDC_START)->EnableWindow(TRUE);
    SetDlgItemText(IDC_START, LoadText(m_bRunning ? 1262 : 1251));
    m_tree.EnableWindow(!m_bRunning);
    m_combo.EnableWindow(!m_bRunning);
}

BOOL CExpertMonitor::StartAutoBackup(LPCTSTR) {
    GetDlgItem(IDC_START)->EnableWindow(FALSE);
    if (!m_hMainWnd) {
        if (CBrannicApp* pApp = App(); pApp && pApp->GetMainDlg())
            m_hMainWnd = pApp->GetMainDlg()->GetSafeHwnd();
    }
    DWORD dwDrives = 0;
    if (HTREEITEM hRoot = m_tree.GetRootItem()) {
        for (HTREEITEM h = m_tree.GetChildItem(hRoot); h; h = m_tree.GetNextSiblingItem(h)) {
            const UINT state = m_tree.GetCheckState(h);
            if (state != kStateChecked && state != kStatePartial)
                continue;
            auto* pData = reinterpret_cast<CShellItemData*>(m_tree.GetItemData(h));
            const CString path = pData ? pData->m_list.GetPath() : CString();
            if (path.GetLength() >= 2 && path[1] == _T(':')) {
                const TCHAR letter = static_cast<TCHAR>(path[0] & ~0x20);
                if (letter >= _T('A') && letter <= _T('Z'))
                    dwDrives |= 1u << (letter - _T('A'));
            }
        }
    }
    m_pMonitor = std::make_unique<CDirectoryMonitor>();
    m_pMonitor->SetDrives(dwDrives);
    const DWORD dwResult = m_pMonitor->StartMonitor(&FilterCallback, &ActionCallback, this);
    const BOOL bStarted = dwResult == 0;
    if (!bStarted)
        m_pMonitor.reset();
    m_log.AddItemId(bStarted ? 1270 : 1271, KOVRA_SOURCE_FILE, __LINE__,
                    bStarted ? CXMLLog::typeInformation : CXMLLog::typeError);
    m_nRunningSetting = bStarted ? 1 : 0;
    CPageSettings(kSubKey).WriteDword(_T("Running"), static_cast<DWORD>(m_nRunningSetting));
    m_bRunning = bStarted;
    UpdateButtonAndControls();
    if (m_bRunning && !m_bStartupPending)
        SynchroniseAll();
    return m_bRunning;
}

void CExpertMonitor::StopMonitorAndWait() {
    if (m_pMonitor)
        m_pMonitor->StopMonitor();
    // A change the action thread is still mirroring ends first; it may still send to this thread meanwhile.
    while (m_nInCallback.load() != 0) {
        MSG msg;
        ::PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        ::Sleep(5);
    }
    m_pMonitor.reset();
    // A change kept back for pairing is applied and a pending failure written, rather than lost.
    if (m_pHandler)
        m_pHandler->Finish();
    DrainLogLines();
}

BOOL CExpertMonitor::StopAutoBackup(BOOL bWrite) {
    GetDlgItem(IDC_START)->EnableWindow(FALSE);
    StopMonitorAndWait();
    m_bRunning = FALSE;
    m_log.AddItemId(1272, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeInformation);
    if (bWrite) {
        m_nRunningSetting = 0;
        CPageSettings(kSubKey).WriteDword(_T("Running"), 0);
    }
    UpdateButtonAndControls();
    return TRUE;
}

int CExpertMonitor::SynchroniseAll() {
    CBrannicApp* pApp = App();
    CString drive;
    if (!pApp || !pApp->GetSelectedDrive(&m_combo, drive, nullptr, FALSE))
        return 0;
    CWnd* pParent = nullptr;
    if (CWnd* pMain = pApp->GetMainDlg(); pMain && ::IsWindow(pMain->GetSafeHwnd()) && pMain->IsWindowVisible())
        pParent = pMain;
    else if (CWnd* pExpert = pApp->GetExpertWnd(); pExpert && ::IsWindow(pExpert->GetSafeHwnd()))
        pParent = pExpert;
    if (!pParent) {
        pParent = this;
        while (pParent->GetParent() && (pParent->GetStyle() & WS_CHILD))
            pParent = pParent->GetParent();
    }
    const BOOL bWasVisible = pParent->IsWindowVisible();
    const HWND hParent = pParent->GetSafeHwnd();
    CBackManager* pManager = CBackManager::Get();
    if (pManager && !pManager->HasProgressDlg()) {
        DrainLogLines();
        INT_PTR nResult = 0;
        {
            CCopyProDlg progress(pParent);
            progress.m_pExternalTree = &m_tree;
            progress.m_strDestPath = drive + _T("\\");
            progress.m_nMode = 1;
            progress.m_strCaption = LoadText(1267);
            progress.m_nFlags = CCopyProDlg::flagNoPowerOff | CCopyProDlg::flagCloseAtEnd | CCopyProDlg::flagEstimate;
            progress.m_pExternalLog = &m_log;
            nResult = progress.DoModal();
        }
        if (!bWasVisible && hParent != m_hWnd && ::IsWindow(hParent))
            ::ShowWindow(hParent, SW_HIDE);
        if (nResult == 2 || nResult == 3) {
            StopAutoBackup(TRUE);
            SetStatus(1265);
        }
        NotifyDestSpaceChanged(static_cast<int>((drive[0] & ~0x20) - _T('A')));
    }
    return 1;
}

void CExpertMonitor::PostStartup(BOOL bAsk) {
    m_bStartupPending = FALSE;
    if (!m_bRunning || !m_nRunningSetting)
        return;
    int nAnswer = IDYES;
    if (bAsk) {
        CString caption = LoadText(2304);
        nAnswer = ::MessageBoxW(m_hWnd, LoadText(5060), caption, MB_YESNO | MB_ICONINFORMATION);
    }
    if (nAnswer == IDYES)
        PostMessage(WM_MONITOR_SYNCHRONISE);
    else
        OnMStartAction(TRUE);
}

void CExpertMonitor::OnLastStartupStep(BOOL bNormalStart) {
    PostStartup(!bNormalStart);
}

LRESULT CExpertMonitor::OnSynchronise(WPARAM, LPARAM) {
    if (m_nRunningSetting)
        SynchroniseAll();
    return 0;
}

LRESULT CExpertMonitor::OnMonitorEnable(WPARAM wParam, LPARAM) {
    if ((wParam != 0) != (m_bRunning != FALSE))
        OnMStartAction(TRUE);
    return 0;
}

void CExpertMonitor::StopRunningJobs() {
    if (m_bRunning) {
        // The program ends: no log line, and "Running" stays for the next start.
        StopMonitorAndWait();
        m_bRunning = FALSE;
    }
}

// ---- The action thread's side -------------------------------------------------------------------------------------

int CExpertMonitor::FilterCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord) {
    // The parser thread waits for the page's thread to answer.
    auto* self = static_cast<CExpertMonitor*>(lpUserData);
    return ::SendMessageW(self->m_hWnd, WM_FILE_ACTION_QUERY, kQueryFilter, reinterpret_cast<LPARAM>(pRecord)) != 0;
}

void CExpertMonitor::ActionCallback(LPVOID lpUserData, FILE_ACTION_RECORD* pRecord) {
    auto* self = static_cast<CExpertMonitor*>(lpUserData);
    ++self->m_nInCallback;
    if (self->m_pHandler)
        self->m_pHandler->OnFileAction(pRecord);
    else
        DestroyFileActionRecord(pRecord);
    --self->m_nInCallback;
}

void CExpertMonitor::QueueLogLine(int nType, const CString& strText, LPCTSTR lpszFile, int nLine) {
    bool bPost = false;
    {
        std::lock_guard lock(m_lineLock);
        m_lines.push_back(LogLine{nType, strText, lpszFile ? CString(lpszFile) : CString(), nLine});
        if (!m_bLinesPosted)
            bPost = m_bLinesPosted = true;
    }
    if (bPost)
        ::PostMessageW(m_hWnd, WM_MONITOR_LOG_LINES, 0, 0);
}

void CExpertMonitor::DrainLogLines() {
    std::deque<LogLine> lines;
    {
        std::lock_guard lock(m_lineLock);
        lines.swap(m_lines);
        m_bLinesPosted = false;
    }
    for (const LogLine& line : lines)
        m_log.AddItem(line.strText, line.strFile, line.nLine, line.nType);
}

LRESULT CExpertMonitor::OnLogLines(WPARAM, LPARAM) {
    DrainLogLines();
    return 0;
}

LRESULT CExpertMonitor::OnActivityMsg(WPARAM wParam, LPARAM) {
    if (wParam) {
        KillTimer(kIdleTimer);
        if (!m_bActive)
            SetActivity(1);
    } else if (m_bActive) {
        // A run of changes shows as one activity: it ends once the next change is some time in coming.
        SetTimer(kIdleTimer, kIdleDelayMs, nullptr);
    }
    return 0;
}

void CExpertMonitor::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kIdleTimer) {
        Default();
        return;
    }
    KillTimer(kIdleTimer);
    SetActivity(0);
}

void CExpertMonitor::SetActivity(int nStart) {
    const BOOL bWasActive = m_bActive;
    m_bActive = nStart != 0;
    if (nStart)
        SetStatus(1267);
    else
        SetStatus(m_bRunning ? 1263 : 1265);
    // The main menu counts activities: it hears each start once and its end once.
    if (bWasActive != m_bActive && m_hMainWnd && ::IsWindow(m_hMainWnd))
        ::SendMessageW(m_hMainWnd, WM_ACTIVITY, 1, nStart ? 1 : 0);
}

int CExpertMonitor::FlushLog() {
    DrainLogLines();
    m_log.Save(0);
    return 1;
}

// ---- Drives ---------------------------------------------------------------------------------------------------------

LRESULT CExpertMonitor::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    if (lParam < 0 || lParam > 25)
        return 0;
    CString drive;
    drive.Format(_T("%c:"), static_cast<TCHAR>(_T('A') + lParam));
    if (wParam == static_cast<WPARAM>(kVolumeAdded))
        OnDestArrived(drive);
    else if (wParam == static_cast<WPARAM>(kVolumeRemoved))
        OnDestRemoved(drive);
    return 0;
}

void CExpertMonitor::OnDestArrived(LPCTSTR lpszDrive) {
    CBrannicApp* pApp = App();
    if (!pApp)
        return;
    m_tree.LoadSelection(SelectionPath());
    if (CDestinationBox::IsDestination(lpszDrive, m_strDestDrive, m_dwDestSerial)) {
        if (!pApp->AddDriveToCombo(&m_combo, lpszDrive, TRUE))
            return;
        RefreshDestination();
        if (m_nRunningSetting && !m_bRunning) {
            if (CExpertModeDlg::GetSecureSetting())
                PostMessage(WM_MONITOR_ENABLE, 1, 0);
            else
                PostMessage(WM_MONITOR_PROMPT, 1269, 0);
        }
    } else if (pApp->AddDriveToCombo(&m_combo, lpszDrive, FALSE)) {
        RefreshDestination();
    }
}

void CExpertMonitor::OnDestRemoved(LPCTSTR lpszDrive) {
    CBrannicApp* pApp = App();
    if (!pApp || !pApp->RemoveDriveFromCombo(&m_combo, lpszDrive))
        return;
    RefreshDestination();
    // Only the destination's own removal ends the service; another drive going away leaves it running.
    if (m_bRunning && m_strDestDrive.CompareNoCase(lpszDrive) == 0) {
        OnMStartAction(FALSE);
        m_nRunningSetting = 1;
        PostMessage(WM_MONITOR_PROMPT, 1268, 0);
    }
}

LRESULT CExpertMonitor::OnPromptDialog(WPARAM wParam, LPARAM) {
    if (wParam == 1269) {
        if (MessageBoxId(1269, MB_YESNO | MB_ICONINFORMATION) == IDYES)
            OnMStartAction(TRUE);
    } else if (wParam == 1268) {
        MessageBoxId(1268, MB_OK | MB_ICONEXCLAMATION);
        if (CBrannicApp* pApp = App())
            pApp->Log(LoadText(1268), KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
    }
    return 0;
}

// ---- The log's buttons ----------------------------------------------------------------------------------------------

void CExpertMonitor::OnClearLogs() {
    if (MessageBoxId(5033, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    DrainLogLines();
    m_log.Clear();
}

void CExpertMonitor::OnSaveAs() {
    m_bModalOpen = TRUE;
    CFileDialog dlg(FALSE, _T("log"), nullptr, OFN_HIDEREADONLY, _T("Log Files(*.log)|*.log||"), this);
    if (dlg.DoModal() == IDOK) {
        DrainLogLines();
        m_log.Export(dlg.GetPathName());
    }
    m_bModalOpen = FALSE;
}

void CExpertMonitor::OnOptions() {
    m_bModalOpen = TRUE;
    CLogFilterDlg dlg(this);
    dlg.SetViewMask(m_log.GetTypeMask());
    if (dlg.DoModal() == IDOK) {
        DrainLogLines();
        m_log.SetTypeMask(dlg.GetViewMask(), TRUE);
        CPageSettings(kSubKey).WriteDword(_T("LogListMask"), static_cast<DWORD>(dlg.GetViewMask()));
    }
    m_bModalOpen = FALSE;
}

BOOL CExpertMonitor::DestroyWindow() {
    const CPageSettings settings(kSubKey);
    if (m_list.m_hWnd) {
        const LPCTSTR names[] = {_T("Column1Width"), _T("Column2Width"), _T("Column3Width")};
        for (int i = 0; i < 3; ++i)
            settings.WriteDword(names[i], static_cast<DWORD>(m_list.GetColumnWidth(i)));
        settings.WriteDword(_T("LogListMask"), static_cast<DWORD>(m_log.GetTypeMask()));
    }
    if (m_bRunning) {
        // No log line and "Running" untouched, so that the next program start resumes.
        StopMonitorAndWait();
        m_bRunning = FALSE;
    }
    if (m_pHandler)
        m_pHandler->Finish();
    DrainLogLines();
    m_log.Save(0);
    m_log.DetachListCtrl();
    if (m_bRegistered) {
        if (CBrannicApp* pApp = App(); pApp && pApp->GetZentraManager())
            pApp->GetZentraManager()->UnregisterWindow(this);
        m_bRegistered = FALSE;
    }
    return CExpertPage::DestroyWindow();
}
