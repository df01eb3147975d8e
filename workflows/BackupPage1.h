// CBackupPage1: the source page of the Instant Backup wizard (dialog 3200): the source tree (control 3202) filled
// with the agents' roots, the previous selection restored from "ManualBackup.rpr" in the Config folder, and the
// selection written there again when the wizard finishes, as the application's current selection file.
//
// The wizard moves on only while something is checked. A selection file that cannot be written keeps the wizard
// open with a message, so that no older selection is backed up in its place. GUI thread only.
#pragma once

#include "app/WizardPage.h"
#include "engine/ShellTreeCtrl.h"

class CBackupPage1 : public CWizardPage {
    DECLARE_DYNAMIC(CBackupPage1)
public:
    CBackupPage1(CWnd* pParentWnd, int nLoadSelection);
    ~CBackupPage1() override;

    BOOL OnInitDialog() override;
    BOOL OnQueryCancel() override { return TRUE; }
    LRESULT OnWizardBack() override { return 0; }
    LRESULT OnWizardNext() override;
    BOOL OnWizardFinish() override;

    CShellTreeCtrl& GetTree() { return m_tree; }
    // The path of "ManualBackup.rpr" in the Config folder.
    static CString GetSelectionPath();
    void ApplyFilter();

protected:
    void UpdateButtons();
    LRESULT OnCheckChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);
    void OnShowWindow(BOOL bShow, UINT nStatus);

    CShellTreeCtrl m_tree;
    int m_nLoadSelection;

    DECLARE_MESSAGE_MAP()
};
