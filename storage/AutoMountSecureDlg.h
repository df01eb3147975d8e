// CAutoMountSecureDlg: the small "Open secure disk..." dialog (260) that opens the secure disk of a physical disk
// with the remembered password, without asking the user. It starts one worker thread, MountThread, on its first
// timer tick and ends itself when the thread reports, with the thread's result as its end code (0 or a Win32
// error); the caller reads the drive letter used afterwards.
//
// The thread asks the secure-disk manager to open the disk (the manager runs the mount on the calling thread and
// keeps its maps on its own), and asks the dialog, by messages sent to it, what only the window's thread may look at:
// the disk's partition name and whether the monitor tracks the new volume. The dialog cannot be closed while the
// thread runs, so the thread never writes into a dialog that is gone.
#pragma once

#include "platform/afx/Dialog.h"
#include "platform/afx/ProgressCtrl.h"

class CWinThread;

// The worker thread's record: disk number, password, the drive text it fills, the dialog, the thread-failed flag.
struct MOUNT_CONTEXT {
    DWORD dwDiskNumber = 0;
    const CString* pPassword = nullptr;
    CString* pDrive = nullptr;
    HWND hDialog = nullptr;
    DWORD* pThreadFailed = nullptr;
};

// The worker: 0 or the Win32 error (ERROR_NOT_READY when the disk is not there).
UINT MountThread(LPVOID pParam);

class CAutoMountSecureDlg : public CDialog {
    DECLARE_DYNAMIC(CAutoMountSecureDlg)
public:
    enum { IDD = 260 };
    explicit CAutoMountSecureDlg(CWnd* pParent = nullptr);
    // Waits for the worker thread when it is still finishing.
    ~CAutoMountSecureDlg() override;

    // Inputs.
    DWORD m_dwDiskNumber = 0;
    CString m_strPassword;
    // Output: the letter the thread used ("X:").
    CString m_strDrive;
    DWORD m_dwThreadFailed = 0;

protected:
    BOOL OnInitDialog() override;
    void DoDataExchange(CDataExchange* pDX) override;
    void OnCancel() override;
    void OnTimer(UINT_PTR nIDEvent);
    LRESULT OnMountDone(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryPartition(WPARAM wParam, LPARAM lParam);
    LRESULT OnQueryVolume(WPARAM wParam, LPARAM lParam);

    DECLARE_MESSAGE_MAP()

private:
    CProgressCtrl m_progress;
    CWinThread* m_pThread = nullptr;
    BOOL m_bDone = FALSE;
    MOUNT_CONTEXT m_context;
};
