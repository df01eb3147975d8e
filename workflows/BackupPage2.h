// CBackupPage2: the destination page of the Instant Backup wizard (dialog 3300). It lists the eligible destination
// drives (the application object decides which), selects the one the user took last time ("Express\Backup":
// "DestDrive", "DestSerialNo", found again first by the volume serial number, then by the letter), shows the
// selected drive's file system, sizes and fullness chart, follows drives that come and go while it is shown, and
// stores the choice when the wizard starts the backup. Start is enabled exactly while a drive is selected.
// GUI thread only.
#pragma once

#include "app/ChartCtrl.h"
#include "app/WizardPage.h"

#include "platform/afx/ComboBox.h"
#include "platform/shell/idlist.h"

class CBackupPage2 : public CWizardPage {
    DECLARE_DYNAMIC(CBackupPage2)
public:
    explicit CBackupPage2(CWnd* pParentWnd = nullptr);
    ~CBackupPage2() override;

    BOOL OnInitDialog() override;
    LRESULT OnWizardBack() override { return 0; }
    LRESULT OnWizardNext() override { return 0; }
    BOOL OnWizardFinish() override;

    // A drive came or went (shell change notification): the list follows it. Returns 0.
    LRESULT OnDriveNotify(LONG lEvent, LPCITEMIDLIST pidl1);
    // Shows the selected drive, or blanks the figures and disables Start when there is none.
    void UpdateDestination();
    void ShowDriveInfo(LPCTSTR lpszRoot, BOOL bRedraw);

    // The destination root ("X:\") once the page has finished.
    const CString& GetDestinationPath() const { return m_strDestPath; }
    CComboBox& GetCombo() { return m_combo; }
    CChartCtrl& GetChart() { return m_chart; }
    ULONGLONG GetFreeBytes() const { return m_ullFreeBytes; }

    // The registry key of the page's settings ("<root>\Express\Backup").
    static CString GetSettingsKey();

protected:
    void OnSelChange();
    void OnShowWindow(BOOL bShow, UINT nStatus);
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);
    void SetDriveIcon(HICON hIcon, BOOL bOwned);

    CComboBox m_combo;
    CString m_strDestPath;
    CChartCtrl m_chart;
    ULONGLONG m_ullFreeBytes = ~0ull;
    HICON m_hDriveIcon = nullptr; // the shell's icon of the shown drive, owned by the page
    HICON m_hNoDriveIcon = nullptr;

    DECLARE_MESSAGE_MAP()
};
