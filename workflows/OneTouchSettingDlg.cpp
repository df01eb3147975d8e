#include "workflows/OneTouchSettingDlg.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"

#include "platform/registry/registry.h"

IMPLEMENT_DYNAMIC(COneTouchSettingDlg, CDialog)

namespace {

constexpr UINT IDC_BACKUP = 3001;
constexpr UINT IDC_SCHEDULE = 3002;
constexpr UINT IDC_NOTHING = 3003;

CString SettingsKey() {
    CString key;
    if (auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp()))
        pApp->GetRootKey(key);
    if (!key.IsEmpty() && key.Right(1) != _T("\\"))
        key += _T("\\");
    return key + _T("Expert\\SystemSetting");
}

} // namespace

BEGIN_MESSAGE_MAP(COneTouchSettingDlg, CDialog)
ON_BN_CLICKED(IDC_BACKUP, OnBackup)
ON_BN_CLICKED(IDC_SCHEDULE, OnSchedule)
ON_BN_CLICKED(IDC_NOTHING, OnNothing)
ON_MESSAGE(WM_HELP, OnHelpMsg)
END_MESSAGE_MAP()

COneTouchSettingDlg::COneTouchSettingDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {}

DWORD COneTouchSettingDlg::ReadOneTouch() {
    DWORD value = IDC_BACKUP;
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey(), 0, KEY_QUERY_VALUE, &hKey) == ERROR_SUCCESS) {
        DWORD stored = 0, type = 0, size = sizeof stored;
        if (RegQueryValueExW(hKey, u"OneTouch", nullptr, &type, reinterpret_cast<BYTE*>(&stored), &size) ==
                ERROR_SUCCESS &&
            type == REG_DWORD)
            value = stored;
        RegCloseKey(hKey);
    }
    return value == IDC_NOTHING ? IDC_NOTHING : IDC_BACKUP;
}

BOOL COneTouchSettingDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    m_dwChoice = ReadOneTouch();
    if (CWnd* pSchedule = GetDlgItem(IDC_SCHEDULE))
        pSchedule->ShowWindow(SW_HIDE);
    OnChoose(GetDlgItem(static_cast<int>(m_dwChoice)) ? m_dwChoice : IDC_NOTHING);
    return TRUE;
}

void COneTouchSettingDlg::OnChoose(UINT nId) {
    for (UINT id : {IDC_BACKUP, IDC_SCHEDULE, IDC_NOTHING})
        CheckDlgButton(static_cast<int>(id), id == nId ? BST_CHECKED : BST_UNCHECKED);
}

LRESULT COneTouchSettingDlg::OnHelpMsg(WPARAM, LPARAM) {
    ShowHelpTopic(IDD);
    return TRUE;
}

void COneTouchSettingDlg::OnOK() {
    m_dwChoice = IsDlgButtonChecked(IDC_BACKUP)     ? IDC_BACKUP
                 : IsDlgButtonChecked(IDC_SCHEDULE) ? IDC_SCHEDULE
                                                    : IDC_NOTHING;
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) ==
        ERROR_SUCCESS) {
        RegSetValueExW(hKey, u"OneTouch", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_dwChoice), sizeof m_dwChoice);
        RegCloseKey(hKey);
    }
    CDialog::OnOK();
}
