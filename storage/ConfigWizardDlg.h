// CConfigWizardDlg: the Quick Configure Wizard (2100, "Quick Configure Wizard"), which prepares a disk of the
// enclosure: the user picks a physical disk (CConfigDisk1, 3400), splits it into a public and a secure part
// (CConfigDisk2, 3500), gives the secure disk a password and a security question (CConfigDisk3, 4100), confirms a
// summary with a last warning (CConfigDisk4, 3600), and the last page (CConfigDisk5, 3700) does the work.
//
// Whoever runs the wizard adds the five pages in that order and runs it modally; the pages stay the caller's. The
// host carries what the pages collect from one page to the next. Page 3 is skipped both ways when the disk gets no
// secure part. Once the last page shows, the only ways out are Finish, which the page enables when the work has
// ended, and closing the window, which stops the work.
//
// GUI thread only.
#pragma once

#include "app/WizardDialog.h"
#include "storage/ConfigDisk1.h"
#include "storage/ConfigDisk2.h"
#include "storage/ConfigDisk3.h"
#include "storage/ConfigDisk4.h"
#include "storage/ConfigDisk5.h"

#include "platform/afx/Button.h"

class CConfigWizardDlg : public CWizardDialog {
    DECLARE_DYNAMIC(CConfigWizardDlg)
public:
    enum { IDD = 2100 };

    // bStartedFromExpertMode: Finish and Cancel show the Expert Mode dialog again, and the worker rebuilds its pages.
    explicit CConfigWizardDlg(CWnd* pParentWnd = nullptr, BOOL bStartedFromExpertMode = FALSE);

    BOOL OnInitDialog() override;
    void OnCancel() override;

    BOOL IsStartedFromExpertMode() const { return m_bStartedFromExpertMode; }

    CButton m_btnCancel;
    CButton m_btnNext;
    ULONGLONG m_ullTotalMB = 0;
    ULONGLONG m_ullSecureMB = 0;
    ULONGLONG m_ullPublicMB = 0;
    UINT m_nSecureIndex = 0;
    UINT m_nPublicIndex = 0;
    UINT m_nDiskNumber = static_cast<UINT>(-1);
    CString m_strPassword;
    CString m_strQuestion;
    UINT m_nQuestionId = static_cast<UINT>(-1);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnWizBack();
    void OnWizNext();
    void OnWizFinish();
    LRESULT OnConfigDone(WPARAM wParam, LPARAM lParam);
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    template <class TPage> TPage* Page() const { return dynamic_cast<TPage*>(GetPageById(TPage::IDD)); }
    // Page 4's rows from the collected sizes and letters.
    void FillSummary();
    // After Finish or Cancel: the Expert Mode dialog comes back when the wizard was started from it.
    void ReturnToExpertMode();

    BOOL m_bStartedFromExpertMode = FALSE;
    HICON m_hIcon = nullptr;
};
