// CSysManDismountDlg: "Close Secure Disk" (dialog 2700): closes one of the opened secure disks, chosen in combo box
// 2702 by its drive name. The outcome is shown and logged; the dialog closes either way (IDOK once the disk is
// closed). A disk the driver could not dismount stays open and is offered again next time.
#pragma once

#include "platform/afx/ComboBox.h"
#include "platform/afx/Dialog.h"

class CSysManDismountDlg : public CDialog {
    DECLARE_DYNAMIC(CSysManDismountDlg)
public:
    enum { IDD = 2700 };
    explicit CSysManDismountDlg(CWnd* pParent = nullptr);

    // The drive chosen ("X:").
    CString m_strDrive;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);

    DECLARE_MESSAGE_MAP()

private:
    CComboBox m_disks;
};
