// CLogFilterDlg: the "Event Logs" dialog (4000), which lets the user choose the entry types a log list shows:
// every entry (radio 4001) or warnings and errors only (radio 4002); debug entries join either choice in debug
// mode. Set the view mask before DoModal and read it after.
#pragma once

#include "platform/afx/Dialog.h"

class CLogFilterDlg : public CDialog {
    DECLARE_DYNAMIC(CLogFilterDlg)
public:
    enum { IDD = 4000 };

    explicit CLogFilterDlg(CWnd* pParentWnd = nullptr);

    void SetViewMask(int nMask) { m_nViewMask = nMask; }
    int GetViewMask() const { return m_nViewMask; }

    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    int m_nViewMask = 0;
};
