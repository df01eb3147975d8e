#include "app/WizardDialog.h"

#include "app/WizardPage.h"

IMPLEMENT_DYNAMIC(CWizardDialog, CDialog)

BEGIN_MESSAGE_MAP(CWizardDialog, CDialog)
ON_WM_DESTROY()
ON_BN_CLICKED(ID_WIZFINISH, OnFinish)
ON_BN_CLICKED(ID_WIZBACK, OnBack)
ON_BN_CLICKED(ID_WIZNEXT, OnNextClicked)
ON_BN_CLICKED(IDCANCEL, OnCancel)
END_MESSAGE_MAP()

CWizardDialog::CWizardDialog(UINT nIDTemplate, CWnd* pParentWnd) : CDialog(nIDTemplate, pParentWnd), m_pages(10) {}

CWizardDialog::CWizardDialog(LPCTSTR lpszTemplateName, CWnd* pParentWnd)
    : CDialog(lpszTemplateName, pParentWnd), m_pages(10) {}

CWizardDialog::~CWizardDialog() {
    m_pages.RemoveAll();
}

void CWizardDialog::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
}

void CWizardDialog::AddPage(CWizardPage* pPage, UINT nID) {
    if (!pPage)
        return;
    m_pages.AddTail(pPage);
    pPage->m_nDialogID = nID;
}

CWizardPage* CWizardDialog::GetFirstPage() const {
    return m_pages.IsEmpty() ? nullptr : static_cast<CWizardPage*>(m_pages.GetHead());
}

CWizardPage* CWizardDialog::GetLastPage() const {
    return m_pages.IsEmpty() ? nullptr : static_cast<CWizardPage*>(m_pages.GetTail());
}

CWizardPage* CWizardDialog::GetActivePage() const {
    for (POSITION pos = m_pages.GetHeadPosition(); pos;) {
        auto* pPage = static_cast<CWizardPage*>(m_pages.GetNext(pos));
        if (pPage->m_bActive)
            return pPage;
    }
    return nullptr;
}

CWizardPage* CWizardDialog::GetNextPage() const {
    const int nActive = GetActiveIndex();
    return nActive < 0 ? nullptr : GetPage(nActive + 1);
}

CWizardPage* CWizardDialog::GetPage(int nIndex) const {
    if (nIndex < 0)
        return nullptr;
    POSITION pos = m_pages.FindIndex(nIndex);
    return pos ? static_cast<CWizardPage*>(m_pages.GetAt(pos)) : nullptr;
}

CWizardPage* CWizardDialog::GetPageById(UINT nID) const {
    for (POSITION pos = m_pages.GetHeadPosition(); pos;) {
        auto* pPage = static_cast<CWizardPage*>(m_pages.GetNext(pos));
        if (pPage->m_nDialogID == nID)
            return pPage;
    }
    return nullptr;
}

int CWizardDialog::GetActiveIndex() const {
    return GetPageIndex(GetActivePage());
}

int CWizardDialog::GetPageIndex(const CWizardPage* pPage) const {
    if (!pPage)
        return -1;
    int nIndex = 0;
    for (POSITION pos = m_pages.GetHeadPosition(); pos; ++nIndex) {
        if (m_pages.GetNext(pos) == pPage)
            return nIndex;
    }
    return -1;
}

BOOL CWizardDialog::ActivatePage(CWizardPage* pPage) {
    if (!pPage)
        return FALSE;
    if (!pPage->m_bCreated) {
        if (!pPage->Create(pPage->m_nDialogID, this))
            return FALSE;
        pPage->m_bCreated = TRUE;
        pPage->m_pWizard = this;
        // A page that declines here stays created and hidden, and is not asked again.
        if (!pPage->OnCreatePage())
            return FALSE;
    }
    if (!DeactivateActivePage())
        return FALSE;
    if (CWnd* pPlaceholder = GetDlgItem(m_nPlaceholderID)) {
        RECT rc{};
        pPlaceholder->GetWindowRect(&rc);
        POINT topLeft{rc.left, rc.top};
        ScreenToClient(&topLeft);
        pPage->SetWindowPos(nullptr, topLeft.x, topLeft.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    pPage->EnableWindow(TRUE);
    pPage->ShowWindow(SW_SHOW);
    pPage->Invalidate(TRUE);
    pPage->UpdateWindow();
    pPage->OnSetActive();
    pPage->m_bActive = TRUE;
    return TRUE;
}

BOOL CWizardDialog::DeactivateActivePage() {
    CWizardPage* pActive = GetActivePage();
    if (!pActive)
        return TRUE;
    if (!pActive->OnKillActive())
        return FALSE;
    pActive->ShowWindow(SW_HIDE);
    pActive->m_bActive = FALSE;
    return TRUE;
}

BOOL CWizardDialog::ActivateFirstPage() {
    CWizardPage* pFirst = GetFirstPage();
    if (!DeactivateActivePage())
        return FALSE;
    EnableBack(FALSE);
    const BOOL bOnePage = GetPageCount() <= 1;
    EnableFinish(bOnePage);
    ShowFinish(bOnePage);
    EnableNext(!bOnePage);
    ShowNext(!bOnePage);
    return ActivatePage(pFirst);
}

void CWizardDialog::ActivateNextPage() {
    if (ActivatePage(GetNextPage()))
        EnableBack(TRUE);
}

BOOL CWizardDialog::SetActivePage(CWizardPage* pPage) {
    ActivatePage(pPage);
    return TRUE;
}

BOOL CWizardDialog::SetActivePageByIndex(int nIndex) {
    CWizardPage* pPage = GetPage(nIndex);
    if (!pPage)
        return FALSE;
    ActivatePage(pPage);
    return TRUE;
}

BOOL CWizardDialog::SetActivePageById(UINT nID) {
    CWizardPage* pPage = GetPageById(nID);
    if (!pPage || !DeactivateActivePage())
        return FALSE;
    return ActivatePage(pPage);
}

void CWizardDialog::EnableButton(int nID, BOOL bEnable) {
    if (CWnd* pButton = GetDlgItem(nID))
        pButton->EnableWindow(bEnable);
}

void CWizardDialog::ShowButton(int nID, BOOL bShow) {
    if (CWnd* pButton = GetDlgItem(nID))
        pButton->ShowWindow(bShow ? SW_SHOW : SW_HIDE);
}

void CWizardDialog::EnableBack(BOOL bEnable) {
    EnableButton(ID_WIZBACK, bEnable);
}

void CWizardDialog::EnableNext(BOOL bEnable) {
    EnableButton(ID_WIZNEXT, bEnable);
}

void CWizardDialog::EnableFinish(BOOL bEnable) {
    EnableButton(ID_WIZFINISH, bEnable);
}

void CWizardDialog::ShowNext(BOOL bShow) {
    ShowButton(ID_WIZNEXT, bShow);
}

void CWizardDialog::ShowFinish(BOOL bShow) {
    ShowButton(ID_WIZFINISH, bShow);
}

void CWizardDialog::SetTitle(LPCTSTR lpszTitle) {
    SetWindowText(lpszTitle);
}

void CWizardDialog::SetTitle(UINT nIDText) {
    CString strTitle;
    strTitle.LoadString(nIDText);
    SetWindowText(strTitle);
}

void CWizardDialog::SetFinishText(LPCTSTR lpszText) {
    if (GetDlgItem(ID_WIZFINISH))
        SetDlgItemText(ID_WIZFINISH, lpszText);
}

void CWizardDialog::SetFinishText(UINT nIDText) {
    CString strText;
    strText.LoadString(nIDText);
    SetFinishText(strText);
}

BOOL CWizardDialog::OnInitDialog() {
    CDialog::OnInitDialog();
    // Without a page there is nothing to show: the host refuses to start.
    if (m_pages.IsEmpty()) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    // Tab and the arrow keys enter the page windows.
    ModifyStyleEx(0, WS_EX_CONTROLPARENT);
    ActivateFirstPage();
    return TRUE;
}

void CWizardDialog::OnNext(BOOL bSkipHook) {
    CWizardPage* pActive = GetActivePage();
    if (!pActive)
        return;
    const LRESULT nCode = bSkipHook ? 0 : pActive->OnWizardNext();
    if (nCode == -1)
        return;
    CWizardPage* pTarget = nCode != 0 ? GetPageById(static_cast<UINT>(nCode)) : GetNextPage();
    if (!pTarget || !ActivatePage(pTarget))
        return;
    if (pTarget == GetLastPage()) {
        EnableNext(FALSE);
        ShowNext(FALSE);
        EnableFinish(TRUE);
        ShowFinish(TRUE);
    }
    EnableBack(TRUE);
}

void CWizardDialog::OnBack() {
    CWizardPage* pActive = GetActivePage();
    if (!pActive)
        return;
    const LRESULT nCode = pActive->OnWizardBack();
    if (nCode == -1)
        return;
    CWizardPage* pTarget = nCode != 0 ? GetPageById(static_cast<UINT>(nCode)) : GetPage(GetPageIndex(pActive) - 1);
    if (!pTarget || !ActivatePage(pTarget))
        return;
    if (pTarget == GetFirstPage()) {
        EnableBack(FALSE);
        EnableFinish(FALSE);
        ShowFinish(FALSE);
    }
    EnableNext(TRUE);
    ShowNext(TRUE);
}

void CWizardDialog::OnFinish() {
    CWizardPage* pActive = GetActivePage();
    if (!pActive || !pActive->OnKillActive())
        return;
    for (POSITION pos = m_pages.GetHeadPosition(); pos;) {
        auto* pPage = static_cast<CWizardPage*>(m_pages.GetNext(pos));
        if (pPage->m_bCreated && !pPage->OnWizardFinish())
            return;
    }
    UpdateData(TRUE);
    EndDialog(ID_WIZFINISH);
}

void CWizardDialog::OnOK() {}

void CWizardDialog::OnCancel() {
    for (POSITION pos = m_pages.GetHeadPosition(); pos;) {
        auto* pPage = static_cast<CWizardPage*>(m_pages.GetNext(pos));
        if (pPage->m_bCreated && !pPage->OnQueryCancel())
            return;
    }
    CDialog::OnCancel();
}

void CWizardDialog::OnDestroy() {
    for (POSITION pos = m_pages.GetHeadPosition(); pos;) {
        auto* pPage = static_cast<CWizardPage*>(m_pages.GetNext(pos));
        if (!pPage->m_bCreated)
            continue;
        if (pPage->OnKillActive()) {
            pPage->OnDestroyPage();
            pPage->DestroyWindow();
        } else if (pPage->m_hWnd) {
            // The page refused, but its window goes with the host all the same: the page must not believe it
            // still has one.
            pPage->DestroyWindow();
        }
        pPage->m_bCreated = FALSE;
        pPage->m_bActive = FALSE;
        pPage->m_pWizard = nullptr;
    }
    Default();
}
