// COneTouchSettingDlg: the "One Touch Button Setting" dialog (3000), which chooses what a press of the enclosure's
// one-touch button does: 3001 back up at once, 3003 nothing (the third choice, 3002, is never offered). The choice
// is stored as "OneTouch" under "Expert\SystemSetting"; a missing or unknown value counts as 3001.
#pragma once

#include "platform/afx/Dialog.h"

class COneTouchSettingDlg : public CDialog {
    DECLARE_DYNAMIC(COneTouchSettingDlg)
public:
    enum { IDD = 3000 };

    explicit COneTouchSettingDlg(CWnd* pParentWnd = nullptr);

    // The stored choice: 3001 or 3003.
    static DWORD ReadOneTouch();
    DWORD GetChoice() const { return m_dwChoice; }

    BOOL OnInitDialog() override;
    void OnOK() override;

protected:
    void OnChoose(UINT nId);
    void OnBackup() { OnChoose(3001); }
    void OnSchedule() { OnChoose(3002); }
    void OnNothing() { OnChoose(3003); }
    LRESULT OnHelpMsg(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    DWORD m_dwChoice = 3001;
};
