#include "storage/ConfigWizardDlg.h"

IMPLEMENT_DYNAMIC(CConfigWizardDlg, CWizardDialog)

namespace {
constexpr int IDC_PLACEHOLDER = 140;
} // namespace

CConfigWizardDlg::CConfigWizardDlg(CWnd* pParentWnd) : CWizardDialog(IDD, pParentWnd) {}

BOOL CConfigWizardDlg::OnInitDialog() {
    SetPlaceholder(IDC_PLACEHOLDER);
    return CWizardDialog::OnInitDialog();
}
