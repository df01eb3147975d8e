#include "platform/ui/broker.h"

#include "platform/ui/ui_test_support.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <dirent.h>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

using namespace uitest;

namespace {

class BrokerTest : public UiTest {};

// The helper program as a child process with its standard output on a pipe.
class Child {
public:
    Child(const char* mode, const char* arg) {
        int fds[2];
        EXPECT_EQ(::pipe(fds), 0);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addclose(&actions, fds[0]);
        const char* argv[] = {UI_TEST_HELPER, mode, arg, nullptr};
        EXPECT_EQ(posix_spawn(&m_pid, UI_TEST_HELPER, &actions, nullptr, const_cast<char**>(argv), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~Child() {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            Wait();
        }
        ::close(m_out);
    }
    // Reads one line, failing after a real-time limit instead of hanging.
    std::string ReadLine() {
        std::string line;
        for (;;) {
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, 30000) <= 0)
                return line + "<timeout>";
            char c;
            if (::read(m_out, &c, 1) != 1)
                return line;
            if (c == '\n')
                return line;
            line += c;
        }
    }
    pid_t Pid() const { return m_pid; }
    int Wait() {
        int status = 0;
        while (::waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
        m_pid = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    void Kill() { ::kill(m_pid, SIGKILL); }

private:
    pid_t m_pid = -1;
    int m_out = -1;
};

TEST_F(BrokerTest, ASecondProcessFindsAWindowByPropertyAndSignalsIt) {
    // The running program's main dialog: iconic, carrying the instance property, with an owned popup that was
    // active last.
    SystemParametersInfoW(SPI_SETFOREGROUNDLOCKTIMEOUT, 0, nullptr, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE);
    std::vector<std::pair<WPARAM, LPARAM>> trayCalls;
    bool signalled = false;
    Handler mainHandler = [&](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER + 3111) {
            trayCalls.emplace_back(wp, lp);
            return 0;
        }
        if (msg == WM_USER + 1499)
            signalled = true;
        return DefWindowProcW(w, msg, wp, lp);
    };
    Handler plain;
    HWND other = MakeWindow(&plain, WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr, 0, u"unrelated");
    HWND main = MakeWindow(&mainHandler, WS_OVERLAPPEDWINDOW | WS_VISIBLE, nullptr, 0, u"Main Menu");
    HWND popup = MakeWindow(&plain, WS_POPUP | WS_VISIBLE, main, 0, u"wizard");
    ASSERT_TRUE(SetPropW(main, u"SINGLE_INSTANCE_MARK", reinterpret_cast<HANDLE>(1)));
    ShowWindow(main, SW_MINIMIZE);
    BringWindowToTop(other);
    ASSERT_TRUE(IsIconic(main));

    Child child("find-prop", "single_instance_mark");
    MSG msg;
    while (!signalled && GetMessageW(&msg, nullptr, 0, 0) > 0)
        DispatchMessageW(&msg);
    EXPECT_EQ(child.ReadLine(), "found 0 1 1 1 1");
    EXPECT_EQ(child.Wait(), 0);
    ASSERT_EQ(trayCalls.size(), 1u);
    EXPECT_EQ(trayCalls[0], (std::pair<WPARAM, LPARAM>{1, WM_LBUTTONDBLCLK}));
    EXPECT_FALSE(IsIconic(main));
    EXPECT_EQ(GetForegroundWindow(), popup);
    DestroyWindow(main);
    DestroyWindow(other);
}

TEST_F(BrokerTest, WindowsOfAnotherProcessAreFoundPostedAndSentTo) {
    Child child("publish", "ONE_TOUCH_NOTIFY_TARGET");
    const std::string ready = child.ReadLine();
    ASSERT_EQ(ready.rfind("ready ", 0), 0u) << ready;
    const HWND published = reinterpret_cast<HWND>(static_cast<uintptr_t>(std::stoull(ready.substr(6), nullptr, 16)));

    HWND found = FindWindowW(nullptr, u"one_touch_notify_target");
    ASSERT_EQ(found, published);
    EXPECT_TRUE(platform::ui::IsRemoteWindow(found));
    EXPECT_TRUE(IsWindow(found));
    DWORD pid = 0;
    EXPECT_NE(GetWindowThreadProcessId(found, &pid), 0u);
    EXPECT_EQ(pid, static_cast<DWORD>(child.Pid()));
    WCHAR title[260];
    EXPECT_EQ(GetWindowTextW(found, title, 260), 23);
    WCHAR cls[64];
    GetClassNameW(found, cls, 64);
    EXPECT_EQ(std::u16string(cls), u"HelperWindow");
    bool enumerated = false;
    std::pair<HWND, bool*> args(found, &enumerated);
    EnumWindows(
        [](HWND h, LPARAM p) {
            auto* args = reinterpret_cast<std::pair<HWND, bool*>*>(p);
            if (h == args->first)
                *args->second = true;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&args));
    EXPECT_TRUE(enumerated);

    EXPECT_EQ(SendMessageW(found, WM_USER + 7, 14, 0), 42);
    ASSERT_TRUE(PostMessageW(found, WM_USER + 1499, 0, 0));
    EXPECT_EQ(child.ReadLine(), "signal 0 0");

    // The other process sends back to us while we wait in our send to it.
    Handler mine = [](HWND w, UINT msg, WPARAM wp, LPARAM lp) -> LRESULT {
        if (msg == WM_USER + 6)
            return static_cast<LRESULT>(wp * 10);
        return DefWindowProcW(w, msg, wp, lp);
    };
    HWND local = MakeWindow(&mine);
    EXPECT_EQ(SendMessageW(found, WM_USER + 5, reinterpret_cast<WPARAM>(local), 4), 41);
    DestroyWindow(local);

    // WM_QUIT posted to the other process's window ends its message loop, and with it the process.
    ASSERT_TRUE(PostMessageW(found, WM_QUIT, 0, 0));
    EXPECT_EQ(child.Wait(), 0);
    EXPECT_FALSE(IsWindow(found));
}

TEST_F(BrokerTest, AKilledProcessLeavesNoEntryBehind) {
    Child child("publish", "Orphan");
    ASSERT_EQ(child.ReadLine().rfind("ready ", 0), 0u);
    HWND found = FindWindowW(nullptr, u"Orphan");
    ASSERT_TRUE(found);
    const std::string folder = platform::ui::broker::Folder();
    const std::string entry = folder + "/" + std::to_string(child.Pid()) + ".windows";
    ASSERT_EQ(::access(entry.c_str(), F_OK), 0);

    child.Kill();
    child.Wait();
    EXPECT_EQ(FindWindowW(nullptr, u"Orphan"), nullptr);
    EXPECT_FALSE(IsWindow(found));
    EXPECT_FALSE(PostMessageW(found, WM_USER, 0, 0));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
    EXPECT_NE(::access(entry.c_str(), F_OK), 0); // cleaned up by the readers

    // A stale entry whose process id now names a different process (or none) is ignored as well.
    {
        FILE* f = std::fopen((folder + "/1.windows").c_str(), "w");
        ASSERT_TRUE(f);
        std::fprintf(f, "process 1 12345\nwindow 100000002 1 10000000 0 0 0 =STATIC =Stale\n");
        std::fclose(f);
    }
    EXPECT_EQ(FindWindowW(nullptr, u"Stale"), nullptr);
}

} // namespace
