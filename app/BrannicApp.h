// CBrannicApp: the application object of the main program Kovra.
//
// It runs the whole start-up sequence (InitInstance), keeps the settings read from "Main.ini" in the folder
// "Config" beside the program, owns the system event log "KovraSystem.log", the backup manager window, the
// secure-disk manager, the enclosure client window and the splash window, and offers every other part of the
// program a small set of services: the log calls, the settings root key, the current-dialog record, the
// destination-drive combos and drive tests, the file-name filter value and the removal of the Explorer drive-icon
// entries. Every part reaches it through AfxGetApp().
//
// The start-up routine never returns into the framework's message loop: it runs the main menu dialog modally, and
// that modal loop is the program's main loop; when it ends, the routine tears everything down and returns FALSE.
//
// The objects of the later subsystems (backup manager, secure-disk manager, enclosure client window, Expert Mode
// dialog) are only named here, so that every part of the program may include this header; the application object
// owns the three embedded ones and builds and destroys them in the order of its members. The accessors that the
// application core's own classes use are defined here.
//
// GUI thread only.
#pragma once

#include "app/Splash.h"
#include "app/XMLLog.h"
#include "shared/TrayDialogApp.h"

#include "platform/afx/String.h"
#include "platform/afx/WinApp.h"

#include <memory>

class CBackManager;
class CComboBox;
class CEnclosureWnd;
class CExpertModeDlg;
class CPhysicalDrive;
class CZentraManager;

// Bits of the start flags.
constexpr unsigned kStartExpertMode = 1; // "RunMode" is 1
constexpr unsigned kStartMinimized = 2;  // started with "/min"

// The window property by which a second start finds the running main menu dialog, and the name of the
// single-instance semaphore.
#define KOVRA_INSTANCE_NAME u"AFX_BRANNIC_H__D36F5573_9879_4ED3_8B5D_97A194EFF61D__INCLUDED_"

// The source file of a log call, as wide text.
#define KOVRA_SOURCE_FILE (u"" __FILE__)

class CBrannicApp : public CWinApp, public CTrayDialogApp {
    DECLARE_DYNAMIC(CBrannicApp)
public:
    CBrannicApp();
    ~CBrannicApp() override;
    CBrannicApp(const CBrannicApp&) = delete;
    CBrannicApp& operator=(const CBrannicApp&) = delete;

    BOOL InitInstance() override;
    BOOL OnIdle(LONG lCount) override;
    int ExitInstance() override;
    void WinHelp(DWORD_PTR dwData, UINT nCmd = 0x0001) override;

    // The system log. The source path may be a whole path; only its file name is stored.
    int Log(LPCTSTR lpszText, LPCTSTR lpszSourcePath, int nLine, int nType);
    int LogId(UINT nStringId, LPCTSTR lpszSourcePath, int nLine, int nType);
    // Saves the system log and copies it to the path.
    BOOL ExportLog(const CString& strPath);
    CXMLLog& GetSystemLog() { return m_systemLog; }

    void GetConfigPath(CString& strPath) const { strPath = m_strConfigPath; }
    void GetRootKey(CString& strKey) const { strKey = m_strRootKey; }
    const CString& GetMainIniPath() const { return m_strMainIniPath; }
    unsigned GetStartFlags() const { return m_nStartFlags; }
    BOOL IsDebugMode() const { return m_bDebugMode; }
    BOOL IsAnyDriveType() const { return m_bAnyDriveType; }
    CExpertModeDlg* GetExpertDlg() const { return m_pExpertDlg; }
    // The Expert Mode dialog as a window, for the parts of the program that only send it messages.
    CWnd* GetExpertWnd() const;
    CWnd* GetMainDlg() const { return m_pMainWnd; }
    CZentraManager* GetZentraManager() const { return m_pZentraManager.get(); }
    CBackManager* GetBackManager() const { return m_pBackManager.get(); }
    CEnclosureWnd* GetEnclosureWnd() const { return m_pEnclosureWnd.get(); }

    // The dialog in front of the user, which the tray and WM_USER+318 bring back.
    void SetCurrentDialog(CWnd* pWnd) { m_pCurrentDialog = pWnd; }
    CWnd* GetCurrentDialog() const { return m_pCurrentDialog; }
    // A dialog minimised to the tray becomes the current dialog.
    void OnTrayDialogMinimized(CTrayDialog* pDialog) override;

    // Stores "RunMode" under the settings root (REG_SZ holding the four bytes of the integer): 1 opens the
    // Expert Mode dialog at the next start, 0 the main menu. FALSE when it cannot be written.
    BOOL WriteRunMode(int nMode);

    // Hides the Expert Mode dialog and shows the main menu dialog in front.
    void ShowMainMenu();
    // Hides the main menu dialog and shows the Expert Mode dialog in front (with its System page when asked).
    void ShowExpertMode(BOOL bSelectSystemPage);

    // The value "Filter" under the settings root: file-name patterns, each followed by a TAB. A missing value (or
    // key) is created empty. A value that exists but cannot be read (longer than 2048 characters, or not a text)
    // is reported in the system log and left as it is; the result is then FALSE with an empty text.
    BOOL GetFilter(CString& strFilter);
    // Writes "Filter" (REG_SZ); FALSE when the key cannot be created or the value not written.
    BOOL SetFilter(const CString& strFilter);

    // Finds the word as a whole command-line switch ('-' or '/' right before it, and the word ending there:
    // at the end of the text, a blank, or the next switch), removes the switch from the buffer in place and
    // returns TRUE; FALSE when absent. The word compares case-sensitively.
    static BOOL ConsumeSwitch(LPTSTR lpszCommandLine, LPCTSTR lpszSwitch);

    // CreateDirectory; on failure logs the error (debug) and returns 0.
    BOOL CreateFolder(LPCTSTR lpszPath);
    // The path exists and is a file / a folder.
    static BOOL FileExists(LPCTSTR lpszPath);
    static BOOL DirectoryExists(LPCTSTR lpszPath);
    // strPath = folder + "\" (when missing) + name; whether that is an existing folder.
    static BOOL GetSubFolder(LPCTSTR lpszFolder, LPCTSTR lpszSubFolder, CString& strPath);

    // Destination-drive combos: items are drives "%s (%s)" (label, drive text) whose item data is the letter
    // index 0 to 25.
    BOOL AddDriveToCombo(CComboBox* pCombo, LPCTSTR lpszDrive, BOOL bSelect);
    void SelectDriveInCombo(CComboBox* pCombo, LPCTSTR lpszDrive);
    BOOL RemoveDriveFromCombo(CComboBox* pCombo, LPCTSTR lpszDrive);
    int GetSelectedDrive(CComboBox* pCombo, CString& strDrive, CPhysicalDrive** ppPhysical, BOOL bBackslash);
    CPhysicalDrive* GetPhysicalDriveOf(LPCTSTR lpszDrive);
    // The volume serial number of a drive ("X:" or "X:\"); 0 when it cannot be read.
    static DWORD GetVolumeSerialNo(LPCTSTR lpszDrive);
    BOOL HasBackupData(int nLetterIndex);
    // Whether the letter may serve as a backup destination: any fixed or network drive with "DriveType" 1,
    // else only a secure disk or the public partition of an enclosure disk.
    BOOL IsEligibleDrive(int nLetterIndex) const;
    // Whether the letter is a volume of an enclosure disk: its public partition or its secure disk, which the
    // backup sources leave out.
    BOOL IsEnclosureVolume(int nLetterIndex) const;

    // Removes the Explorer drive-icon entries the program set: 0 done, 1 the DriveIcons key cannot be opened, 2
    // it cannot be queried, 3 an entry of the program could not be deleted (it is left as it was).
    static int RemoveAllZentraIconReg();

    // Destroys the splash window and frees its bitmap.
    void CloseSplash();

    // The path of the selection file that a wizard or page wrote last before it opened the copy-progress dialog
    // without a tree of its own.
    CString m_strCurrentSelectionFile;

protected:
    // The steps of the start-up sequence, in their order.
    BOOL HandOverToRunningInstance();
    BOOL InitConfigFolder(const CString& strProgramFolder);
    void ReadMainIni();
    void LoadLanguageLibrary(const CString& strProgramFolder);
    BOOL OpenSystemLog();
    BOOL ProcessCommandLine();
    void ShowSplash(const CString& strProgramFolder);
    void ReadDriveType();
    void ReadRunMode();
    // Hands the disk configuration what it needs of the Expert Mode dialog and its pages.
    void InstallConfigDiskHooks();
    void RunConfigDiskWizard();
    int RunMainLoop();

    // RemoveAllZentraIconReg, with an entry that could not be deleted reported in the system log.
    void RemoveExplorerDriveIcons();

    static BOOL IsValidLangFileName(const CString& strName);
    static LANGID DetectUILanguage();
    // The language library loaded from "Lang", or null while the built-in English resources serve.
    HMODULE GetLanguageLibrary() const { return m_hLanguageLibrary; }

    // Members in the order of the application's data model.
    BOOL m_bAnyDriveType = FALSE;
    CString m_strConfigPath;
    CString m_strMainIniPath;
    CString m_strRootKey;
    CExpertModeDlg* m_pExpertDlg = nullptr;
    CXMLLog m_systemLog;
    unsigned m_nStartFlags = 0;
    std::unique_ptr<CEnclosureWnd> m_pEnclosureWnd;
    std::unique_ptr<CBackManager> m_pBackManager;
    std::unique_ptr<CZentraManager> m_pZentraManager;
    CWnd* m_pCurrentDialog = nullptr;
    BOOL m_bDebugMode = FALSE;
    CSplash m_splash;

    HANDLE m_hInstanceSemaphore = nullptr;
    HMODULE m_hLanguageLibrary = nullptr;

    DECLARE_MESSAGE_MAP()
};
