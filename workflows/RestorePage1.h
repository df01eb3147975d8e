// RestorePage1: the source page of the Instant Restore wizard (dialog 3800): the drive that holds backups (3803,
// with its icon 3802), the backup set of one user and computer on it (3805), and what to restore in a restore tree
// of the set (3807). Next writes the tree's selection to "ExpressRestore.rpr" in the Config folder, which becomes
// the application's current selection file, and keeps the set's path for the copy-progress dialog.
//
// The tree is set up as a restore tree from the start, so that a set that appears later fills it as one. Shell
// changes reach the tree through the wizard; this page only follows the drives and sets that come and go, so no
// change reaches the tree twice. GUI thread only.
#pragma once

#include "app/WizardPage.h"
#include "engine/DesktopFolder.h"
#include "engine/ShellTreeCtrl.h"

#include "platform/afx/ComboBox.h"

class RestorePage1 : public CWizardPage {
    DECLARE_DYNAMIC(RestorePage1)
public:
    explicit RestorePage1(CWnd* pParentWnd = nullptr);
    ~RestorePage1() override;

    // The drives present that hold backups: bit n for the letter 'A' + n.
    static DWORD GetBackupDrives();
    // The path of "ExpressRestore.rpr" in the Config folder.
    static CString GetSelectionPath();

    BOOL OnInitDialog() override;
    BOOL OnQueryCancel() override { return TRUE; }
    LRESULT OnWizardBack() override { return 0; }
    LRESULT OnWizardNext() override;

    // A shell change, after the tree has had it: drives and sets that come and go. Returns 0.
    int OnShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);

    // The set's path (the restore tree's root), set when the page is left with Next.
    const CString& GetSetRootPath() const { return m_strSetRootPath; }
    CShellTreeCtrl& GetTree() { return m_tree; }
    CComboBox& GetDriveCombo() { return m_driveCombo; }
    CComboBox& GetSetCombo() { return m_setCombo; }

protected:
    void UpdateDriveIcon();
    void FillSetList();
    void FillTree();
    void UpdateButtons();
    // The drive list changed: icon, sets, the first set, the tree.
    void OnDriveChanged();
    BOOL HasSelection() const;
    // The selected drive's text ("X:") and its set folder and set root.
    CString SelectedDrive();
    CString SelectedSetRoot();
    void OnRemovedFolder(const CString& strPath);
    void MessageBox5059();

    void OnDriveSelChange();
    void OnSetSelChange();
    LRESULT OnCheckChanged(WPARAM wParam, LPARAM lParam);
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);
    void OnShowWindow(BOOL bShow, UINT nStatus);

    CString m_strSetRootPath;
    CShellTreeCtrl m_tree;
    CComboBox m_setCombo;
    CComboBox m_driveCombo;
    CDesktopFolder m_desktop;
    HICON m_hDriveIcon = nullptr;

    DECLARE_MESSAGE_MAP()
};
