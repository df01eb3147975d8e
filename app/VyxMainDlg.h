// VyxMainDlg: the main menu dialog (2300, "Kovra - Main Menu"), the program's main window.
//
// The start-up sequence runs it modally and its modal loop is the program's main loop. It owns the program's
// notification-area icon and tray menu (CTrayDialog), decides at start which dialog the user sees, brings back
// the current dialog from the tray, and ends the program on Exit or when the user's session ends.
//
// It shows four round picture buttons (Instant Backup, Instant Restore, Expert Mode, System Settings) under a
// banner picture, "bg_main.bmp" from the program's folder (the built-in bitmap 604 without it); its system menu
// carries the about box. While backups or restores run (WM_USER+1000, SetActivity) the tray icon is animated,
// restores before backups. Commands whose dialogs are not built yet stay greyed.
//
// GUI thread only.
#pragma once

#include "app/PictureButton.h"
#include "app/PictureWnd.h"
#include "shared/TrayDialog.h"

class CBackupWizard;

class VyxMainDlg : public CTrayDialog {
    DECLARE_DYNAMIC(VyxMainDlg)
public:
    enum { IDD = 2300 };

    explicit VyxMainDlg(CWnd* pParentWnd = nullptr);
    ~VyxMainDlg() override;

    BOOL OnInitDialog() override;

    // Whether the start-up timer found the Expert Mode dialog initialised and acted on the start flags.
    BOOL IsStartupDone() const { return m_bStartupDone; }
    // Whether the command of the tray menu or of a button is built yet.
    static BOOL IsCommandAvailable(UINT nID);

    // The Instant Backup wizard while it runs, else null.
    CBackupWizard* GetBackupWizard() const { return m_pBackupWizard; }

    // A backup (1) or a restore (2) started (TRUE) or ended (FALSE): the tray icon follows; answers 1.
    LRESULT SetActivity(int nType, BOOL bStarted);
    int GetRunningBackups() const { return m_nRunningBackups; }
    int GetRunningRestores() const { return m_nRunningRestores; }
    BOOL IsWizardRunning() const { return m_bWizardRunning; }
    // The main menu's button of a command (2310 to 2313), for those who look at it.
    CRoundButton* GetButton(int nID);
    CPictureWnd& GetPicture() { return m_picture; }
    void OnTrayLButtonDblClk(CPoint pt) override;
    void OnTrayRButtonDown(CPoint pt) override;

protected:
    void OnDestroy();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    LRESULT OnActivity(WPARAM wParam, LPARAM lParam);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    BOOL OnQueryEndSession();
    void OnOK() override;
    void OnCancel() override;
    void OnOpenKovra();
    void OnExpertMode();
    // The Instant Backup wizard: its source page and the selection in "ManualBackup.rpr". The copy itself joins
    // with the destination page and the copy-progress dialog.
    void OnInstantBackup();
    void OnInstantBackupButton();
    void OnTrayInstantBackup();
    // The main menu's and the tray menu's Instant Restore: the wizard and the restore it starts.
    void OnInstantRestore();
    void OnInstantRestoreButton();
    void OnTrayInstantRestore();
    void OnSystemSettings();
    void OnManageSecureDisk();
    void OnExit();
    LRESULT OnShowCurrentDialog(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryEnclosure(WPARAM wParam, LPARAM lParam);
    LRESULT OnKickIdle(WPARAM wParam, LPARAM lParam);
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    // Shows the recorded current dialog again (tray double-click, "Open Kovra").
    void BringBackCurrentDialog();
    void CenterWindowOnScreen();

    // Sets up the banner picture and the four buttons.
    void InitPictureAndButtons();

    CPictureWnd m_picture;
    CRoundButton m_btnSystemSettings;
    CRoundButton m_btnInstantRestore;
    CRoundButton m_btnExpertMode;
    CRoundButton m_btnInstantBackup;
    HICON m_hIcon = nullptr;
    BOOL m_bStartupDone = FALSE;
    int m_nRunningBackups = 0;
    int m_nRunningRestores = 0;
    BOOL m_bWizardRunning = FALSE;
    CBackupWizard* m_pBackupWizard = nullptr;
};
