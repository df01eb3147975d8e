#include "agents/SelectIdentityDlg.h"

#include "agents/OutlookEAgent.h"
#include "engine/BackManager.h"

#include "platform/afx/DataExchange.h"

IMPLEMENT_DYNAMIC(CSelectIdentityDlg, CDialog)

namespace {
constexpr int IDC_SOURCE_NAME = 2403;
constexpr int IDC_IDENTITIES = 2405;
constexpr int kNoIdentity = 3;
} // namespace

BEGIN_MESSAGE_MAP(CSelectIdentityDlg, CDialog)
ON_NOTIFY(LVN_ITEMCHANGED, IDC_IDENTITIES, OnItemChanged)
END_MESSAGE_MAP()

CSelectIdentityDlg::CSelectIdentityDlg(CWnd* pParent) : CDialog(IDD, pParent) {}

void CSelectIdentityDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_IDENTITIES, m_list);
}

BOOL CSelectIdentityDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_list.SetExtendedStyle(m_list.GetExtendedStyle() | LVS_EX_FULLROWSELECT);
    RECT client{};
    m_list.GetClientRect(&client);
    m_list.InsertColumn(0, _T("Heading 1"), LVCFMT_LEFT, client.right - client.left);
    if (CBackManager* pManager = CBackManager::Get())
        for (int i = 0; i < pManager->GetAgentCount(); ++i)
            if (CBackAgent* pAgent = pManager->GetAgent(i); pAgent && pAgent->IsKindOf(RUNTIME_CLASS(COutlookEAgent))) {
                static_cast<COutlookEAgent*>(pAgent)->FillIdentityList(&m_list);
                break;
            }
    if (m_list.GetItemCount() == 0 || !m_pSourceList || !m_pTargetList || m_pSourceList->IsEmpty()) {
        EndDialog(kNoIdentity);
        return TRUE;
    }
    GetDlgItem(IDOK)->EnableWindow(FALSE);
    m_pos = m_pSourceList->GetHeadPosition();
    ShowNextSource();
    return TRUE;
}

void CSelectIdentityDlg::ShowNextSource() {
    if (!m_pos)
        return;
    SetDlgItemText(IDC_SOURCE_NAME, m_pSourceList->GetNext(m_pos));
}

void CSelectIdentityDlg::OnItemChanged(NMHDR*, LRESULT* pResult) {
    *pResult = 0;
    GetDlgItem(IDOK)->EnableWindow(m_list.GetNextItem(-1, LVNI_SELECTED) >= 0);
}

void CSelectIdentityDlg::OnOK() {
    const int selected = m_list.GetNextItem(-1, LVNI_SELECTED);
    if (selected < 0)
        return;
    CString target;
    target.Format(_T("%s"), m_list.GetItemText(selected, 0).GetString());
    m_pTargetList->AddTail(target);
    if (m_pTargetList->GetCount() >= m_pSourceList->GetCount()) {
        EndDialog(IDOK);
        return;
    }
    // The selection stays, so that the same identity can take the next source too.
    ShowNextSource();
}
