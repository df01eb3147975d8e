#include "platform/ui/window.h"

#include "platform/ui/ui_test_support.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace uitest;

namespace {

class WindowTest : public UiTest {};

std::string Name(UINT msg) {
    switch (msg) {
    case WM_NCCREATE:
        return "NCCREATE";
    case WM_NCCALCSIZE:
        return "NCCALCSIZE";
    case WM_CREATE:
        return "CREATE";
    case WM_SIZE:
        return "SIZE";
    case WM_MOVE:
        return "MOVE";
    case WM_DESTROY:
        return "DESTROY";
    case WM_NCDESTROY:
        return "NCDESTROY";
    case WM_SHOWWINDOW:
        return "SHOWWINDOW";
    default:
        return "";
    }
}

// Records the interesting messages of several windows under their names.
struct Recorder {
    std::vector<std::string> log;
    Handler For(const std::string& who) {
        return [this, who](HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
            if (!Name(msg).empty())
                log.push_back(who + ":" + Name(msg));
            return DefWindowProcW(hwnd, msg, wParam, lParam);
        };
    }
};

TEST_F(WindowTest, ClassesAreRegisteredOnceAndNotRemovedWhileInUse) {
    RegisterTestClass();
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = u"uitestwindow"; // names compare without regard to case
    EXPECT_EQ(RegisterClassExW(&wc), 0);
    EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);

    Handler plain;
    HWND hwnd = MakeWindow(&plain);
    ASSERT_TRUE(hwnd);
    EXPECT_FALSE(UnregisterClassW(u"UiTestWindow", nullptr));
    EXPECT_EQ(GetLastError(), ERROR_CLASS_HAS_WINDOWS);
    WCHAR name[64];
    EXPECT_EQ(GetClassNameW(hwnd, name, 64), 12);
    EXPECT_EQ(std::u16string(name), u"UiTestWindow");
    DestroyWindow(hwnd);

    EXPECT_EQ(CreateWindowExW(0, u"NoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
    EXPECT_EQ(CreateWindowExW(0, u"STATIC", u"", WS_CHILD, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);

    // The system class "STATIC" is always there and keeps its title.
    HWND target = CreateWindowExW(WS_EX_TOPMOST, u"STATIC", u"TARGET", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                  nullptr, nullptr, nullptr);
    ASSERT_TRUE(target);
    EXPECT_EQ(FindWindowW(nullptr, u"target"), target);
    EXPECT_EQ(FindWindowW(u"static", nullptr), target);
    DestroyWindow(target);
    EXPECT_EQ(FindWindowW(nullptr, u"TARGET"), nullptr);
}

TEST_F(WindowTest, CreationSendsItsMessagesInOrderAndCanBeRefused) {
    Recorder rec;
    Handler h = rec.For("w");
    HWND hwnd = MakeWindow(&h, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    ASSERT_TRUE(hwnd);
    const std::vector<std::string> expected{"w:NCCREATE", "w:NCCALCSIZE", "w:CREATE",     "w:SIZE",
                                            "w:MOVE",     "w:SHOWWINDOW", "w:NCCALCSIZE", "w:SIZE"};
    ASSERT_GE(rec.log.size(), 6u);
    EXPECT_EQ(std::vector<std::string>(rec.log.begin(), rec.log.begin() + 6),
              std::vector<std::string>(expected.begin(), expected.begin() + 6));
    EXPECT_TRUE(IsWindowVisible(hwnd));
    DestroyWindow(hwnd);

    // WM_CREATE answering -1 destroys the window again; WM_NCCREATE answering FALSE refuses it outright.
    for (UINT refuse : {WM_CREATE, WM_NCCREATE}) {
        Recorder r2;
        Handler inner = r2.For("x");
        Handler refusing = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
            if (msg == refuse) {
                inner(w, msg, wp, lp);
                return refuse == WM_CREATE ? -1 : FALSE;
            }
            return inner(w, msg, wp, lp);
        };
        EXPECT_EQ(MakeWindow(&refusing), nullptr);
        ASSERT_FALSE(r2.log.empty());
        EXPECT_EQ(r2.log.back(), "x:NCDESTROY");
        if (refuse == WM_CREATE) {
            EXPECT_NE(std::find(r2.log.begin(), r2.log.end(), "x:DESTROY"), r2.log.end());
        }
    }
}

TEST_F(WindowTest, DestroyingAWindowDestroysOwnedWindowsThenTheTreeInWindowsOrder) {
    Recorder rec;
    Handler hp = rec.For("P"), hc1 = rec.For("C1"), hc2 = rec.For("C2"), hg = rec.For("G"), ho = rec.For("O");
    HWND p = MakeWindow(&hp);
    HWND c1 = MakeWindow(&hc1, WS_CHILD | WS_VISIBLE, p, 1);
    HWND c2 = MakeWindow(&hc2, WS_CHILD | WS_VISIBLE, p, 2);
    HWND g = MakeWindow(&hg, WS_CHILD, c1, 3);
    HWND o = MakeWindow(&ho, WS_POPUP, c1); // owned by the top-level window of c1, that is p
    ASSERT_TRUE(p && c1 && c2 && g && o);
    EXPECT_EQ(GetWindow(o, GW_OWNER), p);
    rec.log.clear();

    ASSERT_TRUE(DestroyWindow(p));
    std::vector<std::string> destroyLog;
    for (auto& s : rec.log)
        if (s.find("DESTROY") != std::string::npos)
            destroyLog.push_back(s);
    const std::vector<std::string> expected{"O:DESTROY",  "O:NCDESTROY", "P:DESTROY",    "C1:DESTROY",   "G:DESTROY",
                                            "C2:DESTROY", "G:NCDESTROY", "C1:NCDESTROY", "C2:NCDESTROY", "P:NCDESTROY"};
    EXPECT_EQ(destroyLog, expected);
    for (HWND h : {p, c1, c2, g, o})
        EXPECT_FALSE(IsWindow(h));
    EXPECT_FALSE(DestroyWindow(p));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

TEST_F(WindowTest, DefaultProcedureKeepsTextAndClosesWindows) {
    Handler plain;
    HWND hwnd = MakeWindow(&plain, WS_OVERLAPPEDWINDOW, nullptr, 0, u"first");
    WCHAR buffer[16];
    EXPECT_EQ(GetWindowTextW(hwnd, buffer, 16), 5);
    EXPECT_EQ(std::u16string(buffer), u"first");
    ASSERT_TRUE(SetWindowTextW(hwnd, u"a longer title"));
    EXPECT_EQ(GetWindowTextLengthW(hwnd), 14);
    EXPECT_EQ(GetWindowTextW(hwnd, buffer, 5), 4); // truncated, always terminated
    EXPECT_EQ(std::u16string(buffer), u"a lo");

    SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_FALSE(IsWindow(hwnd));
}

WNDPROC g_previous = nullptr;
LRESULT CALLBACK Subclass(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_USER + 1)
        return 100 + CallWindowProcW(g_previous, hwnd, msg, wParam, lParam);
    return CallWindowProcW(g_previous, hwnd, msg, wParam, lParam);
}

TEST_F(WindowTest, WindowLongsSubclassAndExtraBytes) {
    Handler h = [](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        return msg == WM_USER + 1 ? 1 : DefWindowProcW(w, msg, wp, lp);
    };
    HWND hwnd = MakeWindow(&h);
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 1);
    g_previous = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(hwnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(Subclass)));
    EXPECT_EQ(g_previous, FunctionProc);
    EXPECT_EQ(SendMessageW(hwnd, WM_USER + 1, 0, 0), 101);

    EXPECT_EQ(SetWindowLongPtrW(hwnd, 8, 0x1234), 0);
    EXPECT_EQ(GetWindowLongPtrW(hwnd, 8), 0x1234);
    EXPECT_EQ(GetWindowLongPtrW(hwnd, 12), 0); // a LONG still fits at the end, a LONG_PTR would not
    SetLastError(0);
    EXPECT_EQ(GetWindowLongPtrW(hwnd, 16), 0);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_INDEX);

    const LONG style = GetWindowLongW(hwnd, GWL_STYLE);
    EXPECT_EQ(style & WS_CAPTION, static_cast<LONG>(WS_CAPTION));
    SetWindowLongW(hwnd, GWL_STYLE, style | WS_DISABLED);
    EXPECT_FALSE(IsWindowEnabled(hwnd));
    DestroyWindow(hwnd);
}

TEST_F(WindowTest, TreeRelationsAndSearch) {
    Handler plain;
    HWND top = MakeWindow(&plain);
    HWND a = MakeWindow(&plain, WS_CHILD, top, 10, u"alpha");
    HWND b = MakeWindow(&plain, WS_CHILD, top, 11, u"beta");
    HWND inner = MakeWindow(&plain, WS_CHILD, a, 12, u"inner");
    HWND popup = MakeWindow(&plain, WS_POPUP, top);

    EXPECT_EQ(GetWindow(top, GW_CHILD), a); // children stay in creation order
    EXPECT_EQ(GetWindow(a, GW_HWNDNEXT), b);
    EXPECT_EQ(GetWindow(b, GW_HWNDNEXT), nullptr);
    EXPECT_EQ(GetDlgItem(top, 11), b);
    EXPECT_EQ(GetDlgItem(top, 12), nullptr); // direct children only
    EXPECT_EQ(GetDlgCtrlID(inner), 12);
    EXPECT_EQ(GetParent(a), top);
    EXPECT_EQ(GetParent(popup), top); // a popup's parent is its owner
    EXPECT_EQ(GetParent(top), nullptr);
    EXPECT_EQ(GetAncestor(inner, GA_ROOT), top);
    EXPECT_TRUE(IsChild(top, inner));
    EXPECT_FALSE(IsChild(a, b));
    EXPECT_EQ(FindWindowExW(top, nullptr, nullptr, u"BETA"), b);
    EXPECT_EQ(FindWindowExW(top, a, nullptr, nullptr), b);

    std::vector<HWND> seen;
    EnumChildWindows(
        top,
        [](HWND h, LPARAM p) {
            reinterpret_cast<std::vector<HWND>*>(p)->push_back(h);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&seen));
    EXPECT_EQ(seen, (std::vector<HWND>{a, inner, b}));

    // The desktop's children are the top-level windows; the newest is on top.
    EXPECT_EQ(GetWindow(GetDesktopWindow(), GW_CHILD), popup);
    DWORD pid = 0;
    EXPECT_EQ(GetWindowThreadProcessId(b, &pid), GetCurrentThreadId());
    EXPECT_EQ(pid, GetCurrentProcessId());
    EXPECT_FALSE(platform::ui::IsRemoteWindow(top));
    DestroyWindow(top);
}

TEST_F(WindowTest, ShowStateGoesThroughWindowPosChanging) {
    std::vector<WPARAM> sizes;
    bool allowShow = true;
    Handler h = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_SIZE)
            sizes.push_back(wp);
        if (msg == WM_WINDOWPOSCHANGING && !allowShow)
            reinterpret_cast<WINDOWPOS*>(lp)->flags &= ~SWP_SHOWWINDOW;
        return DefWindowProcW(w, msg, wp, lp);
    };
    HWND hwnd = MakeWindow(&h);
    RECT before;
    GetWindowRect(hwnd, &before);
    EXPECT_FALSE(ShowWindow(hwnd, SW_SHOW)); // it was hidden
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_EQ(GetActiveWindow(), hwnd);
    EXPECT_EQ(GetFocus(), hwnd);

    sizes.clear();
    EXPECT_TRUE(ShowWindow(hwnd, SW_MINIMIZE));
    EXPECT_TRUE(IsIconic(hwnd));
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back(), SIZE_MINIMIZED);
    ShowWindow(hwnd, SW_RESTORE);
    EXPECT_FALSE(IsIconic(hwnd));
    RECT after;
    GetWindowRect(hwnd, &after);
    EXPECT_EQ(after.left, before.left);
    EXPECT_EQ(after.bottom, before.bottom);
    ShowWindow(hwnd, SW_SHOWMAXIMIZED);
    EXPECT_TRUE(IsZoomed(hwnd));
    EXPECT_EQ(sizes.back(), SIZE_MAXIMIZED);
    ShowWindow(hwnd, SW_HIDE);
    EXPECT_FALSE(IsWindowVisible(hwnd));

    // A window that strips SWP_SHOWWINDOW in WM_WINDOWPOSCHANGING stays hidden.
    allowShow = false;
    ShowWindow(hwnd, SW_SHOWNORMAL);
    EXPECT_FALSE(IsWindowVisible(hwnd));
    allowShow = true;
    ShowWindow(hwnd, SW_SHOWNORMAL);
    EXPECT_TRUE(IsWindowVisible(hwnd));
    EXPECT_FALSE(IsZoomed(hwnd));
    DestroyWindow(hwnd);
}

TEST_F(WindowTest, EnabledStateFocusAndActivePopups) {
    std::vector<std::string> log;
    Handler h = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_ENABLE)
            log.push_back(wp ? "enable" : "disable");
        if (msg == WM_SETFOCUS)
            log.push_back("setfocus");
        if (msg == WM_KILLFOCUS)
            log.push_back("killfocus");
        return DefWindowProcW(w, msg, wp, lp);
    };
    HWND main = MakeWindow(&h, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    HWND edit = MakeWindow(&h, WS_CHILD | WS_VISIBLE, main, 5);
    log.clear();
    EXPECT_EQ(SetFocus(edit), main);
    EXPECT_EQ(GetFocus(), edit);
    EXPECT_FALSE(EnableWindow(edit, FALSE)); // was enabled
    EXPECT_EQ(GetFocus(), nullptr);          // a disabled window loses the focus
    EXPECT_TRUE(EnableWindow(edit, TRUE));
    EXPECT_EQ(log, (std::vector<std::string>{"killfocus", "setfocus", "killfocus", "disable", "enable"}));

    HWND popup = MakeWindow(&h, WS_POPUP | WS_VISIBLE, main);
    EXPECT_EQ(GetActiveWindow(), popup);
    EXPECT_EQ(GetLastActivePopup(main), popup);
    DestroyWindow(popup);
    EXPECT_EQ(GetLastActivePopup(main), main);
    EXPECT_EQ(GetActiveWindow(), main); // the owner takes the activation back
    DestroyWindow(main);
    EXPECT_EQ(GetActiveWindow(), nullptr);
}

TEST_F(WindowTest, PropertiesByNameWithoutRegardToCase) {
    Handler plain;
    HWND hwnd = MakeWindow(&plain);
    EXPECT_EQ(EnumPropsW(hwnd, [](HWND, LPCWSTR, HANDLE) { return TRUE; }), -1);
    ASSERT_TRUE(SetPropW(hwnd, u"Instance_Marker", reinterpret_cast<HANDLE>(1)));
    ASSERT_TRUE(SetPropW(hwnd, u"other", reinterpret_cast<HANDLE>(7)));
    EXPECT_EQ(GetPropW(hwnd, u"INSTANCE_MARKER"), reinterpret_cast<HANDLE>(1));
    SetPropW(hwnd, u"instance_marker", reinterpret_cast<HANDLE>(2));
    EXPECT_EQ(GetPropW(hwnd, u"Instance_Marker"), reinterpret_cast<HANDLE>(2));
    int count = 0;
    EnumPropsExW(
        hwnd,
        [](HWND, LPWSTR, HANDLE, ULONG_PTR p) {
            ++*reinterpret_cast<int*>(p);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(RemovePropW(hwnd, u"other"), reinterpret_cast<HANDLE>(7));
    EXPECT_EQ(GetPropW(hwnd, u"other"), nullptr);
    EXPECT_EQ(RemovePropW(hwnd, u"other"), nullptr);
    DestroyWindow(hwnd);
    EXPECT_EQ(GetPropW(hwnd, u"Instance_Marker"), nullptr);
}

TEST_F(WindowTest, GeometryFollowsTheFrameOfTheStyle) {
    Handler plain;
    HWND top = MakeWindow(&plain, WS_OVERLAPPEDWINDOW);
    HWND child = MakeWindow(&plain, WS_CHILD | WS_BORDER, top, 1);
    RECT client, frame;
    GetClientRect(top, &client);
    GetWindowRect(top, &frame);
    RECT adjusted = client;
    AdjustWindowRectEx(&adjusted, WS_OVERLAPPEDWINDOW, FALSE, WS_EX_WINDOWEDGE);
    EXPECT_EQ(adjusted.right - adjusted.left, frame.right - frame.left);
    EXPECT_EQ(adjusted.bottom - adjusted.top, frame.bottom - frame.top);

    ASSERT_TRUE(MoveWindow(child, 5, 6, 50, 40, TRUE));
    POINT p{0, 0};
    ClientToScreen(child, &p);
    POINT topOrigin{0, 0};
    ClientToScreen(top, &topOrigin);
    EXPECT_EQ(p.x, topOrigin.x + 5 + 1); // the child's border is one pixel
    EXPECT_EQ(p.y, topOrigin.y + 6 + 1);
    POINT q{3, 4};
    MapWindowPoints(child, top, &q, 1);
    EXPECT_EQ(q.x, 3 + 6);
    ScreenToClient(child, &p);
    EXPECT_EQ(p.x, 0);
    RECT cr;
    GetClientRect(child, &cr);
    EXPECT_EQ(cr.right, 48);
    DestroyWindow(top);
}

TEST_F(WindowTest, ForegroundLockTimeoutIsASessionSetting) {
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE));
    DWORD value = 1;
    ASSERT_TRUE(SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &value, 0));
    EXPECT_EQ(value, 0u);
    Handler plain;
    HWND hwnd = MakeWindow(&plain, WS_OVERLAPPEDWINDOW | WS_VISIBLE);
    EXPECT_TRUE(SetForegroundWindow(hwnd));
    EXPECT_EQ(GetForegroundWindow(), hwnd);
    DestroyWindow(hwnd);
    EXPECT_EQ(GetForegroundWindow(), nullptr);
}

HWND g_hooked = nullptr;
bool g_seenBeforeNcCreate = false;
LRESULT CALLBACK CbtHook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND) {
        g_hooked = reinterpret_cast<HWND>(wParam);
        g_seenBeforeNcCreate =
            GetWindowTextLengthW(g_hooked) == 0 && reinterpret_cast<CBT_CREATEWNDW*>(lParam)->lpcs->lpszName != nullptr;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

TEST_F(WindowTest, CbtHookSeesTheWindowBeforeItsFirstMessage) {
    HHOOK hook = SetWindowsHookExW(WH_CBT, CbtHook, nullptr, GetCurrentThreadId());
    ASSERT_TRUE(hook);
    Handler plain;
    HWND hwnd = MakeWindow(&plain, WS_OVERLAPPEDWINDOW, nullptr, 0, u"hooked");
    EXPECT_EQ(g_hooked, hwnd);
    EXPECT_TRUE(g_seenBeforeNcCreate);
    EXPECT_TRUE(UnhookWindowsHookEx(hook));
    EXPECT_FALSE(UnhookWindowsHookEx(hook));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HOOK_HANDLE);
    DestroyWindow(hwnd);
}

} // namespace

TEST_F(WindowTest, ShownTopLevelWindowsLeavePicturesWhereTheEnvironmentAsks) {
    const std::string folder = m_machine.Scratch("pictures");
    ::setenv("WINLAYER_PICTURES", folder.c_str(), 1);
    Handler handler;
    HWND top = MakeWindow(&handler, WS_OVERLAPPEDWINDOW);
    HWND child = MakeWindow(&handler, WS_CHILD, top, 1);
    ShowWindow(child, SW_SHOW);
    ShowWindow(top, SW_SHOW);
    ShowWindow(top, SW_SHOW); // already shown: no second picture
    ::unsetenv("WINLAYER_PICTURES");
    ShowWindow(top, SW_HIDE);
    ShowWindow(top, SW_SHOW); // no folder asked for any more
    std::vector<std::string> pictures;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        pictures.push_back(entry.path().filename().string());
    ASSERT_EQ(pictures.size(), 1u);
    EXPECT_NE(pictures[0].find("-UiTestWindow.png"), std::string::npos) << pictures[0];
    EXPECT_EQ(pictures[0].find(std::to_string(GetCurrentProcessId()) + "-"), 0u);
    DestroyWindow(top);
}
