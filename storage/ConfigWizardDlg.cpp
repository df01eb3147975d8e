#include "storage/ConfigWizardDlg.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/ModuleState.h"
#include "platform/res/resources.h"
#include "platform/ui/window.h"

IMPLEMENT_DYNAMIC(CConfigWizardDlg, CWizardDialog)

BEGIN_MESSAGE_MAP(CConfigWizardDlg, CWizardDialog)
ON_BN_CLICKED(ID_WIZBACK, OnWizBack)
ON_BN_CLICKED(ID_WIZNEXT, OnWizNext)
ON_BN_CLICKED(ID_WIZFINISH, OnWizFinish)
ON_MESSAGE(WM_CONFIG_DONE, OnConfigDone)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {
constexpr int IDC_PLACEHOLDER = 140;
constexpr UINT IDI_APPLICATION_ICON = 100;
} // namespace

CConfigWizardDlg::CConfigWizardDlg(CWnd* pParentWnd, BOOL bStartedFromExpertMode)
    : CWizardDialog(IDD, pParentWnd), m_bStartedFromExpertMode(bStartedFromExpertMode) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
}

void CConfigWizardDlg::DoDataExchange(CDataExchange* pDX) {
    CWizardDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDCANCEL, m_btnCancel);
    DDX_Control(pDX, ID_WIZNEXT, m_btnNext);
}

BOOL CConfigWizardDlg::OnInitDialog() {
    SetPlaceholder(IDC_PLACEHOLDER);
    SendMessage(WM_SETICON, 1 /* big */, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, 0 /* small */, reinterpret_cast<LPARAM>(m_hIcon));
    const BOOL bResult = CWizardDialog::OnInitDialog();
    if (auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp()))
        pApp->SetCurrentDialog(this);
    return bResult;
}

void CConfigWizardDlg::OnWizNext() {
    CWizardPage* pBefore = GetActivePage();
    auto* pPage1 = Page<CConfigDisk1>();
    auto* pPage2 = Page<CConfigDisk2>();
    auto* pPage3 = Page<CConfigDisk3>();
    auto* pPage4 = Page<CConfigDisk4>();
    auto* pPage5 = Page<CConfigDisk5>();
    if (!pBefore)
        return;

    if (pBefore == pPage1) {
        OnNext();
        if (GetActivePage() == pBefore)
            return;
        m_ullTotalMB = pPage1->m_ullCapacityMB;
        m_nPublicIndex = pPage1->m_nPublicIndex;
        m_nSecureIndex = pPage1->m_nSecureIndex;
        m_nDiskNumber = static_cast<UINT>(pPage1->GetSelectedDiskNumber());
        if (pPage2)
            pPage2->SetTotalSize(m_ullTotalMB);
        if (pPage4) {
            pPage4->m_strPublicDrive.Format(u"%c:", u'A' + static_cast<int>(m_nPublicIndex));
            pPage4->m_strSecureDrive.Format(u"%c:", u'A' + static_cast<int>(m_nSecureIndex));
        }
        return;
    }
    if (pBefore == pPage2) {
        OnNext();
        if (GetActivePage() == pBefore)
            return;
        m_ullSecureMB = pPage2->m_ullSecureMB;
        m_ullPublicMB = pPage2->m_ullPublicMB;
        if (m_ullSecureMB == 0) {
            // No secure part: no password, and the password page is passed over without asking it.
            m_strPassword.Empty();
            if (GetActivePage() == pPage3)
                OnNext(TRUE);
            FillSummary();
        }
        return;
    }
    if (pBefore == pPage3) {
        OnNext();
        if (GetActivePage() == pBefore)
            return;
        m_strPassword = pPage3->m_strPassword;
        m_strQuestion = pPage3->m_strQuestion;
        m_nQuestionId = pPage3->m_nQuestionId;
        FillSummary();
        return;
    }
    if (pBefore == pPage4) {
        if (pPage5)
            pPage5->SetConfig(m_nDiskNumber, m_strPassword, m_nPublicIndex, m_nSecureIndex, m_ullPublicMB,
                              m_ullSecureMB, m_strQuestion);
        OnNext();
        if (GetActivePage() == pBefore)
            return;
        if (pPage5)
            pPage5->SetRememberPassword(pPage4->m_bRememberPassword);
        for (int nID : {static_cast<int>(ID_WIZBACK), static_cast<int>(ID_WIZNEXT), static_cast<int>(IDCANCEL)})
            if (CWnd* pButton = GetDlgItem(nID))
                pButton->ShowWindow(SW_HIDE);
        EnableFinish(FALSE);
        return;
    }
    OnNext();
}

void CConfigWizardDlg::FillSummary() {
    if (auto* pPage4 = Page<CConfigDisk4>()) {
        pPage4->m_ullPublicMB = m_ullPublicMB;
        pPage4->m_ullSecureMB = m_ullSecureMB;
        pPage4->FillSummary();
    }
}

void CConfigWizardDlg::OnWizBack() {
    OnBack();
    if (m_ullSecureMB == 0 && GetActivePage() && GetActivePage() == Page<CConfigDisk3>())
        OnBack();
}

void CConfigWizardDlg::OnWizFinish() {
    OnFinish();
    ReturnToExpertMode();
}

void CConfigWizardDlg::OnCancel() {
    // Closing the window while the last page works asks that page, which stops the work.
    for (int i = 0; i < GetPageCount(); ++i) {
        CWizardPage* pPage = GetPage(i);
        if (pPage && pPage->IsCreated() && !pPage->OnQueryCancel())
            return;
    }
    CDialog::OnCancel();
    ReturnToExpertMode();
}

void CConfigWizardDlg::ReturnToExpertMode() {
    if (!m_bStartedFromExpertMode)
        return;
    auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp());
    if (!pApp || !pApp->GetExpertWnd())
        return;
    pApp->GetExpertWnd()->ShowWindow(SW_SHOW);
    pApp->SetCurrentDialog(pApp->GetExpertWnd());
}

LRESULT CConfigWizardDlg::OnConfigDone(WPARAM, LPARAM) {
    EnableFinish(TRUE);
    ShowFinish(TRUE);
    m_btnCancel.EnableWindow(FALSE);
    return 0;
}

LRESULT CConfigWizardDlg::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(IDD);
    return TRUE;
}
