#include "storage/ConfigDisk5.h"

#include "storage/ConfigWizardDlg.h"

#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"
#include "storage/SecureSetting.h"
#include "storage/ZentraManager.h"
#include "storage/ZentraObj.h"

#include "app/BrannicApp.h"
#include "copylib/Brannic.h"
#include "engine/ItemIDList.h"

#include "platform/afx/DataExchange.h"
#include "platform/base/clock.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/fs/files.h"
#include "platform/fs/find.h"
#include "platform/fs/volumes.h"
#include "platform/kernel/device_io.h"
#include "platform/kernel/ioctl.h"
#include "platform/system/sysinfo.h"

IMPLEMENT_DYNAMIC(CConfigDisk5, CWizardPage)

BEGIN_MESSAGE_MAP(CConfigDisk5, CWizardPage)
ON_MESSAGE(WM_CONFIG_NOTIFY, OnConfigNotify)
ON_MESSAGE(WM_FORMAT_NOTIFY, OnFormatNotify)
ON_WM_SHOWWINDOW()
END_MESSAGE_MAP()

FORMAT_INFO CConfigDisk5::s_formatInfo{};

namespace {
constexpr int IDC_ANIMATE = 1240;
constexpr int IDC_HINT = 1249;
constexpr int IDC_PUBLIC_STATUS = 3704;
constexpr int IDC_SECURE_LABEL = 3705;
constexpr int IDC_SECURE_STATUS = 3706;
constexpr UINT IDR_CONFIG_AVI = 256;
constexpr UINT IDS_PUBLIC_LABEL = 1550;
constexpr UINT IDS_SECURE_LABEL = 1551;
constexpr UINT IDS_COMPLETED = 3707;
constexpr UINT IDS_FAILED = 3708;
constexpr UINT IDS_PUBLIC_DONE = 3709;
constexpr UINT IDS_PUBLIC_FAILED = 3710;
constexpr UINT IDS_SECURE_DONE = 3711;
constexpr UINT IDS_SECURE_FAILED = 3712;
constexpr UINT IDS_SECURE_UNVERIFIED = 3713;
constexpr UINT IDS_CLOSE_APPLICATIONS = 3715;
constexpr DWORD kPartitionFailed = 1606;
constexpr UINT kMaxFormatAttempts = 7;
constexpr UINT kMaxShellChecks = 100;

CONFIG_DISK_HOOKS g_hooks;

CZentraManager* Manager() {
    auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp());
    return pApp ? pApp->GetZentraManager() : nullptr;
}

CString LoadText(UINT nId) {
    CString strText;
    strText.LoadString(nId);
    return strText;
}

CString DriveText(UINT nIndex) {
    CString strDrive;
    strDrive.Format(u"%c:", u'A' + static_cast<int>(nIndex));
    return strDrive;
}

// The disk number and partition number of the volume at the letter; FALSE when there is none.
BOOL GetVolumePlace(UINT nLetterIndex, DWORD& dwDisk, DWORD& dwPartition) {
    CString strDevice;
    strDevice.Format(u"\\\\.\\%c:", u'A' + static_cast<int>(nLetterIndex));
    HANDLE hVolume = ::CreateFileW(strDevice, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hVolume == INVALID_HANDLE_VALUE)
        return FALSE;
    STORAGE_DEVICE_NUMBER number{};
    DWORD dwReturned = 0;
    const BOOL bOk = ::DeviceIoControl(hVolume, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof(number),
                                       &dwReturned, nullptr);
    ::CloseHandle(hVolume);
    if (!bOk)
        return FALSE;
    dwDisk = number.DeviceNumber;
    dwPartition = number.PartitionNumber;
    return TRUE;
}

// The letter of the disk's first partition, -1 when it has none.
int FindPublicLetter(UINT nDiskNumber) {
    const DWORD dwLetters = ::GetLogicalDrives();
    for (int nIndex = 2; nIndex < 26; ++nIndex) {
        DWORD dwDisk = 0, dwPartition = 0;
        if ((dwLetters & (1u << nIndex)) && GetVolumePlace(static_cast<UINT>(nIndex), dwDisk, dwPartition) &&
            dwDisk == nDiskNumber && dwPartition == 1)
            return nIndex;
    }
    return -1;
}
} // namespace

CONFIG_CONTEXT::~CONFIG_CONTEXT() {
    if (hStageEvent)
        ::CloseHandle(hStageEvent);
}

CConfigDisk5::CConfigDisk5(CWnd* pParentWnd) : CWizardPage(IDD, pParentWnd) {
    m_pContext = std::make_shared<CONFIG_CONTEXT>();
    s_formatInfo = FORMAT_INFO{};
}

CConfigDisk5::~CConfigDisk5() {
    if (m_hThread)
        ::CloseHandle(m_hThread);
}

void CConfigDisk5::SetHooks(const CONFIG_DISK_HOOKS& hooks) {
    g_hooks = hooks;
}

void CConfigDisk5::SetConfig(UINT nDiskNumber, LPCTSTR lpszPassword, UINT nPublicIndex, UINT nSecureIndex,
                             ULONGLONG ullPublicMB, ULONGLONG ullSecureMB, LPCTSTR lpszQuestion) {
    CONFIG_CONTEXT& context = *m_pContext;
    context.nDiskNumber = nDiskNumber;
    context.strPassword = lpszPassword ? lpszPassword : u"";
    context.nPublicIndex = nPublicIndex;
    context.nSecureIndex = nSecureIndex;
    context.ullPublicMB = ullPublicMB;
    context.ullSecureMB = ullSecureMB;
    m_strQuestion = lpszQuestion ? lpszQuestion : u"";
}

void CConfigDisk5::DoDataExchange(CDataExchange* pDX) {
    CWizardPage::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_ANIMATE, m_animate);
}

void CConfigDisk5::Log(UINT nStringId, int nLine, int nType) {
    if (auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp()))
        pApp->LogId(nStringId, KOVRA_SOURCE_FILE, nLine, nType);
}

BOOL CConfigDisk5::OnInitDialog() {
    CWizardPage::OnInitDialog();
    if (m_animate.Open(IDR_CONFIG_AVI))
        m_animate.Play(0, static_cast<UINT>(-1), static_cast<UINT>(-1));
    if (CWnd* pLabel = GetDlgItem(IDC_SECURE_LABEL))
        pLabel->ShowWindow(SW_HIDE);
    if (CWnd* pStatus = GetDlgItem(IDC_SECURE_STATUS))
        pStatus->ShowWindow(SW_HIDE);

    auto* pApp = dynamic_cast<CBrannicApp*>(AfxGetApp());
    const BOOL bFromExpertMode = IsStartedFromExpertMode();
    if (pApp && pApp->GetExpertWnd()) {
        if (bFromExpertMode && g_hooks.pfnDestroyPages)
            g_hooks.pfnDestroyPages();
        // "AutoMount" goes off; a stored password stays but is no longer used.
        CSecureSetting::SetSecureSetting(FALSE, u"");
        CSecureSetting::SetSecureQuestion(u"");
    }

    CONFIG_CONTEXT& context = *m_pContext;
    context.hNotifyWnd = GetSafeHwnd();
    context.pFormatInfo = &s_formatInfo;
    context.strPublicLabel = LoadText(IDS_PUBLIC_LABEL);
    context.strSecureLabel = LoadText(IDS_SECURE_LABEL);
    context.nStage = 0;
    context.bExit = 0;
    context.nFailedFormats = 0;
    context.hStageEvent = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);

    // The disk's own secure disks close before its layout changes; the drive monitor lets go of its volumes, whose
    // handles would otherwise keep the old layout in place. What the worker needs of the disk is its path: it opens
    // the disk itself, so that a disk that goes meanwhile is never touched through a stale object.
    CZentraManager* pManager = Manager();
    CPhysicalDrive* pDisk = pManager && context.nDiskNumber != 0 && context.nDiskNumber != static_cast<UINT>(-1)
                                ? pManager->GetPhysicalDrive(static_cast<int>(context.nDiskNumber))
                                : nullptr;
    if (pDisk) {
        pManager->CloseSecureDisksOnDisk(pDisk);
        const DWORD dwVolumes = pDisk->GetLogicalDrivesBitmap();
        for (int nIndex = 0; nIndex < 26; ++nIndex) {
            if (!(dwVolumes & (1u << nIndex)))
                continue;
            if (CLogicalDrive* pVolume = pManager->GetLogicalDrive(nIndex)) {
                pVolume->UnRegisterHandleChange();
                pVolume->CloseDevice();
            }
        }
        context.strDiskPath = pDisk->GetInterfacePath();
    }

    m_bStarted = TRUE;
    if (!context.hStageEvent || context.strDiskPath.IsEmpty()) {
        // Nothing to prepare: the run ends as a failed partitioning would.
        PostMessage(WM_CONFIG_NOTIFY, kPartitionFailed, 0);
        return TRUE;
    }
    auto* pParam = new std::shared_ptr<CONFIG_CONTEXT>(m_pContext);
    unsigned uThreadId = 0;
    m_hThread = reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, ConfigThread, pParam, 0, &uThreadId));
    if (!m_hThread) {
        delete pParam;
        PostMessage(WM_CONFIG_NOTIFY, kPartitionFailed, 0);
    }
    return TRUE;
}

BOOL CConfigDisk5::IsStartedFromExpertMode() const {
    auto* pWizard = dynamic_cast<CConfigWizardDlg*>(GetWizard());
    return pWizard && pWizard->IsStartedFromExpertMode();
}

void CConfigDisk5::OnSetActive() {
    SetFocus();
}

void CConfigDisk5::OnShowWindow(BOOL bShow, UINT nStatus) {
    CWizardPage::OnShowWindow(bShow, nStatus);
    if (bShow)
        SetFocus();
}

unsigned CConfigDisk5::ConfigThread(void* pParam) {
    std::unique_ptr<std::shared_ptr<CONFIG_CONTEXT>> pHolder(static_cast<std::shared_ptr<CONFIG_CONTEXT>*>(pParam));
    std::shared_ptr<CONFIG_CONTEXT> pContext = *pHolder;
    for (;;) {
        RunStage(*pContext);
        if (::WaitForSingleObject(pContext->hStageEvent, INFINITE) != WAIT_OBJECT_0 || pContext->bExit)
            break;
    }
    return 0;
}

void CConfigDisk5::RunStage(CONFIG_CONTEXT& context) {
    switch (context.nStage.load()) {
    case 0:
        ::PostMessageW(context.hNotifyWnd, WM_CONFIG_NOTIFY, CreatePartition(context), 0);
        break;
    case 1:
        if (context.nFailedFormats > 0)
            ::Sleep(2000);
        StartStageFormat(context, context.nPublicIndex, context.strPublicLabel);
        break;
    case 2:
        CopySetupApp(context.nPublicIndex);
        ::PostMessageW(context.hNotifyWnd, WM_CONFIG_NOTIFY, 0, 0);
        break;
    case 3:
        ::PostMessageW(context.hNotifyWnd, WM_CONFIG_NOTIFY, CreateSecureDrive(context), 0);
        break;
    case 4:
        StartStageFormat(context, context.nSecureIndex, context.strSecureLabel);
        break;
    default:
        break;
    }
}

void CConfigDisk5::StartStageFormat(CONFIG_CONTEXT& context, UINT nLetterIndex, const CString& strLabel) {
    FORMAT_INFO& info = *context.pFormatInfo;
    info = FORMAT_INFO{};
    lstrcpynW(info.szFileSystem, u"NTFS", 10);
    lstrcpynW(info.szLabel, strLabel, 260);
    info.szRoot[0] = static_cast<WCHAR>(u'A' + nLetterIndex);
    info.szRoot[1] = u':';
    info.szRoot[2] = u'\\';
    info.szRoot[3] = 0;
    info.dwQuickFormat = 1;
    info.dwClusterSize = 0;
    info.hNotifyWnd = context.hNotifyWnd;
    FORMAT_INFO* pHandle = nullptr;
    if (StartFormat(&info, &pHandle) == 0) {
        context.pRunningFormat = pHandle;
        return;
    }
    // A format that cannot start reports a failed format, so that the page does not wait for it.
    ::PostMessageW(context.hNotifyWnd, WM_FORMAT_NOTIFY, FORMAT_FINISHED, 0);
}

DWORD CConfigDisk5::CreatePartition(CONFIG_CONTEXT& context) {
    if (context.nDiskNumber == 0 || context.nPublicIndex >= 26 || context.strDiskPath.IsEmpty())
        return kPartitionFailed;
    DiskDriveInfo info;
    if (!CPhysicalDrive::GetPhysicalDriveInfo(context.strDiskPath, info, 0))
        return kPartitionFailed;
    CPhysicalDrive disk(info, u"", u"", u"", context.strDiskPath, u"");
    // The path must still lead to the disk the user chose.
    if (info.dwDeviceNumber != context.nDiskNumber)
        return kPartitionFailed;
    const BOOL bDone = context.ullSecureMB ? disk.MakeTwoPartitions(ZENTRA_DISK_SIGNATURE, context.ullPublicMB)
                                           : disk.MakeOnePartition(ZENTRA_ONE_PARTITION_SIGNATURE);
    if (!bDone)
        return kPartitionFailed;
    // The disk's old Auto-Backup and schedule settings go only once the new layout stands.
    if (g_hooks.pfnRemoveBackupSettings)
        g_hooks.pfnRemoveBackupSettings();
    PartitonPatch(context.nDiskNumber, context.nPublicIndex);
    WaitDriveAccessible(context.nPublicIndex);
    // Only the new public partition is ever formatted: when the system gave it another letter than the one chosen,
    // that letter is used; when it has none, the run stops here.
    DWORD dwDisk = 0, dwPartition = 0;
    if (!GetVolumePlace(context.nPublicIndex, dwDisk, dwPartition) || dwDisk != context.nDiskNumber ||
        dwPartition != 1) {
        const int nFound = FindPublicLetter(context.nDiskNumber);
        if (nFound < 0)
            return kPartitionFailed;
        context.nPublicIndex = static_cast<UINT>(nFound);
    }
    ::Sleep(2000);
    return 0;
}

BOOL CConfigDisk5::PartitonPatch(UINT /*nDiskNumber*/, UINT nLetterIndex) {
    OSVERSIONINFOEXW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    const BOOL bServer = ::GetVersionExW(reinterpret_cast<LPOSVERSIONINFOW>(&version)) && version.dwMajorVersion >= 5 &&
                         version.dwMinorVersion >= 2 && version.wProductType == VER_NT_SERVER;
    // Workstations mount a new partition by themselves.
    if (!bServer)
        return TRUE;
    if (nLetterIndex > 25)
        return FALSE;
    // A server would need the letter defined by hand; this system mounts the partition itself, so what is left
    // to check is that it did.
    return WaitDriveAccessible(nLetterIndex);
}

BOOL CConfigDisk5::IsDriveAccessible(UINT nLetterIndex) {
    CString strDevice;
    strDevice.Format(u"\\\\.\\%c:", u'A' + static_cast<int>(nLetterIndex));
    HANDLE hDrive =
        ::CreateFileW(strDevice, 0, FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (hDrive == INVALID_HANDLE_VALUE)
        return FALSE;
    ::CloseHandle(hDrive);
    return TRUE;
}

BOOL CConfigDisk5::WaitDriveAccessible(UINT nLetterIndex) {
    if (nLetterIndex >= 26)
        return FALSE;
    for (int nTry = 0; nTry < 60; ++nTry) {
        if (IsDriveAccessible(nLetterIndex))
            return TRUE;
        ::Sleep(1000);
    }
    return FALSE;
}

DWORD CConfigDisk5::CreateSecureDrive(CONFIG_CONTEXT& context) {
    // The system's disk is never used.
    if (context.nDiskNumber == 0)
        return ERROR_INVALID_PARAMETER;
    CZentraManager* pManager = Manager();
    if (!pManager)
        return ERROR_INVALID_FUNCTION;
    CString strPartition;
    strPartition.Format(u"\\Device\\Harddisk%d\\Partition2", static_cast<int>(context.nDiskNumber));
    const DWORD dwResult =
        pManager->CreateSecureDisk(DriveText(context.nSecureIndex), strPartition, context.strPassword,
                                   ZENTRA_MODE_ENCRYPTED, static_cast<DWORD>(context.ullSecureMB & 0xFFFFFFFFu));
    if (dwResult == 0)
        WaitDriveAccessible(context.nSecureIndex);
    return dwResult;
}

void CConfigDisk5::CopySetupApp(UINT nPublicIndex) {
    WCHAR szPath[2048] = {};
    ::GetModuleFileNameW(nullptr, szPath, 2048);
    CString strFolder(szPath);
    const int nSlash = strFolder.ReverseFind(u'\\');
    if (nSlash < 0)
        return;
    strFolder = strFolder.Left(nSlash + 1);
    WIN32_FIND_DATAW data{};
    HANDLE hFind = ::FindFirstFileW(strFolder + u"Kovra*Setup.exe", &data);
    if (hFind == INVALID_HANDLE_VALUE)
        return;
    CString strNewest;
    FILETIME newest{};
    do {
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            continue;
        // The newest wins; of equal times the first found stays.
        if (strNewest.IsEmpty() || ::CompareFileTime(&data.ftLastWriteTime, &newest) > 0) {
            strNewest = data.cFileName;
            newest = data.ftLastWriteTime;
        }
    } while (::FindNextFileW(hFind, &data));
    ::FindClose(hFind);
    if (strNewest.IsEmpty())
        return;
    CString strTarget;
    strTarget.Format(u"%c:\\%s\\%s", u'A' + static_cast<int>(nPublicIndex), u"KovraSetup",
                     static_cast<LPCTSTR>(strNewest));
    KovraCopyFile(strFolder + strNewest, strTarget);
}

void CConfigDisk5::NextStage(UINT nStage) {
    m_pContext->nStage = nStage;
    ::SetEvent(m_pContext->hStageEvent);
}

LRESULT CConfigDisk5::OnFormatNotify(WPARAM wParam, LPARAM lParam) {
    if (wParam != FORMAT_FINISHED)
        return 0;
    m_pContext->pRunningFormat = nullptr;
    PostMessage(WM_CONFIG_NOTIFY, static_cast<WPARAM>(lParam), 0);
    return 0;
}

LRESULT CConfigDisk5::OnConfigNotify(WPARAM wParam, LPARAM) {
    if (m_bFinished)
        return 0;
    CONFIG_CONTEXT& context = *m_pContext;
    switch (context.nStage.load()) {
    case 0:
        if (wParam != 0) {
            PublicPartFailed();
            break;
        }
        if (CZentraManager* pManager = Manager())
            pManager->ClearSecureSignature(static_cast<int>(context.nDiskNumber));
        NextStage(1);
        break;
    case 1:
        if (wParam) {
            NextStage(2);
            break;
        }
        if (++context.nFailedFormats >= kMaxFormatAttempts) {
            PublicPartFailed();
            break;
        }
        NextStage(1);
        break;
    case 2:
        SetDlgItemText(IDC_PUBLIC_STATUS, LoadText(IDS_COMPLETED));
        Log(IDS_PUBLIC_DONE, __LINE__, CXMLLog::typeInformation);
        if (context.ullSecureMB) {
            if (CWnd* pLabel = GetDlgItem(IDC_SECURE_LABEL))
                pLabel->ShowWindow(SW_SHOW);
            if (CWnd* pStatus = GetDlgItem(IDC_SECURE_STATUS))
                pStatus->ShowWindow(SW_SHOW);
            NextStage(3);
            break;
        }
        FinishConfig(FALSE);
        break;
    case 3:
        // A secure disk that could not be created leaves the volume that may hold its letter alone.
        if (wParam != 0) {
            SecurePartFailed();
            break;
        }
        NextStage(4);
        break;
    case 4: {
        if (!wParam) {
            SecurePartFailed();
            break;
        }
        // The shell must know the new volume before the run ends.
        CString strRoot;
        strRoot.Format(u"%c:\\", u'A' + static_cast<int>(context.nSecureIndex));
        CItemIDList idList(strRoot);
        if (!idList.IsValid()) {
            if (m_nShellChecks < kMaxShellChecks) {
                ::Sleep(100);
                ++m_nShellChecks;
                PostMessage(WM_CONFIG_NOTIFY, wParam, 0);
                break;
            }
            Log(IDS_SECURE_UNVERIFIED, __LINE__, CXMLLog::typeWarning);
        }
        SecurePartSucceeded();
        break;
    }
    default:
        break;
    }
    return 0;
}

void CConfigDisk5::PublicPartFailed() {
    SetDlgItemText(IDC_PUBLIC_STATUS, LoadText(IDS_FAILED));
    SetDlgItemText(IDC_HINT, LoadText(IDS_CLOSE_APPLICATIONS));
    Log(IDS_PUBLIC_FAILED, __LINE__, CXMLLog::typeError);
    FinishConfig(FALSE);
}

void CConfigDisk5::SecurePartSucceeded() {
    CONFIG_CONTEXT& context = *m_pContext;
    if (CZentraManager* pManager = Manager())
        pManager->WriteSecureSignature(static_cast<int>(context.nDiskNumber));
    if (!m_bRememberPassword)
        context.strPassword.Empty();
    CSecureSetting::SetSecureSetting(m_bRememberPassword, context.strPassword);
    CSecureSetting::SetSecureQuestion(m_strQuestion);
    SetDlgItemText(IDC_SECURE_STATUS, LoadText(IDS_COMPLETED));
    Log(IDS_SECURE_DONE, __LINE__, CXMLLog::typeInformation);
    FinishConfig(FALSE);
}

void CConfigDisk5::SecurePartFailed() {
    SetDlgItemText(IDC_SECURE_STATUS, LoadText(IDS_FAILED));
    Log(IDS_SECURE_FAILED, __LINE__, CXMLLog::typeError);
    FinishConfig(FALSE);
}

void CConfigDisk5::FinishConfig(BOOL bCancelFormat) {
    if (m_bFinished)
        return;
    m_bFinished = TRUE;
    CWnd* pWizard = GetParent();
    if (IsStartedFromExpertMode() && g_hooks.pfnInitPages)
        g_hooks.pfnInitPages();
    m_animate.Stop();
    m_animate.Seek(0);
    CONFIG_CONTEXT& context = *m_pContext;
    context.bExit = 1;
    if (context.hStageEvent)
        ::SetEvent(context.hStageEvent);
    if (m_hThread)
        ::WaitForSingleObject(m_hThread, 5000);
    if (bCancelFormat) {
        if (FORMAT_INFO* pFormat = context.pRunningFormat.exchange(nullptr))
            CancelFormat(pFormat);
    }
    if (pWizard)
        pWizard->PostMessage(WM_CONFIG_DONE);
}

BOOL CConfigDisk5::OnQueryCancel() {
    if (m_bStarted)
        FinishConfig(TRUE);
    return TRUE;
}
