#include "workflows/BackupWizard.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "app/WizardPage.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/BackupPage1.h"
#include "workflows/BackupPage2.h"
#include "workflows/RestorePage1.h"
#include "workflows/RestorePage2.h"
#include "workflows/ExpertModeDlg.h"

#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(CBackupWizard, CWizardDialog)

BEGIN_MESSAGE_MAP(CBackupWizard, CWizardDialog)
ON_BN_CLICKED(ID_WIZNEXT, OnNextButton)
ON_BN_CLICKED(ID_WIZBACK, OnBackButton)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {

CExpertModeDlg* ExpertDlg() {
    CWinApp* pApp = AfxGetApp();
    if (!pApp || !pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)))
        return nullptr;
    return static_cast<CBrannicApp*>(pApp)->GetExpertDlg();
}

} // namespace

CBackupWizard::CBackupWizard(int nMode, CWnd* pParentWnd) : CWizardDialog(490, pParentWnd), m_nMode(nMode) {
    if (CExpertModeDlg* pExpert = ExpertDlg())
        pExpert->SetActiveWizard(this);
}

CBackupWizard::~CBackupWizard() {
    if (CExpertModeDlg* pExpert = ExpertDlg())
        pExpert->SetActiveWizard(nullptr);
}

BOOL CBackupWizard::OnInitDialog() {
    SetPlaceholder(140);
    CWizardDialog::OnInitDialog();
    CString title;
    if (m_nTitleId && title.LoadString(m_nTitleId))
        SetWindowText(title);
    return TRUE;
}

void CBackupWizard::OnCancel() {
    CWizardDialog::OnCancel();
}

void CBackupWizard::OnNextButton() {
    CWizardPage* pBefore = GetActivePage();
    OnNext(FALSE);
    if (GetActivePage() == pBefore)
        return;
    if (GetActivePage() == GetLastPage()) {
        EnableNext(FALSE);
        ShowNext(FALSE);
        if (m_nMode == 2)
            EnableFinish(TRUE);
        ShowFinish(TRUE);
    }
    EnableBack(TRUE);
}

void CBackupWizard::OnBackButton() {
    CWizardPage* pBefore = GetActivePage();
    OnBack();
    if (GetActivePage() == pBefore)
        return;
    if (GetActivePage() == GetFirstPage()) {
        EnableBack(FALSE);
        EnableFinish(FALSE);
        ShowFinish(FALSE);
    }
    if (m_nMode == 1)
        EnableNext(TRUE);
    ShowNext(TRUE);
}

LRESULT CBackupWizard::OnHelpMsg(WPARAM, LPARAM) {
    if (m_nMode == 1)
        ShowHelpTopic(3200);
    else if (m_nMode == 2)
        ShowHelpTopic(3800);
    return TRUE;
}

LRESULT CBackupWizard::OnShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) {
    if (m_nMode == 2) {
        auto* pSource = dynamic_cast<RestorePage1*>(GetPageById(3800));
        if (!pSource || !GetPageById(3900) || !pSource->IsCreated())
            return 0;
        pSource->GetTree().ProcessShellNotify(lEvent, pidl1, pidl2);
        pSource->OnShellNotify(lEvent, pidl1, pidl2);
        return 0;
    }
    auto* pFirst = dynamic_cast<CBackupPage1*>(GetPageById(3200));
    auto* pSecond = dynamic_cast<CBackupPage2*>(GetPageById(3300));
    if (m_nMode != 1 || !pFirst || !pSecond)
        return 0;
    if (pFirst->IsCreated())
        pFirst->GetTree().ProcessShellNotify(lEvent, pidl1, pidl2);
    if (pSecond->IsCreated())
        pSecond->OnDriveNotify(lEvent, pidl1);
    return 0;
}

INT_PTR CBackupWizard::RunInstantBackup(CWnd* pParent, int nLoadSelection, CBackupWizard** ppOpen) {
    CString destination;
    INT_PTR nResult = 0;
    {
        CBackupWizard wizard(1, pParent);
        CBackupPage1 source(nullptr, nLoadSelection);
        CBackupPage2 target(nullptr);
        wizard.AddPage(&source, 3200);
        wizard.AddPage(&target, 3300);
        wizard.SetTitleId(2307);
        if (ppOpen)
            *ppOpen = &wizard;
        nResult = wizard.DoModal();
        if (ppOpen)
            *ppOpen = nullptr;
        destination = target.GetDestinationPath();
    }
    // Without a destination page that finished there is no drive to back up to.
    if (nResult != ID_WIZFINISH || destination.IsEmpty())
        return 0;
    CBackManager* pManager = CBackManager::Get();
    if (!pManager || pManager->HasProgressDlg()) {
        // One copy-progress dialog at a time: the user learns why this backup did not start.
        CString caption;
        caption.LoadString(2307);
        ::MessageBoxW(pParent ? pParent->GetSafeHwnd() : nullptr,
                      _T("A backup or restore is already running. Please start this backup when it has finished."),
                      caption, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    CCopyProDlg progress(pParent);
    progress.m_nMode = 1;
    progress.m_strDestPath = destination;
    progress.m_nFlags = CCopyProDlg::flagEstimate;
    progress.m_strCaption.LoadString(2301);
    return progress.DoModal();
}

INT_PTR CBackupWizard::RunInstantRestore(CWnd* pParent, CBackupWizard** ppOpen) {
    CString caption;
    caption.LoadString(2302);
    const HWND hParent = pParent ? pParent->GetSafeHwnd() : nullptr;
    if (RestorePage1::GetBackupDrives() == 0) {
        CString text;
        text.LoadString(5059);
        ::MessageBoxW(hParent, text, caption, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    CString setRoot;
    INT_PTR nResult = 0;
    {
        CBackupWizard wizard(2, pParent);
        RestorePage1 source;
        RestorePage2 target;
        wizard.AddPage(&source, 3800);
        wizard.AddPage(&target, 3900);
        wizard.SetTitleId(2308);
        if (ppOpen)
            *ppOpen = &wizard;
        nResult = wizard.DoModal();
        if (ppOpen)
            *ppOpen = nullptr;
        setRoot = source.GetSetRootPath();
    }
    if (nResult != ID_WIZFINISH || setRoot.IsEmpty())
        return 0;
    CBackManager* pManager = CBackManager::Get();
    if (!pManager || pManager->HasProgressDlg()) {
        ::MessageBoxW(hParent, _T("A backup or restore is already running. Please start this restore when it has finished."),
                      caption, MB_OK | MB_ICONEXCLAMATION);
        return 0;
    }
    CCopyProDlg progress(pParent);
    progress.m_nMode = 2;
    progress.m_strRestoreSetPath = setRoot;
    progress.m_strCaption = caption;
    return progress.DoModal();
}

void CBackupWizard::FinishNow() {
    if (GetActivePage() == GetFirstPage() && GetPageCount() > 1)
        OnNextButton();
    if (GetActivePage() != GetFirstPage() || GetPageCount() == 1)
        OnFinish();
}
