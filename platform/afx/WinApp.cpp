#include "platform/afx/WinApp.h"

#include "platform/afx/ModuleState.h"
#include "platform/afx/OleInit.h"
#include "platform/afx/Wnd.h"
#include "platform/base/module.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"

#include <atomic>
#include <cassert>
#include <vector>

IMPLEMENT_DYNAMIC(CWinApp, CWinThread)

BEGIN_MESSAGE_MAP(CWinApp, CWinThread)
ON_COMMAND(ID_HELP, OnHelp)
END_MESSAGE_MAP()

namespace {

std::atomic<CWinApp*> g_pApp{nullptr};

} // namespace

CWinApp* AfxGetApp() {
    return g_pApp.load();
}

LPCTSTR AfxGetAppName() {
    CWinApp* pApp = AfxGetApp();
    return pApp ? pApp->m_pszAppName : nullptr;
}

CWinApp::CWinApp(LPCTSTR lpszAppName) : m_strAppName(lpszAppName) {
    // There is one application object; it is the main thread's framework thread.
    assert(!g_pApp.load() && "a program has one application object");
    g_pApp.store(this);
    m_bAutoDelete = FALSE;
    m_nThreadID = GetCurrentThreadId();
    m_pszAppName = lpszAppName ? m_strAppName.GetString() : nullptr;
}

CWinApp::~CWinApp() {
    CWinApp* expected = this;
    g_pApp.compare_exchange_strong(expected, nullptr);
    // The main thread was not created by the framework; its handle is not ours to close.
    m_hThread = nullptr;
}

BOOL CWinApp::InitApplication() {
    return TRUE;
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::ExitInstance() {
    return static_cast<int>(m_msgCur.wParam);
}

int CWinApp::Run() {
    // Without a main window there is nothing to end the loop but an explicit quit.
    return CWinThread::Run();
}

BOOL CWinApp::OnIdle(LONG lCount) {
    return CWinThread::OnIdle(lCount);
}

void CWinApp::WinHelp(DWORD_PTR, UINT) {}

void CWinApp::OnHelp() {
    WinHelp(0, 0x000B /* HELP_FINDER */);
}

BOOL AfxWinInit(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow) {
    CWinApp* pApp = AfxGetApp();
    if (!pApp)
        return FALSE;
    pApp->m_hInstance = hInstance;
    pApp->m_hPrevInstance = hPrevInstance;
    pApp->m_lpCmdLine = lpCmdLine;
    pApp->m_nCmdShow = nCmdShow;
    pApp->m_nThreadID = GetCurrentThreadId();

    // The executable's base name without its extension, and the application name defaulting to it.
    WCHAR path[MAX_PATH] = {};
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    CString name(path, static_cast<int>(length));
    const int slash = std::max(name.ReverseFind(u'\\'), name.ReverseFind(u'/'));
    name = name.Mid(slash + 1);
    const int dot = name.ReverseFind(u'.');
    if (dot > 0)
        name = name.Left(dot);
    pApp->m_strExeName = name;
    pApp->m_pszExeName = pApp->m_strExeName.GetString();
    if (!pApp->m_pszAppName) {
        pApp->m_strAppName = name;
        pApp->m_pszAppName = pApp->m_strAppName.GetString();
    }
    return TRUE;
}

namespace {

int RunApplication(CWinApp* pApp) {
    if (!pApp->InitApplication())
        return pApp->ExitInstance();
    if (!pApp->InitInstance()) {
        if (pApp->m_pMainWnd)
            pApp->m_pMainWnd->DestroyWindow();
        return pApp->ExitInstance();
    }
    return pApp->Run();
}

} // namespace

int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPTSTR lpCmdLine, int nCmdShow) {
    CWinApp* pApp = AfxGetApp();
    if (!AfxWinInit(hInstance, hPrevInstance, lpCmdLine, nCmdShow) || !pApp)
        return -1;
    const int result = RunApplication(pApp);
    // What the program initialised through the framework ends with it.
    platform::afx::OleTerm();
    return result;
}
