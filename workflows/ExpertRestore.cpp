#include "workflows/ExpertRestore.h"

#include "agents/SelectIdentityDlg.h"
#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackAgent.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ItemIDList.h"
#include "engine/ShellItemData.h"
#include "workflows/RestoreSourceOps.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/WinApp.h"
#include "platform/base/handle.h"
#include "platform/base/strings.h"
#include "platform/registry/registry.h"
#include "platform/shell/browse.h"
#include "platform/shell/changenotify.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(CExpertRestore, CExpertPage)

BEGIN_MESSAGE_MAP(CExpertRestore, CExpertPage)
ON_BN_CLICKED(1154, OnOriginalPath)
ON_BN_CLICKED(1155, OnSelectedPath)
ON_BN_CLICKED(1150, OnSelectedPath)
ON_BN_CLICKED(1102, OnBrowse)
ON_BN_CLICKED(1156, OnStartRestore)
ON_CBN_SELCHANGE(1107, OnDriveSelChange)
ON_CBN_SELCHANGE(1108, OnSetSelChange)
ON_CBN_SELCHANGE(1116, OnCoverChange)
ON_MESSAGE(WM_JOB_EVENT, OnJobEvent)
ON_MESSAGE(WM_TREE_CHECK_CHANGED, OnCheckChanged)
ON_WM_DESTROY()
END_MESSAGE_MAP()

namespace {

constexpr int IDC_DEST_PATH = 1101;
constexpr int IDC_BROWSE = 1102;
constexpr int IDC_DRIVES = 1107;
constexpr int IDC_SETS = 1108;
constexpr int IDC_TREE = 1109;
constexpr int IDC_BYTES = 1110;
constexpr int IDC_FOLDERS = 1111;
constexpr int IDC_FILES = 1112;
constexpr int IDC_COVER = 1116;
constexpr int IDC_COUNT_STATE = 1118;
constexpr int IDC_INCLUDE_PATH = 1150;
constexpr int IDC_ORIGINAL = 1154;
constexpr int IDC_SELECTED = 1155;
constexpr int IDC_DRIVE_ICON = 1236;
constexpr UINT WM_PAGE_JOB_ENDED = WM_USER + 3112;
constexpr UINT IDS_TITLE = 902;

// The overwrite choices: the text's string id and the option the backup manager takes.
constexpr struct {
    UINT nText;
    int nOption;
} kCoverChoices[] = {{1163, 1}, {1164, 0}, {1165, 2}};

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

CString WithoutTrailingBackslash(CString path) {
    while (path.GetLength() > 0 && path[path.GetLength() - 1] == _T('\\'))
        path = path.Left(path.GetLength() - 1);
    return path;
}

// A text value of the key read into a zeroed buffer of 2048 characters with a limit of 2048 bytes.
CString ReadText(HKEY hKey, LPCTSTR lpszName) {
    WCHAR buffer[2048] = {};
    DWORD size = 2048;
    DWORD type = 0;
    if (RegQueryValueExW(hKey, lpszName, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return CString();
    buffer[1023] = 0;
    return CString(buffer);
}

BOOL ReadNumber(HKEY hKey, LPCTSTR lpszName, DWORD& dwValue) {
    DWORD size = sizeof dwValue;
    DWORD type = 0;
    DWORD value = 0;
    if (RegQueryValueExW(hKey, lpszName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return FALSE;
    dwValue = value;
    return TRUE;
}

} // namespace

CExpertRestore::CExpertRestore(CWnd* pParentWnd) : CExpertPage(IDD, pParentWnd) {}

CExpertRestore::~CExpertRestore() {
    if (m_hDriveIcon)
        ::DestroyIcon(m_hDriveIcon);
}

CString CExpertRestore::GetSettingsKey() {
    CString key;
    if (CBrannicApp* pApp = App())
        pApp->GetRootKey(key);
    if (!key.IsEmpty() && key[key.GetLength() - 1] != _T('\\'))
        key += _T('\\');
    return key + _T("Expert\\Restore");
}

CString CExpertRestore::GetSelectionPath() {
    CString folder;
    if (CBrannicApp* pApp = App())
        pApp->GetConfigPath(folder);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != _T('\\'))
        folder += _T('\\');
    return folder + _T("ExpertManualRestore.rpr");
}

void CExpertRestore::DoDataExchange(CDataExchange* pDX) {
    CExpertPage::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_DEST_PATH, m_strDestPath);
}

BOOL CExpertRestore::PreTranslateMessage(MSG* pMsg) {
    // The page never closes itself.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CExpertPage::PreTranslateMessage(pMsg);
}

BOOL CExpertRestore::OnInitDialog() {
    CExpertPage::OnInitDialog();
    m_driveCombo.SubclassDlgItem(IDC_DRIVES, this);
    m_setCombo.SubclassDlgItem(IDC_SETS, this);
    m_coverCombo.SubclassDlgItem(IDC_COVER, this);
    m_tree.SubclassDlgItem(IDC_TREE, this);

    // 1. The overwrite choices (the list sorts them).
    for (const auto& choice : kCoverChoices) {
        CString text;
        text.LoadString(choice.nText);
        const int nIndex = m_coverCombo.AddString(text);
        if (nIndex >= 0)
            m_coverCombo.SetItemData(nIndex, static_cast<DWORD_PTR>(choice.nOption));
    }

    // 2. The stored settings; a key that cannot be opened leaves the defaults.
    CString destDrive, userAtPC;
    DWORD dwPathOption = 1, dwCoverOption = 1;
    platform::OwnedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, GetSettingsKey(), 0, nullptr, 0, KEY_READ | KEY_WRITE, nullptr, key.put(),
                        nullptr) == ERROR_SUCCESS) {
        destDrive = ReadText(key.get(), _T("DestDrive"));
        userAtPC = ReadText(key.get(), _T("UserAtPC"));
        ReadNumber(key.get(), _T("RestorePathOption"), dwPathOption);
        ReadNumber(key.get(), _T("CoverOption"), dwCoverOption);
        m_strDestPath = ReadText(key.get(), _T("DestPath"));
    }

    // 3. to 5. The drives that hold backups, the stored one selected (else the last); its icon; its sets.
    restoresource::FillDriveCombo(m_driveCombo, restoresource::GetBackupDrives(),
                                  destDrive.IsEmpty() ? 0 : destDrive[0]);
    UpdateDriveIcon();
    FillSetCombo();
    const int nSet = userAtPC.IsEmpty() ? CB_ERR : m_setCombo.FindStringExact(-1, userAtPC);
    m_setCombo.SetCurSel(nSet != CB_ERR ? nSet : 0);

    // 6. The restore tree of the set.
    CString filter;
    if (CBrannicApp* pApp = App())
        pApp->GetFilter(filter);
    m_tree.SetFilter(filter);
    m_tree.InitTree(603, 130, 700, IDD, kTreeRestore, FALSE);
    FillTree();

    // 7. and 8. The options, clamped, and the destination (an empty or unknown one reads as C:\).
    m_nRestorePathOption = dwPathOption == 0 || dwPathOption > 3 ? 1 : static_cast<int>(dwPathOption);
    if (dwCoverOption > 2)
        dwCoverOption = 1;
    for (int i = 0; i < m_coverCombo.GetCount(); ++i)
        if (m_coverCombo.GetItemData(i) == dwCoverOption)
            m_coverCombo.SetCurSel(i);
    if (m_strDestPath.IsEmpty() || !CItemIDList(m_strDestPath.GetString()).IsValid())
        m_strDestPath = _T("C:\\");
    SetDlgItemText(IDC_DEST_PATH, m_strDestPath);
    UpdatePathControls();

    // 9. and 10.
    ApplyOptions();
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);
    return TRUE;
}

void CExpertRestore::OnDestroy() {
    // A count still running ends without this page.
    if (m_pCountJob) {
        if (CBackManager* pManager = CBackManager::Get())
            pManager->CancelJob(m_pCountJob);
        m_pCountJob = nullptr;
    }
    CExpertPage::OnDestroy();
}

int CExpertRestore::GetCoverOption() const {
    const int nSel = m_coverCombo.GetCurSel();
    return nSel == CB_ERR ? 1 : static_cast<int>(m_coverCombo.GetItemData(nSel));
}

BOOL CExpertRestore::HasSelection() const {
    return m_driveCombo.GetCurSel() != CB_ERR && m_setCombo.GetCurSel() != CB_ERR;
}

CString CExpertRestore::SelectedSetPath() {
    if (!HasSelection())
        return CString();
    CString name;
    m_setCombo.GetLBText(m_setCombo.GetCurSel(), name);
    return restoresource::GetSetPath(restoresource::GetSelectedRoot(m_driveCombo), name);
}

void CExpertRestore::UpdateDriveIcon() {
    HICON hIcon = restoresource::ShowDriveIcon(this, IDC_DRIVE_ICON, restoresource::GetSelectedRoot(m_driveCombo),
                                               TRUE, KOVRA_SOURCE_FILE, __LINE__);
    if (m_hDriveIcon && m_hDriveIcon != hIcon)
        ::DestroyIcon(m_hDriveIcon);
    m_hDriveIcon = hIcon;
}

void CExpertRestore::FillSetCombo() {
    if (m_driveCombo.GetCount() == 0) {
        m_setCombo.ResetContent();
        return;
    }
    restoresource::FillSetCombo(m_setCombo, restoresource::GetSelectedRoot(m_driveCombo));
}

void CExpertRestore::FillTree() {
    m_tree.DeleteAllItems();
    m_bTotalsValid = FALSE;
    if (!HasSelection())
        return;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->FillRestoreTree(&m_tree, SelectedSetPath());
    m_tree.RegisterShellNotify(FALSE, nullptr);
    if (HTREEITEM hRoot = m_tree.GetRootItem())
        if (!(m_tree.GetItemState(hRoot, TVIS_EXPANDED) & TVIS_EXPANDED))
            m_tree.Expand(hRoot, TVE_EXPAND);
}

void CExpertRestore::OnDriveChanged() {
    UpdateDriveIcon();
    FillSetCombo();
    if (m_setCombo.GetCount() > 0)
        m_setCombo.SetCurSel(0);
    FillTree();
    Recount();
}

void CExpertRestore::OnDriveSelChange() {
    OnDriveChanged();
}

void CExpertRestore::OnSetSelChange() {
    FillTree();
    Recount();
}

void CExpertRestore::OnCoverChange() {
    ApplyOptions();
}

void CExpertRestore::UpdatePathControls() {
    const BOOL bSelected = m_nRestorePathOption == 2 || m_nRestorePathOption == 3;
    CheckDlgButton(IDC_ORIGINAL, bSelected ? BST_UNCHECKED : BST_CHECKED);
    CheckDlgButton(IDC_SELECTED, bSelected ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(IDC_INCLUDE_PATH, m_nRestorePathOption == 2 ? BST_UNCHECKED : BST_CHECKED);
    for (int nId : {IDC_DEST_PATH, IDC_BROWSE, IDC_INCLUDE_PATH})
        if (CWnd* pControl = GetDlgItem(nId))
            pControl->EnableWindow(bSelected);
    ApplyOptions();
    if (m_tree.HasCheckedItems())
        Recount();
}

void CExpertRestore::ApplyOptions() {
    if (CBackManager* pManager = CBackManager::Get())
        pManager->SetRestoreOptions(m_nRestorePathOption, m_strDestPath, GetCoverOption());
}

void CExpertRestore::OnOriginalPath() {
    m_nRestorePathOption = 1;
    UpdatePathControls();
}

void CExpertRestore::OnSelectedPath() {
    UpdateData(TRUE);
    m_nRestorePathOption = IsDlgButtonChecked(IDC_INCLUDE_PATH) == BST_CHECKED ? 3 : 2;
    UpdatePathControls();
}

void CExpertRestore::OnBrowse() {
    m_bBrowsing = TRUE;
    CString title;
    title.LoadString(5019);
    WCHAR name[MAX_PATH] = {};
    BROWSEINFOW info{};
    info.hwndOwner = m_hWnd;
    info.pszDisplayName = name;
    info.lpszTitle = title;
    info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_STATUSTEXT;
    info.lpfn = BrowseFolderCallback;
    PIDLIST_ABSOLUTE pidl = SHBrowseForFolderW(&info);
    if (pidl) {
        WCHAR path[2048] = {};
        const BOOL bPath = SHGetPathFromIDListW(pidl, path);
        ILFree(pidl);
        if (bPath) {
            m_strDestPath = path;
            SetDlgItemText(IDC_DEST_PATH, m_strDestPath);
            ApplyOptions();
            if (m_tree.HasCheckedItems())
                Recount();
        }
    }
    m_bBrowsing = FALSE;
}

LRESULT CExpertRestore::OnCheckChanged(WPARAM, LPARAM) {
    Recount();
    return 0;
}

void CExpertRestore::Recount() {
    m_bTotalsValid = FALSE;
    HTREEITEM hRoot = m_tree.GetRootItem();
    if (!hRoot || m_tree.GetCheckState(hRoot) == kStateUnchecked) {
        StopCount(FALSE);
        for (int nId : {IDC_FOLDERS, IDC_FILES, IDC_BYTES})
            SetDlgItemText(nId, _T("0"));
        return;
    }
    for (int nId : {IDC_FOLDERS, IDC_FILES, IDC_BYTES})
        SetDlgItemText(nId, _T(""));
    if (m_pCountJob) {
        // The running count ends first; its end starts the new one.
        m_bRestartCount = TRUE;
        if (CBackManager* pManager = CBackManager::Get())
            pManager->CancelJob(m_pCountJob);
        return;
    }
    m_bRestartCount = FALSE;
    StartCount();
}

BOOL CExpertRestore::StartCount() {
    CBackManager* pManager = CBackManager::Get();
    const DWORD dwFlags = IsShowHiddenFiles() ? 0x11 : 0x1011;
    if (!pManager ||
        !pManager->CreateJob(&m_pCountJob, m_hWnd, dwFlags, 3, &m_tree, restoresource::GetSelectedRoot(m_driveCombo))) {
        m_pCountJob = nullptr;
        return FALSE;
    }
    return TRUE;
}

void CExpertRestore::StopCount(BOOL bRestart) {
    if (!m_pCountJob)
        return;
    m_bCountCancelled = !bRestart;
    m_bRestartCount = bRestart;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->CancelJob(m_pCountJob);
}

void CExpertRestore::StopRunningJobs() {
    StopCount(FALSE);
}

void CExpertRestore::ShowCounts(const JOB_STATUS* pStatus) {
    CString text;
    const LONGLONG folders = pStatus ? pStatus->dwTotalDirs : 0;
    const LONGLONG files = pStatus ? static_cast<LONGLONG>(pStatus->dwTotalFiles) + pStatus->nPrepareCount1 : 0;
    const LONGLONG bytes = pStatus ? pStatus->llTotalFileSize + pStatus->nPrepareCount2 : 0;
    text.Format(_T("%d"), static_cast<int>(folders));
    SetDlgItemText(IDC_FOLDERS, text);
    text.Format(_T("%d"), static_cast<int>(files));
    SetDlgItemText(IDC_FILES, text);
    FormatThousands(text, bytes);
    SetDlgItemText(IDC_BYTES, text);
}

LRESULT CExpertRestore::OnJobEvent(WPARAM wParam, LPARAM lParam) {
    if (!GetDlgItem(IDC_COUNT_STATE) || !GetDlgItem(IDC_FOLDERS) || !GetDlgItem(IDC_FILES) || !GetDlgItem(IDC_BYTES))
        return ERROR_INVALID_WINDOW_HANDLE;
    const auto* pStatus = reinterpret_cast<const JOB_STATUS*>(lParam);
    CString text;
    switch (wParam) {
    case KOVRA_JOB_BEGIN:
        text.LoadString(1066);
        SetDlgItemText(IDC_COUNT_STATE, text);
        for (int nId : {IDC_FOLDERS, IDC_FILES, IDC_BYTES})
            SetDlgItemText(nId, _T("0"));
        break;
    case KOVRA_CALC_FILE_BEGIN:
    case KOVRA_CALC_FILE_END:
        ShowCounts(pStatus);
        break;
    case KOVRA_JOB_END:
        // The manager deletes the job after this event.
        m_pCountJob = nullptr;
        if (m_bRestartCount) {
            m_bRestartCount = FALSE;
            m_bCountCancelled = FALSE;
            for (int nId : {IDC_FOLDERS, IDC_FILES, IDC_BYTES})
                SetDlgItemText(nId, _T(""));
            StartCount();
            break;
        }
        text.LoadString(1068);
        SetDlgItemText(IDC_COUNT_STATE, text);
        if (CWnd* pParent = GetParent())
            pParent->SendMessage(WM_PAGE_JOB_ENDED, IDD, 0);
        if (m_bCountCancelled || !pStatus) {
            std::fill(std::begin(m_adwTotals), std::end(m_adwTotals), 0);
            m_bTotalsValid = FALSE;
            m_bCountCancelled = FALSE;
            ShowCounts(nullptr);
            break;
        }
        m_adwTotals[0] = pStatus->dwEstimatedDirs;
        m_adwTotals[1] = pStatus->dwTotalDirs;
        m_adwTotals[2] = pStatus->dwEstimatedFiles;
        m_adwTotals[3] = pStatus->dwTotalFiles;
        m_adwTotals[4] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llEstimatedSize) & 0xFFFFFFFFu);
        m_adwTotals[5] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llEstimatedSize) >> 32);
        m_adwTotals[6] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llTotalFileSize) & 0xFFFFFFFFu);
        m_adwTotals[7] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llTotalFileSize) >> 32);
        m_bTotalsValid = TRUE;
        ShowCounts(pStatus);
        break;
    default:
        break;
    }
    return 0;
}

int CExpertRestore::Message(UINT nTextId, LPCTSTR lpszText, UINT nType) {
    CString text, caption;
    if (lpszText)
        text = lpszText;
    else
        text.LoadString(nTextId);
    caption.LoadString(IDS_TITLE);
    return ::MessageBoxW(m_hWnd, text, caption, nType);
}

void CExpertRestore::OnStartRestore() {
    // 1. and 2. A set and something of it.
    if (!HasSelection()) {
        Message(5059, nullptr, MB_OK | MB_ICONQUESTION);
        return;
    }
    if (!m_tree.HasCheckedItems()) {
        CString format, source, text;
        format.LoadString(5018);
        source.LoadString(1157);
        text.Format(format, source.GetString());
        Message(0, text, MB_OK | MB_ICONQUESTION);
        return;
    }
    // 3. A chosen folder for options 2 and 3; one that does not exist yet is made by the restore when the user
    // agrees.
    if (m_nRestorePathOption == 2 || m_nRestorePathOption == 3) {
        CString dest;
        GetDlgItemText(IDC_DEST_PATH, dest);
        if (dest.IsEmpty()) {
            Message(0, _T("Please select the destination drive."), MB_OK | MB_ICONQUESTION);
            return;
        }
        if (!CItemIDList(dest.GetString()).IsValid() && Message(5006, nullptr, MB_OKCANCEL | MB_ICONQUESTION) != IDOK) {
            UpdateData(FALSE);
            return;
        }
        UpdateData(TRUE);
    }
    if (!OriginalDrivesPresent())
        return;
    // 4. Outlook must agree to be closed.
    CBackManager* pManager = CBackManager::Get();
    CBackAgent* pOutlook = pManager ? pManager->FindAgentItem(&m_tree, _T("Outlook")) : nullptr;
    if (pOutlook && !pOutlook->CanStartJob(m_hWnd, 1))
        return;
    // 5. The selection; an older one must never be restored in its place.
    const CString selection = GetSelectionPath();
    if (!m_tree.SaveSelecton(selection, nullptr)) {
        CString text;
        text.Format(_T("The selection could not be saved to %s."), selection.GetString());
        Message(0, text, MB_OK | MB_ICONERROR);
        return;
    }
    // 6. to 8.
    // The identity step may have turned the restore to the original place.
    if (!PairOEIdentities() || !OriginalDrivesPresent())
        return;
    StoreSettings();
    ApplyOptions();
    // 9. One copy-progress dialog at a time.
    if (!pManager || pManager->HasProgressDlg()) {
        Message(0, _T("A backup or restore is already running. Please start this restore when it has finished."),
                MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    CCopyProDlg progress(this);
    progress.m_nMode = 2;
    progress.m_pExternalTree = &m_tree;
    progress.m_strRestoreSetPath = SelectedSetPath();
    progress.m_strCaption.LoadString(IDS_TITLE);
    // The last count stands in for the dialog's own only when it finished whole over this very selection.
    const BOOL bTotals = !m_pCountJob && m_bTotalsValid;
    if (bTotals)
        progress.m_pTotals = m_adwTotals;
    const INT_PTR nResult = progress.DoModal();
    // 10.
    if (bTotals && nResult != 1)
        PostMessage(WM_TREE_CHECK_CHANGED);
}

BOOL CExpertRestore::OriginalDrivesPresent() {
    if (m_nRestorePathOption != 1)
        return TRUE;
    const CString missing = restoresource::GetMissingOriginalDrives(m_tree);
    if (missing.IsEmpty())
        return TRUE;
    Message(0, restoresource::GetMissingDrivesText(missing), MB_OK | MB_ICONEXCLAMATION);
    return FALSE;
}

void CExpertRestore::StoreSettings() {
    platform::OwnedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, GetSettingsKey(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) !=
        ERROR_SUCCESS)
        return;
    auto text = [&](LPCTSTR lpszName, const CString& value) {
        RegSetValueExW(key.get(), lpszName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.GetString()),
                       static_cast<DWORD>((value.GetLength() + 1) * sizeof(WCHAR)));
    };
    auto number = [&](LPCTSTR lpszName, DWORD dwValue) {
        RegSetValueExW(key.get(), lpszName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
    };
    const CString drive = WithoutTrailingBackslash(restoresource::GetSelectedRoot(m_driveCombo));
    CString setName, dest;
    if (m_setCombo.GetCurSel() != CB_ERR)
        m_setCombo.GetLBText(m_setCombo.GetCurSel(), setName);
    GetDlgItemText(IDC_DEST_PATH, dest);
    text(_T("DestDrive"), drive);
    number(_T("DestSerialNo"), CBrannicApp::GetVolumeSerialNo(drive));
    text(_T("UserAtPC"), setName);
    number(_T("RestorePathOption"), static_cast<DWORD>(m_nRestorePathOption));
    text(_T("DestPath"), dest);
    number(_T("CoverOption"), static_cast<DWORD>(GetCoverOption()));
}

BOOL CExpertRestore::PairOEIdentities() {
    CBackManager* pManager = CBackManager::Get();
    CStringList sources, targets;
    if (!pManager || !pManager->GetCheckedOEIdentities(&m_tree, sources))
        return TRUE;
    if (m_nRestorePathOption != 1) {
        if (Message(5007, nullptr, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
            return FALSE;
        m_nRestorePathOption = 1;
        m_strDestPath.Empty();
        CheckDlgButton(IDC_INCLUDE_PATH, BST_UNCHECKED);
        UpdatePathControls();
        UpdateData(FALSE);
    }
    CSelectIdentityDlg dlg(this);
    dlg.m_pSourceList = &sources;
    dlg.m_pTargetList = &targets;
    const INT_PTR nResult = dlg.DoModal();
    if (nResult == IDOK) {
        pManager->SetOEIdentityLists(&m_tree, sources, targets);
        return TRUE;
    }
    CString text, part;
    if (nResult == 3) {
        part.LoadString(5009);
        text = part + _T(" ");
    }
    part.LoadString(5008);
    text += part;
    if (Message(0, text, MB_OKCANCEL | MB_ICONQUESTION) != IDOK)
        return FALSE;
    pManager->UncheckOEIdentities(&m_tree);
    return TRUE;
}

void CExpertRestore::OnRefreshSources(LPARAM lParam) {
    const CString drive = WithoutTrailingBackslash(restoresource::GetSelectedRoot(m_driveCombo));
    CString setName;
    if (m_setCombo.GetCurSel() != CB_ERR)
        m_setCombo.GetLBText(m_setCombo.GetCurSel(), setName);
    m_driveCombo.ResetContent();
    restoresource::FillDriveCombo(m_driveCombo, restoresource::GetBackupDrives(), drive.IsEmpty() ? 0 : drive[0]);
    UpdateDriveIcon();
    const CString now = WithoutTrailingBackslash(restoresource::GetSelectedRoot(m_driveCombo));
    if (drive.IsEmpty() || now.CompareNoCase(drive) != 0) {
        OnDriveChanged();
        return;
    }
    FillSetCombo();
    const int nSet = setName.IsEmpty() ? CB_ERR : m_setCombo.FindStringExact(-1, setName);
    m_setCombo.SetCurSel(nSet != CB_ERR ? nSet : 0);
    if (nSet != CB_ERR && m_tree.GetRootItem()) {
        m_tree.Reload(static_cast<BOOL>(lParam));
        m_bTotalsValid = FALSE;
    } else {
        FillTree();
    }
    Recount();
}

BOOL CExpertRestore::IsInSelectedSet(const CString& strPath) {
    const CString setPath = SelectedSetPath();
    return !setPath.IsEmpty() && strPath.GetLength() >= setPath.GetLength() &&
           strPath.Left(setPath.GetLength()).CompareNoCase(setPath) == 0 &&
           (strPath.GetLength() == setPath.GetLength() || strPath[setPath.GetLength()] == _T('\\'));
}

void CExpertRestore::OnRemovedFolder(const CString& strPath, LPCITEMIDLIST pidl) {
    CBrannicApp* pApp = App();
    if (!HasSelection() || !pApp)
        return;
    const CString selectedDrive = WithoutTrailingBackslash(restoresource::GetSelectedRoot(m_driveCombo));
    CString storeFolder;
    storeFolder.Format(_T("%s\\%s"), selectedDrive.GetString(), _T("KovraData"));
    if (strPath.CompareNoCase(storeFolder) == 0) {
        if (pApp->RemoveDriveFromCombo(&m_driveCombo, selectedDrive))
            OnDriveChanged();
        return;
    }
    if (!IsInSelectedSet(strPath))
        return;
    if (strPath.CompareNoCase(SelectedSetPath()) != 0) {
        // A folder deeper inside the set.
        m_tree.ProcessShellNotify(SHCNE_RMDIR, pidl, nullptr);
        return;
    }
    if (m_setCombo.GetCount() <= 1) {
        if (pApp->RemoveDriveFromCombo(&m_driveCombo, selectedDrive))
            OnDriveChanged();
        return;
    }
    m_setCombo.DeleteString(m_setCombo.GetCurSel());
    m_setCombo.SetCurSel(0);
    FillTree();
    Recount();
}

LRESULT CExpertRestore::OnShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    const CString path = WithoutTrailingBackslash(pidl1 ? CItemIDList(pidl1).GetPath() : CString());
    CBrannicApp* pApp = App();
    if (path.IsEmpty() || !pApp)
        return 0;
    CString drive;
    drive.Format(_T("%c:"), towupper_w(path[0]));
    const int nBefore = m_driveCombo.GetCurSel();
    const DWORD_PTR selectedLetter = nBefore == CB_ERR ? ~DWORD_PTR(0) : m_driveCombo.GetItemData(nBefore);
    switch (lEvent) {
    case SHCNE_RENAMEITEM:
        OnShellNotify(SHCNE_DELETE, pidl1, nullptr);
        if (pidl2)
            OnShellNotify(SHCNE_CREATE, pidl2, nullptr);
        return 0;
    case SHCNE_RENAMEFOLDER:
        // The new name is a folder made, which the page leaves alone.
        OnRemovedFolder(path, pidl1);
        return 0;
    case SHCNE_CREATE:
    case SHCNE_UPDATEDIR:
        m_tree.ProcessShellNotify(lEvent, pidl1, pidl2);
        return 0;
    case SHCNE_DELETE:
        if (HasSelection() && IsInSelectedSet(path))
            m_tree.ProcessShellNotify(lEvent, pidl1, pidl2);
        return 0;
    case SHCNE_RMDIR:
        OnRemovedFolder(path, pidl1);
        return 0;
    case SHCNE_MEDIAINSERTED:
    case SHCNE_DRIVEADD:
    case SHCNE_NETSHARE: {
        CBackManager* pManager = CBackManager::Get();
        if (!pManager || !pManager->HasBackupData(drive[0]) || !pApp->AddDriveToCombo(&m_driveCombo, drive, FALSE))
            return 0;
        // Only a list that showed no drive shows the new one; the user's drive and set stay as they were.
        if (nBefore == CB_ERR) {
            m_driveCombo.SetCurSel(m_driveCombo.GetCount() - 1);
            OnDriveChanged();
        }
        return 0;
    }
    case SHCNE_MEDIAREMOVED:
    case SHCNE_DRIVEREMOVED:
    case SHCNE_NETUNSHARE:
        if (!HasSelection() || !pApp->RemoveDriveFromCombo(&m_driveCombo, drive))
            return 0;
        if (selectedLetter != static_cast<DWORD_PTR>(drive[0] - _T('A'))) {
            // Another drive went: the one shown stays.
            for (int i = 0; i < m_driveCombo.GetCount(); ++i)
                if (m_driveCombo.GetItemData(i) == selectedLetter)
                    m_driveCombo.SetCurSel(i);
            return 0;
        }
        OnDriveChanged();
        return 0;
    default:
        // A folder made (the restore sources are refreshed after a backup) and every other event.
        return 0;
    }
}
