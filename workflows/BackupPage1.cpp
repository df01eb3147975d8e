#include "workflows/BackupPage1.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "app/WizardDialog.h"
#include "engine/BackAgent.h"
#include "engine/BackManager.h"

#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(CBackupPage1, CWizardPage)

BEGIN_MESSAGE_MAP(CBackupPage1, CWizardPage)
ON_MESSAGE(WM_TREE_CHECK_CHANGED, OnCheckChanged)
ON_MESSAGE(WM_HELP, OnHelpMsg)
ON_WM_SHOWWINDOW()
END_MESSAGE_MAP()

namespace {

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

} // namespace

CBackupPage1::CBackupPage1(CWnd* pParentWnd, int nLoadSelection)
    : CWizardPage(3200, pParentWnd), m_nLoadSelection(nLoadSelection) {}

CBackupPage1::~CBackupPage1() = default;

CString CBackupPage1::GetSelectionPath() {
    CString folder;
    if (CBrannicApp* pApp = App())
        pApp->GetConfigPath(folder);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != _T('\\'))
        folder += _T('\\');
    return folder + _T("ManualBackup.rpr");
}

BOOL CBackupPage1::OnInitDialog() {
    CWizardPage::OnInitDialog();
    m_tree.SubclassDlgItem(3202, this);
    m_tree.InitTree(603, 130, 700, 3200, kTreeBackup, TRUE);
    if (CBackManager* pManager = CBackManager::Get())
        pManager->FillSourceTree(&m_tree);
    ApplyFilter();
    if (m_nLoadSelection)
        m_tree.LoadSelection(GetSelectionPath());
    m_tree.SendMessage(WM_TREE_EXPAND_ROOT);
    UpdateButtons();
    return TRUE;
}

void CBackupPage1::ApplyFilter() {
    CString filter;
    if (CBrannicApp* pApp = App())
        pApp->GetFilter(filter);
    m_tree.SetFilter(filter);
}

void CBackupPage1::UpdateButtons() {
    CWizardDialog* pWizard = GetWizard();
    if (!pWizard)
        return;
    const BOOL checked = m_tree.HasCheckedItems();
    pWizard->EnableNext(checked);
    // In a frame without the destination page this page is the last one, and Start is what moves on.
    if (pWizard->GetLastPage() == this)
        pWizard->EnableFinish(checked);
}

LRESULT CBackupPage1::OnCheckChanged(WPARAM, LPARAM) {
    UpdateButtons();
    return 0;
}

LRESULT CBackupPage1::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(3200);
    return TRUE;
}

void CBackupPage1::OnShowWindow(BOOL bShow, UINT) {
    Default();
    if (bShow)
        SetFocus();
}

LRESULT CBackupPage1::OnWizardNext() {
    CBackManager* pManager = CBackManager::Get();
    CBackAgent* pOutlook = pManager ? pManager->FindAgentItem(&m_tree, _T("Outlook")) : nullptr;
    if (pOutlook && !pOutlook->CanStartJob(m_hWnd, 1))
        return -1;
    return 0;
}

BOOL CBackupPage1::OnWizardFinish() {
    UpdateData(TRUE);
    const CString path = GetSelectionPath();
    if (!m_tree.SaveSelecton(path, nullptr)) {
        // An older selection file must never stand in for this one.
        CString text;
        text.Format(_T("The selection could not be saved to %s."), path.GetString());
        MessageBoxW(m_hWnd, text, _T("Kovra"), MB_OK | MB_ICONERROR);
        return FALSE;
    }
    if (CBrannicApp* pApp = App())
        pApp->m_strCurrentSelectionFile = path;
    return TRUE;
}
