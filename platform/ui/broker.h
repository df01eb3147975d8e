// The window broker: the top-level windows of every process of the user session, visible to every other process.
//
// Stands in for the session-wide window list of Windows. Each process that creates a top-level window publishes
// its top-level windows (HWND, thread, class, title, styles and show state, owner, last active popup, properties
// with their integer values) in a file of its own under the machine folder (platform/base/machine.h), rewritten
// whole on every change, and listens on a Unix socket beside it. Another process reads those files to find,
// enumerate and inspect the windows (FindWindowW, EnumWindows, GetWindow over the desktop's children, GetPropW,
// GetWindowTextW, ...), and connects to the socket to post or send a message, to show a window or to bring it to
// the foreground; the owning process carries that out on the window's own thread. Messages crossing processes
// carry their integer parameters only: a pointer in wParam or lParam means nothing in the other process.
//
// A process that dies leaves its file and socket behind; readers check that the owning process still lives (same
// process id and start time) and that its socket accepts connections, ignore the entries of a dead process and
// remove them, so a crashed program never blocks the next start.
#pragma once

#include "platform/base/types.h"

#include <string>
#include <vector>

namespace platform::ui::broker {

// One published window as another process sees it.
struct WindowEntry {
    HWND hwnd = nullptr;
    DWORD processId = 0;
    DWORD threadId = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    HWND owner = nullptr;
    HWND lastActivePopup = nullptr;
    std::u16string className;
    std::u16string title;
    std::vector<std::pair<std::u16string, ULONG_PTR>> properties;
};

// The windows of the other live processes of the session, in the order each process keeps them (Z order).
// Entries of dead processes are removed on the way.
std::vector<WindowEntry> RemoteWindows();
// The entry of one remote window; false when its process or the window is gone.
bool FindRemoteWindow(HWND hwnd, WindowEntry& entry);

// Requests carried out by the owning process on the window's thread. Each returns false with the last error set
// (ERROR_INVALID_WINDOW_HANDLE when the window or its process is gone, ERROR_TIMEOUT when a send timed out).
bool RemotePost(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);
// Waits for the answer like a cross-thread send: the calling thread serves messages sent to it meanwhile.
// timeoutMs INFINITE waits without limit.
bool RemoteSend(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT smtoFlags, DWORD timeoutMs, LRESULT& result);
bool RemoteShowWindow(HWND hwnd, int cmdShow, BOOL& wasVisible);
bool RemoteSetForeground(HWND hwnd);
bool RemoteBringToTop(HWND hwnd);

// Called by the window layer whenever published state of a local top-level window changes; the file is
// rewritten before the call returns.
void PublishChanged();

// The folder the broker uses inside the machine folder.
std::string Folder();

} // namespace platform::ui::broker
