#include "platform/ui/x11_connection.h"

#include <xcb/shape.h>

#include <cstdlib>
#include <cstring>

namespace platform::ui::x11 {

namespace {

struct FreeReply {
    void operator()(void* p) const { std::free(p); }
};
template <typename T> using Reply = std::unique_ptr<T, FreeReply>;

// Names in the order of AtomId; the tray's selection carries the screen number.
std::vector<std::string> AtomNames(int screen) {
    return {"WM_PROTOCOLS",
            "WM_DELETE_WINDOW",
            "WM_STATE",
            "WM_CHANGE_STATE",
            "WM_NAME",
            "_NET_WM_NAME",
            "UTF8_STRING",
            "_NET_WM_ICON",
            "_NET_WM_PID",
            "_NET_WM_STATE",
            "_NET_WM_STATE_HIDDEN",
            "_NET_WM_STATE_ABOVE",
            "_NET_WM_WINDOW_TYPE",
            "_NET_WM_WINDOW_TYPE_NORMAL",
            "_NET_WM_WINDOW_TYPE_DIALOG",
            "_NET_WM_WINDOW_TYPE_SPLASH",
            "_NET_WM_WINDOW_TYPE_POPUP_MENU",
            "_NET_WM_WINDOW_TYPE_TOOLTIP",
            "_NET_WM_WINDOW_OPACITY",
            "_NET_ACTIVE_WINDOW",
            "_NET_SUPPORTING_WM_CHECK",
            "_MOTIF_WM_HINTS",
            "_NET_SYSTEM_TRAY_S" + std::to_string(screen),
            "_NET_SYSTEM_TRAY_OPCODE",
            "_XEMBED",
            "_XEMBED_INFO",
            "MANAGER"};
}

xcb_visualtype_t* FindVisual(xcb_screen_t* screen) {
    for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d))
        for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v))
            if (v.data->visual_id == screen->root_visual)
                return v.data;
    return nullptr;
}

} // namespace

std::unique_ptr<XConnection> XConnection::Open(const std::string& name, std::string& error) {
    int screenNumber = 0;
    xcb_connection_t* conn = xcb_connect(name.empty() ? nullptr : name.c_str(), &screenNumber);
    if (!conn || xcb_connection_has_error(conn)) {
        if (conn)
            xcb_disconnect(conn);
        const char* display = std::getenv("DISPLAY");
        error = "cannot open display " + (name.empty() ? std::string(display ? display : "") : name);
        return nullptr;
    }
    std::unique_ptr<XConnection> c(new XConnection);
    c->m_conn = conn;
    c->m_screenNumber = screenNumber;
    auto it = xcb_setup_roots_iterator(xcb_get_setup(conn));
    for (int i = 0; i < screenNumber && it.rem; ++i)
        xcb_screen_next(&it);
    c->m_screen = it.data;
    c->m_visual = c->m_screen ? FindVisual(c->m_screen) : nullptr;
    if (!c->m_visual || c->m_screen->root_depth < 24 || c->m_visual->_class != XCB_VISUAL_CLASS_TRUE_COLOR) {
        error = "the display has no true-colour visual of depth 24 or more";
        return nullptr;
    }
    const auto names = AtomNames(screenNumber);
    std::vector<xcb_intern_atom_cookie_t> cookies;
    for (const auto& n : names)
        cookies.push_back(xcb_intern_atom(conn, 0, static_cast<uint16_t>(n.size()), n.c_str()));
    for (auto cookie : cookies) {
        Reply<xcb_intern_atom_reply_t> r(xcb_intern_atom_reply(conn, cookie, nullptr));
        c->m_atoms.push_back(r ? r->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE));
    }
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(conn, &xcb_shape_id);
    c->m_shape = shape && shape->present;
    return c;
}

XConnection::~XConnection() {
    if (m_conn)
        xcb_disconnect(m_conn);
}

void XConnection::SetAtoms(xcb_window_t w, AtomId property, const std::vector<xcb_atom_t>& values) const {
    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, w, Atom(property), XCB_ATOM_ATOM, 32,
                        static_cast<uint32_t>(values.size()), values.data());
}

void XConnection::SetCardinals(xcb_window_t w, xcb_atom_t property, xcb_atom_t type,
                               const std::vector<uint32_t>& values) const {
    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, w, property, type, 32, static_cast<uint32_t>(values.size()),
                        values.data());
}

void XConnection::SetText(xcb_window_t w, std::string_view utf8) const {
    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, w, Atom(AtomId::NetWmName), Atom(AtomId::Utf8String), 8,
                        static_cast<uint32_t>(utf8.size()), utf8.data());
    xcb_change_property(m_conn, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_NAME, Atom(AtomId::Utf8String), 8,
                        static_cast<uint32_t>(utf8.size()), utf8.data());
}

void XConnection::SendClientMessage(xcb_window_t destination, xcb_window_t about, xcb_atom_t type,
                                    const std::vector<uint32_t>& data, uint32_t eventMask) const {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = about;
    event.type = type;
    for (size_t i = 0; i < data.size() && i < 5; ++i)
        event.data.data32[i] = data[i];
    xcb_send_event(m_conn, 0, destination, eventMask, reinterpret_cast<const char*>(&event));
}

xcb_window_t XConnection::SelectionOwner(xcb_atom_t selection) const {
    Reply<xcb_get_selection_owner_reply_t> r(
        xcb_get_selection_owner_reply(m_conn, xcb_get_selection_owner(m_conn, selection), nullptr));
    return r ? r->owner : XCB_NONE;
}

bool XConnection::HasWindowManager() const {
    Reply<xcb_get_property_reply_t> r(xcb_get_property_reply(
        m_conn, xcb_get_property(m_conn, 0, Root(), Atom(AtomId::NetSupportingWmCheck), XCB_ATOM_WINDOW, 0, 1),
        nullptr));
    return r && xcb_get_property_value_length(r.get()) == 4;
}

} // namespace platform::ui::x11
