// Internal state of the window layer, shared by its implementation files only.
//
// Locking: one process-wide mutex (State::mutex) guards the window table, the tree of windows, the classes, every
// window's fields and the per-thread queues' window-related fields (focus, active window, timers). Each queue has
// its own mutex for its message lists. A window procedure, hook or timer callback is never called with either held.
// Lock order: the base layer's wait lock, then a queue mutex, then State::mutex; code that holds State::mutex never
// takes a queue mutex or the wait lock.
#pragma once

#include "platform/ui/message.h"
#include "platform/ui/timer.h"
#include "platform/ui/window.h"

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace platform::ui {

struct WindowClass {
    ATOM atom = 0;
    std::u16string name;
    WNDCLASSEXW wc{};
    std::u16string menuName;
    bool system = false;
    int liveWindows = 0;
};
using WindowClassPtr = std::shared_ptr<WindowClass>;

// One scroll bar's numbers (scrollbar.h).
struct ScrollBarState {
    int min = 0;
    int max = 100;
    int page = 0;
    int pos = 0;
    int trackPos = 0;
    UINT disabled = 0; // ESB_DISABLE_* arrows
    bool used = false; // set through the scroll bar functions at least once
};

// SetLayeredWindowAttributes.
struct LayeredState {
    bool set = false;
    COLORREF key = 0;
    BYTE alpha = 255;
    DWORD flags = 0;
};

struct Window {
    HWND hwnd = nullptr;
    DWORD threadId = 0;
    WindowClassPtr cls;
    WNDPROC proc = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    UINT_PTR id = 0; // child id, or the menu of a top-level window
    HINSTANCE instance = nullptr;
    LONG_PTR userData = 0;
    std::u16string text;
    HWND parent = nullptr; // null for top-level windows
    HWND owner = nullptr;  // top-level windows only
    bool messageOnly = false;
    std::vector<HWND> children; // Z order, top first
    RECT rect{};                // relative to the parent's client area, screen coordinates for top-level
    RECT client{};              // client area relative to the window's own top-left corner
    RECT normalRect{};          // restored position while minimised or maximised
    bool needsPaint = false;
    bool needsErase = false;
    bool redraw = true;
    HICON iconBig = nullptr;
    HICON iconSmall = nullptr;
    std::vector<std::pair<std::u16string, HANDLE>> props;
    std::vector<uint8_t> extra;
    HWND lastActivePopup = nullptr;
    enum class Phase { Creating, Alive, Destroying, Gone } phase = Phase::Creating;
    bool destroyMessageSent = false;
    ScrollBarState scroll[3] = {{}, {}, {0, 0}}; // SB_HORZ, SB_VERT, and the control's own (SB_CTL)
    void (*scrollSync)(HWND) = nullptr;
    LayeredState layered;
    HRGN region = nullptr; // SetWindowRgn: the window's shape, relative to its top-left corner; owned by the layer
};
using WindowPtr = std::shared_ptr<Window>;

struct TimerEntry {
    HWND hwnd = nullptr;
    UINT_PTR id = 0;
    UINT elapse = 0;
    TIMERPROC proc = nullptr;
    uint64_t due = 0;
    // A timer of the layer's own (SetTimer and KillTimer never see it): it fires once, as `message` (made by
    // `make` on the window's thread when it falls due) instead of WM_TIMER.
    bool system = false;
    UINT message = 0;
    std::function<bool(MSG&)> make;
};

// A message sent to a window of another thread (or from another process), waiting for its answer.
struct SentMessage {
    HWND hwnd = nullptr;
    UINT msg = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    DWORD senderThread = 0; // 0: nobody waits (notify, or the sender is another process's request thread)
    bool notify = false;
    SENDASYNCPROC callback = nullptr;
    ULONG_PTR callbackData = 0;
    std::atomic<bool> done{false};
    std::atomic<bool> cancelled{false};
    bool replied = false;
    LRESULT result = 0;
    // When set, the receiving thread runs this instead of the window procedure (requests of other processes that
    // must happen on the window's own thread).
    std::function<LRESULT()> task;
};
using SentMessagePtr = std::shared_ptr<SentMessage>;

struct Queue {
    explicit Queue(DWORD tid) : threadId(tid) {}
    const DWORD threadId;

    // Guarded by `mutex`.
    std::mutex mutex;
    std::deque<MSG> posted;
    std::deque<SentMessagePtr> incoming;
    std::deque<std::function<void()>> callbacks; // SendMessageCallback answers to run on this thread
    bool quit = false;
    int quitCode = 0;
    bool paintHint = false;
    UINT changeBits = 0;
    bool ended = false;

    std::atomic<bool> timerKick{false};
    std::atomic<uint64_t> lastRetrieveMs{0};
    std::atomic<bool> waitingForMessages{false};

    // Owned by the thread itself (no lock needed).
    std::vector<SentMessagePtr> receiving;
    MSG lastMessage{};

    // Guarded by State::mutex.
    std::vector<TimerEntry> timers;
    HWND focus = nullptr;
    HWND active = nullptr;
    HWND capture = nullptr;
};
using QueuePtr = std::shared_ptr<Queue>;

struct HookEntry {
    HHOOK handle = nullptr;
    int id = 0;
    HOOKPROC proc = nullptr;
    DWORD threadId = 0;
};

struct State {
    std::mutex mutex;
    std::unordered_map<uintptr_t, WindowPtr> windows;
    std::vector<HWND> topLevel; // Z order, top first (message-only windows excluded)
    std::vector<HWND> messageOnly;
    std::vector<WindowClassPtr> classes;
    ATOM nextAtom = 0xC000;
    uint32_t nextHandle = 0;
    std::vector<HookEntry> hooks;
    uintptr_t nextHook = 0x100;
    POINT cursor{kScreenWidth / 2, kScreenHeight / 2};
    HCURSOR cursorShape = nullptr;
    // TrackMouseEvent: the one window whose leaving and hovering is watched.
    HWND tracked = nullptr;
    DWORD trackFlags = 0; // TME_LEAVE, TME_HOVER
    UINT hoverTime = 0;
    POINT hoverStart{};
    int cascade = 0;

    std::mutex queuesMutex;
    std::unordered_map<DWORD, QueuePtr> queues;
};

// The process-wide state; created on first use and never destroyed, so threads still running at exit can use it.
State& GetState();

// Window table. Lookups return null for unknown, remote or destroyed handles.
WindowPtr FindWindowLocked(HWND hwnd); // State::mutex held
WindowPtr FindLiveWindow(HWND hwnd);   // takes State::mutex
WindowPtr ValidWindow(HWND hwnd);      // sets ERROR_INVALID_WINDOW_HANDLE when null
DWORD CurrentProcessId();

// Queues. QueueForThread creates the calling thread's queue on first use.
QueuePtr CurrentQueue();
QueuePtr FindQueue(DWORD threadId);
// Wakes a thread waiting for messages (call without locks).
void WakeQueue(const QueuePtr& queue);

// Posting into a local queue (any thread). Returns false when the queue has ended.
// Posts to a thread's queue; `next` puts the message before every other posted one (the character message that
// TranslateMessage makes is retrieved right after its key, as on Windows).
bool PostToQueue(const QueuePtr& queue, const MSG& msg, bool next = false);

// Runs `task` on the thread the next time it looks at its messages (as the answers of SendMessageCallback run),
// without waiting for it. False when the thread has no queue or it has ended.
bool PostThreadTask(DWORD threadId, std::function<void()> task);

// Text that the display's keyboard layout typed with a key, kept when the key message was posted so that
// TranslateMessage makes the same characters; found by the window and the key data's scan code and extended bit.
void RecordKeyText(HWND hwnd, LPARAM keyData, std::u16string text);
bool FindKeyText(HWND hwnd, LPARAM keyData, std::u16string& text);
void MoveKeyText(HWND from, HWND to, LPARAM keyData);
// A key message from the display is posted to the top-level window it was typed in with this bit (one that key data
// never carries) set; the thread gives it to the window that has its focus when the message is taken from the queue,
// so that keys typed right after a click that moves the focus go where the click put it, as on Windows.
inline constexpr LPARAM kKeyToFocus = static_cast<LPARAM>(1) << 28;

// Sends to a local window from any thread, honouring the cross-thread rules.
LRESULT SendLocal(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam, UINT flags, DWORD timeout, bool& ok);

// Handles the messages other threads have sent to the calling thread.
void ServeSentMessages(const QueuePtr& queue);

// Runs `task` on the thread of the window as a sent message would run, waiting (and serving) like SendMessageW.
LRESULT RunOnWindowThread(HWND hwnd, std::function<LRESULT()> task, bool& ok);

// Removes queued messages and timers of a destroyed window (State::mutex not held).
void ForgetWindowMessages(HWND hwnd, DWORD threadId);
void ForgetWindowTimers(HWND hwnd, DWORD threadId);

// Sets (or restarts) the layer's own one-shot timer `id` of a window; removes it with elapse 0 (State::mutex not
// held).
void SetSystemTimer(HWND hwnd, UINT_PTR id, UINT elapse, UINT message, std::function<bool(MSG&)> make);

// The mouse moved to a screen point: the tracked window hears that it was left, or its hover wait starts over.
void OnCursorMoved(POINT screen);

// The window's shape (SetWindowRgn) as a region of the caller's, or null when it has none. Free it with DeleteObject.
HRGN CopyWindowShape(HWND hwnd);

// The deepest window of a top-level window's tree under a screen point, as WindowFromPoint finds it there; null when
// the top-level window is hidden or does not hold the point (State::mutex not held).
HWND WindowFromPointIn(HWND top, POINT point);

// Earliest due time of the thread's timers (State::mutex not held); UINT64_MAX when none.
uint64_t NextTimerDue(const QueuePtr& queue);
// Takes a due timer matching the window filter and the message range (0, 0: any), producing its WM_TIMER (or the
// message of a timer of the layer's own); reschedules it when `remove`.
bool TakeDueTimer(const QueuePtr& queue, HWND filter, bool remove, UINT minMsg, UINT maxMsg, MSG& out);
void EnsureClockListener();

// Paint: finds a visible window of the thread that needs painting and matches the filter.
bool FindPaintWindow(DWORD threadId, HWND filter, HWND& out);

// Filter matching for GetMessage/PeekMessage.
bool MatchesWindowFilter(HWND msgHwnd, HWND filter);

// The deadlock guard for one blocking wait.
class DeadlockGuard {
public:
    explicit DeadlockGuard(std::string what);
    ~DeadlockGuard();
    DeadlockGuard(const DeadlockGuard&) = delete;
    DeadlockGuard& operator=(const DeadlockGuard&) = delete;

private:
    uint64_t m_id = 0;
};

// Broker hooks used by the window code.
void BrokerEnsureStarted();
bool IsPublishable(const Window& w);

// Helpers for the process-local part of remote requests.
BOOL ShowWindowLocal(HWND hwnd, int cmdShow);
BOOL SetForegroundLocal(HWND hwnd);
BOOL BringToTopLocal(HWND hwnd);

// Layer-clock milliseconds.
uint64_t NowMs();

} // namespace platform::ui
