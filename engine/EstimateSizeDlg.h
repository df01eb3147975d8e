// CEstimateSizeDlg: the Estimate Size dialog (262). It runs a counting job over the caller's selection through the
// backup manager, shows the running totals and hands the final ones back. Results: 1 the count ended normally and
// the totals are valid; 2 the user cancelled; 3 no count could be started (the failure is shown, nothing waits for
// an end that never comes). The dialog never ends on its own before the job's end event. GUI thread only.
#pragma once

#include "engine/BackJob.h"

#include "platform/afx/Dialog.h"

class CShellTreeCtrl;

class CEstimateSizeDlg : public CDialog {
    DECLARE_DYNAMIC(CEstimateSizeDlg)
public:
    enum { IDD = 262 };

    explicit CEstimateSizeDlg(CWnd* pParentWnd = nullptr);

    CString m_strDestPath;
    CShellTreeCtrl* m_pTree = nullptr;
    DWORD dwEstimatedDirs = 0;
    DWORD dwTotalDirs = 0;
    DWORD dwEstimatedFiles = 0;
    DWORD dwTotalFiles = 0;
    LONGLONG llEstimatedSize = 0;
    LONGLONG llTotalFileSize = 0;

    BOOL OnInitDialog() override;
    void OnCancel() override;
    void OnOK() override {}

protected:
    LRESULT OnJobEvent(WPARAM wParam, LPARAM lParam);
    LRESULT OnEnd(WPARAM wParam, LPARAM lParam);

    CBackJob* m_pJob = nullptr;
    BOOL m_bCancelled = FALSE;

    DECLARE_MESSAGE_MAP()
};
