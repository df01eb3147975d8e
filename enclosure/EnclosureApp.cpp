#include "enclosure/EnclosureApp.h"

#include "enclosure/EnclosureDlg.h"

#include "platform/base/module.h"
#include "platform/base/sync.h"
#include "platform/shell/shellexecute.h"
#include "platform/system/processes.h"
#include "platform/ui/window.h"

#include <algorithm>
#include <vector>

namespace {

constexpr char16_t kSemaphoreName[] = u"AFX_ENCLOSURE_H__BC05820C_963B_423E_A8A7_F234A3C52000__INCLUDED_";

// Splits a path at its last backslash; FALSE when it has none.
BOOL SplitPath(const CString& strPath, CString& strFolder, CString& strFile) {
    const int slash = strPath.ReverseFind(_T('\\'));
    if (slash < 0)
        return FALSE;
    strFolder = strPath.Left(slash);
    strFile = strPath.Mid(slash + 1);
    return TRUE;
}

} // namespace

CEnclosureApp::CEnclosureApp() = default;

BOOL CEnclosureApp::ConsumeKeyword(LPCTSTR lpszKeyword) {
    const CString keyword(lpszKeyword);
    const int length = keyword.GetLength();
    const int total = m_strCommandLine.GetLength();
    for (int i = 0; i < total; ++i) {
        const TCHAR c = m_strCommandLine[i];
        if ((c == _T('-') || c == _T('/')) && m_strCommandLine.Mid(i + 1, length) == keyword) {
            m_strCommandLine.Delete(i, length + 1);
            return TRUE;
        }
    }
    return FALSE;
}

BOOL CEnclosureApp::InitInstance() {
    if (m_lpCmdLine && m_strCommandLine.IsEmpty())
        m_strCommandLine = m_lpCmdLine;
    if (!AfxOleInit()) {
        AfxMessageBox(100);
        return FALSE;
    }
    Enable3dControls();
    // The automation object's factory is registered, and its registry entries rewritten, at every start.
    COleObjectFactory::RegisterAll();
    COleObjectFactory::UpdateRegistryAll();
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);

    WCHAR path[2048] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, 2048);
    if (length > 0 && length < 2048) {
        CString folder;
        CString file;
        if (SplitPath(CString(path), folder, file)) {
            m_strMainProgram = folder + _T("\\Kovra.exe");
            m_strOwnFileName = file;
        }
    }

    m_hSingleInstance = CreateSemaphoreW(nullptr, 1, 1, kSemaphoreName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (ConsumeKeyword(_T("quit")))
            EndRunningInstance();
        else if (ConsumeKeyword(_T("launch_kovra")))
            LaunchMainProgram(m_strOwnFileName, m_strMainProgram, nullptr);
        return FALSE;
    }
    if (ConsumeKeyword(_T("launch_kovra_only"))) {
        LaunchMainProgram(m_strOwnFileName, m_strMainProgram, nullptr);
        return FALSE;
    }
    CEnclosureDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return FALSE;
}

int CEnclosureApp::ExitInstance() {
    COleObjectFactory::RevokeAll();
    if (m_hSingleInstance)
        CloseHandle(m_hSingleInstance);
    m_hSingleInstance = nullptr;
    return CWinApp::ExitInstance();
}

void CEnclosureApp::EndRunningInstance() {
    if (m_strOwnFileName.IsEmpty())
        return;
    const DWORD pid = FindProcessByName(m_strOwnFileName, TRUE);
    if (!pid)
        return;
    // The running instance's main window is its hidden main dialog; WM_QUIT ends its modal loop.
    struct Search {
        DWORD pid;
        HWND hwnd;
    } search{pid, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            auto* s = reinterpret_cast<Search*>(lParam);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            WCHAR title[260] = {};
            GetWindowTextW(hwnd, title, 260);
            if (owner == s->pid && CString(title) == _T("Kovra enclosure service")) {
                s->hwnd = hwnd;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.hwnd)
        PostMessageW(search.hwnd, WM_QUIT, 0, 0);
}

DWORD FindProcessByName(LPCTSTR lpszFileName, BOOL bSkipSelf) {
    std::vector<DWORD> ids(4096);
    DWORD bytes = 0;
    if (!EnumProcesses(ids.data(), 16384, &bytes))
        return 0;
    // Programs here carry no ".exe": a wanted "Kovra.exe" is the program file "Kovra" as well.
    const CString wanted(lpszFileName);
    CString bare = wanted;
    if (bare.GetLength() > 4 && bare.Right(4) == _T(".exe"))
        bare = bare.Left(bare.GetLength() - 4);
    // Only a process with a window in this session counts: a program of the same name in another session can
    // neither be signalled nor stands for this session's main program.
    std::vector<DWORD> withWindows;
    EnumWindows(
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            reinterpret_cast<std::vector<DWORD>*>(lParam)->push_back(owner);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&withWindows));
    const DWORD self = GetCurrentProcessId();
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
        if (bSkipSelf && ids[i] == self)
            continue;
        if (std::find(withWindows.begin(), withWindows.end(), ids[i]) == withWindows.end())
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
        if (!process)
            continue;
        HMODULE module = nullptr;
        DWORD needed = 0;
        BOOL match = FALSE;
        if (EnumProcessModules(process, &module, sizeof module, &needed)) {
            WCHAR name[2048] = {};
            GetModuleBaseNameW(process, module, name, 2048);
            match = CString(name) == wanted || CString(name) == bare;
        }
        CloseHandle(process);
        if (match)
            return ids[i];
    }
    return 0;
}

void NotifyOneTouchTarget(DWORD dwProcessId) {
    EnumWindows(
        [](HWND hwnd, LPARAM lParam) -> BOOL {
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner != static_cast<DWORD>(lParam))
                return TRUE;
            WCHAR title[261] = {};
            GetWindowTextW(hwnd, title, 261);
            if (CString(title).CompareNoCase(_T("ONE_TOUCH_NOTIFY_TARGET")) == 0 && IsWindow(hwnd))
                PostMessageW(hwnd, WM_ONE_TOUCH_NOTIFY, 0, 0);
            return TRUE;
        },
        static_cast<LPARAM>(dwProcessId));
}

void LaunchMainProgram(LPCTSTR, LPCTSTR lpszMainProgram, LPCTSTR lpszParameter) {
    CString folder;
    CString file;
    if (!lpszMainProgram || !SplitPath(CString(lpszMainProgram), folder, file))
        return;
    if (const DWORD pid = FindProcessByName(file)) {
        if (lpszParameter)
            NotifyOneTouchTarget(pid);
        return;
    }
    ShellExecuteW(nullptr, _T("open"), lpszMainProgram, lpszParameter, folder, SW_SHOW);
}

DWORD WINAPI RunConfigDisk(LPVOID pParam) {
    auto* pDlg = static_cast<CEnclosureDlg*>(pParam);
    CString folder;
    CString file;
    if (SplitPath(pDlg->GetMainProgramPath(), folder, file)) {
        SHELLEXECUTEINFOW info{};
        info.cbSize = sizeof info;
        info.fMask = SEE_MASK_NOCLOSEPROCESS;
        info.lpVerb = _T("open");
        const CString program = pDlg->GetMainProgramPath();
        const CString parameter = pDlg->GetConfigDiskParameter();
        info.lpFile = program;
        info.lpParameters = parameter;
        info.lpDirectory = folder;
        info.nShow = SW_SHOW;
        if (ShellExecuteExW(&info) && info.hProcess) {
            WaitForSingleObject(info.hProcess, INFINITE);
            CloseHandle(info.hProcess);
        }
    }
    pDlg->PostMessage(WM_COMMAND, ID_ENCLOSURE_EXIT, 0);
    return 0;
}
