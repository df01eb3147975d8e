#include "app/VyxMainDlg.h"

#include "app/AboutDlg.h"
#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackManager.h"
#include "storage/ManageSecureDiskDlg.h"
#include "storage/ZentraManager.h"
#include "workflows/BackupWizard.h"
#include "workflows/ExpertModeDlg.h"

#include "platform/afx/DC.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/PaintDC.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/msgbox.h"

#include <algorithm>
#include <iterator>

IMPLEMENT_DYNAMIC(VyxMainDlg, CTrayDialog)

namespace {

constexpr UINT_PTR kStartupTimer = 2300;
constexpr UINT WM_ACTIVITY = WM_USER + 1000;
constexpr UINT IDM_ABOUTBOX = 0x0010;
constexpr UINT IDS_ABOUTBOX = 2305;
constexpr int IDC_BACKGROUND = 2309;
constexpr UINT IDB_BACKGROUND = 604;
constexpr const char16_t* kBackgroundFile = u"bg_main.bmp";
// The buttons' pictures leave this colour out.
constexpr COLORREF kImageKey = RGB(255, 0, 255);
constexpr UINT WM_SHOW_CURRENT_DIALOG = WM_USER + 318;
constexpr UINT WM_QUERY_ENCLOSURE = WM_USER + 3116;
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

constexpr UINT IDI_KOVRA = 100;
constexpr UINT IDR_TRAY_MENU = 32000;
constexpr UINT IDS_TRAY_TIP = 2304;

constexpr UINT ID_TRAY_INSTANT_BACKUP = 32771;
constexpr UINT ID_TRAY_INSTANT_RESTORE = 32772;
constexpr UINT ID_TRAY_EXPERT_MODE = 32773;
constexpr UINT ID_TRAY_EXIT = 32774;
constexpr UINT ID_TRAY_MANAGE_SECURE_DISK = 32775;
constexpr UINT ID_TRAY_OPEN_KOVRA = 32776;

constexpr int IDC_INSTANT_BACKUP = 2310;
constexpr int IDC_INSTANT_RESTORE = 2311;
constexpr int IDC_EXPERT_MODE = 2312;
constexpr int IDC_SYSTEM_SETTINGS = 2313;

// The buttons, the string of their captions and their pictures.
constexpr struct {
    int nButton;
    UINT nCaption;
    int nBitmap;
} kButtons[] = {
    {IDC_INSTANT_BACKUP, 2301, 548},
    {IDC_INSTANT_RESTORE, 2302, 549},
    {IDC_EXPERT_MODE, 2303, 550},
    {IDC_SYSTEM_SETTINGS, 2314, 555},
};

// The tray animation's icons while restores run, and while backups run.
constexpr UINT kRestoreIcons[] = {530, 531, 532, 529};
constexpr UINT kBackupIcons[] = {527, 528, 525, 526};

// Commands whose dialogs are not built yet: the System page.
constexpr UINT kCommandsToCome[] = {
    IDC_SYSTEM_SETTINGS,
};

// The tray menu's commands that wait while something runs.
constexpr UINT kBusyCommands[] = {ID_TRAY_INSTANT_BACKUP, ID_TRAY_INSTANT_RESTORE, ID_TRAY_EXPERT_MODE,
                                  ID_TRAY_MANAGE_SECURE_DISK, ID_TRAY_EXIT};

CBrannicApp* App() {
    return static_cast<CBrannicApp*>(AfxGetApp());
}

} // namespace

BEGIN_MESSAGE_MAP(VyxMainDlg, CTrayDialog)
ON_WM_DESTROY()
ON_WM_TIMER()
ON_WM_SYSCOMMAND()
ON_WM_PAINT()
ON_WM_QUERYDRAGICON()
ON_WM_HELPINFO()
ON_MESSAGE(WM_ACTIVITY, OnActivity)
ON_WM_SHOWWINDOW()
ON_WM_QUERYENDSESSION()
ON_COMMAND(ID_TRAY_OPEN_KOVRA, OnOpenKovra)
ON_COMMAND(ID_TRAY_EXPERT_MODE, OnExpertMode)
ON_COMMAND(ID_TRAY_INSTANT_BACKUP, OnTrayInstantBackup)
ON_BN_CLICKED(IDC_INSTANT_BACKUP, OnInstantBackupButton)
ON_COMMAND(ID_TRAY_INSTANT_RESTORE, OnTrayInstantRestore)
ON_BN_CLICKED(IDC_INSTANT_RESTORE, OnInstantRestoreButton)
ON_COMMAND(ID_TRAY_EXIT, OnExit)
ON_COMMAND(ID_TRAY_MANAGE_SECURE_DISK, OnManageSecureDisk)
ON_BN_CLICKED(IDC_EXPERT_MODE, OnExpertMode)
ON_BN_CLICKED(IDC_SYSTEM_SETTINGS, OnSystemSettings)
ON_MESSAGE(WM_SHOW_CURRENT_DIALOG, OnShowCurrentDialog)
ON_MESSAGE(WM_QUERY_ENCLOSURE, OnQueryEnclosure)
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
ON_MESSAGE(WM_KICKIDLE, OnKickIdle)
END_MESSAGE_MAP()

VyxMainDlg::VyxMainDlg(CWnd* pParentWnd) : CTrayDialog(IDD, pParentWnd) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(IDI_KOVRA));
}

VyxMainDlg::~VyxMainDlg() = default;

BOOL VyxMainDlg::IsCommandAvailable(UINT nID) {
    return std::find(std::begin(kCommandsToCome), std::end(kCommandsToCome), nID) == std::end(kCommandsToCome);
}

BOOL VyxMainDlg::OnInitDialog() {
    // Off screen, so that nothing flashes before the start-up timer decides what the user sees. The window counts
    // as shown there: a dialog that is hidden when its modal loop starts is shown by the loop's first idle time,
    // which may come after the timer hid it for a start in the tray.
    SetWindowPos(nullptr, -1000, -1000, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_SHOWWINDOW);
    CTrayDialog::OnInitDialog();

    if (m_hIcon) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    }
    CString strAbout;
    strAbout.LoadString(IDS_ABOUTBOX);
    if (!strAbout.IsEmpty()) {
        if (HMENU hSysMenu = ::GetSystemMenu(m_hWnd, FALSE)) {
            ::AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuW(hSysMenu, MF_STRING, IDM_ABOUTBOX, strAbout);
        }
    }
    InitPictureAndButtons();

    CString strTip;
    strTip.LoadString(IDS_TRAY_TIP);
    SetTip(strTip);
    SetTrayMenu(IDR_TRAY_MENU);
    if (m_hIcon)
        SetIcon(m_hIcon);
    ModifyTrayIcon();

    if (CZentraManager* pManager = App()->GetZentraManager())
        pManager->RegisterWindow(this, 0);
    SetTimer(kStartupTimer, 0, nullptr);
    return TRUE;
}

CRoundButton* VyxMainDlg::GetButton(int nID) {
    switch (nID) {
    case IDC_INSTANT_BACKUP:
        return &m_btnInstantBackup;
    case IDC_INSTANT_RESTORE:
        return &m_btnInstantRestore;
    case IDC_EXPERT_MODE:
        return &m_btnExpertMode;
    case IDC_SYSTEM_SETTINGS:
        return &m_btnSystemSettings;
    default:
        return nullptr;
    }
}

void VyxMainDlg::InitPictureAndButtons() {
    // The banner comes from the program's folder, never from wherever the program was started.
    if (m_picture.ReplaceStatic(GetDlgItem(IDC_BACKGROUND))) {
        CString strFolder;
        BOOL bLoaded = FALSE;
        if (GetExeFolder(strFolder))
            bLoaded = m_picture.LoadBitmapFile(strFolder + kBackgroundFile);
        if (!bLoaded)
            m_picture.LoadBitmap(IDB_BACKGROUND);
        // The picture is the window's to delete.
        m_picture.ReleaseBitmap(FALSE);
    }
    for (const auto& button : kButtons) {
        CRoundButton* pButton = GetButton(button.nButton);
        if (!pButton->SubclassDlgItem(button.nButton, this))
            continue;
        CString strCaption;
        strCaption.LoadString(button.nCaption);
        pButton->SetWindowText(strCaption);
        pButton->SetBitmaps(button.nBitmap, kImageKey, 0, 0);
        pButton->SetRounded(TRUE, FALSE);
        pButton->SetStateColor(CPictureButton::BTNST_COLOR_BK_OUT, RGB(255, 255, 255), FALSE);
        pButton->SetStateColor(CPictureButton::BTNST_COLOR_FG_OUT, RGB(128, 128, 128), FALSE);
        pButton->SetStateColor(CPictureButton::BTNST_COLOR_BK_FOCUS, RGB(255, 255, 255), FALSE);
        pButton->SetStateColor(CPictureButton::BTNST_COLOR_FG_FOCUS, RGB(128, 128, 128), FALSE);
        pButton->ShiftStateColor(CPictureButton::BTNST_COLOR_BK_IN, -1, FALSE);
        pButton->EnableWindow(IsCommandAvailable(button.nButton));
    }
}

void VyxMainDlg::OnDestroy() {
    CTrayDialog::OnDestroy();
    ::RemovePropW(m_hWnd, KOVRA_INSTANCE_NAME);
}

void VyxMainDlg::OnTimer(UINT_PTR nIDEvent) {
    if (nIDEvent == kStartupTimer) {
        KillTimer(kStartupTimer);
        ShowWindow(SW_HIDE);
        CenterWindowOnScreen();
        CExpertModeDlg* pExpert = App()->GetExpertDlg();
        if (!pExpert || !pExpert->IsInitialized()) {
            SetTimer(kStartupTimer, 100, nullptr);
        } else {
            const unsigned nFlags = App()->GetStartFlags();
            switch (nFlags) {
            case 0:
                ShowWindow(SW_SHOW);
                SetForegroundWindow();
                SetFocus();
                PostMessage(WM_QUERY_ENCLOSURE);
                App()->SetCurrentDialog(this);
                break;
            case kStartExpertMode:
                pExpert->ShowWindow(SW_SHOW);
                pExpert->ShowWindow(SW_SHOWNORMAL);
                pExpert->SetForegroundWindow();
                pExpert->SetFocus();
                pExpert->PostMessage(WM_QUERY_ENCLOSURE);
                App()->SetCurrentDialog(pExpert);
                break;
            case kStartMinimized:
                App()->SetCurrentDialog(this);
                break;
            case kStartMinimized | kStartExpertMode:
                App()->SetCurrentDialog(pExpert);
                break;
            default:
                break;
            }
            pExpert->ScanSecureDrives((nFlags & kStartMinimized) != 0);
            App()->CloseSplash();
            m_bStartupDone = TRUE;
            // A second start of the program finds this window by the property and hands over to it. It is set only
            // now, so that a start during this one's start-up waits until there is something to bring forward that
            // the start-up will not hide again.
            ::SetPropW(m_hWnd, KOVRA_INSTANCE_NAME, reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(1)));
        }
    }
    CTrayDialog::OnTimer(nIDEvent);
}

void VyxMainDlg::CenterWindowOnScreen() {
    RECT rcWindow{};
    GetWindowRect(&rcWindow);
    const int cx = rcWindow.right - rcWindow.left;
    const int cy = rcWindow.bottom - rcWindow.top;
    RECT rcWork{};
    if (!::SystemParametersInfoW(SPI_GETWORKAREA, 0, &rcWork, 0))
        rcWork = RECT{0, 0, ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN)};
    SetWindowPos(nullptr, rcWork.left + (rcWork.right - rcWork.left - cx) / 2,
                 rcWork.top + (rcWork.bottom - rcWork.top - cy) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void VyxMainDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    switch (nID & 0xFFF0) {
    case IDM_ABOUTBOX: {
        CAboutDlg about(this);
        about.DoModal();
        return;
    }
    case SC_CLOSE:
        // Closing the main menu hides it; the program goes on in the tray.
        App()->SetCurrentDialog(this);
        ShowWindow(SW_HIDE);
        return;
    case SC_MINIMIZE:
        App()->SetCurrentDialog(this);
        ShowWindow(SW_MINIMIZE);
        CTrayDialog::OnSysCommand(nID, lParam);
        return;
    default:
        CTrayDialog::OnSysCommand(nID, lParam);
        return;
    }
}

void VyxMainDlg::OnPaint() {
    if (!IsIconic()) {
        Default();
        return;
    }
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    CRect rect;
    GetClientRect(&rect);
    const int x = (rect.Width() - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (rect.Height() - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    if (m_hIcon)
        ::DrawIcon(dc.GetSafeHdc(), x, y, m_hIcon);
}

HCURSOR VyxMainDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

BOOL VyxMainDlg::OnHelpInfo(HELPINFO*) {
    ShowHelpTopic(IDD);
    return TRUE;
}

LRESULT VyxMainDlg::OnActivity(WPARAM wParam, LPARAM lParam) {
    return SetActivity(static_cast<int>(wParam), lParam != 0);
}

LRESULT VyxMainDlg::SetActivity(int nType, BOOL bStarted) {
    int* pCount = nType == 1 ? &m_nRunningBackups : nType == 2 ? &m_nRunningRestores : nullptr;
    if (pCount)
        *pCount = bStarted ? *pCount + 1 : std::max(0, *pCount - 1);
    StopAnimation();
    ClearAnimationIcons();
    if (m_nRunningRestores > 0) {
        for (UINT nIcon : kRestoreIcons)
            AddAnimationIcon(nIcon);
        StartAnimation();
    } else if (m_nRunningBackups > 0) {
        for (UINT nIcon : kBackupIcons)
            AddAnimationIcon(nIcon);
        StartAnimation();
    } else {
        if (m_hIcon)
            SetIcon(m_hIcon);
        ModifyTrayIcon();
    }
    return 1;
}

void VyxMainDlg::OnShowWindow(BOOL bShow, UINT) {
    if (bShow)
        App()->SetCurrentDialog(this);
    Default();
}

BOOL VyxMainDlg::OnQueryEndSession() {
    // The session ends: the main loop ends without asking; the shut-down stops what runs before it tears down.
    if (!static_cast<BOOL>(Default()))
        return FALSE;
    EndDialog(1);
    return TRUE;
}

void VyxMainDlg::OnOK() {}

void VyxMainDlg::OnCancel() {
    // Escape hides the main menu like its close button; only Exit ends the program.
    SendMessage(WM_SYSCOMMAND, SC_CLOSE, 0);
}

void VyxMainDlg::OnTrayLButtonDblClk(CPoint pt) {
    BringBackCurrentDialog();
    CTrayDialog::OnTrayLButtonDblClk(pt);
}

void VyxMainDlg::OnOpenKovra() {
    BringBackCurrentDialog();
}

void VyxMainDlg::BringBackCurrentDialog() {
    if (!RemoveTrayIcon())
        return;
    CWnd* pCurrent = App()->GetCurrentDialog();
    if (!pCurrent) {
        CString strText;
        strText.Format(u"%s, %d: Current dialog pointer is NULL.", KOVRA_SOURCE_FILE, __LINE__);
        App()->Log(strText, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeDebug);
        return;
    }
    // A wizard open from the main menu comes forward with it.
    if (pCurrent == this && m_pBackupWizard && ::IsWindow(m_pBackupWizard->GetSafeHwnd())) {
        m_pBackupWizard->ShowWindow(SW_SHOW);
        m_pBackupWizard->SetForegroundWindow();
    }
    pCurrent->ShowWindow(SW_SHOW);
    pCurrent->ShowWindow(SW_SHOWNORMAL);
    pCurrent->SetForegroundWindow();
    pCurrent->PostMessage(WM_QUERY_ENCLOSURE);
}

void VyxMainDlg::OnTrayRButtonDown(CPoint pt) {
    CMenu& menu = GetTrayMenu();
    CBackManager* pBackManager = App()->GetBackManager();
    CExpertModeDlg* pExpert = App()->GetExpertDlg();
    const BOOL bBusy =
        (pBackManager && pBackManager->HasProgressDlg()) || m_bWizardRunning || (pExpert && pExpert->IsBusy());
    for (UINT nID : kBusyCommands) {
        const BOOL bEnable = !bBusy && IsCommandAvailable(nID);
        menu.EnableMenuItem(nID, MF_BYCOMMAND | (bEnable ? MF_ENABLED : MF_GRAYED | MF_DISABLED));
    }
    CTrayDialog::OnTrayRButtonDown(pt);
}

void VyxMainDlg::OnTrayInstantBackup() {
    App()->ShowMainMenu();
    OnInstantBackupButton();
}

void VyxMainDlg::OnInstantBackupButton() {
    // The tray menu's actions wait while the wizard and its copy run.
    if (m_bWizardRunning)
        return;
    m_bWizardRunning = TRUE;
    OnInstantBackup();
    m_bWizardRunning = FALSE;
    SetForegroundWindow();
}

void VyxMainDlg::OnInstantBackup() {
    CZentraManager* pZentra = App()->GetZentraManager();
    if (!App()->IsAnyDriveType() && (!pZentra || pZentra->GetEnclosureDrives() == 0)) {
        CString text, caption;
        text.LoadString(5027);
        caption.LoadString(2304);
        ::MessageBoxW(m_hWnd, text, caption, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    CBackupWizard::RunInstantBackup(this, 1, &m_pBackupWizard);
    if (CExpertModeDlg* pExpert = App()->GetExpertDlg()) {
        pExpert->SetActiveWizard(nullptr);
        pExpert->ReloadBackupSelection();
    }
}

void VyxMainDlg::OnTrayInstantRestore() {
    App()->ShowMainMenu();
    OnInstantRestoreButton();
}

void VyxMainDlg::OnInstantRestoreButton() {
    // The tray menu's actions wait while the wizard and its copy run.
    if (m_bWizardRunning)
        return;
    m_bWizardRunning = TRUE;
    OnInstantRestore();
    m_bWizardRunning = FALSE;
    SetForegroundWindow();
}

void VyxMainDlg::OnInstantRestore() {
    CBackupWizard::RunInstantRestore(this, nullptr);
}

void VyxMainDlg::OnExpertMode() {
    App()->WriteRunMode(1);
    App()->ShowExpertMode(FALSE);
}

void VyxMainDlg::OnSystemSettings() {
    App()->WriteRunMode(1);
    App()->ShowExpertMode(TRUE);
}

void VyxMainDlg::OnManageSecureDisk() {
    CExpertModeDlg* pExpert = App()->GetExpertDlg();
    App()->ShowExpertMode(FALSE);
    if (!pExpert)
        return;
    pExpert->ShowPage(4);
    // The Manage Secure Disk dialog, over the Expert Mode dialog showing its System page.
    CManageSecureDiskDlg dlg(pExpert);
    dlg.DoModal();
}

void VyxMainDlg::OnExit() {
    CExpertModeDlg* pExpert = App()->GetExpertDlg();
    if (pExpert && !pExpert->ConfirmExit())
        return;
    EndDialog(1);
}

LRESULT VyxMainDlg::OnShowCurrentDialog(WPARAM wParam, LPARAM) {
    CWnd* pCurrent = App()->GetCurrentDialog();
    if (!pCurrent || !::IsWindow(pCurrent->GetSafeHwnd()))
        return 0;
    CWnd* pWizard = m_pBackupWizard && ::IsWindow(m_pBackupWizard->GetSafeHwnd()) ? m_pBackupWizard : nullptr;
    if (wParam == 1) {
        CWnd* pShown = pWizard ? pWizard : pCurrent;
        pShown->ShowWindow(SW_SHOW);
        pShown->ShowWindow(SW_SHOWNORMAL);
        pShown->SetForegroundWindow();
    } else if (wParam == 0) {
        if (pWizard)
            pWizard->ShowWindow(SW_HIDE);
        pCurrent->ShowWindow(SW_HIDE);
    }
    return 0;
}

LRESULT VyxMainDlg::OnKickIdle(WPARAM, LPARAM lParam) {
    // This dialog's modal loop is the program's main loop: its idle time is the application's.
    return App()->OnIdle(static_cast<LONG>(lParam));
}

LRESULT VyxMainDlg::OnQueryEnclosure(WPARAM, LPARAM) {
    if (CZentraManager* pManager = App()->GetZentraManager())
        pManager->HasEnclosureDisk();
    return 0;
}

LRESULT VyxMainDlg::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    CZentraManager* pManager = App()->GetZentraManager();
    if (!pManager)
        return 0;
    const int nDisk = static_cast<int>(lParam);
    if (wParam == 0 && pManager->IsEnclosureDisk(nDisk)) {
        PostMessage(WM_SHOW_CURRENT_DIALOG, 1, 0);
    } else if (wParam == 2 && pManager->IsEnclosureDisk(nDisk)) {
        CBackManager* pBackManager = App()->GetBackManager();
        if (!pBackManager || !pBackManager->HasProgressDlg())
            PostMessage(WM_SHOW_CURRENT_DIALOG, 0, 0);
    }
    return 0;
}
