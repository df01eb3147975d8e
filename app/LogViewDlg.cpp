#include "app/LogViewDlg.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "workflows/ExpertModeDlg.h"

#include "platform/registry/registry.h"

IMPLEMENT_DYNAMIC(CLogViewDlg, CDialog)

BEGIN_MESSAGE_MAP(CLogViewDlg, CDialog)
ON_WM_DESTROY()
END_MESSAGE_MAP()

namespace {

constexpr int IDC_LOG_LIST = 1600;
constexpr DWORD kMaxRows = 4096;
constexpr int kColumns = 3;
constexpr int kDefaultWidths[kColumns] = {60, 97, 110};
const char16_t* const kWidthNames[kColumns] = {u"Column1Width", u"Column2Width", u"Column3Width"};

CString ShowLogKey() {
    CString strKey;
    if (const auto* pApp = static_cast<const CBrannicApp*>(AfxGetApp()))
        pApp->GetRootKey(strKey);
    if (!strKey.IsEmpty() && strKey[strKey.GetLength() - 1] != u'\\')
        strKey += u'\\';
    return strKey + u"Expert\\ShowLog";
}

} // namespace

BOOL ShowLogTipsCallback(LPVOID) {
    const auto* pApp = static_cast<const CBrannicApp*>(AfxGetApp());
    CExpertModeDlg* pExpert = pApp ? pApp->GetExpertDlg() : nullptr;
    return pExpert ? pExpert->ShowLogTips() : 0;
}

CLogViewDlg::CLogViewDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

CLogViewDlg::~CLogViewDlg() = default;

BOOL CLogViewDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_list.SubclassDlgItem(IDC_LOG_LIST, this);
    if (!PathExists(m_strLogPath))
        return FALSE;
    // The temporary companion sits beside the file: "folder\~name".
    const int nSlash = m_strLogPath.ReverseFind(u'\\');
    const CString strFolder = m_strLogPath.Left(nSlash + 1);
    const CString strName = m_strLogPath.Mid(nSlash + 1);
    CString strTemp;
    strTemp.Format(u"%s~%s", static_cast<LPCTSTR>(strFolder), static_cast<LPCTSTR>(strName));
    m_log.Init(m_strLogPath, strTemp, kMaxRows, TRUE);
    m_list.EnableTips(539, 537, 540, 538, ShowLogTipsCallback, this);
    m_log.AttachListCtrl(&m_list, 116, 117, 118, 539, 537, 540, 538, 5031, 5030, 5029, 5032);
    m_bColumns = TRUE;
    int widths[kColumns];
    LoadColumnWidths(widths);
    for (int i = 0; i < kColumns; ++i)
        m_list.SetColumnWidth(i, widths[i]);
    return TRUE;
}

void CLogViewDlg::LoadColumnWidths(int* pWidths) const {
    for (int i = 0; i < kColumns; ++i)
        pWidths[i] = kDefaultWidths[i];
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ShowLogKey(), 0, nullptr, 0, KEY_READ, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return;
    for (int i = 0; i < kColumns; ++i) {
        DWORD dwValue = 0;
        DWORD dwType = 0;
        DWORD dwSize = sizeof dwValue;
        if (RegQueryValueExW(hKey, kWidthNames[i], nullptr, &dwType, reinterpret_cast<BYTE*>(&dwValue), &dwSize) ==
                ERROR_SUCCESS &&
            dwType == REG_DWORD && dwSize == sizeof dwValue)
            pWidths[i] = static_cast<int>(dwValue);
    }
    RegCloseKey(hKey);
}

void CLogViewDlg::SaveColumnWidths() const {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, ShowLogKey(), 0, nullptr, 0, KEY_WRITE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return;
    for (int i = 0; i < kColumns; ++i) {
        const DWORD dwValue = static_cast<DWORD>(m_list.GetColumnWidth(i));
        RegSetValueExW(hKey, kWidthNames[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof dwValue);
    }
    RegCloseKey(hKey);
}

void CLogViewDlg::OnDestroy() {
    // A viewer that showed no columns (its file was missing) has no widths of the user's to keep.
    if (m_bColumns)
        SaveColumnWidths();
    m_log.DetachListCtrl();
    CDialog::OnDestroy();
}
