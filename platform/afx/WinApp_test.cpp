#include "platform/afx/OleInit.h"
#include "platform/afx/WinApp.h"
#include "platform/afx/Wnd.h"
#include "platform/com/objbase.h"

#include "platform/base/machine.h"
#include "platform/base/module.h"

#include <gtest/gtest.h>

namespace {

constexpr UINT WM_TEST_QUIT = WM_USER + 10;

class CTestMainWnd : public CWnd {
protected:
    LRESULT OnQuitRequest(WPARAM wParam, LPARAM) {
        ::PostQuitMessage(static_cast<int>(wParam));
        return 0;
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CTestMainWnd, CWnd)
ON_MESSAGE(WM_TEST_QUIT, OnQuitRequest)
END_MESSAGE_MAP()

class CTestApp : public CWinApp {
public:
    CTestApp() : CWinApp(nullptr) {}
    bool m_runLoop = false;
    int m_idleCalls = 0;
    int m_exitCalls = 0;
    bool m_initOle = false;
    BOOL m_oleResult = FALSE;
    bool m_oleDuring = false;
    CTestMainWnd m_wnd;

    BOOL InitInstance() override {
        if (m_initOle) {
            m_oleResult = AfxOleInit();
            m_oleDuring = platform::com::IsOleInitialized();
        }
        if (!m_runLoop)
            return FALSE;
        if (!m_wnd.CreateEx(0, nullptr, u"main", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr))
            return FALSE;
        m_pMainWnd = &m_wnd;
        return TRUE;
    }
    BOOL OnIdle(LONG lCount) override {
        // The first idle time asks the window to end the loop.
        if (m_idleCalls++ == 0)
            m_wnd.PostMessage(WM_TEST_QUIT, 3, 0);
        return CWinApp::OnIdle(lCount);
    }
    int ExitInstance() override {
        ++m_exitCalls;
        // Forgotten first, so that its destruction does not post another quit to this thread.
        m_pMainWnd = nullptr;
        if (m_wnd.m_hWnd)
            m_wnd.DestroyWindow();
        return m_runLoop ? CWinApp::ExitInstance() : 11;
    }
};

CTestApp theApp;

TEST(WinAppTest, StartUpThatDeclinesEndsThroughExitInstance) {
    platform::machine::ScopedTestMachine machine;
    theApp.m_runLoop = false;
    theApp.m_exitCalls = 0;
    WCHAR commandLine[] = u"/min extra";
    EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, 0), 11);
    EXPECT_EQ(theApp.m_exitCalls, 1);
    EXPECT_EQ(AfxGetApp(), &theApp);
    EXPECT_EQ(AfxGetThread(), &theApp);
    EXPECT_EQ(std::u16string(theApp.m_lpCmdLine), u"/min extra");
    EXPECT_EQ(theApp.m_nCmdShow, 0);
    EXPECT_EQ(theApp.m_hInstance, GetModuleHandleW(nullptr));
    EXPECT_EQ(std::u16string(theApp.m_pszExeName), u"afx_tests");
    EXPECT_EQ(std::u16string(AfxGetAppName()), u"afx_tests");
}

TEST(WinAppTest, OleThatStartUpInitialisedEndsWithTheProgram) {
    platform::machine::ScopedTestMachine machine;
    theApp.m_runLoop = false;
    theApp.m_initOle = true;
    WCHAR commandLine[] = u"";
    AfxWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, 1);
    theApp.m_initOle = false;
    EXPECT_TRUE(theApp.m_oleResult);
    EXPECT_TRUE(theApp.m_oleDuring);
    EXPECT_FALSE(platform::com::IsOleInitialized());
    EXPECT_FALSE(platform::com::IsApartmentEntered());
}

TEST(WinAppTest, RunPumpsMessagesWithIdleProcessingUntilQuit) {
    platform::machine::ScopedTestMachine machine;
    platform::ui::SetDeadlockTimeout(120000);
    theApp.m_runLoop = true;
    theApp.m_idleCalls = 0;
    theApp.m_exitCalls = 0;
    WCHAR commandLine[] = u"";
    EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, commandLine, 1), 3);
    EXPECT_EQ(theApp.m_exitCalls, 1);
    EXPECT_GT(theApp.m_idleCalls, 0);
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_EQ(theApp.m_wnd.m_hWnd, nullptr);
}

} // namespace
