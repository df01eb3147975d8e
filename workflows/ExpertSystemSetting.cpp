#include "workflows/ExpertSystemSetting.h"

#include "workflows/BackupWizard.h"
#include "workflows/ExpertBackup.h"
#include "workflows/ExpertModeDlg.h"
#include "workflows/OneTouchSettingDlg.h"
#include "workflows/SysFilterSettingDlg.h"

#include "app/BrannicApp.h"
#include "app/LogFilterDlg.h"
#include "app/VyxMainDlg.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ShellTreeCtrl.h"
#include "shared/LogicalDrive.h"
#include "storage/ConfigWizardDlg.h"
#include "storage/EnclosureWnd.h"
#include "storage/ManageSecureDiskDlg.h"
#include "storage/ZentraManager.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/FileDialog.h"
#include "platform/afx/ModuleState.h"
#include "platform/registry/registry.h"

IMPLEMENT_DYNAMIC(CExpertSystemSetting, CExpertPage)

BEGIN_MESSAGE_MAP(CExpertSystemSetting, CExpertPage)
ON_BN_CLICKED(1403, OnSaveAs)
ON_BN_CLICKED(1406, OnClearLogs)
ON_BN_CLICKED(1401, OnOptions)
ON_BN_CLICKED(1407, OnOneTouchSetting)
ON_BN_CLICKED(1408, OnManageSecureDisk)
ON_BN_CLICKED(1409, OnFilterSetting)
ON_BN_CLICKED(1410, OnInitializeDisk)
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
ON_MESSAGE(WM_USER + 1499, OnOneTouchMessage)
END_MESSAGE_MAP()

namespace {
constexpr int IDC_LOG_LIST = 1404;
constexpr UINT kButtonIcons[][2] = {{1407, 505}, {1408, 534}, {1409, 535}, {1410, 533}};
constexpr UINT IDS_TYPE = 116, IDS_DATE = 117, IDS_LOG = 118;
constexpr UINT kIconError = 539, kIconWarning = 537, kIconInformation = 540, kIconDebug = 538;
constexpr UINT kTextError = 5031, kTextWarning = 5030, kTextInformation = 5029, kTextDebug = 5032;
constexpr UINT IDS_CLEAR_LOGS = 5033;
constexpr UINT IDS_NO_ENCLOSURE = 5010;
constexpr UINT IDS_ONE_TOUCH_DISABLED = 5022;
constexpr UINT IDS_ONE_TOUCH_STARTED = 5050;
constexpr UINT IDS_ONE_TOUCH_BAD_SETTINGS = 5051;
constexpr UINT IDS_ONE_TOUCH_COPY_RUNNING = 5052;
constexpr UINT IDS_PLEASE_SELECT = 5018;
constexpr UINT IDS_BACKUP_SOURCE = 1049;
constexpr UINT IDS_INSTANT_BACKUP = 901;
constexpr int kDefaultWidths[] = {60, 97, 110};
const LPCTSTR kWidthValues[] = {u"Column1Width", u"Column2Width", u"Column3Width"};

CBrannicApp* App() {
    return static_cast<CBrannicApp*>(AfxGetApp());
}

CString SettingsKey() {
    CString strKey;
    App()->GetRootKey(strKey);
    if (!strKey.IsEmpty() && strKey[strKey.GetLength() - 1] != u'\\')
        strKey += u'\\';
    return strKey + u"Expert\\SystemSetting";
}

BOOL ReadDword(LPCTSTR lpszValue, DWORD& dwValue) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, SettingsKey(), 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return FALSE;
    DWORD dwType = 0, dwData = 0, dwSize = sizeof(dwData);
    const LONG lResult =
        RegQueryValueExW(hKey, lpszValue, nullptr, &dwType, reinterpret_cast<LPBYTE>(&dwData), &dwSize);
    RegCloseKey(hKey);
    if (lResult != ERROR_SUCCESS || dwType != REG_DWORD)
        return FALSE;
    dwValue = dwData;
    return TRUE;
}

void WriteDword(LPCTSTR lpszValue, DWORD dwValue) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &hKey, nullptr) !=
        ERROR_SUCCESS)
        return;
    RegSetValueExW(hKey, lpszValue, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwValue), sizeof(dwValue));
    RegCloseKey(hKey);
}

CString LoadText(UINT nId) {
    CString strText;
    strText.LoadString(nId);
    return strText;
}

CEnclosureWnd* Enclosure() {
    return App() ? App()->GetEnclosureWnd() : nullptr;
}

CExpertModeDlg* ExpertDlg() {
    return App() ? App()->GetExpertDlg() : nullptr;
}

// Sets the flag for the lifetime of the object.
class CBusy {
public:
    explicit CBusy(BOOL& bFlag) : m_bFlag(bFlag) { m_bFlag = TRUE; }
    ~CBusy() { m_bFlag = FALSE; }
    CBusy(const CBusy&) = delete;
    CBusy& operator=(const CBusy&) = delete;

private:
    BOOL& m_bFlag;
};
} // namespace

CExpertSystemSetting::CExpertSystemSetting() : CExpertPage(IDD) {}

CExpertSystemSetting::~CExpertSystemSetting() = default;

void CExpertSystemSetting::DoDataExchange(CDataExchange* pDX) {
    CExpertPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_LOG_LIST, m_list);
}

BOOL CExpertSystemSetting::ShowLogTipsCallback(LPVOID) {
    if (CExpertModeDlg* pExpert = ExpertDlg())
        pExpert->ShowLogTips();
    return TRUE;
}

BOOL CExpertSystemSetting::OnInitDialog() {
    CExpertPage::OnInitDialog();
    for (const auto& [nButton, nIcon] : kButtonIcons) {
        CWnd* pButton = GetDlgItem(static_cast<int>(nButton));
        HICON hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIcon));
        if (pButton && hIcon)
            pButton->SendMessage(BM_SETIMAGE, IMAGE_ICON, reinterpret_cast<LPARAM>(hIcon));
    }
    m_list.EnableTips(kIconError, kIconWarning, kIconInformation, kIconDebug, ShowLogTipsCallback, this);
    App()->GetSystemLog().AttachListCtrl(&m_list, IDS_TYPE, IDS_DATE, IDS_LOG, kIconError, kIconWarning,
                                         kIconInformation, kIconDebug, kTextError, kTextWarning, kTextInformation,
                                         kTextDebug);
    for (int i = 0; i < 3; ++i) {
        DWORD dwWidth = static_cast<DWORD>(kDefaultWidths[i]);
        ReadDword(kWidthValues[i], dwWidth);
        m_list.SetColumnWidth(i, static_cast<int>(dwWidth));
    }
    ReadOneTouchAction();
    if (CZentraManager* pManager = App()->GetZentraManager()) {
        pManager->RegisterWindow(this, 0);
        pManager->SetOwnerWindow(this);
        m_bRegistered = TRUE;
        const DWORD dwOpened = pManager->GetOpenedSecureDisks();
        for (int nIndex = 0; nIndex < 26; ++nIndex) {
            int nPublic = 0;
            if ((dwOpened & (1u << nIndex)) && pManager->GetPublicZentraIndex(nIndex, nPublic))
                if (CEnclosureWnd* pEnclosure = Enclosure())
                    pEnclosure->TurnOnSecureLed(nPublic, TRUE);
        }
    }
    return TRUE;
}

BOOL CExpertSystemSetting::DestroyWindow() {
    if (m_list.GetSafeHwnd()) {
        for (int i = 0; i < 3; ++i)
            WriteDword(kWidthValues[i], static_cast<DWORD>(m_list.GetColumnWidth(i)));
        WriteDword(u"LogListMask", static_cast<DWORD>(App()->GetSystemLog().GetTypeMask()));
        App()->GetSystemLog().DetachListCtrl();
    }
    if (CEnclosureWnd* pEnclosure = Enclosure()) {
        pEnclosure->TurnOnSecureLed(0, FALSE);
        pEnclosure->SetHandler(nullptr, nullptr);
    }
    if (m_bRegistered) {
        if (CZentraManager* pManager = App()->GetZentraManager()) {
            pManager->UnregisterWindow(this);
            pManager->ClearOwnerWindow();
        }
        m_bRegistered = FALSE;
    }
    return CExpertPage::DestroyWindow();
}

BOOL CExpertSystemSetting::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CExpertPage::PreTranslateMessage(pMsg);
}

void CExpertSystemSetting::ReadOneTouchAction() {
    m_dwOneTouch = COneTouchSettingDlg::ReadOneTouch();
    if (m_dwOneTouch != kOneTouchBackup && m_dwOneTouch != kOneTouchNothing)
        m_dwOneTouch = kOneTouchBackup;
}

void CExpertSystemSetting::OnSaveAs() {
    CBusy busy(m_bBusy);
    CFileDialog dialog(FALSE, u"log", nullptr, OFN_HIDEREADONLY, u"Log Files(*.log)|*.log||", this);
    if (dialog.DoModal() == IDOK)
        App()->ExportLog(dialog.GetPathName());
}

void CExpertSystemSetting::OnClearLogs() {
    if (AfxMessageBox(IDS_CLEAR_LOGS, MB_YESNO | MB_ICONQUESTION) == IDYES)
        App()->GetSystemLog().Clear();
}

void CExpertSystemSetting::OnOptions() {
    CBusy busy(m_bBusy);
    CLogFilterDlg dialog(this);
    dialog.SetViewMask(App()->GetSystemLog().GetTypeMask());
    dialog.DoModal();
    App()->GetSystemLog().SetTypeMask(dialog.GetViewMask(), TRUE);
    WriteDword(u"LogListMask", static_cast<DWORD>(dialog.GetViewMask()));
}

void CExpertSystemSetting::OnOneTouchSetting() {
    CBusy busy(m_bBusy);
    COneTouchSettingDlg dialog(this);
    if (dialog.DoModal() == IDOK)
        ReadOneTouchAction();
}

void CExpertSystemSetting::OnFilterSetting() {
    CBusy busy(m_bBusy);
    CSysFilterSettingDlg dialog(this);
    dialog.DoModal();
}

void CExpertSystemSetting::OnManageSecureDisk() {
    CBusy busy(m_bBusy);
    CManageSecureDiskDlg dialog(this);
    dialog.DoModal();
}

void CExpertSystemSetting::OnInitializeDisk() {
    CZentraManager* pManager = App()->GetZentraManager();
    if (!pManager || !pManager->HasDiskOnEnclosureBridge()) {
        AfxMessageBox(IDS_NO_ENCLOSURE, MB_OK | MB_ICONINFORMATION);
        return;
    }
    CConfigWizardDlg wizard(this, TRUE);
    CConfigDisk1 page1;
    CConfigDisk2 page2;
    CConfigDisk3 page3;
    CConfigDisk4 page4;
    CConfigDisk5 page5;
    wizard.AddPage(&page1, CConfigDisk1::IDD);
    wizard.AddPage(&page2, CConfigDisk2::IDD);
    wizard.AddPage(&page3, CConfigDisk3::IDD);
    wizard.AddPage(&page4, CConfigDisk4::IDD);
    wizard.AddPage(&page5, CConfigDisk5::IDD);
    CBusy busy(m_bBusy);
    if (CExpertModeDlg* pExpert = ExpertDlg())
        pExpert->ShowWindow(SW_HIDE);
    wizard.DoModal();
}

LRESULT CExpertSystemSetting::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    CZentraManager* pManager = App()->GetZentraManager();
    if (!pManager)
        return 0;
    switch (wParam) {
    case DRIVE_NOTIFY_QUERY_REMOVE_DISK:
        return pManager->IsEnclosureDisk(static_cast<int>(lParam)) ? 1 : 0;
    case DRIVE_NOTIFY_QUERY_REMOVE_VOLUME: {
        const int nIndex = static_cast<int>(lParam);
        return pManager->IsPublicZentra(nIndex) || pManager->IsSecureVolume(nIndex, TRUE) ? 1 : 0;
    }
    case DRIVE_NOTIFY_SECURE_OPENED:
    case DRIVE_NOTIFY_SECURE_CLOSED:
        if (CEnclosureWnd* pEnclosure = Enclosure())
            pEnclosure->TurnOnSecureLed(static_cast<int>(lParam), wParam == DRIVE_NOTIFY_SECURE_OPENED);
        return 0;
    default:
        return 0;
    }
}

void CExpertSystemSetting::OnLastStartupStep(BOOL) {
    RegisterOneTouchHandler();
}

void CExpertSystemSetting::RegisterOneTouchHandler() {
    if (CEnclosureWnd* pEnclosure = Enclosure())
        pEnclosure->SetHandler(OneTouchHandler, this);
}

void CExpertSystemSetting::OneTouchHandler(void* pUserData, WPARAM wParam, LPARAM lParam) {
    if (auto* pPage = static_cast<CExpertSystemSetting*>(pUserData))
        pPage->OnOneTouch(reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam));
}

LRESULT CExpertSystemSetting::OnOneTouchMessage(WPARAM wParam, LPARAM lParam) {
    OnOneTouch(reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam));
    return 0;
}

void CExpertSystemSetting::Reply(HWND hReply, UINT nReplyMsg) {
    if (hReply && nReplyMsg)
        ::PostMessageW(hReply, nReplyMsg, 0, 0);
}

void CExpertSystemSetting::OnOneTouch(HWND hReply, UINT nReplyMsg) {
    if (m_bOneTouchGuard) {
        // A press while the last one is still being handled is dropped; a start that waits for it goes on.
        Reply(hReply, nReplyMsg);
        return;
    }
    if (m_dwOneTouch == kOneTouchNothing) {
        {
            CBusy guard(m_bOneTouchGuard);
            if (AfxMessageBox(IDS_ONE_TOUCH_DISABLED, MB_OKCANCEL | MB_ICONQUESTION) == IDOK)
                OnOneTouchSetting();
        }
        if (m_dwOneTouch == kOneTouchNothing) {
            Reply(hReply, nReplyMsg);
            return;
        }
    }
    CBusy guard(m_bOneTouchGuard);
    BackupNow(hReply, nReplyMsg);
}

void CExpertSystemSetting::BackupNow(HWND hReply, UINT nReplyMsg) {
    CBrannicApp* pApp = App();
    auto* pMain = dynamic_cast<VyxMainDlg*>(pApp->GetMainDlg());
    if (CBackupWizard* pWizard = pMain ? pMain->GetBackupWizard() : nullptr) {
        pWizard->FinishNow();
        // Only a wizard that went on to its copy is a backup that started.
        const BOOL bStarted = !pWizard->GetSafeHwnd() || !pWizard->IsWindowVisible();
        pApp->LogId(bStarted ? IDS_ONE_TOUCH_STARTED : IDS_ONE_TOUCH_BAD_SETTINGS, KOVRA_SOURCE_FILE, __LINE__,
                    bStarted ? CXMLLog::typeInformation : CXMLLog::typeWarning);
        Reply(hReply, nReplyMsg);
        return;
    }
    CExpertModeDlg* pExpert = ExpertDlg();
    CExpertBackup* pBackup = pExpert ? pExpert->GetBackupPage() : nullptr;
    if (pBackup && pBackup->GetTree().HasCheckedItems() && pBackup->GetCombo().GetCurSel() != CB_ERR) {
        CBackManager* pManager = pApp->GetBackManager();
        if (auto* pProgress = dynamic_cast<CCopyProDlg*>(pManager ? pManager->GetProgressDlg() : nullptr)) {
            if (!pProgress->IsFinished()) {
                pApp->LogId(IDS_ONE_TOUCH_COPY_RUNNING, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
                Reply(hReply, nReplyMsg);
                return;
            }
            pProgress->EndDialog(1);
        }
        pApp->LogId(IDS_ONE_TOUCH_STARTED, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeInformation);
        pBackup->PostMessage(WM_START_EXPERT_BACKUP, reinterpret_cast<WPARAM>(hReply), static_cast<LPARAM>(nReplyMsg));
        return;
    }
    pApp->LogId(IDS_ONE_TOUCH_BAD_SETTINGS, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
    CString strMessage;
    strMessage.Format(LoadText(IDS_PLEASE_SELECT), static_cast<LPCTSTR>(LoadText(IDS_BACKUP_SOURCE)));
    ::MessageBoxW(GetSafeHwnd(), strMessage, LoadText(IDS_INSTANT_BACKUP), MB_OK | MB_ICONQUESTION);
    CBackupWizard::RunInstantBackup(this, 1, nullptr);
    if (pExpert)
        pExpert->ReloadBackupSelection();
    Reply(hReply, nReplyMsg);
}
