#include "platform/ui/x11_tray.h"

#include "platform/base/strings.h"
#include "platform/gdi/wingdi.h"
#include "platform/ui/input.h"
#include "platform/ui/message.h"
#include "platform/ui/tray.h"
#include "platform/ui/window.h"
#include "platform/ui/x11_icon.h"

#include <cairo/cairo-xcb.h>

#include <algorithm>
#include <unistd.h>

namespace platform::ui::x11 {

namespace {

constexpr uint32_t kRequestDock = 0;
constexpr uint32_t kXembedMapped = 1;
constexpr int kDefaultSize = 22;

cairo_surface_t* ArgbImage(std::vector<uint32_t>& argb, int size) {
    // cairo wants premultiplied colours.
    for (uint32_t& p : argb) {
        const uint32_t a = p >> 24;
        p = a << 24 | (((p >> 16) & 0xFF) * a / 255) << 16 | (((p >> 8) & 0xFF) * a / 255) << 8 | (p & 0xFF) * a / 255;
    }
    return cairo_image_surface_create_for_data(reinterpret_cast<unsigned char*>(argb.data()), CAIRO_FORMAT_ARGB32, size,
                                               size, size * 4);
}

} // namespace

XTrayIcons::XTrayIcons(XConnection& x) : m_x(x) {
    FindManager();
}

XTrayIcons::~XTrayIcons() {
    HideTip();
    for (const auto& icon : m_icons)
        if (icon.window)
            xcb_destroy_window(m_x.Conn(), icon.window);
    xcb_flush(m_x.Conn());
}

void XTrayIcons::FindManager() {
    m_manager = m_x.SelectionOwner(m_x.Atom(AtomId::SystemTray));
    if (m_manager) {
        // To learn when the notification area goes away.
        const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_x.Conn(), m_manager, XCB_CW_EVENT_MASK, &mask);
    }
}

XTrayIcons::Icon* XTrayIcons::Find(xcb_window_t window) {
    for (auto& icon : m_icons)
        if (icon.window == window)
            return &icon;
    return nullptr;
}

xcb_window_t XTrayIcons::WindowOf(HWND hwnd, UINT id) const {
    for (const auto& icon : m_icons)
        if (icon.hwnd == hwnd && icon.id == id)
            return icon.docked ? icon.window : XCB_NONE;
    return XCB_NONE;
}

void XTrayIcons::Create(Icon& icon) {
    xcb_connection_t* c = m_x.Conn();
    icon.window = xcb_generate_id(c);
    icon.width = icon.height = kDefaultSize;
    const uint32_t values[] = {XCB_BACK_PIXMAP_PARENT_RELATIVE,
                               XCB_EVENT_MASK_EXPOSURE | XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_BUTTON_PRESS |
                                   XCB_EVENT_MASK_BUTTON_RELEASE | XCB_EVENT_MASK_ENTER_WINDOW |
                                   XCB_EVENT_MASK_LEAVE_WINDOW};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, icon.window, m_x.Root(), 0, 0, kDefaultSize, kDefaultSize, 0,
                      XCB_WINDOW_CLASS_INPUT_OUTPUT, m_x.Screen()->root_visual, XCB_CW_BACK_PIXMAP | XCB_CW_EVENT_MASK,
                      values);
    m_x.SetCardinals(icon.window, m_x.Atom(AtomId::XembedInfo), m_x.Atom(AtomId::XembedInfo), {0, kXembedMapped});
    m_x.SetCardinals(icon.window, m_x.Atom(AtomId::NetWmPid), XCB_ATOM_CARDINAL, {static_cast<uint32_t>(getpid())});
    m_x.SetText(icon.window, Utf16ToUtf8(icon.tip));
    icon.docked = false;
}

void XTrayIcons::Dock(Icon& icon) {
    if (!m_manager || icon.docked || !icon.window)
        return;
    m_x.SendClientMessage(m_manager, m_manager, m_x.Atom(AtomId::SystemTrayOpcode),
                          {XCB_CURRENT_TIME, kRequestDock, icon.window, 0, 0}, XCB_EVENT_MASK_NO_EVENT);
    icon.docked = true;
}

void XTrayIcons::Sync() {
    const std::vector<TrayIcon> layer = TrayIcons();
    xcb_connection_t* c = m_x.Conn();
    // Icons that were deleted, or whose windows went away.
    for (auto it = m_icons.begin(); it != m_icons.end();) {
        const bool kept = std::any_of(layer.begin(), layer.end(),
                                      [&](const TrayIcon& t) { return t.hwnd == it->hwnd && t.id == it->id; });
        if (kept) {
            ++it;
            continue;
        }
        if (it->window)
            xcb_destroy_window(c, it->window);
        it = m_icons.erase(it);
    }
    for (const TrayIcon& t : layer) {
        auto it = std::find_if(m_icons.begin(), m_icons.end(),
                               [&](const Icon& i) { return i.hwnd == t.hwnd && i.id == t.id; });
        if (it == m_icons.end()) {
            m_icons.push_back(Icon{});
            it = std::prev(m_icons.end());
            it->hwnd = t.hwnd;
            it->id = t.id;
        }
        Icon& icon = *it;
        const bool hidden = (t.state & NIS_HIDDEN) != 0;
        if (hidden) {
            // A hidden icon leaves the notification area; it docks again when shown.
            if (icon.window)
                xcb_destroy_window(c, icon.window);
            icon.window = XCB_NONE;
            icon.docked = false;
            icon.hidden = true;
            continue;
        }
        const bool fresh = !icon.window;
        if (fresh) {
            icon.tip = t.tip;
            Create(icon);
        }
        if (icon.tip != t.tip) {
            icon.tip = t.tip;
            m_x.SetText(icon.window, Utf16ToUtf8(icon.tip));
        }
        if (fresh || icon.picture != t.icon) {
            icon.picture = t.icon;
            if (icon.docked)
                Draw(icon);
        }
        Dock(icon);
    }
}

void XTrayIcons::Draw(Icon& icon) {
    if (!icon.window)
        return;
    xcb_connection_t* c = m_x.Conn();
    xcb_clear_area(c, 0, icon.window, 0, 0, 0, 0);
    const int size = std::max(1, std::min(icon.width, icon.height));
    std::vector<uint32_t> argb = IconArgb(icon.picture, size);
    if (argb.empty())
        return;
    cairo_surface_t* target = cairo_xcb_surface_create(c, icon.window, m_x.Visual(), icon.width, icon.height);
    cairo_surface_t* image = ArgbImage(argb, size);
    cairo_t* cr = cairo_create(target);
    cairo_set_source_surface(cr, image, (icon.width - size) / 2, (icon.height - size) / 2);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_destroy(image);
    cairo_surface_flush(target);
    cairo_surface_destroy(target);
}

void XTrayIcons::Click(Icon& icon, const xcb_button_press_event_t& event, bool press) {
    UINT down = 0, up = 0, dbl = 0;
    switch (event.detail) {
    case 1:
        down = WM_LBUTTONDOWN, up = WM_LBUTTONUP, dbl = WM_LBUTTONDBLCLK;
        break;
    case 2:
        down = WM_MBUTTONDOWN, up = WM_MBUTTONUP, dbl = WM_MBUTTONDBLCLK;
        break;
    case 3:
        down = WM_RBUTTONDOWN, up = WM_RBUTTONUP, dbl = WM_RBUTTONDBLCLK;
        break;
    default:
        return;
    }
    TrayIcon t;
    if (!FindTrayIcon(icon.hwnd, icon.id, &t) || !t.callbackMessage)
        return;
    // The owner reads the cursor position to place its menu at the icon.
    SetCursorPos(event.root_x, event.root_y);
    UINT message = up;
    if (press) {
        HideTip();
        const bool twice = icon.lastButton == event.detail && event.time - icon.lastTime <= GetDoubleClickTime();
        message = twice ? dbl : down;
        // A third press starts a new pair.
        icon.lastButton = twice ? 0 : event.detail;
        icon.lastTime = event.time;
    }
    PostMessageW(icon.hwnd, t.callbackMessage, icon.id, static_cast<LPARAM>(message));
}

void XTrayIcons::ShowTip(const Icon& icon, int16_t rootX, int16_t rootY) {
    HideTip();
    if (icon.tip.empty())
        return;
    // The tip is drawn by the drawing layer, in its own fonts, and put into a small window below the pointer.
    HDC dc = CreateCompatibleDC(nullptr);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SIZE extent{};
    GetTextExtentPoint32W(dc, icon.tip.c_str(), static_cast<int>(icon.tip.size()), &extent);
    const int width = std::max<int>(1, extent.cx + 10), height = std::max<int>(1, extent.cy + 6);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap || !bits) {
        SelectObject(dc, oldFont);
        DeleteDC(dc);
        return;
    }
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    RECT all{0, 0, width, height};
    FillRect(dc, &all, GetSysColorBrush(COLOR_INFOBK));
    FrameRect(dc, &all, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_INFOTEXT));
    DrawTextW(dc, icon.tip.c_str(), static_cast<int>(icon.tip.size()), &all,
              DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);

    xcb_connection_t* c = m_x.Conn();
    m_tip = xcb_generate_id(c);
    const uint32_t values[] = {1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_tip, m_x.Root(), rootX + 8, rootY + 16, static_cast<uint16_t>(width),
                      static_cast<uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT, m_x.Screen()->root_visual,
                      XCB_CW_OVERRIDE_REDIRECT, values);
    m_x.SetAtoms(m_tip, AtomId::NetWmWindowType, {m_x.Atom(AtomId::NetWmWindowTypeTooltip)});
    xcb_map_window(c, m_tip);
    // A 32-bit top-down DIB has cairo's RGB24 layout.
    cairo_surface_t* picture = cairo_image_surface_create_for_data(static_cast<unsigned char*>(bits),
                                                                   CAIRO_FORMAT_RGB24, width, height, width * 4);
    cairo_surface_t* target = cairo_xcb_surface_create(c, m_tip, m_x.Visual(), width, height);
    cairo_t* cr = cairo_create(target);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, picture, 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(target);
    cairo_surface_destroy(target);
    cairo_surface_destroy(picture);
    SelectObject(dc, oldBitmap);
    SelectObject(dc, oldFont);
    DeleteObject(bitmap);
    DeleteDC(dc);
}

void XTrayIcons::HideTip() {
    if (!m_tip)
        return;
    xcb_destroy_window(m_x.Conn(), m_tip);
    m_tip = XCB_NONE;
}

bool XTrayIcons::HandleEvent(const xcb_generic_event_t* event) {
    switch (event->response_type & 0x7F) {
    case XCB_CLIENT_MESSAGE: {
        const auto* e = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (e->type != m_x.Atom(AtomId::Manager) || e->data.data32[1] != m_x.Atom(AtomId::SystemTray))
            return false;
        // A notification area appeared (or the desktop restarted its panel): every icon docks in it.
        FindManager();
        for (auto& icon : m_icons) {
            icon.docked = false;
            Dock(icon);
        }
        return true;
    }
    case XCB_DESTROY_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_destroy_notify_event_t*>(event);
        if (!m_manager || e->window != m_manager)
            return Find(e->window) != nullptr;
        // The notification area went away; the icons wait for the next one, out of sight.
        m_manager = XCB_NONE;
        HideTip();
        for (auto& icon : m_icons) {
            icon.docked = false;
            if (icon.window)
                xcb_unmap_window(m_x.Conn(), icon.window);
        }
        return true;
    }
    case XCB_EXPOSE: {
        const auto* e = reinterpret_cast<const xcb_expose_event_t*>(event);
        Icon* icon = Find(e->window);
        if (!icon)
            return false;
        if (e->count == 0)
            Draw(*icon);
        return true;
    }
    case XCB_CONFIGURE_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
        Icon* icon = Find(e->window);
        if (!icon)
            return false;
        if (icon->width != e->width || icon->height != e->height) {
            icon->width = e->width;
            icon->height = e->height;
            Draw(*icon);
        }
        return true;
    }
    case XCB_BUTTON_PRESS:
    case XCB_BUTTON_RELEASE: {
        const auto* e = reinterpret_cast<const xcb_button_press_event_t*>(event);
        Icon* icon = Find(e->event);
        if (!icon)
            return false;
        Click(*icon, *e, (event->response_type & 0x7F) == XCB_BUTTON_PRESS);
        return true;
    }
    case XCB_ENTER_NOTIFY:
    case XCB_LEAVE_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_enter_notify_event_t*>(event);
        Icon* icon = Find(e->event);
        if (!icon)
            return false;
        if ((event->response_type & 0x7F) == XCB_ENTER_NOTIFY)
            ShowTip(*icon, e->root_x, e->root_y);
        else
            HideTip();
        return true;
    }
    case XCB_MAP_NOTIFY:
    case XCB_UNMAP_NOTIFY:
    case XCB_REPARENT_NOTIFY: {
        const auto* e = reinterpret_cast<const xcb_map_notify_event_t*>(event);
        return Find(e->window) != nullptr;
    }
    default:
        return false;
    }
}

} // namespace platform::ui::x11
