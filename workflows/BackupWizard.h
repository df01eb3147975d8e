// CBackupWizard: the frame of the Instant Backup wizard (mode 1) and of the Instant Restore wizard (mode 2), dialog
// 490 with Back, Next, Start and Cancel over the page placeholder 140.
//
// While a frame exists the Expert Mode dialog holds it as the open wizard; the constructor sets and the destructor
// clears that record. Mode 1 holds the source page 3200 (CBackupPage1) and the destination page 3300
// (CBackupPage2); mode 2 the restore pages 3800 (RestorePage1) and 3900 (RestorePage2). RunInstantBackup and
// RunInstantRestore are the whole roads of one Instant Backup and one Instant Restore from the wizard to the
// copy-progress dialog. GUI thread only.
#pragma once

#include "app/WizardDialog.h"

#include "platform/shell/idlist.h"

class CBackupWizard : public CWizardDialog {
    DECLARE_DYNAMIC(CBackupWizard)
public:
    CBackupWizard(int nMode, CWnd* pParentWnd);
    ~CBackupWizard() override;

    void SetTitleId(UINT nTitleId) { m_nTitleId = nTitleId; }
    int GetMode() const { return m_nMode; }
    // A shell change while the wizard is open: the first page's tree hears of it.
    LRESULT OnShellNotify(LONG lEvent, LPCITEMIDLIST pidl1, LPCITEMIDLIST pidl2);
    // Next if on the first page, then Start, whatever the buttons show.
    void FinishNow();

    // The Instant Backup: the wizard (the previous selection restored when asked), then, when it ends with Start,
    // the copy-progress dialog to the chosen drive with the size estimate and the free-space test first. While the
    // wizard runs *ppOpen names it. A backup or restore already running keeps a second one from starting, and the
    // user is told so. Returns the copy-progress dialog's result, or 0 when no backup ran.
    static INT_PTR RunInstantBackup(CWnd* pParent, int nLoadSelection, CBackupWizard** ppOpen);
    // The Instant Restore: message 5059 and nothing more when no drive holds backups; else the wizard (the drive,
    // the set and what of it on the first page, where to and what of existing files on the second) and, when it
    // ends with Start, the copy-progress dialog restoring the set's selection as the second page said. Returns the
    // copy-progress dialog's result, or 0 when no restore ran.
    static INT_PTR RunInstantRestore(CWnd* pParent, CBackupWizard** ppOpen);

    BOOL OnInitDialog() override;
    void OnCancel() override;

protected:
    void OnNextButton();
    void OnBackButton();
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    UINT m_nTitleId = 0;
    int m_nMode = 1;

    DECLARE_MESSAGE_MAP()
};
