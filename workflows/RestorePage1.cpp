#include "workflows/RestorePage1.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "app/WizardDialog.h"
#include "engine/BackAgent.h"
#include "engine/BackManager.h"
#include "engine/ItemIDList.h"
#include "engine/ShellItemData.h"
#include "workflows/RestoreSourceOps.h"

#include "platform/afx/WinApp.h"
#include "platform/base/strings.h"
#include "platform/shell/changenotify.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(RestorePage1, CWizardPage)

BEGIN_MESSAGE_MAP(RestorePage1, CWizardPage)
ON_CBN_SELCHANGE(3803, OnDriveSelChange)
ON_CBN_SELCHANGE(3805, OnSetSelChange)
ON_MESSAGE(WM_TREE_CHECK_CHANGED, OnCheckChanged)
ON_MESSAGE(WM_HELP, OnHelpMsg)
ON_WM_SHOWWINDOW()
END_MESSAGE_MAP()

namespace {

constexpr int IDC_DRIVE_ICON = 3802;
constexpr int IDC_DRIVES = 3803;
constexpr int IDC_SETS = 3805;
constexpr int IDC_TREE = 3807;

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

CString WithoutTrailingBackslash(CString path) {
    while (path.GetLength() > 0 && path[path.GetLength() - 1] == _T('\\'))
        path = path.Left(path.GetLength() - 1);
    return path;
}

// Whether the path is the folder or lies below it, by whole components and without regard to case.
bool IsAtOrBelow(const CString& path, const CString& folder) {
    if (folder.IsEmpty() || path.GetLength() < folder.GetLength() ||
        path.Left(folder.GetLength()).CompareNoCase(folder) != 0)
        return false;
    return path.GetLength() == folder.GetLength() || path[folder.GetLength()] == _T('\\') ||
           folder[folder.GetLength() - 1] == _T('\\');
}

CString PathOf(LPCITEMIDLIST pidl) {
    return pidl ? CItemIDList(pidl).GetPath() : CString();
}

} // namespace

RestorePage1::RestorePage1(CWnd* pParentWnd) : CWizardPage(3800, pParentWnd) {}

RestorePage1::~RestorePage1() {
    if (m_hDriveIcon)
        ::DestroyIcon(m_hDriveIcon);
}

DWORD RestorePage1::GetBackupDrives() {
    return restoresource::GetBackupDrives();
}

CString RestorePage1::GetSelectionPath() {
    CString folder;
    if (CBrannicApp* pApp = App())
        pApp->GetConfigPath(folder);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != _T('\\'))
        folder += _T('\\');
    return folder + _T("ExpressRestore.rpr");
}

BOOL RestorePage1::OnInitDialog() {
    CWizardPage::OnInitDialog();
    m_driveCombo.SubclassDlgItem(IDC_DRIVES, this);
    m_setCombo.SubclassDlgItem(IDC_SETS, this);
    m_tree.SubclassDlgItem(IDC_TREE, this);
    restoresource::FillDriveCombo(m_driveCombo, GetBackupDrives(), 0);
    UpdateDriveIcon();
    FillSetList();
    if (m_setCombo.GetCount() > 0)
        m_setCombo.SetCurSel(0);
    CString filter;
    if (CBrannicApp* pApp = App())
        pApp->GetFilter(filter);
    m_tree.SetFilter(filter);
    // A restore tree from the start: a set that shows up later fills it as one.
    m_tree.InitTree(603, 130, 700, 3800, kTreeRestore, FALSE);
    if (HasSelection())
        FillTree();
    else
        UpdateButtons();
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);
    return TRUE;
}

void RestorePage1::UpdateDriveIcon() {
    HICON hIcon = restoresource::ShowDriveIcon(this, IDC_DRIVE_ICON, restoresource::GetSelectedRoot(m_driveCombo),
                                               FALSE, KOVRA_SOURCE_FILE, __LINE__);
    if (m_hDriveIcon && m_hDriveIcon != hIcon)
        ::DestroyIcon(m_hDriveIcon);
    m_hDriveIcon = hIcon;
}

void RestorePage1::FillSetList() {
    if (m_driveCombo.GetCurSel() == CB_ERR && m_driveCombo.GetCount() == 0) {
        m_setCombo.ResetContent();
        return;
    }
    restoresource::FillSetCombo(m_setCombo, restoresource::GetSelectedRoot(m_driveCombo));
}

BOOL RestorePage1::HasSelection() const {
    return m_driveCombo.GetCurSel() != CB_ERR && m_setCombo.GetCurSel() != CB_ERR;
}

CString RestorePage1::SelectedDrive() {
    return WithoutTrailingBackslash(restoresource::GetSelectedRoot(m_driveCombo));
}

CString RestorePage1::SelectedSetRoot() {
    if (!HasSelection())
        return CString();
    CString name;
    m_setCombo.GetLBText(m_setCombo.GetCurSel(), name);
    return restoresource::GetSetPath(restoresource::GetSelectedRoot(m_driveCombo), name);
}

void RestorePage1::FillTree() {
    m_tree.DeleteAllItems();
    if (CWizardDialog* pWizard = GetWizard()) {
        pWizard->EnableNext(FALSE);
        pWizard->EnableFinish(FALSE);
    }
    if (!HasSelection())
        return;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->FillRestoreTree(&m_tree, SelectedSetRoot());
    m_tree.RegisterShellNotify(FALSE, nullptr);
}

void RestorePage1::UpdateButtons() {
    CWizardDialog* pWizard = GetWizard();
    if (!pWizard)
        return;
    const BOOL bChecked = m_tree.HasCheckedItems();
    pWizard->EnableNext(bChecked);
    pWizard->EnableFinish(bChecked);
}

void RestorePage1::OnDriveChanged() {
    UpdateDriveIcon();
    FillSetList();
    if (m_setCombo.GetCount() > 0)
        m_setCombo.SetCurSel(0);
    FillTree();
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);
}

void RestorePage1::OnDriveSelChange() {
    OnDriveChanged();
}

void RestorePage1::OnSetSelChange() {
    FillTree();
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);
}

LRESULT RestorePage1::OnCheckChanged(WPARAM, LPARAM) {
    UpdateButtons();
    return 0;
}

LRESULT RestorePage1::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(3800);
    return TRUE;
}

void RestorePage1::OnShowWindow(BOOL bShow, UINT) {
    Default();
    if (bShow) {
        UpdateButtons();
        SetFocus();
    }
}

void RestorePage1::MessageBox5059() {
    CString text, caption;
    text.LoadString(5059);
    caption.LoadString(2302);
    ::MessageBoxW(m_hWnd, text, caption, MB_OK | MB_ICONEXCLAMATION);
}

LRESULT RestorePage1::OnWizardNext() {
    if (!HasSelection()) {
        MessageBox5059();
        return -1;
    }
    if (!m_tree.HasCheckedItems()) {
        CString format, source, text, caption;
        format.LoadString(5018);
        source.LoadString(1157);
        text.Format(format, source.GetString());
        caption.LoadString(2302);
        ::MessageBoxW(m_hWnd, text, caption, MB_OK | MB_ICONQUESTION);
        return -1;
    }
    CBackManager* pManager = CBackManager::Get();
    CBackAgent* pOutlook = pManager ? pManager->FindAgentItem(&m_tree, _T("Outlook")) : nullptr;
    if (pOutlook && !pOutlook->CanStartJob(m_hWnd, 1))
        return -1;
    UpdateData(TRUE);
    const CString path = GetSelectionPath();
    if (!m_tree.SaveSelecton(path, nullptr)) {
        // An older selection must never be restored in place of this one.
        CString text, caption;
        text.Format(_T("The selection could not be saved to %s."), path.GetString());
        caption.LoadString(2302);
        ::MessageBoxW(m_hWnd, text, caption, MB_OK | MB_ICONERROR);
        return -1;
    }
    m_strSetRootPath.Empty();
    if (HTREEITEM hRoot = m_tree.GetRootItem())
        if (auto* pData = reinterpret_cast<CShellItemData*>(m_tree.GetItemData(hRoot)))
            m_strSetRootPath = pData->m_list.GetPath();
    if (CBrannicApp* pApp = App())
        pApp->m_strCurrentSelectionFile = path;
    return 0;
}

void RestorePage1::OnRemovedFolder(const CString& strPath) {
    if (!HasSelection())
        return;
    const CString path = WithoutTrailingBackslash(strPath);
    const CString drive = SelectedDrive();
    CString setFolder;
    setFolder.Format(_T("%s\\%s"), drive.GetString(), _T("KovraData"));
    if (!IsAtOrBelow(path, setFolder))
        return;
    if (path.CompareNoCase(setFolder) == 0) {
        if (CBrannicApp* pApp = App(); pApp && pApp->RemoveDriveFromCombo(&m_driveCombo, drive))
            OnDriveChanged();
        return;
    }
    const CString setRoot = SelectedSetRoot();
    // A folder inside the set has reached the tree already, through the wizard.
    if (path.CompareNoCase(setRoot) != 0)
        return;
    if (m_setCombo.GetCount() <= 1) {
        if (CBrannicApp* pApp = App(); pApp && pApp->RemoveDriveFromCombo(&m_driveCombo, drive))
            OnDriveChanged();
        return;
    }
    m_setCombo.DeleteString(m_setCombo.GetCurSel());
    m_setCombo.SetCurSel(0);
    FillTree();
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);
}

int RestorePage1::OnShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    const CString path = PathOf(pidl1);
    CBrannicApp* pApp = App();
    if (path.IsEmpty() || !pApp)
        return 0;
    CString drive;
    drive.Format(_T("%c:"), towupper_w(path[0]));
    const int nBefore = m_driveCombo.GetCurSel();
    const DWORD_PTR selectedLetter = nBefore == CB_ERR ? ~DWORD_PTR(0) : m_driveCombo.GetItemData(nBefore);
    switch (lEvent) {
    case SHCNE_MEDIAINSERTED:
    case SHCNE_DRIVEADD:
    case SHCNE_NETSHARE: {
        CBackManager* pManager = CBackManager::Get();
        if (!pManager || !pManager->HasBackupData(drive[0]))
            return 0;
        if (!pApp->AddDriveToCombo(&m_driveCombo, drive, FALSE))
            return 0;
        // Only a list that had no drive shown gets one now; the user's drive and set stay as they were.
        if (nBefore == CB_ERR) {
            m_driveCombo.SetCurSel(m_driveCombo.GetCount() - 1);
            OnDriveChanged();
        }
        return 0;
    }
    case SHCNE_MEDIAREMOVED:
    case SHCNE_DRIVEREMOVED:
    case SHCNE_NETUNSHARE: {
        if (nBefore == CB_ERR || !pApp->RemoveDriveFromCombo(&m_driveCombo, drive))
            return 0;
        // Another drive went: the one shown stays.
        if (selectedLetter != static_cast<DWORD_PTR>(drive[0] - _T('A'))) {
            for (int i = 0; i < m_driveCombo.GetCount(); ++i)
                if (m_driveCombo.GetItemData(i) == selectedLetter)
                    m_driveCombo.SetCurSel(i);
            return 0;
        }
        OnDriveChanged();
        return 0;
    }
    case SHCNE_RMDIR:
        OnRemovedFolder(path);
        return 0;
    case SHCNE_RENAMEFOLDER:
        OnRemovedFolder(path);
        return 0;
    default:
        // Creations, deletions and updates inside the set have reached the tree through the wizard.
        (void)pidl2;
        return 0;
    }
}
