#include "app/BrannicApp.h"

#include "app/Utility.h"
#include "app/VyxMainDlg.h"

#include "agents/DesktopAgent.h"
#include "agents/FavoritesAgent.h"
#include "agents/FontsAgent.h"
#include "agents/MyDocumentsAgent.h"
#include "agents/OutlookAgent.h"
#include "agents/OutlookEAgent.h"
#include "agents/RegularFileAgent.h"
#include "agents/VistaProfileAgent.h"
#include "agents/WindowsMailAgent.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "shared/LogicalDrive.h"
#include "shared/TrayDialog.h"
#include "storage/ConfigWizardDlg.h"
#include "storage/EnclosureWnd.h"
#include "storage/ZentraManager.h"
#include "workflows/ExpertModeDlg.h"
#include "workflows/ExpertMonitor.h"
#include "workflows/ExpertSchedule.h"

#include "platform/afx/ComboBox.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/OleInit.h"
#include "platform/base/clock.h"
#include "platform/base/handle.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/volumes.h"
#include "platform/registry/ini.h"
#include "platform/registry/registry.h"
#include "platform/system/sysinfo.h"

#include <vector>

IMPLEMENT_DYNAMIC(CBrannicApp, CWinApp)

BEGIN_MESSAGE_MAP(CBrannicApp, CWinApp)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

namespace {

constexpr UINT IDS_START_KOVRA = 5024;
constexpr UINT IDS_SHUT_DOWN_KOVRA = 5025;
constexpr UINT IDS_NO_ENCLOSURE = 5010;
constexpr UINT IDS_PUBLIC_DISK_LABEL = 1550;
constexpr UINT IDS_SECURE_DISK_LABEL = 1551;

constexpr DWORD kDriveMonitorFlags = 0x1A;
constexpr COLORREF kSplashTransparentColor = 0x808080;
constexpr DWORD kFilterChars = 2048;
// How long a second start waits for the running instance's main window while that one is still starting.
constexpr int kHandOverAttempts = 300;
constexpr DWORD kHandOverPollMs = 100;

constexpr LPCTSTR kDriveIconsKey = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\DriveIcons";

// The settings root with a trailing backslash.
CString WithBackslash(const CString& strPath) {
    if (!strPath.IsEmpty() && strPath[strPath.GetLength() - 1] == u'\\')
        return strPath;
    return strPath + u'\\';
}

// The first top-level window that carries the instance property, or null.
HWND FindInstanceWindow() {
    for (HWND hWnd = ::GetWindow(::GetDesktopWindow(), GW_CHILD); hWnd && ::IsWindow(hWnd);
         hWnd = ::GetWindow(hWnd, GW_HWNDNEXT)) {
        if (::GetPropW(hWnd, KOVRA_INSTANCE_NAME))
            return hWnd;
    }
    return nullptr;
}

// The default value of a key, or an empty text. The buffer takes the value's own size.
CString ReadDefaultValue(HKEY hRoot, const CString& strKey) {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(hRoot, strKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return CString();
    DWORD dwType = 0;
    DWORD dwSize = 0;
    CString strValue;
    if (RegQueryValueExW(hKey, nullptr, nullptr, &dwType, nullptr, &dwSize) == ERROR_SUCCESS &&
        (dwType == REG_SZ || dwType == REG_EXPAND_SZ) && dwSize > 0) {
        std::vector<WCHAR> buffer(dwSize / sizeof(WCHAR) + 1, 0);
        if (RegQueryValueExW(hKey, nullptr, nullptr, &dwType, reinterpret_cast<BYTE*>(buffer.data()), &dwSize) ==
            ERROR_SUCCESS)
            strValue = buffer.data();
    }
    RegCloseKey(hKey);
    return strValue;
}

} // namespace

CBrannicApp::CBrannicApp() : CWinApp(nullptr) {
    // The embedded objects in the order of the data model: the enclosure client window, the backup manager, the
    // secure-disk manager.
    m_pEnclosureWnd = std::make_unique<CEnclosureWnd>();
    m_pBackManager = std::make_unique<CBackManager>();
    m_pZentraManager = std::make_unique<CZentraManager>();
}

CBrannicApp::~CBrannicApp() {
    // The opposite order: the splash bitmap, then the secure-disk manager, the backup manager and the enclosure
    // client window; the log and the texts go with the members.
    m_splash.Hide();
    m_splash.DeleteBitmap();
    m_pZentraManager.reset();
    m_pBackManager.reset();
    m_pEnclosureWnd.reset();
    if (m_hInstanceSemaphore)
        ::CloseHandle(m_hInstanceSemaphore);
}

BOOL CBrannicApp::InitInstance() {
    // The program's windows must be able to come to the foreground.
    ::SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);

    if (!HandOverToRunningInstance())
        return FALSE;

    if (!AfxOleInit()) {
        AfxMessageBox(u"Fail to init OLE");
        return FALSE;
    }

    CString strProgramFolder;
    if (GetExeFolder(strProgramFolder))
        strProgramFolder = strProgramFolder.Left(strProgramFolder.GetLength() - 1);
    if (!InitConfigFolder(strProgramFolder))
        return FALSE;
    ReadMainIni();
    m_pZentraManager->Init(kDriveMonitorFlags);
    LoadLanguageLibrary(strProgramFolder);
    OpenSystemLog();
    InstallConfigDiskHooks();
    if (ProcessCommandLine()) {
        // A start for one command ends here. What the command left open (the secure disk a prepared disk got) is
        // closed and the log written while the program is whole, not by the exit's teardown of the static objects.
        m_systemLog.Save(FALSE);
        m_pZentraManager->DestroyWindow();
        return FALSE;
    }
    if (!(m_nStartFlags & kStartMinimized))
        ShowSplash(strProgramFolder);
    ReadDriveType();
    Enable3dControlsStatic();
    m_pEnclosureWnd->Create();
    ReadRunMode();
    RunMainLoop();
    return FALSE;
}

BOOL CBrannicApp::HandOverToRunningInstance() {
    m_hInstanceSemaphore = ::CreateSemaphoreW(nullptr, 1, 1, KOVRA_INSTANCE_NAME);
    if (::GetLastError() != ERROR_ALREADY_EXISTS)
        return TRUE;
    // Another instance runs. It publishes its main window only once its start-up has come that far, so a start
    // during its start-up waits for the window; when that instance ends meanwhile, this one carries on instead.
    for (int attempt = 0;; ++attempt) {
        if (m_hInstanceSemaphore) {
            ::CloseHandle(m_hInstanceSemaphore);
            m_hInstanceSemaphore = nullptr;
        }
        if (HWND hWnd = FindInstanceWindow()) {
            ::SendMessageW(hWnd, WM_TRAY_NOTIFY, 1, WM_LBUTTONDBLCLK);
            if (::IsIconic(hWnd))
                ::ShowWindow(hWnd, SW_RESTORE);
            ::SetForegroundWindow(hWnd);
            if (HWND hPopup = ::GetLastActivePopup(hWnd))
                ::SetForegroundWindow(hPopup);
            return FALSE;
        }
        if (attempt >= kHandOverAttempts)
            return FALSE;
        ::Sleep(kHandOverPollMs);
        m_hInstanceSemaphore = ::CreateSemaphoreW(nullptr, 1, 1, KOVRA_INSTANCE_NAME);
        if (::GetLastError() != ERROR_ALREADY_EXISTS)
            return TRUE;
    }
}

BOOL CBrannicApp::InitConfigFolder(const CString& strProgramFolder) {
    CString strConfig;
    if (!GetSubFolder(strProgramFolder, u"Config", strConfig) && !CreateFolder(strConfig)) {
        CString strText;
        strText.Format(u"%s, %d: Create %s failed.", KOVRA_SOURCE_FILE, __LINE__, static_cast<LPCTSTR>(strConfig));
        AfxMessageBox(strText);
        return FALSE;
    }
    m_strConfigPath = strConfig;
    m_strMainIniPath = WithBackslash(m_strConfigPath) + u"Main.ini";
    return TRUE;
}

void CBrannicApp::ReadMainIni() {
    std::vector<WCHAR> buffer(kFilterChars, 0);
    ::GetPrivateProfileStringW(u"Main", u"RootPath", u"Software\\VEVUVUV\\Kovra", buffer.data(),
                               static_cast<DWORD>(buffer.size()), m_strMainIniPath);
    m_strRootKey = buffer.data();
    std::fill(buffer.begin(), buffer.end(), 0);
    ::GetPrivateProfileStringW(u"Main", u"DebugMode", u"False", buffer.data(), static_cast<DWORD>(buffer.size()),
                               m_strMainIniPath);
    m_bDebugMode = CString(buffer.data()).CompareNoCase(u"TRUE") == 0;
}

BOOL CBrannicApp::IsValidLangFileName(const CString& strName) {
    return strName.GetLength() == 10 && strName.Left(2).CompareNoCase(u"0x") == 0 &&
           strName.Right(4).CompareNoCase(u".dll") == 0;
}

LANGID CBrannicApp::DetectUILanguage() {
    using GetUILanguageProc = LANGID (*)();
    if (HMODULE hKernel = ::GetModuleHandleW(u"kernel32.dll")) {
        if (auto pfn = reinterpret_cast<GetUILanguageProc>(::GetProcAddress(hKernel, "GetUserDefaultUILanguage")))
            return pfn();
    }
    if (::GetVersion() & 0x80000000u) {
        // The Windows 9x family keeps the language as the desktop's resource locale.
        LANGID language = 1033;
        HKEY hKey = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, u"Control Panel\\Desktop\\ResourceLocale", 0, KEY_QUERY_VALUE, &hKey) ==
            ERROR_SUCCESS) {
            WCHAR text[16] = {};
            DWORD dwType = 0;
            DWORD dwSize = 32;
            if (RegQueryValueExW(hKey, nullptr, nullptr, &dwType, reinterpret_cast<BYTE*>(text), &dwSize) ==
                    ERROR_SUCCESS &&
                dwType == REG_SZ) {
                text[15] = 0;
                // The value is hexadecimal ("00000409").
                unsigned value = 0;
                int digits = 0;
                for (const WCHAR* p = text; *p; ++p, ++digits) {
                    const WCHAR ch = *p;
                    const int nibble = ch >= u'0' && ch <= u'9'   ? ch - u'0'
                                       : ch >= u'a' && ch <= u'f' ? ch - u'a' + 10
                                       : ch >= u'A' && ch <= u'F' ? ch - u'A' + 10
                                                                  : -1;
                    if (nibble < 0)
                        break;
                    value = value << 4 | static_cast<unsigned>(nibble);
                }
                if (digits > 0)
                    language = static_cast<LANGID>(value);
            }
            RegCloseKey(hKey);
        }
        return language;
    }
    // Windows NT 4 has neither: the language of the system's own version resource counts (the last one the
    // enumeration gives).
    LANGID language = 1033;
    if (HMODULE hNtDll = ::GetModuleHandleW(u"ntdll.dll")) {
        ::EnumResourceLanguagesW(
            hNtDll, RT_VERSION, MAKEINTRESOURCEW(1),
            [](HMODULE, LPCWSTR, LPCWSTR, WORD wLanguage, LONG_PTR lParam) -> BOOL {
                *reinterpret_cast<LANGID*>(lParam) = wLanguage;
                return TRUE;
            },
            reinterpret_cast<LONG_PTR>(&language));
    }
    return language;
}

void CBrannicApp::LoadLanguageLibrary(const CString& strProgramFolder) {
    const CString strFolder = WithBackslash(strProgramFolder) + u"Lang\\";
    std::vector<WCHAR> buffer(kFilterChars, 0);
    ::GetPrivateProfileStringW(u"Main", u"LangFile", u"", buffer.data(), static_cast<DWORD>(buffer.size()),
                               m_strMainIniPath);
    CString strLangFile = buffer.data();
    if (!strLangFile.IsEmpty() && !IsValidLangFileName(strLangFile)) {
        CString strText;
        strText.Format(u"User uses main.ini to define language library(%s) but the string seems like an invalid "
                       u"language file string.",
                       static_cast<LPCTSTR>(strLangFile));
        Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
        strLangFile.Empty();
    }
    const BOOL bFromIni = !strLangFile.IsEmpty();
    LANGID language = 1033;
    if (!bFromIni) {
        language = DetectUILanguage();
        strLangFile.Format(u"0x%04x.dll", language);
    }
    // "0x0409.dll" stands for the built-in English resources.
    if (strLangFile.CompareNoCase(u"0x0409.dll") == 0)
        return;
    const CString strPath = strFolder + strLangFile;
    HMODULE hLibrary = ::LoadLibraryW(strPath);
    if (hLibrary) {
        m_hLanguageLibrary = hLibrary;
        AfxSetResourceHandle(hLibrary);
        return;
    }
    const DWORD dwError = ::GetLastError();
    CString strText;
    if (bFromIni)
        strText.Format(u"User uses main.ini to define lang(%s) but load failed(strLangFileName = %s, GetLastError = "
                       u"%d).",
                       static_cast<LPCTSTR>(strLangFile), static_cast<LPCTSTR>(strPath), dwError);
    else if (language != 1033)
        strText.Format(u"User uses system define lang(%s) but load failed(strLangFileName = %s, GetLastError = %d).",
                       static_cast<LPCTSTR>(strLangFile), static_cast<LPCTSTR>(strPath), dwError);
    if (!strText.IsEmpty())
        Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeDebug);
}

BOOL CBrannicApp::OpenSystemLog() {
    const CString strFolder = WithBackslash(m_strConfigPath);
    m_systemLog.Init(strFolder + u"KovraSystem.log", strFolder + u"~KovraSystem.log", 4096, TRUE);
    return TRUE;
}

BOOL CBrannicApp::ProcessCommandLine() {
    CString strCommand = m_lpCmdLine ? m_lpCmdLine : u"";
    strCommand.MakeLower();
    if (strCommand.IsEmpty() || strCommand[0] != u'/')
        return FALSE;
    // A word counts only as the whole command line: the slash and the word, in any letter case.
    auto isWord = [&strCommand](LPCTSTR lpszWord) {
        return strCommand.GetLength() == lstrlenW(lpszWord) + 1 && strCommand.Find(lpszWord) >= 0;
    };
    if (isWord(u"configdisk")) {
        RunConfigDiskWizard();
        return TRUE;
    }
    if (isWord(u"removeexplorerzentraicon")) {
        RemoveExplorerDriveIcons();
        return TRUE;
    }
    if (isWord(u"min"))
        m_nStartFlags |= kStartMinimized;
    return FALSE;
}

void CBrannicApp::InstallConfigDiskHooks() {
    // The disk configuration stands below the Expert Mode dialog and its pages: it reaches them through these.
    CONFIG_DISK_HOOKS hooks;
    hooks.pfnDestroyPages = [] {
        auto* pApp = static_cast<CBrannicApp*>(AfxGetApp());
        if (pApp && pApp->GetExpertDlg() && pApp->GetExpertDlg()->GetSafeHwnd())
            pApp->GetExpertDlg()->DestroyPages();
    };
    hooks.pfnInitPages = [] {
        auto* pApp = static_cast<CBrannicApp*>(AfxGetApp());
        if (pApp && pApp->GetExpertDlg() && pApp->GetExpertDlg()->GetSafeHwnd())
            pApp->GetExpertDlg()->InitPages();
    };
    hooks.pfnRemoveBackupSettings = [] {
        CExpertMonitor::RemoveRegistry();
        CExpertSchedule::RemoveRegistry();
    };
    CConfigDisk5::SetHooks(hooks);
}

void CBrannicApp::RunConfigDiskWizard() {
    while (!m_pZentraManager->HasDiskOnEnclosureBridge()) {
        if (AfxMessageBox(IDS_NO_ENCLOSURE, MB_OKCANCEL | MB_ICONINFORMATION) == IDCANCEL)
            return;
    }
    CConfigWizardDlg wizard;
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
    wizard.DoModal();
}

void CBrannicApp::ShowSplash(const CString&) {
    CString strFolder;
    GetExeFolder(strFolder);
    if (!m_splash.SetBitmap(strFolder + u"Splash.bmp"))
        return;
    m_splash.SetTransparentColor(kSplashTransparentColor);
    m_splash.Show();
}

void CBrannicApp::CloseSplash() {
    m_splash.Hide();
    m_splash.DeleteBitmap();
}

void CBrannicApp::ReadDriveType() {
    WCHAR buffer[MAX_PATH] = {};
    ::GetPrivateProfileStringW(u"Main", u"DriveType", u"", buffer, MAX_PATH, m_strMainIniPath);
    m_bAnyDriveType = buffer[0] == u'1';
}

void CBrannicApp::ReadRunMode() {
    HKEY hKey = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_strRootKey, 0, KEY_QUERY_VALUE, &hKey) != ERROR_SUCCESS)
        return;
    BYTE data[16] = {};
    DWORD dwType = 0;
    DWORD dwSize = sizeof data;
    const LONG result = RegQueryValueExW(hKey, u"RunMode", nullptr, &dwType, data, &dwSize);
    RegCloseKey(hKey);
    if (result != ERROR_SUCCESS)
        return;
    // The program stores the four bytes of the integer as REG_SZ data; a REG_DWORD holds the number itself, and
    // a text holds it in digits. Whatever the value says, it only ever chooses the Expert Mode dialog: it must
    // not start the program minimised or hide every dialog.
    LONG nMode = -1;
    if (dwType == REG_DWORD && dwSize == 4) {
        nMode = static_cast<LONG>(data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24);
    } else if (dwType == REG_SZ || dwType == REG_EXPAND_SZ || dwType == REG_BINARY) {
        const DWORD raw =
            dwSize >= 4 ? (data[0] | data[1] << 8 | data[2] << 16 | static_cast<DWORD>(data[3]) << 24) : 0xFFFFFFFFu;
        if (dwSize == 4 && raw <= 1) {
            nMode = static_cast<LONG>(raw);
        } else if (dwType != REG_BINARY) {
            const CString strText(reinterpret_cast<LPCTSTR>(data), static_cast<int>(dwSize / sizeof(WCHAR)));
            const CString strDigits = CString(strText.GetString()).Trim();
            if (strDigits == u"0" || strDigits == u"1")
                nMode = strDigits == u"1" ? 1 : 0;
        }
    }
    if (nMode == 1)
        m_nStartFlags |= kStartExpertMode;
}

BOOL CBrannicApp::WriteRunMode(int nMode) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_strRootKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return FALSE;
    const DWORD value = static_cast<DWORD>(nMode);
    const LONG result =
        RegSetValueExW(hKey, u"RunMode", 0, REG_SZ, reinterpret_cast<const BYTE*>(&value), sizeof value);
    RegCloseKey(hKey);
    return result == ERROR_SUCCESS;
}

int CBrannicApp::RunMainLoop() {
    // The nine agents live exactly as long as the main loop.
    COutlookEAgent outlookExpress;
    CMyDocumentsAgent myDocuments;
    CRegularFileAgent regularFiles;
    CFontsAgent fonts;
    CFavoritesAgent favorites;
    CDesktopAgent desktop;
    COutlookAgent outlook;
    CVistaProfileAgent vistaProfile;
    CWindowsMailAgent windowsMail;

    m_pBackManager->Create();
    // The order of registration is the order of the agents' roots in every source tree.
    CBackAgent* const agents[] = {&fonts,       &favorites,      &desktop,      &myDocuments, &outlook,
                                  &windowsMail, &outlookExpress, &vistaProfile, &regularFiles};
    for (CBackAgent* pAgent : agents)
        m_pBackManager->AddAgent(pAgent);

    LogId(IDS_START_KOVRA, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeInformation);

    CExpertModeDlg expertDlg;
    m_pExpertDlg = &expertDlg;
    m_pCurrentDialog = &expertDlg;
    VyxMainDlg mainDlg;
    m_pMainWnd = &mainDlg;
    expertDlg.Create();
    m_nCmdShow = SW_HIDE;

    mainDlg.DoModal();

    // Whatever ended the main loop (Exit, or the end of the user's session), what runs is stopped before the
    // windows and agents it uses are destroyed.
    expertDlg.StopRunningJobs();
    m_pBackManager->CancelAllJobs();
    expertDlg.DestroyWindow();
    m_pEnclosureWnd->DestroyWindow();
    RemoveExplorerDriveIcons();
    LogId(IDS_SHUT_DOWN_KOVRA, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeInformation);
    // No idle time follows: the log reaches its file now.
    m_systemLog.Save(FALSE);

    m_pCurrentDialog = nullptr;
    m_pMainWnd = nullptr;
    m_pExpertDlg = nullptr;
    m_pBackManager->RemoveAllAgents();
    // The hidden windows of the backup manager and the drive monitor go with the loop too: the objects stay the
    // application's, but nothing may be left for the program's exit to tear down.
    m_pBackManager->DestroyWindow();
    m_pZentraManager->DestroyWindow();
    CloseSplash();
    return 0;
}

CWnd* CBrannicApp::GetExpertWnd() const {
    return m_pExpertDlg;
}

void CBrannicApp::OnTrayDialogMinimized(CTrayDialog* pDialog) {
    SetCurrentDialog(pDialog);
}

BOOL CBrannicApp::OnIdle(LONG lCount) {
    if (m_pExpertDlg)
        m_pExpertDlg->OnIdle(lCount);
    if (m_pBackManager)
        if (auto* pProgress = dynamic_cast<CCopyProDlg*>(m_pBackManager->GetProgressDlg()))
            pProgress->OnIdle();
    m_systemLog.Save(FALSE);
    return CWinApp::OnIdle(lCount);
}

int CBrannicApp::ExitInstance() {
    return CWinApp::ExitInstance();
}

void CBrannicApp::WinHelp(DWORD_PTR, UINT) {
    ShowHelpTopic(0);
}

int CBrannicApp::Log(LPCTSTR lpszText, LPCTSTR lpszSourcePath, int nLine, int nType) {
    return m_systemLog.AddItem(lpszText, lpszSourcePath, nLine, nType);
}

int CBrannicApp::LogId(UINT nStringId, LPCTSTR lpszSourcePath, int nLine, int nType) {
    return m_systemLog.AddItemId(nStringId, lpszSourcePath, nLine, nType);
}

BOOL CBrannicApp::ExportLog(const CString& strPath) {
    return m_systemLog.Export(strPath);
}

void CBrannicApp::ShowMainMenu() {
    if (m_pExpertDlg && m_pExpertDlg->GetSafeHwnd())
        m_pExpertDlg->ShowWindow(SW_HIDE);
    if (m_pMainWnd && m_pMainWnd->GetSafeHwnd()) {
        m_pMainWnd->ShowWindow(SW_SHOWNORMAL);
        m_pMainWnd->SetForegroundWindow();
    }
}

void CBrannicApp::ShowExpertMode(BOOL bSelectSystemPage) {
    if (m_pMainWnd && m_pMainWnd->GetSafeHwnd())
        m_pMainWnd->ShowWindow(SW_HIDE);
    if (!m_pExpertDlg || !m_pExpertDlg->GetSafeHwnd())
        return;
    m_pExpertDlg->ShowWindow(SW_SHOWNORMAL);
    m_pExpertDlg->SetForegroundWindow();
    if (bSelectSystemPage)
        m_pExpertDlg->ShowPage(4);
}

BOOL CBrannicApp::GetFilter(CString& strFilter) {
    strFilter.Empty();
    HKEY hKey = nullptr;
    LONG result = RegOpenKeyExW(HKEY_CURRENT_USER, m_strRootKey, 0, KEY_QUERY_VALUE, &hKey);
    DWORD dwType = 0;
    DWORD dwSize = 0;
    if (result == ERROR_SUCCESS) {
        // Room for the longest list, its terminator, and one more character, so that a value stored without a
        // terminator still ends in one.
        std::vector<WCHAR> buffer(kFilterChars + 2, 0);
        dwSize = (kFilterChars + 1) * sizeof(WCHAR);
        result = RegQueryValueExW(hKey, u"Filter", nullptr, &dwType, reinterpret_cast<BYTE*>(buffer.data()), &dwSize);
        RegCloseKey(hKey);
        if (result == ERROR_SUCCESS && (dwType == REG_SZ || dwType == REG_EXPAND_SZ) &&
            lstrlenW(buffer.data()) <= static_cast<int>(kFilterChars)) {
            strFilter = buffer.data();
            return TRUE;
        }
        if (result == ERROR_SUCCESS || result == ERROR_MORE_DATA) {
            // The user's list is there but cannot be taken: it stays as it is.
            CString strText;
            strText.Format(u"%s, %d: The file filter (\"Filter\") cannot be read (type %d, %d bytes); it is left as "
                           u"it is.",
                           KOVRA_SOURCE_FILE, __LINE__, dwType, dwSize);
            Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
            return FALSE;
        }
    }
    if (result != ERROR_FILE_NOT_FOUND) {
        CString strText;
        strText.Format(u"%s, %d: The file filter (\"Filter\") cannot be read (error %d).", KOVRA_SOURCE_FILE, __LINE__,
                       result);
        Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
        return FALSE;
    }
    // There is no list yet: it starts empty.
    SetFilter(CString());
    return TRUE;
}

BOOL CBrannicApp::SetFilter(const CString& strFilter) {
    HKEY hKey = nullptr;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, m_strRootKey, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &hKey,
                        nullptr) != ERROR_SUCCESS)
        return FALSE;
    const LONG result = RegSetValueExW(hKey, u"Filter", 0, REG_SZ, reinterpret_cast<const BYTE*>(strFilter.GetString()),
                                       static_cast<DWORD>((strFilter.GetLength() + 1) * sizeof(WCHAR)));
    RegCloseKey(hKey);
    return result == ERROR_SUCCESS;
}

BOOL CBrannicApp::ConsumeSwitch(LPTSTR lpszCommandLine, LPCTSTR lpszSwitch) {
    if (!lpszCommandLine || !lpszSwitch || !*lpszSwitch)
        return FALSE;
    const int nWord = lstrlenW(lpszSwitch);
    auto isBlank = [](TCHAR ch) { return ch == u' ' || ch == u'\t'; };
    for (LPTSTR p = lpszCommandLine; *p; ++p) {
        if (*p != u'-' && *p != u'/')
            continue;
        // A switch begins an argument and the word ends it (or the next switch follows at once).
        if (p != lpszCommandLine && !isBlank(p[-1]))
            continue;
        LPTSTR pWord = p + 1;
        int i = 0;
        while (i < nWord && pWord[i] && pWord[i] == lpszSwitch[i])
            ++i;
        if (i < nWord)
            continue;
        const TCHAR after = pWord[nWord];
        if (after != 0 && !isBlank(after) && after != u'-' && after != u'/')
            continue;
        LPTSTR pRest = pWord + nWord;
        LPTSTR pOut = p;
        while ((*pOut++ = *pRest++) != 0) {
        }
        return TRUE;
    }
    return FALSE;
}

BOOL CBrannicApp::CreateFolder(LPCTSTR lpszPath) {
    if (::CreateDirectoryW(lpszPath, nullptr))
        return TRUE;
    const DWORD dwError = ::GetLastError();
    CString strText;
    strText.Format(u"%s, %d: CreateFolder(%s) fail with code %d!", KOVRA_SOURCE_FILE, __LINE__, lpszPath, dwError);
    Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeDebug);
    return FALSE;
}

BOOL CBrannicApp::FileExists(LPCTSTR lpszPath) {
    WIN32_FIND_DATAW data{};
    HANDLE hFind = ::FindFirstFileW(lpszPath, &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return FALSE;
    ::FindClose(hFind);
    return !(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

BOOL CBrannicApp::DirectoryExists(LPCTSTR lpszPath) {
    WIN32_FIND_DATAW data{};
    HANDLE hFind = ::FindFirstFileW(lpszPath, &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return FALSE;
    ::FindClose(hFind);
    return (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

BOOL CBrannicApp::GetSubFolder(LPCTSTR lpszFolder, LPCTSTR lpszSubFolder, CString& strPath) {
    strPath = WithBackslash(CString(lpszFolder)) + lpszSubFolder;
    return DirectoryExists(strPath);
}

BOOL CBrannicApp::IsEligibleDrive(int nLetterIndex) const {
    if (nLetterIndex < 0 || nLetterIndex > 25)
        return FALSE;
    if (m_bAnyDriveType)
        return TRUE;
    return m_pZentraManager->IsSecureVolume(nLetterIndex, TRUE) || m_pZentraManager->IsPublicZentra(nLetterIndex);
}

BOOL CBrannicApp::IsEnclosureVolume(int nLetterIndex) const {
    if (nLetterIndex < 0 || nLetterIndex > 25 || !m_pZentraManager)
        return FALSE;
    return m_pZentraManager->IsPublicZentra(nLetterIndex) || m_pZentraManager->IsSecureVolume(nLetterIndex, TRUE);
}

BOOL CBrannicApp::AddDriveToCombo(CComboBox* pCombo, LPCTSTR lpszDrive, BOOL bSelect) {
    if (!pCombo || !lpszDrive || !*lpszDrive)
        return FALSE;
    const int nIndex = lpszDrive[0] - u'A';
    if (!IsEligibleDrive(nIndex))
        return FALSE;
    const UINT nType = ::GetDriveTypeW(WithBackslash(CString(lpszDrive)));
    if (nType != DRIVE_FIXED && nType != DRIVE_REMOTE)
        return FALSE;
    WCHAR label[MAX_PATH] = {};
    CString strLabel;
    if (::GetVolumeInformationW(WithBackslash(CString(lpszDrive)), label, MAX_PATH, nullptr, nullptr, nullptr, nullptr,
                                0))
        strLabel = label;
    else
        strLabel = u"Unformated";
    CString strItem;
    strItem.Format(u"%s (%s)", static_cast<LPCTSTR>(strLabel), lpszDrive);
    // A drive is never listed twice: an item of the same letter makes room for the fresh one.
    for (int i = 0; i < pCombo->GetCount(); ++i) {
        if (static_cast<int>(pCombo->GetItemData(i)) == nIndex) {
            pCombo->DeleteString(static_cast<UINT>(i));
            break;
        }
    }
    const int nItem = pCombo->AddString(strItem);
    if (nItem < 0) {
        CString strText;
        strText.Format(u"%s, %d: The drive %s could not be added to the list.", KOVRA_SOURCE_FILE, __LINE__, lpszDrive);
        Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeError);
        return FALSE;
    }
    pCombo->SetItemData(nItem, static_cast<DWORD_PTR>(nIndex));
    if (bSelect)
        pCombo->SetCurSel(nItem);
    return TRUE;
}

void CBrannicApp::SelectDriveInCombo(CComboBox* pCombo, LPCTSTR lpszDrive) {
    if (!pCombo || !lpszDrive || !*lpszDrive)
        return;
    for (int i = 0; i < pCombo->GetCount(); ++i) {
        if (static_cast<TCHAR>(pCombo->GetItemData(i) + u'A') == lpszDrive[0]) {
            pCombo->SetCurSel(i);
            return;
        }
    }
}

BOOL CBrannicApp::RemoveDriveFromCombo(CComboBox* pCombo, LPCTSTR lpszDrive) {
    if (!pCombo || !lpszDrive || !*lpszDrive)
        return FALSE;
    const int nIndex = lpszDrive[0] - u'A';
    BOOL bDeleted = FALSE;
    for (int i = 0; i < pCombo->GetCount(); ++i) {
        if (static_cast<int>(pCombo->GetItemData(i)) == nIndex) {
            bDeleted = pCombo->DeleteString(static_cast<UINT>(i)) != CB_ERR;
            break;
        }
    }
    pCombo->SetCurSel(pCombo->GetCount() - 1);
    return bDeleted;
}

int CBrannicApp::GetSelectedDrive(CComboBox* pCombo, CString& strDrive, CPhysicalDrive** ppPhysical, BOOL bBackslash) {
    if (!pCombo)
        return 0;
    if (pCombo->GetCount() > 0 && pCombo->GetCurSel() == CB_ERR)
        pCombo->SetCurSel(pCombo->GetCount() - 1);
    const int nSel = pCombo->GetCurSel();
    if (nSel == CB_ERR)
        return 0;
    strDrive.Format(u"%c:", static_cast<TCHAR>(u'A' + pCombo->GetItemData(nSel)));
    if (bBackslash)
        strDrive += u'\\';
    if (ppPhysical)
        *ppPhysical = GetPhysicalDriveOf(strDrive);
    return 1;
}

DWORD CBrannicApp::GetVolumeSerialNo(LPCTSTR lpszDrive) {
    if (!lpszDrive || !*lpszDrive)
        return 0;
    DWORD dwSerial = 0;
    if (!::GetVolumeInformationW(WithBackslash(CString(lpszDrive)), nullptr, 0, &dwSerial, nullptr, nullptr, nullptr,
                                 0))
        return 0;
    return dwSerial;
}

CPhysicalDrive* CBrannicApp::GetPhysicalDriveOf(LPCTSTR lpszDrive) {
    CLogicalDrive* pLogical = m_pZentraManager->GetLogicalDriveByName(lpszDrive);
    if (!pLogical)
        return nullptr;
    return pLogical->GetParent();
}

BOOL CBrannicApp::HasBackupData(int nLetterIndex) {
    if (!IsEligibleDrive(nLetterIndex))
        return FALSE;
    return m_pBackManager->HasBackupData(static_cast<TCHAR>(u'A' + nLetterIndex));
}

void CBrannicApp::RemoveExplorerDriveIcons() {
    if (RemoveAllZentraIconReg() != 3)
        return;
    CString strText;
    strText.Format(u"%s, %d: Explorer's drive icons of the Kovra disks could not all be removed.", KOVRA_SOURCE_FILE,
                   __LINE__);
    Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
}

int CBrannicApp::RemoveAllZentraIconReg() {
    HKEY hIcons = nullptr;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDriveIconsKey, 0, KEY_READ, &hIcons) != ERROR_SUCCESS)
        return 1;
    DWORD dwSubKeys = 0;
    DWORD dwMaxSubKey = 0;
    if (RegQueryInfoKeyW(hIcons, nullptr, nullptr, nullptr, &dwSubKeys, &dwMaxSubKey, nullptr, nullptr, nullptr,
                         nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(hIcons);
        return 2;
    }
    WCHAR modulePath[2048] = {};
    ::GetModuleFileNameW(nullptr, modulePath, 2048);
    CString strPublic;
    CString strSecure;
    strPublic.LoadString(IDS_PUBLIC_DISK_LABEL);
    strSecure.LoadString(IDS_SECURE_DISK_LABEL);

    // Deleting under HKEY_LOCAL_MACHINE needs rights the user may lack: a failure keeps the entry and is reported.
    int nResult = 0;
    auto deleteKey = [&nResult](const CString& strKey) {
        if (RegDeleteKeyW(HKEY_LOCAL_MACHINE, strKey) != ERROR_SUCCESS)
            nResult = 3;
    };
    std::vector<WCHAR> name(dwMaxSubKey + 1, 0);
    for (DWORD index = dwSubKeys; index-- > 0;) {
        DWORD dwName = dwMaxSubKey + 1;
        if (RegEnumKeyExW(hIcons, index, name.data(), &dwName, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        const CString strLetterKey = CString(kDriveIconsKey) + u'\\' + name.data();
        const CString strLabelKey = strLetterKey + u"\\DefaultLabel";
        const CString strLabel = ReadDefaultValue(HKEY_LOCAL_MACHINE, strLabelKey);
        if (!strLabel.IsEmpty() && ((!strPublic.IsEmpty() && strLabel.Find(strPublic) >= 0) ||
                                    (!strSecure.IsEmpty() && strLabel.Find(strSecure) >= 0))) {
            deleteKey(strLabelKey);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, strLetterKey);
        }
        const CString strIconKey = strLetterKey + u"\\DefaultIcon";
        const CString strIcon = ReadDefaultValue(HKEY_LOCAL_MACHINE, strIconKey);
        if (!strIcon.IsEmpty() && modulePath[0] && strIcon.Find(modulePath) >= 0) {
            deleteKey(strIconKey);
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, strLetterKey);
        }
    }
    RegCloseKey(hIcons);
    return nResult;
}
