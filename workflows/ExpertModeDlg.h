// CExpertModeDlg: the Expert Mode dialog (900, "Kovra - Expert Mode"), the long-lived hub of the backup
// workflows.
//
// The application object creates it modeless and hidden at start and keeps it until the program ends; the user
// sees it when the main menu switches to Expert Mode or "RunMode" says so. It drives the tail of the start-up
// (the scan of the secure disks, the one-touch action asked for on the command line), decides whether the
// program may exit, and opens log files in the log viewer.
//
// What stands here: the dialog with its Close and "<< Main Menu" commands, the start-up steps, the
// exit decision and the event-log tips reminder. The five pages (Auto-Backup, Schedule Backup, Instant Backup,
// Instant Restore, System) join with the workflows; until then the tab control is empty, nothing runs, so the
// dialog is never busy and an exit needs no question.
//
// GUI thread only.
#pragma once

#include "platform/afx/Dialog.h"

class CComboBox;
class CExpertSystemSetting;

class CExpertModeDlg : public CDialog {
    DECLARE_DYNAMIC(CExpertModeDlg)
public:
    enum { IDD = 900 };

    CExpertModeDlg();
    ~CExpertModeDlg() override;

    // Creates the dialog modeless and hidden, without a parent.
    BOOL Create();

    // TRUE once the start-up timer has built the pages.
    BOOL IsInitialized() const { return m_bInitialized; }
    // The start-up scan of the secure disks on enclosure disks; quiet for a minimised start.
    void ScanSecureDrives(BOOL bQuiet);
    // Selects and shows the page of the tab (4 is the System page).
    void ShowPage(int nTab);
    CExpertSystemSetting* GetSystemSettingPage() const { return m_pSystemPage; }
    // TRUE while a page has one of its own modal dialogs open.
    BOOL IsBusy() const;
    // Asks before ending Auto-Backup or the schedule (message 5021); FALSE when the user keeps them. Otherwise
    // stops what runs and returns TRUE.
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
    // Shows the "Event log tips" dialog unless the user turned it off; the remaining reminder flag.
    int ShowLogTips();

    // The secure-disk options under "Expert\Secure" (automatic mounting, the remembered password, the security
    // question); the store itself is the storage's (CSecureSetting), which the secure-disk dialogs use directly.
    static BOOL SetSecureSetting(BOOL bAutoMount, LPCTSTR lpszPassword);
    static BOOL GetSecureSetting(CString* pPassword = nullptr);
    static BOOL SetSecureQuestion(LPCTSTR lpszQuestion);
    static void GetSecureQuestion(CString& strQuestion, CComboBox* pCombo = nullptr);

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

protected:
    void OnOK() override;
    void OnCancel() override;
    void OnTimer(UINT_PTR nIDEvent);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    void OnEndSession(BOOL bEnding);
    void OnClose();
    void OnMainMenu();
    LRESULT OnShowCurrentDialog(WPARAM wParam, LPARAM lParam);
    LRESULT OnDiskStepDone(WPARAM wParam, LPARAM lParam);
    LRESULT OnLastStartupStep(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryEnclosure(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    BOOL m_bInitialized = FALSE;
    BOOL m_bStartup = TRUE;
    BOOL m_bQuiet = FALSE;
    DWORD m_dwPendingDisks = 0;
    HICON m_hIcon = nullptr;
    CExpertSystemSetting* m_pSystemPage = nullptr;
    CWnd* m_pActiveWizard = nullptr;
};
