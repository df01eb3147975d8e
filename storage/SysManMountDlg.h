// CSysManMountDlg: "Open Secure Disk" (dialog 2800): opens the secure disk of a physical disk with the password the
// user types, optionally remembering it; below a frame it can show the stored security question as a reminder
// ("Password Prompt >>").
//
// A wrong password keeps the user in the dialog with the field cleared; any other outcome closes it (IDOK once the
// disk is open). GUI thread.
#pragma once

#include "platform/afx/ComboBox.h"
#include "platform/afx/Dialog.h"

class CPhysicalDrive;
class CZentraManager;

// Opens the disk's secure partition on the first free letter from C (into strDrive, "?:" when none), asking the
// manager again while the partition is not there yet (at most five calls). 0 or the Win32 error; logged either way.
DWORD OpenSecureDiskOnDisk(CPhysicalDrive* pDisk, LPCTSTR lpszPassword, CString& strDrive);

class CSysManMountDlg : public CDialog {
    DECLARE_DYNAMIC(CSysManMountDlg)
public:
    enum { IDD = 2800 };
    explicit CSysManMountDlg(CWnd* pParent = nullptr);

    // The letter the disk was opened on ("X:").
    CString m_strDrive;
    CString m_strPassword;
    int m_bRemember = 0;
    CString m_strQuestion;

    BOOL IsExpanded() const { return m_bExpanded; }

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnOK() override;
    void OnPasswordPrompt();
    void OnRememberPassword();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    // Collapsed, the dialog ends at the frame 811 and what lies outside it is disabled.
    void Expand(BOOL bExpand);

    DECLARE_MESSAGE_MAP()

private:
    CComboBox m_disks;
    CZentraManager* m_pManager = nullptr;
    BOOL m_bExpanded = TRUE;
};
