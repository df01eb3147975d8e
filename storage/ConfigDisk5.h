// CConfigDisk5: page 5 (3700) of the Quick Configure Wizard, which does the work the earlier pages collected:
// it repartitions the chosen disk (a public partition and, when asked for, a secure one), formats the public
// partition NTFS, copies the newest setup program onto it, creates the secure disk on the second partition,
// formats it, stamps the secure-partition marker and stores the secure-disk options.
//
// The work runs on one worker thread, one stage at a time; the page decides the next stage on the GUI thread:
//
//     stage  worker                                      reported by
//     0      partitioning (CreatePartition)               WM_CONFIG_NOTIFY, 0 or 1606
//     1      format of the public partition              WM_FORMAT_NOTIFY, turned into WM_CONFIG_NOTIFY (1 done)
//     2      CopySetupApp                                 WM_CONFIG_NOTIFY (0, 0)
//     3      CreateSecureDrive                            WM_CONFIG_NOTIFY, 0 or the error
//     4      format of the secure disk                   WM_FORMAT_NOTIFY, turned into WM_CONFIG_NOTIFY (1 done)
//
// A stage that failed ends the run there: a disk that could not be partitioned is not formatted, and a secure
// disk that could not be created leaves whatever volume holds its letter alone. The Auto-Backup and schedule
// settings are dropped only once the new layout stands. Whatever failed, the wizard can prepare the disk again.
// The worker's record is shared with the page, so a worker that is still busy when the page goes (the page waits
// five seconds for it) finds its record intact and its messages to the page are simply not delivered.
//
// Messages are in the two status lines and the event log; no message box is shown during the run. The page posts
// WM_CONFIG_DONE to the wizard when everything has ended.
#pragma once

#include "storage/FormatVolume.h"

#include "app/WizardPage.h"

#include "platform/afx/AnimateCtrl.h"

#include <atomic>
#include <memory>

constexpr UINT WM_CONFIG_NOTIFY = WM_USER + 16;
constexpr UINT WM_CONFIG_DONE = WM_USER + 17;

// What the worker needs of the Expert Mode dialog and its Auto-Backup and Schedule Backup pages, which stand above
// the storage devices; the program hands it over at start. An empty entry does nothing.
struct CONFIG_DISK_HOOKS {
    void (*pfnDestroyPages)() = nullptr;         // the Expert Mode dialog takes its pages down
    void (*pfnInitPages)() = nullptr;            // and builds them again
    void (*pfnRemoveBackupSettings)() = nullptr; // the Auto-Backup and Schedule Backup settings are dropped
};

// The configuration record, shared by the page and the worker thread.
struct CONFIG_CONTEXT {
    CONFIG_CONTEXT() = default;
    CONFIG_CONTEXT(const CONFIG_CONTEXT&) = delete;
    CONFIG_CONTEXT& operator=(const CONFIG_CONTEXT&) = delete;
    ~CONFIG_CONTEXT();

    UINT nDiskNumber = 0;
    CString strPassword;
    // The worker may move the public letter to the one the system gave the new public partition.
    std::atomic<UINT> nPublicIndex{0};
    UINT nSecureIndex = 0;
    ULONGLONG ullPublicMB = 0;
    ULONGLONG ullSecureMB = 0;
    HWND hNotifyWnd = nullptr;
    HANDLE hStageEvent = nullptr;
    std::atomic<FORMAT_INFO*> pRunningFormat{nullptr};
    FORMAT_INFO* pFormatInfo = nullptr;
    std::atomic<UINT> nStage{0};
    std::atomic<UINT> bExit{0};
    UINT nFailedFormats = 0;
    // Read on the GUI thread before the work starts: the disk's interface path and the two volume labels.
    CString strDiskPath;
    CString strPublicLabel;
    CString strSecureLabel;
};

class CConfigDisk5 : public CWizardPage {
    DECLARE_DYNAMIC(CConfigDisk5)
public:
    enum { IDD = 3700 };

    explicit CConfigDisk5(CWnd* pParentWnd = nullptr);
    ~CConfigDisk5() override;

    // Called by the wizard before the page first shows.
    void SetConfig(UINT nDiskNumber, LPCTSTR lpszPassword, UINT nPublicIndex, UINT nSecureIndex, ULONGLONG ullPublicMB,
                   ULONGLONG ullSecureMB, LPCTSTR lpszQuestion);
    void SetRememberPassword(BOOL bRemember) { m_bRememberPassword = bRemember; }

    static void SetHooks(const CONFIG_DISK_HOOKS& hooks);

    BOOL OnInitDialog() override;
    BOOL OnQueryCancel() override;
    void OnSetActive() override;

    // TRUE once the run has ended (successfully or not).
    BOOL IsFinished() const { return m_bFinished; }

    // The worker's stages, also used on their own.
    static DWORD CreatePartition(CONFIG_CONTEXT& context);
    static DWORD CreateSecureDrive(CONFIG_CONTEXT& context);
    static void CopySetupApp(UINT nPublicIndex);
    static BOOL PartitonPatch(UINT nDiskNumber, UINT nLetterIndex);
    static BOOL WaitDriveAccessible(UINT nLetterIndex);
    static BOOL IsDriveAccessible(UINT nLetterIndex);

    CAnimateCtrl m_animate;

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    LRESULT OnConfigNotify(WPARAM wParam, LPARAM lParam);
    LRESULT OnFormatNotify(WPARAM wParam, LPARAM lParam);
    void OnShowWindow(BOOL bShow, UINT nStatus);

    DECLARE_MESSAGE_MAP()

private:
    static unsigned ConfigThread(void* pParam);
    // Runs the context's current stage on the worker thread.
    static void RunStage(CONFIG_CONTEXT& context);
    static void StartStageFormat(CONFIG_CONTEXT& context, UINT nLetterIndex, const CString& strLabel);

    BOOL IsStartedFromExpertMode() const;
    void NextStage(UINT nStage);
    void PublicPartFailed();
    void SecurePartSucceeded();
    void SecurePartFailed();
    void FinishConfig(BOOL bCancelFormat);
    void Log(UINT nStringId, int nLine, int nType);

    std::shared_ptr<CONFIG_CONTEXT> m_pContext;
    HANDLE m_hThread = nullptr;
    BOOL m_bRememberPassword = FALSE;
    CString m_strQuestion;
    UINT m_nShellChecks = 0;
    BOOL m_bStarted = FALSE;
    BOOL m_bFinished = FALSE;

    static FORMAT_INFO s_formatInfo;
};
