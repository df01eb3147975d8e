// VyxMainDlg: the main menu dialog (2300, "Kovra - Main Menu"), the program's main window.
//
// The start-up sequence runs it modally and its modal loop is the program's main loop. It owns the program's
// notification-area icon and tray menu (CTrayDialog), decides at start which dialog the user sees, brings back
// the current dialog from the tray, and ends the program on Exit or when the user's session ends.
//
// What stands here: the start-up decision, the tray icon and menu, bringing dialogs back, the Expert Mode and
// System Settings switches, Exit and the session end. The Instant Backup and Instant Restore wizards, the
// copy-progress dialog, the tray animation of running backups, the round buttons, the background picture and the
// about box join as they are built; the commands that lead to them stay greyed until then.
//
// GUI thread only.
#pragma once

#include "app/TrayDialog.h"

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

    void OnTrayLButtonDblClk(CPoint pt) override;
    void OnTrayRButtonDown(CPoint pt) override;

protected:
    void OnDestroy();
    void OnTimer(UINT_PTR nIDEvent);
    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnShowWindow(BOOL bShow, UINT nStatus);
    BOOL OnQueryEndSession();
    void OnOK() override;
    void OnCancel() override;
    void OnOpenKovra();
    void OnExpertMode();
    // The Instant Backup wizard: its source page and the selection in "ManualBackup.rpr". The copy itself joins
    // with the destination page and the copy-progress dialog.
    void OnInstantBackup();
    void OnSystemSettings();
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

    HICON m_hIcon = nullptr;
    BOOL m_bStartupDone = FALSE;
    CBackupWizard* m_pBackupWizard = nullptr;
};
