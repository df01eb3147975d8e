// CExpertRestore: the Instant Restore page of the Expert Mode dialog (dialog 1100).
//
// The user picks a drive that holds backups (1107, its icon 1236), one backup set on it (1108), the items of the set
// in a restore tree (1109), where to restore them (the original place, or a chosen folder 1101 with or without each
// file's path in the set) and what to do with a file of the same name but different content (1116), and starts the
// restore (1156) through the copy-progress dialog. While the user chooses, a counting job keeps the size of the
// checked items up to date (1110 bytes, 1111 folders, 1112 files, 1118 its state); a change while it counts starts
// exactly one new count when it ends. The choices persist under "Expert\Restore".
//
// The copy-progress dialog takes over the last count only when that count finished whole and nothing changed since;
// otherwise it counts for itself. GUI thread only.
#pragma once

#include "engine/BackJob.h"
#include "engine/ShellTreeCtrl.h"
#include "workflows/ExpertPage.h"

#include "platform/afx/ComboBox.h"

class CExpertRestore : public CExpertPage {
    DECLARE_DYNAMIC(CExpertRestore)
public:
    enum { IDD = 1100 };

    explicit CExpertRestore(CWnd* pParentWnd = nullptr);
    ~CExpertRestore() override;

    BOOL OnInitDialog() override;
    BOOL PreTranslateMessage(MSG* pMsg) override;

    CShellTreeCtrl* GetSourceTree() override { return &m_tree; }
    // The shell's changes: files and folders of the shown set reach the tree; drives and sets that come and go
    // change the lists.
    LRESULT OnShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2) override;
    BOOL IsBusy() const override { return m_bBrowsing; }
    BOOL IsCounting() const override { return m_pCountJob != nullptr; }
    void StopCount(BOOL bRestart) override;
    // After a backup wrote new data: the drives and sets again, the tree reloaded (lParam: how).
    void OnRefreshSources(LPARAM lParam) override;
    void StopRunningJobs() override;

    // Start Restore (1156): the checks, the settings stored, the copy-progress dialog.
    void OnStartRestore();

    int GetPathOption() const { return m_nRestorePathOption; }
    const CString& GetDestPath() const { return m_strDestPath; }
    int GetCoverOption() const;
    CComboBox& GetDriveCombo() { return m_driveCombo; }
    CComboBox& GetSetCombo() { return m_setCombo; }
    CComboBox& GetCoverCombo() { return m_coverCombo; }
    CShellTreeCtrl& GetTree() { return m_tree; }
    // The settings key "Expert\Restore" below the program's key.
    static CString GetSettingsKey();
    // The path of "ExpertManualRestore.rpr" in the Config folder.
    static CString GetSelectionPath();

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void FillSetCombo();
    void FillTree();
    void UpdateDriveIcon();
    void OnDriveChanged();
    void UpdatePathControls();
    void ApplyOptions();
    // A new count of the checked items (or the figures at 0 when nothing is checked).
    void Recount();
    BOOL StartCount();
    void ShowCounts(const JOB_STATUS* pStatus);
    BOOL HasSelection() const;
    BOOL IsInSelectedSet(const CString& strPath);
    void OnRemovedFolder(const CString& strPath, LPCITEMIDLIST pidl);
    CString SelectedSetPath();
    // The Outlook Express identities of the tree paired with this computer's; FALSE stops the restore.
    BOOL PairOEIdentities();
    // With the original place as the path option: FALSE, after saying so, when a checked drive of the set is not
    // on this computer.
    BOOL OriginalDrivesPresent();
    void StoreSettings();
    int Message(UINT nTextId, LPCTSTR lpszText, UINT nType);

    void OnOriginalPath();
    void OnSelectedPath();
    void OnBrowse();
    void OnDriveSelChange();
    void OnSetSelChange();
    void OnCoverChange();
    LRESULT OnJobEvent(WPARAM wParam, LPARAM lParam);
    LRESULT OnCheckChanged(WPARAM wParam, LPARAM lParam);
    void OnDestroy();

    int m_nRestorePathOption = 1;
    CString m_strDestPath;
    CBackJob* m_pCountJob = nullptr;
    BOOL m_bRestartCount = FALSE;
    BOOL m_bCountCancelled = FALSE;
    BOOL m_bBrowsing = FALSE;
    // The last finished count: the four first counters and the two 64-bit sizes, as the copy-progress dialog reads
    // them; valid only while the count finished whole and nothing changed since.
    DWORD m_adwTotals[8] = {};
    BOOL m_bTotalsValid = FALSE;

    CComboBox m_driveCombo;
    CComboBox m_setCombo;
    CComboBox m_coverCombo;
    CShellTreeCtrl m_tree;
    HICON m_hDriveIcon = nullptr;

    DECLARE_MESSAGE_MAP()
};
