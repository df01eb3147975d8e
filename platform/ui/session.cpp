// The end of the session: the windows are asked and told; SIGTERM and the session manager start it.
#include "platform/ui/session.h"

#include "platform/ui/message.h"
#include "platform/ui/session_manager.h"
#include "platform/ui/ui_internal.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <memory>
#include <mutex>
#include <poll.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace platform::ui {
namespace {

constexpr UINT kAnswerTimeout = 5000;
constexpr int kTerminatedExitCode = 128 + SIGTERM;

int g_wake[2] = {-1, -1};

void OnTerminate(int) {
    const char c = 't';
    const ssize_t written = write(g_wake[1], &c, 1);
    (void)written;
}

std::vector<HWND> TopLevelWindows() {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    return s.topLevel;
}

// Asks every top-level window; stops at the first that refuses. A window whose thread does not answer in time
// counts as agreeing.
bool Query(LPARAM reason, std::vector<HWND>& asked) {
    for (HWND hwnd : TopLevelWindows()) {
        if (!IsWindow(hwnd))
            continue;
        asked.push_back(hwnd);
        DWORD_PTR answer = TRUE;
        if (SendMessageTimeoutW(hwnd, WM_QUERYENDSESSION, 0, reason, SMTO_ABORTIFHUNG, kAnswerTimeout, &answer) &&
            !answer)
            return false;
    }
    return true;
}

void Tell(const std::vector<HWND>& windows, bool ending, LPARAM reason) {
    for (HWND hwnd : windows)
        if (IsWindow(hwnd))
            SendMessageTimeoutW(hwnd, WM_ENDSESSION, ending ? TRUE : FALSE, reason, SMTO_ABORTIFHUNG, kAnswerTimeout,
                                nullptr);
}

// The session ended: the program has the grace time to end by itself; a further SIGTERM ends it at once.
[[noreturn]] void EndAfterGrace(int exitCode) {
    long grace = 10000;
    if (const char* value = std::getenv("WINLAYER_SESSION_END_GRACE_MS"))
        grace = std::strtol(value, nullptr, 10);
    pollfd wake{g_wake[0], POLLIN, 0};
    while (grace > 0 && poll(&wake, 1, static_cast<int>(grace)) < 0 && errno == EINTR) {
    }
    std::fflush(nullptr);
    _exit(exitCode);
}

void Watch() {
    std::vector<HWND> asked;
    bool loggedOut = false;
    std::unique_ptr<SessionManagerClient> manager = SessionManagerClient::Connect({
        [&asked] {
            asked.clear();
            return Query(ENDSESSION_LOGOFF, asked);
        },
        [&asked, &loggedOut](bool ending) {
            Tell(asked.empty() ? TopLevelWindows() : asked, ending, ENDSESSION_LOGOFF);
            asked.clear();
            loggedOut = loggedOut || ending;
        },
    });
    for (;;) {
        pollfd fds[2] = {{g_wake[0], POLLIN, 0}, {manager ? manager->Descriptor() : -1, POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        if (fds[0].revents & POLLIN) {
            char buffer[16];
            while (read(g_wake[0], buffer, sizeof buffer) > 0) {
            }
            std::vector<HWND> windows;
            const bool ending = Query(0, windows);
            Tell(windows, ending, 0);
            if (ending)
                EndAfterGrace(kTerminatedExitCode);
        }
        if (manager && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            if (!manager->Process())
                manager.reset();
            if (loggedOut)
                EndAfterGrace(0);
        }
    }
}

} // namespace

BOOL EndSession(LPARAM reason) {
    std::vector<HWND> asked;
    const bool ending = Query(reason, asked);
    Tell(asked, ending, reason);
    return ending ? TRUE : FALSE;
}

void WatchSessionEnd() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (pipe2(g_wake, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        // A program that handles SIGTERM itself keeps its handler.
        struct sigaction old {};
        sigaction(SIGTERM, nullptr, &old);
        if (!(old.sa_flags & SA_SIGINFO) && old.sa_handler == SIG_DFL) {
            struct sigaction action {};
            action.sa_handler = OnTerminate;
            sigemptyset(&action.sa_mask);
            action.sa_flags = SA_RESTART;
            sigaction(SIGTERM, &action, nullptr);
        }
        std::thread(Watch).detach();
    });
}

} // namespace platform::ui
