#include "workflows/ExpertPage.h"

IMPLEMENT_DYNAMIC(CExpertPage, CDialog)

CExpertPage::CExpertPage(UINT nIDTemplate, CWnd* pParentWnd) : CDialog(nIDTemplate, pParentWnd) {}

CExpertPage::~CExpertPage() = default;

BOOL CExpertPage::CreatePage(CWnd* pParentWnd) {
    return CDialog::Create(m_nIDTemplate, pParentWnd);
}

LRESULT CExpertPage::OnShellNotify(LONG, LPCITEMIDLIST, LPCITEMIDLIST) {
    return 0;
}

void CExpertPage::StopCount(BOOL) {}

void CExpertPage::OnLastStartupStep(BOOL) {}

void CExpertPage::OnRefreshSources(LPARAM) {}
