// CBackupWizard: the frame of the Instant Backup wizard (mode 1) and of the Instant Restore wizard (mode 2), dialog
// 490 with Back, Next, Start and Cancel over the page placeholder 140.
//
// While a frame exists the Expert Mode dialog holds it as the open wizard; the constructor sets and the destructor
// clears that record. Mode 1 holds the source page 3200 (CBackupPage1); the destination page 3300 and the restore
// pages join when they are built, and until then page 3200 is the last page, so Start follows what it allows.
// GUI thread only.
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
