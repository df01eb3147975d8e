#include "app/LogFilterDlg.h"

#include "app/BrannicApp.h"
#include "app/XMLLog.h"

IMPLEMENT_DYNAMIC(CLogFilterDlg, CDialog)

namespace {
constexpr int IDC_VIEW_ALL = 4001;
constexpr int IDC_VIEW_WARNINGS = 4002;
} // namespace

CLogFilterDlg::CLogFilterDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

BOOL CLogFilterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CheckRadioButton(IDC_VIEW_ALL, IDC_VIEW_WARNINGS,
                     (m_nViewMask & CXMLLog::typeInformation) ? IDC_VIEW_ALL : IDC_VIEW_WARNINGS);
    return TRUE;
}

void CLogFilterDlg::OnOK() {
    m_nViewMask = IsDlgButtonChecked(IDC_VIEW_ALL)
                      ? CXMLLog::typeInformation | CXMLLog::typeWarning | CXMLLog::typeError
                      : CXMLLog::typeWarning | CXMLLog::typeError;
    const auto* pApp = static_cast<const CBrannicApp*>(AfxGetApp());
    if (pApp && pApp->IsDebugMode())
        m_nViewMask |= CXMLLog::typeDebug;
    CDialog::OnOK();
}
