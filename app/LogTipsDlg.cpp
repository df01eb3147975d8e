#include "app/LogTipsDlg.h"

#include "platform/afx/DataExchange.h"

IMPLEMENT_DYNAMIC(CLogTipsDlg, CDialog)

namespace {
constexpr int IDC_DONT_REMIND = 1241;
} // namespace

CLogTipsDlg::CLogTipsDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

void CLogTipsDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Check(pDX, IDC_DONT_REMIND, m_bDontRemind);
}
