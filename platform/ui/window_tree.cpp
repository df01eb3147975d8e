// The tree of windows: parents, owners, Z order, walking and enumerating windows, finding them by class and
// title, and this process's published windows.

#include "platform/ui/window.h"

#include "platform/base/errors.h"
#include "platform/base/strings.h"
#include "platform/ui/broker.h"
#include "platform/ui/broker_internal.h"
#include "platform/ui/window_internal.h"

#include <algorithm>

using namespace platform;
using namespace platform::ui;

namespace platform::ui {

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

} // namespace platform::ui

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

} // namespace platform::ui
