// CRememberPasswordDlg: "Remember Password Option" (dialog 4102), the confirmation the user must accept before the
// check box "Remember the password of Secure Disk" may stay checked. OK gives IDOK, Cancel IDCANCEL.
#pragma once

#include "platform/afx/Dialog.h"

class CRememberPasswordDlg : public CDialog {
    DECLARE_DYNAMIC(CRememberPasswordDlg)
public:
    enum { IDD = 4102 };
    explicit CRememberPasswordDlg(CWnd* pParent = nullptr);
};
