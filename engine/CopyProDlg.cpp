#include "engine/CopyProDlg.h"

#include "app/BrannicApp.h"
#include "app/LogFilterDlg.h"
#include "app/LogViewDlg.h"
#include "app/Utility.h"
#include "engine/ActivityNotice.h"
#include "engine/BackJob.h"
#include "engine/BackManager.h"
#include "engine/EstimateSizeDlg.h"
#include "engine/FileErrorDlg.h"

#include "platform/afx/FileDialog.h"
#include "platform/afx/ModuleState.h"
#include "platform/afx/Rect.h"
#include "platform/base/errors.h"
#include "platform/base/formatmessage.h"
#include "platform/base/handle.h"
#include "platform/base/thread.h"
#include "platform/base/unique_handle.h"
#include "platform/registry/registry.h"
#include "platform/system/power.h"
#include "platform/system/security.h"
#include "platform/ui/message.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/window.h"

IMPLEMENT_DYNAMIC(CCopyProDlg, CDialog)

BEGIN_MESSAGE_MAP(CCopyProDlg, CDialog)
ON_MESSAGE(WM_COPY_START, OnCopyStart)
ON_MESSAGE(WM_COPY_END, OnCopyEnd)
ON_MESSAGE(WM_JOB_EVENT, OnJobEvent)
ON_MESSAGE(WM_JOB_ERROR, OnJobError)
ON_WM_SYSCOMMAND()
ON_WM_ENDSESSION()
ON_BN_CLICKED(835, OnDetails)
ON_BN_CLICKED(820, OnSaveAs)
ON_BN_CLICKED(819, OnOptions)
ON_CBN_SELCHANGE(808, OnErrorHandlingChange)
END_MESSAGE_MAP()

namespace {

constexpr LPCTSTR kSourceName = _T("CopyProDlg.cpp");
constexpr WPARAM ICON_SMALL = 0;
constexpr WPARAM ICON_BIG = 1;

CBrannicApp* App() {
    CWinApp* pApp = AfxGetApp();
    return pApp && pApp->IsKindOf(RUNTIME_CLASS(CBrannicApp)) ? static_cast<CBrannicApp*>(pApp) : nullptr;
}

CString LoadText(UINT nId) {
    CString text;
    text.LoadString(nId);
    return text;
}

CString WithoutPrefix(LPCTSTR lpszPath) {
    CString path(lpszPath ? lpszPath : _T(""));
    RemoveLongPathPrefix(path);
    return path;
}

// The system's message text for an error code, without its line break.
CString SystemText(DWORD dwCode) {
    WCHAR buffer[1024] = {};
    if (!FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, dwCode, 0, buffer, 1024,
                        nullptr)) {
        CString text;
        text.Format(_T("Error %d."), static_cast<int>(dwCode));
        return text;
    }
    CString text(buffer);
    text.TrimRight();
    return text;
}

int Percent(LONGLONG llDone, LONGLONG llSize) {
    return llSize > 0 ? static_cast<int>(llDone * 100 / llSize) : 0;
}

CString GroupedText(LONGLONG llCount) {
    CString text;
    FormatThousands(text, llCount);
    return text;
}

DWORD ReadDword(HKEY hKey, LPCTSTR lpszName, DWORD dwDefault) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    if (!hKey ||
        RegQueryValueExW(hKey, lpszName, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return dwDefault;
    return value;
}

} // namespace

CCopyProDlg::CCopyProDlg(CWnd* pParentWnd) : CDialog(IDD, pParentWnd) {
    m_hIcon = ::LoadIconW(AfxGetResourceHandle(), MAKEINTRESOURCEW(100));
}

CCopyProDlg::~CCopyProDlg() = default;

CString CCopyProDlg::ShortenPath(const CString& strPath) {
    if (strPath.GetLength() < 48)
        return strPath;
    CString text;
    text.Format(_T("%c%c%c...%s"), strPath[0], strPath[1], strPath[2], strPath.Right(47).GetString());
    return text;
}

CString CCopyProDlg::RegistryKey() const {
    CString key;
    if (CBrannicApp* pApp = App())
        pApp->GetRootKey(key);
    if (!key.IsEmpty() && key[key.GetLength() - 1] != _T('\\'))
        key += _T('\\');
    return key + _T("CopyProgress");
}

int CCopyProDlg::SelectedErrorMode() const {
    const int nSel = m_combo.GetSafeHwnd() ? m_combo.GetCurSel() : -1;
    return nSel < 0 ? 1 : static_cast<int>(m_combo.GetItemData(nSel));
}

const CString& CCopyProDlg::Text(UINT nId) {
    auto found = m_texts.find(nId);
    if (found == m_texts.end())
        found = m_texts.emplace(nId, LoadText(nId)).first;
    return found->second;
}

LONGLONG CCopyProDlg::TotalValue(int nLow) const {
    const DWORD* pTotals = m_pTotals ? m_pTotals : m_dwTotals;
    return static_cast<LONGLONG>(static_cast<ULONGLONG>(pTotals[nLow]) |
                                 (static_cast<ULONGLONG>(pTotals[nLow + 1]) << 32));
}

BOOL CCopyProDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    const BOOL bRestore = m_nMode == 2;
    SetDlgItemText(835, LoadText(835));
    SetDlgItemText(807, LoadText(bRestore ? 804 : 803));
    if (m_strCaption.IsEmpty())
        m_strCaption = LoadText(bRestore ? 802 : 801);
    SetWindowText(m_strCaption);
    SetDlgItemText(838, LoadText(bRestore ? 837 : 836));
    if (m_hIcon) {
        SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
        SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    }
    if (CBackManager* pManager = CBackManager::Get())
        pManager->AttachProgressDlg(this);
    if (CBrannicApp* pApp = App())
        pApp->SetCurrentDialog(this);

    m_list.SubclassDlgItem(812, this);
    m_combo.SubclassDlgItem(808, this);
    const struct {
        UINT nText;
        int nValue;
    } choices[] = {{831, 2}, {832, 0}, {833, 1}};
    platform::OwnedKey key;
    RegOpenKeyExW(HKEY_CURRENT_USER, RegistryKey(), 0, KEY_READ, key.put());
    const int nHandling = static_cast<int>(ReadDword(key.get(), _T("ErrorHandling"), 1));
    for (const auto& choice : choices) {
        const int nIndex = m_combo.AddString(LoadText(choice.nText));
        m_combo.SetItemData(nIndex, static_cast<DWORD_PTR>(choice.nValue));
        if (choice.nValue == nHandling)
            m_combo.SetCurSel(nIndex);
    }
    if (m_combo.GetCurSel() < 0)
        m_combo.SetCurSel(2);

    ShowDetails(FALSE);
    SendDlgItemMessage(805, PBM_SETRANGE32, 0, 100);
    if (CWnd* pTree = GetDlgItem(806))
        pTree->ShowWindow(SW_HIDE);
    if (m_nFlags & flagNoPowerOff)
        if (CWnd* pCheck = GetDlgItem(838))
            pCheck->EnableWindow(FALSE);
    PostMessage(WM_COPY_START);
    return TRUE;
}

void CCopyProDlg::AddLog(LPCTSTR lpszText, int nType) {
    GetLog().AddItem(lpszText, _T("CopyProDlg"), 809, nType);
}

BOOL CCopyProDlg::OnIdle() {
    if (!m_pExternalLog)
        m_log.Save(FALSE);
    return 1;
}

void CCopyProDlg::SetActivity(BOOL bOn) {
    if (!bOn && !m_bActivity)
        return;
    m_bActivity = bOn;
    TellActivity(kActivityBackup, bOn);
}

LRESULT CCopyProDlg::OnCopyStart(WPARAM, LPARAM) {
    CBrannicApp* pApp = App();
    CString folder;
    if (pApp)
        pApp->GetConfigPath(folder);
    if (!folder.IsEmpty() && folder[folder.GetLength() - 1] != _T('\\'))
        folder += _T('\\');
    platform::OwnedKey key;
    RegOpenKeyExW(HKEY_CURRENT_USER, RegistryKey(), 0, KEY_READ, key.put());
    if (m_pExternalLog) {
        if (CWnd* pDetails = GetDlgItem(835))
            pDetails->ShowWindow(SW_HIDE);
    } else {
        m_log.Init(folder + _T("CopyProgress.log"), folder + _T("~CopyProgress.log"), 4096, FALSE);
        const BOOL bDebug = pApp && pApp->IsDebugMode();
        m_log.SetTypeMask(static_cast<int>(ReadDword(key.get(), _T("LogListMask"), bDebug ? 15 : 7)), FALSE);
        m_log.AttachListCtrl(&m_list, 116, 117, 118, 539, 537, 540, 538, 5031, 5030, 5029, 5032);
        m_list.EnableTips(539, 537, 540, 538, ShowLogTipsCallback, this);
    }

    CShellTreeCtrl* pTree = m_pExternalTree;
    if (!pTree) {
        m_tree.SubclassDlgItem(806, this);
        m_tree.InitTree(603, 130, 700, 800, m_nMode, FALSE);
        if (CBackManager* pManager = CBackManager::Get()) {
            if (m_nMode == 2)
                pManager->FillRestoreTree(&m_tree, m_strRestoreSetPath);
            else
                pManager->FillSourceTree(&m_tree);
        }
        const CString selection = pApp ? pApp->m_strCurrentSelectionFile : CString();
        if (!m_tree.LoadSelection(selection)) {
            // The run must not stand for a selection it could not read: it says so in its log.
            CString text;
            text.Format(_T("The selection file %s could not be read."), selection.GetString());
            GetLog().AddItem(text, kSourceName, __LINE__, CXMLLog::typeError);
        }
        SetForegroundWindow();
        pTree = &m_tree;
    }

    JOB_ESTIMATES estimates{};
    const JOB_ESTIMATES* pEstimates = nullptr;
    if (m_nFlags & flagEstimate) {
        CEstimateSizeDlg estimate(this);
        estimate.m_pTree = pTree;
        estimate.m_strDestPath = m_strDestPath;
        if (estimate.DoModal() == 1) {
            m_dwTotals[0] = estimate.dwEstimatedDirs;
            m_dwTotals[1] = estimate.dwTotalDirs;
            m_dwTotals[2] = estimate.dwEstimatedFiles;
            m_dwTotals[3] = estimate.dwTotalFiles;
            m_dwTotals[4] = static_cast<DWORD>(static_cast<ULONGLONG>(estimate.llEstimatedSize) & 0xFFFFFFFFu);
            m_dwTotals[5] = static_cast<DWORD>(static_cast<ULONGLONG>(estimate.llEstimatedSize) >> 32);
            m_dwTotals[6] = static_cast<DWORD>(static_cast<ULONGLONG>(estimate.llTotalFileSize) & 0xFFFFFFFFu);
            m_dwTotals[7] = static_cast<DWORD>(static_cast<ULONGLONG>(estimate.llTotalFileSize) >> 32);
            m_pTotals = m_dwTotals;
            if (!CheckFreeSpace()) {
                EndDialog(3);
                return 0;
            }
        }
    }
    if (m_pTotals) {
        estimates.dwEstimatedDirs = m_pTotals[0];
        estimates.dwTotalDirs = m_pTotals[1];
        estimates.dwEstimatedFiles = m_pTotals[2];
        estimates.dwTotalFiles = m_pTotals[3];
        estimates.llEstimatedSize = TotalValue(4);
        estimates.llTotalFileSize = TotalValue(6);
        pEstimates = &estimates;
    }

    DWORD dwFlags = pEstimates ? 0x21 : 0x31;
    if (!IsShowHiddenFiles())
        dwFlags |= 0x1000;
    CBackManager* pManager = CBackManager::Get();
    if (!pManager ||
        !pManager->CreateJob(&m_pJob, m_hWnd, dwFlags, SelectedErrorMode(), pEstimates, pTree, m_strDestPath)) {
        // No job runs, so no end event will come: the failure is told and the dialog is finished.
        m_pJob = nullptr;
        m_bFinished = TRUE;
        m_nResult = 2;
        CString text;
        text.Format(_T("The copy job could not be started to %s."), m_strDestPath.GetString());
        GetLog().AddItem(text, kSourceName, __LINE__, CXMLLog::typeError);
        GetLog().Save(TRUE);
        SetDlgItemText(IDCANCEL, LoadText(834));
        if (m_nFlags & flagCloseAtEnd)
            PostMessage(WM_COPY_END, 2);
        else
            ::MessageBoxW(m_hWnd, text, m_strCaption, MB_OK | MB_ICONERROR);
        return 0;
    }
    SetActivity(TRUE);
    return 0;
}

BOOL CCopyProDlg::CheckFreeSpace() {
    CString root;
    root.Format(_T("%c:\\"), m_strDestPath.IsEmpty() ? _T('C') : m_strDestPath[0]);
    const LONGLONG llNeeded = TotalValue(4);
    for (;;) {
        const ULONGLONG free = GetDriveFreeSpace(root);
        if (static_cast<ULONGLONG>(llNeeded) <= free)
            return TRUE;
        CString freeNumber, freeUnit, neededNumber, neededUnit;
        FormatSizeText(freeNumber, freeUnit, free);
        FormatSizeText(neededNumber, neededUnit, static_cast<ULONGLONG>(llNeeded));
        CString text;
        text.Format(LoadText(5064), (freeNumber + _T(" ") + freeUnit).GetString(),
                    (neededNumber + _T(" ") + neededUnit).GetString());
        const int nAnswer = ::MessageBoxW(m_hWnd, text, m_strCaption, MB_ABORTRETRYIGNORE | MB_ICONINFORMATION);
        if (nAnswer == IDABORT)
            return FALSE;
        if (nAnswer == IDIGNORE)
            return TRUE;
    }
}

void CCopyProDlg::ShowFolderCounts(const JOB_STATUS& status) {
    CString text;
    text.Format(Text(840), static_cast<int>(status.dwTotalDirsCopied), static_cast<int>(status.dwTotalDirs),
                static_cast<int>(status.dwTotalFilesCopied) + status.nPrepareCount1,
                static_cast<int>(status.dwTotalFiles) + status.nPrepareCount1);
    SetDlgItemText(816, text);
}

void CCopyProDlg::ShowProgress(const JOB_STATUS& status, BOOL bCapped) {
    CString text;
    if (!bCapped && status.llSingleFileSize > 0) {
        text.Format(Text(839), GroupedText(status.llSingleBytesTransferred).GetString(),
                    GroupedText(status.llSingleFileSize).GetString(),
                    Percent(status.llSingleBytesTransferred, status.llSingleFileSize));
        SetDlgItemText(815, text);
    }
    if (status.llTotalFileSize > 0) {
        int nPercent = Percent(status.llTotalBytesTransferred, status.llTotalFileSize);
        if (bCapped && nPercent > 100)
            nPercent = 100;
        text.Format(Text(839), GroupedText(status.llTotalBytesTransferred).GetString(),
                    GroupedText(status.llTotalFileSize).GetString(), nPercent);
        SetDlgItemText(817, text);
        if (!bCapped)
            SendDlgItemMessage(805, PBM_SETPOS, static_cast<WPARAM>(nPercent > 100 ? 100 : nPercent), 0);
    }
}

void CCopyProDlg::LogFile(DWORD dwEvent, const JOB_STATUS& status) {
    const BOOL bRestore = m_nMode == 2;
    const CString& operation = Text(dwEvent == KOVRA_CALC_FILE_END ? 844 : (bRestore ? 846 : 845));
    const CString path = WithoutPrefix(status.tszSrcPath);
    const DWORD dwCode = static_cast<DWORD>(status.nCode);
    CString entry;
    if (dwCode != 0 && dwCode != ERROR_REQUEST_ABORTED && dwCode != KOVRA_ERROR_SKIPPED && status.nAnswer != 0) {
        UINT nWord = 847;
        if (status.nAnswer == KOVRA_PROGRESS_SKIP) {
            nWord = 848;
            if (dwEvent != KOVRA_CALC_FILE_END)
                ++m_nFailed;
        } else if (status.nAnswer == KOVRA_PROGRESS_ABORT) {
            nWord = 849;
            if (dwEvent != KOVRA_CALC_FILE_END)
                ++m_nFailed;
        }
        entry.Format(Text(852), Text(nWord).GetString(), operation.GetString(), path.GetString());
        GetLog().AddItem(SystemText(dwCode) + _T(" ") + entry, kSourceName, 392, CXMLLog::typeError);
        return;
    }
    if (dwEvent != KOVRA_FILE_COPY_COMPLETE)
        return;
    if (dwCode == KOVRA_ERROR_SKIPPED) {
        entry.Format(Text(bRestore ? 855 : 854), path.GetString());
        ++m_nSkipped;
        GetLog().AddItem(entry, kSourceName, 425, CXMLLog::typeInformation);
    } else if (dwCode != 0) {
        entry.Format(Text(852), Text(848).GetString(), operation.GetString(), path.GetString());
        ++m_nFailed;
        GetLog().AddItem(SystemText(dwCode) + _T(" ") + entry, kSourceName, 425, CXMLLog::typeWarning);
    } else {
        entry.Format(Text(852), Text(851).GetString(), operation.GetString(), path.GetString());
        ++m_nBackedUp;
        GetLog().AddItem(entry, kSourceName, 425, CXMLLog::typeInformation);
    }
}

LRESULT CCopyProDlg::OnJobEvent(WPARAM wParam, LPARAM lParam) {
    const auto* pStatus = reinterpret_cast<const JOB_STATUS*>(lParam);
    const DWORD dwEvent = static_cast<DWORD>(wParam);
    if (dwEvent == KOVRA_JOB_END) {
        EndOfJob(pStatus);
        return 0;
    }
    if (!pStatus)
        return 0;
    switch (dwEvent) {
    case KOVRA_CALC_ENTER_DIR:
    case KOVRA_COPY_ENTER_DIR:
        ShowFolderCounts(*pStatus);
        break;
    case KOVRA_CALC_FILE_BEGIN:
    case KOVRA_FILE_COPY_BEGIN:
        SetDlgItemText(814, ShortenPath(pStatus->tszSrcPath));
        SetDlgItemText(813, ShortenPath(pStatus->tszDestPath));
        break;
    case KOVRA_CALC_FILE_END:
        if (!m_pTotals) {
            m_dwTotals[0] = pStatus->dwEstimatedDirs;
            m_dwTotals[1] = pStatus->dwTotalDirs;
            m_dwTotals[2] = pStatus->dwEstimatedFiles;
            m_dwTotals[3] = pStatus->dwTotalFiles;
            m_dwTotals[4] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llEstimatedSize) & 0xFFFFFFFFu);
            m_dwTotals[5] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llEstimatedSize) >> 32);
            m_dwTotals[6] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llTotalFileSize) & 0xFFFFFFFFu);
            m_dwTotals[7] = static_cast<DWORD>(static_cast<ULONGLONG>(pStatus->llTotalFileSize) >> 32);
        }
        ShowFolderCounts(*pStatus);
        LogFile(dwEvent, *pStatus);
        ShowProgress(*pStatus, FALSE);
        break;
    case KOVRA_FILE_COPY_COMPLETE:
        ShowFolderCounts(*pStatus);
        LogFile(dwEvent, *pStatus);
        ShowProgress(*pStatus, FALSE);
        break;
    case KOVRA_FILE_COPY_PROGRESS:
        ShowProgress(*pStatus, FALSE);
        break;
    default:
        break;
    }
    return 0;
}

void CCopyProDlg::EndOfJob(const JOB_STATUS* pStatus) {
    m_pJob = nullptr;
    m_bFinished = TRUE;
    SetActivity(FALSE);
    if (m_nMode != 2)
        if (CBrannicApp* pApp = App())
            if (CWnd* pExpert = pApp->GetExpertWnd(); pExpert && pExpert->GetSafeHwnd())
                pExpert->PostMessage(WM_REFRESH_RESTORE_SOURCE, 0, 1);
    if (m_bCancelled) {
        GetLog().Save(TRUE);
        PostMessage(WM_COPY_END, 2);
        return;
    }
    SetDlgItemText(IDCANCEL, LoadText(834));

    if (pStatus) {
        m_nBackedUp += pStatus->nPrepareCount1;
        ShowProgress(*pStatus, TRUE);
        SendDlgItemMessage(805, PBM_SETPOS, 100, 0);
        ShowFolderCounts(*pStatus);
        LogFile(KOVRA_JOB_END, *pStatus);
    } else {
        SetDlgItemText(813, LoadText(842));
    }

    const BOOL bRestore = m_nMode == 2;
    const DWORD dwTotalFiles = m_pTotals ? m_pTotals[3] : m_dwTotals[3];
    const LONGLONG llHandled = static_cast<LONGLONG>(m_nBackedUp) + m_nSkipped + m_nFailed;
    if (llHandled < static_cast<LONGLONG>(dwTotalFiles))
        m_nFailed = static_cast<int>(dwTotalFiles) - m_nBackedUp - m_nSkipped;
    CString summary;
    summary.Format(LoadText(bRestore ? 5063 : 5062), m_nBackedUp, m_nSkipped, m_nFailed);
    GetLog().AddItem(summary, kSourceName, 555, CXMLLog::typeInformation);
    // The run's log is on disk before anything else may end the program.
    GetLog().Save(TRUE);

    if (IsDlgButtonChecked(838) == BST_CHECKED) {
        if (m_nFailed == 0) {
            // Asked for and refused: the refusal joins the log, and the dialog closes as it would have.
            if (!PowerOff()) {
                GetLog().AddItemId(843, kSourceName, __LINE__, CXMLLog::typeError);
                GetLog().Save(TRUE);
            }
            PostMessage(WM_COPY_END, 1);
            return;
        }
        // Files failed: the user is to see why before the computer goes off, so the summary stays up.
        GetLog().AddItemId(843, kSourceName, __LINE__, CXMLLog::typeWarning);
        GetLog().Save(TRUE);
    }
    if (m_nFlags & flagCloseAtEnd) {
        PostMessage(WM_COPY_END, 1);
        return;
    }
    ::MessageBoxW(m_hWnd, summary, m_strCaption, MB_OK | MB_ICONINFORMATION);
}

BOOL CCopyProDlg::PowerOff() {
    CBrannicApp* pApp = App();
    CString text;
    platform::OwnedHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, token.put())) {
        text.Format(_T("%s, %d: Unable to open process token."), kSourceName, __LINE__);
        if (pApp)
            pApp->Log(text, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeDebug);
    } else {
        TOKEN_PRIVILEGES privileges{};
        privileges.PrivilegeCount = 1;
        privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
        if (!LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid) ||
            !AdjustTokenPrivileges(token.get(), FALSE, &privileges, 0, nullptr, nullptr) ||
            GetLastError() != ERROR_SUCCESS) {
            text.Format(_T("%s, %d: Uanble to adjust token privileges."), kSourceName, __LINE__);
            if (pApp)
                pApp->Log(text, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeDebug);
        }
    }
    // Asked of the desktop, never forced: programs holding unsaved work get their say, and the user's session
    // ends as it would from the desktop's own menu.
    return ExitWindowsEx(EWX_SHUTDOWN, SHTDN_REASON_MAJOR_APPLICATION | SHTDN_REASON_FLAG_PLANNED);
}

LRESULT CCopyProDlg::OnJobError(WPARAM wParam, LPARAM lParam) {
    auto* pJob = reinterpret_cast<CBackJob*>(lParam);
    const DWORD dwCode = static_cast<DWORD>(wParam);
    CString reason;
    if (dwCode == ERROR_ACCESS_DENIED)
        reason = LoadText(1223);
    else if (dwCode == ERROR_SHARING_VIOLATION)
        reason = LoadText(1324);
    else
        reason = SystemText(dwCode);
    CFileErrorDlg dlg(this);
    dlg.m_strMessage.Format(LoadText(853), WithoutPrefix(pJob ? pJob->GetSrcPath() : nullptr).GetString(),
                            reason.GetString());
    dlg.m_nErrorCode = static_cast<int>(dwCode);
    if (IsIconic())
        ShowWindow(SW_RESTORE);
    ShowWindow(SW_SHOW);
    return dlg.DoModal();
}

LRESULT CCopyProDlg::OnCopyEnd(WPARAM wParam, LPARAM) {
    EndDialog(static_cast<int>(wParam));
    return 0;
}

void CCopyProDlg::OnOK() {
    OnCancel();
}

void CCopyProDlg::OnCancel() {
    if (!m_pJob) {
        EndDialog(m_nResult);
        return;
    }
    const int nAnswer =
        ::MessageBoxW(m_hWnd, LoadText(m_nMode == 2 ? 5002 : 5001), m_strCaption, MB_YESNO | MB_ICONQUESTION);
    if (nAnswer != IDYES || !m_pJob)
        return;
    SetActivity(FALSE);
    m_bCancelled = TRUE;
    m_nResult = 2;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->CancelJob(m_pJob);
}

void CCopyProDlg::OnEndSession(BOOL bEnding) {
    CDialog::OnEndSession(bEnding);
    if (!bEnding)
        return;
    // No job runs (a finished run's summary waits for Finish): the dialog closes as Finish would close it, its
    // summary box with it, so that its loop no longer holds the program's main loop.
    if (!m_pJob) {
        Close(m_nResult);
        return;
    }
    SetActivity(FALSE);
    m_bCancelled = TRUE;
    m_nResult = 2;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->CancelJob(m_pJob);
    // A question the job waits on is answered with Abort; the job's end then ends the dialog.
    for (HWND hWnd = ::FindWindowW(_T("#32770"), nullptr); hWnd;
         hWnd = ::FindWindowExW(nullptr, hWnd, _T("#32770"), nullptr))
        if (hWnd != m_hWnd && ::GetWindow(hWnd, GW_OWNER) == m_hWnd && ::GetDlgItem(hWnd, 2203))
            ::PostMessageW(hWnd, WM_COMMAND, 2203, 0);
}

void CCopyProDlg::Close(int nResult) {
    // Only a message box this dialog owns is closed, never the dialog itself: a running job would take that for
    // a cancel question.
    for (HWND hWnd = ::FindWindowW(_T("#32770"), m_strCaption); hWnd;
         hWnd = ::FindWindowExW(nullptr, hWnd, _T("#32770"), m_strCaption)) {
        if (hWnd != m_hWnd && ::GetWindow(hWnd, GW_OWNER) == m_hWnd) {
            ::SendMessageW(hWnd, WM_CLOSE, 0, 0);
            break;
        }
    }
    EndDialog(nResult);
}

void CCopyProDlg::OnSysCommand(UINT nID, LPARAM lParam) {
    if ((nID & 0xFFF0) == SC_MINIMIZE) {
        if (CWnd* pParent = GetParent())
            pParent->ShowWindow(SW_HIDE);
        ShowWindow(SW_HIDE);
        if (CBrannicApp* pApp = App())
            pApp->SetCurrentDialog(this);
        return;
    }
    CDialog::OnSysCommand(nID, lParam);
}

void CCopyProDlg::ShowDetails(BOOL bShow) {
    CWnd* pFrame = GetDlgItem(811);
    if (!pFrame)
        return;
    CRect window;
    GetWindowRect(&window);
    if (!m_bFullSizeKept) {
        m_fullSize = CSize(window.Width(), window.Height());
        m_bFullSizeKept = TRUE;
    }
    CRect frame;
    pFrame->GetWindowRect(&frame);
    if (bShow) {
        SetWindowPos(nullptr, 0, 0, m_fullSize.cx, m_fullSize.cy, SWP_NOMOVE | SWP_NOZORDER);
        SendMessage(DM_REPOSITION);
    } else {
        pFrame->ShowWindow(SW_HIDE);
        SetWindowPos(nullptr, 0, 0, m_fullSize.cx, frame.top - window.top, SWP_NOMOVE | SWP_NOZORDER);
    }
    // The controls below the frame work only while they are shown.
    for (CWnd* pChild = GetWindow(GW_CHILD); pChild; pChild = pChild->GetWindow(GW_HWNDNEXT)) {
        CRect child;
        pChild->GetWindowRect(&child);
        if (child.top >= frame.bottom && pChild != pFrame)
            pChild->EnableWindow(bShow);
    }
    m_bDetails = bShow;
}

void CCopyProDlg::OnDetails() {
    const BOOL bShow = !m_bDetails;
    SetDlgItemText(835, LoadText(bShow ? 810 : 835));
    ShowDetails(bShow);
}

void CCopyProDlg::OnSaveAs() {
    CFileDialog dlg(FALSE, _T("log"), nullptr, OFN_HIDEREADONLY, _T("Log Files(*.log)|*.log||"), this);
    if (dlg.DoModal() != IDOK)
        return;
    const CString path = dlg.GetPathName();
    if (GetLog().Export(path))
        return;
    CString text;
    text.Format(LoadText(853), path.GetString(), SystemText(GetLastError()).GetString());
    if (CBrannicApp* pApp = App())
        pApp->Log(text, KOVRA_SOURCE_FILE, __LINE__, CXMLLog::typeError);
}

void CCopyProDlg::OnOptions() {
    CLogFilterDlg dlg(this);
    dlg.SetViewMask(GetLog().GetTypeMask());
    if (dlg.DoModal() == IDOK)
        GetLog().SetTypeMask(dlg.GetViewMask(), TRUE);
}

void CCopyProDlg::OnErrorHandlingChange() {
    if (!m_pJob)
        return;
    if (CBackManager* pManager = CBackManager::Get())
        pManager->SetJobErrorMode(m_pJob, SelectedErrorMode());
}

BOOL CCopyProDlg::DestroyWindow() {
    if (CWnd* pParent = GetParent()) {
        pParent->ShowWindow(SW_SHOW);
        if (CBrannicApp* pApp = App())
            pApp->SetCurrentDialog(pParent);
    }
    platform::OwnedKey key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, RegistryKey(), 0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr) ==
        ERROR_SUCCESS) {
        const DWORD values[] = {static_cast<DWORD>(GetLog().GetTypeMask()), static_cast<DWORD>(m_bDetails),
                                static_cast<DWORD>(SelectedErrorMode())};
        const LPCTSTR names[] = {_T("LogListMask"), _T("Expand"), _T("ErrorHandling")};
        for (int i = 0; i < 3; ++i)
            RegSetValueExW(key.get(), names[i], 0, REG_DWORD, reinterpret_cast<const BYTE*>(&values[i]), sizeof(DWORD));
    }
    if (!m_pExternalLog) {
        m_log.Save(TRUE);
        m_log.DetachListCtrl();
    }
    if (CBackManager* pManager = CBackManager::Get())
        if (pManager->GetProgressDlg() == this)
            pManager->AttachProgressDlg(nullptr);
    return CDialog::DestroyWindow();
}
