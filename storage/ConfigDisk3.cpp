#include "storage/ConfigDisk3.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/ModuleState.h"

IMPLEMENT_DYNAMIC(CConfigDisk3, CWizardPage)

BEGIN_MESSAGE_MAP(CConfigDisk3, CWizardPage)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

namespace {
constexpr int IDC_PASSWORD = 4103;
constexpr int IDC_CONFIRM = 4105;
constexpr int IDC_QUESTION = 4107;
constexpr int kMaxText = 64;
constexpr int kMinPassword = 8;
constexpr UINT IDS_FIRST_QUESTION = 6000;
constexpr UINT IDS_LAST_QUESTION = 6008;
constexpr UINT IDS_PASSWORD_TOO_SHORT = 5056;
constexpr UINT IDS_PASSWORD_INCONSISTENT = 5012;
} // namespace

void CConfigDisk3::DoDataExchange(CDataExchange* pDX) {
    CWizardPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_QUESTION, m_cbQuestion);
    DDX_Text(pDX, IDC_PASSWORD, m_strPassword);
    DDV_MaxChars(pDX, m_strPassword, kMaxText);
    DDX_Text(pDX, IDC_CONFIRM, m_strConfirm);
    DDV_MaxChars(pDX, m_strConfirm, kMaxText);
    DDX_CBString(pDX, IDC_QUESTION, m_strQuestion);
    DDV_MaxChars(pDX, m_strQuestion, kMaxText);
}

BOOL CConfigDisk3::OnInitDialog() {
    CWizardPage::OnInitDialog();
    for (UINT nId = IDS_FIRST_QUESTION; nId <= IDS_LAST_QUESTION; ++nId) {
        CString strQuestion;
        if (!strQuestion.LoadString(nId) || strQuestion.IsEmpty())
            continue;
        const int nItem = m_cbQuestion.AddString(strQuestion);
        if (nItem >= 0)
            m_cbQuestion.SetItemData(nItem, nId);
    }
    return TRUE;
}

void CConfigDisk3::OnSetActive() {
    SetFocus();
}

LRESULT CConfigDisk3::OnWizardNext() {
    if (!UpdateData(TRUE))
        return -1;
    // Only the length is asked for, not the kind of characters.
    if (m_strPassword.GetLength() < kMinPassword) {
        AfxMessageBox(IDS_PASSWORD_TOO_SHORT, MB_OK | MB_ICONEXCLAMATION);
        return -1;
    }
    if (m_strPassword != m_strConfirm) {
        AfxMessageBox(IDS_PASSWORD_INCONSISTENT, MB_OK | MB_ICONEXCLAMATION);
        return -1;
    }
    const int nItem = m_cbQuestion.GetCurSel();
    m_nQuestionId = nItem == CB_ERR ? static_cast<UINT>(-1) : static_cast<UINT>(m_cbQuestion.GetItemData(nItem));
    m_cbQuestion.GetWindowText(m_strQuestion);
    return 0;
}

LRESULT CConfigDisk3::OnHelpMsg(WPARAM, LPARAM) {
    return GetParent() ? GetParent()->SendMessage(WM_HELP) : 0;
}
