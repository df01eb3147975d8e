#include "storage/SelectNasDlg.h"

#include "storage/ConnectDlg.h"
#include "storage/NasShare.h"
#include "storage/NasWaitCursor.h"

#include "platform/afx/DataExchange.h"
#include "platform/fs/volumes.h"
#include "platform/shell/shellexecute.h"
#include "platform/ui/commctrl.h"
#include "platform/ui/controls.h"

#include <memory>

IMPLEMENT_DYNAMIC(CSelectNasDlg, CDialog)

namespace {
constexpr int IDC_LIST_MODE = 1701;
constexpr int IDC_SERVER_LIST = 1702;
constexpr int IDC_IP_MODE = 1703;
constexpr int IDC_IP_ADDRESS = 1704;
constexpr int IDC_SHARE_LIST = 1706;
constexpr int IDC_ENUM_SHARE = 1707;
constexpr int IDC_REFRESH = 1709;
constexpr int IDC_DRIVE_LETTER = 1226;
constexpr UINT WM_NAS_FOUND = WM_USER + 5000;
constexpr UINT IDS_NAS_INVALID_IP = 7000;
constexpr UINT IDS_NAS_NO_SERVER_CHOSEN = 7001;
constexpr UINT IDS_NAS_NO_SHARE_CHOSEN = 7002;
} // namespace

BEGIN_MESSAGE_MAP(CSelectNasDlg, CDialog)
ON_BN_CLICKED(IDC_LIST_MODE, OnListMode)
ON_BN_CLICKED(IDC_IP_MODE, OnIpMode)
ON_LBN_SELCHANGE(IDC_SERVER_LIST, OnServerSelChange)
ON_BN_CLICKED(IDC_ENUM_SHARE, OnEnumShare)
ON_LBN_SELCHANGE(IDC_SHARE_LIST, OnShareSelChange)
ON_LBN_DBLCLK(IDC_SHARE_LIST, OnShareDblClk)
ON_BN_CLICKED(IDC_REFRESH, OnRefresh)
ON_WM_DESTROY()
ON_MESSAGE(WM_NAS_FOUND, OnNasFound)
END_MESSAGE_MAP()

CSelectNasDlg::CSelectNasDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

CSelectNasDlg::~CSelectNasDlg() = default;

void CSelectNasDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_SERVER_LIST, m_lbServers);
    DDX_Control(pDX, IDC_SHARE_LIST, m_lbShares);
    DDX_Control(pDX, IDC_DRIVE_LETTER, m_cbDrive);
}

BOOL CSelectNasDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (!CheckNasUser(FALSE)) {
        EndDialog(IDCANCEL);
        return TRUE;
    }
    SendDlgItemMessage(IDC_IP_ADDRESS, IPM_SETRANGE, 0, MAKEIPRANGE(1, 255));
    for (WPARAM nField = 1; nField < 4; ++nField)
        SendDlgItemMessage(IDC_IP_ADDRESS, IPM_SETRANGE, nField, MAKEIPRANGE(0, 255));
    SendDlgItemMessage(IDC_IP_ADDRESS, IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 0, 1));
    FillDriveLetters();
    CheckRadioButton(IDC_LIST_MODE, IDC_IP_MODE, IDC_LIST_MODE);
    SwitchMode(false);
    StartSearch();
    return TRUE;
}

void CSelectNasDlg::FillDriveLetters() {
    CComboBox* pCombo = &m_cbDrive;
    pCombo->ResetContent();
    const DWORD dwDrives = GetLogicalDrives();
    int nLast = CB_ERR;
    for (int i = 0; i < 26; ++i) {
        if (dwDrives & (1u << i))
            continue;
        CString strLetter;
        strLetter.Format(_T("%c:"), static_cast<TCHAR>(_T('A') + i));
        nLast = pCombo->AddString(strLetter);
    }
    if (nLast != CB_ERR)
        pCombo->SetCurSel(pCombo->GetCount() - 1);
}

void CSelectNasDlg::FreeServerList() {
    CListBox* pList = &m_lbServers;
    if (!pList->GetSafeHwnd())
        return;
    for (int i = 0; i < pList->GetCount(); ++i) {
        delete static_cast<NAS_SERVER_ENTRY*>(pList->GetItemDataPtr(i));
        pList->SetItemDataPtr(i, nullptr);
    }
    pList->ResetContent();
}

void CSelectNasDlg::StartSearch() {
    FreeServerList();
    m_lbShares.ResetContent();
    m_finder.StartFind(m_hWnd, WM_NAS_FOUND);
}

LRESULT CSelectNasDlg::OnNasFound(WPARAM, LPARAM lParam) {
    std::unique_ptr<NAS_SERVER_ENTRY> pEntry(reinterpret_cast<NAS_SERVER_ENTRY*>(lParam));
    if (!pEntry)
        return 0;
    CListBox* pList = &m_lbServers;
    if (pList->FindString(-1, pEntry->strName) == LB_ERR) {
        const int nIndex = pList->AddString(pEntry->strName);
        if (nIndex >= 0)
            pList->SetItemDataPtr(nIndex, new NAS_SERVER_ENTRY(*pEntry));
    }
    if (pList->GetCurSel() == LB_ERR && pList->GetCount() > 0) {
        pList->SetCurSel(0);
        EnumShares();
    }
    return 0;
}

void CSelectNasDlg::SwitchMode(bool bIpMode) {
    CString strAddress;
    GetDlgItemText(IDC_IP_ADDRESS, strAddress);
    if (strAddress.Compare(m_strServer) != 0)
        m_strServer = strAddress;
    m_lbShares.ResetContent();
    m_strShare.Empty();
    m_bIpMode = bIpMode;
    GetDlgItem(IDC_IP_ADDRESS)->EnableWindow(bIpMode);
    GetDlgItem(IDC_ENUM_SHARE)->ShowWindow(bIpMode ? SW_SHOW : SW_HIDE);
    CListBox* pList = &m_lbServers;
    pList->EnableWindow(!bIpMode);
    if (!bIpMode && pList->GetCurSel() == LB_ERR && pList->GetCount() > 0)
        pList->SetCurSel(0);
}

void CSelectNasDlg::OnListMode() {
    SwitchMode(false);
}

void CSelectNasDlg::OnIpMode() {
    SwitchMode(true);
}

bool CSelectNasDlg::GetIpAddress(CString& strAddress) {
    DWORD dwAddress = 0;
    SendDlgItemMessage(IDC_IP_ADDRESS, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&dwAddress));
    const DWORD dwFirst = FIRST_IPADDRESS(dwAddress);
    strAddress.Format(_T("%u.%u.%u.%u"), dwFirst, SECOND_IPADDRESS(dwAddress), THIRD_IPADDRESS(dwAddress),
                      FOURTH_IPADDRESS(dwAddress));
    return dwFirst != 0 && dwFirst < 224;
}

void CSelectNasDlg::EnumShares() {
    if (m_bIpMode) {
        if (!GetIpAddress(m_strServer))
            return;
    } else {
        CListBox* pList = &m_lbServers;
        const int nSel = pList->GetCurSel();
        const auto* pEntry = nSel == LB_ERR ? nullptr : static_cast<NAS_SERVER_ENTRY*>(pList->GetItemDataPtr(nSel));
        if (!pEntry)
            return;
        m_strServer = pEntry->strAddress;
    }
    // Asking for the shares may open the Connect dialog over this one: this dialog shows first (a modal dialog
    // shows itself only once its loop idles), so that it never comes up above the dialog it opened.
    if (!IsWindowVisible()) {
        ShowWindow(SW_SHOW);
        UpdateWindow();
    }
    CNasWaitCursor wait;
    CListBox* pShares = &m_lbShares;
    pShares->ResetContent();
    m_strShare.Empty();
    m_finder.GetShares(m_strServer);
    const CStringArray& shares = m_finder.GetShareList();
    for (INT_PTR i = 0; i < shares.GetSize(); ++i)
        pShares->AddString(shares[i]);
}

void CSelectNasDlg::OnServerSelChange() {
    EnumShares();
}

void CSelectNasDlg::OnEnumShare() {
    CString strAddress;
    if (!GetIpAddress(strAddress)) {
        AfxMessageBox(IDS_NAS_INVALID_IP);
        return;
    }
    EnumShares();
}

void CSelectNasDlg::OnShareSelChange() {
    CListBox* pShares = &m_lbShares;
    const int nSel = pShares->GetCurSel();
    if (nSel == LB_ERR)
        m_strShare.Empty();
    else
        pShares->GetText(nSel, m_strShare);
}

void CSelectNasDlg::OnShareDblClk() {
    OnShareSelChange();
    if (m_strServer.IsEmpty() || m_strShare.IsEmpty())
        return;
    CString strRemote;
    strRemote.Format(_T("\\\\%s\\%s"), static_cast<LPCTSTR>(m_strServer), static_cast<LPCTSTR>(m_strShare));
    ShellExecuteW(m_hWnd, _T("explore"), strRemote, nullptr, nullptr, SW_SHOWNORMAL);
}

void CSelectNasDlg::OnRefresh() {
    FillDriveLetters();
    StartSearch();
}

void CSelectNasDlg::OnOK() {
    if (m_bIpMode) {
        CString strAddress;
        if (!GetIpAddress(strAddress)) {
            AfxMessageBox(IDS_NAS_INVALID_IP);
            return;
        }
        m_strServer = strAddress;
        if (m_strShare.IsEmpty())
            EnumShares();
    } else {
        CListBox* pList = &m_lbServers;
        const int nSel = pList->GetCurSel();
        const auto* pEntry = nSel == LB_ERR ? nullptr : static_cast<NAS_SERVER_ENTRY*>(pList->GetItemDataPtr(nSel));
        if (!pEntry) {
            AfxMessageBox(IDS_NAS_NO_SERVER_CHOSEN);
            return;
        }
        m_strServer = pEntry->strAddress;
    }
    if (m_strShare.IsEmpty()) {
        AfxMessageBox(IDS_NAS_NO_SHARE_CHOSEN);
        EnumShares();
        return;
    }
    CComboBox* pCombo = &m_cbDrive;
    const int nDrive = pCombo->GetCurSel();
    if (nDrive == CB_ERR)
        m_strDrive.Empty();
    else
        pCombo->GetLBText(nDrive, m_strDrive);
    CConnectDlg dlg(m_strServer, m_strShare, m_strDrive.IsEmpty() ? nullptr : static_cast<LPCTSTR>(m_strDrive),
                    m_finder.GetUser(), m_finder.GetPassword(), this);
    if (dlg.DoModal() != IDOK)
        return;
    m_strUser = dlg.GetUser();
    m_strPassword = dlg.GetPassword();
    m_finder.SetCredentials(m_strUser, m_strPassword);
    m_finder.StopFind();
    CDialog::OnOK();
}

void CSelectNasDlg::OnDestroy() {
    m_finder.StopFind();
    FreeServerList();
    CDialog::OnDestroy();
}
