// CConfigDisk3: page 3 (4100) of the Quick Configure Wizard: the secure disk's password (at least 8 characters,
// typed twice) and its security question (a stock question or one the user types), each at most 64 characters.
//
// GUI thread only.
#pragma once

#include "app/WizardPage.h"

#include "platform/afx/ComboBox.h"

class CConfigDisk3 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk3)
public:
    enum { IDD = 4100 };

    explicit CConfigDisk3(CWnd* pParentWnd = nullptr) : CWizardPage(IDD, pParentWnd) {}

    BOOL OnInitDialog() override;
    LRESULT OnWizardNext() override;
    void OnSetActive() override;

    CComboBox m_cbQuestion;
    CString m_strPassword;
    CString m_strConfirm;
    CString m_strQuestion;
    // The stock question's string id, -1 when the text was typed.
    UINT m_nQuestionId = static_cast<UINT>(-1);

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()
};
