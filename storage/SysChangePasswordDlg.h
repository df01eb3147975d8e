// CSysChangePasswordDlg: "Change Password" (dialog 2600): changes the password of an opened secure disk and, at the
// same time, keeps or drops the remembered password and sets the security question.
//
// The list of opened secure disks follows the drive events while the dialog is open: it registers with the
// secure-disk manager once it has started and unregisters when its window goes, so no event reaches it afterwards.
// Every refusal is a message box; the dialog stays until a change succeeds (IDOK) or the user cancels. GUI thread.
#pragma once

#include "platform/afx/ComboBox.h"
#include "platform/afx/Dialog.h"

class CZentraManager;

class CSysChangePasswordDlg : public CDialog {
    DECLARE_DYNAMIC(CSysChangePasswordDlg)
public:
    enum { IDD = 2600 };
    explicit CSysChangePasswordDlg(CWnd* pParent = nullptr);

    CString m_strOldPassword;
    CString m_strNewPassword;
    CString m_strConfirmPassword;
    int m_bRemember = 0;
    CString m_strQuestion;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnDestroy();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    void OnPasswordFocus(int nID);
    void OnOldPasswordFocus() { OnPasswordFocus(2604); }
    void OnNewPasswordFocus() { OnPasswordFocus(2606); }
    void OnConfirmPasswordFocus() { OnPasswordFocus(2608); }
    void OnRememberPassword();
    LRESULT OnDriveNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnDelayedInit(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    CComboBox m_disks;
    CComboBox m_questions;
    CZentraManager* m_pManager = nullptr;
    BOOL m_bRegistered = FALSE;
};
