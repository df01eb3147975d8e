// CLogTipsDlg: the "Event log tips" dialog (4101), which explains the log lists' balloon tips once and offers
// "Don't remind me again" (check box 1241). The caller reads m_bDontRemind after the dialog closed.
#pragma once

#include "platform/afx/Dialog.h"

class CLogTipsDlg : public CDialog {
    DECLARE_DYNAMIC(CLogTipsDlg)
public:
    enum { IDD = 4101 };

    explicit CLogTipsDlg(CWnd* pParentWnd = nullptr);

    // The state of "Don't remind me again" when the dialog closed with OK; 0 otherwise.
    int m_bDontRemind = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
};
