// Windows: classes, creation and destruction, the default window procedure, the tree, show state, activation,
// geometry, properties and hooks.

#include "platform/ui/window.h"

#include "platform/base/clock.h"
#include "platform/base/errors.h"
#include "platform/base/machine.h"
#include "platform/base/strings.h"
#include "platform/base/thread.h"
#include "platform/gdi/pixels.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/broker.h"
#include "platform/ui/broker_internal.h"
#include "platform/ui/ui_internal.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace platform::ui {

State& GetState() {
    // Never destroyed: threads that outlive main (and the broker's listener) may still use it at exit.
    static State* state = new State;
    return *state;
}

DWORD CurrentProcessId() {
    static const DWORD pid = static_cast<DWORD>(getpid());
    return pid;
}

uint64_t NowMs() {
    return clock::MonotonicMs();
}

namespace {

constexpr uintptr_t kDesktopHandle = 0x10010;
constexpr int kFrame = 4;
constexpr int kDlgFrame = 3;
constexpr int kBorder = 1;
constexpr int kCaption = 19;
constexpr int kMenu = 19;
constexpr int kScroll = 17;
constexpr int kEdge = 2;
constexpr int kTaskbar = 30;
constexpr int kMinimizedWidth = 160;
constexpr int kMinimizedHeight = 28;
constexpr LONG kMinimizedPos = -32000;

uintptr_t Key(HWND hwnd) {
    return reinterpret_cast<uintptr_t>(hwnd);
}

HWND DesktopHandle() {
    return reinterpret_cast<HWND>(kDesktopHandle);
}

bool IsDesktop(HWND hwnd) {
    return Key(hwnd) == kDesktopHandle;
}

HWND NewHandle(State& s) {
    if (s.nextHandle == 0) {
        // A random start makes a handle of an earlier process with the same id unlikely to name one of ours.
        std::random_device rd;
        s.nextHandle = ((rd() & 0x3FFFu) + 1u) << 16;
    }
    s.nextHandle += 2;
    const uint64_t value = (static_cast<uint64_t>(CurrentProcessId()) << 32) | s.nextHandle;
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(value));
}

WindowClassPtr FindClassLocked(State& s, LPCWSTR name) {
    if (!name)
        return nullptr;
    if (IS_INTRESOURCE(name)) {
        const ATOM atom = static_cast<ATOM>(reinterpret_cast<uintptr_t>(name));
        for (auto& c : s.classes)
            if (c->atom == atom)
                return c;
        return nullptr;
    }
    for (auto& c : s.classes)
        if (EqualsNoCase(c->name, name))
            return c;
    return nullptr;
}

std::u16string PropKey(LPCWSTR name) {
    if (IS_INTRESOURCE(name))
        return u"#" + Utf8ToUtf16(std::to_string(static_cast<unsigned>(reinterpret_cast<uintptr_t>(name))));
    return std::u16string(name);
}

RECT NonClientInsets(DWORD style, DWORD exStyle, bool menu) {
    RECT r{0, 0, 0, 0};
    int frame = 0;
    if (style & WS_THICKFRAME)
        frame = kFrame;
    else if ((style & WS_DLGFRAME) || (exStyle & WS_EX_DLGMODALFRAME))
        frame = kDlgFrame;
    else if (style & WS_BORDER)
        frame = kBorder;
    r.left = r.top = r.right = r.bottom = frame;
    if ((style & WS_CAPTION) == WS_CAPTION)
        r.top += kCaption;
    if (menu && !(style & WS_CHILD))
        r.top += kMenu;
    if (exStyle & WS_EX_CLIENTEDGE) {
        r.left += kEdge, r.top += kEdge, r.right += kEdge, r.bottom += kEdge;
    }
    if (exStyle & WS_EX_STATICEDGE) {
        r.left += 1, r.top += 1, r.right += 1, r.bottom += 1;
    }
    if (style & WS_VSCROLL)
        r.right += kScroll;
    if (style & WS_HSCROLL)
        r.bottom += kScroll;
    return r;
}

// Screen position of the top-left corner of a window's client area (State::mutex held).
POINT ClientOriginLocked(State& s, const Window& w);

POINT WindowOriginLocked(State& s, const Window& w) {
    if (!w.parent)
        return POINT{w.rect.left, w.rect.top};
    auto parent = FindWindowLocked(w.parent);
    if (!parent)
        return POINT{w.rect.left, w.rect.top};
    const POINT p = ClientOriginLocked(s, *parent);
    return POINT{p.x + w.rect.left, p.y + w.rect.top};
}

POINT ClientOriginLocked(State& s, const Window& w) {
    const POINT o = WindowOriginLocked(s, w);
    return POINT{o.x + w.client.left, o.y + w.client.top};
}

// Sends through the message layer (direct call on the window's thread, cross-thread send otherwise).
LRESULT Send(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    return SendMessageW(hwnd, msg, wParam, lParam);
}

void Publish(const WindowPtr& w) {
    if (w && IsPublishable(*w))
        broker::PublishChanged();
}

std::vector<HWND>& SiblingListLocked(State& s, const Window& w) {
    if (w.messageOnly)
        return s.messageOnly;
    if (!w.parent)
        return s.topLevel;
    auto parent = FindWindowLocked(w.parent);
    static std::vector<HWND> none;
    none.clear();
    return parent ? parent->children : none;
}

void UnlinkLocked(State& s, Window& w) {
    auto& list = SiblingListLocked(s, w);
    list.erase(std::remove(list.begin(), list.end(), w.hwnd), list.end());
}

// Inserts a top-level window at the top of its band (topmost windows above the others).
void InsertTopLevelLocked(State& s, Window& w, bool atTop) {
    auto& list = s.topLevel;
    list.erase(std::remove(list.begin(), list.end(), w.hwnd), list.end());
    const bool topmost = (w.exStyle & WS_EX_TOPMOST) != 0;
    size_t pos = 0;
    if (atTop) {
        if (!topmost) {
            while (pos < list.size()) {
                auto other = FindWindowLocked(list[pos]);
                if (!other || !(other->exStyle & WS_EX_TOPMOST))
                    break;
                ++pos;
            }
        }
    } else {
        pos = list.size();
        if (topmost) {
            pos = 0;
            while (pos < list.size()) {
                auto other = FindWindowLocked(list[pos]);
                if (!other || !(other->exStyle & WS_EX_TOPMOST))
                    break;
                ++pos;
            }
        }
    }
    list.insert(list.begin() + static_cast<std::ptrdiff_t>(pos), w.hwnd);
}

void ReorderLocked(State& s, Window& w, HWND insertAfter) {
    if (w.messageOnly)
        return;
    if (!w.parent) {
        if (insertAfter == HWND_TOPMOST)
            w.exStyle |= WS_EX_TOPMOST;
        else if (insertAfter == HWND_NOTOPMOST)
            w.exStyle &= ~WS_EX_TOPMOST;
        if (insertAfter == HWND_BOTTOM) {
            InsertTopLevelLocked(s, w, false);
            return;
        }
        if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
            InsertTopLevelLocked(s, w, true);
            return;
        }
    }
    auto& list = SiblingListLocked(s, w);
    list.erase(std::remove(list.begin(), list.end(), w.hwnd), list.end());
    if (insertAfter == HWND_TOP || insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST) {
        list.insert(list.begin(), w.hwnd);
        return;
    }
    if (insertAfter == HWND_BOTTOM) {
        list.push_back(w.hwnd);
        return;
    }
    auto it = std::find(list.begin(), list.end(), insertAfter);
    if (it == list.end())
        list.insert(list.begin(), w.hwnd);
    else
        list.insert(it + 1, w.hwnd);
}

std::vector<HookEntry> HooksFor(int id) {
    State& s = GetState();
    const DWORD tid = GetCurrentThreadId();
    std::lock_guard lock(s.mutex);
    std::vector<HookEntry> out;
    // The most recently installed hook is called first.
    for (auto it = s.hooks.rbegin(); it != s.hooks.rend(); ++it)
        if (it->id == id && it->threadId == tid)
            out.push_back(*it);
    return out;
}

LRESULT CallHooks(int id, int code, WPARAM wParam, LPARAM lParam) {
    auto hooks = HooksFor(id);
    if (hooks.empty())
        return 0;
    return hooks.front().proc(code, wParam, lParam);
}

WPARAM SizeType(const Window& w) {
    if (w.style & WS_MINIMIZE)
        return SIZE_MINIMIZED;
    if (w.style & WS_MAXIMIZE)
        return SIZE_MAXIMIZED;
    return SIZE_RESTORED;
}

RECT WorkArea() {
    return RECT{0, 0, kScreenWidth, kScreenHeight - kTaskbar};
}

// Recomputes the client area through WM_NCCALCSIZE.
void RecalcClient(HWND hwnd) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return;
    RECT r;
    {
        std::lock_guard lock(GetState().mutex);
        r = w->rect;
    }
    RECT calc = r;
    Send(hwnd, WM_NCCALCSIZE, FALSE, reinterpret_cast<LPARAM>(&calc));
    std::lock_guard lock(GetState().mutex);
    if (w->style & WS_MINIMIZE) {
        w->client = RECT{0, 0, 0, 0};
        return;
    }
    w->client = RECT{calc.left - r.left, calc.top - r.top, calc.right - r.left, calc.bottom - r.top};
    if (w->client.right < w->client.left)
        w->client.right = w->client.left;
    if (w->client.bottom < w->client.top)
        w->client.bottom = w->client.top;
}

void SetNeedsPaint(const WindowPtr& w, bool erase) {
    QueuePtr q;
    {
        std::lock_guard lock(GetState().mutex);
        w->needsPaint = true;
        if (erase)
            w->needsErase = true;
        q = FindQueue(w->threadId);
    }
    if (!q)
        return;
    {
        std::lock_guard lock(q->mutex);
        q->paintHint = true;
        q->changeBits |= QS_PAINT;
    }
    WakeQueue(q);
}

// Activation on the window's own thread. Sends the deactivation to the previous active window of that thread.
void Activate(HWND hwnd, bool bringToTop = true) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return;
    State& s = GetState();
    HWND previous = nullptr;
    QueuePtr q = FindQueue(w->threadId);
    if (!q)
        return;
    {
        std::lock_guard lock(s.mutex);
        previous = q->active;
        if (previous == hwnd) {
            if (bringToTop && !w->messageOnly)
                ReorderLocked(s, *w, HWND_TOP);
            return;
        }
    }
    if (CallHooks(WH_CBT, HCBT_ACTIVATE, reinterpret_cast<WPARAM>(hwnd), 0) != 0)
        return;
    if (previous && FindLiveWindow(previous)) {
        Send(previous, WM_NCACTIVATE, FALSE, 0);
        Send(previous, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, IsIconic(previous) ? 1 : 0),
             reinterpret_cast<LPARAM>(hwnd));
    }
    bool iconic = false;
    {
        std::lock_guard lock(s.mutex);
        if (w->phase != Window::Phase::Alive && w->phase != Window::Phase::Creating)
            return;
        q->active = hwnd;
        iconic = (w->style & WS_MINIMIZE) != 0;
        if (bringToTop && !w->messageOnly)
            ReorderLocked(s, *w, HWND_TOP);
        // The owner remembers its most recently active popup.
        HWND owner = w->owner;
        while (owner) {
            auto o = FindWindowLocked(owner);
            if (!o)
                break;
            o->lastActivePopup = hwnd;
            owner = o->owner;
        }
    }
    // While this process holds the session's foreground (or nobody does), its newly active window is the
    // foreground window, as for the foreground thread on Windows.
    if (!w->messageOnly) {
        const HWND foreground = broker::SessionForeground();
        if (!foreground || !IsWindow(foreground) || !IsRemoteWindow(foreground))
            broker::SetSessionForeground(hwnd);
    }
    Send(hwnd, WM_NCACTIVATE, TRUE, 0);
    Send(hwnd, WM_ACTIVATE, MAKEWPARAM(WA_ACTIVE, iconic ? 1 : 0), reinterpret_cast<LPARAM>(previous));
    Publish(w);
}

// After the active window went away or was hidden, the thread activates its owner or its next visible window.
void ActivateAnother(const WindowPtr& gone) {
    State& s = GetState();
    QueuePtr q = FindQueue(gone->threadId);
    if (!q)
        return;
    HWND next = nullptr;
    {
        std::lock_guard lock(s.mutex);
        if (q->active != gone->hwnd)
            return;
        q->active = nullptr;
        if (q->focus) {
            HWND f = q->focus;
            while (f && f != gone->hwnd) {
                auto fw = FindWindowLocked(f);
                f = fw ? fw->parent : nullptr;
            }
            if (f == gone->hwnd)
                q->focus = nullptr;
        }
        auto usable = [&](HWND h) {
            auto c = FindWindowLocked(h);
            return c && c->hwnd != gone->hwnd && c->phase == Window::Phase::Alive && c->threadId == gone->threadId &&
                   (c->style & WS_VISIBLE) && !(c->style & WS_DISABLED) && !(c->style & WS_MINIMIZE);
        };
        if (gone->owner && usable(gone->owner))
            next = gone->owner;
        for (size_t i = 0; !next && i < s.topLevel.size(); ++i)
            if (usable(s.topLevel[i]))
                next = s.topLevel[i];
    }
    if (FindLiveWindow(gone->hwnd)) {
        Send(gone->hwnd, WM_NCACTIVATE, FALSE, 0);
        Send(gone->hwnd, WM_ACTIVATE, MAKEWPARAM(WA_INACTIVE, 0), reinterpret_cast<LPARAM>(next));
    }
    if (next)
        Activate(next, false);
    broker::ForegroundGone(gone->hwnd, next);
}

int ForegroundLockTimeoutFromFile() {
    std::ifstream in(machine::PathOf("ui/foreground_lock_timeout"));
    long long value = 0;
    if (in >> value)
        return static_cast<int>(value);
    return 200000;
}

void SaveForegroundLockTimeout(DWORD value) {
    const std::string dir = machine::PathOf("ui");
    ::mkdir(dir.c_str(), 0700);
    const std::string path = dir + "/foreground_lock_timeout";
    const std::string tmp = path + ".tmp" + std::to_string(CurrentProcessId());
    {
        std::ofstream out(tmp, std::ios::trunc);
        out << value << '\n';
    }
    ::rename(tmp.c_str(), path.c_str());
}

std::vector<HWND> DescendantsPreorderLocked(const Window& w) {
    std::vector<HWND> out;
    for (HWND c : w.children) {
        out.push_back(c);
        if (auto cw = FindWindowLocked(c)) {
            auto sub = DescendantsPreorderLocked(*cw);
            out.insert(out.end(), sub.begin(), sub.end());
        }
    }
    return out;
}

void SendDestroyMessages(HWND hwnd) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return;
    {
        std::lock_guard lock(GetState().mutex);
        if (w->destroyMessageSent)
            return;
        w->destroyMessageSent = true;
        w->phase = Window::Phase::Destroying;
    }
    Send(hwnd, WM_DESTROY, 0, 0);
    std::vector<HWND> children;
    {
        std::lock_guard lock(GetState().mutex);
        children = w->children;
    }
    for (HWND c : children)
        SendDestroyMessages(c);
}

void FreeWindow(HWND hwnd) {
    WindowPtr w;
    std::vector<HWND> children;
    {
        std::lock_guard lock(GetState().mutex);
        w = FindWindowLocked(hwnd);
        if (!w || w->phase == Window::Phase::Gone)
            return;
        children = w->children;
    }
    for (HWND c : children)
        FreeWindow(c);
    Send(hwnd, WM_NCDESTROY, 0, 0);
    State& s = GetState();
    QueuePtr q = FindQueue(w->threadId);
    {
        std::lock_guard lock(s.mutex);
        UnlinkLocked(s, *w);
        w->phase = Window::Phase::Gone;
        w->props.clear();
        if (w->cls)
            --w->cls->liveWindows;
        s.windows.erase(Key(hwnd));
        if (q) {
            if (q->focus == hwnd)
                q->focus = nullptr;
            if (q->active == hwnd)
                q->active = nullptr;
            if (q->capture == hwnd)
                q->capture = nullptr;
        }
    }
    ForgetWindowTimers(hwnd, w->threadId);
    ForgetWindowMessages(hwnd, w->threadId);
}

} // namespace

WindowPtr FindWindowLocked(HWND hwnd) {
    auto& s = GetState();
    auto it = s.windows.find(Key(hwnd));
    if (it == s.windows.end() || it->second->phase == Window::Phase::Gone)
        return nullptr;
    return it->second;
}

WindowPtr FindLiveWindow(HWND hwnd) {
    std::lock_guard lock(GetState().mutex);
    return FindWindowLocked(hwnd);
}

WindowPtr ValidWindow(HWND hwnd) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return w;
}

bool IsPublishable(const Window& w) {
    return !w.parent && !w.messageOnly;
}

bool IsRemoteWindow(HWND hwnd) {
    const uint64_t value = static_cast<uint64_t>(Key(hwnd));
    const uint64_t pid = value >> 32;
    return pid != 0 && pid != 0xFFFFFFFFu && pid != CurrentProcessId();
}

ATOM RegisterSystemClass(const WNDCLASSEXW& wc) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto existing = FindClassLocked(s, wc.lpszClassName);
    auto cls = existing ? existing : std::make_shared<WindowClass>();
    cls->wc = wc;
    cls->name = wc.lpszClassName;
    cls->wc.lpszClassName = nullptr;
    cls->menuName = wc.lpszMenuName && !IS_INTRESOURCE(wc.lpszMenuName) ? std::u16string(wc.lpszMenuName) : u"";
    cls->system = true;
    if (!existing) {
        cls->atom = s.nextAtom++;
        s.classes.push_back(cls);
    }
    return cls->atom;
}

namespace {

void EnsureSystemClasses() {
    static const bool done = [] {
        WNDCLASSEXW wc{};
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = DefWindowProcW;
        wc.lpszClassName = u"STATIC";
        RegisterSystemClass(wc);
        return true;
    }();
    (void)done;
}

// Resolves the owner's top-level window (State::mutex held).
HWND RootLocked(HWND hwnd) {
    auto w = FindWindowLocked(hwnd);
    while (w && w->parent) {
        auto p = FindWindowLocked(w->parent);
        if (!p)
            break;
        w = p;
    }
    return w ? w->hwnd : nullptr;
}

} // namespace

} // namespace platform::ui

using namespace platform;
using namespace platform::ui;

ATOM RegisterClassExW(const WNDCLASSEXW* wc) {
    if (!wc || wc->cbSize != sizeof(WNDCLASSEXW) || !wc->lpszClassName || !wc->lpfnWndProc || wc->cbWndExtra < 0 ||
        wc->cbClsExtra < 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    EnsureSystemClasses();
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if (auto existing = FindClassLocked(s, wc->lpszClassName); existing && !existing->system) {
        SetLastError(ERROR_CLASS_ALREADY_EXISTS);
        return 0;
    }
    auto cls = std::make_shared<WindowClass>();
    cls->wc = *wc;
    cls->name = wc->lpszClassName;
    cls->wc.lpszClassName = nullptr;
    cls->menuName = wc->lpszMenuName && !IS_INTRESOURCE(wc->lpszMenuName) ? std::u16string(wc->lpszMenuName) : u"";
    cls->atom = s.nextAtom++;
    // A program's class of the same name as a system class hides the system one.
    s.classes.insert(s.classes.begin(), cls);
    return cls->atom;
}

ATOM RegisterClassW(const WNDCLASSW* wc) {
    if (!wc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    WNDCLASSEXW ex{sizeof(WNDCLASSEXW), wc->style,        wc->lpfnWndProc,   wc->cbClsExtra,
                   wc->cbWndExtra,      wc->hInstance,    wc->hIcon,         wc->hCursor,
                   wc->hbrBackground,   wc->lpszMenuName, wc->lpszClassName, nullptr};
    return RegisterClassExW(&ex);
}

BOOL UnregisterClassW(LPCWSTR className, HINSTANCE) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto cls = FindClassLocked(s, className);
    if (!cls || cls->system) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    if (cls->liveWindows > 0) {
        SetLastError(ERROR_CLASS_HAS_WINDOWS);
        return FALSE;
    }
    s.classes.erase(std::find(s.classes.begin(), s.classes.end(), cls));
    return TRUE;
}

BOOL GetClassInfoExW(HINSTANCE, LPCWSTR className, LPWNDCLASSEXW wc) {
    EnsureSystemClasses();
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto cls = FindClassLocked(s, className);
    if (!cls || !wc) {
        SetLastError(ERROR_CLASS_DOES_NOT_EXIST);
        return FALSE;
    }
    *wc = cls->wc;
    wc->cbSize = sizeof(WNDCLASSEXW);
    wc->lpszClassName = cls->name.c_str();
    if (!cls->menuName.empty())
        wc->lpszMenuName = cls->menuName.c_str();
    return cls->atom;
}

ULONG_PTR GetClassLongPtrW(HWND hwnd, int index) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    const WNDCLASSEXW& wc = w->cls->wc;
    switch (index) {
    case GCLP_HCURSOR:
        return reinterpret_cast<ULONG_PTR>(wc.hCursor);
    case GCLP_HICON:
        return reinterpret_cast<ULONG_PTR>(wc.hIcon);
    case GCLP_HICONSM:
        return reinterpret_cast<ULONG_PTR>(wc.hIconSm);
    case GCLP_HBRBACKGROUND:
        return reinterpret_cast<ULONG_PTR>(wc.hbrBackground);
    case GCL_STYLE:
        return wc.style;
    case GCLP_WNDPROC:
        return reinterpret_cast<ULONG_PTR>(wc.lpfnWndProc);
    case GCLP_HMODULE:
        return reinterpret_cast<ULONG_PTR>(wc.hInstance);
    case GCL_CBWNDEXTRA:
        return static_cast<ULONG_PTR>(wc.cbWndExtra);
    case GCL_CBCLSEXTRA:
        return static_cast<ULONG_PTR>(wc.cbClsExtra);
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

ULONG_PTR SetClassLongPtrW(HWND hwnd, int index, LONG_PTR newValue) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    WNDCLASSEXW& wc = w->cls->wc;
    auto swap = [&](auto& field) {
        using Field = std::remove_reference_t<decltype(field)>;
        const auto old = reinterpret_cast<ULONG_PTR>(field);
        field = reinterpret_cast<Field>(newValue);
        return old;
    };
    switch (index) {
    case GCLP_HCURSOR:
        return swap(wc.hCursor);
    case GCLP_HICON:
        return swap(wc.hIcon);
    case GCLP_HICONSM:
        return swap(wc.hIconSm);
    case GCLP_HBRBACKGROUND:
        return swap(wc.hbrBackground);
    case GCL_STYLE: {
        const ULONG_PTR old = wc.style;
        wc.style = static_cast<UINT>(newValue);
        return old;
    }
    default:
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
}

BOOL SetLayeredWindowAttributes(HWND hwnd, COLORREF key, BYTE alpha, DWORD flags) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if ((flags & ~(LWA_COLORKEY | LWA_ALPHA)) || !(w->exStyle & WS_EX_LAYERED)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    w->layered = LayeredState{true, key, alpha, flags};
    return TRUE;
}

BOOL GetLayeredWindowAttributes(HWND hwnd, COLORREF* key, BYTE* alpha, DWORD* flags) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    if (!(w->exStyle & WS_EX_LAYERED) || !w->layered.set) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (key)
        *key = w->layered.key;
    if (alpha)
        *alpha = w->layered.alpha;
    if (flags)
        *flags = w->layered.flags;
    return TRUE;
}

HCURSOR SetCursor(HCURSOR cursor) {
    if (cursor && !platform::gdi::IsIconHandle(cursor)) {
        SetLastError(ERROR_INVALID_CURSOR_HANDLE);
        return nullptr;
    }
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    HCURSOR old = s.cursorShape;
    s.cursorShape = cursor;
    return old;
}

HCURSOR GetCursor() {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    return s.cursorShape;
}

BOOL GetClassInfoW(HINSTANCE instance, LPCWSTR className, LPWNDCLASSW wc) {
    WNDCLASSEXW ex{};
    const BOOL r = GetClassInfoExW(instance, className, &ex);
    if (!r || !wc)
        return FALSE;
    *wc = WNDCLASSW{ex.style, ex.lpfnWndProc, ex.cbClsExtra,    ex.cbWndExtra,   ex.hInstance,
                    ex.hIcon, ex.hCursor,     ex.hbrBackground, ex.lpszMenuName, ex.lpszClassName};
    return r;
}

int GetClassNameW(HWND hwnd, LPWSTR className, int maxCount) {
    std::u16string name;
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        name = e.className;
    } else {
        WindowPtr w = ValidWindow(hwnd);
        if (!w)
            return 0;
        name = w->cls->name;
    }
    if (!className || maxCount <= 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    return static_cast<int>(CopyTruncated(className, static_cast<size_t>(maxCount), name));
}

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y, int width,
                     int height, HWND parent, HMENU menu, HINSTANCE instance, LPVOID param) {
    EnsureSystemClasses();
    State& s = GetState();
    const DWORD tid = GetCurrentThreadId();
    QueuePtr queue = CurrentQueue();
    const bool messageOnly = parent == HWND_MESSAGE;
    if (messageOnly)
        parent = nullptr;
    if (parent && IsDesktop(parent))
        parent = nullptr;
    if ((style & WS_CHILD) && !parent && !messageOnly) {
        SetLastError(ERROR_TLW_WITH_WSCHILD);
        return nullptr;
    }
    if (parent && IsRemoteWindow(parent)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    auto w = std::make_shared<Window>();
    {
        std::lock_guard lock(s.mutex);
        auto cls = FindClassLocked(s, className);
        if (!cls) {
            SetLastError(ERROR_CANNOT_FIND_WND_CLASS);
            return nullptr;
        }
        WindowPtr parentWindow;
        if (parent) {
            parentWindow = FindWindowLocked(parent);
            if (!parentWindow) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
        }
        w->hwnd = NewHandle(s);
        w->threadId = tid;
        w->cls = cls;
        w->proc = cls->wc.lpfnWndProc;
        w->instance = instance;
        w->messageOnly = messageOnly;
        w->extra.assign(static_cast<size_t>(cls->wc.cbWndExtra), 0);
        if (!(style & (WS_CHILD | WS_POPUP)) && !messageOnly) {
            // An overlapped window always has a caption.
            style |= WS_CAPTION | WS_CLIPSIBLINGS;
            exStyle |= WS_EX_WINDOWEDGE;
        }
        w->style = style & ~(WS_VISIBLE | WS_MINIMIZE | WS_MAXIMIZE);
        w->exStyle = exStyle;
        if (style & WS_CHILD) {
            w->parent = parent;
            w->id = reinterpret_cast<UINT_PTR>(menu);
        } else {
            w->owner = parent ? RootLocked(parent) : nullptr;
            w->id = reinterpret_cast<UINT_PTR>(menu);
        }
        const bool overlapped = !(style & (WS_CHILD | WS_POPUP));
        if (x == CW_USEDEFAULT) {
            if (overlapped) {
                x = 26 * (s.cascade % 8);
                y = 26 * (s.cascade % 8);
                ++s.cascade;
            } else {
                x = 0;
                y = 0;
            }
        }
        if (width == CW_USEDEFAULT) {
            width = overlapped ? kScreenWidth * 3 / 4 : 0;
            height = overlapped ? kScreenHeight * 3 / 4 : 0;
        }
        w->rect = RECT{x, y, x + std::max(width, 0), y + std::max(height, 0)};
        w->normalRect = w->rect;
        ++cls->liveWindows;
        s.windows[Key(w->hwnd)] = w;
        if (messageOnly)
            s.messageOnly.push_back(w->hwnd);
        else if (parentWindow && (style & WS_CHILD))
            parentWindow->children.push_back(w->hwnd);
        else
            InsertTopLevelLocked(s, *w, true);
    }
    const HWND hwnd = w->hwnd;
    std::u16string nameCopy = windowName ? std::u16string(windowName) : std::u16string();
    CREATESTRUCTW cs{param,
                     instance,
                     menu,
                     (style & WS_CHILD) ? parent : w->owner,
                     height,
                     width,
                     y,
                     x,
                     static_cast<LONG>(style),
                     windowName,
                     className,
                     exStyle};
    CBT_CREATEWNDW cbt{&cs, HWND_TOP};
    auto abandon = [&] {
        std::lock_guard lock(s.mutex);
        UnlinkLocked(s, *w);
        w->phase = Window::Phase::Gone;
        --w->cls->liveWindows;
        s.windows.erase(Key(hwnd));
    };
    if (CallHooks(WH_CBT, HCBT_CREATEWND, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(&cbt)) != 0) {
        abandon();
        return nullptr;
    }
    if (!(style & WS_CHILD) || (style & WS_THICKFRAME)) {
        MINMAXINFO mmi{};
        mmi.ptMaxSize = POINT{kScreenWidth + 2 * kFrame, kScreenHeight - kTaskbar + 2 * kFrame};
        mmi.ptMaxPosition = POINT{-kFrame, -kFrame};
        mmi.ptMinTrackSize = POINT{112, 27};
        mmi.ptMaxTrackSize = POINT{kScreenWidth + 12, kScreenHeight + 12};
        Send(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&mmi));
        std::lock_guard lock(s.mutex);
        if (style & WS_THICKFRAME) {
            LONG wdt = w->rect.right - w->rect.left, hgt = w->rect.bottom - w->rect.top;
            wdt = std::clamp<LONG>(wdt, mmi.ptMinTrackSize.x, std::max(mmi.ptMinTrackSize.x, mmi.ptMaxTrackSize.x));
            hgt = std::clamp<LONG>(hgt, mmi.ptMinTrackSize.y, std::max(mmi.ptMinTrackSize.y, mmi.ptMaxTrackSize.y));
            w->rect.right = w->rect.left + wdt;
            w->rect.bottom = w->rect.top + hgt;
            w->normalRect = w->rect;
        }
    }
    if (!Send(hwnd, WM_NCCREATE, 0, reinterpret_cast<LPARAM>(&cs))) {
        FreeWindow(hwnd);
        return nullptr;
    }
    {
        std::lock_guard lock(s.mutex);
        if (w->phase == Window::Phase::Gone)
            return nullptr;
        if (w->text.empty() && !nameCopy.empty() && w->proc != DefWindowProcW)
            (void)0; // the procedure chose not to keep the title (as on Windows)
    }
    RecalcClient(hwnd);
    if (Send(hwnd, WM_CREATE, 0, reinterpret_cast<LPARAM>(&cs)) == -1) {
        DestroyWindow(hwnd);
        return nullptr;
    }
    if (!FindLiveWindow(hwnd))
        return nullptr;
    {
        std::lock_guard lock(s.mutex);
        w->phase = Window::Phase::Alive;
    }
    {
        RECT client;
        GetClientRect(hwnd, &client);
        Send(hwnd, WM_SIZE, SIZE_RESTORED, MAKELPARAM(client.right, client.bottom));
        POINT origin{0, 0};
        {
            std::lock_guard lock(s.mutex);
            origin = POINT{w->rect.left + w->client.left, w->rect.top + w->client.top};
        }
        Send(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
    }
    Publish(w);
    if (!FindLiveWindow(hwnd))
        return nullptr;
    if (style & WS_MINIMIZE)
        ShowWindow(hwnd, (style & WS_VISIBLE) ? SW_SHOWMINNOACTIVE : SW_MINIMIZE);
    else if (style & WS_MAXIMIZE)
        ShowWindow(hwnd, SW_SHOWMAXIMIZED);
    else if (style & WS_VISIBLE)
        ShowWindow(hwnd, (style & WS_CHILD) ? SW_SHOWNA : SW_SHOW);
    (void)queue;
    return FindLiveWindow(hwnd) ? hwnd : nullptr;
}

BOOL DestroyWindow(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    if (w->threadId != GetCurrentThreadId()) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    {
        std::lock_guard lock(GetState().mutex);
        if (w->phase == Window::Phase::Destroying)
            return TRUE;
    }
    if (CallHooks(WH_CBT, HCBT_DESTROYWND, reinterpret_cast<WPARAM>(hwnd), 0) != 0)
        return FALSE;
    // Owned windows go first.
    std::vector<HWND> owned;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        for (HWND h : s.topLevel) {
            auto o = FindWindowLocked(h);
            if (o && o->owner == hwnd && o->threadId == w->threadId)
                owned.push_back(h);
        }
    }
    for (HWND h : owned)
        DestroyWindow(h);
    bool visible;
    {
        std::lock_guard lock(GetState().mutex);
        visible = (w->style & WS_VISIBLE) != 0;
    }
    if (visible)
        SetWindowPos(hwnd, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ActivateAnother(w);
    SendDestroyMessages(hwnd);
    FreeWindow(hwnd);
    if (IsPublishable(*w))
        broker::PublishChanged();
    return TRUE;
}

BOOL IsWindow(HWND hwnd) {
    if (!hwnd)
        return FALSE;
    if (IsDesktop(hwnd))
        return TRUE;
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) ? TRUE : FALSE;
    }
    return FindLiveWindow(hwnd) ? TRUE : FALSE;
}

LRESULT CallWindowProcW(WNDPROC proc, HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (!proc)
        return 0;
    return proc(hwnd, msg, wParam, lParam);
}

LRESULT DefWindowProcW(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    switch (msg) {
    case WM_NCCREATE: {
        auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
        std::lock_guard lock(s.mutex);
        if (cs && cs->lpszName && !IS_INTRESOURCE(cs->lpszName))
            w->text = cs->lpszName;
        return TRUE;
    }
    case WM_NCCALCSIZE: {
        DWORD style, exStyle;
        bool menu;
        {
            std::lock_guard lock(s.mutex);
            style = w->style;
            exStyle = w->exStyle;
            menu = !(style & WS_CHILD) && w->id != 0;
        }
        RECT* r = wParam ? &reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam)->rgrc[0] : reinterpret_cast<RECT*>(lParam);
        if (!r)
            return 0;
        const RECT in = NonClientInsets(style, exStyle, menu);
        r->left += in.left;
        r->top += in.top;
        r->right -= in.right;
        r->bottom -= in.bottom;
        if (r->right < r->left)
            r->right = r->left;
        if (r->bottom < r->top)
            r->bottom = r->top;
        return 0;
    }
    case WM_SETTEXT: {
        {
            std::lock_guard lock(s.mutex);
            w->text = lParam ? std::u16string(reinterpret_cast<LPCWSTR>(lParam)) : std::u16string();
        }
        Publish(w);
        return TRUE;
    }
    case WM_GETTEXT: {
        if (wParam == 0 || !lParam)
            return 0;
        std::lock_guard lock(s.mutex);
        return static_cast<LRESULT>(CopyTruncated(reinterpret_cast<LPWSTR>(lParam), wParam, w->text));
    }
    case WM_GETTEXTLENGTH: {
        std::lock_guard lock(s.mutex);
        return static_cast<LRESULT>(w->text.size());
    }
    case WM_CLOSE:
        DestroyWindow(hwnd);
        return 0;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            Send(hwnd, WM_CLOSE, 0, 0);
            return 0;
        case SC_MINIMIZE:
            ShowWindow(hwnd, SW_MINIMIZE);
            return 0;
        case SC_MAXIMIZE:
            ShowWindow(hwnd, SW_MAXIMIZE);
            return 0;
        case SC_RESTORE:
            ShowWindow(hwnd, SW_RESTORE);
            return 0;
        default:
            return 0;
        }
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_WINDOWPOSCHANGED: {
        const auto* wp = reinterpret_cast<const WINDOWPOS*>(lParam);
        if (!wp)
            return 0;
        RECT client;
        POINT origin;
        WPARAM type;
        {
            std::lock_guard lock(s.mutex);
            client = w->client;
            origin = POINT{w->rect.left + w->client.left, w->rect.top + w->client.top};
            type = SizeType(*w);
        }
        if (!(wp->flags & SWP_NOMOVE))
            Send(hwnd, WM_MOVE, 0, MAKELPARAM(origin.x, origin.y));
        if (!(wp->flags & SWP_NOSIZE) || (wp->flags & SWP_FRAMECHANGED))
            Send(hwnd, WM_SIZE, type, MAKELPARAM(client.right - client.left, client.bottom - client.top));
        return 0;
    }
    case WM_SETCURSOR: {
        // A child's parent may choose first.
        HWND parent = nullptr;
        HCURSOR classCursor = nullptr;
        {
            std::lock_guard lock(s.mutex);
            if (w->style & WS_CHILD)
                parent = w->parent;
            classCursor = w->cls->wc.hCursor;
        }
        if (parent && Send(parent, WM_SETCURSOR, wParam, lParam))
            return TRUE;
        const auto hit = static_cast<SHORT>(LOWORD(lParam));
        LPCWSTR shape = IDC_ARROW;
        switch (hit) {
        case HTCLIENT:
            if (!classCursor)
                return FALSE;
            SetCursor(classCursor);
            return TRUE;
        case HTLEFT:
        case HTRIGHT:
            shape = IDC_SIZEWE;
            break;
        case HTTOP:
        case HTBOTTOM:
            shape = IDC_SIZENS;
            break;
        case HTTOPLEFT:
        case HTBOTTOMRIGHT:
            shape = IDC_SIZENWSE;
            break;
        case HTTOPRIGHT:
        case HTBOTTOMLEFT:
            shape = IDC_SIZENESW;
            break;
        default:
            break;
        }
        // The sizing edges are settled here; elsewhere the arrow shows and the answer stays open.
        SetCursor(LoadCursorW(nullptr, shape));
        return shape == IDC_ARROW ? FALSE : TRUE;
    }
    case WM_NCHITTEST: {
        POINT p{static_cast<SHORT>(LOWORD(lParam)), static_cast<SHORT>(HIWORD(lParam))};
        RECT wr, cr;
        GetWindowRect(hwnd, &wr);
        GetClientRect(hwnd, &cr);
        POINT c{0, 0};
        ClientToScreen(hwnd, &c);
        if (p.x < wr.left || p.x >= wr.right || p.y < wr.top || p.y >= wr.bottom)
            return HTNOWHERE;
        if (p.x >= c.x && p.x < c.x + cr.right && p.y >= c.y && p.y < c.y + cr.bottom)
            return HTCLIENT;
        std::lock_guard lock(s.mutex);
        if ((w->style & WS_CAPTION) == WS_CAPTION && p.y < c.y)
            return HTCAPTION;
        return HTBORDER;
    }
    case WM_PAINT: {
        std::lock_guard lock(s.mutex);
        w->needsPaint = false;
        w->needsErase = false;
        return 0;
    }
    case WM_ERASEBKGND: {
        std::lock_guard lock(s.mutex);
        w->needsErase = false;
        return w->cls->wc.hbrBackground ? 1 : 0;
    }
    case WM_ICONERASEBKGND:
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && !HIWORD(wParam))
            SetFocus(hwnd);
        return 0;
    case WM_NCACTIVATE:
        return TRUE;
    case WM_MOUSEACTIVATE:
        return 1; // MA_ACTIVATE
    case WM_SETREDRAW: {
        std::lock_guard lock(s.mutex);
        w->redraw = wParam != 0;
        return 0;
    }
    case WM_SETICON: {
        std::lock_guard lock(s.mutex);
        HICON& slot = wParam ? w->iconBig : w->iconSmall;
        HICON old = slot;
        slot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(old);
    }
    case WM_GETICON: {
        std::lock_guard lock(s.mutex);
        return reinterpret_cast<LRESULT>(wParam ? w->iconBig : w->iconSmall);
    }
    case WM_QUERYDRAGICON: {
        std::lock_guard lock(s.mutex);
        return reinterpret_cast<LRESULT>(w->cls->wc.hIcon);
    }
    case WM_CANCELMODE:
        if (GetCapture() == hwnd)
            ReleaseCapture();
        return 0;
    case WM_CONTEXTMENU:
    case WM_MOUSEWHEEL:
    case WM_HELP:
    case WM_APPCOMMAND: {
        HWND up;
        {
            std::lock_guard lock(s.mutex);
            up = (w->style & WS_CHILD) ? w->parent : (msg == WM_HELP ? w->owner : nullptr);
        }
        if (up)
            return Send(up, msg, msg == WM_CONTEXTMENU ? wParam : wParam, lParam);
        return 0;
    }
    case WM_GETMINMAXINFO:
    case WM_SHOWWINDOW:
    case WM_WINDOWPOSCHANGING:
    case WM_ENDSESSION:
    default:
        return 0;
    }
}

LONG_PTR GetWindowLongPtrW(HWND hwnd, int index) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (index == GWL_STYLE)
            return static_cast<LONG_PTR>(static_cast<LONG>(e.style));
        if (index == GWL_EXSTYLE)
            return static_cast<LONG_PTR>(static_cast<LONG>(e.exStyle));
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    std::lock_guard lock(GetState().mutex);
    switch (index) {
    case GWLP_WNDPROC:
        return reinterpret_cast<LONG_PTR>(w->proc);
    case GWLP_HINSTANCE:
        return reinterpret_cast<LONG_PTR>(w->instance);
    case GWLP_HWNDPARENT:
        return reinterpret_cast<LONG_PTR>(w->parent ? w->parent : w->owner);
    case GWL_STYLE:
        return static_cast<LONG_PTR>(static_cast<LONG>(w->style));
    case GWL_EXSTYLE:
        return static_cast<LONG_PTR>(static_cast<LONG>(w->exStyle));
    case GWLP_USERDATA:
        return w->userData;
    case GWLP_ID:
        return static_cast<LONG_PTR>(w->id);
    default:
        break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        if (index >= 0 && static_cast<size_t>(index) + sizeof(LONG) <= w->extra.size()) {
            LONG v;
            std::memcpy(&v, w->extra.data() + index, sizeof v);
            return v;
        }
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    LONG_PTR v;
    std::memcpy(&v, w->extra.data() + index, sizeof v);
    return v;
}

LONG_PTR SetWindowLongPtrW(HWND hwnd, int index, LONG_PTR newValue) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return 0;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    State& s = GetState();
    if (index == GWL_STYLE || index == GWL_EXSTYLE) {
        STYLESTRUCT ss{};
        {
            std::lock_guard lock(s.mutex);
            ss.styleOld = index == GWL_STYLE ? w->style : w->exStyle;
        }
        ss.styleNew = static_cast<DWORD>(newValue);
        Send(hwnd, WM_STYLECHANGING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
        {
            std::lock_guard lock(s.mutex);
            if (index == GWL_STYLE)
                w->style = ss.styleNew;
            else
                w->exStyle = ss.styleNew;
            // A window that stops being layered forgets how it was layered.
            if (!(w->exStyle & WS_EX_LAYERED))
                w->layered = LayeredState{};
        }
        Send(hwnd, WM_STYLECHANGED, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(&ss));
        Publish(w);
        SetLastError(ERROR_SUCCESS);
        return static_cast<LONG_PTR>(static_cast<LONG>(ss.styleOld));
    }
    std::lock_guard lock(s.mutex);
    LONG_PTR old = 0;
    switch (index) {
    case GWLP_WNDPROC:
        if (!newValue) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        old = reinterpret_cast<LONG_PTR>(w->proc);
        w->proc = reinterpret_cast<WNDPROC>(newValue);
        return old;
    case GWLP_HINSTANCE:
        old = reinterpret_cast<LONG_PTR>(w->instance);
        w->instance = reinterpret_cast<HINSTANCE>(newValue);
        return old;
    case GWLP_HWNDPARENT:
        if (w->parent) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return 0;
        }
        old = reinterpret_cast<LONG_PTR>(w->owner);
        w->owner = newValue ? RootLocked(reinterpret_cast<HWND>(newValue)) : nullptr;
        return old;
    case GWLP_USERDATA:
        old = w->userData;
        w->userData = newValue;
        SetLastError(ERROR_SUCCESS);
        return old;
    case GWLP_ID:
        old = static_cast<LONG_PTR>(w->id);
        w->id = static_cast<UINT_PTR>(newValue);
        SetLastError(ERROR_SUCCESS);
        return old;
    default:
        break;
    }
    if (index < 0 || static_cast<size_t>(index) + sizeof(LONG) > w->extra.size()) {
        SetLastError(ERROR_INVALID_INDEX);
        return 0;
    }
    SetLastError(ERROR_SUCCESS);
    if (static_cast<size_t>(index) + sizeof(LONG_PTR) > w->extra.size()) {
        LONG o;
        std::memcpy(&o, w->extra.data() + index, sizeof o);
        const LONG n = static_cast<LONG>(newValue);
        std::memcpy(w->extra.data() + index, &n, sizeof n);
        return o;
    }
    std::memcpy(&old, w->extra.data() + index, sizeof old);
    std::memcpy(w->extra.data() + index, &newValue, sizeof newValue);
    return old;
}

LONG GetWindowLongW(HWND hwnd, int index) {
    return static_cast<LONG>(GetWindowLongPtrW(hwnd, index));
}

LONG SetWindowLongW(HWND hwnd, int index, LONG newValue) {
    return static_cast<LONG>(SetWindowLongPtrW(hwnd, index, newValue));
}

BOOL SetWindowTextW(HWND hwnd, LPCWSTR text) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    if (!ValidWindow(hwnd))
        return FALSE;
    return Send(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int GetWindowTextW(HWND hwnd, LPWSTR text, int maxCount) {
    if (!text || maxCount <= 0)
        return 0;
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            text[0] = 0;
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return static_cast<int>(CopyTruncated(text, static_cast<size_t>(maxCount), e.title));
    }
    if (!ValidWindow(hwnd)) {
        text[0] = 0;
        return 0;
    }
    text[0] = 0;
    return static_cast<int>(Send(hwnd, WM_GETTEXT, static_cast<WPARAM>(maxCount), reinterpret_cast<LPARAM>(text)));
}

int GetWindowTextLengthW(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        return static_cast<int>(e.title.size());
    }
    if (!ValidWindow(hwnd))
        return 0;
    return static_cast<int>(Send(hwnd, WM_GETTEXTLENGTH, 0, 0));
}

HWND GetDesktopWindow() {
    return DesktopHandle();
}

HWND GetParent(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        return (e.style & WS_POPUP) ? e.owner : nullptr;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    if (w->style & WS_CHILD)
        return w->parent;
    return (w->style & WS_POPUP) ? w->owner : nullptr;
}

HWND SetParent(HWND child, HWND newParent) {
    if (IsRemoteWindow(child) || IsRemoteWindow(newParent)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    WindowPtr w = ValidWindow(child);
    if (!w)
        return nullptr;
    if (newParent && IsDesktop(newParent))
        newParent = nullptr;
    State& s = GetState();
    HWND old;
    {
        std::lock_guard lock(s.mutex);
        WindowPtr p;
        if (newParent) {
            p = FindWindowLocked(newParent);
            if (!p) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            // A window cannot become its own descendant.
            for (HWND h = newParent; h;) {
                if (h == child) {
                    SetLastError(ERROR_INVALID_PARAMETER);
                    return nullptr;
                }
                auto hw = FindWindowLocked(h);
                h = hw ? hw->parent : nullptr;
            }
        }
        old = w->parent ? w->parent : DesktopHandle();
        const bool wasTop = IsPublishable(*w);
        UnlinkLocked(s, *w);
        w->parent = newParent;
        w->messageOnly = false;
        if (p) {
            w->owner = nullptr;
            p->children.insert(p->children.begin(), child);
        } else {
            InsertTopLevelLocked(s, *w, true);
        }
        (void)wasTop;
    }
    broker::PublishChanged();
    return old;
}

HWND GetAncestor(HWND hwnd, UINT flags) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e))
            return nullptr;
        if (flags == GA_PARENT)
            return DesktopHandle();
        if (flags == GA_ROOTOWNER) {
            HWND h = hwnd;
            for (int guard = 0; guard < 64 && e.owner && broker::FindRemoteWindow(e.owner, e); ++guard)
                h = e.hwnd;
            return h;
        }
        return hwnd;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    switch (flags) {
    case GA_PARENT:
        return w->parent ? w->parent : DesktopHandle();
    case GA_ROOT:
        return RootLocked(hwnd);
    case GA_ROOTOWNER: {
        auto r = FindWindowLocked(RootLocked(hwnd));
        while (r && r->owner) {
            auto o = FindWindowLocked(r->owner);
            if (!o)
                break;
            r = o;
        }
        return r ? r->hwnd : nullptr;
    }
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
}

namespace platform::ui {
namespace {

// Local top-level windows in Z order followed by the windows of the other processes.
std::vector<HWND> TopLevelSnapshot() {
    std::vector<HWND> out;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        out = s.topLevel;
    }
    for (const auto& e : broker::RemoteWindows())
        out.push_back(e.hwnd);
    return out;
}

HWND Sibling(const std::vector<HWND>& list, HWND hwnd, UINT relation) {
    if (list.empty())
        return nullptr;
    switch (relation) {
    case GW_HWNDFIRST:
        return list.front();
    case GW_HWNDLAST:
        return list.back();
    default:
        break;
    }
    auto it = std::find(list.begin(), list.end(), hwnd);
    if (it == list.end())
        return nullptr;
    if (relation == GW_HWNDNEXT)
        return (it + 1) == list.end() ? nullptr : *(it + 1);
    return it == list.begin() ? nullptr : *(it - 1);
}

} // namespace
} // namespace platform::ui

HWND GetWindow(HWND hwnd, UINT relation) {
    if (relation > GW_ENABLEDPOPUP) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if (IsDesktop(hwnd)) {
        if (relation == GW_CHILD) {
            auto list = TopLevelSnapshot();
            return list.empty() ? nullptr : list.front();
        }
        return nullptr;
    }
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return nullptr;
        }
        switch (relation) {
        case GW_OWNER:
            return e.owner;
        case GW_CHILD:
        case GW_ENABLEDPOPUP:
            return nullptr;
        default:
            return Sibling(TopLevelSnapshot(), hwnd, relation);
        }
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    State& s = GetState();
    bool top;
    {
        std::lock_guard lock(s.mutex);
        switch (relation) {
        case GW_OWNER:
            return w->owner;
        case GW_CHILD:
            return w->children.empty() ? nullptr : w->children.front();
        case GW_ENABLEDPOPUP:
            for (HWND h : s.topLevel) {
                auto o = FindWindowLocked(h);
                if (o && o->owner == hwnd && (o->style & WS_VISIBLE) && !(o->style & WS_DISABLED))
                    return h;
            }
            return nullptr;
        default:
            break;
        }
        top = !w->parent && !w->messageOnly;
        if (!top)
            return Sibling(SiblingListLocked(s, *w), hwnd, relation);
    }
    return Sibling(TopLevelSnapshot(), hwnd, relation);
}

HWND GetTopWindow(HWND hwnd) {
    return GetWindow(hwnd ? hwnd : DesktopHandle(), GW_CHILD);
}

BOOL IsChild(HWND parent, HWND hwnd) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto w = FindWindowLocked(hwnd);
    while (w && (w->style & WS_CHILD) && w->parent) {
        if (w->parent == parent)
            return TRUE;
        w = FindWindowLocked(w->parent);
    }
    return FALSE;
}

HWND GetDlgItem(HWND dialog, int id) {
    WindowPtr w = ValidWindow(dialog);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    for (HWND c : w->children) {
        auto cw = FindWindowLocked(c);
        if (cw && static_cast<int>(cw->id) == id)
            return c;
    }
    SetLastError(1421); // ERROR_CONTROL_ID_NOT_FOUND
    return nullptr;
}

int GetDlgCtrlID(HWND hwnd) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    std::lock_guard lock(GetState().mutex);
    return static_cast<int>(w->id);
}

BOOL EnumWindows(WNDENUMPROC proc, LPARAM lParam) {
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    for (HWND h : TopLevelSnapshot()) {
        if (!IsWindow(h))
            continue;
        if (!proc(h, lParam))
            return FALSE;
    }
    return TRUE;
}

namespace platform::ui {
namespace {

bool EnumChildren(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
    std::vector<HWND> children;
    {
        std::lock_guard lock(GetState().mutex);
        auto w = FindWindowLocked(parent);
        if (!w)
            return true;
        children = w->children;
    }
    for (HWND c : children) {
        if (!FindLiveWindow(c))
            continue;
        if (!proc(c, lParam))
            return false;
        if (!EnumChildren(c, proc, lParam))
            return false;
    }
    return true;
}

bool TitleMatches(LPCWSTR wanted, const std::u16string& title) {
    return !wanted || EqualsNoCase(title, wanted);
}

bool ClassMatches(LPCWSTR wanted, const std::u16string& name, ATOM atom) {
    if (!wanted)
        return true;
    if (IS_INTRESOURCE(wanted))
        return atom == static_cast<ATOM>(reinterpret_cast<uintptr_t>(wanted));
    return EqualsNoCase(name, wanted);
}

} // namespace
} // namespace platform::ui

BOOL EnumChildWindows(HWND parent, WNDENUMPROC proc, LPARAM lParam) {
    if (!proc) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (!parent || IsDesktop(parent))
        return EnumWindows(proc, lParam);
    EnumChildren(parent, proc, lParam);
    return TRUE;
}

BOOL EnumThreadWindows(DWORD threadId, WNDENUMPROC proc, LPARAM lParam) {
    std::vector<HWND> list;
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        for (HWND h : s.topLevel) {
            auto w = FindWindowLocked(h);
            if (w && w->threadId == threadId)
                list.push_back(h);
        }
    }
    if (list.empty())
        return FALSE;
    for (HWND h : list)
        if (FindLiveWindow(h) && !proc(h, lParam))
            return FALSE;
    return TRUE;
}

HWND FindWindowExW(HWND parent, HWND childAfter, LPCWSTR className, LPCWSTR windowName) {
    State& s = GetState();
    const bool topLevel = !parent || IsDesktop(parent);
    std::vector<HWND> candidates;
    {
        std::lock_guard lock(s.mutex);
        if (parent == HWND_MESSAGE) {
            candidates = s.messageOnly;
        } else if (topLevel) {
            candidates = s.topLevel;
        } else {
            auto p = FindWindowLocked(parent);
            if (!p) {
                SetLastError(ERROR_INVALID_WINDOW_HANDLE);
                return nullptr;
            }
            candidates = p->children;
        }
    }
    bool started = childAfter == nullptr;
    {
        for (HWND h : candidates) {
            if (!started) {
                started = h == childAfter;
                continue;
            }
            std::lock_guard lock(s.mutex);
            auto w = FindWindowLocked(h);
            if (w && ClassMatches(className, w->cls->name, w->cls->atom) && TitleMatches(windowName, w->text))
                return h;
        }
    }
    if (topLevel && parent != HWND_MESSAGE) {
        for (const auto& e : broker::RemoteWindows()) {
            if (!started) {
                started = e.hwnd == childAfter;
                continue;
            }
            if ((!className || (!IS_INTRESOURCE(className) && EqualsNoCase(e.className, className))) &&
                TitleMatches(windowName, e.title))
                return e.hwnd;
        }
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
}

HWND FindWindowW(LPCWSTR className, LPCWSTR windowName) {
    return FindWindowExW(nullptr, nullptr, className, windowName);
}

DWORD GetWindowThreadProcessId(HWND hwnd, LPDWORD processId) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e)) {
            SetLastError(ERROR_INVALID_WINDOW_HANDLE);
            return 0;
        }
        if (processId)
            *processId = e.processId;
        return e.threadId;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return 0;
    if (processId)
        *processId = CurrentProcessId();
    return w->threadId;
}

namespace platform::ui {

BOOL ShowWindowLocal(HWND hwnd, int cmdShow) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    DWORD style;
    RECT rect, normal;
    bool top;
    {
        std::lock_guard lock(s.mutex);
        style = w->style;
        rect = w->rect;
        normal = w->normalRect;
        top = !w->parent;
    }
    const bool wasVisible = (style & WS_VISIBLE) != 0;
    const bool minimized = (style & WS_MINIMIZE) != 0;
    const bool maximized = (style & WS_MAXIMIZE) != 0;
    bool show = true;
    bool activate = top;
    DWORD newState = style & (WS_MINIMIZE | WS_MAXIMIZE);
    RECT target = rect;
    switch (cmdShow) {
    case SW_HIDE:
        show = false;
        activate = false;
        break;
    case SW_SHOWNORMAL:
    case SW_RESTORE:
    case SW_SHOWDEFAULT:
    case SW_SHOWNOACTIVATE:
        if (cmdShow == SW_SHOWNOACTIVATE)
            activate = false;
        if (minimized || maximized) {
            newState = 0;
            target = normal;
        }
        break;
    case SW_SHOWMINIMIZED:
    case SW_MINIMIZE:
    case SW_SHOWMINNOACTIVE:
    case SW_FORCEMINIMIZE:
        newState = WS_MINIMIZE;
        activate = cmdShow == SW_SHOWMINIMIZED;
        if (!minimized) {
            if (!maximized)
                normal = rect;
            target = top ? RECT{kMinimizedPos, kMinimizedPos, kMinimizedPos + kMinimizedWidth,
                                kMinimizedPos + kMinimizedHeight}
                         : RECT{0, 0, kMinimizedWidth, kMinimizedHeight};
        }
        break;
    case SW_SHOWMAXIMIZED:
        newState = WS_MAXIMIZE;
        if (!maximized) {
            if (!minimized)
                normal = rect;
            if (top) {
                const RECT wa = WorkArea();
                target = RECT{wa.left - kFrame, wa.top - kFrame, wa.right + kFrame, wa.bottom + kFrame};
            } else {
                RECT pc{};
                GetClientRect(w->parent, &pc);
                target = pc;
            }
        }
        break;
    case SW_SHOW:
        break;
    case SW_SHOWNA:
        activate = false;
        break;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const bool stateChanges = newState != (style & (WS_MINIMIZE | WS_MAXIMIZE));
    if (!show && !wasVisible)
        return FALSE;
    if (show != wasVisible)
        Send(hwnd, WM_SHOWWINDOW, show ? TRUE : FALSE, 0);
    if (stateChanges) {
        std::lock_guard lock(s.mutex);
        w->style = (w->style & ~(WS_MINIMIZE | WS_MAXIMIZE)) | newState;
        w->normalRect = normal;
    }
    UINT flags = SWP_NOZORDER | SWP_NOACTIVATE;
    if (show != wasVisible)
        flags |= show ? SWP_SHOWWINDOW : SWP_HIDEWINDOW;
    if (stateChanges)
        flags |= SWP_FRAMECHANGED;
    else
        flags |= SWP_NOMOVE | SWP_NOSIZE;
    if (show || wasVisible || stateChanges)
        SetWindowPos(hwnd, nullptr, target.left, target.top, target.right - target.left, target.bottom - target.top,
                     flags);
    bool nowVisible = false;
    {
        std::lock_guard lock(s.mutex);
        nowVisible = (w->style & WS_VISIBLE) != 0 && w->phase != Window::Phase::Gone;
    }
    if (top && nowVisible && activate)
        Activate(hwnd);
    else if (top && (!nowVisible || newState == WS_MINIMIZE) && !activate)
        ActivateAnother(w);
    Publish(w);
    return wasVisible ? TRUE : FALSE;
}

} // namespace platform::ui

BOOL ShowWindow(HWND hwnd, int cmdShow) {
    if (IsRemoteWindow(hwnd)) {
        BOOL wasVisible = FALSE;
        if (!broker::RemoteShowWindow(hwnd, cmdShow, wasVisible))
            return FALSE;
        return wasVisible;
    }
    return ShowWindowLocal(hwnd, cmdShow);
}

BOOL IsWindowVisible(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && (e.style & WS_VISIBLE) ? TRUE : FALSE;
    }
    if (IsDesktop(hwnd))
        return TRUE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto w = FindWindowLocked(hwnd);
    if (!w)
        return FALSE;
    while (w) {
        if (!(w->style & WS_VISIBLE))
            return FALSE;
        if (!w->parent)
            return TRUE;
        w = FindWindowLocked(w->parent);
    }
    return FALSE;
}

BOOL IsIconic(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && (e.style & WS_MINIMIZE) ? TRUE : FALSE;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    std::lock_guard lock(GetState().mutex);
    return w && (w->style & WS_MINIMIZE) ? TRUE : FALSE;
}

BOOL IsZoomed(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && (e.style & WS_MAXIMIZE) ? TRUE : FALSE;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    std::lock_guard lock(GetState().mutex);
    return w && (w->style & WS_MAXIMIZE) ? TRUE : FALSE;
}

BOOL GetWindowPlacement(HWND hwnd, WINDOWPLACEMENT* placement) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w || !placement)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    placement->length = sizeof(WINDOWPLACEMENT);
    placement->flags = 0;
    placement->showCmd = !(w->style & WS_VISIBLE)   ? SW_HIDE
                         : (w->style & WS_MINIMIZE) ? SW_SHOWMINIMIZED
                         : (w->style & WS_MAXIMIZE) ? SW_SHOWMAXIMIZED
                                                    : SW_SHOWNORMAL;
    placement->ptMinPosition = POINT{-1, -1};
    placement->ptMaxPosition = POINT{-1, -1};
    placement->rcNormalPosition = (w->style & (WS_MINIMIZE | WS_MAXIMIZE)) ? w->normalRect : w->rect;
    return TRUE;
}

BOOL SetWindowPlacement(HWND hwnd, const WINDOWPLACEMENT* placement) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w || !placement)
        return FALSE;
    {
        std::lock_guard lock(GetState().mutex);
        w->normalRect = placement->rcNormalPosition;
    }
    const RECT& r = placement->rcNormalPosition;
    bool plain;
    {
        std::lock_guard lock(GetState().mutex);
        plain = !(w->style & (WS_MINIMIZE | WS_MAXIMIZE));
    }
    if (plain)
        SetWindowPos(hwnd, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd, static_cast<int>(placement->showCmd));
    return TRUE;
}

BOOL FlashWindow(HWND hwnd, BOOL) {
    if (!IsWindow(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // Nothing to flash on a headless screen; the answer is whether the window is active.
    return GetActiveWindow() == hwnd ? TRUE : FALSE;
}

BOOL FlashWindowEx(PFLASHWINFO info) {
    if (!info || info->cbSize != sizeof(FLASHWINFO)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    return FlashWindow(info->hwnd, TRUE);
}

BOOL EnableWindow(HWND hwnd, BOOL enable) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    bool wasDisabled;
    {
        std::lock_guard lock(s.mutex);
        wasDisabled = (w->style & WS_DISABLED) != 0;
    }
    if (wasDisabled == !enable)
        return wasDisabled ? TRUE : FALSE;
    if (!enable) {
        HWND focus = GetFocus();
        if (focus == hwnd || IsChild(hwnd, focus))
            SetFocus(nullptr);
    }
    {
        std::lock_guard lock(s.mutex);
        if (enable)
            w->style &= ~WS_DISABLED;
        else
            w->style |= WS_DISABLED;
    }
    Send(hwnd, WM_ENABLE, enable ? TRUE : FALSE, 0);
    Publish(w);
    return wasDisabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        return broker::FindRemoteWindow(hwnd, e) && !(e.style & WS_DISABLED) ? TRUE : FALSE;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    std::lock_guard lock(GetState().mutex);
    return w && !(w->style & WS_DISABLED) ? TRUE : FALSE;
}

HWND SetFocus(HWND hwnd) {
    QueuePtr q = CurrentQueue();
    State& s = GetState();
    HWND old;
    {
        std::lock_guard lock(s.mutex);
        old = q->focus;
    }
    if (hwnd) {
        WindowPtr w = ValidWindow(hwnd);
        if (!w)
            return nullptr;
        if (w->threadId != q->threadId) {
            SetLastError(ERROR_ACCESS_DENIED);
            return nullptr;
        }
        if (old == hwnd)
            return old;
        if (CallHooks(WH_CBT, HCBT_SETFOCUS, reinterpret_cast<WPARAM>(hwnd), reinterpret_cast<LPARAM>(old)) != 0)
            return nullptr;
        HWND root;
        {
            std::lock_guard lock(s.mutex);
            root = RootLocked(hwnd);
        }
        if (root && GetActiveWindow() != root && !w->messageOnly)
            Activate(root);
        {
            std::lock_guard lock(s.mutex);
            old = q->focus;
            if (old == hwnd)
                return old;
        }
    }
    if (old && FindLiveWindow(old))
        Send(old, WM_KILLFOCUS, reinterpret_cast<WPARAM>(hwnd), 0);
    {
        std::lock_guard lock(s.mutex);
        q->focus = hwnd && FindWindowLocked(hwnd) ? hwnd : nullptr;
    }
    if (hwnd && FindLiveWindow(hwnd))
        Send(hwnd, WM_SETFOCUS, reinterpret_cast<WPARAM>(old), 0);
    return old;
}

HWND GetFocus() {
    QueuePtr q = CurrentQueue();
    std::lock_guard lock(GetState().mutex);
    return q->focus && FindWindowLocked(q->focus) ? q->focus : nullptr;
}

HWND SetActiveWindow(HWND hwnd) {
    QueuePtr q = CurrentQueue();
    HWND old = GetActiveWindow();
    if (!hwnd) {
        if (old)
            ActivateAnother(FindLiveWindow(old));
        return old;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    if (w->threadId != q->threadId) {
        SetLastError(ERROR_ACCESS_DENIED);
        return nullptr;
    }
    HWND root;
    {
        std::lock_guard lock(GetState().mutex);
        root = RootLocked(hwnd);
    }
    Activate(root);
    return old;
}

HWND GetActiveWindow() {
    QueuePtr q = CurrentQueue();
    std::lock_guard lock(GetState().mutex);
    return q->active && FindWindowLocked(q->active) ? q->active : nullptr;
}

namespace platform::ui {

BOOL SetForegroundLocal(HWND hwnd) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    HWND root;
    {
        std::lock_guard lock(GetState().mutex);
        root = RootLocked(hwnd);
    }
    Activate(root);
    broker::SetSessionForeground(root);
    return TRUE;
}

BOOL BringToTopLocal(HWND hwnd) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    {
        std::lock_guard lock(GetState().mutex);
        ReorderLocked(GetState(), *w, HWND_TOP);
    }
    bool top;
    {
        std::lock_guard lock(GetState().mutex);
        top = !w->parent && (w->style & WS_VISIBLE);
    }
    if (top && w->threadId == GetCurrentThreadId())
        Activate(hwnd, false);
    Publish(w);
    return TRUE;
}

} // namespace platform::ui

BOOL SetForegroundWindow(HWND hwnd) {
    if (!IsWindow(hwnd) || IsDesktop(hwnd)) {
        SetLastError(ERROR_INVALID_WINDOW_HANDLE);
        return FALSE;
    }
    // The foreground lock: another process's foreground window keeps the foreground unless the time-out is 0.
    DWORD timeout = 0;
    SystemParametersInfoW(SPI_GETFOREGROUNDLOCKTIMEOUT, 0, &timeout, 0);
    if (timeout != 0) {
        HWND current = GetForegroundWindow();
        if (current && IsRemoteWindow(current) && current != hwnd) {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            DWORD currentPid = 0;
            GetWindowThreadProcessId(current, &currentPid);
            if (currentPid != pid) {
                FlashWindow(hwnd, TRUE);
                return FALSE;
            }
        }
    }
    if (IsRemoteWindow(hwnd))
        return broker::RemoteSetForeground(hwnd) ? TRUE : FALSE;
    return SetForegroundLocal(hwnd);
}

HWND GetForegroundWindow() {
    HWND h = broker::SessionForeground();
    if (h && IsWindow(h))
        return h;
    return nullptr;
}

BOOL BringWindowToTop(HWND hwnd) {
    if (IsRemoteWindow(hwnd))
        return broker::RemoteBringToTop(hwnd) ? TRUE : FALSE;
    return BringToTopLocal(hwnd);
}

HWND GetLastActivePopup(HWND hwnd) {
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e))
            return nullptr;
        broker::WindowEntry popup;
        if (e.lastActivePopup && broker::FindRemoteWindow(e.lastActivePopup, popup))
            return e.lastActivePopup;
        return hwnd;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    auto popup = w->lastActivePopup ? FindWindowLocked(w->lastActivePopup) : nullptr;
    if (popup && popup->phase == Window::Phase::Alive)
        return popup->hwnd;
    return hwnd;
}

HWND GetCapture() {
    QueuePtr q = CurrentQueue();
    std::lock_guard lock(GetState().mutex);
    return q->capture && FindWindowLocked(q->capture) ? q->capture : nullptr;
}

HWND SetCapture(HWND hwnd) {
    QueuePtr q = CurrentQueue();
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    HWND old = q->capture;
    q->capture = hwnd;
    return old;
}

BOOL ReleaseCapture() {
    QueuePtr q = CurrentQueue();
    HWND old;
    {
        std::lock_guard lock(GetState().mutex);
        old = q->capture;
        q->capture = nullptr;
    }
    if (old && FindLiveWindow(old))
        Send(old, 0x0215 /* WM_CAPTURECHANGED */, 0, 0);
    return TRUE;
}

BOOL SetWindowPos(HWND hwnd, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    WINDOWPOS wp{hwnd, insertAfter, x, y, std::max(cx, 0), std::max(cy, 0), flags};
    if (!(flags & SWP_NOSENDCHANGING))
        Send(hwnd, WM_WINDOWPOSCHANGING, 0, reinterpret_cast<LPARAM>(&wp));
    if (!FindLiveWindow(hwnd))
        return FALSE;
    bool moved = false, sized = false, shown = false, hidden = false, top = false;
    {
        std::lock_guard lock(s.mutex);
        RECT r = w->rect;
        if (!(wp.flags & SWP_NOMOVE) && (wp.x != r.left || wp.y != r.top)) {
            const LONG width = r.right - r.left, height = r.bottom - r.top;
            r = RECT{wp.x, wp.y, wp.x + width, wp.y + height};
            moved = true;
        }
        if (!(wp.flags & SWP_NOSIZE) && (wp.cx != r.right - r.left || wp.cy != r.bottom - r.top)) {
            r.right = r.left + std::max(wp.cx, 0);
            r.bottom = r.top + std::max(wp.cy, 0);
            sized = true;
        }
        w->rect = r;
        if (!(w->style & (WS_MINIMIZE | WS_MAXIMIZE)))
            w->normalRect = r;
        if (!(wp.flags & SWP_NOZORDER))
            ReorderLocked(s, *w, wp.hwndInsertAfter);
        if ((wp.flags & SWP_SHOWWINDOW) && !(w->style & WS_VISIBLE)) {
            w->style |= WS_VISIBLE;
            shown = true;
        } else if ((wp.flags & SWP_HIDEWINDOW) && (w->style & WS_VISIBLE)) {
            w->style &= ~WS_VISIBLE;
            hidden = true;
        }
        top = !w->parent && !w->messageOnly;
    }
    if (sized || (wp.flags & SWP_FRAMECHANGED))
        RecalcClient(hwnd);
    if (shown || (sized && !(wp.flags & SWP_NOREDRAW)))
        SetNeedsPaint(w, true);
    if (hidden)
        ActivateAnother(w);
    if (top && !(wp.flags & SWP_NOACTIVATE) && IsWindowVisible(hwnd) && w->threadId == GetCurrentThreadId())
        Activate(hwnd, !(wp.flags & SWP_NOZORDER));
    WINDOWPOS changed = wp;
    if (!moved)
        changed.flags |= SWP_NOMOVE;
    if (!sized)
        changed.flags |= SWP_NOSIZE;
    {
        std::lock_guard lock(s.mutex);
        changed.x = w->rect.left;
        changed.y = w->rect.top;
        changed.cx = w->rect.right - w->rect.left;
        changed.cy = w->rect.bottom - w->rect.top;
    }
    Send(hwnd, WM_WINDOWPOSCHANGED, 0, reinterpret_cast<LPARAM>(&changed));
    Publish(w);
    return TRUE;
}

BOOL MoveWindow(HWND hwnd, int x, int y, int width, int height, BOOL repaint) {
    return SetWindowPos(hwnd, nullptr, x, y, width, height,
                        SWP_NOZORDER | SWP_NOACTIVATE | (repaint ? 0u : SWP_NOREDRAW));
}

BOOL GetWindowRect(HWND hwnd, LPRECT rect) {
    if (!rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (IsDesktop(hwnd)) {
        *rect = RECT{0, 0, kScreenWidth, kScreenHeight};
        return TRUE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    const POINT o = WindowOriginLocked(s, *w);
    *rect = RECT{o.x, o.y, o.x + (w->rect.right - w->rect.left), o.y + (w->rect.bottom - w->rect.top)};
    return TRUE;
}

BOOL GetClientRect(HWND hwnd, LPRECT rect) {
    if (!rect) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    if (IsDesktop(hwnd)) {
        *rect = RECT{0, 0, kScreenWidth, kScreenHeight};
        return TRUE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    *rect = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
    return TRUE;
}

namespace {

// The screen position of a window's client origin; the desktop's is (0, 0).
bool ScreenOriginOfClient(HWND hwnd, POINT& origin) {
    origin = POINT{0, 0};
    if (IsDesktop(hwnd))
        return true;
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return false;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    origin = ClientOriginLocked(s, *w);
    return true;
}

} // namespace

BOOL ClientToScreen(HWND hwnd, LPPOINT point) {
    POINT o;
    if (!point || !ScreenOriginOfClient(hwnd, o))
        return FALSE;
    point->x += o.x;
    point->y += o.y;
    return TRUE;
}

BOOL ScreenToClient(HWND hwnd, LPPOINT point) {
    POINT o;
    if (!point || !ScreenOriginOfClient(hwnd, o))
        return FALSE;
    point->x -= o.x;
    point->y -= o.y;
    return TRUE;
}

int MapWindowPoints(HWND from, HWND to, LPPOINT points, UINT count) {
    POINT a{0, 0}, b{0, 0};
    if (from && !ClientToScreen(from, &a))
        return 0;
    if (to && !ClientToScreen(to, &b))
        return 0;
    const LONG dx = a.x - b.x, dy = a.y - b.y;
    for (UINT i = 0; i < count; ++i) {
        points[i].x += dx;
        points[i].y += dy;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<int>(MAKELONG(static_cast<WORD>(dx), static_cast<WORD>(dy)));
}

BOOL AdjustWindowRectEx(LPRECT rect, DWORD style, BOOL menu, DWORD exStyle) {
    if (!rect)
        return FALSE;
    const RECT in = NonClientInsets(style, exStyle, menu != FALSE);
    rect->left -= in.left;
    rect->top -= in.top;
    rect->right += in.right;
    rect->bottom += in.bottom;
    return TRUE;
}

BOOL AdjustWindowRect(LPRECT rect, DWORD style, BOOL menu) {
    return AdjustWindowRectEx(rect, style, menu, 0);
}

int GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
    case SM_CXVIRTUALSCREEN:
        return kScreenWidth;
    case SM_CYSCREEN:
    case SM_CYVIRTUALSCREEN:
        return kScreenHeight;
    case SM_CXVSCROLL:
    case SM_CYHSCROLL:
        return kScroll;
    case SM_CYCAPTION:
        return kCaption;
    case SM_CXBORDER:
    case SM_CYBORDER:
        return kBorder;
    case SM_CXDLGFRAME:
    case SM_CYDLGFRAME:
        return kDlgFrame;
    case SM_CXFRAME:
    case SM_CYFRAME:
        return kFrame;
    case SM_CXICON:
    case SM_CYICON:
    case SM_CXCURSOR:
    case SM_CYCURSOR:
        return 32;
    case SM_CXSMICON:
    case SM_CYSMICON:
        return 16;
    case SM_CYMENU:
        return kMenu;
    case SM_CXFULLSCREEN:
        return kScreenWidth;
    case SM_CYFULLSCREEN:
        return kScreenHeight - kTaskbar - kCaption;
    case SM_CXMIN:
        return 112;
    case SM_CYMIN:
        return 27;
    case SM_CXDOUBLECLK:
    case SM_CYDOUBLECLK:
        return 4;
    case SM_CXEDGE:
    case SM_CYEDGE:
        return kEdge;
    case SM_CXMINIMIZED:
        return kMinimizedWidth;
    case SM_CYMINIMIZED:
        return kMinimizedHeight;
    case SM_CXMAXIMIZED:
        return kScreenWidth + 2 * kFrame;
    case SM_CYMAXIMIZED:
        return kScreenHeight - kTaskbar + 2 * kFrame;
    case SM_CXMENUCHECK:
    case SM_CYMENUCHECK:
        return 13;
    case SM_CMONITORS:
        return 1;
    default:
        return 0;
    }
}

BOOL GetCursorPos(LPPOINT point) {
    if (!point) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    *point = s.cursor;
    return TRUE;
}

BOOL SetCursorPos(int x, int y) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    s.cursor = POINT{std::clamp(x, 0, kScreenWidth - 1), std::clamp(y, 0, kScreenHeight - 1)};
    return TRUE;
}

BOOL InvalidateRect(HWND hwnd, const RECT*, BOOL erase) {
    if (!hwnd) {
        std::vector<WindowPtr> all;
        {
            std::lock_guard lock(GetState().mutex);
            for (auto& [key, w] : GetState().windows)
                if (w->phase != Window::Phase::Gone)
                    all.push_back(w);
        }
        for (auto& w : all)
            SetNeedsPaint(w, erase != FALSE);
        return TRUE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    SetNeedsPaint(w, erase != FALSE);
    return TRUE;
}

BOOL ValidateRect(HWND hwnd, const RECT*) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    w->needsPaint = false;
    w->needsErase = false;
    return TRUE;
}

BOOL UpdateWindow(HWND hwnd) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    bool paint;
    std::vector<HWND> children;
    {
        std::lock_guard lock(GetState().mutex);
        paint = w->needsPaint && (w->style & WS_VISIBLE);
        children = w->children;
    }
    if (paint)
        Send(hwnd, WM_PAINT, 0, 0);
    for (HWND c : children)
        if (FindLiveWindow(c))
            UpdateWindow(c);
    return TRUE;
}

BOOL RedrawWindow(HWND hwnd, const RECT* update, HRGN, UINT flags) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::vector<HWND> targets{hwnd};
    if (flags & RDW_ALLCHILDREN) {
        std::lock_guard lock(GetState().mutex);
        auto all = DescendantsPreorderLocked(*w);
        targets.insert(targets.end(), all.begin(), all.end());
    }
    for (HWND h : targets) {
        if (flags & (RDW_INVALIDATE | RDW_INTERNALPAINT))
            InvalidateRect(h, update, (flags & RDW_ERASE) ? TRUE : FALSE);
        if (flags & RDW_VALIDATE)
            ValidateRect(h, update);
    }
    if (flags & (RDW_UPDATENOW | RDW_ERASENOW))
        UpdateWindow(hwnd);
    return TRUE;
}

BOOL GetUpdateRect(HWND hwnd, LPRECT rect, BOOL) {
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    std::lock_guard lock(GetState().mutex);
    if (!w->needsPaint) {
        if (rect)
            *rect = RECT{0, 0, 0, 0};
        return FALSE;
    }
    if (rect)
        *rect = RECT{0, 0, w->client.right - w->client.left, w->client.bottom - w->client.top};
    return TRUE;
}

BOOL SetPropW(HWND hwnd, LPCWSTR name, HANDLE data) {
    if (IsRemoteWindow(hwnd)) {
        SetLastError(ERROR_ACCESS_DENIED);
        return FALSE;
    }
    WindowPtr w = ValidWindow(hwnd);
    if (!w)
        return FALSE;
    if (!name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    const std::u16string key = PropKey(name);
    {
        std::lock_guard lock(GetState().mutex);
        auto it = std::find_if(w->props.begin(), w->props.end(), [&](auto& p) { return EqualsNoCase(p.first, key); });
        if (it != w->props.end())
            it->second = data;
        else
            w->props.emplace_back(key, data);
    }
    Publish(w);
    return TRUE;
}

HANDLE GetPropW(HWND hwnd, LPCWSTR name) {
    if (!name)
        return nullptr;
    const std::u16string key = PropKey(name);
    if (IsRemoteWindow(hwnd)) {
        broker::WindowEntry e;
        if (!broker::FindRemoteWindow(hwnd, e))
            return nullptr;
        for (auto& [n, v] : e.properties)
            if (EqualsNoCase(n, key))
                return reinterpret_cast<HANDLE>(v);
        return nullptr;
    }
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w)
        return nullptr;
    std::lock_guard lock(GetState().mutex);
    for (auto& [n, v] : w->props)
        if (EqualsNoCase(n, key))
            return v;
    return nullptr;
}

HANDLE RemovePropW(HWND hwnd, LPCWSTR name) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w || !name)
        return nullptr;
    const std::u16string key = PropKey(name);
    HANDLE value = nullptr;
    {
        std::lock_guard lock(GetState().mutex);
        auto it = std::find_if(w->props.begin(), w->props.end(), [&](auto& p) { return EqualsNoCase(p.first, key); });
        if (it == w->props.end())
            return nullptr;
        value = it->second;
        w->props.erase(it);
    }
    Publish(w);
    return value;
}

int EnumPropsExW(HWND hwnd, PROPENUMPROCEXW proc, LPARAM lParam) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w || !proc)
        return -1;
    std::vector<std::pair<std::u16string, HANDLE>> props;
    {
        std::lock_guard lock(GetState().mutex);
        props = w->props;
    }
    if (props.empty())
        return -1;
    int last = -1;
    for (auto& [name, value] : props) {
        last = proc(hwnd, name.data(), value, static_cast<ULONG_PTR>(lParam));
        if (!last)
            break;
    }
    return last;
}

int EnumPropsW(HWND hwnd, PROPENUMPROCW proc) {
    WindowPtr w = FindLiveWindow(hwnd);
    if (!w || !proc)
        return -1;
    std::vector<std::pair<std::u16string, HANDLE>> props;
    {
        std::lock_guard lock(GetState().mutex);
        props = w->props;
    }
    if (props.empty())
        return -1;
    int last = -1;
    for (auto& [name, value] : props) {
        last = proc(hwnd, name.c_str(), value);
        if (!last)
            break;
    }
    return last;
}

BOOL SystemParametersInfoW(UINT action, UINT, PVOID pvParam, UINT) {
    switch (action) {
    case SPI_SETFOREGROUNDLOCKTIMEOUT:
        SaveForegroundLockTimeout(static_cast<DWORD>(reinterpret_cast<uintptr_t>(pvParam)));
        return TRUE;
    case SPI_GETFOREGROUNDLOCKTIMEOUT:
        if (!pvParam) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *static_cast<DWORD*>(pvParam) = static_cast<DWORD>(ForegroundLockTimeoutFromFile());
        return TRUE;
    case SPI_GETWORKAREA:
        if (!pvParam) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return FALSE;
        }
        *static_cast<RECT*>(pvParam) = WorkArea();
        return TRUE;
    default:
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
}

HHOOK SetWindowsHookExW(int idHook, HOOKPROC proc, HINSTANCE module, DWORD threadId) {
    if (!proc) {
        SetLastError(ERROR_INVALID_FILTER_PROC);
        return nullptr;
    }
    const DWORD self = GetCurrentThreadId();
    if (threadId == 0 && module) {
        SetLastError(ERROR_HOOK_NEEDS_HMOD);
        return nullptr;
    }
    if (threadId == 0)
        threadId = self;
    if (threadId != self || (idHook != WH_CBT && idHook != WH_MSGFILTER)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    HookEntry e{reinterpret_cast<HHOOK>(s.nextHook), idHook, proc, threadId};
    s.nextHook += 4;
    s.hooks.push_back(e);
    return e.handle;
}

BOOL UnhookWindowsHookEx(HHOOK hook) {
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    auto it = std::find_if(s.hooks.begin(), s.hooks.end(), [&](const HookEntry& e) { return e.handle == hook; });
    if (it == s.hooks.end()) {
        SetLastError(ERROR_INVALID_HOOK_HANDLE);
        return FALSE;
    }
    s.hooks.erase(it);
    return TRUE;
}

LRESULT CallNextHookEx(HHOOK hook, int code, WPARAM wParam, LPARAM lParam) {
    HookEntry next{};
    {
        State& s = GetState();
        std::lock_guard lock(s.mutex);
        auto it = std::find_if(s.hooks.begin(), s.hooks.end(), [&](const HookEntry& e) { return e.handle == hook; });
        if (it == s.hooks.end())
            return 0;
        // Hooks run newest first, so the next one is the older hook of the same kind and thread.
        for (auto prev = std::make_reverse_iterator(it); prev != s.hooks.rend(); ++prev) {
            if (prev->id == it->id && prev->threadId == it->threadId) {
                next = *prev;
                break;
            }
        }
    }
    return next.proc ? next.proc(code, wParam, lParam) : 0;
}

BOOL CallMsgFilterW(LPMSG msg, int code) {
    return CallHooks(WH_MSGFILTER, code, 0, reinterpret_cast<LPARAM>(msg)) != 0 ? TRUE : FALSE;
}

namespace platform::ui {

std::vector<broker::WindowEntry> LocalPublishedWindows() {
    std::vector<broker::WindowEntry> out;
    State& s = GetState();
    std::lock_guard lock(s.mutex);
    for (HWND h : s.topLevel) {
        auto w = FindWindowLocked(h);
        if (!w || w->phase == Window::Phase::Creating)
            continue;
        broker::WindowEntry e;
        e.hwnd = h;
        e.processId = CurrentProcessId();
        e.threadId = w->threadId;
        e.style = w->style;
        e.exStyle = w->exStyle;
        e.owner = w->owner;
        e.lastActivePopup = w->lastActivePopup && FindWindowLocked(w->lastActivePopup) ? w->lastActivePopup : nullptr;
        e.className = w->cls->name;
        e.title = w->text;
        for (auto& [n, v] : w->props)
            e.properties.emplace_back(n, reinterpret_cast<ULONG_PTR>(v));
        out.push_back(std::move(e));
    }
    return out;
}

// Called when a thread ends: its windows go away without messages (nobody is left to answer them).
void DestroyThreadWindows(DWORD threadId) {
    std::vector<WindowPtr> gone;
    State& s = GetState();
    {
        std::lock_guard lock(s.mutex);
        for (auto& [key, w] : s.windows)
            if (w->threadId == threadId && w->phase != Window::Phase::Gone)
                gone.push_back(w);
        for (auto& w : gone) {
            UnlinkLocked(s, *w);
            w->phase = Window::Phase::Gone;
            if (w->cls)
                --w->cls->liveWindows;
            s.windows.erase(Key(w->hwnd));
        }
        s.hooks.erase(
            std::remove_if(s.hooks.begin(), s.hooks.end(), [&](const HookEntry& e) { return e.threadId == threadId; }),
            s.hooks.end());
    }
    bool published = false;
    for (auto& w : gone)
        published = published || IsPublishable(*w);
    if (published)
        broker::PublishChanged();
}

} // namespace platform::ui
