// CManageSecureDiskDlg: "Manage Secure Disk" (dialog 2900), the one place that reaches the secure disk's dialogs:
// open (2905), change the password (2903) and close (2908), each offered only when there is a disk it can act on;
// "Exit" (2910) closes it with IDOK. GUI thread.
#pragma once

#include "platform/afx/Dialog.h"

class CManageSecureDiskDlg : public CDialog {
    DECLARE_DYNAMIC(CManageSecureDiskDlg)
public:
    enum { IDD = 2900 };
    explicit CManageSecureDiskDlg(CWnd* pParent = nullptr);

protected:
    BOOL OnInitDialog() override;
    void OnOpenSecureDisk();
    void OnChangePassword();
    void OnCloseSecureDisk();
    void OnExit();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);

    DECLARE_MESSAGE_MAP()
};
