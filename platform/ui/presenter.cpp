#include "platform/ui/presenter.h"

#include "platform/ui/tray.h"

#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/input.h"
#include "platform/ui/paint_internal.h"
#include "platform/ui/ui_internal.h"
#include "platform/ui/x11_connection.h"
#include "platform/ui/x11_icon.h"
#include "platform/ui/x11_keyboard.h"
#include "platform/ui/x11_tray.h"

#include <cairo/cairo-xcb.h>
#include <xcb/shape.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <poll.h>
#include <set>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace platform::ui {

namespace {

using x11::AtomId;

constexpr UINT kWmMouseHWheel = 0x020E;
constexpr int kVkPacket = 0xE7;
constexpr int kVkF10 = 0x79;
constexpr uint32_t kIconicState = 3;
constexpr uint32_t kNormalState = 1;

// What the presenter reads of a window, in one look under the window layer's lock.
struct Snapshot {
    bool alive = false;
    bool topLevel = false;
    DWORD style = 0;
    DWORD exStyle = 0;
    RECT rect{};
    RECT client{};
    HWND owner = nullptr;
    DWORD threadId = 0;
    std::u16string text;
    std::u16string className;
    HICON icon = nullptr;
    LayeredState layered;
};

Snapshot Snap(HWND hwnd) {
    Snapshot s;
    State& st = GetState();
    std::lock_guard lock(st.mutex);
    WindowPtr w = FindWindowLocked(hwnd);
    if (!w || w->phase != Window::Phase::Alive || w->messageOnly)
        return s;
    s.alive = true;
    s.topLevel = w->parent == nullptr;
    s.style = w->style;
    s.exStyle = w->exStyle;
    s.rect = w->rect;
    s.client = w->client;
    s.owner = w->owner;
    s.threadId = w->threadId;
    s.text = w->text;
    s.className = w->cls ? w->cls->name : std::u16string();
    s.icon = w->iconBig ? w->iconBig : w->iconSmall;
    if (!s.icon && w->cls)
        s.icon = w->cls->wc.hIcon ? w->cls->wc.hIcon : w->cls->wc.hIconSm;
    s.layered = w->layered;
    return s;
}

// The window's shape (SetWindowRgn) as rectangles relative to its top-left corner; nothing when it has none.
std::optional<std::vector<RECT>> ShapeOf(HWND hwnd) {
    HRGN region = CopyWindowShape(hwnd);
    if (!region)
        return std::nullopt;
    std::vector<RECT> rects;
    const DWORD size = GetRegionData(region, 0, nullptr);
    std::vector<uint8_t> data(std::max<size_t>(size, sizeof(RGNDATA)));
    if (size && GetRegionData(region, size, reinterpret_cast<RGNDATA*>(data.data())) == size) {
        const auto* header = reinterpret_cast<const RGNDATAHEADER*>(data.data());
        rects.resize(header->nCount);
        std::memcpy(rects.data(), data.data() + sizeof(RGNDATAHEADER), rects.size() * sizeof(RECT));
    }
    DeleteObject(region);
    return rects;
}

// Whether a visible window of the tree still waits for its WM_PAINT (lock held).
bool PaintPendingLocked(const Window& w) {
    if (!(w.style & WS_VISIBLE))
        return false;
    if (w.needsPaint)
        return true;
    for (HWND child : w.children)
        if (WindowPtr c = FindWindowLocked(child); c && PaintPendingLocked(*c))
            return true;
    return false;
}

bool PaintPending(HWND root) {
    std::lock_guard lock(GetState().mutex);
    WindowPtr w = FindWindowLocked(root);
    return w && PaintPendingLocked(*w);
}

struct Shown {
    xcb_window_t xid = XCB_NONE;
    cairo_surface_t* surface = nullptr;
    cairo_surface_t* picture = nullptr; // the composed picture, kept for the next frame
    RECT xrect{};                       // where the X window is, in screen coordinates
    bool decorated = false;
    bool overrideRedirect = false;
    bool menu = false;
    bool mapped = false;
    bool iconic = false;
    bool shaped = false;
    std::vector<xcb_rectangle_t> shape; // the region last set as the window's shape (not with a key colour)
    BYTE opacity = 255;
    std::u16string title;
    HICON icon = nullptr;
    DWORD threadId = 0;
};

// The last press of a mouse button, for double-clicks.
struct LastPress {
    HWND hwnd = nullptr;
    uint8_t button = 0;
    xcb_timestamp_t time = 0;
    POINT at{};
};

template <typename T> struct FreeReply {
    void operator()(T* p) const { std::free(p); }
};

std::string ProgramName() {
    std::ifstream comm("/proc/self/comm");
    std::string name;
    std::getline(comm, name);
    return name.empty() ? std::string("program") : name;
}

class Presenter {
public:
    static Presenter* Get();
    explicit Presenter(std::unique_ptr<x11::XConnection> x);
    void Stop();

    void Note(HWND hwnd) {
        {
            std::lock_guard guard(m_lock);
            if (!m_dirty.insert(hwnd).second)
                return;
        }
        Wake();
    }
    void NoteTray() {
        {
            std::lock_guard guard(m_lock);
            m_trayDirty = true;
        }
        Wake();
    }
    bool Flush(DWORD timeoutMs) {
        std::unique_lock guard(m_lock);
        const uint64_t ticket = ++m_requested;
        guard.unlock();
        Wake();
        guard.lock();
        return m_done.wait_for(guard, std::chrono::milliseconds(timeoutMs), [&] {
            return m_completed >= ticket || m_failed;
        }) && !m_failed;
    }
    uint32_t XOf(HWND hwnd) {
        std::lock_guard guard(m_lock);
        auto it = m_xids.find(hwnd);
        return it == m_xids.end() ? 0 : it->second;
    }
    uint32_t TrayXOf(HWND hwnd, UINT id) {
        std::lock_guard guard(m_lock);
        auto it = m_trayXids.find({hwnd, id});
        return it == m_trayXids.end() ? 0 : it->second;
    }

private:
    void Wake();
    void Run();
    void Cycle(bool& flushWanted);
    void HandleEvent(const xcb_generic_event_t* event);
    void Sync(HWND hwnd);
    void Create(HWND hwnd, Shown& shown, const Snapshot& s, const RECT& xrect);
    void Destroy(HWND hwnd);
    void Present(HWND hwnd, Shown& shown, const Snapshot& s);
    // Cuts the X window to the window's region and, with `keyed`, to the pixels of the picture that are not the key
    // colour.
    void Shape(Shown& shown, cairo_surface_t* picture, const Snapshot& s, bool keyed, const std::vector<RECT>* region,
               POINT origin);
    void SetIcon(Shown& shown, HICON icon);
    void FollowForeground();
    void Regrab();
    void Mouse(HWND root, Shown& shown, int16_t x, int16_t y, uint16_t state, uint8_t button, bool press,
               xcb_timestamp_t time);
    void Key(HWND root, Shown& shown, const xcb_key_press_event_t& e, bool press);
    void Configured(HWND root, Shown& shown, const xcb_configure_notify_event_t& e);
    void WmState(HWND root, Shown& shown);
    HWND RootOf(xcb_window_t xid);
    RECT XRectOf(const Snapshot& s, bool decorated) const;

    std::unique_ptr<x11::XConnection> m_x;
    x11::XKeyboard m_keyboard;
    std::unique_ptr<x11::XTrayIcons> m_tray;
    bool m_hasWm = false;
    int m_wake = -1;
    std::thread m_thread;

    std::mutex m_lock;
    std::condition_variable m_done;
    std::unordered_set<HWND> m_dirty;
    bool m_trayDirty = false;
    bool m_stop = false;
    bool m_failed = false;
    uint64_t m_requested = 0;
    uint64_t m_completed = 0;
    std::unordered_map<HWND, uint32_t> m_xids;
    std::map<std::pair<HWND, UINT>, uint32_t> m_trayXids;

    // The presenter thread's own.
    std::unordered_map<HWND, Shown> m_shown;
    std::unordered_map<xcb_window_t, HWND> m_byX;
    HWND m_foreground = nullptr;
    HWND m_grabHolder = nullptr;
    std::unordered_set<HWND> m_toPresent;
    LastPress m_lastPress;
    std::set<xcb_keycode_t> m_keysDown;
    std::string m_program = ProgramName();
};

std::mutex g_startLock;
std::atomic<Presenter*> g_presenter{nullptr};

// Connects to a display and starts the presenter (g_startLock held).
Presenter* Connect(const std::string& name) {
    std::string error;
    auto x = x11::XConnection::Open(name, error);
    if (!x) {
        std::fprintf(stderr, "No display (%s): running headless, windows are not shown.\n", error.c_str());
        return nullptr;
    }
    // The drawing layer's own state is made before the presenter's, so that it outlives the presenter's thread
    // at exit.
    GetStockObject(DEFAULT_GUI_FONT);
    paint::ForgetControl(nullptr);
    // Never destroyed: windows of threads that outlive main may still report to it; its thread stops at exit.
    Presenter* presenter = new Presenter(std::move(x));
    g_presenter.store(presenter);
    std::atexit([] { g_presenter.load()->Stop(); });
    return presenter;
}

std::atomic<bool> g_connectAsked{false};

// The first use decides from the environment whether windows are shown (unless the program names a display).
Presenter* StartFromEnvironment() {
    if (g_connectAsked.load())
        return nullptr;
    std::string name;
    const char* setting = std::getenv("WINLAYER_DISPLAY");
    if (setting && *setting) {
        if (std::strcmp(setting, "none") == 0)
            return nullptr;
        name = setting;
    } else {
        const char* display = std::getenv("DISPLAY");
        if (!display || !*display) {
            std::fprintf(stderr, "No display (DISPLAY is not set): running headless, windows are not shown.\n");
            return nullptr;
        }
    }
    std::lock_guard guard(g_startLock);
    return g_presenter.load() ? g_presenter.load() : Connect(name);
}

Presenter* Presenter::Get() {
    static Presenter* fromEnvironment = StartFromEnvironment();
    (void)fromEnvironment;
    return g_presenter.load();
}

Presenter::Presenter(std::unique_ptr<x11::XConnection> x) : m_x(std::move(x)) {
    m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    xcb_connection_t* c = m_x->Conn();
    m_keyboard.Load(c);
    // The notification area announces itself on the root window.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
    xcb_change_window_attributes(c, m_x->Root(), XCB_CW_EVENT_MASK, &mask);
    m_hasWm = m_x->HasWindowManager();
    m_tray = std::make_unique<x11::XTrayIcons>(*m_x);
    xcb_flush(c);
    m_thread = std::thread([this] { Run(); });
}

void Presenter::Stop() {
    {
        std::lock_guard guard(m_lock);
        m_stop = true;
    }
    Wake();
    if (m_thread.joinable())
        m_thread.join();
}

void Presenter::Wake() {
    const uint64_t one = 1;
    [[maybe_unused]] auto n = write(m_wake, &one, sizeof one);
}

void Presenter::Run() {
    xcb_connection_t* c = m_x->Conn();
    const int fd = xcb_get_file_descriptor(c);
    for (;;) {
        bool flushWanted = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            HandleEvent(event);
            std::free(event);
        }
        Cycle(flushWanted);
        if (xcb_connection_has_error(c)) {
            std::fprintf(stderr, "The display connection broke: windows are no longer shown.\n");
            std::lock_guard guard(m_lock);
            m_failed = true;
            m_done.notify_all();
            return;
        }
        {
            std::lock_guard guard(m_lock);
            if (m_stop)
                return;
        }
        // Events that arrived with replies are already read.
        if (xcb_generic_event_t* queued = xcb_poll_for_queued_event(c)) {
            HandleEvent(queued);
            std::free(queued);
            continue;
        }
        pollfd fds[2] = {{fd, POLLIN, 0}, {m_wake, POLLIN, 0}};
        poll(fds, 2, -1);
        if (fds[1].revents & POLLIN) {
            uint64_t n = 0;
            [[maybe_unused]] auto r = read(m_wake, &n, sizeof n);
        }
    }
}

void Presenter::Cycle(bool& flushWanted) {
    std::unordered_set<HWND> dirty;
    bool tray = false;
    uint64_t requested = 0;
    {
        std::lock_guard guard(m_lock);
        dirty.swap(m_dirty);
        tray = m_trayDirty;
        m_trayDirty = false;
        requested = m_requested;
    }
    flushWanted = requested > m_completed;
    for (HWND hwnd : dirty)
        Sync(hwnd);
    // Each window is drawn once for all the changes of its own and of its children, when it has finished
    // painting: the last paint of the tree reports again.
    for (HWND root : m_toPresent) {
        auto it = m_shown.find(root);
        if (it != m_shown.end() && it->second.mapped && !it->second.iconic && !PaintPending(root))
            Present(root, it->second, Snap(root));
    }
    m_toPresent.clear();
    if (!dirty.empty())
        FollowForeground();
    if (tray) {
        m_tray->Sync();
        std::map<std::pair<HWND, UINT>, uint32_t> xids;
        for (const auto& icon : TrayIcons())
            if (xcb_window_t w = m_tray->WindowOf(icon.hwnd, icon.id))
                xids[{icon.hwnd, icon.id}] = w;
        std::lock_guard guard(m_lock);
        m_trayXids.swap(xids);
    }
    xcb_connection_t* c = m_x->Conn();
    if (!flushWanted) {
        xcb_flush(c);
        return;
    }
    // A round trip: when its answer comes, the server has handled every request before it.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    std::lock_guard guard(m_lock);
    // Changes noted while this cycle ran wait for the next.
    if (!m_dirty.empty() || m_trayDirty) {
        Wake();
        return;
    }
    m_completed = requested;
    m_done.notify_all();
}

RECT Presenter::XRectOf(const Snapshot& s, bool decorated) const {
    if (!decorated)
        return s.rect;
    return RECT{s.rect.left + s.client.left, s.rect.top + s.client.top, s.rect.left + s.client.right,
                s.rect.top + s.client.bottom};
}

HWND Presenter::RootOf(xcb_window_t xid) {
    auto it = m_byX.find(xid);
    return it == m_byX.end() ? nullptr : it->second;
}

void Presenter::Sync(HWND hwnd) {
    const Snapshot s = Snap(hwnd);
    auto it = m_shown.find(hwnd);
    if (!s.alive) {
        // The icons of a window that went away leave the notification area.
        m_tray->Sync();
        if (it != m_shown.end()) {
            Destroy(hwnd);
            return;
        }
        // A child that went away: its top-level window shows without it. Which one is no longer known.
        std::vector<HWND> roots;
        for (const auto& [root, shown] : m_shown)
            roots.push_back(root);
        m_toPresent.insert(roots.begin(), roots.end());
        return;
    }
    if (!s.topLevel) {
        HWND root = GetAncestor(hwnd, GA_ROOT);
        if (root && root != hwnd)
            m_toPresent.insert(root);
        return;
    }
    const bool visible = (s.style & WS_VISIBLE) != 0;
    if (it == m_shown.end()) {
        if (!visible)
            return;
        it = m_shown.emplace(hwnd, Shown{}).first;
    }
    Shown& shown = it->second;
    xcb_connection_t* c = m_x->Conn();
    const bool decorated = (s.style & WS_CAPTION) == WS_CAPTION;
    const RECT xrect = XRectOf(s, decorated);
    if (!shown.xid)
        Create(hwnd, shown, s, xrect);
    if (!EqualRect(&xrect, &shown.xrect)) {
        const uint32_t values[] = {static_cast<uint32_t>(xrect.left), static_cast<uint32_t>(xrect.top),
                                   static_cast<uint32_t>(std::max<LONG>(1, xrect.right - xrect.left)),
                                   static_cast<uint32_t>(std::max<LONG>(1, xrect.bottom - xrect.top))};
        xcb_configure_window(
            c, shown.xid,
            XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        cairo_xcb_surface_set_size(shown.surface, static_cast<int>(values[2]), static_cast<int>(values[3]));
        shown.xrect = xrect;
    }
    if (shown.title != s.text) {
        shown.title = s.text;
        m_x->SetText(shown.xid, Utf16ToUtf8(s.text));
    }
    if (shown.icon != s.icon)
        SetIcon(shown, s.icon);
    const bool iconic = (s.style & WS_MINIMIZE) != 0;
    if (!visible) {
        if (shown.mapped) {
            xcb_unmap_window(c, shown.xid);
            shown.mapped = false;
            if (m_grabHolder == hwnd)
                Regrab();
        }
        return;
    }
    const bool wasIconic = shown.iconic;
    if (iconic != shown.iconic) {
        shown.iconic = iconic;
        if (iconic && shown.mapped) {
            if (m_hasWm) {
                m_x->SendClientMessage(m_x->Root(), shown.xid, m_x->Atom(AtomId::WmChangeState), {kIconicState},
                                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
            } else {
                xcb_unmap_window(c, shown.xid);
                shown.mapped = false;
            }
        }
    }
    if (!shown.mapped && (!iconic || m_hasWm)) {
        xcb_map_window(c, shown.xid);
        shown.mapped = true;
        if (shown.menu && !m_grabHolder)
            Regrab();
    } else if (shown.mapped && wasIconic && !iconic && m_hasWm) {
        // Mapping a minimised window restores it.
        xcb_map_window(c, shown.xid);
    }
    if (shown.mapped && !iconic)
        m_toPresent.insert(hwnd);
}

void Presenter::Create(HWND hwnd, Shown& shown, const Snapshot& s, const RECT& xrect) {
    xcb_connection_t* c = m_x->Conn();
    shown.decorated = (s.style & WS_CAPTION) == WS_CAPTION;
    shown.menu = EqualsNoCase(s.className, u"#32768");
    shown.overrideRedirect = !shown.decorated && (s.style & WS_POPUP) &&
                             (s.owner || (s.exStyle & (WS_EX_TOOLWINDOW | WS_EX_TOPMOST)) || shown.menu);
    shown.threadId = s.threadId;
    shown.xid = xcb_generate_id(c);
    const uint32_t width = static_cast<uint32_t>(std::max<LONG>(1, xrect.right - xrect.left));
    const uint32_t height = static_cast<uint32_t>(std::max<LONG>(1, xrect.bottom - xrect.top));
    const uint32_t events = XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_KEY_PRESS |
                            XCB_EVENT_MASK_KEY_RELEASE | XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE |
                            XCB_EVENT_MASK_POINTER_MOTION | XCB_EVENT_MASK_LEAVE_WINDOW | XCB_EVENT_MASK_FOCUS_CHANGE |
                            XCB_EVENT_MASK_PROPERTY_CHANGE;
    // No background: the window's own picture covers it, so nothing flickers.
    const uint32_t values[] = {XCB_BACK_PIXMAP_NONE, shown.overrideRedirect ? 1u : 0u, events};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, shown.xid, m_x->Root(), static_cast<int16_t>(xrect.left),
                      static_cast<int16_t>(xrect.top), static_cast<uint16_t>(width), static_cast<uint16_t>(height), 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, m_x->Screen()->root_visual,
                      XCB_CW_BACK_PIXMAP | XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
    shown.xrect = xrect;
    shown.surface =
        cairo_xcb_surface_create(c, shown.xid, m_x->Visual(), static_cast<int>(width), static_cast<int>(height));
    m_byX[shown.xid] = hwnd;
    {
        std::lock_guard guard(m_lock);
        m_xids[hwnd] = shown.xid;
    }
    m_x->SetAtoms(shown.xid, AtomId::WmProtocols, {m_x->Atom(AtomId::WmDeleteWindow)});
    m_x->SetCardinals(shown.xid, m_x->Atom(AtomId::NetWmPid), XCB_ATOM_CARDINAL, {static_cast<uint32_t>(getpid())});
    // WM_CLASS: instance and class name, each ending in a zero byte.
    std::string wmClass = m_program + '\0' + m_program + '\0';
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, shown.xid, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                        static_cast<uint32_t>(wmClass.size()), wmClass.data());
    // WM_HINTS: the window takes the keyboard focus, and starts in the normal state.
    m_x->SetCardinals(shown.xid, XCB_ATOM_WM_HINTS, XCB_ATOM_WM_HINTS, {1 | 2, 1, kNormalState, 0, 0, 0, 0, 0, 0});
    // WM_NORMAL_HINTS: the position is the program's; a window without a sizing frame keeps its size.
    std::vector<uint32_t> hints(18, 0);
    hints[0] = 1 | 4; // USPosition, PPosition
    if (!(s.style & WS_THICKFRAME)) {
        hints[0] |= 16 | 32; // PMinSize, PMaxSize
        hints[5] = hints[7] = width;
        hints[6] = hints[8] = height;
    }
    m_x->SetCardinals(shown.xid, XCB_ATOM_WM_NORMAL_HINTS, XCB_ATOM_WM_SIZE_HINTS, hints);
    if (s.owner) {
        HWND ownerRoot = GetAncestor(s.owner, GA_ROOT);
        auto o = m_shown.find(ownerRoot ? ownerRoot : s.owner);
        if (o != m_shown.end() && o->second.xid)
            m_x->SetCardinals(shown.xid, XCB_ATOM_WM_TRANSIENT_FOR, XCB_ATOM_WINDOW, {o->second.xid});
    }
    AtomId type = AtomId::NetWmWindowTypeNormal;
    if (shown.menu)
        type = AtomId::NetWmWindowTypePopupMenu;
    else if (EqualsNoCase(s.className, u"tooltips_class32"))
        type = AtomId::NetWmWindowTypeTooltip;
    else if (!shown.decorated && !s.owner)
        type = AtomId::NetWmWindowTypeSplash;
    else if (s.owner || EqualsNoCase(s.className, u"#32770"))
        type = AtomId::NetWmWindowTypeDialog;
    m_x->SetAtoms(shown.xid, AtomId::NetWmWindowType, {m_x->Atom(type)});
    if (!shown.decorated && !shown.overrideRedirect) {
        // Undecorated: the window draws its own frame, if any.
        m_x->SetCardinals(shown.xid, m_x->Atom(AtomId::MotifWmHints), m_x->Atom(AtomId::MotifWmHints), {2, 0, 0, 0, 0});
    }
    if (s.exStyle & WS_EX_TOPMOST)
        m_x->SetAtoms(shown.xid, AtomId::NetWmState, {m_x->Atom(AtomId::NetWmStateAbove)});
}

void Presenter::SetIcon(Shown& shown, HICON icon) {
    shown.icon = icon;
    xcb_connection_t* c = m_x->Conn();
    if (!icon) {
        xcb_delete_property(c, shown.xid, m_x->Atom(AtomId::NetWmIcon));
        return;
    }
    std::vector<uint32_t> data;
    for (int size : {16, 32, 48}) {
        const std::vector<uint32_t> argb = x11::IconArgb(icon, size);
        if (argb.empty())
            continue;
        data.push_back(static_cast<uint32_t>(size));
        data.push_back(static_cast<uint32_t>(size));
        data.insert(data.end(), argb.begin(), argb.end());
    }
    if (!data.empty())
        m_x->SetCardinals(shown.xid, m_x->Atom(AtomId::NetWmIcon), XCB_ATOM_CARDINAL, data);
}

void Presenter::Destroy(HWND hwnd) {
    auto it = m_shown.find(hwnd);
    if (it == m_shown.end())
        return;
    Shown& shown = it->second;
    xcb_connection_t* c = m_x->Conn();
    const bool holder = m_grabHolder == hwnd;
    if (shown.surface)
        cairo_surface_destroy(shown.surface);
    if (shown.picture)
        cairo_surface_destroy(shown.picture);
    xcb_destroy_window(c, shown.xid);
    m_byX.erase(shown.xid);
    if (m_foreground == hwnd)
        m_foreground = nullptr;
    if (m_lastPress.hwnd == hwnd)
        m_lastPress = LastPress{};
    m_shown.erase(it);
    if (holder)
        Regrab();
    std::lock_guard guard(m_lock);
    m_xids.erase(hwnd);
}

void Presenter::Regrab() {
    xcb_connection_t* c = m_x->Conn();
    if (m_grabHolder) {
        xcb_ungrab_pointer(c, XCB_CURRENT_TIME);
        xcb_ungrab_keyboard(c, XCB_CURRENT_TIME);
        m_grabHolder = nullptr;
    }
    // While a pop-up menu is open it takes the pointer and the keyboard, so that a click anywhere else closes it.
    for (auto& [hwnd, shown] : m_shown) {
        if (!shown.menu || !shown.mapped)
            continue;
        const uint16_t events =
            XCB_EVENT_MASK_BUTTON_PRESS | XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_POINTER_MOTION;
        std::free(xcb_grab_pointer_reply(c,
                                         xcb_grab_pointer(c, 1, shown.xid, events, XCB_GRAB_MODE_ASYNC,
                                                          XCB_GRAB_MODE_ASYNC, XCB_NONE, XCB_NONE, XCB_CURRENT_TIME),
                                         nullptr));
        std::free(xcb_grab_keyboard_reply(
            c, xcb_grab_keyboard(c, 1, shown.xid, XCB_CURRENT_TIME, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC),
            nullptr));
        m_grabHolder = hwnd;
        return;
    }
}

void Presenter::Present(HWND hwnd, Shown& shown, const Snapshot& s) {
    if (!shown.xid || !shown.mapped || !s.alive)
        return;
    const int width = std::max<int>(1, shown.xrect.right - shown.xrect.left);
    const int height = std::max<int>(1, shown.xrect.bottom - shown.xrect.top);
    const POINT origin = shown.decorated ? POINT{s.client.left, s.client.top} : POINT{0, 0};
    // The picture is composed in memory and goes to the server in one piece.
    if (!shown.picture || cairo_image_surface_get_width(shown.picture) != width ||
        cairo_image_surface_get_height(shown.picture) != height) {
        if (shown.picture)
            cairo_surface_destroy(shown.picture);
        shown.picture = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height);
    }
    paint::DrawPainted(hwnd, origin, width, height, shown.picture);
    const bool keyed = s.layered.set && (s.layered.flags & LWA_COLORKEY);
    const std::optional<std::vector<RECT>> region = ShapeOf(hwnd);
    if ((keyed || region) && m_x->HasShape()) {
        Shape(shown, shown.picture, s, keyed, region ? &*region : nullptr, origin);
    } else if (shown.shaped) {
        xcb_shape_mask(m_x->Conn(), XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, shown.xid, 0, 0, XCB_NONE);
        shown.shaped = false;
        shown.shape.clear();
    }
    cairo_t* cr = cairo_create(shown.surface);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, shown.picture, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(shown.surface);
    const BYTE alpha = s.layered.set && (s.layered.flags & LWA_ALPHA) ? s.layered.alpha : 255;
    if (alpha != shown.opacity) {
        shown.opacity = alpha;
        if (alpha == 255)
            xcb_delete_property(m_x->Conn(), shown.xid, m_x->Atom(AtomId::NetWmWindowOpacity));
        else
            m_x->SetCardinals(shown.xid, m_x->Atom(AtomId::NetWmWindowOpacity), XCB_ATOM_CARDINAL,
                              {static_cast<uint32_t>(alpha) * 0x01010101u});
    }
}

void Presenter::Shape(Shown& shown, cairo_surface_t* picture, const Snapshot& s, bool keyed,
                      const std::vector<RECT>* region, POINT origin) {
    const int width = cairo_image_surface_get_width(picture), height = cairo_image_surface_get_height(picture);
    std::vector<xcb_rectangle_t> shape;
    if (region) {
        // The window region, moved to the X window's corner (the client area's when the desktop frames the window).
        const RECT whole{0, 0, width, height};
        for (const RECT& r : *region) {
            RECT part{r.left - origin.x, r.top - origin.y, r.right - origin.x, r.bottom - origin.y};
            if (IntersectRect(&part, &part, &whole))
                shape.push_back(xcb_rectangle_t{static_cast<int16_t>(part.left), static_cast<int16_t>(part.top),
                                                static_cast<uint16_t>(part.right - part.left),
                                                static_cast<uint16_t>(part.bottom - part.top)});
        }
    }
    std::vector<xcb_rectangle_t> runs;
    if (keyed) {
        cairo_surface_flush(picture);
        const unsigned char* data = cairo_image_surface_get_data(picture);
        const int stride = cairo_image_surface_get_stride(picture);
        const uint32_t key = (static_cast<uint32_t>(GetRValue(s.layered.key)) << 16) |
                             (static_cast<uint32_t>(GetGValue(s.layered.key)) << 8) | GetBValue(s.layered.key);
        // Runs of pixels that are not the key colour, row by row.
        for (int y = 0; y < height; ++y) {
            const auto* row = reinterpret_cast<const uint32_t*>(data + static_cast<size_t>(y) * stride);
            int x = 0;
            while (x < width) {
                while (x < width && (row[x] & 0xFFFFFF) == key)
                    ++x;
                const int start = x;
                while (x < width && (row[x] & 0xFFFFFF) != key)
                    ++x;
                if (x > start)
                    runs.push_back(xcb_rectangle_t{static_cast<int16_t>(start), static_cast<int16_t>(y),
                                                   static_cast<uint16_t>(x - start), 1});
            }
        }
    }
    xcb_connection_t* c = m_x->Conn();
    if (!keyed) {
        // A region alone goes to the server only when it changed.
        if (shown.shaped && shape.size() == shown.shape.size() &&
            std::equal(shape.begin(), shape.end(), shown.shape.begin(), [](const auto& a, const auto& b) {
                return a.x == b.x && a.y == b.y && a.width == b.width && a.height == b.height;
            }))
            return;
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, shown.xid, 0, 0,
                             static_cast<uint32_t>(shape.size()), shape.data());
        shown.shape = std::move(shape);
        shown.shaped = true;
        return;
    }
    // Key colour and region: the pixels that are in both.
    xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_YX_BANDED, shown.xid, 0, 0,
                         static_cast<uint32_t>(runs.size()), runs.data());
    if (region)
        xcb_shape_rectangles(c, XCB_SHAPE_SO_INTERSECT, XCB_SHAPE_SK_BOUNDING, XCB_CLIP_ORDERING_UNSORTED, shown.xid, 0,
                             0, static_cast<uint32_t>(shape.size()), shape.data());
    shown.shape.clear();
    shown.shaped = true;
}

void Presenter::FollowForeground() {
    HWND foreground = GetForegroundWindow();
    if (foreground == m_foreground)
        return;
    auto it = m_shown.find(foreground);
    if (it == m_shown.end() || !it->second.mapped || it->second.overrideRedirect)
        return;
    m_foreground = foreground;
    xcb_connection_t* c = m_x->Conn();
    const uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(c, it->second.xid, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    // The shown windows it owns stay above it, each above its own owner, as the window system keeps them. Without a
    // window manager nobody else does: a window brought forward while its modal box runs would cover the box.
    std::vector<std::pair<int, HWND>> owned;
    for (const auto& [hwnd, shown] : m_shown) {
        if (m_hasWm || hwnd == foreground || !shown.mapped || shown.overrideRedirect)
            continue;
        int depth = 0;
        HWND owner = hwnd;
        for (int step = 0; step < 16 && owner && owner != foreground; ++step) {
            const HWND next = Snap(owner).owner;
            owner = next ? GetAncestor(next, GA_ROOT) : nullptr;
            ++depth;
        }
        if (owner == foreground)
            owned.emplace_back(depth, hwnd);
    }
    std::stable_sort(owned.begin(), owned.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& entry : owned)
        xcb_configure_window(c, m_shown[entry.second].xid, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    if (m_hasWm)
        m_x->SendClientMessage(m_x->Root(), it->second.xid, m_x->Atom(AtomId::NetActiveWindow),
                               {1, XCB_CURRENT_TIME, 0},
                               XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY);
    else
        xcb_set_input_focus(c, XCB_INPUT_FOCUS_PARENT, it->second.xid, XCB_CURRENT_TIME);
}

void Presenter::HandleEvent(const xcb_generic_event_t* event) {
    if (m_tray->HandleEvent(event)) {
        std::map<std::pair<HWND, UINT>, uint32_t> xids;
        for (const auto& icon : TrayIcons())
            if (xcb_window_t w = m_tray->WindowOf(icon.hwnd, icon.id))
                xids[{icon.hwnd, icon.id}] = w;
        std::lock_guard guard(m_lock);
        m_trayXids.swap(xids);
        return;
    }
    const uint8_t type = event->response_type & 0x7F;
    auto shownOf = [this](xcb_window_t xid, HWND& root) -> Shown* {
        root = RootOf(xid);
        if (!root)
            return nullptr;
        auto it = m_shown.find(root);
        return it == m_shown.end() ? nullptr : &it->second;
    };
    HWND root = nullptr;
    switch (type) {
    case XCB_EXPOSE: {
        const auto* e = reinterpret_cast<const xcb_expose_event_t*>(event);
        if (Shown* shown = shownOf(e->window, root); shown && e->count == 0)
            Present(root, *shown, Snap(root));
        break;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        if (Shown* shown = shownOf(e->window, root))
            Configured(root, *shown, *e);
        break;
    }
    case XCB_PROPERTY_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (Shown* shown = shownOf(e->window, root); shown && e->atom == m_x->Atom(AtomId::WmState))
            WmState(root, *shown);
        break;
    }
    case XCB_CLIENT_MESSAGE: {
        const auto* e = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (!shownOf(e->window, root))
            break;
        if (e->type == m_x->Atom(AtomId::WmProtocols) && e->data.data32[0] == m_x->Atom(AtomId::WmDeleteWindow)) {
            // The window manager's close button, as the caption's close button on Windows.
            if (IsWindowEnabled(root))
                PostMessageW(root, WM_SYSCOMMAND, SC_CLOSE, 0);
        }
        break;
    }
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE: {
        const auto* e = reinterpret_cast<const xcb_button_press_event_t*>(event);
        if (Shown* shown = shownOf(e->event, root))
            Mouse(root, *shown, e->event_x, e->event_y, e->state, e->detail, type == XCB_BUTTON_PRESS, e->time);
        break;
    }
    case XCB_MOTION_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_motion_notify_event_t*>(event);
        if (Shown* shown = shownOf(e->event, root))
            Mouse(root, *shown, e->event_x, e->event_y, e->state, 0, false, e->time);
        break;
    }
    case XCB_LEAVE_NOTIFY: {
        // The pointer left for another program's window or the desktop: the layer's mouse goes there too, so that a
        // window that tracks the mouse hears that it was left.
        const auto* e = reinterpret_cast<const xcb_leave_notify_event_t*>(event);
        if (shownOf(e->event, root) && e->mode == XCB_NOTIFY_MODE_NORMAL && e->detail != XCB_NOTIFY_DETAIL_INFERIOR)
            SetCursorPos(e->root_x, e->root_y);
        break;
    }
    case XCB_KEY_PRESS:
    case XCB_KEY_RELEASE: {
        const auto* e = reinterpret_cast<const xcb_key_press_event_t*>(event);
        if (Shown* shown = shownOf(e->event, root))
            Key(root, *shown, *e, type == XCB_KEY_PRESS);
        break;
    }
    case XCB_FOCUS_IN: {
        const auto* e = reinterpret_cast<const xcb_focus_in_event_t*>(event);
        Shown* shown = shownOf(e->event, root);
        if (!shown || shown->overrideRedirect || e->detail == XCB_NOTIFY_DETAIL_INFERIOR ||
            e->detail == XCB_NOTIFY_DETAIL_POINTER || e->mode == XCB_NOTIFY_MODE_GRAB ||
            e->mode == XCB_NOTIFY_MODE_UNGRAB)
            break;
        // The desktop gave the window the keyboard: it becomes the active window, as a click on it would make it.
        m_foreground = root;
        if (GetForegroundWindow() != root)
            PostThreadTask(shown->threadId, [root] {
                if (IsWindow(root) && IsWindowEnabled(root))
                    SetForegroundWindow(root);
            });
        break;
    }
    case XCB_MAPPING_NOTIFY:
        m_keyboard.Reload(m_x->Conn());
        break;
    default:
        break;
    }
}

void Presenter::Configured(HWND root, Shown& shown, const xcb_configure_notify_event_t& e) {
    // Without a window manager only the presenter moves the windows: the event answers a request of its own, and
    // an answer to an earlier request must not move the window back.
    if (!m_hasWm)
        return;
    RECT now{e.x, e.y, e.x + e.width, e.y + e.height};
    const bool synthetic = (e.response_type & 0x80) != 0;
    if (!synthetic && !shown.overrideRedirect) {
        // Inside the window manager's frame: where the window is on the screen needs asking.
        xcb_connection_t* c = m_x->Conn();
        std::unique_ptr<xcb_translate_coordinates_reply_t, FreeReply<xcb_translate_coordinates_reply_t>> r(
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, shown.xid, m_x->Root(), 0, 0), nullptr));
        if (!r)
            return;
        now = RECT{r->dst_x, r->dst_y, r->dst_x + e.width, r->dst_y + e.height};
    }
    if (EqualRect(&now, &shown.xrect))
        return;
    // The user moved or sized the window on the desktop: the window follows.
    shown.xrect = now;
    cairo_xcb_surface_set_size(shown.surface, e.width, e.height);
    const Snapshot s = Snap(root);
    if (!s.alive)
        return;
    RECT target = now;
    if (shown.decorated) {
        target.left -= s.client.left;
        target.top -= s.client.top;
        target.right += (s.rect.right - s.rect.left) - s.client.right;
        target.bottom += (s.rect.bottom - s.rect.top) - s.client.bottom;
    }
    PostThreadTask(shown.threadId, [root, target] {
        RECT current{};
        if (!GetWindowRect(root, &current) || EqualRect(&current, &target))
            return;
        SetWindowPos(root, nullptr, target.left, target.top, target.right - target.left, target.bottom - target.top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
    });
}

void Presenter::WmState(HWND root, Shown& shown) {
    xcb_connection_t* c = m_x->Conn();
    const xcb_atom_t state = m_x->Atom(AtomId::WmState);
    std::unique_ptr<xcb_get_property_reply_t, FreeReply<xcb_get_property_reply_t>> r(
        xcb_get_property_reply(c, xcb_get_property(c, 0, shown.xid, state, state, 0, 1), nullptr));
    if (!r || xcb_get_property_value_length(r.get()) < 4)
        return;
    const uint32_t value = *static_cast<const uint32_t*>(xcb_get_property_value(r.get()));
    if (value == kIconicState && !shown.iconic) {
        shown.iconic = true;
        PostMessageW(root, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    } else if (value == kNormalState && shown.iconic) {
        shown.iconic = false;
        PostMessageW(root, WM_SYSCOMMAND, SC_RESTORE, 0);
    }
}

void Presenter::Mouse(HWND root, Shown& shown, int16_t x, int16_t y, uint16_t state, uint8_t button, bool press,
                      xcb_timestamp_t time) {
    const POINT screen{shown.xrect.left + x, shown.xrect.top + y};
    SetCursorPos(screen.x, screen.y);
    // The mouse goes to the window with the capture on the thread of the window under it, else to that window.
    HWND capture = nullptr;
    HWND focus = nullptr;
    if (QueuePtr q = FindQueue(shown.threadId)) {
        std::lock_guard lock(GetState().mutex);
        capture = q->capture;
        focus = q->focus;
    }
    HWND target = capture && IsWindow(capture) ? capture : nullptr;
    POINT client = screen;
    if (!target) {
        if (!IsWindowEnabled(root))
            return;
        target = WindowFromPointIn(root, screen);
        if (!target || !IsWindowEnabled(target))
            return;
        // Only the client area takes these messages; a window's frame is not a place for them.
        RECT area{};
        if (!ScreenToClient(target, &client) || !GetClientRect(target, &area) || !PtInRect(&area, client))
            return;
    } else {
        ScreenToClient(target, &client);
    }
    const UINT classStyle = static_cast<UINT>(GetClassLongPtrW(target, GCL_STYLE));
    WPARAM keys = 0;
    if (state & XCB_BUTTON_MASK_1)
        keys |= MK_LBUTTON;
    if (state & XCB_BUTTON_MASK_2)
        keys |= MK_MBUTTON;
    if (state & XCB_BUTTON_MASK_3)
        keys |= MK_RBUTTON;
    if (state & XCB_MOD_MASK_SHIFT)
        keys |= MK_SHIFT;
    if (state & XCB_MOD_MASK_CONTROL)
        keys |= MK_CONTROL;
    const LPARAM at = MAKELPARAM(static_cast<WORD>(client.x), static_cast<WORD>(client.y));
    if (button == 0) {
        PostMessageW(target, WM_MOUSEMOVE, keys, at);
        return;
    }
    if (button >= 4 && button <= 7) {
        if (!press)
            return;
        // The wheel turns what has the focus.
        const short delta = (button == 4 || button == 7) ? 120 : -120;
        const UINT message = button <= 5 ? WM_MOUSEWHEEL : kWmMouseHWheel;
        HWND wheelTarget = focus && IsWindow(focus) ? focus : target;
        PostMessageW(wheelTarget, message, MAKEWPARAM(static_cast<WORD>(keys), static_cast<WORD>(delta)),
                     MAKELPARAM(static_cast<WORD>(screen.x), static_cast<WORD>(screen.y)));
        return;
    }
    static constexpr UINT kDown[] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
    static constexpr UINT kUp[] = {WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
    static constexpr UINT kDouble[] = {WM_LBUTTONDBLCLK, WM_MBUTTONDBLCLK, WM_RBUTTONDBLCLK};
    static constexpr WPARAM kMask[] = {MK_LBUTTON, MK_MBUTTON, MK_RBUTTON};
    if (button > 3)
        return;
    const size_t b = button - 1u;
    if (!press) {
        PostMessageW(target, kUp[b], keys & ~kMask[b], at);
        return;
    }
    keys |= kMask[b];
    // A click activates the window it lands in.
    if (!shown.overrideRedirect && GetForegroundWindow() != root)
        PostThreadTask(shown.threadId, [root] {
            if (IsWindow(root) && IsWindowEnabled(root))
                SetForegroundWindow(root);
        });
    const int slopX = GetSystemMetrics(SM_CXDOUBLECLK) / 2, slopY = GetSystemMetrics(SM_CYDOUBLECLK) / 2;
    const bool twice = (classStyle & CS_DBLCLKS) && m_lastPress.hwnd == target && m_lastPress.button == button &&
                       time - m_lastPress.time <= GetDoubleClickTime() &&
                       std::abs(screen.x - m_lastPress.at.x) <= slopX && std::abs(screen.y - m_lastPress.at.y) <= slopY;
    if (twice) {
        // A third click starts a new pair.
        m_lastPress = LastPress{};
        PostMessageW(target, kDouble[b], keys, at);
        return;
    }
    m_lastPress = LastPress{target, button, time, screen};
    PostMessageW(target, kDown[b], keys, at);
}

void Presenter::Key(HWND root, Shown&, const xcb_key_press_event_t& e, bool press) {
    x11::KeyPress key = m_keyboard.Translate(e.detail, e.state);
    if (!key.virtualKey && key.text.empty())
        return;
    if (!key.virtualKey)
        key.virtualKey = kVkPacket;
    // The key goes to the window its thread has the focus on when it takes the key from its queue, which may be
    // another one than now: a click just before it may still be on its way.
    const HWND target = root;
    const bool control = (e.state & XCB_MOD_MASK_CONTROL) != 0;
    const bool system = key.alt || (key.virtualKey == VK_MENU && !control) || key.virtualKey == kVkF10;
    LPARAM data = key.keyData | kKeyToFocus;
    if (press) {
        if (!m_keysDown.insert(e.detail).second)
            data |= static_cast<LPARAM>(1) << 30; // held: a repeat
        RecordKeyText(target, data, key.text);
        PostMessageW(target, system ? WM_SYSKEYDOWN : WM_KEYDOWN, static_cast<WPARAM>(key.virtualKey), data);
        return;
    }
    m_keysDown.erase(e.detail);
    data |= static_cast<LPARAM>(0xC0000000u);
    PostMessageW(target, system ? WM_SYSKEYUP : WM_KEYUP, static_cast<WPARAM>(key.virtualKey), data);
}

} // namespace

bool ConnectDisplay(const std::string& name) {
    g_connectAsked.store(true);
    if (Presenter::Get())
        return true;
    std::lock_guard guard(g_startLock);
    return g_presenter.load() || Connect(name);
}

bool DisplayShown() {
    return Presenter::Get() != nullptr;
}

void NoteWindowChange(HWND hwnd) {
    if (!hwnd)
        return;
    if (Presenter* p = Presenter::Get())
        p->Note(hwnd);
}

void NoteTrayChange() {
    if (Presenter* p = Presenter::Get())
        p->NoteTray();
}

bool FlushDisplay(DWORD timeoutMs) {
    Presenter* p = Presenter::Get();
    return p && p->Flush(timeoutMs);
}

uint32_t XWindowOf(HWND hwnd) {
    Presenter* p = Presenter::Get();
    return p ? p->XOf(hwnd) : 0;
}

uint32_t XWindowOfTrayIcon(HWND hwnd, UINT id) {
    Presenter* p = Presenter::Get();
    return p ? p->TrayXOf(hwnd, id) : 0;
}

} // namespace platform::ui
