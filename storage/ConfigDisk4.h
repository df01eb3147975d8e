// CConfigDisk4: page 4 (3600) of the Quick Configure Wizard: the summary of the two parts with their drive letters
// and sizes, the choice to remember the secure disk's password, and the last warning before the disk is prepared.
//
// GUI thread only.
#pragma once

#include "app/WizardPage.h"

#include "platform/afx/ListCtrl.h"

class CConfigDisk4 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk4)
public:
    enum { IDD = 3600 };

    explicit CConfigDisk4(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}

    BOOL OnInitDialog() override;
    LRESULT OnWizardNext() override;
    void OnSetActive() override;

    // The rows from the sizes and drive texts below; with a secure part the remember-password choice shows.
    void FillSummary();

    CListCtrl m_list;
    ULONGLONG m_ullSecureMB = 0;
    ULONGLONG m_ullPublicMB = 0;
    CString m_strPublicDrive;
    CString m_strSecureDrive;
    BOOL m_bRememberPassword = FALSE;
    // The vertical distance from the check box's top to the note's top in the template.
    int m_nNoteGap = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
