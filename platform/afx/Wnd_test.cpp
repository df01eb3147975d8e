#include "platform/afx/ScrollBar.h"
#include "platform/afx/WinThread.h"
#include "platform/afx/Wnd.h"

#include "platform/base/machine.h"
#include "platform/base/sync.h"
#include "platform/base/thread.h"
#include "platform/ui/controls.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <vector>

namespace {

constexpr UINT WM_TEST_PING = WM_USER + 1;
constexpr int NM_CLICK_CODE = -2;
constexpr int NM_DBLCLK_CODE = -3;
constexpr WORD EN_CHANGE_CODE = 0x0300;
UINT g_registeredMessage = WM_APP + 77; // what a registration would have handed out

std::vector<std::string>* g_log = nullptr;
void Log(const std::string& entry) {
    if (g_log)
        g_log->push_back(entry);
}

class CChildCtrl : public CWnd {
public:
    BOOL m_passClicks = TRUE;

protected:
    void OnReflectedClick(NMHDR* pNMHDR, LRESULT* pResult) {
        Log("child:reflect-notify " + std::to_string(pNMHDR->idFrom));
        *pResult = 42;
    }
    BOOL OnReflectedButton() {
        Log("child:reflect-clicked");
        return !m_passClicks; // FALSE lets the parent see the click as well
    }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CChildCtrl, CWnd)
ON_NOTIFY_REFLECT(NM_CLICK_CODE, OnReflectedClick)
ON_CONTROL_REFLECT_EX(0, OnReflectedButton)
END_MESSAGE_MAP()

class CParentWnd : public CWnd {
public:
    int m_created = 0;
    int m_destroyed = 0;
    int m_postNcDestroy = 0;

protected:
    int OnCreate(LPCREATESTRUCTW lpCreateStruct) {
        ++m_created;
        Log(std::string("parent:create ") + (lpCreateStruct->lpCreateParams ? "param" : "none"));
        return CWnd::OnCreate(lpCreateStruct);
    }
    void OnDestroy() {
        ++m_destroyed;
        CWnd::OnDestroy();
    }
    void PostNcDestroy() override { ++m_postNcDestroy; }
    LRESULT OnPing(WPARAM wParam, LPARAM lParam) { return static_cast<LRESULT>(wParam + lParam); }
    LRESULT OnRegistered(WPARAM wParam, LPARAM) { return static_cast<LRESULT>(wParam * 2); }
    void OnCommand100() { Log("parent:command 100"); }
    virtual void OnRange(UINT nID) { Log("parent:range " + std::to_string(nID)); }
    void OnEditRange(UINT nID) { Log("parent:edit-change " + std::to_string(nID)); }
    void OnButton500() { Log("parent:clicked 500"); }
    void OnNotifyClick(NMHDR* pNMHDR, LRESULT* pResult) {
        Log("parent:notify " + std::to_string(pNMHDR->idFrom));
        *pResult = 7;
    }
    void OnTimer(UINT_PTR nIDEvent) { Log("parent:timer " + std::to_string(nIDEvent)); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CParentWnd, CWnd)
ON_WM_CREATE()
ON_WM_DESTROY()
ON_WM_TIMER()
ON_MESSAGE(WM_TEST_PING, OnPing)
ON_REGISTERED_MESSAGE(g_registeredMessage, OnRegistered)
ON_COMMAND(100, OnCommand100)
ON_COMMAND_RANGE(200, 209, OnRange)
ON_CONTROL_RANGE(EN_CHANGE_CODE, 300, 305, OnEditRange)
ON_BN_CLICKED(500, OnButton500)
ON_NOTIFY(NM_CLICK_CODE, 400, OnNotifyClick)
ON_NOTIFY(NM_DBLCLK_CODE, 400, OnNotifyClick)
END_MESSAGE_MAP()

class CDerivedWnd : public CParentWnd {
protected:
    void OnCommand100Again() { Log("derived:command 100"); }
    void OnRange(UINT nID) override { Log("derived:range " + std::to_string(nID)); }
    DECLARE_MESSAGE_MAP()
};

BEGIN_MESSAGE_MAP(CDerivedWnd, CParentWnd)
ON_COMMAND(100, OnCommand100Again)
END_MESSAGE_MAP()

class WndTest : public ::testing::Test {
protected:
    void SetUp() override {
        platform::ui::SetDeadlockTimeout(120000);
        g_log = &m_log;
    }
    void TearDown() override {
        g_log = nullptr;
        CWnd::DeleteTempMap();
    }
    static RECT Rect(int x, int y, int cx, int cy) { return RECT{x, y, x + cx, y + cy}; }

    platform::machine::ScopedTestMachine m_machine;
    std::vector<std::string> m_log;
};

TEST_F(WndTest, CreationAttachesBeforeTheFirstMessageAndDestructionDetaches) {
    CParentWnd parent;
    int param = 0;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"Parent", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, &param));
    EXPECT_EQ(parent.m_created, 1);
    EXPECT_EQ(m_log, (std::vector<std::string>{"parent:create param"}));
    EXPECT_EQ(CWnd::FromHandlePermanent(parent.m_hWnd), &parent);
    EXPECT_EQ(CWnd::FromHandle(parent.m_hWnd), &parent);
    CString text;
    parent.GetWindowText(text);
    EXPECT_TRUE(text == u"Parent");

    HWND hWnd = parent.m_hWnd;
    EXPECT_TRUE(parent.DestroyWindow());
    EXPECT_EQ(parent.m_destroyed, 1);
    EXPECT_EQ(parent.m_postNcDestroy, 1);
    EXPECT_EQ(parent.m_hWnd, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(hWnd), nullptr);
    EXPECT_FALSE(::IsWindow(hWnd));
}

TEST_F(WndTest, MessageMapDispatchesMessagesCommandsRangesAndNotifications) {
    CDerivedWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"Parent", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr));
    m_log.clear();

    EXPECT_EQ(parent.SendMessage(WM_TEST_PING, 40, 2), 42);
    EXPECT_EQ(parent.SendMessage(g_registeredMessage, 21, 0), 42);
    parent.SendMessage(WM_TIMER, 9, 0);
    struct Case {
        WORD id;
        WORD code;
        LRESULT result;
        const char* expected; // null: nobody handles it
    };
    const Case cases[] = {
        {100, 0, 1, "derived:command 100"}, // the derived map wins over the base's entry
        {200, 0, 1, "derived:range 200"},   // range entry of the base, virtual handler of the derived class
        {209, 0, 1, "derived:range 209"},
        {210, 0, 0, nullptr},
        {303, EN_CHANGE_CODE, 1, "parent:edit-change 303"},
        {306, EN_CHANGE_CODE, 0, nullptr},
        {303, 0x0400, 0, nullptr}, // another code for the same id
    };
    std::vector<std::string> expected = {"parent:timer 9"};
    for (const auto& c : cases) {
        // Menu commands carry no control; control notifications name the control window.
        HWND control = c.code ? parent.m_hWnd : nullptr;
        EXPECT_EQ(parent.SendMessage(WM_COMMAND, MAKEWPARAM(c.id, c.code), reinterpret_cast<LPARAM>(control)), c.result)
            << c.id;
        if (c.expected)
            expected.push_back(c.expected);
    }
    EXPECT_EQ(m_log, expected);

    m_log.clear();
    NMHDR header{parent.m_hWnd, 400, static_cast<UINT>(NM_DBLCLK_CODE)};
    EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 400, reinterpret_cast<LPARAM>(&header)), 7);
    header.idFrom = 401;
    EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 401, reinterpret_cast<LPARAM>(&header)), 0);
    EXPECT_EQ(m_log, (std::vector<std::string>{"parent:notify 400"}));
    parent.DestroyWindow();
}

TEST_F(WndTest, NotificationsAreReflectedToTheControlFirst) {
    CParentWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"Parent", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr));
    CChildCtrl list;
    ASSERT_TRUE(list.Create(nullptr, u"", WS_VISIBLE, Rect(0, 0, 50, 20), &parent, 400));
    CChildCtrl button;
    ASSERT_TRUE(button.Create(nullptr, u"", WS_VISIBLE, Rect(0, 30, 50, 20), &parent, 500));
    EXPECT_EQ(list.GetDlgCtrlID(), 400);
    EXPECT_EQ(parent.GetDlgItem(500), &button);
    EXPECT_EQ(button.GetParent(), &parent);
    m_log.clear();

    // The control's reflected handler takes NM_CLICK; the parent's own entry never sees it.
    NMHDR click{list.m_hWnd, 400, static_cast<UINT>(NM_CLICK_CODE)};
    EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 400, reinterpret_cast<LPARAM>(&click)), 42);
    // NM_DBLCLK has no reflected handler and goes to the parent.
    NMHDR dblclk{list.m_hWnd, 400, static_cast<UINT>(NM_DBLCLK_CODE)};
    EXPECT_EQ(parent.SendMessage(WM_NOTIFY, 400, reinterpret_cast<LPARAM>(&dblclk)), 7);
    // An _EX reflected handler that returns FALSE leaves the click to the parent as well...
    parent.SendMessage(WM_COMMAND, MAKEWPARAM(500, 0), reinterpret_cast<LPARAM>(button.m_hWnd));
    // ...and one that returns TRUE keeps it.
    button.m_passClicks = FALSE;
    parent.SendMessage(WM_COMMAND, MAKEWPARAM(500, 0), reinterpret_cast<LPARAM>(button.m_hWnd));
    EXPECT_EQ(m_log, (std::vector<std::string>{"child:reflect-notify 400", "parent:notify 400", "child:reflect-clicked",
                                               "parent:clicked 500", "child:reflect-clicked"}));
    parent.DestroyWindow();
    EXPECT_EQ(list.m_hWnd, nullptr); // children went with their parent
    EXPECT_EQ(button.m_hWnd, nullptr);
}

TEST_F(WndTest, HandleMapsWrapSubclassAndDetachForeignWindows) {
    HWND raw = CreateWindowExW(0, u"STATIC", u"raw", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(raw, nullptr);
    EXPECT_EQ(CWnd::FromHandlePermanent(raw), nullptr);
    CWnd* temporary = CWnd::FromHandle(raw);
    ASSERT_NE(temporary, nullptr);
    EXPECT_EQ(CWnd::FromHandle(raw), temporary);
    EXPECT_EQ(temporary->m_hWnd, raw);
    CWnd::DeleteTempMap();
    EXPECT_TRUE(::IsWindow(raw)); // a temporary object never destroys its window

    CParentWnd sub;
    ASSERT_TRUE(sub.SubclassWindow(raw));
    EXPECT_EQ(CWnd::FromHandlePermanent(raw), &sub);
    EXPECT_EQ(sub.SendMessage(WM_TEST_PING, 1, 2), 3);
    // What the map does not handle reaches the window's own procedure.
    sub.SetWindowText(u"changed");
    CString text;
    sub.GetWindowText(text);
    EXPECT_TRUE(text == u"changed");
    EXPECT_EQ(sub.UnsubclassWindow(), raw);
    EXPECT_EQ(CWnd::FromHandlePermanent(raw), nullptr);
    EXPECT_EQ(::SendMessageW(raw, WM_TEST_PING, 1, 2), 0);

    CWnd attached;
    ASSERT_TRUE(attached.Attach(raw));
    CWnd second;
    EXPECT_FALSE(second.Attach(raw)); // one permanent object per window
    EXPECT_EQ(attached.Detach(), raw);
    EXPECT_TRUE(::DestroyWindow(raw));
}

UINT SendFromWorker(LPVOID pParam) {
    auto* parent = static_cast<CWnd*>(pParam);
    LRESULT sum = 0;
    for (int i = 0; i < 50; ++i)
        sum += ::SendMessageW(parent->m_hWnd, WM_TEST_PING, static_cast<WPARAM>(i), 0);
    return static_cast<UINT>(sum);
}

TEST_F(WndTest, WorkerThreadSendsToTheWindowThread) {
    CParentWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"Parent", WS_OVERLAPPEDWINDOW, 0, 0, 10, 10, nullptr, nullptr));
    CWinThread* worker = AfxBeginThread(&SendFromWorker, &parent, THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(worker, nullptr);
    worker->m_bAutoDelete = FALSE;
    worker->ResumeThread();
    // The window's thread serves the sent messages while it waits for the worker.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    HANDLE thread = worker->m_hThread;
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, 100, 0x04FF /* QS_ALLINPUT */) != WAIT_OBJECT_0) {
        MSG msg;
        while (::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageW(&msg);
        ASSERT_LT(std::chrono::steady_clock::now(), deadline);
    }
    DWORD exitCode = 0;
    ASSERT_TRUE(GetExitCodeThread(worker->m_hThread, &exitCode));
    EXPECT_EQ(exitCode, 49u * 50u / 2u);
    delete worker;
    parent.DestroyWindow();
}

class CUiThread : public CWinThread {
    DECLARE_DYNCREATE(CUiThread)
public:
    BOOL InitInstance() override {
        if (!m_window.CreateEx(0, nullptr, u"ui", WS_OVERLAPPED, 0, 0, 10, 10, nullptr, nullptr))
            return FALSE;
        m_pMainWnd = &m_window;
        // Closing the main window destroys it, and that ends the thread's loop.
        ::PostMessageW(m_window.m_hWnd, WM_CLOSE, 0, 0);
        return TRUE;
    }
    int ExitInstance() override { return m_window.m_hWnd || m_pMainWnd ? 1 : 5; }

private:
    CParentWnd m_window;
};
IMPLEMENT_DYNCREATE(CUiThread, CWinThread)

TEST_F(WndTest, UserInterfaceThreadRunsItsOwnLoop) {
    CWinThread* thread = AfxBeginThread(RUNTIME_CLASS(CUiThread), THREAD_PRIORITY_NORMAL, 0, CREATE_SUSPENDED);
    ASSERT_NE(thread, nullptr);
    EXPECT_TRUE(thread->IsKindOf(RUNTIME_CLASS(CUiThread)));
    thread->m_bAutoDelete = FALSE;
    thread->ResumeThread();
    ASSERT_EQ(WaitForSingleObject(thread->m_hThread, 20000), WAIT_OBJECT_0);
    DWORD exitCode = 0;
    GetExitCodeThread(thread->m_hThread, &exitCode);
    EXPECT_EQ(exitCode, 5u);
    delete thread;
}

} // namespace

TEST_F(WndTest, DialogItemHelpersWorkOnAnyWindow) {
    CParentWnd parent;
    ASSERT_TRUE(parent.CreateEx(0, nullptr, u"Panel", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200, nullptr, nullptr));
    struct Child {
        const char16_t* cls;
        DWORD style;
        int id;
    };
    const Child children[] = {
        {u"BUTTON", BS_AUTOCHECKBOX, 301},    {u"BUTTON", BS_AUTORADIOBUTTON | WS_GROUP, 311},
        {u"BUTTON", BS_AUTORADIOBUTTON, 312}, {u"BUTTON", BS_AUTORADIOBUTTON, 313},
        {u"EDIT", ES_AUTOHSCROLL, 320},
    };
    for (const Child& c : children)
        ASSERT_NE(::CreateWindowExW(0, c.cls, u"", WS_CHILD | WS_VISIBLE | c.style, 0, 0, 80, 20, parent.m_hWnd,
                                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(c.id)), nullptr, nullptr),
                  nullptr);

    parent.CheckDlgButton(301, BST_CHECKED);
    EXPECT_EQ(parent.IsDlgButtonChecked(301), BST_CHECKED);
    EXPECT_EQ(parent.SendDlgItemMessage(301, BM_GETCHECK), BST_CHECKED);
    EXPECT_EQ(parent.GetCheckedRadioButton(311, 313), 0);
    parent.CheckRadioButton(311, 313, 312);
    EXPECT_EQ(parent.GetCheckedRadioButton(311, 313), 312);
    parent.CheckRadioButton(311, 313, 313);
    EXPECT_EQ(parent.GetCheckedRadioButton(311, 313), 313);
    EXPECT_EQ(parent.IsDlgButtonChecked(312), BST_UNCHECKED);

    parent.SetDlgItemInt(320, static_cast<UINT>(-42), TRUE);
    BOOL translated = FALSE;
    EXPECT_EQ(static_cast<int>(parent.GetDlgItemInt(320, &translated, TRUE)), -42);
    EXPECT_TRUE(translated);
    parent.SetDlgItemText(320, u"abc");
    parent.GetDlgItemInt(320, &translated, FALSE);
    EXPECT_FALSE(translated);
    char16_t buffer[3] = {};
    EXPECT_EQ(parent.GetDlgItemText(320, buffer, 3), 2); // cut to the buffer
    EXPECT_EQ(std::u16string(buffer), u"ab");
    CString text;
    EXPECT_EQ(parent.GetDlgItemText(320, text), 3);
    EXPECT_EQ(parent.GetDlgItem(320)->GetDlgCtrlID(), 320);
    EXPECT_EQ(parent.GetDlgItem(999), nullptr);
    EXPECT_EQ(parent.IsDlgButtonChecked(999), 0u);
    parent.DestroyWindow();
}

TEST_F(WndTest, ScrollBarsOfWindowsAndScrollBarControls) {
    CParentWnd parent;
    ASSERT_TRUE(
        parent.CreateEx(0, nullptr, u"Panel", WS_OVERLAPPEDWINDOW | WS_VSCROLL, 0, 0, 300, 200, nullptr, nullptr));
    parent.SetScrollRange(SB_VERT, 0, 49);
    SCROLLINFO si{};
    si.fMask = SIF_PAGE | SIF_POS;
    si.nPage = 10;
    si.nPos = 45;
    parent.SetScrollInfo(SB_VERT, &si);
    EXPECT_EQ(parent.GetScrollPos(SB_VERT), 40);
    ASSERT_TRUE(parent.GetScrollInfo(SB_VERT, &si, SIF_ALL));
    EXPECT_EQ(si.nPage, 10u);
    EXPECT_EQ(parent.SetScrollPos(SB_VERT, 3), 40);
    int lo = -1, hi = -1;
    parent.GetScrollRange(SB_VERT, &lo, &hi);
    EXPECT_EQ(hi, 49);
    parent.ShowScrollBar(SB_HORZ);
    EXPECT_TRUE(parent.GetStyle() & WS_HSCROLL);

    CScrollBar bar;
    ASSERT_TRUE(bar.Create(WS_CHILD | WS_VISIBLE | SBS_HORZ, Rect(0, 0, 120, 17), &parent, 77));
    bar.SetScrollRange(0, 9);
    bar.SetScrollPos(12);
    EXPECT_EQ(bar.GetScrollPos(), 9);
    EXPECT_EQ(bar.SendMessage(SBM_GETPOS), 9);
    EXPECT_TRUE(bar.EnableScrollBar(ESB_DISABLE_BOTH));
    EXPECT_EQ(parent.GetDlgItem(77), &bar);
    parent.DestroyWindow();
}
