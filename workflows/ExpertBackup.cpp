#include "workflows/ExpertBackup.h"
#include "workflows/DestinationBox.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackAgent.h"
#include "engine/BackJob.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ItemIDList.h"
#include "storage/ZentraManager.h"
#include "workflows/ExpertModeDlg.h"

#include "copylib/Brannic.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/ModuleState.h"
#include "platform/base/handle.h"
#include "platform/fs/volumes.h"
#include "platform/registry/registry.h"
#include "platform/shell/fileinfo.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

#include <algorithm>
#include <chrono>
#include <iterator>

IMPLEMENT_DYNAMIC(CExpertBackup, CExpertPage)

namespace {

constexpr UINT WM_PAGE_JOB_ENDED = WM_USER + 3112;
constexpr UINT WM_DEST_SPACE_CHANGED = WM_USER + 3115;
constexpr int IDC_TREE = 1001;
constexpr int IDC_BYTES = 1002;
constexpr int IDC_FILE_SYSTEM = 1005;
constexpr int IDC_FOLDERS = 1008;
constexpr int IDC_FILES = 1009;
constexpr int IDC_CHART = 1011;
constexpr int IDC_DEST = 1021;
constexpr int IDC_STATUS = 1023;
constexpr int IDC_DRIVE_ICON = 1024;
constexpr int IDC_START = 1054;
constexpr UINT IDI_NO_DRIVE = 553;
constexpr UINT IDS_TITLE = 901;
constexpr UINT IDS_BACKUP_SOURCE = 1049;
constexpr UINT IDS_CALCULATING = 1055;
constexpr UINT IDS_NO_UPDATED_FILES = 1056;
constexpr UINT IDS_CALCULATED = 1057;
constexpr UINT IDS_PLEASE_SELECT = 5018;
constexpr UINT IDS_NO_EXTERNAL_DRIVE = 5027;
constexpr UINT IDS_CHANGE_DESTINATION = 5058;
constexpr UINT IDS_INSUFFICIENT_SPACE = 5064;
constexpr UINT IDS_SAME_DRIVE = 5065;
// The figures that are emptied together when no drive is shown.
constexpr int kFigureIds[] = {1012, 1014, 1020, 1013, 1015, 1018, 1017, 1016, 1019};

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

CExpertModeDlg* ExpertDlg() {
    CBrannicApp* pApp = App();
    return pApp ? pApp->GetExpertDlg() : nullptr;
}

CString LoadText(UINT nId) {
    CString text;
    text.LoadString(nId);
    return text;
}

CString SelectionPath() {
    CString folder;
    if (CBrannicApp* pApp = App())
        pApp->GetConfigPath(folder);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != u'\\')
        folder += u'\\';
    return folder + u"ManualBackup.rpr";
}

ULONGLONG Join(DWORD dwLow, DWORD dwHigh) {
    return static_cast<ULONGLONG>(dwHigh) << 32 | dwLow;
}

} // namespace

BEGIN_MESSAGE_MAP(CExpertBackup, CExpertPage)
ON_BN_CLICKED(IDC_START, OnStartButton)
ON_CBN_SELCHANGE(IDC_DEST, OnSelChange)
ON_MESSAGE(WM_START_EXPERT_BACKUP, OnStartRequest)
ON_MESSAGE(WM_JOB_EVENT, OnJobEvent)
ON_MESSAGE(WM_TREE_CHECK_CHANGED, OnCheckChanged)
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
ON_MESSAGE(WM_DEST_SPACE_CHANGED, OnDestSpaceChanged)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

CExpertBackup::CExpertBackup() : CExpertPage(IDD) {}

CExpertBackup::~CExpertBackup() {
    if (m_hDriveIcon)
        ::DestroyIcon(m_hDriveIcon);
}

CString CExpertBackup::SettingsKey() {
    CString key;
    if (CBrannicApp* pApp = App())
        pApp->GetRootKey(key);
    if (!key.IsEmpty() && key[key.GetLength() - 1] != u'\\')
        key += u'\\';
    return key + u"Expert\\Backup";
}

void CExpertBackup::DoDataExchange(CDataExchange* pDX) {
    CExpertPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_START, m_btnStart);
    DDX_Control(pDX, IDC_TREE, m_tree);
    DDX_Control(pDX, IDC_DEST, m_combo);
}

BOOL CExpertBackup::OnInitDialog() {
    CExpertPage::OnInitDialog();

    WCHAR destDrive[1024 + 1] = {};
    DWORD dwSerial = 0;
    {
        platform::OwnedKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey(), 0, nullptr, 0, KEY_READ, nullptr, key.put(), nullptr) ==
            ERROR_SUCCESS) {
            DWORD dwType = 0;
            DWORD dwSize = sizeof destDrive - sizeof(WCHAR);
            if (RegQueryValueExW(key.get(), u"DestDrive", nullptr, &dwType, reinterpret_cast<BYTE*>(destDrive),
                                 &dwSize) != ERROR_SUCCESS ||
                dwType != REG_SZ)
                destDrive[0] = 0;
            dwSize = sizeof dwSerial;
            if (RegQueryValueExW(key.get(), u"DestSerialNo", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwSerial),
                                 &dwSize) != ERROR_SUCCESS ||
                dwType != REG_DWORD)
                dwSerial = 0;
        }
    }
    m_strDestDrive = destDrive;
    m_dwDestSerial = dwSerial;

    CBrannicApp* pApp = App();
    const DWORD dwDrives = ::GetLogicalDrives();
    for (int i = 0; i < 26 && pApp; ++i) {
        if (!(dwDrives & (1u << i)))
            continue;
        CString drive;
        drive.Format(u"%c:", static_cast<TCHAR>(u'A' + i));
        const DWORD dwDriveSerial = CBrannicApp::GetVolumeSerialNo(drive);
        BOOL bSelect = FALSE;
        if (m_dwDestSerial != 0 && dwDriveSerial != 0) {
            bSelect = dwDriveSerial == m_dwDestSerial;
            if (bSelect)
                m_strDestDrive = drive;
        } else {
            bSelect = drive.CompareNoCase(destDrive) == 0;
        }
        pApp->AddDriveToCombo(&m_combo, drive, bSelect);
    }
    if (m_combo.GetCurSel() == CB_ERR && m_combo.GetCount() > 0)
        m_combo.SetCurSel(m_combo.GetCount() - 1);

    m_chart.SubclassDlgItem(IDC_CHART, this);
    m_chart.SetBkColor(0xFFFFFF);
    m_chart.SetChartType(CChartCtrl::kDiskUsage);
    m_chart.SetPalette(3);
    UpdateDestination();

    m_tree.InitTree(603, 130, 700, IDD, kTreeBackup, FALSE);
    if (CBackManager* pManager = CBackManager::Get())
        pManager->FillSourceTree(&m_tree);
    if (pApp)
        if (CZentraManager* pZentra = pApp->GetZentraManager())
            pZentra->RegisterWindow(this, 0);
    ReloadSelection();
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);
    return TRUE;
}

BOOL CExpertBackup::DestroyWindow() {
    if (CBrannicApp* pApp = App())
        if (CZentraManager* pZentra = pApp->GetZentraManager())
            pZentra->UnregisterWindow(this);
    StopRunningJobs();
    return CExpertPage::DestroyWindow();
}

void CExpertBackup::StopRunningJobs() {
    // A count still running when the page goes must not report to a window that is gone.
    if (!m_pCountJob)
        return;
    m_bRestart = FALSE;
    m_bStopping = TRUE;
    if (CBackManager* pManager = CBackManager::Get()) {
        pManager->CancelJob(m_pCountJob);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (m_pCountJob && std::chrono::steady_clock::now() < deadline) {
            MSG msg;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
            while (m_pCountJob && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
                ::DispatchMessageW(&msg);
        }
    }
    m_pCountJob = nullptr;
}

BOOL CExpertBackup::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CExpertPage::PreTranslateMessage(pMsg);
}

void CExpertBackup::ReloadSelection() {
    m_tree.LoadSelection(SelectionPath());
}

void CExpertBackup::SetDriveIcon(HICON hIcon, BOOL bOwned) {
    SendDlgItemMessage(IDC_DRIVE_ICON, STM_SETICON, reinterpret_cast<WPARAM>(hIcon), 0);
    if (m_hDriveIcon && m_hDriveIcon != hIcon)
        ::DestroyIcon(m_hDriveIcon);
    m_hDriveIcon = bOwned ? hIcon : nullptr;
}

void CExpertBackup::UpdateDestination() {
    m_chart.RemoveAll();
    CString root;
    CBrannicApp* pApp = App();
    if (pApp && pApp->GetSelectedDrive(&m_combo, root, nullptr, TRUE)) {
        ShowDriveInfo(root, TRUE);
        auto iconOf = [](LPCTSTR lpszRoot) -> HICON {
            const CItemIDList item(lpszRoot);
            SHFILEINFOW info{};
            if (item.IsValid() && SHGetFileInfoW(reinterpret_cast<LPCWSTR>(item.Get()), 0, &info, sizeof info,
                                                 SHGFI_ICON | SHGFI_PIDL))
                return info.hIcon;
            return nullptr;
        };
        HICON hIcon = iconOf(root);
        if (!hIcon)
            hIcon = iconOf(u"C:\\");
        SetDriveIcon(hIcon, TRUE);
        return;
    }
    for (int nId : kFigureIds)
        SetDlgItemText(nId, u"");
    SetDlgItemText(IDC_FILE_SYSTEM, u"");
    if (!m_hNoDriveIcon)
        m_hNoDriveIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_NO_DRIVE));
    SetDriveIcon(m_hNoDriveIcon, FALSE);
    m_ullFreeBytes = 0;
}

void CExpertBackup::ShowDriveInfo(LPCTSTR lpszRoot, BOOL bRedraw) {
    static constexpr int kRows[3][3] = {{1012, 1013, 1017}, {1014, 1015, 1016}, {1020, 1018, 1019}};
    m_ullFreeBytes = CDestinationBox::ShowDriveFigures(this, m_chart, lpszRoot, IDC_FILE_SYSTEM, kRows);
    if (bRedraw) {
        Invalidate();
        UpdateWindow();
    }
}

void CExpertBackup::OnSelChange() {
    // The estimate was made against the drive shown before.
    m_bTotalsValid = FALSE;
    UpdateDestination();
}

LRESULT CExpertBackup::OnDestSpaceChanged(WPARAM wParam, LPARAM) {
    CString root;
    CBrannicApp* pApp = App();
    if (!pApp || !pApp->GetSelectedDrive(&m_combo, root, nullptr, TRUE))
        return 0;
    if (root[0] == static_cast<TCHAR>(u'A' + wParam)) {
        m_chart.RemoveAll();
        ShowDriveInfo(root, FALSE);
    }
    return 0;
}

LRESULT CExpertBackup::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(IDD);
    return TRUE;
}

// ---- The count -------------------------------------------------------------------------------------------------

void CExpertBackup::ShowCounts(ULONGLONG ullFolders, ULONGLONG ullFiles, ULONGLONG ullBytes) {
    CString text;
    text.Format(u"%d", static_cast<int>(ullFolders));
    SetDlgItemText(IDC_FOLDERS, text);
    text.Format(u"%d", static_cast<int>(ullFiles));
    SetDlgItemText(IDC_FILES, text);
    FormatThousands(text, static_cast<LONGLONG>(ullBytes));
    SetDlgItemText(IDC_BYTES, text);
}

void CExpertBackup::ShowZeroCounts() {
    for (int nId : {IDC_FOLDERS, IDC_FILES, IDC_BYTES})
        SetDlgItemText(nId, u"0");
}

void CExpertBackup::StopCount(BOOL bRestart) {
    if (!m_pCountJob)
        return;
    m_bRestart = bRestart;
    m_bStopping = TRUE;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->CancelJob(m_pCountJob);
}

void CExpertBackup::StartCount() {
    m_bRestart = FALSE;
    CString root;
    CBrannicApp* pApp = App();
    CBackManager* pManager = CBackManager::Get();
    if (!pApp || !pManager || !pApp->GetSelectedDrive(&m_combo, root, nullptr, TRUE))
        return;
    DWORD dwFlags = KOVRA_JOB_CALC | KOVRA_JOB_TREE;
    if (!IsShowHiddenFiles())
        dwFlags |= KOVRA_JOB_SKIP_HIDDEN;
    CBackJob* pJob = nullptr;
    if (pManager->CreateJob(&pJob, m_hWnd, dwFlags, 3, &m_tree, root))
        m_pCountJob = pJob;
}

LRESULT CExpertBackup::OnCheckChanged(WPARAM, LPARAM) {
    // Whatever was counted before no longer stands for the selection.
    m_bTotalsValid = FALSE;
    if (!m_tree.HasCheckedItems()) {
        StopCount(FALSE);
        ShowZeroCounts();
        m_ullFolders = m_ullFiles = m_ullBytes = 0;
        return 0;
    }
    if (m_pCountJob) {
        StopCount(TRUE);
        return 0;
    }
    CBackManager* pManager = CBackManager::Get();
    if (pManager && pManager->HasProgressDlg())
        return 0;
    StartCount();
    return 0;
}

LRESULT CExpertBackup::OnJobEvent(WPARAM wParam, LPARAM lParam) {
    const auto* pStatus = reinterpret_cast<const JOB_STATUS*>(lParam);
    switch (wParam) {
    case KOVRA_JOB_BEGIN:
        SetDlgItemText(IDC_STATUS, LoadText(IDS_CALCULATING));
        ShowZeroCounts();
        break;
    case KOVRA_CALC_FILE_BEGIN:
    case KOVRA_CALC_FILE_END:
        if (pStatus)
            ShowCounts(pStatus->dwTotalDirs, static_cast<ULONGLONG>(pStatus->dwTotalFiles) + pStatus->nPrepareCount1,
                       static_cast<ULONGLONG>(pStatus->llTotalFileSize + pStatus->nPrepareCount2));
        break;
    case KOVRA_JOB_END: {
        // The manager deletes the job after this event.
        m_pCountJob = nullptr;
        if (m_bRestart) {
            m_bRestart = FALSE;
            m_bStopping = FALSE;
            ShowZeroCounts();
            StartCount();
            break;
        }
        SetDlgItemText(IDC_STATUS, LoadText(pStatus ? IDS_CALCULATED : IDS_NO_UPDATED_FILES));
        if (CExpertModeDlg* pExpert = ExpertDlg(); pExpert && pExpert->GetSafeHwnd())
            pExpert->SendMessage(WM_PAGE_JOB_ENDED, IDD, 0);
        if (m_bStopping || !pStatus) {
            m_ullFolders = m_ullFiles = m_ullBytes = 0;
            m_bTotalsValid = FALSE;
        } else {
            m_ullFolders = pStatus->dwTotalDirs;
            m_ullFiles = static_cast<ULONGLONG>(pStatus->dwTotalFiles) + pStatus->nPrepareCount1;
            m_ullBytes = static_cast<ULONGLONG>(pStatus->llTotalFileSize + pStatus->nPrepareCount2);
            m_dwTotals[0] = pStatus->dwEstimatedDirs;
            m_dwTotals[1] = pStatus->dwTotalDirs;
            m_dwTotals[2] = pStatus->dwEstimatedFiles;
            m_dwTotals[3] = pStatus->dwTotalFiles;
            m_dwTotals[4] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llEstimatedSize) & 0xFFFFFFFFu);
            m_dwTotals[5] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llEstimatedSize) >> 32);
            m_dwTotals[6] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llTotalFileSize) & 0xFFFFFFFFu);
            m_dwTotals[7] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llTotalFileSize) >> 32);
            m_bTotalsValid = TRUE;
        }
        m_bStopping = FALSE;
        ShowCounts(m_ullFolders, m_ullFiles, m_ullBytes);
        break;
    }
    default:
        break;
    }
    return 0;
}

// ---- Drives ----------------------------------------------------------------------------------------------------

LRESULT CExpertBackup::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    CBrannicApp* pApp = App();
    if (!pApp || lParam < 0 || lParam >= 26)
        return 0;
    CString drive;
    drive.Format(u"%c:", static_cast<TCHAR>(u'A' + lParam));
    switch (wParam) {
    case DRIVE_NOTIFY_VOLUME_ADDED: {
        const DWORD dwSerial = CBrannicApp::GetVolumeSerialNo(drive);
        BOOL bSelect = FALSE;
        if (m_dwDestSerial != 0 && dwSerial != 0) {
            bSelect = dwSerial == m_dwDestSerial;
            if (bSelect)
                m_strDestDrive = drive;
        } else {
            bSelect = drive.CompareNoCase(m_strDestDrive) == 0;
        }
        if (pApp->AddDriveToCombo(&m_combo, drive, bSelect)) {
            if (bSelect)
                PostMessage(WM_TREE_CHECK_CHANGED);
            UpdateDestination();
        }
        break;
    }
    case DRIVE_NOTIFY_VOLUME_REMOVED:
        if (pApp->RemoveDriveFromCombo(&m_combo, drive))
            UpdateDestination();
        break;
    default:
        break;
    }
    return 0;
}

// ---- The backup ------------------------------------------------------------------------------------------------

void CExpertBackup::OnStartButton() {
    StartBackup(nullptr, 0);
}

LRESULT CExpertBackup::OnStartRequest(WPARAM wParam, LPARAM lParam) {
    StartBackup(reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam));
    return 0;
}

void CExpertBackup::StartBackup(HWND hReply, UINT nReplyMsg) {
    // The one who asked hears of the end, whichever way the request ends.
    struct Reply {
        HWND hWnd;
        UINT nMsg;
        ~Reply() {
            if (hWnd && ::IsWindow(hWnd))
                ::PostMessageW(hWnd, nMsg, 0, 0);
        }
    } reply{hReply, nReplyMsg};

    const CString strTitle = LoadText(IDS_TITLE);
    CBrannicApp* pApp = App();
    CBackManager* pManager = CBackManager::Get();
    if (!pApp || !pManager)
        return;
    if (!m_tree.HasCheckedItems()) {
        CString text;
        text.Format(LoadText(IDS_PLEASE_SELECT), LoadText(IDS_BACKUP_SOURCE).GetString());
        ::MessageBoxW(m_hWnd, text, strTitle, MB_OK | MB_ICONQUESTION);
        return;
    }
    if (m_combo.GetCount() == 0) {
        ::MessageBoxW(m_hWnd, LoadText(IDS_NO_EXTERNAL_DRIVE), strTitle, MB_OK | MB_ICONQUESTION);
        return;
    }
    CString drive;
    if (!pApp->GetSelectedDrive(&m_combo, drive, nullptr, FALSE))
        return;
    drive.MakeUpper();
    if (!m_strDestDrive.IsEmpty() && m_strDestDrive.CompareNoCase(drive) != 0) {
        CString text;
        text.Format(LoadText(IDS_CHANGE_DESTINATION), m_strDestDrive.GetString(), drive.GetString());
        if (::MessageBoxW(m_hWnd, text, strTitle, MB_YESNO | MB_ICONINFORMATION) != IDYES) {
            pApp->SelectDriveInCombo(&m_combo, m_strDestDrive);
            UpdateDestination();
            return;
        }
    }
    const CString root = drive + u'\\';
    // The free space against the estimate of a count that finished for this selection. Without one the
    // copy-progress dialog estimates and asks itself.
    const BOOL bHaveTotals = m_bTotalsValid && !m_pCountJob;
    if (bHaveTotals) {
        const ULONGLONG ullNeeded = Join(m_dwTotals[4], m_dwTotals[5]);
        for (;;) {
            const ULONGLONG ullFree = GetDriveFreeSpace(root);
            if (ullNeeded <= ullFree)
                break;
            CString freeNumber, freeUnit, neededNumber, neededUnit;
            FormatSizeText(freeNumber, freeUnit, ullFree);
            FormatSizeText(neededNumber, neededUnit, ullNeeded);
            CString text;
            text.Format(LoadText(IDS_INSUFFICIENT_SPACE), (freeNumber + u" " + freeUnit).GetString(),
                        (neededNumber + u" " + neededUnit).GetString());
            const int nAnswer = ::MessageBoxW(m_hWnd, text, strTitle, MB_ABORTRETRYIGNORE | MB_ICONINFORMATION);
            if (nAnswer == IDABORT)
                return;
            if (nAnswer == IDIGNORE)
                break;
        }
    }
    if (m_tree.IsBackupStoreSelected(root)) {
        ::MessageBoxW(m_hWnd, LoadText(IDS_SAME_DRIVE), strTitle, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    if (CBackAgent* pOutlook = pManager->FindAgentItem(&m_tree, u"Outlook"); pOutlook && !pOutlook->CanStartJob(m_hWnd, 1))
        return;
    const CString selection = SelectionPath();
    if (!m_tree.SaveSelecton(selection, nullptr)) {
        CString text;
        text.Format(u"%s, %d: The selection could not be saved to %s.", KOVRA_SOURCE_FILE, __LINE__,
                    selection.GetString());
        pApp->Log(text, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
    }

    m_strDestDrive = drive;
    m_dwDestSerial = CBrannicApp::GetVolumeSerialNo(drive);
    {
        platform::OwnedKey key;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(),
                            nullptr) == ERROR_SUCCESS) {
            RegSetValueExW(key.get(), u"DestDrive", 0, REG_SZ, reinterpret_cast<const BYTE*>(drive.GetString()),
                           static_cast<DWORD>((drive.GetLength() + 1) * sizeof(WCHAR)));
            RegSetValueExW(key.get(), u"DestSerialNo", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_dwDestSerial),
                           sizeof m_dwDestSerial);
        }
    }

    const BOOL bWasCounting = m_pCountJob != nullptr;
    StopCount(FALSE);
    for (int nId : {IDC_FOLDERS, IDC_FILES, IDC_BYTES})
        SetDlgItemText(nId, u"");

    CWnd* pMain = pApp->GetMainWnd();
    CWnd* pOwner = pMain && pMain->GetSafeHwnd() && pMain->IsWindowVisible() ? pMain : ExpertDlg();
    const BOOL bOwnerVisible = pOwner && pOwner->GetSafeHwnd() && pOwner->IsWindowVisible();
    if (pManager->HasProgressDlg())
        return;

    CCopyProDlg progress(pOwner);
    progress.m_nMode = 1;
    progress.m_pExternalTree = &m_tree;
    progress.m_strDestPath = drive;
    progress.m_strCaption = strTitle;
    DWORD dwTotals[8] = {};
    if (bHaveTotals) {
        std::copy(std::begin(m_dwTotals), std::end(m_dwTotals), dwTotals);
        progress.m_pTotals = dwTotals;
    } else {
        progress.m_nFlags |= CCopyProDlg::flagEstimate;
    }
    const INT_PTR nResult = progress.DoModal();
    // What was counted before is backed up now: the next backup estimates again.
    m_bTotalsValid = FALSE;

    if (pOwner && pOwner->GetSafeHwnd() && !bOwnerVisible)
        pOwner->ShowWindow(SW_HIDE);
    if (CExpertModeDlg* pExpert = ExpertDlg())
        pExpert->NotifyDestSpaceChanged(drive[0] - u'A');
    if (bWasCounting || !bHaveTotals) {
        if (nResult != 1) {
            PostMessage(WM_TREE_CHECK_CHANGED);
        } else if (const DWORD* pCounted = progress.GetTotals()) {
            m_ullFolders = pCounted[1];
            m_ullFiles = pCounted[3];
            m_ullBytes = Join(pCounted[6], pCounted[7]);
            ShowCounts(m_ullFolders, m_ullFiles, m_ullBytes);
        }
    } else {
        ShowCounts(m_ullFolders, m_ullFiles, m_ullBytes);
    }
}
