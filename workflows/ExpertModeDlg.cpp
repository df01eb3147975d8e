#include "workflows/ExpertModeDlg.h"

#include "app/AboutDlg.h"
#include "app/BrannicApp.h"
#include "app/LogTipsDlg.h"
#include "app/LogViewDlg.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/ItemIDList.h"
#include "engine/ShellTreeCtrl.h"
#include "storage/AutoMountSecureDlg.h"
#include "storage/SecureSetting.h"
#include "storage/SelectNasDlg.h"
#include "storage/SysManMountDlg.h"
#include "storage/ZentraManager.h"
#include "storage/ZentraObj.h"
#include "workflows/BackupWizard.h"
#include "workflows/ExpertBackup.h"
#include "workflows/ExpertMonitor.h"
#include "workflows/ExpertRestore.h"
#include "workflows/ExpertSchedule.h"
#include "workflows/ExpertSystemSetting.h"

#include "platform/afx/DataExchange.h"
#include "platform/afx/FileDialog.h"
#include "platform/afx/ModuleState.h"
#include "platform/gdi/wingdi.h"
#include "platform/base/module.h"
#include "platform/registry/registry.h"
#include "platform/shell/changenotify.h"
#include "platform/system/sysinfo.h"
#include "platform/ui/menu.h"
#include "platform/ui/msgbox.h"

IMPLEMENT_DYNAMIC(CExpertModeDlg, CDialog)

namespace {

constexpr UINT_PTR kStartupTimer = 900;
constexpr UINT WM_SHELL_CHANGE = WM_USER + 317;
constexpr UINT WM_SHOW_CURRENT_DIALOG = WM_USER + 318;
constexpr UINT WM_DISK_STEP_DONE = WM_USER + 319;
constexpr UINT WM_LAST_STARTUP_STEP = WM_USER + 320;
constexpr UINT WM_PAGE_JOB_ENDED = WM_USER + 3112;
constexpr UINT WM_OPEN_SECURE_DISK = WM_USER + 3113;
constexpr UINT WM_REFRESH_RESTORE_SOURCES = WM_USER + 3114;
constexpr UINT WM_DEST_SPACE_CHANGED = WM_USER + 3115;
constexpr UINT WM_QUERY_ENCLOSURE = WM_USER + 3116;
constexpr int IDC_MAIN_MENU = 906;
constexpr int IDC_CLOSE = 907;
constexpr int IDC_TAB = 908;
constexpr int IDC_BACKGROUND = 909;
constexpr int IDC_LOAD_LOG = 910;
constexpr int IDC_MOUNT_NAS = 911;
constexpr UINT IDI_KOVRA = 100;
constexpr UINT IDB_BACKGROUND = 608;
constexpr UINT IDM_ABOUTBOX = 16;
constexpr UINT IDS_ABOUTBOX = 2305;
constexpr UINT IDS_CONFIRM_EXIT = 5021;
constexpr UINT IDS_KOVRA = 2304;
constexpr UINT IDS_PUBLIC_DISK_LABEL = 1550;
constexpr UINT IDS_SECURE_DISK_LABEL = 1551;
constexpr UINT IDS_SECURE_DISK_FOUND = 5003;
constexpr UINT IDS_FIND_SECURE_DISK = 5005;
constexpr LPCTSTR kDriveIconsKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";
constexpr LPCTSTR kLogFilter = u"Kovra selection files (*.log)|*.log|All files (*.*)|*.*||";
constexpr const char16_t* kBackgroundFile = u"bg_expert.bmp";
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;
// Where a page stands in the dialog, in pixels: below the tabs.
constexpr int kPageLeft = 1;
constexpr int kPageTop = 98;

template <class TPage> std::unique_ptr<CExpertPage> NewPage() {
    return std::make_unique<TPage>();
}

// A tab of the dialog: its text, its page's template, its image and how its page is made.
struct ExpertTab {
    UINT nTextId;
    UINT nDialogId;
    UINT nIconId;
    std::unique_ptr<CExpertPage> (*pfnNewPage)();
};

// The page list, in the tabs' visible order. A page joins by naming its class here (NewPage<CExpertFoo>); a tab
// without one stays empty.
const ExpertTab kTabs[CExpertModeDlg::kPageCount] = {
    {903, 1200, 519, NewPage<CExpertMonitor>}, // "Auto-Backup"
    {905, 1301, 520, NewPage<CExpertSchedule>}, // "Schedule Backup"
    {901, 1000, 521, NewPage<CExpertBackup>}, // "Instant Backup"
    {902, 1100, 522, NewPage<CExpertRestore>}, // "Instant Restore"
    {904, 1400, 518, NewPage<CExpertSystemSetting>}, // "System"
};

// The order in which the pages are built; each tab goes in front of those before it.
constexpr int kBuildOrder[] = {CExpertModeDlg::kSystemTab, CExpertModeDlg::kInstantRestoreTab,
                               CExpertModeDlg::kInstantBackupTab, CExpertModeDlg::kScheduleTab,
                               CExpertModeDlg::kAutoBackupTab};
// The order in which they are destroyed.
constexpr int kDestroyOrder[] = {CExpertModeDlg::kInstantRestoreTab, CExpertModeDlg::kInstantBackupTab,
                                 CExpertModeDlg::kAutoBackupTab, CExpertModeDlg::kScheduleTab,
                                 CExpertModeDlg::kSystemTab};

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

void LogText(const CString& strText, int nType) {
    App()->Log(strText, KOVRA_SOURCE_FILE, 0, nType);
}

// The default value of a key under HKEY_LOCAL_MACHINE; empty when there is none.
CString ReadDefaultValue(const CString& strKey) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, strKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return CString();
    WCHAR value[2048 + 16] = {};
    DWORD dwType = 0;
    DWORD dwSize = sizeof value - sizeof(WCHAR);
    const LONG result = RegQueryValueExW(hKey, nullptr, nullptr, &dwType, reinterpret_cast<BYTE*>(value), &dwSize);
    RegCloseKey(hKey);
    if (result != ERROR_SUCCESS || (dwType != REG_SZ && dwType != REG_EXPAND_SZ))
        return CString();
    return CString(value);
}

// Writes a key's default value under HKEY_LOCAL_MACHINE, the key created when missing; the registry's answer.
LONG WriteDefaultValue(const CString& strKey, const CString& strValue) {
    HKEY hKey = nullptr;
    LONG result =
        RegCreateKeyExW(HKEY_LOCAL_MACHINE, strKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &hKey,
                        nullptr);
    if (result != ERROR_SUCCESS)
        return result;
    result = RegSetValueExW(hKey, nullptr, 0, REG_SZ, reinterpret_cast<const BYTE*>(strValue.GetString()),
                            static_cast<DWORD>((strValue.GetLength() + 1) * sizeof(WCHAR)));
    RegCloseKey(hKey);
    return result;
}

} // namespace

BEGIN_MESSAGE_MAP(CExpertModeDlg, CDialog)
ON_WM_TIMER()
ON_WM_SYSCOMMAND()
ON_WM_SHOWWINDOW()
ON_WM_ENDSESSION()
ON_WM_DESTROY()
ON_WM_HELPINFO()
ON_BN_CLICKED(IDC_CLOSE, OnClose)
ON_BN_CLICKED(IDC_MAIN_MENU, OnMainMenu)
ON_BN_CLICKED(IDC_LOAD_LOG, OnLoadLog)
ON_BN_CLICKED(IDC_MOUNT_NAS, OnMountNasShare)
ON_NOTIFY(TCN_SELCHANGING, IDC_TAB, OnTabChanging)
ON_NOTIFY(TCN_SELCHANGE, IDC_TAB, OnTabChange)
ON_MESSAGE(WM_SHOW_CURRENT_DIALOG, OnShowCurrentDialog)
ON_MESSAGE(WM_DISK_STEP_DONE, OnDiskStepDone)
ON_MESSAGE(WM_LAST_STARTUP_STEP, OnLastStartupStep)
ON_MESSAGE(WM_PAGE_JOB_ENDED, OnPageJobEnded)
ON_MESSAGE(WM_REFRESH_RESTORE_SOURCES, OnRefreshRestoreSources)
ON_MESSAGE(WM_QUERY_ENCLOSURE, OnQueryEnclosure)
ON_MESSAGE(WM_OPEN_SECURE_DISK, OnOpenSecureDisk)
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
ON_MESSAGE(WM_SHELL_CHANGE, OnShellNotify)
END_MESSAGE_MAP()

CExpertModeDlg::CExpertModeDlg() : CDialog(IDD, nullptr) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_KOVRA));
}

CExpertModeDlg::~CExpertModeDlg() {
    // The pages are child windows; a dialog destroyed without its WM_DESTROY still must not leave them behind.
    for (auto& pPage : m_apPages)
        if (pPage && pPage->GetSafeHwnd())
            pPage->DestroyWindow();
    if (m_hShell32)
        ::FreeLibrary(m_hShell32);
}

BOOL CExpertModeDlg::Create() {
    return CDialog::Create(IDD, nullptr);
}

void CExpertModeDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_TAB, m_tab);
}

BOOL CExpertModeDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    CString strAbout;
    strAbout.LoadString(IDS_ABOUTBOX);
    if (!strAbout.IsEmpty()) {
        if (HMENU hSysMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
            ::AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAbout);
        }
    }
    if (m_hIcon) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    }
    // The banner comes from the program's folder, never from wherever the program was started.
    if (m_picture.ReplaceStatic(GetDlgItem(IDC_BACKGROUND))) {
        CString strFolder;
        BOOL bLoaded = FALSE;
        if (GetExeFolder(strFolder))
            bLoaded = m_picture.LoadBitmapFile(strFolder + kBackgroundFile);
        if (!bLoaded)
            m_picture.LoadBitmap(IDB_BACKGROUND);
    }
    // The template keeps "Mount NAS Share" hidden; a network share can only become a backup destination through
    // it, so it is shown.
    if (CWnd* pMountNas = GetDlgItem(IDC_MOUNT_NAS))
        pMountNas->ShowWindow(SW_SHOW);
    m_dwVersion = ::GetVersion();
    m_dwMajorVersion = LOBYTE(LOWORD(m_dwVersion));
    m_dwMinorVersion = HIBYTE(LOWORD(m_dwVersion));
    SetTimer(kStartupTimer, 0, nullptr);
    return TRUE;
}

void CExpertModeDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent != kStartupTimer) {
        Default();
        return;
    }
    KillTimer(kStartupTimer);
    InitPages();
    CString strFilter;
    App()->GetFilter(strFilter);
    ApplyFilter(strFilter, TRUE);
    m_bInitialized = TRUE;
}

void CExpertModeDlg::InitPages() {
    if (CZentraManager* pManager = App()->GetZentraManager())
        pManager->RegisterWindow(this, 0);
    m_bStartup = TRUE;
    if (!m_bInitialized && !m_imageList.GetSafeHandle()) {
        m_imageList.Create(16, 16, ILC_COLOR32, 0, 1);
        for (UINT nIcon : {519u, 520u, 521u, 522u, 518u})
            m_imageList.Add(::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(nIcon)));
        m_tab.SetImageList(&m_imageList);
    }
    // Windows 2000 showed no pictures on the tabs.
    const BOOL bImages = !(m_dwMajorVersion == 5 && m_dwMinorVersion == 0);
    const BOOL bNewTabs = m_tab.GetItemCount() == 0;
    for (int nTab : kBuildOrder) {
        const ExpertTab& tab = kTabs[nTab];
        std::unique_ptr<CExpertPage>& pPage = m_apPages[nTab];
        if (!pPage)
            pPage = NewPage(nTab);
        if (pPage && !pPage->GetSafeHwnd()) {
            if (pPage->CreatePage(this)) {
                pPage->SetWindowPos(nullptr, kPageLeft, kPageTop, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
                pPage->ModifyStyle(WS_BORDER, 0);
                pPage->ShowWindow(SW_HIDE);
            } else {
                pPage.reset();
            }
        }
        if (bNewTabs) {
            CString strText;
            strText.LoadString(tab.nTextId);
            m_tab.InsertItem(TCIF_TEXT | TCIF_PARAM | (bImages ? TCIF_IMAGE : 0), 0, strText, nTab,
                             reinterpret_cast<LPARAM>(pPage.get()));
        }
    }
    // The shell's changes below My Computer reach the pages.
    {
        const CItemIDList drives(0x0011 /* CSIDL_DRIVES */, nullptr);
        RegisterShellNotify(TRUE, drives.IsValid() ? drives.Get() : nullptr);
    }
    // The System page first; then the tab the user had last.
    m_tab.SetCurSel(kSystemTab);
    for (int nTab = 0; nTab < kPageCount; ++nTab)
        if (CExpertPage* pPage = PageOfTab(nTab))
            pPage->ShowWindow(nTab == kSystemTab ? SW_SHOW : SW_HIDE);
    m_nPreviousTab = kSystemTab;

    HKEY hKey = nullptr;
    DWORD dwPage = 0;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey(u"Expert"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_QUERY_VALUE, nullptr, &hKey, nullptr) == ERROR_SUCCESS) {
        DWORD dwType = 0;
        DWORD dwSize = sizeof dwPage;
        if (RegQueryValueExW(hKey, u"CurPage", nullptr, &dwType, reinterpret_cast<BYTE*>(&dwPage), &dwSize) !=
                ERROR_SUCCESS ||
            dwType != REG_DWORD)
            dwPage = 0;
        RegCloseKey(hKey);
    }
    const int nStored = static_cast<int>(dwPage);
    const int nCurrent = m_tab.GetCurSel();
    if (nStored != nCurrent && nStored >= 0 && nStored < m_tab.GetItemCount() && nCurrent >= 0) {
        if (CExpertPage* pPage = PageOfTab(nCurrent))
            pPage->ShowWindow(SW_HIDE);
        m_tab.SetCurSel(nStored);
        if (CExpertPage* pPage = PageOfTab(nStored))
            pPage->ShowWindow(SW_SHOW);
        m_nPreviousTab = nStored;
    }
    if (m_bInitialized)
        ScanSecureDrives(FALSE);
}

void CExpertModeDlg::DestroyPages() {
    RegisterShellNotify(FALSE, nullptr);
    if (m_tab.GetSafeHwnd()) {
        HKEY hKey = nullptr;
        if (RegCreateKeyExW(HKEY_CURRENT_USER, SettingsKey(u"Expert"), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_SET_VALUE, nullptr, &hKey, nullptr) == ERROR_SUCCESS) {
            const DWORD dwPage = static_cast<DWORD>(m_tab.GetCurSel());
            RegSetValueExW(hKey, u"CurPage", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&dwPage), sizeof dwPage);
            RegCloseKey(hKey);
        }
    }
    for (int nTab : kDestroyOrder) {
        std::unique_ptr<CExpertPage>& pPage = m_apPages[nTab];
        if (pPage && pPage->GetSafeHwnd())
            pPage->DestroyWindow();
        pPage.reset();
    }
    if (m_tab.GetSafeHwnd())
        m_tab.DeleteAllItems();
    if (CZentraManager* pManager = App()->GetZentraManager())
        pManager->UnregisterWindow(this);
}

std::unique_ptr<CExpertPage> CExpertModeDlg::NewPage(int nTab) {
    if (nTab < 0 || nTab >= kPageCount || !kTabs[nTab].pfnNewPage)
        return nullptr;
    return kTabs[nTab].pfnNewPage();
}

CExpertPage* CExpertModeDlg::PageOfTab(int nTab) const {
    if (!m_tab.GetSafeHwnd() || nTab < 0)
        return nullptr;
    TCITEMW item{};
    item.mask = TCIF_PARAM;
    if (!m_tab.GetItem(nTab, &item))
        return nullptr;
    return reinterpret_cast<CExpertPage*>(item.lParam);
}

CExpertPage* CExpertModeDlg::GetPage(int nTab) const {
    if (nTab < 0 || nTab >= kPageCount)
        return nullptr;
    return m_apPages[static_cast<size_t>(nTab)].get();
}

int CExpertModeDlg::GetCurrentTab() const {
    return m_tab.GetSafeHwnd() ? m_tab.GetCurSel() : -1;
}

void CExpertModeDlg::OnTabChanging(NMHDR*, LRESULT* pResult) {
    m_nPreviousTab = m_tab.GetCurSel();
    *pResult = 0;
}

void CExpertModeDlg::OnTabChange(NMHDR*, LRESULT* pResult) {
    *pResult = 0;
    const int nTab = m_tab.GetCurSel();
    if (nTab < 0 || nTab >= m_tab.GetItemCount()) {
        m_tab.SetCurSel(m_nPreviousTab);
        return;
    }
    if (CExpertPage* pPage = PageOfTab(m_nPreviousTab))
        pPage->ShowWindow(SW_HIDE);
    if (CExpertPage* pPage = PageOfTab(nTab))
        pPage->ShowWindow(SW_SHOW);
}

void CExpertModeDlg::ShowPage(int nTab) {
    if (!m_tab.GetSafeHwnd() || nTab < 0 || nTab >= m_tab.GetItemCount())
        return;
    m_tab.SetCurSel(nTab);
    for (const auto& pPage : m_apPages)
        if (pPage && pPage->GetSafeHwnd())
            pPage->ShowWindow(SW_HIDE);
    if (CExpertPage* pPage = PageOfTab(nTab))
        pPage->ShowWindow(SW_SHOW);
    m_nPreviousTab = nTab;
}

void CExpertModeDlg::ScanSecureDrives(BOOL bQuiet) {
    const BOOL bPreviousQuiet = m_bQuiet;
    m_bQuiet = bQuiet;
    // Every enclosure disk present gets its start-up step (the secure disk on it is opened); the start-up goes on
    // once each has reported.
    CZentraManager* pManager = App()->GetZentraManager();
    m_dwPendingDisks = 0;
    if (pManager) {
        const DWORD dwDisks = pManager->GetPhysicalDrivesBitmap();
        for (int nDisk = 0; nDisk < 32; ++nDisk) {
            if (!(dwDisks & (1u << nDisk)) || !pManager->IsEnclosureDisk(nDisk))
                continue;
            m_dwPendingDisks |= 1u << nDisk;
            OnDriveNotify(DRIVE_NOTIFY_DISK_ADDED, nDisk);
        }
    }
    if (m_dwPendingDisks == 0)
        PostMessage(WM_DISK_STEP_DONE, 0, 0);
    // Explorer's pictures for the secure and public disks present.
    if (pManager) {
        const DWORD dwLetters = pManager->GetLogicalDrivesBitmap();
        for (int nLetter = 0; nLetter < DRIVE_MONITOR_LETTERS; ++nLetter)
            if (dwLetters & (1u << nLetter))
                OnDriveNotify(DRIVE_NOTIFY_VOLUME_ADDED, nLetter);
    }
    m_bQuiet = bPreviousQuiet;
}

LRESULT CExpertModeDlg::OnOpenSecureDisk(WPARAM, LPARAM lParam) {
    const int nDisk = static_cast<int>(lParam);
    CZentraManager* pManager = App()->GetZentraManager();
    if (pManager && pManager->CanOpenSecurePartition(nDisk)) {
        CString strPassword;
        if (GetSecureSetting(&strPassword)) {
            // The remembered password opens it without a question.
            CAutoMountSecureDlg dlg(this);
            dlg.m_dwDiskNumber = static_cast<DWORD>(nDisk);
            dlg.m_strPassword = strPassword;
            dlg.DoModal();
        } else {
            CWnd* pMain = App()->GetMainWnd();
            CWnd* pOwner = pMain && App()->GetCurrentDialog() == pMain ? pMain : this;
            CString strText, strCaption;
            strText.LoadString(IDS_SECURE_DISK_FOUND);
            strCaption.LoadString(IDS_FIND_SECURE_DISK);
            if (::MessageBoxW(pOwner->GetSafeHwnd(), strText, strCaption, MB_YESNO | MB_ICONQUESTION) == IDYES) {
                CSysManMountDlg dlg(pOwner);
                dlg.DoModal();
            }
        }
    }
    if (m_bStartup)
        PostMessage(WM_DISK_STEP_DONE, 0, lParam);
    return 0;
}

LRESULT CExpertModeDlg::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    CZentraManager* pManager = App()->GetZentraManager();
    if (!pManager)
        return 0;
    const int nIndex = static_cast<int>(lParam);
    const TCHAR cLetter = static_cast<TCHAR>(u'A' + nIndex);
    switch (wParam) {
    case DRIVE_NOTIFY_DISK_ADDED:
        if (pManager->IsEnclosureDisk(nIndex)) {
            PostMessage(WM_OPEN_SECURE_DISK, 0, lParam);
            PostMessage(WM_SHOW_CURRENT_DIALOG, m_bQuiet ? 0 : 1, 0);
        }
        break;
    case DRIVE_NOTIFY_VOLUME_ADDED:
        if (nIndex < 0 || nIndex >= DRIVE_MONITOR_LETTERS)
            break;
        if (pManager->IsSecureVolume(nIndex, TRUE))
            SetExplorerDriveIcon(cLetter, TRUE, FALSE);
        else if (pManager->IsPublicZentra(nIndex))
            SetExplorerDriveIcon(cLetter, TRUE, TRUE);
        break;
    case DRIVE_NOTIFY_DISK_REMOVED: {
        // Every secure disk opened on the medium that went is closed, not only the first.
        for (int nLetter = 0; nLetter < DRIVE_MONITOR_LETTERS; ++nLetter) {
            CZentraObj* pObject = pManager->GetZentraObj(nLetter);
            if (pObject && pObject->IsOnPhysicalDisk(static_cast<DWORD>(nIndex)))
                pManager->CloseSecureDiskByIndex(nLetter);
        }
        CBackManager* pBackManager = App()->GetBackManager();
        if (pManager->IsEnclosureDisk(nIndex) && !(pBackManager && pBackManager->HasProgressDlg()))
            PostMessage(WM_SHOW_CURRENT_DIALOG, 0, 0);
        break;
    }
    case DRIVE_NOTIFY_VOLUME_REMOVED:
        if (nIndex >= 0 && nIndex < DRIVE_MONITOR_LETTERS)
            SetExplorerDriveIcon(cLetter, FALSE, FALSE);
        break;
    default:
        break;
    }
    return 0;
}

BOOL CExpertModeDlg::SetExplorerDriveIcon(TCHAR cLetter, BOOL bSet, BOOL bPublic) {
    const CString strLetterKey = CString(kDriveIconsKey) + u'\\' + cLetter;
    const CString strIconKey = strLetterKey + u"\\DefaultIcon";
    const CString strLabelKey = strLetterKey + u"\\DefaultLabel";
    WCHAR modulePath[2048 + 1] = {};
    ::GetModuleFileNameW(nullptr, modulePath, 2048);
    CString strPublic, strSecure;
    strPublic.LoadString(IDS_PUBLIC_DISK_LABEL);
    strSecure.LoadString(IDS_SECURE_DISK_LABEL);
    auto refused = [cLetter](LPCTSTR lpszWhat, LONG result) {
        CString strText;
        strText.Format(u"%s, %d: Explorer's %s of drive %c: cannot be changed (error %d).", KOVRA_SOURCE_FILE,
                       __LINE__, lpszWhat, cLetter, static_cast<int>(result));
        LogText(strText, CXMLLog::typeWarning);
        return FALSE;
    };
    if (bSet) {
        const CString strIcon = CString(modulePath) + (bPublic ? u",2" : u",1");
        if (const LONG result = WriteDefaultValue(strIconKey, strIcon); result != ERROR_SUCCESS)
            return refused(u"icon", result);
        if (const LONG result = WriteDefaultValue(strLabelKey, bPublic ? strPublic : strSecure);
            result != ERROR_SUCCESS)
            return refused(u"label", result);
        return TRUE;
    }
    // Only the program's own entries go: another program's picture for the letter stays.
    BOOL bDone = TRUE;
    const CString strIcon = ReadDefaultValue(strIconKey);
    if (!strIcon.IsEmpty() && modulePath[0] && strIcon.Find(modulePath) == 0)
        if (const LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, strIconKey);
            result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            bDone = refused(u"icon", result);
    const CString strLabel = ReadDefaultValue(strLabelKey);
    if (!strLabel.IsEmpty() && (strLabel == strPublic || strLabel == strSecure))
        if (const LONG result = RegDeleteKeyW(HKEY_LOCAL_MACHINE, strLabelKey);
            result != ERROR_SUCCESS && result != ERROR_FILE_NOT_FOUND)
            bDone = refused(u"label", result);
    // The letter's key goes with its last entry (a key that still holds another's is refused and stays).
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, strLetterKey);
    return bDone;
}

BOOL CExpertModeDlg::RegisterShellNotify(BOOL bRegister, LPCITEMIDLIST pidl) {
    using RegisterFn = ULONG (*)(HWND, int, LONG, UINT, int, const SHChangeNotifyEntry*);
    using DeregisterFn = BOOL (*)(ULONG);
    auto failed = [](int nLine, LPCTSTR lpszFormat) {
        CString strText;
        strText.Format(lpszFormat, KOVRA_SOURCE_FILE, nLine);
        App()->Log(strText, KOVRA_SOURCE_FILE, nLine, CXMLLog::typeDebug);
        return FALSE;
    };
    if (!m_hShell32)
        m_hShell32 = ::LoadLibraryW(u"SHELL32.DLL");
    if (!m_hShell32)
        return failed(__LINE__, u"%s, %d: Load shell32.dll failed.");
    if (m_nShellNotifyId) {
        auto deregister = reinterpret_cast<DeregisterFn>(::GetProcAddress(m_hShell32, reinterpret_cast<LPCSTR>(4)));
        if (!deregister)
            return failed(__LINE__, u"%s, %d: Find SHChangeNotifyDeregister failed.");
        const ULONG nId = m_nShellNotifyId;
        m_nShellNotifyId = 0;
        if (!deregister(nId))
            return failed(__LINE__, u"%s, %d: Run SHChangeNotifyDeregister failed.");
    }
    if (!bRegister)
        return TRUE;
    auto registerFn = reinterpret_cast<RegisterFn>(::GetProcAddress(m_hShell32, reinterpret_cast<LPCSTR>(2)));
    if (!registerFn)
        return failed(__LINE__, u"%s, %d: Find SHChangeNotifyRegister failed.");
    if (!pidl)
        return failed(__LINE__, u"%s, %d: Get desktop pidl failed.");
    const SHChangeNotifyEntry entry{pidl, TRUE};
    m_nShellNotifyId = registerFn(m_hWnd, SHCNRF_InterruptLevel | SHCNRF_ShellLevel | SHCNRF_RecursiveInterrupt,
                                  SHCNE_ALLEVENTS, WM_SHELL_CHANGE, 1, &entry);
    if (!m_nShellNotifyId)
        return failed(__LINE__, u"%s, %d: Run SHChangeNotifyRegister failed.");
    return TRUE;
}

LRESULT CExpertModeDlg::OnShellNotify(WPARAM wParam, LPARAM lParam) {
    auto* pair = reinterpret_cast<LPITEMIDLIST*>(wParam);
    if (!pair)
        return 0;
    const CItemIDList first(pair[0]);
    if (first.GetPath().IsEmpty())
        return 0;
    const LONG lEvent = static_cast<LONG>(lParam);
    // The source trees first, then their pages; the restore page and an open wizard look for themselves.
    for (int nTab : {kInstantBackupTab, kScheduleTab, kAutoBackupTab}) {
        if (CExpertPage* pPage = GetPage(nTab)) {
            if (CShellTreeCtrl* pTree = pPage->GetSourceTree())
                pTree->ProcessShellNotify(lEvent, pair[0], pair[1]);
            pPage->OnShellNotify(lEvent, pair[0], pair[1]);
        }
    }
    if (CExpertPage* pRestore = GetPage(kInstantRestoreTab))
        pRestore->OnShellNotify(lEvent, pair[0], pair[1]);
    if (auto* pWizard = dynamic_cast<CBackupWizard*>(m_pActiveWizard))
        pWizard->OnShellNotify(lEvent, pair[0], pair[1]);
    return 0;
}

void CExpertModeDlg::OnMountNasShare() {
    // The connected drive letter is the whole result: nothing is read back.
    CSelectNasDlg dlg(this);
    dlg.DoModal();
}

void CExpertModeDlg::OnLoadLog() {
    CFileDialog dlg(TRUE, u"log", u"*.log", OFN_FILEMUSTEXIST | OFN_HIDEREADONLY, kLogFilter, this);
    if (dlg.DoModal() != IDOK)
        return;
    CLogViewDlg viewer(this);
    viewer.SetLogPath(dlg.GetPathName());
    viewer.DoModal();
}

LRESULT CExpertModeDlg::OnDiskStepDone(WPARAM, LPARAM lParam) {
    m_dwPendingDisks &= ~(1u << (static_cast<DWORD>(lParam) & 31));
    if (m_dwPendingDisks)
        return 0;
    m_bStartup = FALSE;
    // An "otb" start runs the one-touch action once, through the System page, which answers with the last step;
    // without it the start-up ends here.
    LPTSTR lpszCommandLine = App()->m_lpCmdLine;
    CExpertPage* pSystem = GetPage(kSystemTab);
    if (lpszCommandLine && pSystem && CBrannicApp::ConsumeSwitch(lpszCommandLine, u"otb")) {
        pSystem->SendMessage(WM_USER + 1499, reinterpret_cast<WPARAM>(m_hWnd), WM_LAST_STARTUP_STEP);
        return 0;
    }
    SendMessage(WM_LAST_STARTUP_STEP, 1, 0);
    return 0;
}

LRESULT CExpertModeDlg::OnLastStartupStep(WPARAM wParam, LPARAM) {
    // The System page takes the later one-touch presses; Auto-Backup starts again.
    if (CExpertPage* pSystem = GetPage(kSystemTab))
        pSystem->OnLastStartupStep(wParam != 0);
    if (CExpertPage* pMonitor = GetPage(kAutoBackupTab))
        pMonitor->OnLastStartupStep(wParam != 0);
    return 0;
}

BOOL CExpertModeDlg::IsBusy() const {
    for (int nTab : {kInstantBackupTab, kInstantRestoreTab, kAutoBackupTab, kScheduleTab, kSystemTab})
        if (CExpertPage* pPage = GetPage(nTab); pPage && pPage->IsBusy())
            return TRUE;
    return FALSE;
}

BOOL CExpertModeDlg::EndProgressDialog() {
    // A copy-progress dialog still open (a run's summary waiting for Finish, or a run still copying) ends with the
    // program: the main loop cannot end while that dialog's own loop runs, and no one may be there to close it. A
    // finished run's dialog closes as Finish would; a running job is cancelled as at the end of the session, and its
    // dialog closes once the job has ended.
    CBackManager* pManager = CBackManager::Get();
    auto* pProgress = pManager ? dynamic_cast<CCopyProDlg*>(pManager->GetProgressDlg()) : nullptr;
    if (!pProgress || !::IsWindow(pProgress->GetSafeHwnd()))
        return FALSE;
    if (pProgress->IsFinished())
        pProgress->Close(IDOK);
    else
        pProgress->SendMessage(WM_ENDSESSION, TRUE, 0);
    return TRUE;
}

BOOL CExpertModeDlg::ConfirmExit() {
    CExpertPage* pSchedule = GetPage(kScheduleTab);
    CExpertPage* pMonitor = GetPage(kAutoBackupTab);
    if ((pSchedule && pSchedule->IsRunning()) || (pMonitor && pMonitor->IsRunning())) {
        CString strText, strCaption;
        strText.LoadString(IDS_CONFIRM_EXIT);
        strCaption.LoadString(IDS_KOVRA);
        if (::MessageBoxW(m_hWnd, strText, strCaption, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
            return FALSE;
    }
    EndProgressDialog();
    // The counts stop; each reports its end (WM_USER+3112).
    m_dwPendingStops = 0;
    if (CExpertPage* pBackup = GetPage(kInstantBackupTab); pBackup && pBackup->IsCounting()) {
        pBackup->StopCount(FALSE);
        m_dwPendingStops |= 1;
    }
    if (CExpertPage* pRestore = GetPage(kInstantRestoreTab); pRestore && pRestore->IsCounting()) {
        pRestore->StopCount(FALSE);
        m_dwPendingStops |= 2;
    }
    return TRUE;
}

LRESULT CExpertModeDlg::OnPageJobEnded(WPARAM wParam, LPARAM) {
    if (m_dwPendingStops == 0)
        return 0;
    if (wParam == 1000)
        m_dwPendingStops &= ~1u;
    else if (wParam == 1100)
        m_dwPendingStops &= ~2u;
    // The last count has stopped: the exit the user asked for goes on (once the main menu dialog exists).
    if (m_dwPendingStops == 0)
        if (CDialog* pMain = dynamic_cast<CDialog*>(App()->GetMainWnd()); pMain && pMain->GetSafeHwnd())
            pMain->EndDialog(1);
    return 0;
}

void CExpertModeDlg::StopRunningJobs() {
    for (int nTab : kDestroyOrder)
        if (CExpertPage* pPage = GetPage(nTab))
            pPage->StopRunningJobs();
}

int CExpertModeDlg::OnIdle(LONG) {
    if (CExpertPage* pMonitor = GetPage(kAutoBackupTab))
        pMonitor->OnIdle();
    return 1;
}

void CExpertModeDlg::ReloadBackupSelection() {
    if (CExpertBackup* pBackup = GetBackupPage())
        pBackup->ReloadSelection();
}

void CExpertModeDlg::NotifyDestSpaceChanged(int nLetterIndex) {
    for (int nTab : {kInstantBackupTab, kAutoBackupTab, kScheduleTab})
        if (CExpertPage* pPage = GetPage(nTab); pPage && pPage->GetSafeHwnd())
            pPage->PostMessage(WM_DEST_SPACE_CHANGED, static_cast<WPARAM>(nLetterIndex), 0);
}

void CExpertModeDlg::ApplyFilter(LPCTSTR lpszFilter, BOOL bReload) {
    for (int nTab : {kInstantBackupTab, kAutoBackupTab, kScheduleTab, kInstantRestoreTab})
        if (CExpertPage* pPage = GetPage(nTab))
            if (CShellTreeCtrl* pTree = pPage->GetSourceTree())
                pTree->SetFilter(lpszFilter);
    if (!bReload)
        return;
    for (int nTab : {kInstantBackupTab, kAutoBackupTab, kScheduleTab, kInstantRestoreTab})
        if (CExpertPage* pPage = GetPage(nTab))
            if (CShellTreeCtrl* pTree = pPage->GetSourceTree())
                pTree->Reload(TRUE);
}

LRESULT CExpertModeDlg::OnRefreshRestoreSources(WPARAM, LPARAM lParam) {
    if (CExpertPage* pRestore = GetPage(kInstantRestoreTab))
        pRestore->OnRefreshSources(lParam);
    return 0;
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
    // Enter never ends the hub; Escape hides it as Close does, so that the program goes on in the tray.
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_RETURN)
        return TRUE;
    if (pMsg->message == WM_KEYDOWN && pMsg->wParam == VK_ESCAPE) {
        SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
        return TRUE;
    }
    return CDialog::PreTranslateMessage(pMsg);
}

void CExpertModeDlg::OnOK() {}

void CExpertModeDlg::OnCancel() {
    // Closing the window hides it; the program goes on in the tray.
    SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void CExpertModeDlg::OnSysCommand(UINT nID, LPARAM) {
    switch (nID & 0xFFF0) {
    case IDM_ABOUTBOX: {
        CAboutDlg about(this);
        about.DoModal();
        return;
    }
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

BOOL CExpertModeDlg::OnHelpInfo(HELPINFO*) {
    CExpertPage* pPage = PageOfTab(GetCurrentTab());
    UINT nTopic = 0;
    for (const ExpertTab& tab : kTabs)
        if (pPage && pPage->m_nIDTemplate == tab.nDialogId)
            nTopic = tab.nDialogId;
    ShowHelpTopic(nTopic);
    return TRUE;
}

void CExpertModeDlg::OnDestroy() {
    DestroyPages();
    Default();
}

void CExpertModeDlg::OnShowWindow(BOOL bShow, UINT) {
    if (bShow) {
        App()->SetCurrentDialog(this);
        SetFocus();
    }
    Default();
}

void CExpertModeDlg::OnEndSession(BOOL bEnding) {
    if (!bEnding) {
        Default();
        return;
    }
    // A copy-progress dialog's loop runs inside a handler of one of the pages: that dialog is ended, and this one
    // with its pages is destroyed by the program's shut-down once that loop has returned, never under it.
    if (EndProgressDialog())
        return;
    DestroyWindow();
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
