#include "workflows/ExpertModeDlg.h"

#include "app/BrannicApp.h"
#include "app/LogTipsDlg.h"
#include "storage/SecureSetting.h"
#include "storage/ZentraManager.h"

#include "platform/afx/ModuleState.h"
#include "platform/gdi/wingdi.h"
#include "platform/registry/registry.h"

IMPLEMENT_DYNAMIC(CExpertModeDlg, CDialog)

namespace {

constexpr UINT_PTR kStartupTimer = 900;
constexpr UINT WM_SHOW_CURRENT_DIALOG = WM_USER + 318;
constexpr UINT WM_DISK_STEP_DONE = WM_USER + 319;
constexpr UINT WM_LAST_STARTUP_STEP = WM_USER + 320;
constexpr UINT WM_QUERY_ENCLOSURE = WM_USER + 3116;
constexpr int IDC_MAIN_MENU = 906;
constexpr int IDC_CLOSE = 907;
constexpr UINT IDI_KOVRA = 100;
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

CBrannicApp* App() {
    return static_cast<CBrannicApp*>(AfxGetApp());
}

// The settings root with a trailing backslash and the subkey.
CString SettingsKey(LPCTSTR lpszSubKey) {
    CString strKey;
    App()->GetRootKey(strKey);
    if (!strKey.IsEmpty() && strKey[strKey.GetLength() - 1] != u'\\')
        strKey += u'\\';
    return strKey + lpszSubKey;
}

} // namespace

BEGIN_MESSAGE_MAP(CExpertModeDlg, CDialog)
ON_WM_TIMER()
ON_WM_SYSCOMMAND()
ON_WM_SHOWWINDOW()
ON_WM_ENDSESSION()
ON_BN_CLICKED(IDC_CLOSE, OnClose)
ON_BN_CLICKED(IDC_MAIN_MENU, OnMainMenu)
ON_MESSAGE(WM_SHOW_CURRENT_DIALOG, OnShowCurrentDialog)
ON_MESSAGE(WM_DISK_STEP_DONE, OnDiskStepDone)
ON_MESSAGE(WM_LAST_STARTUP_STEP, OnLastStartupStep)
ON_MESSAGE(WM_QUERY_ENCLOSURE, OnQueryEnclosure)
END_MESSAGE_MAP()

CExpertModeDlg::CExpertModeDlg() : CDialog(IDD, nullptr) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_KOVRA));
}

CExpertModeDlg::~CExpertModeDlg() = default;

BOOL CExpertModeDlg::Create() {
    return CDialog::Create(IDD, nullptr);
}

BOOL CExpertModeDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    if (m_hIcon) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    }
    SetTimer(kStartupTimer, 0, nullptr);
    return TRUE;
}

void CExpertModeDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kStartupTimer) {
        Default();
        return;
    }
    KillTimer(kStartupTimer);
    // The pages are built here as they join; the dialog counts as initialised once they are.
    CZentraManager* pManager = App()->GetZentraManager();
    if (pManager)
        pManager->RegisterWindow(this, 0);
    m_bStartup = TRUE;
    m_bInitialized = TRUE;
}

void CExpertModeDlg::ScanSecureDrives(BOOL bQuiet) {
    const BOOL bPreviousQuiet = m_bQuiet;
    m_bQuiet = bQuiet;
    // Every enclosure disk present gets its start-up step; the storage devices report none yet.
    m_dwPendingDisks = 0;
    if (m_dwPendingDisks == 0)
        PostMessage(WM_DISK_STEP_DONE, 0, 0);
    m_bQuiet = bPreviousQuiet;
}

LRESULT CExpertModeDlg::OnDiskStepDone(WPARAM, LPARAM lParam) {
    m_dwPendingDisks &= ~(1u << (static_cast<DWORD>(lParam) & 31));
    if (m_dwPendingDisks)
        return 0;
    m_bStartup = FALSE;
    // An "otb" start runs the one-touch action once, through the System page; without it the start-up ends here.
    LPTSTR lpszCommandLine = App()->m_lpCmdLine;
    if (lpszCommandLine && CBrannicApp::ConsumeSwitch(lpszCommandLine, u"otb") && m_pSystemPage)
        return 0;
    SendMessage(WM_LAST_STARTUP_STEP, 1, 0);
    return 0;
}

LRESULT CExpertModeDlg::OnLastStartupStep(WPARAM, LPARAM) {
    // The one-touch handler and the Auto-Backup restart belong to the pages.
    return 0;
}

void CExpertModeDlg::ShowPage(int) {
    // There is no page to show yet.
}

BOOL CExpertModeDlg::IsBusy() const {
    return FALSE;
}

BOOL CExpertModeDlg::ConfirmExit() {
    // Neither Auto-Backup nor the schedule can run yet, so nothing asks; running work is stopped all the same.
    StopRunningJobs();
    return TRUE;
}

void CExpertModeDlg::StopRunningJobs() {
    // No page runs anything yet.
}

int CExpertModeDlg::OnIdle(LONG) {
    return 1;
}

void CExpertModeDlg::ReloadBackupSelection() {
    // The Instant Backup page reloads "ManualBackup.rpr" once it exists.
}

int CExpertModeDlg::ShowLogTips() {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey(u"Expert"), 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &hKey) !=
        ERROR_SUCCESS)
        return 1;
    DWORD dwRemind = 1;
    DWORD dwType = 0;
    DWORD dwSize = sizeof dwRemind;
    if (RegQueryValueExW(hKey, u"TipsRemind", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwRemind), &dwSize) !=
            ERROR_SUCCESS ||
        dwType != REG_DWORD)
        dwRemind = 1;
    if (dwRemind != 0) {
        CLogTipsDlg dlg;
        dlg.DoModal();
        dwRemind = dlg.m_bDontRemind ? 0 : 1;
        RegSetValueExW(hKey, u"TipsRemind", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwRemind), sizeof dwRemind);
    }
    RegCloseKey(hKey);
    return static_cast<int>(dwRemind);
}

BOOL CExpertModeDlg::PreTranslateMessage(MSG* pMsg) {
    // Enter and Escape never end the hub.
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CDialog::PreTranslateMessage(pMsg);
}

void CExpertModeDlg::OnOK() {}

void CExpertModeDlg::OnCancel() {
    // Closing the window hides it; the program goes on in the tray.
    SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void CExpertModeDlg::OnSysCommand(UINT nID, LPARAM) {
    switch (nID & 0xFFF0) {
    case SC_MINIMIZE:
        App()->SetCurrentDialog(this);
        ShowWindow(SW_MINIMIZE);
        return;
    case SC_CLOSE:
        App()->SetCurrentDialog(this);
        ShowWindow(SW_HIDE);
        return;
    default:
        Default();
        return;
    }
}

void CExpertModeDlg::OnShowWindow(BOOL bShow, UINT) {
    if (bShow) {
        App()->SetCurrentDialog(this);
        SetFocus();
    }
    Default();
}

void CExpertModeDlg::OnEndSession(BOOL bEnding) {
    if (bEnding)
        DestroyWindow();
    else
        Default();
}

void CExpertModeDlg::OnClose() {
    SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void CExpertModeDlg::OnMainMenu() {
    App()->WriteRunMode(0);
    App()->ShowMainMenu();
}

LRESULT CExpertModeDlg::OnShowCurrentDialog(WPARAM wParam, LPARAM) {
    CWnd* pCurrent = App()->GetCurrentDialog();
    if (!pCurrent || !::IsWindow(pCurrent->GetSafeHwnd()))
        return 0;
    if (wParam == 1) {
        pCurrent->ShowWindow(SW_SHOW);
        pCurrent->ShowWindow(SW_SHOWNORMAL);
        pCurrent->SetForegroundWindow();
    } else {
        pCurrent->ShowWindow(SW_HIDE);
    }
    return 0;
}

LRESULT CExpertModeDlg::OnQueryEnclosure(WPARAM, LPARAM) {
    if (CZentraManager* pManager = App()->GetZentraManager())
        pManager->HasEnclosureDisk();
    return 0;
}

BOOL CExpertModeDlg::SetSecureSetting(BOOL bAutoMount, LPCTSTR lpszPassword) {
    return CSecureSetting::SetSecureSetting(bAutoMount, lpszPassword);
}

BOOL CExpertModeDlg::GetSecureSetting(CString* pPassword) {
    return CSecureSetting::GetSecureSetting(pPassword);
}

BOOL CExpertModeDlg::SetSecureQuestion(LPCTSTR lpszQuestion) {
    return CSecureSetting::SetSecureQuestion(lpszQuestion);
}

void CExpertModeDlg::GetSecureQuestion(CString& strQuestion, CComboBox* pCombo) {
    CSecureSetting::GetSecureQuestion(strQuestion, pCombo);
}
