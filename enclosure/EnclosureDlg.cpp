#include "enclosure/EnclosureDlg.h"

#include "enclosure/EnclosureApp.h"
#include "enclosure/EnclosureServ.h"
#include "shared/LogicalDrive.h"
#include "shared/PhysicalDrive.h"

#include "platform/base/thread.h"
#include "platform/fs/volumes.h"

IMPLEMENT_DYNAMIC(CEnclosureDlg, CTrayDialog)

namespace {

// The suite's disk signatures: two partitions, one partition.
constexpr DWORD kSignatureTwoPartitions = 0x5A454456;
constexpr DWORD kSignatureOnePartition = 0x5745584F;

class CAboutDlg : public CDialog {
public:
    CAboutDlg() : CDialog(100) {}
};

} // namespace

BEGIN_MESSAGE_MAP(CEnclosureDlg, CTrayDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_DESTROY()
    ON_WM_CLOSE()
    ON_WM_QUERYENDSESSION()
    ON_COMMAND(ID_ENCLOSURE_EXIT, OnExit)
    ON_COMMAND(ID_ENCLOSURE_RESTORE, OnRestore)
    ON_BN_CLICKED(1002, OnCloseButton)
    ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
    ON_MESSAGE(WM_ENCLOSURE_REPORT, OnDeviceReport)
    ON_MESSAGE(WM_ENCLOSURE_ONE_TOUCH, OnOneTouch)
    ON_MESSAGE(WM_ENCLOSURE_LAUNCH, OnLaunch)
    ON_MESSAGE(WM_ENCLOSURE_CONFIG_DISK, OnConfigDisk)
END_MESSAGE_MAP()

CEnclosureDlg::CEnclosureDlg(CWnd* pParent) : CTrayDialog(IDD, pParent, Variant::Companion) {
    // The program runs without a notification-area icon: the icon is prepared but never added.
    SetShowIcon(FALSE);
}

CEnclosureDlg::~CEnclosureDlg() = default;

void CEnclosureDlg::SetServ(CEnclosureServ* pServ) {
    if (!pServ)
        return;
    m_pServ = pServ;
    ++m_nServs;
}

void CEnclosureDlg::ReleaseServ(CEnclosureServ*) {
    // Several clients may hold objects: the record stays while any object lives, so that Exit keeps hiding
    // instead of ending the server under the other clients.
    if (m_nServs > 0)
        --m_nServs;
    if (m_nServs == 0)
        m_pServ = nullptr;
}

BOOL CEnclosureDlg::OnInitDialog() {
    CTrayDialog::OnInitDialog();
    if (HMENU hSysMenu = ::GetSystemMenu(GetSafeHwnd(), FALSE)) {
        CString strAbout;
        strAbout.LoadString(101);
        if (!strAbout.IsEmpty()) {
            ::AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAbout);
        }
    }
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(128));
    SendMessage(WM_SETICON, 1 /* big */, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, 0 /* small */, reinterpret_cast<LPARAM>(m_hIcon));

    CTrayDialog::SetIcon(128);
    CString strTip;
    strTip.LoadString(102);
    SetTip(strTip);
    SetTrayMenu(129);
    ModifyTrayIcon();

    if (auto* pApp = dynamic_cast<CEnclosureApp*>(AfxGetApp()))
        m_strMainProgram = pApp->GetMainProgramPath();

    m_driveMonitor.Create(0x1B);
    m_driveMonitor.RegisterWindow(this, 0);

    m_devManager.Start(GetSafeHwnd(), 2, 1, TRUE, TRUE);

    // Enclosures plugged in before the start are bound now, without starting the main program.
    m_bStartup = TRUE;
    const DWORD drives = GetLogicalDrives();
    for (int i = 0; i < 26; ++i)
        if (drives & (1u << i))
            OnVolumeArrived(i);
    m_bStartup = FALSE;

    if (auto* pApp = dynamic_cast<CEnclosureApp*>(AfxGetApp())) {
        if (pApp->ConsumeKeyword(_T("launch_kovra")))
            PostMessage(WM_ENCLOSURE_LAUNCH);
        if (pApp->ConsumeKeyword(_T("config_disk")))
            PostMessage(WM_ENCLOSURE_CONFIG_DISK);
    }
    return TRUE;
}

void CEnclosureDlg::OnVolumeArrived(int nIndex) {
    CLogicalDrive* pVolume = m_driveMonitor.GetLogicalDrive(nIndex);
    if (!pVolume)
        return;
    const CString strId = pVolume->GetName();
    const BYTE letter = static_cast<BYTE>('A' + nIndex);
    if (m_devManager.BindLetter(letter, strId)) {
        if (m_strLastDiskId == strId) {
            m_devManager.Queue(letter, ENCLOSURE_CMD_OPEN, GetSafeHwnd(), 1);
            m_strLastDiskId.Empty();
        }
        if (!m_bStartup)
            LaunchMainProgram(nullptr, m_strMainProgram, nullptr);
        return;
    }
    if (m_strLastDiskId.IsEmpty())
        return;
    CPhysicalDrive* pDisk = pVolume->GetParent();
    if (pDisk && (pDisk->HasDiskSignature(kSignatureOnePartition) || pDisk->HasDiskSignature(kSignatureTwoPartitions)) &&
        !m_bStartup)
        LaunchMainProgram(nullptr, m_strMainProgram, nullptr);
    m_strLastDiskId.Empty();
}

LRESULT CEnclosureDlg::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    switch (wParam) {
    case DRIVE_NOTIFY_DISK_ADDED:
    case DRIVE_NOTIFY_DISK_REMOVED:
        if (CPhysicalDrive* pDisk = m_driveMonitor.GetPhysicalDrive(static_cast<int>(lParam)))
            m_strLastDiskId = pDisk->GetName();
        return 0;
    case DRIVE_NOTIFY_VOLUME_ADDED:
        OnVolumeArrived(static_cast<int>(lParam));
        return 0;
    case DRIVE_NOTIFY_VOLUME_REMOVED:
        m_devManager.UnbindLetter(static_cast<BYTE>('A' + lParam));
        return 0;
    default:
        // Removal requests are never refused.
        return 0;
    }
}

LRESULT CEnclosureDlg::OnDeviceReport(WPARAM, LPARAM lParam) {
    switch (lParam) {
    case 2:
        SendMessage(WM_ENCLOSURE_ONE_TOUCH);
        break;
    case ENCLOSURE_CMD_SECURE_ON:
        CTrayDialog::SetIcon(132);
        ModifyTrayIcon();
        break;
    case ENCLOSURE_CMD_SECURE_OFF:
        CTrayDialog::SetIcon(133);
        ModifyTrayIcon();
        break;
    default:
        break;
    }
    return 0;
}

LRESULT CEnclosureDlg::OnOneTouch(WPARAM, LPARAM) {
    LaunchMainProgram(nullptr, m_strMainProgram, _T("/otb"));
    return 0;
}

LRESULT CEnclosureDlg::OnLaunch(WPARAM, LPARAM) {
    LaunchMainProgram(nullptr, m_strMainProgram, nullptr);
    return 0;
}

LRESULT CEnclosureDlg::OnConfigDisk(WPARAM, LPARAM) {
    HANDLE thread = CreateThread(nullptr, 0, &RunConfigDisk, this, 0, nullptr);
    if (!thread) {
        PostMessage(WM_COMMAND, ID_ENCLOSURE_EXIT, 0);
        return 0;
    }
    CloseHandle(thread);
    return 0;
}

void CEnclosureDlg::OnExit() {
    if (m_pServ) {
        Hide();
        return;
    }
    EndDialog(IDCANCEL);
}

void CEnclosureDlg::OnCancel() {
    OnExit();
}

void CEnclosureDlg::OnOK() {
    // Enter in the hidden dialog does nothing.
}

void CEnclosureDlg::OnRestore() {
    Restore();
}

void CEnclosureDlg::OnClose() {
    Hide();
}

void CEnclosureDlg::OnCloseButton() {
    Hide();
}

void CEnclosureDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == IDM_ABOUTBOX || (nID >= 16 && nID <= 31)) {
        CAboutDlg about;
        about.DoModal();
        return;
    }
    (void)lParam;
    Default();
}

BOOL CEnclosureDlg::OnQueryEndSession() {
    if (!static_cast<BOOL>(Default()))
        return FALSE;
    EndDialog(IDCANCEL);
    return TRUE;
}

void CEnclosureDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);
        CRect rect;
        GetClientRect(&rect);
        dc.DrawIcon((rect.Width() - 32 + 1) / 2, (rect.Height() - 32 + 1) / 2, m_hIcon);
        return;
    }
    Default();
}

void CEnclosureDlg::OnDestroy() {
    // The device thread goes first: LEDs off, chips closed.
    m_devManager.Stop();
    m_driveMonitor.UnregisterWindow(this);
    CTrayDialog::OnDestroy();
}
