// CFileErrorDlg: the "File Error" dialog (2200), which asks the user what to do about one file whose copy failed.
// Its result is the copy library's answer: "&Skip" 1, "&Replace" or "&Retry" 3 (copy again), "&Abort" 2. The
// caller sets the message text and the error code before DoModal. GUI thread only.
#pragma once

#include "platform/afx/Dialog.h"

class CFileErrorDlg : public CDialog {
    DECLARE_DYNAMIC(CFileErrorDlg)
public:
    enum { IDD = 2200 };

    explicit CFileErrorDlg(CWnd* pParentWnd = nullptr);

    CString m_strMessage;
    int m_nErrorCode = 0;

    BOOL OnInitDialog() override;
    void OnCancel() override;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    void OnSkip();
    void OnRetry();
    void OnAbort();
    void OnDestroy();

    DECLARE_MESSAGE_MAP()
};
