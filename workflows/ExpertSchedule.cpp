#include "workflows/ExpertSchedule.h"

#include "app/BrannicApp.h"
#include "app/Utility.h"
#include "engine/BackAgent.h"
#include "engine/BackManager.h"
#include "engine/CopyProDlg.h"
#include "engine/EstimateSizeDlg.h"
#include "storage/ZentraManager.h"
#include "workflows/DestinationBox.h"
#include "workflows/ExpertModeDlg.h"
#include "workflows/PageSettings.h"

#include "platform/afx/ModuleState.h"
#include "platform/base/clock.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/winuser_constants.h"

IMPLEMENT_DYNAMIC(CExpertSchedule, CExpertPage)

namespace {

constexpr UINT WM_DEST_SPACE_CHANGED = WM_USER + 3115;
constexpr LPARAM kVolumeAdded = 1;
constexpr LPARAM kVolumeRemoved = 3;

constexpr int IDC_MONTHLY = 1350;
constexpr int IDC_START = 1351;
constexpr int IDC_REPEAT = 1352;
constexpr int IDC_DAILY = 1353;
constexpr int IDC_WEEKLY = 1354;
constexpr int IDC_DEST = 1302;
constexpr int IDC_FIRST_FIGURE = 1305;
constexpr int IDC_TREE = 1311;
constexpr int IDC_DATE = 1312;
constexpr int IDC_TIME = 1313;
constexpr int IDC_DAYS = 1314;
constexpr int IDC_REPEAT_FRAME = 1315;
constexpr int IDC_ICON = 1316;
constexpr int IDC_STATUS = 1242;

constexpr int kListMonthDays = 1;
constexpr int kListWeekdays = 2;

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

CString LoadText(UINT nId) {
    CString text;
    text.LoadString(nId);
    return text;
}

void LogSystem(UINT nId, int nLine, int nType) {
    if (CBrannicApp* pApp = App())
        pApp->LogId(nId, KOVRA_SOURCE_FILE, nLine, nType);
}

// Three numbers separated by exactly two of the separator, each of digits only.
BOOL ParseTriple(const CString& strText, TCHAR chSeparator, int values[3]) {
    int nPart = 0;
    int nDigits = 0;
    values[0] = values[1] = values[2] = 0;
    for (int i = 0; i < strText.GetLength(); ++i) {
        const TCHAR ch = strText[i];
        if (ch == chSeparator) {
            if (nDigits == 0 || ++nPart > 2)
                return FALSE;
            nDigits = 0;
        } else if (ch >= _T('0') && ch <= _T('9')) {
            if (++nDigits > 9)
                return FALSE;
            values[nPart] = values[nPart] * 10 + (ch - _T('0'));
        } else {
            return FALSE;
        }
    }
    return nPart == 2 && nDigits > 0;
}

// Six numbers "y/m/d h:m:s".
BOOL ParseDateAndTime(const CString& strText, int values[6]) {
    const int nSpace = strText.Find(_T(' '));
    return nSpace > 0 && ParseTriple(strText.Left(nSpace), _T('/'), values) &&
           ParseTriple(strText.Mid(nSpace + 1), _T(':'), values + 3);
}

} // namespace

BEGIN_MESSAGE_MAP(CExpertSchedule, CExpertPage)
ON_BN_CLICKED(IDC_DAILY, OnDaily)
ON_BN_CLICKED(IDC_MONTHLY, OnMonthly)
ON_BN_CLICKED(IDC_WEEKLY, OnWeekly)
ON_CBN_SELCHANGE(IDC_DEST, OnSelChangeDest)
ON_BN_CLICKED(IDC_START, OnStartStopClicked)
ON_MESSAGE(WM_SCHEDULE_INIT, OnDeferredInit)
ON_MESSAGE(WM_DRIVE_NOTIFY, OnDriveNotify)
ON_MESSAGE(WM_SCHEDULE_RUN, OnScheduleRun)
ON_MESSAGE(WM_SCHEDULE_PROMPT, OnSchedulePrompt)
ON_MESSAGE(WM_TREE_CHECK_CHANGED, OnCheckChanged)
ON_MESSAGE(WM_DEST_SPACE_CHANGED, OnDestSpaceChanged)
END_MESSAGE_MAP()

CExpertSchedule::CExpertSchedule(CWnd* pParentWnd) : CExpertPage(IDD, pParentWnd) {}

CExpertSchedule::~CExpertSchedule() {
    if (m_hDriveIcon)
        ::DestroyIcon(m_hDriveIcon);
}

void CExpertSchedule::RemoveRegistry() {
    CPageSettings(_T("Expert\\Schedule")).RemoveKey();
}

CString CExpertSchedule::SelectionPath() const {
    CString folder;
    if (CBrannicApp* pApp = App())
        pApp->GetConfigPath(folder);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != _T('\\'))
        folder += _T('\\');
    return folder + _T("ExpertScheduleBackup.rpr");
}

BOOL CExpertSchedule::OnInitDialog() {
    CExpertPage::OnInitDialog();
    SetDlgItemText(IDC_START, LoadText(1351));
    PostMessage(WM_SCHEDULE_INIT);
    return TRUE;
}

BOOL CExpertSchedule::PreTranslateMessage(MSG* pMsg) {
    if (pMsg->message == WM_KEYDOWN && (pMsg->wParam == VK_RETURN || pMsg->wParam == VK_ESCAPE))
        return TRUE;
    return CExpertPage::PreTranslateMessage(pMsg);
}

LRESULT CExpertSchedule::OnDeferredInit(WPARAM, LPARAM) {
    if (m_tree.m_hWnd)
        return 0; // once
    if (CBrannicApp* pApp = App()) {
        if (CZentraManager* pManager = pApp->GetZentraManager())
            m_bRegistered = pManager->RegisterWindow(this, 0);
    }
    m_strKey = CPageSettings(_T("Expert\\Schedule")).GetKeyPath();
    CTime tmStart;
    int nType = -1;
    DWORD dwMask = 0;
    const BOOL bComplete = LoadSettings(tmStart, nType, dwMask);
    RefreshDestination();
    SetStatus(1265);
    BOOL bAttempted = FALSE;
    if (m_nRunning && bComplete) {
        bAttempted = TRUE;
        if (StartService(tmStart, nType, dwMask)) {
            m_bServiceRunning = TRUE;
            SetStatus(1263);
            if (CheckMissedRun())
                PostMessage(WM_SCHEDULE_RUN, 0, 0);
        } else {
            SetStatus(1265);
        }
    }
    if (bAttempted)
        UpdateControls(!m_bServiceRunning);
    m_tree.PostMessage(WM_TREE_EXPAND_ROOT);
    return 0;
}

BOOL CExpertSchedule::LoadSettings(CTime& tmStart, int& nType, DWORD& dwMask) {
    const CPageSettings settings(_T("Expert\\Schedule"));
    CString date, time;
    DWORD dwRepeat = 0, dwRepeatMask = 0, dwRunning = 0, dwSerial = 0;
    m_strDestDrive.Empty();
    settings.ReadString(_T("DestDrive"), m_strDestDrive);
    settings.ReadDword(_T("DestSerialNo"), dwSerial);
    const BOOL bDate = settings.ReadString(_T("StartDate"), date);
    const BOOL bTime = settings.ReadString(_T("StartTime"), time);
    settings.ReadDword(_T("Repeat"), dwRepeat);
    settings.ReadDword(_T("RepeatMask"), dwRepeatMask);
    settings.ReadDword(_T("Running"), dwRunning);
    m_dwDestSerial = dwSerial;
    m_nRunning = dwRunning ? 1 : 0;

    m_combo.SubclassDlgItem(IDC_DEST, this);
    const BOOL bFound = CDestinationBox::Fill(&m_combo, m_strDestDrive, m_dwDestSerial);

    m_date.SubclassDlgItem(IDC_DATE, this);
    m_time.SubclassDlgItem(IDC_TIME, this);
    int d[3] = {};
    int t[3] = {};
    const BOOL bDateOk = bDate && ParseTriple(date, _T('/'), d) && d[0] >= 1970 && d[0] <= 2038 && d[1] >= 1 &&
                         d[1] <= 12 && d[2] >= 1 && d[2] <= static_cast<int>(platform::clock::DaysInMonth(d[0], d[1]));
    const BOOL bTimeOk = bTime && ParseTriple(time, _T(':'), t) && t[0] <= 23 && t[1] <= 59 && t[2] <= 59;
    if (bDateOk) {
        const CTime day(d[0], d[1], d[2], 0, 0, 0);
        m_date.SetTime(&day);
    }
    if (bTimeOk) {
        const CTime now = CTime::GetCurrentTime();
        const CTime at(now.GetYear(), now.GetMonth(), now.GetDay(), t[0], t[1], t[2]);
        m_time.SetTime(&at);
    }

    m_tree.SubclassDlgItem(IDC_TREE, this);
    m_tree.InitTree(603, 130, 700, IDD, kTreeBackup, FALSE);
    if (CBackManager* pManager = CBackManager::Get())
        pManager->FillSourceTree(&m_tree);
    if (CBrannicApp* pApp = App()) {
        CString filter;
        pApp->GetFilter(filter);
        m_tree.SetFilter(filter);
    }
    m_tree.LoadSelection(SelectionPath());

    m_repeat.SubclassDlgItem(IDC_REPEAT, this);
    m_repeat.AttachToGroup(IDC_REPEAT_FRAME, FALSE);
    m_list.SubclassDlgItem(IDC_DAYS, this);
    m_list.SetColumns(_T("column1, 87"));
    m_list.SetGridLines(FALSE);
    m_list.SetCheckBoxes(TRUE);
    m_repeat.SetCheck(BST_CHECKED);

    switch (dwRepeat) {
    case 2:
        nType = 1;
        SelectRadio(IDC_WEEKLY);
        OnWeekly();
        break;
    case 3:
        nType = 2;
        SelectRadio(IDC_MONTHLY);
        OnMonthly();
        break;
    case 1:
        nType = 0;
        SelectRadio(IDC_DAILY);
        OnDaily();
        break;
    default:
        nType = -1;
        SelectRadio(IDC_DAILY);
        OnDaily();
        break;
    }
    dwMask = nType == 1 || nType == 2 ? dwRepeatMask : 0;
    CheckMask(dwMask);
    if (bDateOk && bTimeOk)
        tmStart = CTime(d[0], d[1], d[2], t[0], t[1], t[2]);
    return m_tree.HasCheckedItems() && bFound && bDateOk && bTimeOk && ((nType != 1 && nType != 2) || dwMask != 0);
}

void CExpertSchedule::SelectRadio(int nId) {
    // The three radios one by one: the start button and the repeat box lie between their ids.
    for (int nRadio : {IDC_DAILY, IDC_WEEKLY, IDC_MONTHLY})
        CheckDlgButton(nRadio, nRadio == nId ? BST_CHECKED : BST_UNCHECKED);
}

void CExpertSchedule::FillDayList(int nKind) {
    if (m_nListKind == nKind)
        return;
    m_list.DeleteAllItems();
    if (nKind == kListMonthDays) {
        for (int d = 1; d <= 31; ++d) {
            CString text;
            text.Format(_T("%d"), d);
            const int nItem = m_list.InsertItem(m_list.GetItemCount(), text);
            m_list.SetItemData(nItem, static_cast<DWORD_PTR>(d - 1));
        }
    } else if (nKind == kListWeekdays) {
        for (int i = 0; i < 7; ++i) {
            const int nItem = m_list.InsertItem(m_list.GetItemCount(), LoadText(1362 + i));
            m_list.SetItemData(nItem, static_cast<DWORD_PTR>(i));
        }
    }
    m_nListKind = nKind;
}

DWORD CExpertSchedule::CheckedMask() const {
    // Each row carries its bit, so the mask stays right whatever the rows' order.
    DWORD dwMask = 0;
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        const DWORD_PTR bit = m_list.GetItemData(i);
        if (m_list.GetCheck(i) && bit < 32)
            dwMask |= 1u << bit;
    }
    return dwMask;
}

void CExpertSchedule::CheckMask(DWORD dwMask) {
    for (int i = 0; i < m_list.GetItemCount(); ++i) {
        const DWORD_PTR bit = m_list.GetItemData(i);
        m_list.SetCheck(i, bit < 32 && (dwMask & (1u << bit)) != 0);
    }
}

void CExpertSchedule::OnDaily() {
    m_list.DeleteAllItems();
    m_list.EnableWindow(FALSE);
    m_nListKind = -1;
}

void CExpertSchedule::OnWeekly() {
    m_list.EnableWindow(TRUE);
    FillDayList(kListWeekdays);
}

void CExpertSchedule::OnMonthly() {
    m_list.EnableWindow(TRUE);
    FillDayList(kListMonthDays);
}

void CExpertSchedule::OnSelChangeDest() {
    RefreshDestination();
}

void CExpertSchedule::RefreshDestination() {
    CDestinationBox::Refresh(this, &m_combo, IDC_ICON, IDC_FIRST_FIGURE, m_hDriveIcon);
}

LRESULT CExpertSchedule::OnDestSpaceChanged(WPARAM wParam, LPARAM) {
    CDestinationBox::OnSpaceChanged(this, &m_combo, static_cast<int>(wParam), IDC_FIRST_FIGURE);
    return 0;
}

LRESULT CExpertSchedule::OnCheckChanged(WPARAM, LPARAM) {
    return 0;
}

void CExpertSchedule::SetStatus(UINT nStringId) {
    SetDlgItemText(IDC_STATUS, LoadText(nStringId));
}

int CExpertSchedule::MessageBoxId(UINT nTextId, UINT nType, LPCTSTR lpszArg1, LPCTSTR lpszArg2) {
    return CDestinationBox::MessageBoxId(this, 905, nTextId, nType, lpszArg1, lpszArg2);
}

void CExpertSchedule::UpdateControls(BOOL bEnable) {
    m_tree.EnableWindow(bEnable);
    m_combo.EnableWindow(bEnable);
    m_date.EnableWindow(bEnable);
    m_time.EnableWindow(bEnable);
    m_repeat.EnableWindow(bEnable);
    if (m_repeat.GetCheck() == BST_CHECKED) {
        for (int nId : {IDC_DAILY, IDC_WEEKLY, IDC_MONTHLY})
            GetDlgItem(nId)->EnableWindow(bEnable);
        m_list.EnableWindow(bEnable && !IsDlgButtonChecked(IDC_DAILY));
    }
    SetDlgItemText(IDC_START, LoadText(bEnable ? 1351 : 1369));
}

CTime CExpertSchedule::PickedStart() const {
    CTime date, time;
    m_date.GetTime(date);
    m_time.GetTime(time);
    return CTime(date.GetYear(), date.GetMonth(), date.GetDay(), time.GetHour(), time.GetMinute(), time.GetSecond());
}

BOOL CExpertSchedule::ValidateSchedule(const CTime& tmStart, int nType) const {
    if (m_repeat.GetCheck() == BST_CHECKED)
        return (nType != 1 && nType != 2) || CheckedMask() != 0;
    return tmStart >= CTime::GetCurrentTime() + CTimeSpan(0, 0, 0, 10);
}

BOOL CExpertSchedule::SaveSettings(CTime& tmStart, int& nType, DWORD& dwMask) {
    const CPageSettings settings(_T("Expert\\Schedule"));
    dwMask = 0;
    CString drive;
    if (CBrannicApp* pApp = App(); pApp && pApp->GetSelectedDrive(&m_combo, drive, nullptr, FALSE)) {
        m_strDestDrive = drive;
        m_dwDestSerial = CBrannicApp::GetVolumeSerialNo(drive);
        settings.WriteString(_T("DestDrive"), drive);
        settings.WriteDword(_T("DestSerialNo"), m_dwDestSerial);
    }
    CTime date, time;
    m_date.GetTime(date);
    m_time.GetTime(time);
    tmStart = CTime(date.GetYear(), date.GetMonth(), date.GetDay(), time.GetHour(), time.GetMinute(), time.GetSecond());
    CString text;
    text.Format(_T("%d/%d/%d"), date.GetYear(), date.GetMonth(), date.GetDay());
    settings.WriteString(_T("StartDate"), text);
    text.Format(_T("%d:%d:%d"), time.GetHour(), time.GetMinute(), time.GetSecond());
    settings.WriteString(_T("StartTime"), text);
    DWORD dwRepeat = 0;
    nType = -1;
    if (m_repeat.GetCheck() == BST_CHECKED) {
        if (IsDlgButtonChecked(IDC_WEEKLY)) {
            dwRepeat = 2;
            nType = 1;
        } else if (IsDlgButtonChecked(IDC_MONTHLY)) {
            dwRepeat = 3;
            nType = 2;
        } else {
            dwRepeat = 1;
            nType = 0;
        }
    }
    settings.WriteDword(_T("Repeat"), dwRepeat);
    if (dwRepeat == 2 || dwRepeat == 3) {
        dwMask = CheckedMask();
        if (dwMask == 0) {
            m_bServiceRunning = FALSE;
            return FALSE;
        }
        settings.WriteDword(_T("RepeatMask"), dwMask);
    }
    return TRUE;
}

BOOL CExpertSchedule::StartService(const CTime& tmStart, int nType, DWORD dwMask) {
    m_schedule.SetSchedule(tmStart, nType, dwMask);
    m_schedule.AttachMessage(m_hWnd, WM_SCHEDULE_RUN, 0, 0);
    const BOOL bStarted = m_schedule.StartSchedule() == 0;
    LogSystem(bStarted ? 1378 : 1379, __LINE__, bStarted ? CXMLLog::typeInformation : CXMLLog::typeError);
    m_nRunning = bStarted ? 1 : 0;
    CPageSettings(_T("Expert\\Schedule")).WriteDword(_T("Running"), static_cast<DWORD>(m_nRunning));
    return bStarted;
}

BOOL CExpertSchedule::StopService(BOOL bWrite) {
    m_schedule.StopSchedule();
    LogSystem(1380, __LINE__, CXMLLog::typeInformation);
    if (bWrite) {
        m_nRunning = 0;
        CPageSettings(_T("Expert\\Schedule")).WriteDword(_T("Running"), 0);
    }
    return TRUE;
}

void CExpertSchedule::OnStartStopClicked() {
    OnStartStop(TRUE);
}

void CExpertSchedule::OnStartStop(BOOL bWrite) {
    UpdateData(TRUE);
    if (m_bServiceRunning) {
        if (StopService(bWrite)) {
            m_bServiceRunning = FALSE;
            SetStatus(1265);
        } else {
            SetStatus(1263);
        }
        UpdateControls(!m_bServiceRunning);
        return;
    }
    CString drive;
    if (!CDestinationBox::CheckStart(this, 905, 1355, m_tree, &m_combo, m_strDestDrive, IDC_ICON, IDC_FIRST_FIGURE,
                                     m_hDriveIcon, drive))
        return;
    int nType = -1;
    if (m_repeat.GetCheck() == BST_CHECKED)
        nType = IsDlgButtonChecked(IDC_WEEKLY) ? 1 : IsDlgButtonChecked(IDC_MONTHLY) ? 2 : 0;
    if (ValidateSchedule(PickedStart(), nType)) {
        m_tree.SaveSelecton(SelectionPath(), nullptr);
        CTime tmStart;
        DWORD dwMask = 0;
        if (SaveSettings(tmStart, nType, dwMask) && StartService(tmStart, nType, dwMask)) {
            m_bServiceRunning = TRUE;
            SetStatus(1263);
            UpdateNextTime();
        } else {
            m_bServiceRunning = FALSE;
            SetStatus(1265);
        }
    } else {
        MessageBoxId(5061, MB_OK | MB_ICONEXCLAMATION);
    }
    // The selection is measured and its size weighed against the destination's free space in either case.
    if (MeasureSelection()) {
        CString root;
        App()->GetSelectedDrive(&m_combo, root, nullptr, TRUE);
        const ULONGLONG ullNeeded = static_cast<ULONGLONG>(m_dwTotals[4]) | static_cast<ULONGLONG>(m_dwTotals[5]) << 32;
        for (;;) {
            const ULONGLONG ullFree = GetDriveFreeSpace(root);
            if (ullNeeded <= ullFree)
                break;
            CString freeNumber, freeUnit, neededNumber, neededUnit;
            FormatSizeText(freeNumber, freeUnit, ullFree);
            FormatSizeText(neededNumber, neededUnit, ullNeeded);
            const int nAnswer = MessageBoxId(5064, MB_ABORTRETRYIGNORE | MB_ICONINFORMATION,
                                             freeNumber + _T(" ") + freeUnit, neededNumber + _T(" ") + neededUnit);
            if (nAnswer != IDRETRY)
                break;
        }
    }
    // The controls always follow the service, also when the measurement or the space question was cut short.
    UpdateControls(!m_bServiceRunning);
}

BOOL CExpertSchedule::MeasureSelection() {
    CBrannicApp* pApp = App();
    CString root;
    if (!pApp || !pApp->GetSelectedDrive(&m_combo, root, nullptr, TRUE))
        return FALSE;
    CEstimateSizeDlg dlg(this);
    dlg.m_pTree = &m_tree;
    dlg.m_strDestPath = root;
    m_bMeasuring = TRUE;
    const INT_PTR nResult = dlg.DoModal();
    if (nResult == IDOK) {
        m_dwTotals[0] = dlg.dwEstimatedDirs;
        m_dwTotals[1] = dlg.dwTotalDirs;
        m_dwTotals[2] = dlg.dwEstimatedFiles;
        m_dwTotals[3] = dlg.dwTotalFiles;
        m_dwTotals[4] = static_cast<DWORD>(static_cast<ULONGLONG>(dlg.llTotalFileSize) & 0xFFFFFFFFu);
        m_dwTotals[5] = static_cast<DWORD>(static_cast<ULONGLONG>(dlg.llTotalFileSize) >> 32);
        m_dwTotals[6] = static_cast<DWORD>(static_cast<ULONGLONG>(dlg.llEstimatedSize) & 0xFFFFFFFFu);
        m_dwTotals[7] = static_cast<DWORD>(static_cast<ULONGLONG>(dlg.llEstimatedSize) >> 32);
    }
    if (m_bMeasuring)
        m_bMeasuring = FALSE;
    else
        PostMessage(WM_SCHEDULE_RUN, 1, 0); // a due run waited for the measurement
    return nResult == IDOK;
}

BOOL CExpertSchedule::CheckMissedRun() const {
    CString text;
    if (!CPageSettings(_T("Expert\\Schedule")).ReadString(_T("NextTime"), text, 64))
        return FALSE;
    int v[6] = {};
    if (!ParseDateAndTime(text, v) || v[0] < 1970 || v[0] > 3000 || v[1] < 1 || v[1] > 12 || v[2] < 1 || v[2] > 31 ||
        v[3] > 23 || v[4] > 59 || v[5] > 59)
        return FALSE;
    const CTime due = CTime(v[0], v[1], v[2], v[3], v[4], v[5]) + CTimeSpan(0, 0, 0, 3);
    return CTime::GetCurrentTime() > due;
}

void CExpertSchedule::UpdateNextTime() {
    const CPageSettings settings(_T("Expert\\Schedule"));
    CTime next = m_schedule.GetNextTime();
    // A run that has just fired is not its own next run (a one-time run in its own second).
    const LONGLONG llFired = m_schedule.GetLastFiredTime();
    if (next.GetTime() != 0 && llFired != 0 && m_schedule.GetNextDueTime() <= llFired)
        next = CTime(0);
    if (next.GetTime() == 0) {
        settings.DeleteValue(_T("NextTime"));
        return;
    }
    CString text;
    text.Format(_T("%d/%d/%d %d:%d:%d"), next.GetYear(), next.GetMonth(), next.GetDay(), next.GetHour(),
                next.GetMinute(), next.GetSecond());
    settings.WriteString(_T("NextTime"), text);
}

CWnd* CExpertSchedule::RunParent(BOOL& bWasVisible) {
    CWnd* pParent = nullptr;
    if (CBrannicApp* pApp = App()) {
        CWnd* pMain = pApp->GetMainDlg();
        if (pMain && ::IsWindow(pMain->GetSafeHwnd()) && pMain->IsWindowVisible())
            pParent = pMain;
        else if (CWnd* pExpert = pApp->GetExpertWnd(); pExpert && ::IsWindow(pExpert->GetSafeHwnd()))
            pParent = pExpert;
    }
    if (!pParent) {
        // Outside the hub (a page on its own): the page's top-level window.
        pParent = this;
        while (pParent->GetParent() && (pParent->GetStyle() & WS_CHILD))
            pParent = pParent->GetParent();
    }
    bWasVisible = pParent->IsWindowVisible();
    return pParent;
}

void CExpertSchedule::NotifyDestSpaceChanged(int nLetterIndex) {
    if (nLetterIndex < 0)
        return;
    CBrannicApp* pApp = App();
    if (CExpertModeDlg* pExpert = pApp ? pApp->GetExpertDlg() : nullptr; pExpert && pExpert->GetSafeHwnd())
        pExpert->NotifyDestSpaceChanged(nLetterIndex);
    else
        PostMessage(WM_DEST_SPACE_CHANGED, static_cast<WPARAM>(nLetterIndex), 0);
}

LRESULT CExpertSchedule::OnScheduleRun(WPARAM wParam, LPARAM lParam) {
    RunScheduled(wParam);
    // The asker (a window in wParam) hears of the end, also when no run took place.
    if (wParam > 1 && ::IsWindow(reinterpret_cast<HWND>(wParam)))
        ::PostMessageW(reinterpret_cast<HWND>(wParam), static_cast<UINT>(lParam), 0, 0);
    return 0;
}

void CExpertSchedule::RunScheduled(WPARAM wParam) {
    CBrannicApp* pApp = App();
    CString root;
    if (m_combo.GetCurSel() == CB_ERR || !pApp || !pApp->GetSelectedDrive(&m_combo, root, nullptr, TRUE))
        return;
    if (m_bMeasuring) {
        // The measurement posts the run again when it ends, with its totals.
        m_bMeasuring = FALSE;
        return;
    }
    // A firing of the timer not taken up yet: this run is on time, however late the page gets to it.
    const LONGLONG llFired = m_schedule.GetLastFiredTime();
    const BOOL bTimerRun = llFired != 0 && llFired != m_llHandledFire;
    if (bTimerRun)
        m_llHandledFire = llFired;
    CBackManager* pManager = CBackManager::Get();
    if (!pManager || pManager->HasProgressDlg()) {
        pApp->Log(LoadText(1382), KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
        return;
    }
    const BOOL bMissed = !bTimerRun && CheckMissedRun();
    UpdateNextTime();
    if (bMissed && MessageBoxId(1377, MB_YESNO | MB_ICONINFORMATION) != IDYES)
        return;
    if (CBackAgent* pOutlook = pManager->FindAgentItem(&m_tree, _T("Outlook")))
        pOutlook->CanStartJob(m_hWnd, 0);
    BOOL bWasVisible = FALSE;
    CWnd* pParent = RunParent(bWasVisible);
    const HWND hParent = pParent->GetSafeHwnd();
    {
        CCopyProDlg progress(pParent);
        progress.m_pExternalTree = &m_tree;
        progress.m_strCaption = LoadText(905);
        progress.m_strDestPath = root;
        progress.m_nMode = 1;
        if (wParam == 1)
            progress.m_pTotals = m_dwTotals;
        progress.DoModal();
    }
    if (!bWasVisible && hParent != m_hWnd && ::IsWindow(hParent))
        ::ShowWindow(hParent, SW_HIDE);
    NotifyDestSpaceChanged(root[0] - _T('A'));
}

LRESULT CExpertSchedule::OnSchedulePrompt(WPARAM wParam, LPARAM) {
    if (wParam == 1376) {
        if (MessageBoxId(1376, MB_YESNO | MB_ICONINFORMATION) == IDYES)
            OnStartStop(TRUE);
    } else if (wParam == 1375) {
        MessageBoxId(1375, MB_OK | MB_ICONEXCLAMATION);
        if (CBrannicApp* pApp = App())
            pApp->Log(LoadText(1375), KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeWarning);
    }
    return 0;
}

LRESULT CExpertSchedule::OnDriveNotify(WPARAM wParam, LPARAM lParam) {
    if (lParam < 0 || lParam > 25)
        return 0;
    CString drive;
    drive.Format(_T("%c:"), static_cast<TCHAR>(_T('A') + lParam));
    if (wParam == static_cast<WPARAM>(kVolumeAdded))
        OnDestArrived(drive);
    else if (wParam == static_cast<WPARAM>(kVolumeRemoved))
        OnDestRemoved(drive);
    return 0;
}

void CExpertSchedule::OnDestArrived(LPCTSTR lpszDrive) {
    CBrannicApp* pApp = App();
    if (!pApp || !m_tree.m_hWnd)
        return;
    m_tree.LoadSelection(SelectionPath());
    if (CDestinationBox::IsDestination(lpszDrive, m_strDestDrive, m_dwDestSerial)) {
        if (!pApp->AddDriveToCombo(&m_combo, lpszDrive, TRUE))
            return;
        RefreshDestination();
        if (m_nRunning && !m_bServiceRunning) {
            if (CExpertModeDlg::GetSecureSetting())
                OnStartStop(TRUE);
            else
                PostMessage(WM_SCHEDULE_PROMPT, 1376, 0);
        }
    } else if (pApp->AddDriveToCombo(&m_combo, lpszDrive, FALSE)) {
        RefreshDestination();
    }
}

void CExpertSchedule::OnDestRemoved(LPCTSTR lpszDrive) {
    CBrannicApp* pApp = App();
    if (!pApp || !m_tree.m_hWnd)
        return;
    if (!pApp->RemoveDriveFromCombo(&m_combo, lpszDrive))
        return;
    RefreshDestination();
    // Only the destination's own removal ends the service; another drive going away leaves it running.
    if (m_bServiceRunning && m_strDestDrive.CompareNoCase(lpszDrive) == 0) {
        OnStartStop(FALSE);
        m_nRunning = 1;
        PostMessage(WM_SCHEDULE_PROMPT, 1375, 0);
    }
}

void CExpertSchedule::StopRunningJobs() {
    if (m_bServiceRunning) {
        m_schedule.StopSchedule();
        m_bServiceRunning = FALSE;
    }
}

BOOL CExpertSchedule::DestroyWindow() {
    if (m_bServiceRunning) {
        // "Running" stays as it is, so that the next start resumes the service.
        m_schedule.StopSchedule();
        m_bServiceRunning = FALSE;
    }
    if (m_bRegistered) {
        if (CBrannicApp* pApp = App(); pApp && pApp->GetZentraManager())
            pApp->GetZentraManager()->UnregisterWindow(this);
        m_bRegistered = FALSE;
    }
    return CExpertPage::DestroyWindow();
}
