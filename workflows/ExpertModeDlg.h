// CExpertModeDlg: the Expert Mode dialog (900, "Kovra - Expert Mode"), the long-lived hub of the backup
// workflows.
//
// The application object creates it modeless and hidden at start and keeps it until the program ends; the user
// sees it when the main menu switches to Expert Mode or "RunMode" says so. It holds the five Expert Mode pages in
// its tab control (Auto-Backup, Schedule Backup, Instant Backup, Instant Restore, System: CExpertPage, each built
// from its own dialog template), drives the tail of the start-up (the scan of the secure disks, the one-touch
// action asked for on the command line), hands the shell's changes and the file-name filter to the pages, decides
// whether the program may exit, and opens log files in the log viewer.
//
// The page list in ExpertModeDlg.cpp names each tab's page; a tab whose page is not there stays an empty tab.
//
// GUI thread only.
#pragma once

#include "app/PictureWnd.h"
#include "workflows/ExpertPage.h"

#include "platform/afx/Dialog.h"
#include "platform/afx/ImageList.h"
#include "platform/afx/TabCtrl.h"

#include <array>
#include <memory>

class CComboBox;
class CExpertBackup;
class CExpertMonitor;
class CExpertRestore;
class CExpertSchedule;
class CExpertSystemSetting;
struct NMHDR;

class CExpertModeDlg : public CDialog {
    DECLARE_DYNAMIC(CExpertModeDlg)
public:
    enum { IDD = 900 };
    // The tabs, in their visible order.
    enum { kAutoBackupTab = 0, kScheduleTab = 1, kInstantBackupTab = 2, kInstantRestoreTab = 3, kSystemTab = 4,
           kPageCount = 5 };

    CExpertModeDlg();
    ~CExpertModeDlg() override;

    // Creates the dialog modeless and hidden, without a parent.
    BOOL Create();

    // Builds the missing pages and their tabs and selects the stored tab ("Expert\CurPage"); a dialog that was
    // initialised before scans the secure disks again.
    void InitPages();
    // Stores the selected tab and destroys the pages and their tabs.
    void DestroyPages();
    // TRUE once the start-up timer has built the pages.
    BOOL IsInitialized() const { return m_bInitialized; }
    // The start-up scan of the secure disks on enclosure disks; quiet for a minimised start.
    void ScanSecureDrives(BOOL bQuiet);
    // Selects tab nTab and shows its page (4 is the System page).
    void ShowPage(int nTab);
    // The selected tab's index, -1 when none.
    int GetCurrentTab() const;
    // The page of a tab, null while it does not exist (or its tab stays empty).
    CExpertPage* GetPage(int nTab) const;
    // The pages by their classes, null while they do not exist. (Templates so that callers that know the page's
    // class need nothing more of it here.)
    template <class TPage = CExpertBackup> TPage* GetBackupPage() const {
        return dynamic_cast<TPage*>(GetPage(kInstantBackupTab));
    }
    template <class TPage = CExpertRestore> TPage* GetRestorePage() const {
        return dynamic_cast<TPage*>(GetPage(kInstantRestoreTab));
    }
    template <class TPage = CExpertSchedule> TPage* GetSchedulePage() const {
        return dynamic_cast<TPage*>(GetPage(kScheduleTab));
    }
    template <class TPage = CExpertMonitor> TPage* GetMonitorPage() const {
        return dynamic_cast<TPage*>(GetPage(kAutoBackupTab));
    }
    template <class TPage = CExpertSystemSetting> TPage* GetSystemSettingPage() const {
        return dynamic_cast<TPage*>(GetPage(kSystemTab));
    }
    // TRUE while a page has one of its own modal dialogs open.
    BOOL IsBusy() const;
    // The exit decision: asks before ending Auto-Backup or the schedule (message 5021) and answers FALSE when the
    // user keeps them. Otherwise ends an open copy-progress dialog (closed when its run has finished, its job
    // cancelled when it still runs), stops the pages' counts and answers TRUE.
    BOOL ConfirmExit();
    // Stops everything the pages run (jobs, Auto-Backup, the schedule) and returns once it has stopped. The
    // program calls it at shut-down, whatever ended the main loop, before it destroys the windows and agents the
    // jobs use.
    void StopRunningJobs();
    // The application's idle time; 1.
    int OnIdle(LONG lCount);
    // The Instant wizard open from the main menu, or null.
    void SetActiveWizard(CWnd* pWizard) { m_pActiveWizard = pWizard; }
    CWnd* GetActiveWizard() const { return m_pActiveWizard; }
    // The Instant Backup page reloads its saved selection.
    void ReloadBackupSelection();
    // The Instant Backup, Auto-Backup and Schedule Backup pages refresh their free-space figures when their
    // destination is drive 'A' + nLetterIndex (WM_USER+3115).
    void NotifyDestSpaceChanged(int nLetterIndex);
    // The file-name filter for the source trees of the Instant Backup, Auto-Backup, Schedule Backup and Instant
    // Restore pages; with bReload each tree is built again.
    void ApplyFilter(LPCTSTR lpszFilter, BOOL bReload);
    // Shows the "Event log tips" dialog unless the user turned it off; the remaining reminder flag.
    int ShowLogTips();
    // Sets (bSet) or removes Explorer's icon and label of drive letter cLetter: the secure-disk or, with bPublic, the
    // public-disk picture of the program's executable ("DriveIcons" under HKEY_LOCAL_MACHINE). Removing takes only
    // what the program set. FALSE when the registry refused (for lack of rights, say); the refusal is logged.
    static BOOL SetExplorerDriveIcon(TCHAR cLetter, BOOL bSet, BOOL bPublic);

    // The secure-disk options under "Expert\Secure" (automatic mounting, the remembered password, the security
    // question); the store itself is the storage's (CSecureSetting), which the secure-disk dialogs use directly.
    static BOOL SetSecureSetting(BOOL bAutoMount, LPCTSTR lpszPassword);
    static BOOL GetSecureSetting(CString* pPassword = nullptr);
    static BOOL SetSecureQuestion(LPCTSTR lpszQuestion);
    static void GetSecureQuestion(CString& strQuestion, CComboBox* pCombo = nullptr);

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnCancel() override;
    void OnTimer(UINT_PTR nIDEvent);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    void OnEndSession(BOOL bEnding);
    void OnDestroy();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    void OnClose();
    void OnMainMenu();
    void OnLoadLog();
    void OnMountNasShare();
    void OnTabChanging(NMHDR* pNMHDR, LRESULT* pResult);
    void OnTabChange(NMHDR* pNMHDR, LRESULT* pResult);
    LRESULT OnShowCurrentDialog(WPARAM wParam, LPARAM lParam);
    LRESULT OnDiskStepDone(WPARAM wParam, LPARAM lParam);
    LRESULT OnLastStartupStep(WPARAM wParam, LPARAM lParam);
    LRESULT OnPageJobEnded(WPARAM wParam, LPARAM lParam);
    LRESULT OnRefreshRestoreSources(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryEnclosure(WPARAM wParam, LPARAM lParam);
    LRESULT OnOpenSecureDisk(WPARAM wParam, LPARAM lParam);
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnShellNotify(WPARAM wParam, LPARAM lParam);

    // Makes the page of a tab from the page list (null for a tab that stays empty).
    virtual std::unique_ptr<CExpertPage> NewPage(int nTab);

    DECLARE_MESSAGE_MAP()

private:
    // Ends an open copy-progress dialog as at the exit; FALSE when none is open.
    BOOL EndProgressDialog();
    // The page of a tab item (its item data), or null.
    CExpertPage* PageOfTab(int nTab) const;
    // Registers the dialog for the shell's changes below the item ID list (bRegister), or ends the registration.
    BOOL RegisterShellNotify(BOOL bRegister, LPCITEMIDLIST pidl);

    CPictureWnd m_picture;
    CTabCtrl m_tab;
    HICON m_hIcon = nullptr;
    int m_nPreviousTab = 0;
    DWORD m_dwPendingDisks = 0;
    BOOL m_bInitialized = FALSE;
    BOOL m_bStartup = TRUE;
    BOOL m_bQuiet = FALSE;
    DWORD m_dwPendingStops = 0;
    std::array<std::unique_ptr<CExpertPage>, kPageCount> m_apPages;
    CWnd* m_pActiveWizard = nullptr;
    CImageList m_imageList;
    HMODULE m_hShell32 = nullptr;
    ULONG m_nShellNotifyId = 0;
    DWORD m_dwVersion = 0;
    DWORD m_dwMajorVersion = 0;
    DWORD m_dwMinorVersion = 0;
};
